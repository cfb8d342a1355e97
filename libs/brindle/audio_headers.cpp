// SPDX-License-Identifier: GPL-2.0-or-later
#include "audio_headers.h"

#include <cstring>

#include "resources.h"
#include "session.h"
#include "stream_parser.h"

namespace quillion::brindle {
namespace audio_detail {

bool parserStopped(const stream_parser* parser) {
  return parser->error != 0 || parser->end_flag != 0;
}

bool seekAudioTo(mpeg_in_info* session, std::uint64_t position) {
  mpeg_in_private* p = session->priv;
  stream_parser* s = &p->audio;
  Reset_Parser(session, s, p->audio_header.search_start);
  while (!parserStopped(s) && s->byte_positions[0] < position) Skip_Bits(session, s, 8);
  return s->error == 0 && s->byte_positions[0] == position && s->bit_count >= 32;
}

bool skipAudioBytes(mpeg_in_info* session, std::uint64_t count) {
  stream_parser* s = &session->priv->audio;
  for (; count >= 4 && !parserStopped(s); count -= 4) Skip_Bits(session, s, 32);
  for (; count > 0 && !parserStopped(s); --count) Skip_Bits(session, s, 8);
  return count == 0 && s->error == 0;
}

void putLe(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeWaveFormat(mpeg_in_info* r) {
  std::uint8_t* h = r->audio_header;
  std::memset(h, 0, 20);
  putLe(h, 1, 2);
  putLe(h + 2, r->audio_channels, 2);
  putLe(h + 4, r->sample_rate, 4);
  putLe(h + 8, r->sample_rate * r->bytes_per_sample_frame, 4);
  putLe(h + 12, r->bytes_per_sample_frame, 2);
  putLe(h + 14, r->bits_per_sample, 2);
  r->audio_header_length = 20;
}

}  // namespace audio_detail

namespace mpeg_audio_detail {

using namespace audio_detail;

constexpr std::uint32_t kMpegSampleRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};

// kbit/s by [ID][row][index]; row 0 Layer I, 1 Layer II, 2 Layer III. The free format (index
// 0) is held as 1000 so that a frame length can still be worked out for it.
constexpr std::uint32_t kMpegBitRates[2][3][15] = {
    {{1000, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {1000, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {1000, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{1000, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {1000, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {1000, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};

constexpr std::uint32_t kAdtsSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                22050, 16000, 12000, 11025, 8000,  7350};

// The fields of an MPEG audio header word.
struct MpegFields {
  std::uint32_t id, layerBits, protection, bitRateIndex, frequencyIndex, padding, privateBit, mode,
      modeExtension, copyright, original, emphasis;
};

MpegFields mpegFieldsOf(std::uint32_t w) {
  return {w >> 19 & 1u, w >> 17 & 3u, w >> 16 & 1u, w >> 12 & 15u, w >> 10 & 3u, w >> 9 & 1u,
          w >> 8 & 1u,  w >> 6 & 3u,  w >> 4 & 3u,  w >> 3 & 1u,   w >> 2 & 1u,  w & 3u};
}

bool isAdts(std::uint32_t w) {
  return (w >> 17 & 3u) == 0;
}

// Samples per frame and the factor of the frame length in bytes (bytes = factor x kbit/s /
// rate). Half-rate Layer III frames carry 576 samples in frames half as long.
std::uint32_t samplesPerFrame(const MpegFields& f) {
  if (f.layerBits == 3) return 384;
  return f.layerBits == 1 && f.id == 0 ? 576 : 1152;
}
std::uint32_t lengthFactor(const MpegFields& f) {
  if (f.layerBits == 3) return 48;
  return f.layerBits == 1 && f.id == 0 ? 72 : 144;
}

std::uint32_t bitRateKbps(const MpegFields& f) {
  return kMpegBitRates[f.id][3 - f.layerBits][f.bitRateIndex];
}

// Whether the frame the candidate header `w` announces is followed by a header with the same
// sync, ID, layer and sampling frequency. The parser stands on the candidate.
bool mpegCandidateConfirmed(mpeg_in_info* r, std::uint32_t w) {
  const MpegFields f = mpegFieldsOf(w);
  const std::uint32_t rate = kMpegSampleRates[f.id][f.frequencyIndex];
  std::uint64_t length = std::uint64_t{lengthFactor(f)} * bitRateKbps(f) * 1000 / rate;
  if (f.padding) length += f.layerBits == 3 ? 4 : 1;
  if (!skipAudioBytes(r, length)) return false;
  const stream_parser* s = &r->priv->audio;
  return s->bit_count >= 32 && (s->window & 0xFFFE0C00u) == (w & 0xFFFE0C00u);
}

std::uint32_t adtsFrameLength(std::uint32_t w, std::uint32_t next16) {
  return (w & 3u) << 11 | next16 >> 5;
}

// The same for an ADTS candidate: the next frame must start right behind this one. A length
// shorter than the header itself is no frame.
bool adtsCandidateConfirmed(mpeg_in_info* r, std::uint32_t w) {
  stream_parser* s = &r->priv->audio;
  Skip_Bits(r, s, 32);
  const std::uint32_t length = adtsFrameLength(w, Read_Bits(r, s, 16));
  const std::uint32_t headerBytes = (w >> 16 & 1u) ? 7 : 9;
  if (parserStopped(s) || length < headerBytes) return false;
  if (!skipAudioBytes(r, length - 6)) return false;
  return s->bit_count >= 32 && (s->window & 0xFFFE3C00u) == (w & 0xFFFE3C00u);
}

void storeMpegFields(mpeg_in_info* r, const MpegFields& f) {
  r->audio_id = f.id;
  r->audio_layer_bits = f.layerBits;
  r->audio_protection_bit = f.protection;
  r->audio_bit_rate_index = f.bitRateIndex;
  r->audio_sampling_frequency_index = f.frequencyIndex;
  r->audio_padding_bit = f.padding;
  r->audio_private_bit = f.privateBit;
  r->audio_mode = f.mode;
  r->audio_mode_extension = f.modeExtension;
  r->audio_copyright = f.copyright;
  r->audio_original = f.original;
  r->audio_emphasis = f.emphasis;
}

void storeAdtsFields(mpeg_in_info* r, std::uint32_t h) {
  r->audio_id = h >> 19 & 1u;
  r->audio_layer_bits = 0;
  r->audio_protection_bit = h >> 16 & 1u;
  r->adts_profile = static_cast<std::uint8_t>(h >> 14 & 3u);
  r->audio_sampling_frequency_index = h >> 10 & 15u;
  r->audio_private_bit = h >> 9 & 1u;
  r->audio_mode = h >> 6 & 7u;
  r->audio_original = h >> 5 & 1u;
  r->adts_home = static_cast<std::uint8_t>(h >> 4 & 1u);
  r->audio_copyright = h >> 3 & 1u;
  r->adts_copyright_id_start = static_cast<std::uint8_t>(h >> 2 & 1u);
}

void setChannels(mpeg_in_info* r, std::uint32_t channels) {
  r->audio_channels = channels;
  r->audio_multichannel = channels > 1 ? 1 : 0;
  r->bytes_per_sample_frame = channels > 1 ? 4 : 2;
}

int finishMpeg(mpeg_in_info* r, std::uint32_t h) {
  const MpegFields f = mpegFieldsOf(h);
  storeMpegFields(r, f);
  if (f.bitRateIndex == 0) {
    report_error(r, "Cannot handle free-form MPEG bitrate");
    return 1;
  }
  if (f.frequencyIndex == 3) {
    report_error(r, "Invalid MPEG frequency");
    return 1;
  }
  if (parserStopped(&r->priv->audio)) return 1;
  r->bits_per_sample = 16;
  setChannels(r, f.mode == 3 ? 1 : 2);
  r->sample_rate = kMpegSampleRates[f.id][f.frequencyIndex];
  r->audio_layer = 4 - f.layerBits;
  r->audio_format = r->audio_layer;
  const std::uint32_t kbps = bitRateKbps(f);
  r->audio_bit_rate = kbps;
  r->samples_per_frame = samplesPerFrame(f);
  r->coded_frame_size = lengthFactor(f) * 1000 * kbps / r->sample_rate;
  r->priv->audio_header.average_frame_bytes =
      static_cast<double>(r->samples_per_frame) * kbps / (8.0 * (r->sample_rate / 1000.0));
  return 0;
}

int finishAdts(mpeg_in_info* r, std::uint32_t h) {
  storeAdtsFields(r, h);
  const std::uint32_t frequencyIndex = h >> 10 & 15u;
  if (frequencyIndex > 12) {
    report_error(r, "Invalid AAC frequency");
    return 1;
  }
  // More than two channels cannot be delivered.
  if (r->audio_mode > 2) return 1;
  stream_parser* s = &r->priv->audio;
  const std::uint32_t x = Read_Bits(r, s, 32);
  r->adts_frame_length = (h & 3u) << 11 | x >> 21;
  r->adts_buffer_fullness = x >> 10 & 0x7FFu;
  r->adts_raw_data_blocks = static_cast<std::uint8_t>(x >> 8 & 3u);
  r->audio_header[4] = static_cast<std::uint8_t>(x >> 24);
  r->audio_header[5] = static_cast<std::uint8_t>(x >> 16);
  r->audio_header[6] = static_cast<std::uint8_t>(x >> 8);
  r->audio_header_length = 7;
  if (parserStopped(s)) return 1;
  r->bits_per_sample = 16;
  setChannels(r, r->audio_mode);
  r->audio_layer = 0;
  r->audio_format = r->audio_id ? kAudioAacMpeg2 : kAudioAacMpeg4;
  r->audio_bit_rate = 0;
  r->sample_rate = kAdtsSampleRates[frequencyIndex];
  r->samples_per_frame = 1024;
  r->coded_frame_size = r->adts_frame_length;
  r->priv->audio_header.average_frame_bytes = r->adts_frame_length;
  r->aac = 1;
  return 0;
}

// Header fields that cannot start a frame: the search steps over them.
bool unusableCandidate(std::uint32_t w) {
  if (isAdts(w)) return (w >> 10 & 15u) > 12;
  const MpegFields f = mpegFieldsOf(w);
  return f.bitRateIndex == 15 || f.frequencyIndex == 3;
}

int parseMpegAudioHeader(mpeg_in_info* r) {
  stream_parser* s = &r->priv->audio;
  Skip_Bits(r, s, static_cast<std::uint32_t>(s->bit_count) & 7u);
  for (;;) {
    Find_Start_Code(r, s, 0xFFF00000u, 0xFFF00000u);
    if (parserStopped(s) && (s->bit_count < 32 || (s->window >> 20) != 0xFFFu)) return 1;
    const std::uint64_t candidate = s->byte_positions[0];
    const std::uint32_t w = s->window;
    if (unusableCandidate(w)) {
      Skip_Bits(r, s, 8);
      continue;
    }
    const bool confirmed = isAdts(w) ? adtsCandidateConfirmed(r, w) : mpegCandidateConfirmed(r, w);
    if (!seekAudioTo(r, confirmed ? candidate : candidate + 1)) return 1;
    if (confirmed) break;
  }
  const std::uint32_t h = Read_Bits(r, s, 32);
  for (int i = 0; i < 4; ++i) r->audio_header[i] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
  r->audio_header_length = 4;
  const int result = isAdts(h) ? finishAdts(r, h) : finishMpeg(r, h);
  if (result != 0) return result;
  r->priv->audio_header.first_header_word = h;
  r->priv->audio_header.header_word = h;
  r->priv->audio_header.frame_ready = 1;
  return 0;
}

}  // namespace mpeg_audio_detail

using namespace mpeg_audio_detail;

int Parse_Audio_Header(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  stream_parser* s = &p->audio;
  const std::uint32_t aes3Kind = r->audio_format;
  p->audio_header = audio_header_state{};
  // The search restarts from the start of the file, where the open positioned the parser: a
  // demultiplexer positioned inside a packet would resynchronise behind it and lose its data.
  p->audio_header.search_start = 0;
  r->aac = 0;
  r->audio_header_length = 0;
  r->private_header_count = 0;
  if (parserStopped(s)) return 1;
  if (r->audio_stream_count) return parseMpegAudioHeader(r);
  if (r->lpcm_stream_count) return Parse_Lpcm_Header(r);
  if (r->ac3_stream_count) return Parse_Ac3_Header(r);
  if (r->aes3_stream_count) {
    p->audio_header.aes3_kind = aes3Kind;
    return Parse_Aes3_Header(r);
  }
  return 1;
}

int Match_Mpeg_Audio_Header(mpeg_in_info* r, std::uint32_t w) {
  if ((w >> 19 & 1u) != r->audio_id || (w >> 17 & 3u) != r->audio_layer_bits) return 1;
  if (isAdts(w)) {
    if ((w >> 14 & 3u) != r->adts_profile || (w >> 10 & 15u) != r->audio_sampling_frequency_index ||
        (w >> 6 & 7u) != r->audio_mode)
      return 1;
    r->audio_protection_bit = w >> 16 & 1u;
    r->audio_private_bit = w >> 9 & 1u;
    r->audio_original = w >> 5 & 1u;
    r->adts_home = static_cast<std::uint8_t>(w >> 4 & 1u);
    r->audio_copyright = w >> 3 & 1u;
    r->adts_copyright_id_start = static_cast<std::uint8_t>(w >> 2 & 1u);
    return 0;
  }
  const MpegFields f = mpegFieldsOf(w);
  if (f.bitRateIndex == 15) return 1;
  // The lock keeps the bit rate of the first header, not of the last one taken.
  const std::uint32_t firstIndex = r->priv->audio_header.first_header_word >> 12 & 15u;
  if (r->priv->audio_header.constant_bit_rate && f.bitRateIndex != firstIndex) return 1;
  if (f.frequencyIndex != r->audio_sampling_frequency_index) return 1;
  if ((f.mode == 3) != (r->audio_mode == 3)) return 1;
  const std::uint32_t id = r->audio_id;
  const std::uint32_t layerBits = r->audio_layer_bits;
  storeMpegFields(r, f);
  r->audio_id = id;
  r->audio_layer_bits = layerBits;
  return 0;
}

}  // namespace quillion::brindle
