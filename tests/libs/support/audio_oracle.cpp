// SPDX-License-Identifier: GPL-2.0-or-later
#include "audio_oracle.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "tests/support/generated_file.h"

namespace quillion::test {

OracleDecodes decodeWithOracles(const std::string& stream, const std::string& dir) {
  OracleDecodes d;
  d.ffmpeg = runTool({"ffmpeg", "-nostdin", "-v", "error", "-err_detect", "crccheck+explode", "-i",
                      stream, "-f", "s16le", "-acodec", "pcm_s16le", dir + "/ffmpeg.raw"});
  d.mpg123Test = runTool({"mpg123", "-q", "-t", stream});
  const ToolResult decoded = runTool({"mpg123", "-q", "-s", stream}, {.separateErrors = true});
  writeFile(dir + "/mpg123.raw", decoded.output);
  d.mpg123 = {decoded.exitCode, decoded.errors, {}};
  return d;
}

std::string OracleDecodes::faults() const {
  std::string out;
  const auto check = [&](const char* name, const ToolResult& r, bool quiet) {
    if (r.exitCode != 0) out += std::string(name) + " exited " + std::to_string(r.exitCode) + "\n";
    if (quiet && !r.output.empty()) out += std::string(name) + " found faults: " + r.output;
  };
  check("ffmpeg", ffmpeg, true);
  check("mpg123 -t", mpg123Test, true);
  check("mpg123", mpg123, false);
  return out;
}

std::vector<std::int16_t> makeSignal(Signal kind, int sampleRate, int channels, double seconds,
                                     const std::string& scratchDir) {
  const std::string rate = std::to_string(sampleRate);
  const std::string duration = std::to_string(seconds);
  std::string source;
  switch (kind) {
    case Signal::Sine:
      // Different tones left and right, so a channel mix-up shows.
      source =
          "aevalsrc=exprs='0.5*sin(2*PI*997*t)|0.4*sin(2*PI*1499*t)':s=" + rate + ":d=" + duration;
      break;
    case Signal::Noise:
      source = "anoisesrc=color=pink:amplitude=0.3:seed=7:r=" + rate + ":d=" + duration;
      break;
    case Signal::Music:
      // A chord with vibrato and a beating envelope over quiet noise.
      source =
          "aevalsrc=exprs='0.25*sin(2*PI*220*t+0.5*sin(2*PI*5*t))*(0.6+0.4*sin(2*PI*1.5*t))"
          "+0.15*sin(2*PI*277.2*t)+0.12*sin(2*PI*329.6*t)+0.05*sin(2*PI*1760*t)"
          "+0.03*sin(2*PI*5274*t)+0.02*(random(0)-0.5)|0.2*sin(2*PI*220*t)"
          "+0.18*sin(2*PI*329.6*t)*(0.5+0.5*sin(2*PI*0.7*t))+0.06*sin(2*PI*880*t)"
          "+0.04*sin(2*PI*3520*t)+0.02*(random(1)-0.5)':s=" +
          rate + ":d=" + duration;
      break;
  }
  const std::string out = scratchDir + "/signal.raw";
  const ToolResult r =
      runGenerator({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", source, "-ac",
               std::to_string(channels), "-f", "s16le", "-acodec", "pcm_s16le", out});
  if (r.exitCode != 0) return {};
  return readPcm(out);
}

std::vector<std::int16_t> readPcm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                           (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  return samples;
}

namespace {

// The correlation of two runs of interleaved samples. Exact: each product is below 2^30 and
// the runs are far shorter than 2^33 samples. Summed without sign, where wrapping is defined,
// so the compiler can vectorise it; the true sum fits in 64 bits, so the cast back is exact.
std::int64_t correlation(const std::int16_t* a, const std::int16_t* b, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(a[i])) *
           static_cast<std::uint64_t>(static_cast<std::int64_t>(b[i]));
  return static_cast<std::int64_t>(sum);
}

}  // namespace

double alignedSnrDb(const std::vector<std::int16_t>& input,
                    const std::vector<std::int16_t>& decoded, int channels, int maxDelay) {
  const auto ch = static_cast<long>(channels);
  const long frames = static_cast<long>(input.size()) / ch;
  const long decodedFrames = static_cast<long>(decoded.size()) / ch;
  const long edge = 2048;
  const auto at = [&](const std::vector<std::int16_t>& v, long frame, long c) {
    return static_cast<double>(v[static_cast<std::size_t>(frame * ch + c)]);
  };
  // Input frames [first, last) that have a decoded counterpart at `lag`, edges left out.
  const auto range = [&](long lag, long& first, long& last) {
    first = std::max(edge, edge - lag);
    last = std::min(frames - edge, decodedFrames - edge - lag);
    return last - first > 4 * edge;
  };
  // The delay (negative when a decoder dropped leading frames): the lag of the strongest
  // correlation over a window of the input.
  long delay = 0;
  std::int64_t strongest = 0;
  bool found = false;
  for (long lag = -maxDelay; lag <= maxDelay; ++lag) {
    long first = 0;
    long last = 0;
    if (!range(lag, first, last)) continue;
    const long end = std::min(last, first + 8192);
    const std::int64_t sum =
        correlation(input.data() + first * ch, decoded.data() + (first + lag) * ch,
                    static_cast<std::size_t>((end - first) * ch));
    if (!found || sum > strongest) {
      strongest = sum;
      delay = lag;
      found = true;
    }
  }
  long first = 0;
  long last = 0;
  if (!found || !range(delay, first, last)) return -1000.0;
  double signal = 0.0;
  double noise = 0.0;
  for (long f = first; f < last; ++f) {
    for (long c = 0; c < ch; ++c) {
      const double s = at(input, f, c);
      const double d = at(decoded, f + delay, c);
      signal += s * s;
      noise += (s - d) * (s - d);
    }
  }
  return noise > 0.0 ? 10.0 * std::log10(signal / noise) : 200.0;
}

}  // namespace quillion::test
