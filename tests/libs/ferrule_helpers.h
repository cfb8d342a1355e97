// SPDX-License-Identifier: GPL-2.0-or-later
// Runs Ferrule over PCM into a file, the way a caller of the library does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bufstream.h"
#include "ferrule.h"

namespace quillion::test {

struct EncodeOutcome {
  bool created = false;
  std::int32_t init = -1;
  std::int32_t put = -1;
  std::int32_t done = -1;
  int close = -1;
};

// Encodes `pcm` (interleaved) in pieces of `piece` values into `path`.
inline EncodeOutcome encodeFile(const mpeg_a_settings& settings, int sampleRate,
                                const std::vector<std::int16_t>& pcm, const std::string& path,
                                std::size_t piece = 4000, mpeg_get_rc getRc = nullptr) {
  EncodeOutcome outcome;
  mpeg_a_encoder* encoder = mpegOutAudioNew(getRc, &settings, 0, 0, sampleRate);
  outcome.created = encoder != nullptr;
  if (!encoder) return outcome;
  bufstream* out = open_file_buf_write(path.c_str(), 4096, nullptr);
  outcome.init = mpegOutAudioInit(encoder, out);
  outcome.put = 0;
  for (std::size_t at = 0; at < pcm.size() && outcome.put == 0; at += piece) {
    const std::size_t n = std::min(piece, pcm.size() - at);
    outcome.put = mpegOutAudioPutBytes(encoder, pcm.data() + at,
                                       static_cast<std::uint32_t>(n * sizeof(std::int16_t)));
  }
  outcome.done = mpegOutAudioDone(encoder, 0);
  mpegOutAudioFree(encoder);
  outcome.close = close_file_buf(out, 0);
  return outcome;
}

inline mpeg_a_settings audioSettings(int layer, int mode, int bitrateCode, int model = 2,
                                     int crc = 1) {
  mpeg_a_settings s{};
  mpegOutAudioDefaults(&s, 0);
  s.audio_layer = layer;
  s.audio_mode = mode;
  s.bitrate_code = bitrateCode;
  s.psych_model = model;
  s.crc = crc;
  return s;
}

}  // namespace quillion::test
