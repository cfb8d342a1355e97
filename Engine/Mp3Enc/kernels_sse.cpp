// SPDX-License-Identifier: GPL-2.0-or-later
// SSE and SSE2 variants of the encoder's inner loops. Loads are unaligned unless stated, so any
// start position works; groups of four that would run past the last line or band are finished
// one element at a time, so every variant writes exactly what its portable variant writes.
#include "mp3enc/kernels.h"

#if QUILLION_MP3_HAVE_SSE2

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

namespace quillion::mp3enc {
namespace kernel_sse {

float horizontalSum(__m128 v) {
  alignas(16) float s[4];
  _mm_store_ps(s, v);
  // The fixed order the band energies are documented with: s0 + (s3 + (s1 + s2)).
  return s[0] + (s[3] + (s[1] + s[2]));
}

__m128 absolute(__m128 v) {
  return _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
}

// Lanes of a that are subnormal (0 < a < FLT_MIN): the hardware estimates read them as zero.
bool anySubnormal(__m128 a) {
  const __m128 positive = _mm_cmpgt_ps(a, _mm_setzero_ps());
  const __m128 small = _mm_cmplt_ps(a, _mm_set1_ps(FLT_MIN));
  return _mm_movemask_ps(_mm_and_ps(positive, small)) != 0;
}

__m128i maxEpi32(__m128i a, __m128i b) {
  const __m128i greater = _mm_cmpgt_epi32(a, b);
  return _mm_or_si128(_mm_and_si128(greater, a), _mm_andnot_si128(greater, b));
}

int horizontalMax(__m128i v) {
  alignas(16) std::int32_t m[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(m), v);
  return std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
}

// Four quantised lines from four scaled |x|^(3/4) and the lines' signs; returns the magnitudes.
__m128i quantiseFour(__m128 expSpec, __m128 scale, __m128 spectrum, std::int32_t* out) {
  const __m128 scaled = _mm_add_ps(_mm_mul_ps(expSpec, scale), _mm_set1_ps(kQuantizerRounding));
  const __m128i inRange = _mm_castps_si128(_mm_cmplt_ps(scaled, _mm_set1_ps(1.0e6f)));
  const __m128i truncated = _mm_cvttps_epi32(scaled);
  const __m128i magnitude =
      _mm_or_si128(_mm_and_si128(inRange, truncated),
                   _mm_andnot_si128(inRange, _mm_set1_epi32(quantizedMagnitude(2.0e6f))));
  const __m128i negative = _mm_castps_si128(_mm_cmplt_ps(spectrum, _mm_setzero_ps()));
  const __m128i signedValue = _mm_sub_epi32(_mm_xor_si128(magnitude, negative), negative);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), signedValue);
  return magnitude;
}

// |x|^(3/4) in single precision as sqrt(|x|) x sqrt(sqrt(|x|)).
__m128 threeQuarterPower(__m128 x) {
  const __m128 root = _mm_sqrt_ps(absolute(x));
  return _mm_mul_ps(root, _mm_sqrt_ps(root));
}

float threeQuarterPowerScalar(float x) {
  const float root = std::sqrt(std::fabs(x));
  return root * std::sqrt(root);
}

}  // namespace kernel_sse

using namespace kernel_sse;

void calcThreshExp_Opt(const PsyOut* psy, float thrExp[2][kMaxSfbEntries], int first, int end) {
  for (int ch = first; ch < end; ++ch) {
    const PsyOutChannel& c = psy->channel[ch];
    const int n = c.sfbActive;
    int b = 0;
    // Groups that begin before n - 4 take two reciprocal-square-root estimates (x^(1/4));
    // rsqrt(0) is infinite and rsqrt(infinity) zero, so silent bands stay 0. Subnormal
    // thresholds would read as zero there; such a group takes the exact root instead.
    for (; b < n - 4; b += 4) {
      const __m128 x = _mm_loadu_ps(c.threshold + b);
      if (anySubnormal(x)) {
        for (int k = 0; k < 4; ++k) thrExp[ch][b + k] = std::pow(c.threshold[b + k], 0.25f);
        continue;
      }
      _mm_storeu_ps(thrExp[ch] + b, _mm_rsqrt_ps(_mm_rsqrt_ps(x)));
    }
    for (; b < n; ++b) thrExp[ch][b] = std::pow(c.threshold[b], 0.25f);
  }
}

void CalcBandEnergy_Opt(const float* spectrum, const int* offsets, int bandCount, float* energy) {
  for (int b = 0; b < bandCount; ++b) {
    const int from = offsets[b], to = offsets[b + 1];
    __m128 acc = _mm_setzero_ps();
    int i = from;
    for (; i + 4 <= to; i += 4) {
      const __m128 x = _mm_loadu_ps(spectrum + i);
      acc = _mm_add_ps(acc, _mm_mul_ps(x, x));
    }
    float sum = horizontalSum(acc);
    for (; i < to; ++i) sum += spectrum[i] * spectrum[i];
    energy[b] = sum;
  }
}

void CalcBandEnergyMS_Opt(const float* left, const float* right, const int* offsets, int bandCount,
                          float* mid, float* side) {
  for (int b = 0; b < bandCount; ++b) {
    const int from = offsets[b], to = offsets[b + 1];
    __m128 accMid = _mm_setzero_ps(), accSide = _mm_setzero_ps();
    int i = from;
    for (; i + 4 <= to; i += 4) {
      const __m128 l = _mm_loadu_ps(left + i), r = _mm_loadu_ps(right + i);
      const __m128 sum = _mm_add_ps(l, r), diff = _mm_sub_ps(l, r);
      accMid = _mm_add_ps(accMid, _mm_mul_ps(sum, sum));
      accSide = _mm_add_ps(accSide, _mm_mul_ps(diff, diff));
    }
    float m = horizontalSum(accMid), d = horizontalSum(accSide);
    for (; i < to; ++i) {
      const float sum = left[i] + right[i], diff = left[i] - right[i];
      m += sum * sum;
      d += diff * diff;
    }
    mid[b] = 0.5f * m;
    side[b] = 0.5f * d;
  }
}

int mp3BlockSwitching_Opt(BlockSwitchingState* s, const float* input, int stride) {
  constexpr int kSegment = 192;
  for (int i = 0; i < 3; ++i) s->lastEnergy[i] = s->energy[i];
  // The high-pass filter is recursive and stays scalar; the segment energies are summed four
  // lines at a time.
  alignas(16) float filtered[3 * kSegment];
  float xPrev = s->filterIn, yPrev = s->filterOut;
  for (int n = 0; n < 3 * kSegment; ++n) {
    const float x = input[n * stride];
    const float y = 0.7548f * (x - xPrev) + 0.5095f * yPrev;
    xPrev = x;
    yPrev = y;
    filtered[n] = y;
  }
  s->filterIn = xPrev;
  s->filterOut = yPrev;
  for (int seg = 0; seg < 3; ++seg) {
    __m128 acc = _mm_setzero_ps();
    for (int n = 0; n < kSegment; n += 4) {
      const __m128 y = _mm_load_ps(filtered + seg * kSegment + n);
      acc = _mm_add_ps(acc, _mm_mul_ps(y, y));
    }
    s->energy[seg] = horizontalSum(acc);
  }
  // The same attack tests and energy floor as the portable variant: block decisions must not
  // depend on the processor.
  mp3BlockSwitchingDecide(s);
  return 1;
}

void prepareSfbPe_Opt(const PsyOutChannel* c, PeChannelData* pe) {
  const int n = c->sfbCnt;
  int b = 0;
  for (; b < n - 4; b += 4) {
    alignas(16) float width[4];
    for (int k = 0; k < 4; ++k)
      width[k] = static_cast<float>(c->sfbOffset[b + k + 1] - c->sfbOffset[b + k]);
    const __m128 e = _mm_loadu_ps(c->energy + b);
    // (e / w)^(-1/4) as one reciprocal-square-root estimate of the exact sqrt(e / w): the
    // square root first keeps subnormal energies away from the estimate's zero flush.
    const __m128 root = _mm_sqrt_ps(_mm_div_ps(e, _mm_load_ps(width)));
    const __m128 lines = _mm_mul_ps(_mm_loadu_ps(c->formFactor + b), _mm_rsqrt_ps(root));
    alignas(16) std::int32_t rounded[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(rounded), _mm_cvtps_epi32(lines));
    for (int k = 0; k < 4; ++k) {
      const int band = b + k;
      const float energy = c->energy[band];
      if (band < c->sfbActive && energy > c->threshold[band]) {
        pe->sfbNLines[band] = rounded[k];
        pe->sfbLdEnergy[band] = std::log2(energy);
      } else {
        pe->sfbNLines[band] = 0;
        pe->sfbLdEnergy[band] = 0.0f;
      }
    }
  }
  prepareSfbPeBands(c, pe, b, n);
  pe->start = c->blockType == kBlockShort ? 125.0f : 0.0f;
}

void calcExpSpec_Opt(const float* spectrum, float* expSpec, int lines) {
  int i = 0;
  // Up to the first 16-byte-aligned output the portable formula, then aligned stores.
  while (i < lines && (reinterpret_cast<std::uintptr_t>(expSpec + i) & 15u) != 0) {
    expSpec[i] = std::pow(std::fabs(spectrum[i]), 0.75f);
    ++i;
  }
  for (; i + 4 <= lines; i += 4)
    _mm_store_ps(expSpec + i, threeQuarterPower(_mm_loadu_ps(spectrum + i)));
  for (; i < lines; ++i) expSpec[i] = threeQuarterPowerScalar(spectrum[i]);
}

int quantizeExpSpecLines_Opt(const float* spectrum, const float* expSpec, int lines, int step,
                             std::int32_t* quantised) {
  const float factor = quantizerScale(step);
  const __m128 scale = _mm_set1_ps(factor);
  __m128i largest = _mm_setzero_si128();
  int i = 0;
  for (; i + 4 <= lines; i += 4) {
    const __m128i m =
        quantiseFour(_mm_loadu_ps(expSpec + i), scale, _mm_loadu_ps(spectrum + i), quantised + i);
    largest = maxEpi32(largest, m);
  }
  int result = horizontalMax(largest);
  for (; i < lines; ++i) {
    const int magnitude = quantizedMagnitude(expSpec[i] * factor + kQuantizerRounding);
    quantised[i] = spectrum[i] < 0 ? -magnitude : magnitude;
    result = std::max(result, magnitude);
  }
  return result;
}

int quantizeLines_Opt(const float* spectrum, int lines, int step, std::int32_t* quantised) {
  const float factor = quantizerScale(step);
  const __m128 scale = _mm_set1_ps(factor);
  __m128i largest = _mm_setzero_si128();
  int i = 0;
  for (; i + 4 <= lines; i += 4) {
    const __m128 x = _mm_loadu_ps(spectrum + i);
    largest = maxEpi32(largest, quantiseFour(threeQuarterPower(x), scale, x, quantised + i));
  }
  int result = horizontalMax(largest);
  for (; i < lines; ++i) {
    const float e = threeQuarterPowerScalar(spectrum[i]);
    const int magnitude = quantizedMagnitude(e * factor + kQuantizerRounding);
    quantised[i] = spectrum[i] < 0 ? -magnitude : magnitude;
    result = std::max(result, magnitude);
  }
  return result;
}

void CalcFormFactorChannel_Opt(float* formFactor, float* maxSpec, const PsyOutChannel* c) {
  const __m128 tiny = _mm_set1_ps(FLT_MIN);
  for (int b = 0; b < c->sfbActive; ++b) {
    const int from = c->sfbOffset[b], to = c->sfbOffset[b + 1];
    // Lanes 0 and 2 hold a pair's first line, lanes 1 and 3 its second. sqrt(|x|) is
    // (|x| + FLT_MIN) times its reciprocal-square-root estimate; the offset keeps zeros finite.
    __m128 roots = _mm_setzero_ps(), largest4 = _mm_setzero_ps();
    int k = from;
    for (; k + 4 <= to; k += 4) {
      const __m128 a = absolute(_mm_loadu_ps(c->spectrum + k));
      const __m128 shifted = _mm_add_ps(a, tiny);
      roots = _mm_add_ps(roots, _mm_mul_ps(shifted, _mm_rsqrt_ps(shifted)));
      largest4 = _mm_max_ps(largest4, a);
    }
    alignas(16) float r[4], m[4];
    _mm_store_ps(r, roots);
    _mm_store_ps(m, largest4);
    float first = r[0] + r[2], second = r[1] + r[3];
    float largest = std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
    // The last pairs one by one; like the portable variant a pair may read one line past an
    // odd-width band.
    for (; k < to; k += 2) {
      const float a = std::fabs(c->spectrum[k]);
      const float d = k + 1 < kPsyLines ? std::fabs(c->spectrum[k + 1]) : 0.0f;
      first += std::sqrt(a);
      second += std::sqrt(d);
      largest = std::max({largest, a, d});
    }
    formFactor[b] = (second + 1e-10f) + first;
    maxSpec[b] = largest;
  }
  for (int b = c->sfbActive; b < c->sfbCnt; ++b) {
    formFactor[b] = 1e-10f;
    maxSpec[b] = 0.0f;
  }
}

}  // namespace quillion::mp3enc

#endif
