// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/udf/udf_partition.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <string>
#include <unordered_set>

#include "DPMs/base/dpm_filesystem_base.h"
#include "common/byte_order.h"
#include "tree/fs_node.h"

namespace quillion::udf {
namespace {

constexpr std::uint32_t kParentFidBytes = 40;

std::uint32_t blocksOfBytes(std::uint64_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorBytes - 1) / kSectorBytes);
}

bool embedded(const UdfEntry& e, bool embed) {
  return embed && e.dirBytes <= kEmbeddedDirectoryBytes;
}

EngineStatus planChildren(const FS_Node& folder, std::uint32_t self, const UdfNamer& namer,
                          UdfPartitionPlan& plan, std::string& problem) {
  std::unordered_set<std::string> seen;
  for (const auto& [key, child] : folder.Children()) {
    UdfEntry e;
    e.node = child.get();
    e.parent = static_cast<std::int32_t>(self);
    e.folder = child->IsFolder();
    if (child->Title().empty() || namer(child->Title(), e.name) != kNoErr || e.name.bytes.empty()) {
      problem = "A name cannot be written in UDF: " + quillion::layoutPath(*child);
      return kErrProducerName;
    }
    std::string identity(e.name.bytes.begin(), e.name.bytes.end());
    identity.push_back(static_cast<char>(e.name.compression));
    if (!seen.insert(identity).second) {
      problem = "Two names in one folder become the same UDF name: " + quillion::layoutPath(*child);
      return kErrProducerName;
    }
    const auto index = static_cast<std::uint32_t>(plan.entries.size());
    plan.entries[self].dirBytes += fidSize(e.name);
    plan.entries[self].children.push_back(index);
    if (e.folder) {
      e.dirBytes = kParentFidBytes;
      if (plan.entries[self].links == std::numeric_limits<std::uint16_t>::max()) {
        problem = "A folder holds more folders than UDF can count: " + quillion::layoutPath(folder);
        return kErrProducerTooManyFiles;
      }
      ++plan.entries[self].links;
    }
    plan.entries.push_back(std::move(e));
    if (child->IsFolder())
      if (const EngineStatus s = planChildren(*child, index, namer, plan, problem); s != kNoErr)
        return s;
  }
  return kNoErr;
}

// Node dates carry no offset of their own: the local offset in force at that time.
std::int32_t offsetMinutes(const std::tm& t) {
  std::tm copy = t;
  copy.tm_isdst = -1;
  if (std::mktime(&copy) == -1) return 0;
  return static_cast<std::int32_t>(copy.tm_gmtoff / 60);
}

void writeFileSetDescriptor(Bytes fsd, const UdfPartitionPlan& plan, const UdfPartitionContext& c) {
  const UdfVolumeFacts& f = *c.facts;
  InitSetTag(fsd, kTagFileSet, 496, c.base);  // ECMA-167 4/14.1
  std::copy(f.recorded.begin(), f.recorded.end(), fsd.begin() + 16);
  le::put16(fsd, 28, 3);
  le::put16(fsd, 30, 3);
  le::put32(fsd, 32, 1);
  le::put32(fsd, 36, 1);
  SetCharspec(fsd.subspan(48, 64));
  SetDstring(fsd.subspan(112, 128), f.title.compression, f.title.bytes);
  SetCharspec(fsd.subspan(240, 64));
  SetDstring(fsd.subspan(304, 32), f.title.compression, f.title.bytes);
  SetLongAd(fsd.subspan(400, 16), kSectorBytes, c.base + plan.entries[0].entryBlock, 0);
  SetEntityID(fsd.subspan(416, 32), kDomainId, udfSuffix(f.revision, f.dvdVideo ? 0 : 3));
  SetCrcTag(fsd.first(kSectorBytes));
}

// The identifiers of folder `e`: its parent, then each child. Embedded ones carry the
// entry's block; others the block each one starts in.
std::uint32_t writeIdentifiers(Bytes out, const UdfPartitionPlan& plan, const UdfEntry& e,
                               std::uint32_t firstTagBlock, bool inEntry,
                               const UdfPartitionContext& c) {
  std::uint32_t at = 0;
  const auto tagBlock = [&] { return inEntry ? firstTagBlock : firstTagBlock + at / kSectorBytes; };
  const UdfEntry& parent = e.parent < 0 ? e : plan.entries[static_cast<std::size_t>(e.parent)];
  at += WriteFID(out.subspan(at), OstaName{}, tagBlock(), c.base + parent.entryBlock, 0x0A);
  for (const std::uint32_t index : e.children) {
    const UdfEntry& child = plan.entries[index];
    at += WriteFID(out.subspan(at), child.name, tagBlock(), c.base + child.entryBlock,
                   child.folder ? 2 : 0);
  }
  return at;
}

// The identifiers of a folder whose identifiers do not fit in its entry, in the blocks
// right after the entry; `dir` holds all of those blocks.
void writeDirectoryBlocks(Bytes dir, const UdfPartitionPlan& plan, const UdfEntry& e,
                          const UdfPartitionContext& c) {
  writeIdentifiers(dir, plan, e, c.base + e.entryBlock + 1, false, c);
}

// The file entry of `e` into `fe`, one zeroed block.
void writeFileEntry(Bytes fe, const UdfPartitionPlan& plan, const UdfEntry& e,
                    std::uint64_t uniqueId, const UdfPartitionContext& c) {
  const UdfVolumeFacts& f = *c.facts;
  const bool dvd = f.dvdVideo;
  const std::uint32_t location = c.base + e.entryBlock;
  const std::uint32_t eaBytes = dvd ? kDvdExtendedAttributeBytes : 0;
  const std::size_t adAt = kFileEntryFixedBytes + eaBytes;

  std::uint64_t length = 0;
  std::uint64_t recorded = 0;
  std::uint32_t adBytes = 0;
  std::uint16_t icbFlags = 0;
  if (e.folder) {
    length = e.dirBytes;
    if (embedded(e, !dvd)) {
      icbFlags = 3;  // the identifiers are the entry's data
      adBytes = writeIdentifiers(fe.subspan(adAt), plan, e, location, true, c);
    } else {
      const std::uint32_t dirBlock = location + 1;
      if (dvd) {
        icbFlags = 0x210;  // short descriptors, contiguous, not relocatable
        SetShortAd(fe.subspan(adAt, 8), static_cast<std::uint32_t>(length), dirBlock);
        adBytes = 8;
      } else {
        icbFlags = 1;
        SetLongAd(fe.subspan(adAt, 16), static_cast<std::uint32_t>(length), dirBlock, 0);
        adBytes = 16;
      }
      recorded = blocksOfBytes(length);
    }
  } else {
    const UdfFilePlace place = c.locate(*e.node);
    length = place.bytes;
    recorded = blocksOfBytes(length);
    icbFlags = dvd ? 0x210 : 1;
    const std::uint32_t adSize = dvd ? 8 : 16;
    std::uint64_t left = length;
    std::uint32_t block = place.block;
    while (left > 0) {
      const auto piece = static_cast<std::uint32_t>(std::min(left, c.maxExtentBytes));
      Bytes ad = fe.subspan(adAt + adBytes, adSize);
      if (dvd)
        SetShortAd(ad, piece, block);
      else
        SetLongAd(ad, piece, block, 0);
      adBytes += adSize;
      left -= piece;
      block += piece / kSectorBytes;
    }
  }

  InitSetTag(fe, kTagFileEntry, static_cast<std::uint16_t>(160 + eaBytes + adBytes), location);
  SetICB(fe.subspan(16, 20), e.folder ? 4 : 5, icbFlags);  // ECMA-167 4/14.9
  le::put32(fe, 36, 0xFFFFFFFF);
  le::put32(fe, 40, 0xFFFFFFFF);
  // Read (and execute) for everyone; 1.02 files read only.
  const bool executable = e.folder || f.revision >= 0x0150;
  le::put32(fe, 44, executable ? 0x14A5 : 0x1084);
  le::put16(fe, 48, e.links);
  le::put64(fe, 56, length);
  le::put64(fe, 64, recorded);
  const FS_Node& node = *e.node;
  const std::int32_t modifiedOffset = offsetMinutes(node.modifiedDate);
  LocalTimeToTimeStamp(fe.subspan(72, 12), node.modifiedDate, modifiedOffset);
  LocalTimeToTimeStamp(fe.subspan(84, 12), node.modifiedDate, modifiedOffset);
  LocalTimeToTimeStamp(fe.subspan(96, 12), node.creationDate, offsetMinutes(node.creationDate));
  le::put32(fe, 108, dvd ? 1 : 0);
  SetEntityID(fe.subspan(128, 32), kImplementationId, implementationSuffix(f));
  le::put64(fe, 160, uniqueId);
  le::put32(fe, 168, eaBytes);
  le::put32(fe, 172, adBytes);
  if (dvd)
    SetDVDVideoExtendedAttribute(fe.subspan(kFileEntryFixedBytes, eaBytes), location, f.revision);
  SetCrcTag(fe);
}

std::uint16_t headerChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : bytes.first(48)) sum += b;
  return static_cast<std::uint16_t>(sum);
}

}  // namespace

std::uint32_t fidSize(const OstaName& name) {
  const std::uint32_t nameBytes =
      name.bytes.empty() ? 0 : static_cast<std::uint32_t>(name.bytes.size()) + 1;
  return (38 + nameBytes + 3) & ~3u;
}

EngineStatus calculatePartitionHeaderSize(FS_Node& root, const UdfNamer& namer, bool embed,
                                          UdfPartitionPlan& plan, std::string& problem) {
  plan = UdfPartitionPlan{};
  UdfEntry top;
  top.node = &root;
  top.folder = true;
  top.dirBytes = kParentFidBytes;
  plan.entries.push_back(std::move(top));
  if (const EngineStatus s = planChildren(root, 0, namer, plan, problem); s != kNoErr) return s;

  // The file set descriptor and its terminator, then the root's entry and directory.
  std::uint64_t count = 2;
  for (UdfEntry& e : plan.entries) {
    e.entryBlock = static_cast<std::uint32_t>(count);
    ++count;
    if (e.folder && !embedded(e, embed)) count += blocksOfBytes(e.dirBytes);
    // A directory's size is a 32-bit extent length.
    if (e.dirBytes > 0xFFFFF800 || count > std::numeric_limits<std::uint32_t>::max() / 2) {
      problem = "The folders of the layout are too large for UDF";
      return kErrProducerTooManyFiles;
    }
  }
  plan.blocks = static_cast<std::uint32_t>(count);
  return kNoErr;
}

bool fileExtentsFit(std::uint64_t bytes, std::uint64_t maxExtentBytes, bool dvdVideo) {
  const std::uint64_t extents = (bytes + maxExtentBytes - 1) / maxExtentBytes;
  const std::uint32_t room =
      kSectorBytes - kFileEntryFixedBytes - (dvdVideo ? kDvdExtendedAttributeBytes : 0);
  return extents * (dvdVideo ? 8 : 16) <= room;
}

UdfHeaderBlocks::UdfHeaderBlocks(const UdfPartitionPlan& headerPlan,
                                 const UdfPartitionContext& headerContext)
    : plan(&headerPlan), context(headerContext) {}

void UdfHeaderBlocks::write(Bytes out, std::uint32_t first, std::uint32_t count) {
  std::fill(out.begin(), out.begin() + std::size_t{count} * kSectorBytes, std::uint8_t{0});
  for (std::uint32_t i = 0; i < count; ++i)
    writeBlock(out.subspan(std::size_t{i} * kSectorBytes, kSectorBytes), first + i);
}

void UdfHeaderBlocks::writeBlock(Bytes block, std::uint32_t at) {
  if (at == 0) {
    writeFileSetDescriptor(block, *plan, context);
    return;
  }
  if (at == 1) {
    InitSetTag(block, kTagTerminating, 496, context.base + 1);
    SetCrcTag(block);
    return;
  }
  if (at >= plan->blocks) return;
  // The entry whose block is the last one at or before `at`.
  const auto after = std::upper_bound(
      plan->entries.begin(), plan->entries.end(), at,
      [](std::uint32_t wanted, const UdfEntry& e) { return wanted < e.entryBlock; });
  const auto index = static_cast<std::size_t>(after - plan->entries.begin()) - 1;
  const UdfEntry& e = plan->entries[index];
  if (at == e.entryBlock) {
    // The root has unique ID 0; IDs 1-15 are reserved and the others count from 18.
    writeFileEntry(block, *plan, e, index == 0 ? 0 : index + 17, context);
    return;
  }
  // A block of the folder's identifiers: the folder's whole directory is made once and
  // kept while its blocks are asked for.
  if (directoryOf != index) {
    directory.assign(std::size_t{blocksOfBytes(e.dirBytes)} * kSectorBytes, 0);
    writeDirectoryBlocks(Bytes(directory), *plan, e, context);
    directoryOf = index;
  }
  const std::size_t from = std::size_t{at - e.entryBlock - 1} * kSectorBytes;
  std::copy_n(directory.begin() + static_cast<std::ptrdiff_t>(from), kSectorBytes, block.begin());
}

void SetDVDVideoExtendedAttribute(Bytes out, std::uint32_t location, std::uint16_t revision) {
  std::fill(out.begin(), out.begin() + kDvdExtendedAttributeBytes, std::uint8_t{0});
  InitSetTag(out, kTagExtendedAttributeHeader, 8, location);  // ECMA-167 4/14.10.1
  le::put32(out, 16, 24);
  le::put32(out, 20, kDvdExtendedAttributeBytes);
  SetCrcTag(out.first(24));

  const auto attribute = [&](std::size_t at, std::uint32_t length, std::uint32_t useLength,
                             std::string_view identifier) {
    Bytes a = out.subspan(at, length);
    le::put32(a, 0, 2048);  // implementation use attribute
    a[4] = 1;
    le::put32(a, 8, length);
    le::put32(a, 12, useLength);
    SetEntityID(a.subspan(16, 32), identifier, udfSuffix(revision, 0));
    le::put16(a, 48, headerChecksum(a));
  };
  attribute(24, 52, 4, "*UDF FreeEASpace");
  attribute(76, 56, 8, "*UDF DVD CGMS Info");
}

std::uint32_t WriteFID(Bytes out, const OstaName& name, std::uint32_t tagLocation,
                       std::uint32_t entryBlock, std::uint8_t characteristics) {
  const std::uint32_t size = fidSize(name);
  Bytes fid = out.first(size);
  std::fill(fid.begin(), fid.end(), std::uint8_t{0});
  const std::uint32_t nameBytes =
      name.bytes.empty() ? 0 : static_cast<std::uint32_t>(name.bytes.size()) + 1;
  InitSetTag(fid, kTagFileIdentifier, static_cast<std::uint16_t>(size - 16), tagLocation);
  le::put16(fid, 16, 1);
  fid[18] = characteristics;
  fid[19] = static_cast<std::uint8_t>(nameBytes);
  SetLongAd(fid.subspan(20, 16), kSectorBytes, entryBlock, 0);
  if (nameBytes > 0) {
    fid[38] = name.compression;
    std::copy(name.bytes.begin(), name.bytes.end(), fid.begin() + 39);
  }
  SetCrcTag(fid);
  return size;
}

}  // namespace quillion::udf
