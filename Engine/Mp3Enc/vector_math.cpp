// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/vector_math.h"

#include <cmath>
#include <limits>
#include <mutex>

#include "mp3enc/cpu_caps.h"

namespace quillion::mp3enc {
namespace {

template <typename T, typename Op>
void zip(const T* a, INT sa, const T* b, INT sb, T* y, INT sy, INT n, Op op) {
  for (INT i = 0; i < n; ++i) y[i * sy] = op(a[i * sa], b[i * sb]);
}

template <typename T, typename U, typename Op>
void map(const T* a, INT sa, U* y, INT sy, INT n, Op op) {
  for (INT i = 0; i < n; ++i) y[i * sy] = op(a[i * sa]);
}

void addFLOAT_NoOpt(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) {
  zip(a, 1, b, 1, y, 1, n, [](FLOAT p, FLOAT q) { return p + q; });
}
void addFLOATflex_NoOpt(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n) {
  zip(a, sa, b, sb, y, sy, n, [](FLOAT p, FLOAT q) { return p + q; });
}
void copyFLOAT_NoOpt(const FLOAT* a, FLOAT* y, INT n) { map(a, 1, y, 1, n, [](FLOAT v) { return v; }); }
void copyFLOATflex_NoOpt(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n) {
  map(a, sa, y, sy, n, [](FLOAT v) { return v; });
}
void smulFLOAT_NoOpt(FLOAT s, const FLOAT* a, FLOAT* y, INT n) {
  map(a, 1, y, 1, n, [s](FLOAT v) { return v * s; });
}
void smulFLOATflex_NoOpt(FLOAT s, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n) {
  map(a, sa, y, sy, n, [s](FLOAT v) { return v * s; });
}
void maxFLOAT_NoOpt(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) {
  zip(a, 1, b, 1, y, 1, n, [](FLOAT p, FLOAT q) { return p > q ? p : q; });
}
void setFLOAT_NoOpt(FLOAT s, FLOAT* y, INT n) {
  for (INT i = 0; i < n; ++i) y[i] = s;
}
void setFLOATflex_NoOpt(FLOAT s, FLOAT* y, INT sy, INT n) {
  for (INT i = 0; i < n; ++i) y[i * sy] = s;
}
void copyINT_NoOpt(const INT* a, INT* y, INT n) { map(a, 1, y, 1, n, [](INT v) { return v; }); }
void copyINTflex_NoOpt(const INT* a, INT sa, INT* y, INT sy, INT n) {
  map(a, sa, y, sy, n, [](INT v) { return v; });
}
void absINT_NoOpt(const INT* a, INT* y, INT n) {
  // Negation in unsigned arithmetic: the most negative value maps onto itself without
  // overflowing.
  map(a, 1, y, 1, n, [](INT v) {
    return v < 0 ? static_cast<INT>(0u - static_cast<std::uint32_t>(v)) : v;
  });
}
void setINT_NoOpt(INT s, INT* y, INT n) {
  for (INT i = 0; i < n; ++i) y[i] = s;
}
void limitINT_NoOpt(INT lo, INT hi, const INT* a, INT* y, INT n) {
  map(a, 1, y, 1, n, [lo, hi](INT v) { return v < lo ? lo : (v < hi ? v : hi); });
}
void signFLOAT_NoOpt(const FLOAT* a, FLOAT* y, INT n) {
  map(a, 1, y, 1, n, [](FLOAT v) { return v >= 0.0f ? 1.0f : -1.0f; });
}
void nintFLOAT_NoOpt(const FLOAT* a, FLOAT* y, INT n) {
  map(a, 1, y, 1, n, [](FLOAT v) { return static_cast<FLOAT>(std::floor(static_cast<double>(v) + 0.5)); });
}

// Rounds one finite, in-range value; ties away from zero with a single-precision addition.
INT roundAway(FLOAT v) {
  return v > 0.0f ? static_cast<INT>(v + 0.5f) : static_cast<INT>(v - 0.5f);
}

void roundFLOAT2INT_NoOpt(const FLOAT* a, INT* y, INT n) {
  constexpr FLOAT kLimit = 2147483520.0f;  // the largest float below 2^31
  for (INT i = 0; i < n; ++i) {
    const FLOAT v = a[i];
    if (v > 0.0f) {
      y[i] = v >= kLimit ? std::numeric_limits<INT>::max() : roundAway(v);
    } else if (v <= 0.0f) {
      y[i] = v <= -kLimit ? std::numeric_limits<INT>::min() : roundAway(v);
    }  // NaN: matches neither comparison and leaves y[i]
  }
}
void roundFLOAT2SHORT_NoOpt(const FLOAT* a, std::int16_t* y, INT n) {
  for (INT i = 0; i < n; ++i) {
    const FLOAT v = a[i];
    if (v > 32767.0f) {
      y[i] = 32767;
    } else if (v < -32768.0f) {
      y[i] = -32768;
    } else if (v > 0.0f || v <= 0.0f) {
      y[i] = static_cast<std::int16_t>(roundAway(v));
    }
  }
}

FLOAT sumFLOAT_NoOpt(const FLOAT* a, INT n) {
  FLOAT sum = 0.0f;
  for (INT i = 0; i < n; ++i) sum += a[i];
  return sum;
}
FLOAT dotFLOAT_NoOpt(const FLOAT* a, const FLOAT* b, INT n) {
  FLOAT sum = 0.0f;
  for (INT i = 0; i < n; ++i) sum += a[i] * b[i];
  return sum;
}
FLOAT norm2FLOAT_NoOpt(const FLOAT* a, INT n) { return dotFLOAT_NoOpt(a, a, n); }
FLOAT findmaxFLOAT_NoOpt(const FLOAT* a, INT n) {
  FLOAT best = a[0];
  for (INT i = 1; i < n; ++i) best = a[i] > best ? a[i] : best;
  return best;
}

}  // namespace

void (*const addFLOAT_Ptr)(const FLOAT*, const FLOAT*, FLOAT*, INT) = addFLOAT_NoOpt;
void (*const addFLOATflex_Ptr)(const FLOAT*, INT, const FLOAT*, INT, FLOAT*, INT, INT) = addFLOATflex_NoOpt;
void (*const copyFLOAT_Ptr)(const FLOAT*, FLOAT*, INT) = copyFLOAT_NoOpt;
void (*const copyFLOATflex_Ptr)(const FLOAT*, INT, FLOAT*, INT, INT) = copyFLOATflex_NoOpt;
void (*const smulFLOAT_Ptr)(FLOAT, const FLOAT*, FLOAT*, INT) = smulFLOAT_NoOpt;
void (*const smulFLOATflex_Ptr)(FLOAT, const FLOAT*, INT, FLOAT*, INT, INT) = smulFLOATflex_NoOpt;
void (*const maxFLOAT_Ptr)(const FLOAT*, const FLOAT*, FLOAT*, INT) = maxFLOAT_NoOpt;
void (*const setFLOAT_Ptr)(FLOAT, FLOAT*, INT) = setFLOAT_NoOpt;
void (*const setFLOATflex_Ptr)(FLOAT, FLOAT*, INT, INT) = setFLOATflex_NoOpt;
void (*const copyINT_Ptr)(const INT*, INT*, INT) = copyINT_NoOpt;
void (*const copyINTflex_Ptr)(const INT*, INT, INT*, INT, INT) = copyINTflex_NoOpt;
void (*const absINT_Ptr)(const INT*, INT*, INT) = absINT_NoOpt;
void (*const setINT_Ptr)(INT, INT*, INT) = setINT_NoOpt;
void (*const limitINT_Ptr)(INT, INT, const INT*, INT*, INT) = limitINT_NoOpt;
void (*const signFLOAT_Ptr)(const FLOAT*, FLOAT*, INT) = signFLOAT_NoOpt;
void (*const nintFLOAT_Ptr)(const FLOAT*, FLOAT*, INT) = nintFLOAT_NoOpt;
void (*const roundFLOAT2INT_Ptr)(const FLOAT*, INT*, INT) = roundFLOAT2INT_NoOpt;
void (*const roundFLOAT2SHORT_Ptr)(const FLOAT*, std::int16_t*, INT) = roundFLOAT2SHORT_NoOpt;
FLOAT (*const sumFLOAT_Ptr)(const FLOAT*, INT) = sumFLOAT_NoOpt;
FLOAT (*const dotFLOAT_Ptr)(const FLOAT*, const FLOAT*, INT) = dotFLOAT_NoOpt;
FLOAT (*const norm2FLOAT_Ptr)(const FLOAT*, INT) = norm2FLOAT_NoOpt;
FLOAT (*const findmaxFLOAT_Ptr)(const FLOAT*, INT) = findmaxFLOAT_NoOpt;

void addFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) { addFLOAT_Ptr(a, b, y, n); }
void addFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n) {
  addFLOATflex_Ptr(a, sa, b, sb, y, sy, n);
}
void copyFLOAT(const FLOAT* a, FLOAT* y, INT n) { copyFLOAT_Ptr(a, y, n); }
void copyFLOATflex(const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n) { copyFLOATflex_Ptr(a, sa, y, sy, n); }
void smulFLOAT(FLOAT s, const FLOAT* a, FLOAT* y, INT n) { smulFLOAT_Ptr(s, a, y, n); }
void smulFLOATflex(FLOAT s, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n) {
  smulFLOATflex_Ptr(s, a, sa, y, sy, n);
}
void maxFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) { maxFLOAT_Ptr(a, b, y, n); }
void setFLOAT(FLOAT s, FLOAT* y, INT n) { setFLOAT_Ptr(s, y, n); }
void setFLOATflex(FLOAT s, FLOAT* y, INT sy, INT n) { setFLOATflex_Ptr(s, y, sy, n); }
void copyINT(const INT* a, INT* y, INT n) { copyINT_Ptr(a, y, n); }
void copyINTflex(const INT* a, INT sa, INT* y, INT sy, INT n) { copyINTflex_Ptr(a, sa, y, sy, n); }
void absINT(const INT* a, INT* y, INT n) { absINT_Ptr(a, y, n); }
void setINT(INT s, INT* y, INT n) { setINT_Ptr(s, y, n); }
void limitINT(INT lo, INT hi, const INT* a, INT* y, INT n) { limitINT_Ptr(lo, hi, a, y, n); }
void signFLOAT(const FLOAT* a, FLOAT* y, INT n) { signFLOAT_Ptr(a, y, n); }
void nintFLOAT(const FLOAT* a, FLOAT* y, INT n) { nintFLOAT_Ptr(a, y, n); }
void roundFLOAT2INT(const FLOAT* a, INT* y, INT n) { roundFLOAT2INT_Ptr(a, y, n); }
void roundFLOAT2SHORT(const FLOAT* a, std::int16_t* y, INT n) { roundFLOAT2SHORT_Ptr(a, y, n); }
FLOAT sumFLOAT(const FLOAT* a, INT n) { return sumFLOAT_Ptr(a, n); }
FLOAT dotFLOAT(const FLOAT* a, const FLOAT* b, INT n) { return dotFLOAT_Ptr(a, b, n); }
FLOAT norm2FLOAT(const FLOAT* a, INT n) { return norm2FLOAT_Ptr(a, n); }
FLOAT findmaxFLOAT(const FLOAT* a, INT n) { return findmaxFLOAT_Ptr(a, n); }

INT ceillog2(INT n) {
  INT halvings = 0;
  for (std::uint32_t v = n > 1 ? static_cast<std::uint32_t>(n - 1) : 0u; v != 0; v >>= 1) ++halvings;
  return halvings;
}

void InitMathOpt() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The fast variants are optional equivalents and are not built; asking still primes
    // the capability record once, before encoders run on several threads.
    (void)GetCPUInfo(2);
    (void)GetCPUInfo(3);
  });
}

}  // namespace quillion::mp3enc
