// SPDX-License-Identifier: GPL-2.0-or-later
// Two jobs for run.sh:
//   mp3enc_bench encode IN.wav OUT.mp3 BITRATE   encodes on this thread, prints the seconds
//   mp3enc_bench snr IN.wav DECODED.wav          aligns the decode with the input by
//                                                cross-correlation and prints the lag and SNR
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3enc/encode_sample.h"
#include "mp3enc/kernels.h"
#include "mp3enc/wav_reader.h"

namespace {

struct Pcm {
  int channels = 0;
  std::vector<double> left;  // channel 0 only, +-1
  std::vector<double> all;   // interleaved
};

bool readWav(const char* path, Pcm* pcm) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  quillion::mp3enc::WavInfo info;
  if (quillion::mp3enc::parseWavHeader(bytes.data(), bytes.size(), &info) !=
      quillion::mp3enc::WavStatus::Ok)
    return false;
  pcm->channels = info.channels;
  std::size_t end = info.dataOffset + static_cast<std::size_t>(info.dataLength);
  if (end > bytes.size() || info.dataLength == 0xFFFFFFFFu) end = bytes.size();
  for (std::size_t i = info.dataOffset; i + 1 < end; i += 2) {
    const auto v = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
    pcm->all.push_back(v / 32768.0);
  }
  for (std::size_t i = 0; i < pcm->all.size(); i += static_cast<std::size_t>(pcm->channels))
    pcm->left.push_back(pcm->all[i]);
  return pcm->channels > 0;
}

int snr(const char* reference, const char* decoded) {
  Pcm a, b;
  if (!readWav(reference, &a) || !readWav(decoded, &b) || a.channels != b.channels) {
    std::fprintf(stderr, "cannot read both files as WAV with equal channels\n");
    return 1;
  }
  // Cross-correlation of channel 0 over the first 20 seconds, lags 0..5000.
  const std::size_t span = std::min<std::size_t>(a.left.size(), 20 * 44100);
  int best = 0;
  double bestValue = -1e300;
  for (int lag = 0; lag <= 5000; ++lag) {
    double sum = 0;
    for (std::size_t n = 0; n < span && n + static_cast<std::size_t>(lag) < b.left.size(); ++n)
      sum += a.left[n] * b.left[n + static_cast<std::size_t>(lag)];
    if (sum > bestValue) {
      bestValue = sum;
      best = lag;
    }
  }
  double signal = 0, noise = 0;
  const std::size_t ch = static_cast<std::size_t>(a.channels);
  for (std::size_t i = 0; i < a.all.size(); ++i) {
    const std::size_t j = i + static_cast<std::size_t>(best) * ch;
    const double d = (j < b.all.size() ? b.all[j] : 0.0) - a.all[i];
    signal += a.all[i] * a.all[i];
    noise += d * d;
  }
  std::printf("lag %d snr %.2f\n", best, 10 * std::log10(signal / std::max(noise, 1e-30)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "encode") == 0) {
    // Optional sixth argument: "portable" runs the whole encode on the portable kernels.
    if (argc == 6 && std::strcmp(argv[5], "portable") == 0) {
      quillion::mp3enc::forcePortableKernelsForTesting(true);
    } else if (argc == 6 && std::strcmp(argv[5], "native") != 0) {
      std::fprintf(stderr, "kernels are portable or native\n");
      return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int result = quillion::mp3enc::encode_to_mp3(argv[2], argv[3], std::atoi(argv[4]), 0,
                                                       nullptr, 0, nullptr, nullptr);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "%.3f\n", took.count());
    return result;
  }
  if (argc == 4 && std::strcmp(argv[1], "snr") == 0) return snr(argv[2], argv[3]);
  std::fprintf(
      stderr,
      "usage: %s encode IN.wav OUT.mp3 BITRATE [portable|native] | snr IN.wav DECODED.wav\n",
      argv[0]);
  return 2;
}
