// SPDX-License-Identifier: GPL-2.0-or-later
// Encodes one WAV file at 224 kbit/s layer II with Ferrule, twolame and ffmpeg's mp2 encoder,
// decodes each with mpg123 and prints the time (best of three runs), the time relative to
// twolame and the SNR against the input.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "audio_oracle.h"
#include "bufstream.h"
#include "ferrule.h"

namespace {

using quillion::test::alignedSnrDb;
using quillion::test::readPcm;
using quillion::test::runCommand;

struct Wav {
  int rate = 0;
  int channels = 0;
  std::vector<std::int16_t> samples;
};

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool readWav(const std::string& path, Wav& wav) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
      std::memcmp(b.data() + 8, "WAVE", 4))
    return false;
  for (std::size_t at = 12; at + 8 <= b.size();) {
    const std::uint32_t size = le32(b.data() + at + 4);
    const std::uint8_t* body = b.data() + at + 8;
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16) {
      wav.channels = body[2] | (body[3] << 8);
      wav.rate = static_cast<int>(le32(body + 4));
      if ((body[14] | (body[15] << 8)) != 16) return false;
    } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
      const std::size_t n = std::min<std::size_t>(size, b.size() - at - 8) / 2;
      wav.samples.resize(n);
      std::memcpy(wav.samples.data(), body, n * 2);
      return wav.rate > 0 && wav.channels > 0;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

bool encodeWithFerrule(const Wav& wav, int model, const std::string& out) {
  mpeg_a_settings s{};
  mpegOutAudioDefaults(&s, 0);  // layer II, 224 kbit/s, stereo
  s.psych_model = model;
  mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, wav.rate);
  if (!e) return false;
  bufstream* stream = open_file_buf_write(out.c_str(), 1 << 16, nullptr);
  bool ok = stream && mpegOutAudioInit(e, stream) == 0;
  constexpr std::size_t kPiece = 1152 * 2 * 16;
  for (std::size_t at = 0; ok && at < wav.samples.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, wav.samples.size() - at);
    ok = mpegOutAudioPutBytes(e, wav.samples.data() + at, static_cast<std::uint32_t>(n * 2)) == 0;
  }
  ok = mpegOutAudioDone(e, 0) == 0 && ok;
  mpegOutAudioFree(e);
  return close_file_buf(stream, 0) == 0 && ok;
}

double bestOfThree(const std::function<bool()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1.0;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

double decodedSnr(const Wav& wav, const std::string& stream, const std::string& scratch) {
  const std::string raw = scratch + "/decoded.raw";
  if (runCommand("mpg123 -q -s \"" + stream + "\" > \"" + raw + "\"").exitCode != 0) return -1000;
  return alignedSnrDb(wav.samples, readPcm(raw), wav.channels);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s input.wav scratch-folder\n", argv[0]);
    return 2;
  }
  Wav wav;
  if (!readWav(argv[1], wav)) {
    std::fprintf(stderr, "%s: not a 16-bit PCM WAV file\n", argv[1]);
    return 2;
  }
  const std::string in = argv[1];
  const std::string dir = argv[2];
  struct Row {
    const char* name;
    std::string out;
    std::function<bool()> run;
  };
  const std::vector<Row> rows = {
      {"twolame -b 224 -m s", dir + "/twolame.mp2",
       [&] {
         return runCommand("twolame --quiet -b 224 -m s \"" + in + "\" \"" + dir + "/twolame.mp2\"")
                    .exitCode == 0;
       }},
      {"ffmpeg -c:a mp2 -b:a 224k", dir + "/ffmpeg.mp2",
       [&] {
         return runCommand("ffmpeg -nostdin -v error -y -i \"" + in + "\" -c:a mp2 -b:a 224k \"" +
                           dir + "/ffmpeg.mp2\"")
                    .exitCode == 0;
       }},
      {"Ferrule, model 2", dir + "/ferrule2.mp2",
       [&] { return encodeWithFerrule(wav, 2, dir + "/ferrule2.mp2"); }},
      {"Ferrule, model 1", dir + "/ferrule1.mp2",
       [&] { return encodeWithFerrule(wav, 1, dir + "/ferrule1.mp2"); }},
  };
  const double seconds = static_cast<double>(wav.samples.size()) / wav.channels / wav.rate;
  std::printf("input: %.1f s, %d Hz, %d channels\n", seconds, wav.rate, wav.channels);
  std::printf("%-28s %10s %12s %10s\n", "encoder", "time (s)", "vs twolame", "SNR (dB)");
  double twolame = 0.0;
  for (const Row& row : rows) {
    const double t = bestOfThree(row.run);
    if (t < 0) {
      std::printf("%-28s failed\n", row.name);
      continue;
    }
    if (twolame == 0.0) twolame = t;
    std::printf("%-28s %10.3f %11.2fx %10.2f\n", row.name, t, t / twolame,
                decodedSnr(wav, row.out, dir));
  }
  return 0;
}
