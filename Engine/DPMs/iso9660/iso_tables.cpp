// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_tables.h"

#include <algorithm>

#include "common/byte_order.h"
#include "tree/fs_node.h"

namespace quillion::iso {
namespace {

std::uint32_t identifierBytes(const isoDirData& dir, std::size_t index) {
  return index == 0 ? 1 : static_cast<std::uint32_t>(dir.identifier.size());
}

IsoRecord fileRecord(const FS_Node& node, IsoRecordKind kind, const IsoDirectoryContext& c) {
  IsoRecord r;
  r.kind = kind;
  r.date = node.creationDate;
  r.gmtOffset = c.gmtOffset;
  r.hidden = !node.HasFlag(kFSNodeVisible);
  r.form2 = node.IsForm2File();
  r.fileType = node.fileType;
  r.creator = node.creatorType;
  r.finderFlags = node.finderFlags;
  return r;
}

IsoRecord directoryRecord(IsoRecordKind kind, const isoDirData& dir, const IsoDirectoryContext& c) {
  IsoRecord r;
  r.kind = kind;
  r.extent = c.sessionStart + dir.firstBlock;
  r.length = dir.blocks * kSectorBytes;
  r.date = c.now;
  r.gmtOffset = c.gmtOffset;
  return r;
}

class DirectoryWriter {
 public:
  DirectoryWriter(std::span<std::uint8_t> extent, const IsoRecordOptions& options)
      : extent_(extent), options_(options) {}

  void put(const IsoRecord& r) {
    const std::uint32_t size =
        recordSize(r.kind, static_cast<std::uint32_t>(r.identifier.size()), options_);
    const std::uint32_t at = Round_Up(offset_, kSectorBytes, size);
    if (at + size > extent_.size()) return;  // sized from the same plan: cannot happen
    offset_ = at + WriteDirectory(extent_, at, r, options_, false);
  }

 private:
  std::span<std::uint8_t> extent_;
  const IsoRecordOptions& options_;
  std::uint32_t offset_ = 0;
};

void writeChild(DirectoryWriter& writer, const IsoDirQueue& queue, const IsoChild& child,
                const IsoDirectoryContext& c) {
  const FS_Node& node = *child.node;
  forEachRecord(child, c.options,
                [&](IsoRecordKind kind, std::uint32_t index, std::uint32_t count) {
                  IsoRecord r;
                  if (kind == kSubDirectoryRecord) {
                    const isoDirData* sub = queue.find(&node);
                    if (sub == nullptr) return;
                    r = directoryRecord(kind, *sub, c);
                  } else {
                    const bool resource = kind == kAssociatedFileRecord;
                    const IsoForkPlace place = c.locate(node, resource);
                    if (!place.present) return;
                    r = fileRecord(node, kind, c);
                    const std::uint64_t size = resource ? node.rsrcActualSize : node.dataActualSize;
                    const std::uint64_t skipped = std::uint64_t{index} * c.options.maxExtentBytes;
                    if (size > 0) {
                      r.extent = place.lba + static_cast<std::uint32_t>(skipped / kSectorBytes);
                      r.length = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                          size - skipped, resource ? size : c.options.maxExtentBytes));
                    }
                    r.moreExtents = index + 1 < count;
                  }
                  r.identifier = child.identifier;
                  writer.put(r);
                });
}

}  // namespace

std::uint32_t PathTableBytes(const IsoDirQueue& queue) {
  std::uint32_t bytes = 0;
  for (std::size_t i = 0; i < queue.dirs.size(); ++i) {
    const std::uint32_t n = identifierBytes(queue.dirs[i], i);
    bytes += 8 + n + (n % 2);
  }
  return bytes;
}

void CreatePT(const IsoDirQueue& queue, std::uint32_t sessionStart, std::span<std::uint8_t> lTable,
              std::span<std::uint8_t> mTable) {
  const std::uint32_t bytes = PathTableBytes(queue);
  if (lTable.size() < bytes || mTable.size() < bytes) return;
  std::uint32_t at = 0;
  for (std::size_t i = 0; i < queue.dirs.size(); ++i) {
    const isoDirData& dir = queue.dirs[i];
    const std::uint32_t n = identifierBytes(dir, i);
    const std::uint32_t size = 8 + n + (n % 2);
    for (const std::span<std::uint8_t> table : {lTable, mTable}) {
      const std::span<std::uint8_t> entry = table.subspan(at, size);
      std::ranges::fill(entry, std::uint8_t{0});
      entry[0] = static_cast<std::uint8_t>(n);
      if (i != 0) std::ranges::copy(dir.identifier, entry.begin() + 8);
    }
    le::put32(lTable, at + 2, sessionStart + dir.firstBlock);
    be::put32(mTable, at + 2, sessionStart + dir.firstBlock);
    le::put16(lTable, at + 6, dir.parent);
    be::put16(mTable, at + 6, dir.parent);
    at += size;
  }
}

void CreateDT(const IsoDirQueue& queue, const IsoDirectoryContext& context,
              std::span<std::uint8_t> header, std::uint32_t headerFirstBlock) {
  for (const isoDirData& dir : queue.dirs) {
    const std::size_t start = std::size_t{dir.firstBlock - headerFirstBlock} * kSectorBytes;
    const std::size_t bytes = std::size_t{dir.blocks} * kSectorBytes;
    if (start > header.size() || header.size() - start < bytes) continue;
    DirectoryWriter writer(header.subspan(start, bytes), context.options);
    writer.put(directoryRecord(kDotRecord, dir, context));
    writer.put(directoryRecord(kDotDotRecord, queue.dirs[dir.parent - 1], context));
    for (const IsoChild& child : dir.children) writeChild(writer, queue, child, context);
  }
}

}  // namespace quillion::iso
