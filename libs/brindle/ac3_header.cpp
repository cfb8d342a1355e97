// SPDX-License-Identifier: GPL-2.0-or-later
// The first AC-3 sync frame of the audio stream, in either byte order: found, confirmed by the
// sync word of the frame behind it, captured as it stands and its bit stream information read.
#include <algorithm>
#include <cstring>

#include "audio_headers.h"
#include "resources.h"
#include "session.h"
#include "stream_parser.h"

namespace quillion::brindle {
namespace ac3_detail {

using namespace audio_detail;

constexpr std::uint32_t kAc3SampleRates[3] = {48000, 44100, 32000};
constexpr std::uint32_t kAc3BitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                            192, 224, 256, 320, 384, 448, 512, 576, 640};
// Frame sizes in 16-bit words by [fscod][frmsizecod].
constexpr std::uint16_t kAc3FrameWords[3][38] = {
    {64,  64,  80,  80,  96,  96,  112,  112,  128,  128,  160,  160, 192,
     192, 224, 224, 256, 256, 320, 320,  384,  384,  448,  448,  512, 512,
     640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69,  70,  87,  88,  104, 105, 121,  122,  139,  140,  174,  175, 208,
     209, 243, 244, 278, 279, 348, 349,  417,  418,  487,  488,  557, 558,
     696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96,  96,  120,  120,  144,  144,  168,  168,  192,  192,  240,  240, 288,
     288, 336, 336,  384,  384,  480,  480,  576,  576,  672,  672,  768, 768,
     960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920}};

constexpr std::uint32_t kSync = 0x0B77u;
constexpr std::uint32_t kSwappedSync = 0x770Bu;

// The fields of the 32 bits that follow sync word and crc1, in the stream's byte order.
struct Ac3Word {
  std::uint32_t fscod, frmsizecod, bsid, bsmod, acmod;
};

Ac3Word ac3WordOf(std::uint32_t w, bool swapped) {
  if (swapped) return {w >> 22 & 3u, w >> 16 & 63u, w >> 27 & 31u, w >> 24 & 7u, w >> 5 & 7u};
  return {w >> 30 & 3u, w >> 24 & 63u, w >> 19 & 31u, w >> 16 & 7u, w >> 13 & 7u};
}

// Reads bits from the captured bytes; past their end it reads zeros and says so.
struct BitCursor {
  const std::uint8_t* bytes;
  std::uint32_t size;
  std::uint32_t bit = 0;
  bool exhausted = false;

  std::uint32_t take(std::uint32_t n) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint32_t b = 0;
      if (bit / 8 < size)
        b = bytes[bit / 8] >> (7 - bit % 8) & 1u;
      else
        exhausted = true;
      ++bit;
      value = value << 1 | b;
    }
    return value;
  }
  std::uint32_t optional(std::uint32_t& flag, std::uint32_t n) {
    flag = take(1);
    return flag ? take(n) : 0;
  }
};

// The bit stream information of the frame in `frame` (normal byte order, sync word first).
int readBitStreamInformation(mpeg_in_info* r, const std::uint8_t* frame, std::uint32_t size) {
  BitCursor c{frame, size};
  c.take(16);
  r->ac3_crc1 = c.take(16);
  r->ac3_fscod = c.take(2);
  if (r->ac3_fscod == 3) {
    report_error(r, "Invalid AC3 frequency");
    return 1;
  }
  r->ac3_frmsizecod = c.take(6);
  r->ac3_bsid = c.take(5);
  r->ac3_bsmod = c.take(3);
  const std::uint32_t acmod = r->ac3_acmod = c.take(3);
  r->ac3_cmixlev = (acmod & 1u) && acmod != 1 ? c.take(2) : 0;
  r->ac3_surmixlev = (acmod & 4u) ? c.take(2) : 0;
  r->ac3_dsurmod = acmod == 2 ? c.take(2) : 0;
  r->ac3_lfeon = c.take(1);
  r->ac3_dialnorm = c.take(5);
  r->ac3_compr = c.optional(r->ac3_compre, 8);
  r->ac3_langcod = c.optional(r->ac3_langcode, 8);
  r->ac3_audprodie = c.take(1);
  r->ac3_mixlevel = r->ac3_audprodie ? c.take(5) : 0;
  r->ac3_roomtyp = r->ac3_audprodie ? c.take(2) : 0;
  if (acmod == 0) {
    r->ac3_dialnorm2 = c.take(5);
    r->ac3_compr2 = c.optional(r->ac3_compr2e, 8);
    r->ac3_langcod2 = c.optional(r->ac3_langcod2e, 8);
    r->ac3_audprodi2e = c.take(1);
    r->ac3_mixlevel2 = r->ac3_audprodi2e ? c.take(5) : 0;
    r->ac3_roomtyp2 = r->ac3_audprodi2e ? c.take(2) : 0;
  }
  r->ac3_copyrightb = c.take(1);
  r->ac3_origbs = c.take(1);
  r->ac3_timecod1 = c.optional(r->ac3_timecod1e, 14);
  r->ac3_timecod2 = c.optional(r->ac3_timecod2e, 14);
  r->ac3_addbsie = c.take(1);
  if (r->ac3_addbsie) {
    r->ac3_addbsil = c.take(6);
    const std::uint32_t kept = std::min<std::uint32_t>(r->ac3_addbsil + 1, 64);
    for (std::uint32_t i = 0; i < kept; ++i)
      r->ac3_addbsi[i] = static_cast<std::uint8_t>(c.take(8));
  }
  return c.exhausted ? 1 : 0;
}

// Whether the candidate whose sync word and crc1 were just read is followed, one frame on, by
// the same sync word.
bool ac3CandidateConfirmed(mpeg_in_info* r, std::uint32_t w0, bool swapped) {
  stream_parser* s = &r->priv->audio;
  if (s->bit_count < 32) return false;
  const Ac3Word f = ac3WordOf(s->window, swapped);
  if (f.fscod >= 3 || f.frmsizecod >= 38 || f.bsid >= 9) return false;
  if (!skipAudioBytes(r, ac3_frame_bytes(f.fscod, f.frmsizecod) - 4)) return false;
  return s->bit_count >= 32 && (s->window >> 16) == (w0 >> 16);
}

bool atSyncWord(const stream_parser* s) {
  const std::uint32_t top = s->window >> 16;
  return s->bit_count >= 16 && (top == kSync || top == kSwappedSync);
}

}  // namespace ac3_detail

using namespace ac3_detail;

std::uint32_t ac3_frame_bytes(std::uint32_t fscod, std::uint32_t frmsizecod) {
  if (fscod >= 3 || frmsizecod >= 38) return 0;
  return 2u * kAc3FrameWords[fscod][frmsizecod];
}

std::uint32_t ac3_bit_rate(std::uint32_t frmsizecod) {
  return frmsizecod < 38 ? kAc3BitRates[frmsizecod / 2] : 0;
}

int Parse_Ac3_Header(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  stream_parser* s = &p->audio;
  Skip_Bits(r, s, static_cast<std::uint32_t>(s->bit_count) & 7u);
  bool swapped = false;
  for (;;) {
    while (!atSyncWord(s)) {
      if (parserStopped(s)) return 1;
      Skip_Bits(r, s, 8);
    }
    const std::uint64_t candidate = s->byte_positions[0];
    swapped = (s->window >> 16) == kSwappedSync;
    const std::uint32_t w0 = Read_Bits(r, s, 32);
    const bool confirmed = ac3CandidateConfirmed(r, w0, swapped);
    if (!seekAudioTo(r, confirmed ? candidate : candidate + 1)) return 1;
    if (confirmed) break;
  }
  p->audio_header.byte_swapped = swapped ? 1 : 0;
  for (std::uint32_t i = 0; i < sizeof r->audio_header; ++i) {
    if (parserStopped(s)) {
      report_error(r, "Invalid AC3 header");
      return 1;
    }
    r->audio_header[i] = static_cast<std::uint8_t>(Read_Bits(r, s, 8));
  }
  r->audio_header_length = sizeof r->audio_header;
  std::uint8_t frame[sizeof r->audio_header];
  std::memcpy(frame, r->audio_header, sizeof frame);
  if (swapped)
    for (std::size_t i = 0; i + 1 < sizeof frame; i += 2) std::swap(frame[i], frame[i + 1]);
  if (readBitStreamInformation(r, frame, sizeof frame) != 0) return 1;
  if (s->end_flag) return 1;
  r->sample_rate = kAc3SampleRates[r->ac3_fscod];
  r->bits_per_sample = 16;
  // Everything but mono is delivered as two channels.
  const std::uint32_t channels = r->ac3_acmod == 1 ? 1 : 2;
  r->audio_channels = channels;
  r->audio_multichannel = channels > 1 ? 1 : 0;
  r->bytes_per_sample_frame = 2 * channels;
  r->audio_bit_rate = ac3_bit_rate(r->ac3_frmsizecod);
  r->coded_frame_size = ac3_frame_bytes(r->ac3_fscod, r->ac3_frmsizecod);
  if (r->coded_frame_size == 0) {
    report_error(r, "Invalid AC3 header");
    return 1;
  }
  r->samples_per_frame = 1536;
  p->audio_header.average_frame_bytes =
      1536.0 / (r->sample_rate / 1000.0) * r->audio_bit_rate / 8.0;
  p->audio_header.header_word =
      std::uint32_t{frame[0]} << 24 | std::uint32_t{frame[1]} << 16 | frame[2] << 8 | frame[3];
  p->audio_header.frame_ready = 1;
  r->audio_format = kAudioAc3;
  return 0;
}

int Match_Ac3_Header(mpeg_in_info* r, std::uint32_t w) {
  const Ac3Word f = ac3WordOf(w, r->priv->audio_header.byte_swapped != 0);
  if (f.fscod != r->ac3_fscod) return 1;
  if (f.acmod != r->ac3_acmod) return 1;
  const std::uint32_t size = ac3_frame_bytes(f.fscod, f.frmsizecod);
  if (size == 0) return 1;
  r->ac3_frmsizecod = f.frmsizecod;
  r->ac3_bsid = f.bsid;
  r->ac3_bsmod = f.bsmod;
  r->coded_frame_size = size;
  return 0;
}

}  // namespace quillion::brindle
