// SPDX-License-Identifier: GPL-2.0-or-later
// The job of run.sh:
//   ferrule_bench IN.wav OUT.mp2 KBPS [MODEL]
//       encodes a 16-bit PCM WAV file as layer II stereo at KBPS kbit/s with psychoacoustic
//       model MODEL (1 or 2, default 2) through the library's interface, the samples read
//       and handed over in pieces as a caller does it; prints the seconds it took.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bufstream.h"
#include "ferrule.h"

namespace {

// The format of a 16-bit PCM WAV file, `in` left at the start of its samples.
struct Wav {
  int rate = 0;
  int channels = 0;
  std::uint32_t dataBytes = 0;
};

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool readWavHeader(std::ifstream& in, Wav& wav) {
  std::uint8_t riff[12];
  if (!in.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return false;
  std::uint8_t chunk[8];
  while (in.read(reinterpret_cast<char*>(chunk), 8)) {
    const std::uint32_t size = le32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      wav.dataBytes = size;
      return wav.rate > 0 && wav.channels > 0;
    }
    std::vector<std::uint8_t> body(size + (size & 1));
    if (!in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size())))
      return false;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      wav.channels = body[2] | (body[3] << 8);
      wav.rate = static_cast<int>(le32(body.data() + 4));
      if ((body[14] | (body[15] << 8)) != 16) return false;
    }
  }
  return false;
}

// The layer II bit-rate index of a rate in kbit/s; 0 when layer II has none.
int layer2BitrateCode(int kbps) {
  static constexpr std::array<int, 15> kRates = {0,   32,  48,  56,  64,  80,  96, 112,
                                                 128, 160, 192, 224, 256, 320, 384};
  const auto* found = std::find(kRates.begin() + 1, kRates.end(), kbps);
  return found == kRates.end() ? 0 : static_cast<int>(found - kRates.begin());
}

// Reads the samples in pieces and hands each to the encoder as it comes, as a caller does.
bool encode(std::ifstream& in, const Wav& wav, int kbps, int model, const char* out) {
  mpeg_a_settings s{};
  mpegOutAudioDefaults(&s, 0);  // layer II stereo
  s.bitrate_code = layer2BitrateCode(kbps);
  s.psych_model = model;
  if (wav.channels == 1) s.audio_mode = 3;
  mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, wav.rate);
  if (!e) return false;
  bufstream* stream = open_file_buf_write(out, 1 << 16, nullptr);
  bool ok = stream && mpegOutAudioInit(e, stream) == 0;
  std::vector<char> piece(1 << 15);
  std::uint32_t left = wav.dataBytes;
  while (ok && left > 0) {
    in.read(piece.data(), static_cast<std::streamsize>(std::min<std::size_t>(piece.size(), left)));
    const auto got = static_cast<std::uint32_t>(in.gcount());
    if (got == 0) break;  // a streamed WAV whose length field runs past the end
    left -= got;
    ok = mpegOutAudioPutBytes(e, piece.data(), got) == 0;
  }
  ok = mpegOutAudioDone(e, 0) == 0 && ok;
  mpegOutAudioFree(e);
  return stream && close_file_buf(stream, 0) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s IN.wav OUT.mp2 KBPS [MODEL]\n", argv[0]);
    return 2;
  }
  const int kbps = std::atoi(argv[3]);
  const int model = argc == 5 ? std::atoi(argv[4]) : 2;
  std::ifstream in(argv[1], std::ios::binary);
  Wav wav;
  if (!readWavHeader(in, wav) || wav.channels > 2) {
    std::fprintf(stderr, "%s: not a 16-bit PCM WAV file of one or two channels\n", argv[1]);
    return 2;
  }
  if (layer2BitrateCode(kbps) == 0 || (model != 1 && model != 2)) {
    std::fprintf(stderr, "no layer II rate %d kbit/s or no model %d\n", kbps, model);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const bool ok = encode(in, wav, kbps, model, argv[2]);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::fprintf(stderr, "%.3f\n", took.count());
  if (!ok) std::fprintf(stderr, "encoding failed\n");
  return ok ? 0 : 1;
}
