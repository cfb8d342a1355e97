// SPDX-License-Identifier: GPL-2.0-or-later
#include "mpeg_audio_probe.h"

namespace quillion::lorrimer {
namespace mpeg_audio_detail {

struct Header {
  std::uint32_t version;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  std::uint32_t layer;    // 1 to 3
  std::uint32_t bitrate;  // kbit/s
  std::uint32_t rate;     // Hz
  std::uint32_t padding;
};

// kbit/s by [MPEG-1 or not][layer - 1][bitrate index]; index 0 (free format) has none.
constexpr std::uint16_t kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};

bool readHeader(const std::uint8_t* h, Header& out) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const std::uint32_t version = (h[1] >> 3) & 3u;
  const std::uint32_t layerBits = (h[1] >> 1) & 3u;
  const std::uint32_t bitrateIndex = h[2] >> 4;
  const std::uint32_t rateIndex = (h[2] >> 2) & 3u;
  if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return false;
  out.version = version;
  out.layer = 4 - layerBits;
  out.bitrate = kBitrates[version == 3 ? 0 : 1][out.layer - 1][bitrateIndex];
  out.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  out.padding = (h[2] >> 1) & 1u;
  return true;
}

}  // namespace mpeg_audio_detail

using namespace mpeg_audio_detail;

decoder::AudioStart probeMpegAudio(const std::uint8_t* data, std::uint32_t size) {
  for (std::uint32_t i = 0; data && i + 4 <= size; ++i) {
    Header h{};
    if (!readHeader(data + i, h)) continue;
    static const AVCodecID kLayers[4] = {AV_CODEC_ID_NONE, AV_CODEC_ID_MP1, AV_CODEC_ID_MP2,
                                         AV_CODEC_ID_MP3};
    return {kLayers[h.layer], false};
  }
  return {};
}

std::uint32_t mpegAudioFrameLength(const std::uint8_t* frame, std::uint32_t size) {
  Header h{};
  if (!frame || size < 4 || !readHeader(frame, h)) return 0;
  if (h.layer == 1) return (12000 * h.bitrate / h.rate + h.padding) * 4;
  // Layer III of MPEG-2 and 2.5 carries half as many samples a frame.
  const std::uint32_t factor = h.layer == 3 && h.version != 3 ? 72000 : 144000;
  return factor * h.bitrate / h.rate + h.padding;
}

}  // namespace quillion::lorrimer
