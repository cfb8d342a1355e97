// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/udf_import.h"

#include <cstring>

#include "DPMs/udf/udf_structures.h"
#include "common/byte_order.h"
#include "tree/name_units.h"

namespace quillion::import {

namespace {

using udf::kTagAnchor;
using udf::kTagFileEntry;
using udf::kTagFileIdentifier;
using udf::kTagFileSet;
using udf::kTagLogicalVolume;
using udf::kTagPartition;
using udf::kTagTerminating;

constexpr std::uint16_t kTagExtendedFileEntry = 266;
constexpr std::uint32_t kAnchorOffset = 256;
constexpr std::uint32_t kMaxSequenceBlocks = 16;

constexpr std::uint8_t kFileTypeDirectory = 4;
constexpr std::uint8_t kCharDeleted = 0x04;
constexpr std::uint8_t kCharDirectory = 0x02;
constexpr std::uint8_t kCharParent = 0x08;

enum AllocationType : std::uint8_t { kShortAd = 0, kLongAd = 1, kExtendedAd = 2, kEmbedded = 3 };
enum ExtentType : std::uint8_t { kRecorded = 0, kContinuation = 3 };

// A descriptor tag that belongs to its bytes: identifier, checksum, and the CRC over as many
// bytes as the tag claims, which must lie inside `d`. `location` is checked unless ~0.
bool validTag(std::span<const std::uint8_t> d, std::uint16_t id, std::uint32_t location) {
  if (d.size() < 16 || le::get16(d, 0) != id) return false;
  if (udf::tagChecksum(d.first(16)) != d[4]) return false;
  const std::size_t crcLength = le::get16(d, 10);
  if (16 + crcLength > d.size()) return false;
  if (udf::UdfCrc(d.subspan(16, crcLength)) != le::get16(d, 8)) return false;
  return location == ~0u || le::get32(d, 12) == location;
}

bool readBlock(BlockSource& source, std::uint64_t lba, std::vector<std::uint8_t>& out) {
  out.clear();
  return lba <= 0xFFFFFFFFu && onMedium(source, lba, 1) &&
         source.read(static_cast<std::uint32_t>(lba), 1, out) == kNoErr &&
         out.size() >= kBlockBytes;
}

struct Extent {
  std::uint32_t block = 0;  // logical block in the partition
  std::uint32_t length = 0;
  std::uint8_t type = kRecorded;
};

// What the import takes from a file entry.
struct UdfEntry {
  bool directory = false;
  std::uint64_t informationLength = 0;
  std::uint8_t allocation = kShortAd;
  std::vector<Extent> extents;
  std::vector<std::uint8_t> embedded;
  std::tm modified{};
  std::tm created{};
};

EngineStatus parseFileEntry(std::span<const std::uint8_t> block, std::uint32_t lbn, UdfEntry& out) {
  const bool extended = validTag(block, kTagExtendedFileEntry, lbn);
  if (!extended && !validTag(block, kTagFileEntry, lbn)) return kErrImportNoVolume;
  out = {};
  out.directory = block[27] == kFileTypeDirectory;
  out.allocation = le::get16(block, 34) & 0x07;
  out.informationLength = le::get64(block, 56);
  const std::size_t eaAt = extended ? 208 : 168;
  const std::size_t adsAt = (extended ? 216 : 176) + std::size_t{le::get32(block, eaAt)};
  const std::size_t adsLength = le::get32(block, eaAt + 4);
  if (adsAt > kBlockBytes || adsLength > kBlockBytes - adsAt) return kErrImportNoVolume;
  out.modified = udfTimestamp(block.subspan(extended ? 92 : 84, 12));
  out.created = udfTimestamp(block.subspan(extended ? 104 : 72, 12));
  const auto ads = block.subspan(adsAt, adsLength);
  if (out.allocation == kEmbedded) {
    if (out.informationLength > adsLength) return kErrImportNoVolume;
    out.embedded.assign(ads.begin(),
                        ads.begin() + static_cast<std::ptrdiff_t>(out.informationLength));
    return kNoErr;
  }
  if (out.allocation == kExtendedAd) return kNoErr;  // left to the caller to refuse
  const std::size_t size = out.allocation == kShortAd ? 8 : 16;
  for (std::size_t at = 0; at + size <= ads.size(); at += size) {
    const std::uint32_t word = le::get32(ads, at);
    if ((word & 0x3FFFFFFF) == 0) break;  // the list ends early
    out.extents.push_back(
        Extent{le::get32(ads, at + 4), word & 0x3FFFFFFF, static_cast<std::uint8_t>(word >> 30)});
  }
  return kNoErr;
}

std::string udfName(std::span<const std::uint8_t> identifier) {
  if (identifier.empty()) return {};
  const auto rest = identifier.subspan(1);
  if (identifier[0] == 16) return titleFromUtf16BE(rest);
  if (identifier[0] == 8) {
    std::string text(reinterpret_cast<const char*>(rest.data()), rest.size());
    // Eight-bit names are ISO 8859-1 characters; titleFromBytes keeps its cleaning rules.
    const std::string utf8 = utf8FromLatin1(text);
    return titleFromBytes(
        std::span(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
  }
  return {};
}

struct Fid {
  std::string name;
  std::uint8_t characteristics = 0;
  std::uint32_t icbBlock = 0;
};

EngineStatus parseIdentifiers(std::span<const std::uint8_t> data, std::vector<Fid>& out) {
  std::size_t offset = 0;
  while (offset + 38 <= data.size()) {
    const auto rest = data.subspan(offset);
    const std::size_t idLength = rest[19];
    const std::size_t iuLength = le::get16(rest, 36);
    const std::size_t used = 38 + iuLength + idLength;
    const std::size_t padded = std::min((used + 3) & ~std::size_t{3}, rest.size());
    // Writers differ in whether the tag's CRC covers the padding: it may, never more.
    if (used > rest.size() || !validTag(rest.first(padded), kTagFileIdentifier, ~0u))
      return kErrImportNoVolume;
    Fid f;
    f.characteristics = rest[18];
    f.icbBlock = le::get32(rest, 24);
    if (!(f.characteristics & (kCharParent | kCharDeleted)) && idLength > 0) {
      f.name = udfName(rest.subspan(38 + iuLength, idLength));
      if (f.name.empty() || f.name == "." || f.name == "..") return kErrImportNoVolume;
      out.push_back(std::move(f));
    }
    offset += padded;
  }
  return kNoErr;
}

class UdfTreeReader {
 public:
  UdfTreeReader(ImportWalk& walk, std::uint32_t partitionStart)
      : walk_(walk), partition_(partitionStart) {}

  EngineStatus readEntry(std::uint32_t lbn, UdfEntry& out) {
    std::vector<std::uint8_t> block;
    if (!readBlock(walk_.source(), std::uint64_t{partition_} + lbn, block))
      return kErrImportNoVolume;
    return parseFileEntry(block, lbn, out);
  }

  EngineStatus readDirectory(const UdfEntry& dir, std::uint32_t lbn, FS_Node* folder,
                             const std::string& path, std::uint32_t depth) {
    if (depth > walk_.limits().maxDepth || !walk_.firstVisit(lbn)) return kErrImportNoVolume;
    std::vector<Fid> fids;
    {
      std::vector<std::uint8_t> data;
      const EngineStatus s = directoryData(dir, data);
      if (s != kNoErr) return s;
      const EngineStatus p = parseIdentifiers(data, fids);
      if (p != kNoErr) return p;
    }
    for (const Fid& f : fids) {
      if (!walk_.countNode()) return kErrImportNoVolume;
      const std::string childPath = path + "/" + f.name;
      UdfEntry entry;
      EngineStatus s = readEntry(f.icbBlock, entry);
      if (s != kNoErr) return s;
      if (entry.directory) {
        FS_Node* child = FS_Node::MakeFolder(f.name.c_str(), nullptr, true);
        child->creationDate = entry.created;
        child->modifiedDate = entry.modified;
        if (!walk_.attach(child, folder, childPath)) return kErrImportNoVolume;
        s = readDirectory(entry, f.icbBlock, child, childPath, depth + 1);
        if (s != kNoErr) return s;
        continue;
      }
      s = addFile(entry, f.name, folder, childPath);
      if (s != kNoErr) return s;
    }
    return kNoErr;
  }

 private:
  // Every recorded extent, in order, cut to the information length.
  EngineStatus directoryData(const UdfEntry& dir, std::vector<std::uint8_t>& out) {
    out.clear();
    if (dir.informationLength > walk_.limits().maxDirectoryBytes) return kErrImportNoVolume;
    if (dir.allocation == kEmbedded) {
      out = dir.embedded;
      return kNoErr;
    }
    if (dir.allocation == kExtendedAd) return kErrImportNoVolume;
    for (const Extent& e : dir.extents) {
      if (out.size() >= dir.informationLength) break;
      if (e.type != kRecorded) return kErrImportNoVolume;
      std::vector<std::uint8_t> part;
      const std::uint64_t block = std::uint64_t{partition_} + e.block;
      if (block > 0xFFFFFFFFu) return kErrImportNoVolume;
      const EngineStatus s = walk_.readDirectory(static_cast<std::uint32_t>(block), e.length, part);
      if (s != kNoErr) return s;
      out.insert(out.end(), part.begin(), part.end());
    }
    if (out.size() < dir.informationLength) return kErrImportNoVolume;
    out.resize(static_cast<std::size_t>(dir.informationLength));
    return kNoErr;
  }

  // A file written again by reference needs its bytes in one run of blocks: every extent
  // recorded, each starting where the one before ended, all but the last of whole blocks.
  EngineStatus addFile(const UdfEntry& entry, const std::string& name, FS_Node* folder,
                       const std::string& path) {
    if (entry.allocation == kEmbedded && entry.informationLength > 0) {
      walk_.note(TNC_ImportNote::kEmbedded, path);
      return kNoErr;
    }
    std::uint64_t covered = 0;
    bool contiguous = entry.allocation != kExtendedAd;
    for (std::size_t i = 0;
         contiguous && i < entry.extents.size() && covered < entry.informationLength; ++i) {
      const Extent& e = entry.extents[i];
      if (e.type != kRecorded) contiguous = false;
      if (i > 0) {
        const Extent& p = entry.extents[i - 1];
        if (p.length % kBlockBytes != 0 || e.block != p.block + blocksFor(p.length))
          contiguous = false;
      }
      covered += e.length;
    }
    if (!contiguous) {
      walk_.note(TNC_ImportNote::kFragmented, path);
      return kNoErr;
    }
    if (covered < entry.informationLength) return kErrImportNoVolume;
    const std::uint64_t first =
        entry.extents.empty() ? 0 : std::uint64_t{partition_} + entry.extents.front().block;
    if (entry.informationLength > 0 &&
        (first > 0xFFFFFFFFu ||
         !onMedium(walk_.source(), first, blocksFor(entry.informationLength))))
      return kErrImportNoVolume;
    FS_Node* node =
        FS_Node::MakeImportFile(name.c_str(), nullptr, static_cast<std::uint32_t>(first), 0);
    node->dataActualSize = entry.informationLength;
    node->creationDate = entry.created;
    node->modifiedDate = entry.modified;
    return walk_.attach(node, folder, path) ? EngineStatus{kNoErr}
                                            : EngineStatus{kErrImportNoVolume};
  }

  ImportWalk& walk_;
  std::uint32_t partition_;
};

}  // namespace

EngineStatus findUdfFileSet(BlockSource& source, std::uint32_t start, UdfFileSet& out) {
  out = {};
  std::vector<std::uint8_t> block;
  const std::uint64_t anchorAt = std::uint64_t{start} + kAnchorOffset;
  if (!readBlock(source, anchorAt, block) ||
      !validTag(block, kTagAnchor, static_cast<std::uint32_t>(anchorAt)))
    return kErrImportNoVolume;
  const std::uint32_t sequence = le::get32(block, 20);
  const std::uint32_t sequenceBlocks =
      std::min<std::uint32_t>(le::get32(block, 16) / kBlockBytes, kMaxSequenceBlocks);
  bool beginning = false;
  for (std::uint32_t i = 0; i < 16 && !beginning; ++i) {
    beginning = readBlock(source, std::uint64_t{start} + 16 + i, block) && block[0] == 0 &&
                std::memcmp(block.data() + 1, "BEA01", 5) == 0;
  }
  if (!beginning) return kErrImportNoVolume;
  bool partition = false, logical = false;
  std::uint32_t fileSetBlock = 0;
  for (std::uint32_t i = 0; i < sequenceBlocks && !(partition && logical); ++i) {
    const std::uint64_t at = std::uint64_t{sequence} + i;
    if (!readBlock(source, at, block)) break;
    const auto where = static_cast<std::uint32_t>(at);
    if (validTag(block, kTagPartition, where)) {
      out.partitionStart = le::get32(block, 188);
      partition = true;
    } else if (validTag(block, kTagLogicalVolume, where)) {
      if (le::get32(block, 212) != kBlockBytes) return kErrImportNoVolume;
      fileSetBlock = le::get32(block, 252);
      logical = true;
    } else if (validTag(block, kTagTerminating, where)) {
      break;
    }
  }
  if (!partition || !logical) return kErrImportNoVolume;
  if (!readBlock(source, std::uint64_t{out.partitionStart} + fileSetBlock, block) ||
      !validTag(block, kTagFileSet, fileSetBlock))
    return kErrImportNoVolume;
  out.descriptor = std::move(block);
  return kNoErr;
}

std::string udfVolumeName(std::span<const std::uint8_t> fileSet) {
  const auto field = fileSet.subspan(112, 128);
  const std::size_t used = std::min<std::size_t>(field[127], 127);
  return trimTrailingBlanks(udfName(field.first(used)));
}

std::tm udfTimestamp(std::span<const std::uint8_t> stamp) {
  std::tm t{};
  const std::uint16_t typeAndZone = le::get16(stamp, 0);
  t.tm_year = le::get16(stamp, 2) - 1900;
  t.tm_mon = stamp[4] - 1;
  t.tm_mday = stamp[5];
  t.tm_hour = stamp[6];
  t.tm_min = stamp[7];
  t.tm_sec = stamp[8];
  int zone = typeAndZone & 0x0FFF;
  if (zone & 0x0800) zone -= 0x1000;
  if ((typeAndZone >> 12) == 1 && zone != -2047) t.tm_gmtoff = zone * 60L;
  return t;
}

EngineStatus importUdf(ImportWalk& walk, std::uint32_t start, std::unique_ptr<FS_Tree>& tree) {
  tree.reset();
  UdfFileSet fileSet;
  if (findUdfFileSet(walk.source(), start, fileSet) != kNoErr) return kNoErr;
  UdfTreeReader reader(walk, fileSet.partitionStart);
  const std::uint32_t rootBlock = le::get32(fileSet.descriptor, 404);
  UdfEntry root;
  EngineStatus s = reader.readEntry(rootBlock, root);
  if (s != kNoErr) return s;
  if (!root.directory) return kErrImportNoVolume;
  auto made = makeImportTree();
  s = reader.readDirectory(root, rootBlock, made->Root(), "", 0);
  if (s != kNoErr) return s;
  (void)made->Root()->CollectAndSetFolderSize(made->BlockSize());
  tree = std::move(made);
  return kNoErr;
}

}  // namespace quillion::import
