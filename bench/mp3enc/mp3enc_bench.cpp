// SPDX-License-Identifier: GPL-2.0-or-later
// The jobs of run.sh:
//   mp3enc_bench encode IN.wav OUT.mp3 BITRATE [portable|native]
//       constant bit rate through the WAV driver, on this thread; prints the seconds
//   mp3enc_bench vbr IN.wav OUT.mp3 QUALITY [portable|native]
//       variable bit rate (quality 1 best .. 5) through the handle, the VBRI header frame in
//       front; prints the seconds
//   mp3enc_bench snr IN.wav DECODED.wav
//       aligns the decode with the input by cross-correlation and prints the lag, the SNR and
//       the SNR below 15 kHz (the same linear-phase low-pass applied to the input and to the
//       error, so the delay of the filter cancels out)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mp3enc/encode_sample.h"
#include "mp3enc/kernels.h"
#include "mp3enc/velmora_enc.h"
#include "mp3enc/wav_reader.h"

namespace {

struct Pcm {
  int channels = 0;
  int rate = 0;
  std::vector<double> left;  // channel 0 only, +-1
  std::vector<double> all;   // interleaved
};

bool readWav(const char* path, Pcm* pcm) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(
      static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  quillion::mp3enc::WavInfo info;
  if (quillion::mp3enc::parseWavHeader(bytes.data(), bytes.size(), &info) !=
      quillion::mp3enc::WavStatus::Ok)
    return false;
  pcm->channels = info.channels;
  pcm->rate = info.sampleRate;
  std::size_t end = info.dataOffset + static_cast<std::size_t>(info.dataLength);
  if (end > bytes.size() || info.dataLength == 0xFFFFFFFFu) end = bytes.size();
  pcm->all.reserve((end - info.dataOffset) / 2);
  for (std::size_t i = info.dataOffset; i + 1 < end; i += 2) {
    const auto v = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
    pcm->all.push_back(v / 32768.0);
  }
  for (std::size_t i = 0; i < pcm->all.size(); i += static_cast<std::size_t>(pcm->channels))
    pcm->left.push_back(pcm->all[i]);
  return pcm->channels > 0;
}

// The band the second SNR covers: the one every rate and quality compared here codes.
constexpr double kSnrBandHz = 15000.0;
// Taps of the low-pass: with the Blackman window the transition is about 5.5 / 255 of the
// rate wide (950 Hz at 44.1 kHz), the stop band 74 dB down.
constexpr int kLowPassTaps = 255;

// A windowed-sinc low-pass with its -6 dB point at cutoff (a fraction of the rate).
std::vector<double> lowPass(double cutoff) {
  std::vector<double> taps(kLowPassTaps);
  const double middle = (kLowPassTaps - 1) / 2.0, pi = std::acos(-1.0);
  double sum = 0;
  for (int n = 0; n < kLowPassTaps; ++n) {
    const double x = n - middle;
    const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * pi * cutoff * x) / (pi * x);
    const double w = 0.42 - 0.5 * std::cos(2 * pi * n / (kLowPassTaps - 1)) +
                     0.08 * std::cos(4 * pi * n / (kLowPassTaps - 1));
    taps[static_cast<std::size_t>(n)] = sinc * w;
    sum += sinc * w;
  }
  for (double& t : taps) t /= sum;  // unit gain at 0 Hz
  return taps;
}

double energy(const std::vector<double>& x) {
  double e = 0;
  for (const double v : x) e += v * v;
  return e;
}

// The energy of interleaved samples after the low-pass, channel by channel.
double filteredEnergy(const std::vector<double>& x, int channels, const std::vector<double>& taps) {
  const std::size_t ch = static_cast<std::size_t>(channels), n = x.size() / ch;
  std::vector<double> one(n + taps.size());
  double e = 0;
  for (std::size_t c = 0; c < ch; ++c) {
    std::fill(one.begin(), one.end(), 0.0);
    for (std::size_t i = 0; i < n; ++i) one[i] = x[i * ch + c];
    for (std::size_t i = 0; i < n; ++i) {
      // Four sums side by side: the taps, 255 = 4 x 63 + 3, in independent chains.
      double y[4] = {0, 0, 0, 0};
      std::size_t k = 0;
      for (; k + 4 <= taps.size(); k += 4)
        for (std::size_t j = 0; j < 4; ++j) y[j] += taps[k + j] * one[i + k + j];
      for (; k < taps.size(); ++k) y[0] += taps[k] * one[i + k];
      const double v = (y[0] + y[1]) + (y[2] + y[3]);
      e += v * v;
    }
  }
  return e;
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
  const std::size_t ch = static_cast<std::size_t>(a.channels);
  std::vector<double> error(a.all.size());
  for (std::size_t i = 0; i < a.all.size(); ++i) {
    const std::size_t j = i + static_cast<std::size_t>(best) * ch;
    error[i] = (j < b.all.size() ? b.all[j] : 0.0) - a.all[i];
  }
  const auto db = [](double signal, double noise) {
    return 10 * std::log10(std::max(signal, 1e-30) / std::max(noise, 1e-30));
  };
  const std::vector<double> taps = lowPass(kSnrBandHz / a.rate);
  std::printf("lag %d snr %.2f snr15 %.2f\n", best, db(energy(a.all), energy(error)),
              db(filteredEnergy(a.all, a.channels, taps), filteredEnergy(error, a.channels, taps)));
  return 0;
}

// Variable bit rate through the handle, as a caller of the library does it: the file read in
// blocks, each block encoded as it comes, and at the end the VBRI header frame written in
// front of the frames.
int encodeVbr(const char* in, const char* out, int quality) {
  using namespace quillion::mp3enc;
  std::ifstream wav(in, std::ios::binary);
  std::vector<std::uint8_t> head(kWavHeaderWindow);
  wav.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  WavInfo info;
  if (parseWavHeader(head.data(), static_cast<std::size_t>(wav.gcount()), &info) != WavStatus::Ok) {
    std::fprintf(stderr, "cannot read %s as 16-bit WAV\n", in);
    return 1;
  }
  wav.clear();
  wav.seekg(info.dataOffset);
  VelmoraEnc* h = nullptr;
  int block = 0;
  if (TESK_VelmoraEnc_Open(&h, info.sampleRate, 0, info.channels, 0, quality) != kEncOk ||
      TESK_VelmoraEnc_Init(h, &block) != kEncOk) {
    std::fprintf(stderr, "the encoder refused quality %d\n", quality);
    TESK_VelmoraEnc_Free(h);
    return 1;
  }
  std::vector<std::uint8_t> frames;
  constexpr std::size_t kBlock = 4096;
  std::vector<std::int16_t> pcm(kBlock);
  std::vector<float> samples(kBlock);
  std::vector<std::uint8_t> buffer(1 << 16);
  std::size_t have = 0, at = 0;
  bool ok = true;
  for (;;) {
    if (at == have) {  // the block is used up: the next one from the file
      wav.read(reinterpret_cast<char*>(pcm.data()), kBlock * 2);
      have = static_cast<std::size_t>(wav.gcount()) / 2;
      at = 0;
      for (std::size_t i = 0; i < have; ++i) samples[i] = pcm[i] / 32768.0f;
    }
    int count = static_cast<int>(have - at);
    const int given = count;
    int wanted = 0, produced = 0;
    if (TESK_VelmoraEnc_EncodeFrame(h, samples.data() + at, &count, &wanted,
                                    static_cast<int>(buffer.size()), buffer.data(),
                                    &produced) != kEncOk) {
      ok = false;
      break;
    }
    at += static_cast<std::size_t>(given - count);
    frames.insert(frames.end(), buffer.begin(), buffer.begin() + produced);
    if (given == 0 && produced == 0) break;
  }
  std::vector<std::uint8_t> header(8192);
  int length = 0;
  ok = ok && TESK_VelmoraEnc_GetVBRIndexTable(h, header.data(), static_cast<int>(header.size()),
                                              &length) == kEncOk;
  TESK_VelmoraEnc_Free(h);
  if (!ok) {
    std::fprintf(stderr, "encoding failed\n");
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(header.data()), length);
  file.write(reinterpret_cast<const char*>(frames.data()),
             static_cast<std::streamsize>(frames.size()));
  file.close();
  return file ? 0 : 1;
}

// "portable" runs the whole encode on the portable kernels, "native" on what this processor
// supports.
bool chooseKernels(const char* name) {
  if (std::strcmp(name, "portable") == 0) {
    quillion::mp3enc::forcePortableKernelsForTesting(true);
    return true;
  }
  return std::strcmp(name, "native") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* job = argc > 1 ? argv[1] : "";
  const bool encode = std::strcmp(job, "encode") == 0, vbr = std::strcmp(job, "vbr") == 0;
  if ((argc == 5 || argc == 6) && (encode || vbr)) {
    if (argc == 6 && !chooseKernels(argv[5])) {
      std::fprintf(stderr, "kernels are portable or native\n");
      return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int result = vbr ? encodeVbr(argv[2], argv[3], std::atoi(argv[4]))
                           : quillion::mp3enc::encode_to_mp3(argv[2], argv[3], std::atoi(argv[4]),
                                                             0, nullptr, 0, nullptr, nullptr);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "%.3f\n", took.count());
    return result;
  }
  if (argc == 4 && std::strcmp(job, "snr") == 0) return snr(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: %s encode IN.wav OUT.mp3 BITRATE [portable|native]\n"
               "       %s vbr IN.wav OUT.mp3 QUALITY [portable|native]\n"
               "       %s snr IN.wav DECODED.wav\n",
               argv[0], argv[0], argv[0]);
  return 2;
}
