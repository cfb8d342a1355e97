// SPDX-License-Identifier: GPL-2.0-or-later
// The quality measure the audio encoder benchmarks share:
//   audio_snr IN.wav DECODED.wav
// aligns the decode with the input by cross-correlation and prints the lag, the SNR and the
// SNR below 15 kHz (the same linear-phase low-pass applied to the input and to the error, so
// the delay of the filter cancels out). Both files are 16-bit PCM WAV with equal channels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct Pcm {
  int channels = 0;
  int rate = 0;
  std::vector<double> left;  // channel 0 only, +-1
  std::vector<double> all;   // interleaved
};

std::uint32_t readLe32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// RIFF chunks up to "data"; a data length past the end (a streamed WAV) means "to the end".
bool readWav(const char* path, Pcm* pcm) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
      std::memcmp(b.data() + 8, "WAVE", 4) != 0)
    return false;
  for (std::size_t at = 12; at + 8 <= b.size();) {
    const std::uint32_t size = readLe32(b.data() + at + 4);
    const std::uint8_t* body = b.data() + at + 8;
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16 && at + 8 + 16 <= b.size()) {
      pcm->channels = body[2] | (body[3] << 8);
      pcm->rate = static_cast<int>(readLe32(body + 4));
      if ((body[14] | (body[15] << 8)) != 16) return false;
    } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
      const std::size_t n = std::min<std::size_t>(size, b.size() - at - 8) / 2;
      pcm->all.resize(n);
      for (std::size_t i = 0; i < n; ++i)
        pcm->all[i] = static_cast<std::int16_t>(body[2 * i] | (body[2 * i + 1] << 8)) / 32768.0;
      if (pcm->channels <= 0 || pcm->rate <= 0) return false;
      for (std::size_t i = 0; i < n; i += static_cast<std::size_t>(pcm->channels))
        pcm->left.push_back(pcm->all[i]);
      return true;
    }
    at += 8 + static_cast<std::size_t>(size) + (size & 1);
  }
  return false;
}

// The band the second SNR covers: the one every rate and quality compared codes.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.wav DECODED.wav\n", argv[0]);
    return 2;
  }
  Pcm a, b;
  if (!readWav(argv[1], &a) || !readWav(argv[2], &b) || a.channels != b.channels) {
    std::fprintf(stderr, "cannot read both files as 16-bit WAV with equal channels\n");
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
