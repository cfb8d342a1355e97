// SPDX-License-Identifier: GPL-2.0-or-later
// Ostrell's exported function. A decoder object lives until its free slot is called.
#include <new>

#include "audio_decoder.h"
#include "ostrell.h"

using namespace quillion;

namespace {

// The frame length of an ADTS header: 12-bit sync, layer 0, a sampling index of the table and
// a length that at least covers the header itself (7 bytes, 9 with CRC); 0 for anything else,
// a false sync.
std::uint32_t adtsFrameLength(const std::uint8_t* h, std::uint32_t size) {
  if (!h || size < 7 || h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return 0;
  const std::uint32_t rateIndex = (h[2] >> 2) & 0xFu;
  const std::uint32_t length = (h[3] & 3u) << 11 | std::uint32_t{h[4]} << 3 | h[5] >> 5;
  const std::uint32_t headerSize = (h[1] & 1u) ? 7 : 9;
  return rateIndex > 12 || length < headerSize ? 0 : length;
}

decoder::AudioStart probeAdts(const std::uint8_t* data, std::uint32_t size) {
  for (std::uint32_t i = 0; data && i + 7 <= size; ++i)
    if (adtsFrameLength(data + i, size - i) != 0) return {AV_CODEC_ID_AAC, false};
  return {};
}

constexpr decoder::AudioFormat kAdts = {&probeAdts, &adtsFrameLength};

}  // namespace

bufstream* open_AACin_Audio_stream_ex(mpeg_get_rc /*get_rc*/) {
  auto* d = new (std::nothrow) decoder::AudioDecoder(kAdts);
  return d ? d->stream() : nullptr;
}
