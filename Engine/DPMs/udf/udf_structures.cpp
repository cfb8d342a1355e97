// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/udf/udf_structures.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace quillion::udf {
namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();
constexpr std::string_view kOstaCharset = "OSTA Compressed Unicode";

void putText(Bytes out, std::size_t at, std::string_view text, std::size_t room) {
  const std::size_t n = std::min({text.size(), room, out.size() > at ? out.size() - at : 0});
  if (n > 0) std::memcpy(out.data() + at, text.data(), n);
}

}  // namespace

std::uint16_t UdfCrc(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t b : bytes)
    crc = static_cast<std::uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ b) & 0xFF]);
  return crc;
}

void InitSetTag(Bytes descriptor, std::uint16_t identifier, std::uint16_t crcLength,
                std::uint32_t location) {
  le::put16(descriptor, 0, identifier);
  le::put16(descriptor, 2, 2);  // descriptor version 2: NSR02
  descriptor[4] = 0;
  descriptor[5] = 0;
  le::put16(descriptor, 6, 1);  // tag serial number
  le::put16(descriptor, 8, 0);
  le::put16(descriptor, 10, crcLength);
  le::put32(descriptor, 12, location);
}

std::uint8_t tagChecksum(std::span<const std::uint8_t> tag) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 16 && i < tag.size(); ++i)
    if (i != 4) sum += tag[i];
  return static_cast<std::uint8_t>(sum);
}

void SetCrcTag(Bytes descriptor) {
  const std::size_t length = le::get16(descriptor, 10);
  const std::size_t available = descriptor.size() > 16 ? descriptor.size() - 16 : 0;
  le::put16(descriptor, 8, UdfCrc(descriptor.subspan(16, std::min(length, available))));
  descriptor[4] = tagChecksum(descriptor);
}

void SetEntityID(Bytes regid, std::string_view identifier,
                 const std::array<std::uint8_t, 8>& suffix) {
  std::fill(regid.begin(), regid.begin() + 32, std::uint8_t{0});
  putText(regid, 1, identifier, 23);
  std::copy(suffix.begin(), suffix.end(), regid.begin() + 24);
}

void SetCharspec(Bytes charspec) {
  std::fill(charspec.begin(), charspec.begin() + 64, std::uint8_t{0});
  putText(charspec, 1, kOstaCharset, 63);
}

void SetDstring(Bytes field, std::uint8_t compression, std::span<const std::uint8_t> name) {
  std::fill(field.begin(), field.end(), std::uint8_t{0});
  if (name.empty() || field.size() < 3) return;
  // A 16-bit name is never cut inside a character unit.
  std::size_t n = std::min(name.size(), field.size() - 2);
  if (compression == 16) n &= ~std::size_t{1};
  field[0] = compression;
  std::copy_n(name.begin(), n, field.begin() + 1);
  field[field.size() - 1] = static_cast<std::uint8_t>(n + 1);
}

void LocalTimeToTimeStamp(Bytes out, const std::tm& t, std::int32_t utcOffsetMinutes) {
  // Type 1 (local time) with the offset as a 12-bit two's-complement number of minutes.
  const std::uint16_t zone = static_cast<std::uint16_t>(utcOffsetMinutes) & 0x0FFF;
  le::put16(out, 0, 0x1000 | zone);
  le::put16(out, 2, static_cast<std::uint16_t>(t.tm_year + 1900));
  out[4] = static_cast<std::uint8_t>(t.tm_mon + 1);
  out[5] = static_cast<std::uint8_t>(t.tm_mday);
  out[6] = static_cast<std::uint8_t>(t.tm_hour);
  out[7] = static_cast<std::uint8_t>(t.tm_min);
  out[8] = static_cast<std::uint8_t>(std::min(t.tm_sec, 59));
  out[9] = out[10] = out[11] = 0;
}

void SetExtentAd(Bytes ad, std::uint32_t length, std::uint32_t location) {
  le::put32(ad, 0, length);
  le::put32(ad, 4, location);
}

void SetShortAd(Bytes ad, std::uint32_t length, std::uint32_t position) {
  le::put32(ad, 0, length);
  le::put32(ad, 4, position);
}

void SetLongAd(Bytes ad, std::uint32_t length, std::uint32_t block, std::uint16_t partition) {
  le::put32(ad, 0, length);
  le::put32(ad, 4, block);
  le::put16(ad, 8, partition);
  std::fill(ad.begin() + 10, ad.begin() + 16, std::uint8_t{0});
}

void SetICB(Bytes icbtag, std::uint8_t fileType, std::uint16_t flags) {
  std::fill(icbtag.begin(), icbtag.begin() + 20, std::uint8_t{0});
  le::put16(icbtag, 4, 4);  // strategy 4: one direct entry
  le::put16(icbtag, 8, 1);  // maximum number of entries
  icbtag[11] = fileType;
  le::put16(icbtag, 18, flags);
}

}  // namespace quillion::udf
