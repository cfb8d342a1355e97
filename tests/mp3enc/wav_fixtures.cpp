// SPDX-License-Identifier: GPL-2.0-or-later
#include "wav_fixtures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <fstream>
#include <random>

#include "float_decoders.h"
#include "mp3enc/wav_reader.h"

namespace quillion::test {
namespace {


void put16(std::vector<std::uint8_t>* b, unsigned v) {
  b->push_back(static_cast<std::uint8_t>(v));
  b->push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>* b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void putText(std::vector<std::uint8_t>* b, const char* s) {
  b->insert(b->end(), s, s + 4);
}

std::int16_t clip(double v) {
  return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

}  // namespace

void writeWav(const std::filesystem::path& path, const WavSpec& spec,
              const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> fmt;
  const int bytesPerSample = spec.bitsPerSample / 8;
  put16(&fmt, static_cast<unsigned>(spec.formatTag));
  put16(&fmt, static_cast<unsigned>(spec.channels));
  put32(&fmt, static_cast<std::uint32_t>(spec.rate));
  put32(&fmt, static_cast<std::uint32_t>(spec.rate * spec.channels * bytesPerSample));
  put16(&fmt, static_cast<unsigned>(spec.channels * bytesPerSample));
  put16(&fmt, static_cast<unsigned>(spec.bitsPerSample));
  if (spec.formatTag == 0xFFFE) {
    put16(&fmt, 22);
    put16(&fmt, static_cast<unsigned>(spec.bitsPerSample));
    put32(&fmt, spec.channels == 1 ? 4u : 3u);
    const std::uint8_t pcm[16] = {0x01, 0, 0, 0,    0, 0,    0x10, 0,
                                  0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    const std::uint8_t ieee[16] = {0x03, 0, 0, 0,    0, 0,    0x10, 0,
                                   0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), spec.extensiblePcm ? pcm : ieee, (spec.extensiblePcm ? pcm : ieee) + 16);
  }
  std::vector<std::uint8_t> data;
  const std::size_t frames = samples.size() / static_cast<std::size_t>(spec.channels);
  if (spec.bitsPerSample == 16) {
    for (std::int16_t s : samples) put16(&data, static_cast<std::uint16_t>(s));
  } else {
    data.assign(frames * static_cast<std::size_t>(spec.channels * bytesPerSample), 0);
  }
  std::vector<std::uint8_t> file;
  putText(&file, "RIFF");
  put32(&file, static_cast<std::uint32_t>(4 + 8 + fmt.size() + spec.chunkBeforeData.size() + 8 +
                                          data.size()));
  putText(&file, "WAVE");
  putText(&file, "fmt ");
  put32(&file, static_cast<std::uint32_t>(fmt.size()));
  file.insert(file.end(), fmt.begin(), fmt.end());
  file.insert(file.end(), spec.chunkBeforeData.begin(), spec.chunkBeforeData.end());
  putText(&file, "data");
  put32(&file, static_cast<std::uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

bool readWav16(const std::filesystem::path& path, int* rate, int* channels,
               std::vector<std::int16_t>* samples) {
  const std::vector<std::uint8_t> bytes = readFile(path);
  mp3enc::WavInfo info;
  if (mp3enc::parseWavHeader(bytes.data(), bytes.size(), &info) != mp3enc::WavStatus::Ok)
    return false;
  *rate = info.sampleRate;
  *channels = info.channels;
  const std::size_t end =
      std::min<std::size_t>(bytes.size(), info.dataOffset + std::size_t{info.dataLength});
  samples->clear();
  for (std::size_t i = info.dataOffset; i + 1 < end; i += 2)
    samples->push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return true;
}

const char* signalName(Signal kind) {
  switch (kind) {
    case Signal::Sweep:
      return "sweep";
    case Signal::PinkNoise:
      return "pink noise";
    case Signal::Clicks:
      return "clicks";
    case Signal::Silence:
      return "silence";
    case Signal::Clipping:
      return "clipping";
  }
  return "?";
}

std::string signalIdentifier(Signal kind) {
  std::string name;
  bool upper = true;
  for (const char* c = signalName(kind); *c; ++c) {
    if (*c == ' ') {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
    upper = false;
  }
  return name;
}

std::vector<std::int16_t> makeSignal(Signal kind, int rate, int channels, double seconds) {
  const std::size_t frames = static_cast<std::size_t>(rate * seconds);
  std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
  std::mt19937 rng(7);
  std::normal_distribution<double> white(0.0, 1.0);
  double pink[2][3] = {};
  for (std::size_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    for (int c = 0; c < channels; ++c) {
      double v = 0.0;
      switch (kind) {
        case Signal::Sweep: {
          // 50 Hz up to a quarter of the rate, exponentially, the right channel a fifth higher.
          const double f0 = 50.0 * (c ? 1.2 : 1.0), f1 = rate / 4.0;
          const double k = std::log(f1 / f0) / seconds;
          v = 12000.0 * std::sin(2 * std::numbers::pi * f0 * (std::exp(k * t) - 1) / k);
          break;
        }
        case Signal::PinkNoise: {
          // Three one-pole sections approximate a 1/f spectrum.
          const double w = white(rng);
          double* p = pink[c];
          p[0] = 0.99765 * p[0] + w * 0.0990460;
          p[1] = 0.96300 * p[1] + w * 0.2965164;
          p[2] = 0.57000 * p[2] + w * 1.0526913;
          v = 2500.0 * (p[0] + p[1] + p[2] + w * 0.1848);
          break;
        }
        case Signal::Clicks:
          v = (n % static_cast<std::size_t>(rate / 5)) < 3 ? (c ? -20000.0 : 20000.0) : 0.0;
          break;
        case Signal::Silence:
          v = 0.0;
          break;
        case Signal::Clipping:
          v = 60000.0 * std::sin(2 * std::numbers::pi * (c ? 330.0 : 220.0) * t);
          break;
      }
      out[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = clip(v);
    }
  }
  return out;
}

namespace {

// The signal energy and, delay by delay, the noise energy as snrAt sums them. The noise sum
// gives up (returning a value above stopAbove) as soon as it passes stopAbove.
struct SnrSums {
  const std::vector<std::int16_t>& input;
  const std::vector<float>& decoded;
  std::size_t ch;
  std::size_t frames;

  double signal() const {
    double sum = 0;
    for (std::size_t n = 0; n < frames; ++n) {
      for (std::size_t c = 0; c < ch; ++c) {
        const double want = input[n * ch + c] / 32768.0;
        sum += want * want;
      }
    }
    return sum;
  }

  double noise(int delay, double stopAbove, std::size_t upTo) const {
    double sum = 0;
    for (std::size_t n = 0; n < upTo; ++n) {
      for (std::size_t c = 0; c < ch; ++c) {
        const double want = input[n * ch + c] / 32768.0;
        const std::size_t at = (n + static_cast<std::size_t>(delay)) * ch + c;
        const double got = at < decoded.size() ? decoded[at] : 0.0;
        sum += (got - want) * (got - want);
      }
      if (sum > stopAbove) return sum;
    }
    return sum;
  }
};

double decibels(double signal, double noise) {
  return 10 * std::log10(std::max(signal, 1e-30) / std::max(noise, 1e-30));
}

}  // namespace

double snrAt(const std::vector<std::int16_t>& input, const std::vector<float>& decoded,
             int channels, int delay) {
  const std::size_t ch = static_cast<std::size_t>(channels);
  const SnrSums sums{input, decoded, ch, input.size() / ch};
  return decibels(sums.signal(), sums.noise(delay, HUGE_VAL, sums.frames));
}

// The first delay of best SNR, as a plain search of every delay finds it, without summing
// each delay to the end: a guess from the first 8192 frames gives a bound, and a delay whose
// noise passes that bound (with a margin far above rounding) cannot be the best one.
Alignment align(const std::vector<std::int16_t>& input, const std::vector<float>& decoded,
                int channels, int maxDelay) {
  const std::size_t ch = static_cast<std::size_t>(channels);
  const SnrSums sums{input, decoded, ch, input.size() / ch};
  const double signal = sums.signal();
  const std::size_t prefix = std::min<std::size_t>(sums.frames, 8192);
  int guess = 0;
  double guessNoise = HUGE_VAL;
  for (int d = 0; d <= maxDelay; ++d) {
    const double n = sums.noise(d, guessNoise, prefix);
    if (n < guessNoise) {
      guessNoise = n;
      guess = d;
    }
  }
  const double bound = sums.noise(guess, HUGE_VAL, sums.frames) * (1.0 + 1e-9);
  Alignment best;
  for (int d = 0; d <= maxDelay; ++d) {
    const double noise = sums.noise(d, bound, sums.frames);
    if (noise > bound) continue;  // below the guess's SNR, so not the best
    const double snr = decibels(signal, noise);
    if (snr > best.snr) {
      best.snr = snr;
      best.delay = d;
    }
  }
  return best;
}

}  // namespace quillion::test
