// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_records.h"

#include <algorithm>

#include "common/byte_order.h"
#include "tree/fs_node.h"

namespace quillion::iso {
namespace {

constexpr std::uint32_t kXABytes = 14;
constexpr std::uint32_t kAppleBytes = 14;
constexpr std::uint32_t kBridgeBytes = 6;

// Attribute words of the XA system-use field.
constexpr std::uint16_t kXADotAttributes = 0x8D55;
constexpr std::uint16_t kXAFileAttributes = 0x0911;
constexpr std::uint16_t kXAForm2 = 0x1000;
constexpr std::uint16_t kXADirectoryAttributes = 0x8911;

std::uint8_t flagsOf(const IsoRecord& r) {
  switch (r.kind) {
    case kAssociatedFileRecord:
      return r.hidden ? 4 : 5;
    case kFileRecord:
      return static_cast<std::uint8_t>((r.hidden ? 1 : 0) | (r.moreExtents ? 0x80 : 0));
    default:
      return 2;
  }
}

std::uint16_t xaAttributes(const IsoRecord& r) {
  switch (r.kind) {
    case kDotRecord:
    case kDotDotRecord:
      return kXADotAttributes;
    case kSubDirectoryRecord:
      return kXADirectoryAttributes;
    default:
      return static_cast<std::uint16_t>(kXAFileAttributes | (r.form2 ? kXAForm2 : 0));
  }
}

std::uint8_t clampByte(int value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

std::uint32_t CountADirRecSize(std::uint32_t nameLength, bool appleExt, bool noCopyField,
                               const IsoRecordOptions& options) {
  std::uint32_t size = 33 + nameLength + (nameLength % 2 == 0 ? 1 : 0);
  if (options.xa) size += kXABytes;
  if (appleExt) size += kAppleBytes;
  if (options.bridge && !noCopyField) size += kBridgeBytes;
  return size;
}

std::uint32_t recordSize(IsoRecordKind kind, std::uint32_t nameLength,
                         const IsoRecordOptions& options) {
  switch (kind) {
    case kAssociatedFileRecord:
      return CountADirRecSize(nameLength, true, false, options);
    case kFileRecord:
      return CountADirRecSize(nameLength, options.appleExtensions, false, options);
    case kSubDirectoryRecord:
      return CountADirRecSize(nameLength, false, true, options);
    default:
      return CountADirRecSize(1, false, true, options);
  }
}

std::uint32_t Round_Up(std::uint32_t offset, std::uint32_t blockBytes, std::uint32_t recordBytes) {
  const std::uint32_t left = blockBytes - offset % blockBytes;
  return left < recordBytes ? offset + left : offset;
}

void forEachRecord(const IsoChild& child, const IsoRecordOptions& options,
                   const std::function<void(IsoRecordKind, std::uint32_t, std::uint32_t)>& visit) {
  const FS_Node& node = *child.node;
  if (node.IsFolder()) {
    visit(kSubDirectoryRecord, 0, 1);
    return;
  }
  if (options.appleExtensions && node.rsrcActualSize > 0) visit(kAssociatedFileRecord, 0, 1);
  const std::uint64_t size = node.dataActualSize;
  const auto extents = static_cast<std::uint32_t>(
      size == 0 ? 1 : (size + options.maxExtentBytes - 1) / options.maxExtentBytes);
  for (std::uint32_t i = 0; i < extents; ++i) visit(kFileRecord, i, extents);
}

std::uint32_t DirRecSize(const std::vector<IsoChild>& children, const IsoRecordOptions& options) {
  std::uint32_t offset = 2 * CountADirRecSize(1, false, true, options);
  for (const IsoChild& child : children) {
    const auto length = static_cast<std::uint32_t>(child.identifier.size());
    forEachRecord(child, options, [&](IsoRecordKind kind, std::uint32_t, std::uint32_t) {
      const std::uint32_t size = recordSize(kind, length, options);
      offset = Round_Up(offset, kSectorBytes, size) + size;
    });
  }
  return (offset + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

std::uint32_t WriteDirectory(std::span<std::uint8_t> out, std::size_t at, const IsoRecord& r,
                             const IsoRecordOptions& options, bool noXA) {
  const bool dots = r.kind == kDotRecord || r.kind == kDotDotRecord;
  const std::string_view name =
      dots ? std::string_view(r.kind == kDotRecord ? "\0" : "\1", 1) : r.identifier;
  IsoRecordOptions fields = options;
  if (noXA) fields = IsoRecordOptions{};
  const std::uint32_t size =
      noXA ? CountADirRecSize(1, false, true, fields)
           : recordSize(r.kind, static_cast<std::uint32_t>(name.size()), fields);
  if (at > out.size() || out.size() - at < size) return 0;
  const std::span<std::uint8_t> rec = out.subspan(at, size);
  std::ranges::fill(rec, std::uint8_t{0});
  rec[0] = static_cast<std::uint8_t>(size);
  rec[1] = 0;
  both::put32(rec, 2, r.extent);
  both::put32(rec, 10, r.length);
  rec[18] = clampByte(r.date.tm_year);
  rec[19] = clampByte(r.date.tm_mon + 1);
  rec[20] = clampByte(r.date.tm_mday);
  rec[21] = clampByte(r.date.tm_hour);
  rec[22] = clampByte(r.date.tm_min);
  rec[23] = clampByte(r.date.tm_sec);
  rec[24] = static_cast<std::uint8_t>(r.gmtOffset);
  rec[25] = flagsOf(r);
  both::put16(rec, 28, 1);
  rec[32] = static_cast<std::uint8_t>(name.size());
  std::ranges::copy(name, rec.begin() + 33);
  std::uint32_t p = 33 + static_cast<std::uint32_t>(name.size()) + (name.size() % 2 == 0 ? 1 : 0);
  if (fields.xa) {
    be::put16(rec, p + 4, xaAttributes(r));
    rec[p + 6] = 'X';
    rec[p + 7] = 'A';
    p += kXABytes;
  }
  if (fields.appleExtensions && (r.kind == kFileRecord || r.kind == kAssociatedFileRecord)) {
    rec[p] = 'A';
    rec[p + 1] = 'A';
    rec[p + 2] = kAppleBytes;
    rec[p + 3] = 2;
    be::put32(rec, p + 4, r.fileType);
    be::put32(rec, p + 8, r.creator);
    be::put16(rec, p + 12, r.finderFlags);
    p += kAppleBytes;
  }
  return size;
}

}  // namespace quillion::iso
