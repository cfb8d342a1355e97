// SPDX-License-Identifier: GPL-2.0-or-later
// Kestrin's exported function. A decoder object lives until its free slot is called.
#include <new>

#include "audio_decoder.h"
#include "kestrin.h"

using namespace quillion;

namespace {

// kbit/s of each pair of frame size codes.
constexpr std::uint16_t kAc3Bitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                            192, 224, 256, 320, 384, 448, 512, 576, 640};

// The frame length of an AC-3 sync frame header in stream byte order: sync word 0x0B77, a
// sampling code other than the reserved 3, a frame size code of the table and a bit stream id
// of plain AC-3; 0 for anything else. Byte 4 holds fscod and frmsizecod, byte 5 bsid.
std::uint32_t ac3FrameLength(const std::uint8_t* h, std::uint32_t size) {
  if (!h || size < 6 || h[0] != 0x0B || h[1] != 0x77) return 0;
  const std::uint32_t rate = h[4] >> 6;
  const std::uint32_t code = h[4] & 0x3Fu;
  if (rate == 3 || code >= 38 || (h[5] >> 3) > 10) return 0;
  const std::uint32_t kbps = kAc3Bitrates[code / 2];
  // 16-bit words a frame of 1536 samples: 48 kHz and 32 kHz divide evenly, 44.1 kHz pads odd
  // codes by a word.
  const std::uint32_t words = rate == 0   ? kbps * 2
                              : rate == 2 ? kbps * 3
                                          : kbps * 320 / 147 + (code & 1u);
  return words * 2;
}

bool ac3HeaderAt(const std::uint8_t* h, bool swapped) {
  if (!swapped) return ac3FrameLength(h, 6) != 0;
  const std::uint8_t normal[6] = {h[1], h[0], h[3], h[2], h[5], h[4]};
  return ac3FrameLength(normal, 6) != 0;
}

// The first sync frame header, in either byte order.
decoder::AudioStart probeAc3(const std::uint8_t* data, std::uint32_t size) {
  for (std::uint32_t i = 0; data && i + 6 <= size; ++i) {
    if (ac3HeaderAt(data + i, false)) return {AV_CODEC_ID_AC3, false};
    if (ac3HeaderAt(data + i, true)) return {AV_CODEC_ID_AC3, true};
  }
  return {};
}

constexpr decoder::AudioFormat kAc3 = {&probeAc3, &ac3FrameLength};

}  // namespace

bufstream* open_AC3in_Audio_stream(mpeg_get_rc /*get_rc*/, int32_t /*reserved1*/,
                                   int32_t /*reserved2*/) {
  auto* d = new (std::nothrow) decoder::AudioDecoder(kAc3);
  return d ? d->stream() : nullptr;
}
