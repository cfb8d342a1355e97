// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/iso9660_import.h"

#include <cstring>

#include "common/byte_order.h"

namespace quillion::import {

namespace {

constexpr std::uint32_t kMaxDescriptors = 20;
constexpr std::size_t kRootRecord = 156;  // the root directory record inside a descriptor
constexpr std::size_t kMinRecord = 34;    // 33 bytes and a one-byte identifier
constexpr std::uint8_t kFlagDirectory = 0x02;
constexpr std::uint8_t kFlagAssociated = 0x04;
constexpr std::uint8_t kFlagMultiExtent = 0x80;

bool isCd001(std::span<const std::uint8_t> block) {
  return block.size() >= 6 && std::memcmp(block.data() + 1, "CD001", 5) == 0;
}

// One directory record, as far as the import needs it.
struct IsoEntry {
  std::string name;
  std::uint8_t flags = 0;
  std::uint32_t extent = 0;
  std::uint32_t length = 0;
  std::tm date{};
  bool apple = false;
  std::uint32_t fileType = 0, creator = 0;
  std::uint16_t finderFlags = 0;
};

std::tm recordDate(std::span<const std::uint8_t> r) {
  std::tm t{};
  t.tm_year = r[18];
  t.tm_mon = r[19] - 1;
  t.tm_mday = r[20];
  t.tm_hour = r[21];
  t.tm_min = r[22];
  t.tm_sec = r[23];
  t.tm_wday = 7;
  return t;
}

std::string withoutVersionOne(std::string name) {
  if (name.size() > 2 && name.compare(name.size() - 2, 2, ";1") == 0) name.resize(name.size() - 2);
  return name;
}

// The records after "." and ".." of one directory's data. A record must lie inside its
// block and hold its identifier; a zero length byte ends the records of a block.
EngineStatus parseDirectory(std::span<const std::uint8_t> data, bool joliet,
                            std::vector<IsoEntry>& out) {
  std::size_t offset = 0;
  std::uint32_t index = 0;
  while (offset < data.size()) {
    const std::size_t blockEnd =
        std::min<std::size_t>((offset / kBlockBytes + 1) * kBlockBytes, data.size());
    const std::size_t length = data[offset];
    if (length == 0) {
      if (index == 0) return kErrImportNoVolume;
      offset = blockEnd;
      continue;
    }
    if (length < kMinRecord || offset + length > blockEnd) return kErrImportNoVolume;
    const auto r = data.subspan(offset, length);
    const std::size_t nameLength = r[32];
    if (nameLength == 0 || 33 + nameLength > length) return kErrImportNoVolume;
    offset += length;
    if (index++ == 0) {
      if (r[33] != 0) return kErrImportNoVolume;  // the first record is "."
      continue;
    }
    if (index == 2) continue;  // ".."
    const auto identifier = r.subspan(33, nameLength);
    if (nameLength == 1 && identifier[0] <= 1) continue;  // another "." or ".."
    IsoEntry e;
    e.name = withoutVersionOne(joliet ? titleFromUtf16BE(identifier) : titleFromBytes(identifier));
    if (e.name.empty() || e.name == "." || e.name == "..") return kErrImportNoVolume;
    e.flags = r[25];
    e.extent = be::get32(r, 6);
    e.length = be::get32(r, 14);
    e.date = recordDate(r);
    const std::size_t aa = length - 14;
    if (length >= 33 + nameLength + 14 && r[aa] == 'A' && r[aa + 1] == 'A' && r[aa + 2] == 14 &&
        r[aa + 3] == 2) {
      e.apple = true;
      e.fileType = be::get32(r, aa + 4);
      e.creator = be::get32(r, aa + 8);
      e.finderFlags = be::get16(r, aa + 12);
    }
    out.push_back(std::move(e));
  }
  return kNoErr;
}

class IsoTreeReader {
 public:
  IsoTreeReader(ImportWalk& walk, bool joliet) : walk_(walk), joliet_(joliet) {}

  EngineStatus readDirectory(std::uint32_t block, std::uint32_t size, FS_Node* folder,
                             const std::string& path, std::uint32_t depth) {
    if (block < 16 || depth > walk_.limits().maxDepth || !walk_.firstVisit(block))
      return kErrImportNoVolume;
    std::vector<IsoEntry> entries;
    {
      std::vector<std::uint8_t> data;
      const EngineStatus s = walk_.readDirectory(block, size, data);
      if (s != kNoErr) return s;
      const EngineStatus p = parseDirectory(data, joliet_, entries);
      if (p != kNoErr) return p;
    }
    FS_Node* previous = nullptr;
    std::string previousName;
    const IsoEntry* previousEntry = nullptr;
    for (const IsoEntry& e : entries) {
      if (!walk_.countNode()) return kErrImportNoVolume;
      const std::string childPath = path + "/" + e.name;
      if (e.flags & kFlagDirectory) {
        FS_Node* child = FS_Node::MakeFolder(e.name.c_str(), nullptr, true);
        child->creationDate = child->modifiedDate = e.date;
        if (!walk_.attach(child, folder, childPath)) return kErrImportNoVolume;
        const EngineStatus s = readDirectory(e.extent, e.length, child, childPath, depth + 1);
        if (s != kNoErr) return s;
        previous = nullptr;
        previousEntry = nullptr;
        continue;
      }
      if (e.length != 0 && !onMedium(walk_.source(), e.extent, blocksFor(e.length)))
        return kErrImportNoVolume;
      FS_Node* node = previous;
      if (node == nullptr || previousName != e.name) {
        node = FS_Node::MakeImportFile(e.name.c_str(), nullptr, 0, 0);
        if (!walk_.attach(node, folder, childPath)) return kErrImportNoVolume;
        previousEntry = nullptr;
      }
      if (!fill(*node, e, previousEntry)) {
        walk_.note(TNC_ImportNote::kFragmented, childPath);
        (void)folder->RemoveChild(node, true);
        previous = nullptr;
        previousEntry = nullptr;
        continue;
      }
      previous = node;
      previousName = e.name;
      previousEntry = &e;
    }
    return kNoErr;
  }

 private:
  // One record into the node it belongs to. False for a later extent of a file that does not
  // follow the one before: such a file cannot be written again by reference.
  static bool fill(FS_Node& node, const IsoEntry& e, const IsoEntry* before) {
    const bool continues = before != nullptr && (before->flags & kFlagMultiExtent) &&
                           (before->flags & kFlagAssociated) == (e.flags & kFlagAssociated);
    if (continues) {
      if (before->length % kBlockBytes != 0 ||
          e.extent != before->extent + blocksFor(before->length))
        return false;
      ((e.flags & kFlagAssociated) ? node.rsrcActualSize : node.dataActualSize) += e.length;
    } else if (e.flags & kFlagAssociated) {
      node.rsrcActualSize = e.length;
      node.importRsrcLBA = e.extent;
    } else {
      node.dataActualSize = e.length;
      node.importDataLBA = e.extent;
    }
    node.creationDate = node.modifiedDate = e.date;
    if (e.apple) {
      node.fileType = e.fileType;
      node.creatorType = e.creator;
      node.finderFlags = e.finderFlags;
    }
    return true;
  }

  ImportWalk& walk_;
  bool joliet_;
};

}  // namespace

EngineStatus readIsoDescriptors(BlockSource& source, std::uint32_t start,
                                IsoVolumeDescriptors& out) {
  out = {};
  for (std::uint32_t i = 0; i < kMaxDescriptors; ++i) {
    std::vector<std::uint8_t> block;
    if (source.read(start + 16 + i, 1, block) != kNoErr || !isCd001(block)) break;
    if (block[0] == 1)
      out.primary = std::move(block);
    else if (block[0] == 2)
      out.supplementary = std::move(block);
    else
      break;
  }
  return out.primary.empty() && out.supplementary.empty() ? kErrImportNoVolume : kNoErr;
}

std::string isoVolumeName(std::span<const std::uint8_t> descriptor, bool joliet) {
  const auto field = descriptor.subspan(40, 32);
  return trimTrailingBlanks(joliet ? titleFromUtf16BE(field) : titleFromBytes(field));
}

std::tm isoVolumeCreationDate(std::span<const std::uint8_t> d) {
  const auto number = [&](std::size_t at, std::size_t digits) {
    int v = 0;
    for (std::size_t i = 0; i < digits; ++i) {
      const std::uint8_t c = d[at + i];
      v = v * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    return v;
  };
  std::tm t{};
  t.tm_year = number(813, 4) - 1900;
  t.tm_mon = number(817, 2) - 1;
  t.tm_mday = number(819, 2);
  t.tm_hour = number(821, 2);
  t.tm_min = number(823, 2);
  t.tm_sec = number(825, 2);
  t.tm_wday = 7;
  return t;
}

EngineStatus importIso9660(ImportWalk& walk, std::uint32_t start, std::unique_ptr<FS_Tree>& tree) {
  tree.reset();
  IsoVolumeDescriptors descriptors;
  EngineStatus s = readIsoDescriptors(walk.source(), start, descriptors);
  if (s != kNoErr) return s;
  const bool joliet = !descriptors.supplementary.empty();
  const std::span<const std::uint8_t> chosen =
      joliet ? descriptors.supplementary : descriptors.primary;
  auto made = makeImportTree();
  const std::string title = isoVolumeName(chosen, joliet);
  if (!title.empty()) (void)made->SetTreeTitle(title.c_str());
  const auto root = chosen.subspan(kRootRecord, 34);
  s = IsoTreeReader(walk, joliet)
          .readDirectory(be::get32(root, 6), be::get32(root, 14), made->Root(), "", 0);
  if (s != kNoErr) return s;
  (void)made->Root()->CollectAndSetFolderSize(made->BlockSize());
  tree = std::move(made);
  return kNoErr;
}

}  // namespace quillion::import
