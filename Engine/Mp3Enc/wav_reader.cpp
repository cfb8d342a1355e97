// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/wav_reader.h"

#include <cstring>

namespace quillion::mp3enc {
namespace {

constexpr int kFormatPcm = 1;
constexpr int kFormatExtensible = 0xFFFE;
// The PCM subformat GUID of an extensible "fmt " chunk, as stored.
constexpr std::uint8_t kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kSubformatOffset = 44;

std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool isPcm(const std::uint8_t* bytes, std::size_t size, int tag) {
  if (tag == kFormatPcm) return true;
  if (tag != kFormatExtensible || size < kSubformatOffset + sizeof kPcmSubformat) return false;
  return std::memcmp(bytes + kSubformatOffset, kPcmSubformat, sizeof kPcmSubformat) == 0;
}

}  // namespace

WavStatus parseWavHeader(const std::uint8_t* bytes, std::size_t size, WavInfo* info) {
  if (!bytes || !info || size < kWavFixedHeader) return WavStatus::NotWav;
  if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0 ||
      std::memcmp(bytes + 12, "fmt ", 4) != 0) {
    return WavStatus::NotWav;
  }
  *info = WavInfo{};
  info->riffSize = le32(bytes + 4);
  info->formatTag = le16(bytes + 20);
  info->channels = le16(bytes + 22);
  info->sampleRate = static_cast<std::int32_t>(le32(bytes + 24));
  if (le16(bytes + 34) != 16 || !isPcm(bytes, size, info->formatTag))
    return WavStatus::UnsupportedFormat;
  // The n-th try looks at offset 35 + n; the chunk header found there must lie within the
  // RIFF size, which counts from offset 8 (so an empty "data" chunk right after "fmt " is
  // found). A size below 35 wraps around and leaves only the window as the limit, as
  // writers that stream leave the field 0.
  for (std::uint32_t n = 1; n <= static_cast<std::uint32_t>(kWavDataSearchTries); ++n) {
    if (n > info->riffSize - 35u) break;
    const std::size_t at = kWavFixedHeader + n - 1;
    if (at + 8 > size) break;
    if (std::memcmp(bytes + at, "data", 4) == 0) {
      info->dataLength = le32(bytes + at + 4);
      info->dataOffset = static_cast<std::uint32_t>(at + 8);
      return WavStatus::Ok;
    }
  }
  return WavStatus::NoData;
}

}  // namespace quillion::mp3enc
