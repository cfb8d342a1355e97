// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_records.h"

#include <algorithm>
#include <cstring>

#include "DPMs/base/disc_bytes.h"
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

std::uint32_t WriteDirectory(std::uint8_t* at, const IsoRecord& r, const IsoRecordOptions& options,
                             bool noXA) {
  const bool dots = r.kind == kDotRecord || r.kind == kDotDotRecord;
  const std::string_view name =
      dots ? std::string_view(r.kind == kDotRecord ? "\0" : "\1", 1) : r.identifier;
  IsoRecordOptions fields = options;
  if (noXA) fields = IsoRecordOptions{};
  const std::uint32_t size =
      noXA ? CountADirRecSize(1, false, true, fields)
           : recordSize(r.kind, static_cast<std::uint32_t>(name.size()), fields);
  std::memset(at, 0, size);
  at[0] = static_cast<std::uint8_t>(size);
  at[1] = 0;
  putBoth32(at + 2, r.extent);
  putBoth32(at + 10, r.length);
  at[18] = clampByte(r.date.tm_year);
  at[19] = clampByte(r.date.tm_mon + 1);
  at[20] = clampByte(r.date.tm_mday);
  at[21] = clampByte(r.date.tm_hour);
  at[22] = clampByte(r.date.tm_min);
  at[23] = clampByte(r.date.tm_sec);
  at[24] = static_cast<std::uint8_t>(r.gmtOffset);
  at[25] = flagsOf(r);
  putBoth16(at + 28, 1);
  at[32] = static_cast<std::uint8_t>(name.size());
  std::memcpy(at + 33, name.data(), name.size());
  std::uint32_t p = 33 + static_cast<std::uint32_t>(name.size()) + (name.size() % 2 == 0 ? 1 : 0);
  if (fields.xa) {
    putBE16(at + p + 4, xaAttributes(r));
    at[p + 6] = 'X';
    at[p + 7] = 'A';
    p += kXABytes;
  }
  if (fields.appleExtensions && (r.kind == kFileRecord || r.kind == kAssociatedFileRecord)) {
    at[p] = 'A';
    at[p + 1] = 'A';
    at[p + 2] = kAppleBytes;
    at[p + 3] = 2;
    putBE32(at + p + 4, r.fileType);
    putBE32(at + p + 8, r.creator);
    putBE16(at + p + 12, r.finderFlags);
    p += kAppleBytes;
  }
  return size;
}

}  // namespace quillion::iso
