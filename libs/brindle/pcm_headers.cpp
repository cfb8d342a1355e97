// SPDX-License-Identifier: GPL-2.0-or-later
// PCM audio whose facts come with the packets rather than from frame headers: DVD LPCM (the
// private stream header of each packet) and AES3 audio (SMPTE 302M in transport streams, the
// 8-channel element and plain PCM of MXF files).
#include <algorithm>
#include <bit>
#include <cstring>

#include "audio_headers.h"
#include "resources.h"
#include "session.h"
#include "stream_parser.h"

namespace quillion::brindle {
namespace pcm_detail {

// The private header bytes of the packet that began the stream, as the stream parser keeps
// them (sub-stream number first); the first six are kept in the record.
void keepPrivateHeader(mpeg_in_info* r, const stream_parser* s) {
  std::memset(r->private_header, 0, sizeof r->private_header);
  const std::uint32_t count = std::min<std::uint32_t>(s->extra_count, sizeof r->private_header);
  std::memcpy(r->private_header, s->extra, count);
  r->private_header_count = sizeof r->private_header;
}

void finishPcm(mpeg_in_info* r, std::uint32_t format) {
  r->audio_multichannel = r->audio_channels > 1 ? 1 : 0;
  r->coded_frame_size = r->samples_per_frame * r->bytes_per_sample_frame;
  r->priv->audio_header.frame_ready = 1;
  r->audio_format = format;
  audio_detail::writeWaveFormat(r);
  keepPrivateHeader(r, &r->priv->audio);
}

// The bytes of one sample group of 302M audio by bits per sample: per pair of channels.
std::uint32_t smpte302mPairBytes(std::uint32_t bits) {
  return bits == 16 ? 5 : bits == 20 ? 6 : 7;
}

}  // namespace pcm_detail

using namespace pcm_detail;

int Parse_Lpcm_Header(mpeg_in_info* r) {
  const stream_parser* s = &r->priv->audio;
  // The chunk at hand must have begun an LPCM packet and brought its whole private header.
  if (!s->break_flag || s->extra_count < 7) return 1;
  const std::uint8_t* h = s->extra;
  r->lpcm_emphasis = h[4] >> 7 & 1u;
  r->lpcm_mute = h[4] >> 6 & 1u;
  r->lpcm_quantization = h[5] >> 6 & 3u;
  r->lpcm_sampling_frequency = h[5] >> 4 & 3u;
  r->lpcm_channels_minus_one = h[5] & 7u;
  r->lpcm_dynamic_range = h[6];
  if (r->lpcm_quantization != 0) {
    report_error(r, "Unsupported PCM quantization");
    return 1;
  }
  if (r->lpcm_sampling_frequency >= 2) {
    report_error(r, "Invalid PCM frequency");
    return 1;
  }
  if (r->lpcm_channels_minus_one >= 2) {
    report_error(r, "Unsupported number of PCM channels");
    return 1;
  }
  const bool high = r->lpcm_sampling_frequency == 1;
  r->bits_per_sample = 16;
  r->audio_channels = r->lpcm_channels_minus_one + 1;
  r->bytes_per_sample_frame = 2 * r->audio_channels;
  r->sample_rate = high ? 96000 : 48000;
  r->audio_bit_rate = (high ? 192 : 96) * r->audio_channels;
  r->samples_per_frame = high ? 160 : 80;
  finishPcm(r, kAudioLpcm);
  return 0;
}

int Parse_Aes3_Header(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  const stream_parser* s = &p->audio;
  const std::uint64_t payload = s->chunk_tail;
  if (payload == 0) return 1;
  const std::uint8_t* h = s->extra;
  std::uint32_t groupBytes = 0;
  switch (p->audio_header.aes3_kind) {
    case kAudioAes3MxfPcm: {
      const std::uint32_t bytes = r->bits_per_sample == 16 ? 2 : r->bits_per_sample == 24 ? 3 : 0;
      if (bytes == 0) {
        report_error(r, "Unsupported AES3 quantization");
        return 1;
      }
      if (r->audio_channels == 0) {
        report_error(r, "Unsupported AES3 type");
        return 1;
      }
      groupBytes = bytes;
      r->bytes_per_sample_frame = bytes * r->audio_channels;
      break;
    }
    case kAudioAes3MxfElement: {
      // Without one valid channel there is nothing to deliver (and nothing to divide by).
      const std::uint32_t channels = static_cast<std::uint32_t>(std::popcount(h[3]));
      if (channels == 0) {
        report_error(r, "Unsupported AES3 type");
        return 1;
      }
      r->bits_per_sample = 24;
      r->audio_channels = channels;
      r->sample_rate = 48000;
      r->bytes_per_sample_frame = channels * 3;
      groupBytes = 32;
      break;
    }
    case kAudioAes3Smpte302m: {
      const std::uint32_t code = h[3] >> 4 & 3u;
      if (code == 3) {
        report_error(r, "Unsupported AES3 quantization");
        return 1;
      }
      r->bits_per_sample = 16 + 4 * code;
      r->audio_channels = 2 * ((h[2] >> 6 & 3u) + 1);
      r->sample_rate = 48000;
      r->bytes_per_sample_frame = r->audio_channels * (r->bits_per_sample == 16 ? 2 : 3);
      groupBytes = r->audio_channels / 2 * smpte302mPairBytes(r->bits_per_sample);
      break;
    }
    default:
      report_error(r, "Unsupported AES3 type");
      return 1;
  }
  // A payload without one whole sample group gives no samples to count frames by.
  if (payload < groupBytes) return 1;
  p->audio_header.sample_group_bytes = groupBytes;
  p->audio_header.payload_bytes = static_cast<std::uint32_t>(payload);
  r->samples_per_frame = static_cast<std::uint32_t>(payload / groupBytes);
  r->audio_bit_rate = r->bytes_per_sample_frame * 384;
  finishPcm(r, p->audio_header.aes3_kind);
  return 0;
}

}  // namespace quillion::brindle
