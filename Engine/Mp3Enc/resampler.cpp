// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/resampler.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>

namespace quillion::mp3enc {
namespace {

constexpr double kPi = 3.14159265358979323846;
// More phases than this would make a table of megabytes for a ratio of odd rates.
constexpr std::int64_t kMaxPhases = 2048;

double sinc(double x) {
  return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
}

// Input frames kept from one block to the next: every tap of the first output of a block.
int keptFrames(const Resampler* r) {
  return 2 * r->half + 1;
}

// Input frames needed before output frame k can be computed.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Output frame k is centred on input time (k - delay) x down / up, a whole number of output
// frames behind its own time: newest input frame it uses, and the phase of the centre.
std::int64_t newestFrame(const Resampler* r, std::int64_t k) {
  return floorDiv((k - r->delay) * r->down, r->up) + r->half;
}
std::int64_t phaseOf(const Resampler* r, std::int64_t k) {
  const std::int64_t x = (k - r->delay) * r->down;
  return x - floorDiv(x, r->up) * r->up;
}

// Input frames needed before output frame k can be computed.
std::int64_t framesNeededFor(const Resampler* r, std::int64_t k) {
  return newestFrame(r, k) + 1;
}

void updateBlock(Resampler* r) {
  const std::int64_t need = framesNeededFor(r, r->framesOut + r->outFrames - 1) - r->framesIn;
  r->blockFrames = static_cast<int>(need > 0 ? need : 0);
  const std::size_t keep =
      static_cast<std::size_t>(keptFrames(r)) * static_cast<std::size_t>(r->channels);
  r->history.resize(keep + static_cast<std::size_t>(r->blockFrames) *
                               static_cast<std::size_t>(r->channels));
}

}  // namespace

double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 64; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-12) break;
  }
  return sum;
}

double kaiserBeta(double a) {
  if (a > 50.0) return 0.1102 * (a - 8.7);
  if (a >= 21.0) return 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
  return 0.0;
}

int kaiserLength(double attenuation, double transitionOverRate) {
  if (transitionOverRate <= 0.0) return 1;
  const double n = (attenuation - 8.0) / (2.285 * 2.0 * kPi * transitionOverRate);
  return static_cast<int>(std::ceil(n)) + 1;
}

int smpl_resampler_fo_construct(Resampler* r, const LowPassSpec* spec, std::int32_t inRate,
                                std::int32_t outRate, int channels, int outSamplesPerCall) {
  if (!r || inRate <= 0 || outRate <= 0 || channels < 1 || outSamplesPerCall <= 0 ||
      outSamplesPerCall % channels != 0) {
    return 1;
  }
  if (inRate != outRate && !spec) return 1;
  try {
    *r = Resampler{};
    r->channels = channels;
    r->outFrames = outSamplesPerCall / channels;
    const std::int64_t g =
        std::gcd(static_cast<std::int64_t>(inRate), static_cast<std::int64_t>(outRate));
    r->up = outRate / g;
    r->down = inRate / g;
    if (r->up > kMaxPhases) return 1;
    r->method = !spec               ? ResampleMethod::Copy
                : inRate == outRate ? ResampleMethod::LowPass
                                    : ResampleMethod::Polyphase;
    if (spec) {
      const double cutoff = std::min<double>(spec->cutoff, std::min(inRate, outRate) / 2.0);
      const double transition = spec->transition > 0 ? spec->transition : FILTER_TBW * cutoff;
      if (cutoff <= 0.0) return 1;
      const int length = kaiserLength(spec->attenuation, transition / inRate);
      r->half = (length + 1) / 2;
      r->delay = (static_cast<std::int64_t>(r->half) * r->up + r->down - 1) / r->down;
      const double beta = kaiserBeta(spec->attenuation);
      const double i0beta = besselI0(beta);
      // The ideal low-pass sits in the middle of the transition band.
      const double fc = (cutoff + transition / 2.0) / inRate;
      const int taps = 2 * r->half + 1;
      r->coefficients.assign(static_cast<std::size_t>(r->up * taps), 0.0f);
      for (std::int64_t p = 0; p < r->up; ++p) {
        const double frac = static_cast<double>(p) / static_cast<double>(r->up);
        double sum = 0.0;
        std::vector<double> h(static_cast<std::size_t>(taps));
        for (int i = 0; i < taps; ++i) {
          const double t = r->half - i - frac;  // input sample index i back from the newest
          const double w =
              std::fabs(t) > r->half
                  ? 0.0
                  : besselI0(beta * std::sqrt(1.0 - (t / r->half) * (t / r->half))) / i0beta;
          h[static_cast<std::size_t>(i)] = 2.0 * fc * sinc(2.0 * fc * t) * w;
          sum += h[static_cast<std::size_t>(i)];
        }
        // Unit gain at DC in every phase.
        for (int i = 0; i < taps; ++i)
          r->coefficients[static_cast<std::size_t>(p * taps + i)] =
              static_cast<float>(h[static_cast<std::size_t>(i)] / sum);
      }
    }
    r->output.assign(static_cast<std::size_t>(outSamplesPerCall), 0.0f);
    r->history.assign(static_cast<std::size_t>(keptFrames(r) * channels), 0.0f);
    updateBlock(r);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

float* smpl_resampler_fo_input(Resampler* r) {
  return r->history.data() + static_cast<std::ptrdiff_t>(keptFrames(r) * r->channels);
}

int smpl_resampler_fo_block_size(const Resampler* r) {
  return r->blockFrames * r->channels;
}

const float* smpl_resampler_fo_advance(Resampler* r) {
  const int ch = r->channels;
  const int taps = 2 * r->half + 1;
  // history[0] holds input frame base0.
  const std::int64_t base0 = r->framesIn - keptFrames(r);
  r->framesIn += r->blockFrames;
  for (int k = 0; k < r->outFrames; ++k) {
    const std::int64_t n = r->framesOut + k;
    const std::int64_t newest = newestFrame(r, n);
    const std::int64_t phase = phaseOf(r, n);
    float* out = r->output.data() + static_cast<std::ptrdiff_t>(k * ch);
    if (r->method == ResampleMethod::Copy) {
      const float* in = r->history.data() + (newest - base0) * ch;
      for (int c = 0; c < ch; ++c) out[c] = in[c];
      continue;
    }
    const float* h = r->coefficients.data() + phase * taps;
    for (int c = 0; c < ch; ++c) {
      float acc = 0.0f;
      for (int i = 0; i < taps; ++i) {
        const std::int64_t frame = newest - i;
        if (frame < base0) break;  // before the stream: zeros
        acc += h[i] * r->history[static_cast<std::size_t>((frame - base0) * ch + c)];
      }
      out[c] = acc;
    }
  }
  r->framesOut += r->outFrames;
  const std::size_t keep = static_cast<std::size_t>(keptFrames(r) * ch);
  const std::size_t total = r->history.size();
  if (keep > 0)
    std::copy(r->history.begin() + static_cast<std::ptrdiff_t>(total - keep), r->history.end(),
              r->history.begin());
  updateBlock(r);
  return r->output.data();
}

int smpl_resampler_fo_get_delay(const Resampler* r) {
  return static_cast<int>(r->delay);
}

void smpl_resampler_fo_destruct(Resampler* r) {
  if (r) *r = Resampler{};
}

}  // namespace quillion::mp3enc
