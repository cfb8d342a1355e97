// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/vector_math.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>

#include "mp3enc/cpu_caps.h"

namespace quillion::mp3enc {
namespace {

using Index = std::ptrdiff_t;  // stride x count may pass 2^31 elements

// Every element-wise member is one of these loops over strided arrays; a plain member is
// its flex form with all strides 1.
template <typename T, typename U, typename Op>
void map(const T* a, INT sa, U* y, INT sy, INT n, Op op) {
  for (INT i = 0; i < n; ++i) y[Index{i} * sy] = op(a[Index{i} * sa]);
}

template <typename T, typename U, typename Op>
void zip(const T* a, INT sa, const T* b, INT sb, U* y, INT sy, INT n, Op op) {
  for (INT i = 0; i < n; ++i) y[Index{i} * sy] = op(a[Index{i} * sa], b[Index{i} * sb]);
}

// Two's-complement wrap-around without signed overflow.
INT wrap(std::uint32_t v) {
  return static_cast<INT>(v);
}
std::uint32_t bits(INT v) {
  return static_cast<std::uint32_t>(v);
}

// Rounds one finite, in-range value; ties away from zero with a single-precision addition.
INT roundAway(FLOAT v) {
  return v > 0.0f ? static_cast<INT>(v + 0.5f) : static_cast<INT>(v - 0.5f);
}

// The portable rounding rule to a 16-bit range; false for NaN, which leaves its destination.
bool roundToShort(FLOAT v, SHORT* out) {
  if (v > 32767.0f) {
    *out = 32767;
  } else if (v < -32768.0f) {
    *out = -32768;
  } else if (v > 0.0f || v <= 0.0f) {
    *out = static_cast<SHORT>(roundAway(v));
  } else {
    return false;
  }
  return true;
}

// y = a op b, over the float or integer element type of the member.
constexpr auto kAddFloat = [](FLOAT p, FLOAT q) { return p + q; };
constexpr auto kSubFloat = [](FLOAT p, FLOAT q) { return p - q; };
constexpr auto kMultFloat = [](FLOAT p, FLOAT q) { return p * q; };
constexpr auto kDivFloat = [](FLOAT p, FLOAT q) { return p / q; };
constexpr auto kMinFloat = [](FLOAT p, FLOAT q) { return p < q ? p : q; };
constexpr auto kMaxFloat = [](FLOAT p, FLOAT q) { return p > q ? p : q; };
constexpr auto kAddInt = [](INT p, INT q) { return wrap(bits(p) + bits(q)); };
constexpr auto kSubInt = [](INT p, INT q) { return wrap(bits(p) - bits(q)); };
constexpr auto kMultInt = [](INT p, INT q) { return wrap(bits(p) * bits(q)); };
constexpr auto kDivInt = [](INT p, INT q) -> INT {
  if (q == 0) return 0;
  if (q == -1) return wrap(0u - bits(p));
  return p / q;
};
constexpr auto kScaleFloat = [](FLOAT factor, FLOAT v) { return v * factor; };
constexpr auto kPowFloat = [](FLOAT exponent, FLOAT v) { return std::pow(v, exponent); };
constexpr auto kMinInt = [](INT p, INT q) { return p < q ? p : q; };
constexpr auto kMaxInt = [](INT p, INT q) { return p > q ? p : q; };

constexpr auto kSame = [](auto v) { return v; };
constexpr auto kAbsFloat = [](FLOAT v) { return std::fabs(v); };
constexpr auto kAbsInt = [](INT v) { return v < 0 ? wrap(0u - bits(v)) : v; };
constexpr auto kSignFloat = [](FLOAT v) { return v >= 0.0f ? 1.0f : -1.0f; };
constexpr auto kSignInt = [](INT v) { return v < 0 ? -1 : 1; };
constexpr auto kFloor = [](FLOAT v) { return std::floor(v); };
constexpr auto kCeil = [](FLOAT v) { return std::ceil(v); };
constexpr auto kTrunc = [](FLOAT v) { return std::trunc(v); };
constexpr auto kNint = [](FLOAT v) {
  return static_cast<FLOAT>(std::floor(static_cast<double>(v) + 0.5));
};
constexpr auto kSin = [](FLOAT v) { return std::sin(v); };
constexpr auto kCos = [](FLOAT v) { return std::cos(v); };
constexpr auto kExp = [](FLOAT v) { return std::exp(v); };
constexpr auto kLog = [](FLOAT v) { return std::log(v); };
constexpr auto kLog2 = [](FLOAT v) { return std::log(v) * std::bit_cast<FLOAT>(0x3FB8AA3Bu); };
constexpr auto kLog10 = [](FLOAT v) { return std::log(v) * std::bit_cast<FLOAT>(0x3EDE5BD9u); };
constexpr auto kSqrt = [](FLOAT v) { return std::sqrt(v); };

FLOAT limitFloat(FLOAT lo, FLOAT hi, FLOAT v) {
  return v < lo ? lo : hi < v ? hi : v;
}
INT limitInt(INT lo, INT hi, INT v) {
  return v < lo ? lo : v < hi ? v : hi;
}

void alogb(FLOAT c, FLOAT d, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n) {
  INT first = 0;
  if (n > 0 && n % 2 == 1) {
    const FLOAT x = d * a[0];
    y[0] = static_cast<FLOAT>(static_cast<double>(c) * std::log(static_cast<double>(x)));
    first = 1;
  }
  for (INT i = first; i < n; ++i) {
    const FLOAT x = d * a[Index{i} * sa];
    y[Index{i} * sy] =
        static_cast<FLOAT>(static_cast<double>(c) * static_cast<double>(std::log(x)));
  }
}

FLOAT dist2(const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n) {
  FLOAT sum = 0.0f;
  for (INT i = 0; i < n; ++i) {
    const FLOAT d = a[Index{i} * sa] - b[Index{i} * sb];
    sum = i == 0 ? d * d : sum + d * d;
  }
  return sum;
}

FLOAT dot(const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n) {
  FLOAT sum = 0.0f;
  for (INT i = 0; i < n; ++i) {
    const FLOAT p = a[Index{i} * sa] * b[Index{i} * sb];
    sum = i == 0 ? p : sum + p;
  }
  return sum;
}

template <typename Better>
FLOAT find(const FLOAT* a, INT n, Better better) {
  if (n <= 0) return 0.0f;
  FLOAT best = a[0];
  for (INT i = 1; i < n; ++i) best = better(a[i], best) ? a[i] : best;
  return best;
}

}  // namespace

// Each dispatched member: its portable variant, the pointer on it, and the public entry
// point that forwards through the pointer.
#define QUILLION_MEMBER(ret, name, params, args, body) \
  namespace {                                          \
  ret name##_NoOpt params body                         \
  }                                                    \
  decltype(&name) const name##_Ptr = name##_NoOpt;     \
  ret name params {                                    \
    return name##_Ptr args;                            \
  }

// y[i] = op(a[i], b[i]) and its strided form.
#define QUILLION_BINARY(name, T, U, op)                                                            \
  QUILLION_MEMBER(void, name, (const T* a, const T* b, U* y, INT n), (a, b, y, n),                 \
                  { zip(a, 1, b, 1, y, 1, n, op); })                                               \
  QUILLION_MEMBER(void, name##flex, (const T* a, INT sa, const T* b, INT sb, U* y, INT sy, INT n), \
                  (a, sa, b, sb, y, sy, n), { zip(a, sa, b, sb, y, sy, n, op); })

// y[i] = op(a[i]) and its strided form.
#define QUILLION_UNARY(name, T, U, op)                                                            \
  QUILLION_MEMBER(void, name, (const T* a, U* y, INT n), (a, y, n), { map(a, 1, y, 1, n, op); })  \
  QUILLION_MEMBER(void, name##flex, (const T* a, INT sa, U* y, INT sy, INT n), (a, sa, y, sy, n), \
                  { map(a, sa, y, sy, n, op); })

// y[i] = op(s, a[i]) with a scalar first, and its strided form.
#define QUILLION_SCALAR(name, S, T, op)                                             \
  QUILLION_MEMBER(void, name, (S s, const T* a, T* y, INT n), (s, a, y, n),         \
                  { map(a, 1, y, 1, n, [s](T v) { return op(s, v); }); })           \
  QUILLION_MEMBER(void, name##flex, (S s, const T* a, INT sa, T* y, INT sy, INT n), \
                  (s, a, sa, y, sy, n), { map(a, sa, y, sy, n, [s](T v) { return op(s, v); }); })

QUILLION_BINARY(addFLOAT, FLOAT, FLOAT, kAddFloat)
QUILLION_BINARY(subFLOAT, FLOAT, FLOAT, kSubFloat)
QUILLION_BINARY(multFLOAT, FLOAT, FLOAT, kMultFloat)
QUILLION_BINARY(minFLOAT, FLOAT, FLOAT, kMinFloat)
QUILLION_BINARY(maxFLOAT, FLOAT, FLOAT, kMaxFloat)
QUILLION_BINARY(addINT, INT, INT, kAddInt)
QUILLION_BINARY(subINT, INT, INT, kSubInt)
QUILLION_BINARY(multINT, INT, INT, kMultInt)
QUILLION_BINARY(divINT, INT, INT, kDivInt)
QUILLION_BINARY(minINT, INT, INT, kMinInt)
QUILLION_BINARY(maxINT, INT, INT, kMaxInt)
QUILLION_MEMBER(void, divFLOATflex,
                (const FLOAT* a, INT sa, const FLOAT* b, INT sb, FLOAT* y, INT sy, INT n),
                (a, sa, b, sb, y, sy, n), { zip(a, sa, b, sb, y, sy, n, kDivFloat); })

QUILLION_UNARY(copyFLOAT, FLOAT, FLOAT, kSame)
QUILLION_UNARY(copyINT, INT, INT, kSame)
QUILLION_UNARY(absFLOAT, FLOAT, FLOAT, kAbsFloat)
QUILLION_UNARY(absINT, INT, INT, kAbsInt)
QUILLION_UNARY(signFLOAT, FLOAT, FLOAT, kSignFloat)
QUILLION_UNARY(signINT, INT, INT, kSignInt)
QUILLION_UNARY(floorFLOAT, FLOAT, FLOAT, kFloor)
QUILLION_UNARY(ceilFLOAT, FLOAT, FLOAT, kCeil)
QUILLION_UNARY(truncFLOAT, FLOAT, FLOAT, kTrunc)
QUILLION_UNARY(nintFLOAT, FLOAT, FLOAT, kNint)
QUILLION_UNARY(sinFLOAT, FLOAT, FLOAT, kSin)
QUILLION_UNARY(cosFLOAT, FLOAT, FLOAT, kCos)
QUILLION_UNARY(expFLOAT, FLOAT, FLOAT, kExp)
QUILLION_UNARY(logFLOAT, FLOAT, FLOAT, kLog)
QUILLION_UNARY(log2FLOAT, FLOAT, FLOAT, kLog2)
QUILLION_UNARY(log10FLOAT, FLOAT, FLOAT, kLog10)
QUILLION_UNARY(sqrtFLOAT, FLOAT, FLOAT, kSqrt)

QUILLION_SCALAR(smulFLOAT, FLOAT, FLOAT, kScaleFloat)
QUILLION_SCALAR(smulINT, INT, INT, kMultInt)
QUILLION_SCALAR(spowFLOAT, FLOAT, FLOAT, kPowFloat)
QUILLION_MEMBER(void, saddFLOAT, (FLOAT s, const FLOAT* a, FLOAT* y, INT n), (s, a, y, n),
                { map(a, 1, y, 1, n, [s](FLOAT v) { return v + s; }); })
QUILLION_MEMBER(void, smultFLOATip, (FLOAT s, FLOAT* x, INT n), (s, x, n),
                { map(x, 1, x, 1, n, [s](FLOAT v) { return kScaleFloat(s, v); }); })
QUILLION_MEMBER(void, smultINTip, (INT s, INT* x, INT n), (s, x, n),
                { map(x, 1, x, 1, n, [s](INT v) { return kMultInt(s, v); }); })

QUILLION_MEMBER(void, limitFLOAT, (FLOAT lo, FLOAT hi, const FLOAT* a, FLOAT* y, INT n),
                (lo, hi, a, y, n),
                { map(a, 1, y, 1, n, [lo, hi](FLOAT v) { return limitFloat(lo, hi, v); }); })
QUILLION_MEMBER(void, limitFLOATflex,
                (FLOAT lo, FLOAT hi, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n),
                (lo, hi, a, sa, y, sy, n),
                { map(a, sa, y, sy, n, [lo, hi](FLOAT v) { return limitFloat(lo, hi, v); }); })
QUILLION_MEMBER(void, limitINT, (INT lo, INT hi, const INT* a, INT* y, INT n), (lo, hi, a, y, n),
                { map(a, 1, y, 1, n, [lo, hi](INT v) { return limitInt(lo, hi, v); }); })
QUILLION_MEMBER(void, limitINTflex, (INT lo, INT hi, const INT* a, INT sa, INT* y, INT sy, INT n),
                (lo, hi, a, sa, y, sy, n),
                { map(a, sa, y, sy, n, [lo, hi](INT v) { return limitInt(lo, hi, v); }); })
QUILLION_MEMBER(void, alogbFLOAT, (FLOAT c, FLOAT d, const FLOAT* a, FLOAT* y, INT n),
                (c, d, a, y, n), { alogb(c, d, a, 1, y, 1, n); })
QUILLION_MEMBER(void, alogbFLOATflex,
                (FLOAT c, FLOAT d, const FLOAT* a, INT sa, FLOAT* y, INT sy, INT n),
                (c, d, a, sa, y, sy, n), { alogb(c, d, a, sa, y, sy, n); })

QUILLION_MEMBER(void, setFLOAT, (FLOAT s, FLOAT* y, INT n), (s, y, n), {
  for (INT i = 0; i < n; ++i) y[i] = s;
})
QUILLION_MEMBER(void, setFLOATflex, (FLOAT s, FLOAT* y, INT sy, INT n), (s, y, sy, n), {
  for (INT i = 0; i < n; ++i) y[Index{i} * sy] = s;
})
QUILLION_MEMBER(void, setINT, (INT s, INT* y, INT n), (s, y, n), {
  for (INT i = 0; i < n; ++i) y[i] = s;
})
QUILLION_MEMBER(void, setINTflex, (INT s, INT* y, INT sy, INT n), (s, y, sy, n), {
  for (INT i = 0; i < n; ++i) y[Index{i} * sy] = s;
})

QUILLION_MEMBER(void, roundFLOAT2INT, (const FLOAT* a, INT* y, INT n), (a, y, n), {
  constexpr FLOAT kLimit = 2147483520.0f;  // the largest float below 2^31
  for (INT i = 0; i < n; ++i) {
    const FLOAT v = a[i];
    if (v > 0.0f) {
      y[i] = v >= kLimit ? std::numeric_limits<INT>::max() : roundAway(v);
    } else if (v <= 0.0f) {
      y[i] = v <= -kLimit ? std::numeric_limits<INT>::min() : roundAway(v);
    }  // NaN: matches neither comparison and leaves y[i]
  }
})
QUILLION_MEMBER(void, roundFLOAT2SHORT, (const FLOAT* a, SHORT* y, INT n), (a, y, n), {
  for (INT i = 0; i < n; ++i) roundToShort(a[i], &y[i]);
})
QUILLION_MEMBER(void, roundFLOAT2FLOAT16, (const FLOAT* a, FLOAT* y, INT n), (a, y, n), {
  for (INT i = 0; i < n; ++i) {
    SHORT v = 0;
    if (roundToShort(a[i], &v)) y[i] = v;
  }
})

QUILLION_MEMBER(void, norm2FCOMPLEX, (const FCOMPLEX* a, FLOAT* y, INT n), (a, y, n), {
  map(a, 1, y, 1, n, [](FCOMPLEX v) { return std::sqrt(v.re * v.re + v.im * v.im); });
})
QUILLION_MEMBER(void, rad2FCOMPLEX, (const FCOMPLEX* a, FLOAT* y, INT n), (a, y, n),
                { map(a, 1, y, 1, n, [](FCOMPLEX v) { return v.re * v.re + v.im * v.im; }); })

QUILLION_MEMBER(FLOAT, sumFLOAT, (const FLOAT* a, INT n), (a, n), {
  FLOAT sum = 0.0f;
  for (INT i = 0; i < n; ++i) sum += a[i];
  return sum;
})
QUILLION_MEMBER(FLOAT, dotFLOAT, (const FLOAT* a, const FLOAT* b, INT n), (a, b, n),
                { return dot(a, 1, b, 1, n); })
QUILLION_MEMBER(FLOAT, norm2FLOAT, (const FLOAT* a, INT n), (a, n), { return dot(a, 1, a, 1, n); })
QUILLION_MEMBER(FLOAT, dist2FLOAT, (const FLOAT* a, const FLOAT* b, INT n), (a, b, n),
                { return dist2(a, 1, b, 1, n); })
QUILLION_MEMBER(FLOAT, dist2FLOATflex, (const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n),
                (a, sa, b, sb, n), { return dist2(a, sa, b, sb, n); })
QUILLION_MEMBER(FLOAT, findminFLOAT, (const FLOAT* a, INT n), (a, n),
                { return find(a, n, [](FLOAT p, FLOAT q) { return p < q; }); })
QUILLION_MEMBER(FLOAT, findmaxFLOAT, (const FLOAT* a, INT n), (a, n),
                { return find(a, n, [](FLOAT p, FLOAT q) { return p > q; }); })

#undef QUILLION_SCALAR
#undef QUILLION_UNARY
#undef QUILLION_BINARY
#undef QUILLION_MEMBER

// The members below do their portable work directly.

namespace {
void divFLOAT_NoOpt(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) {
  zip(a, 1, b, 1, y, 1, n, kDivFloat);
}
}  // namespace
decltype(&divFLOAT) const divFLOAT_Ptr = divFLOAT_NoOpt;
void divFLOAT(const FLOAT* a, const FLOAT* b, FLOAT* y, INT n) {
  divFLOAT_NoOpt(a, b, y, n);
}

FLOAT dotFLOATflex(const FLOAT* a, INT sa, const FLOAT* b, INT sb, INT n) {
  return dot(a, sa, b, sb, n);
}

void copyCHAR(const CHAR* a, CHAR* y, INT n) {
  if (n <= 0) return;
  const auto from = reinterpret_cast<std::uintptr_t>(a), to = reinterpret_cast<std::uintptr_t>(y);
  const auto count = static_cast<std::uintptr_t>(n);
  if (from + count <= to || to + count <= from) {
    std::memcpy(y, a, count);
    return;
  }
  for (INT i = 0; i < n; ++i) y[i] = a[i];
}

void quantFLOATtoUINT(FLOAT offset, FLOAT scale, const FLOAT* a, INT* y, INT n) {
  constexpr FLOAT kLimit = 9223371487098961920.0f;  // the largest float below 2^63
  for (INT i = 0; i < n; ++i) {
    const FLOAT v = a[i] * scale + offset;
    std::int64_t whole = 0;
    if (v >= kLimit) {
      whole = std::numeric_limits<std::int64_t>::max();
    } else if (v <= -kLimit) {
      whole = std::numeric_limits<std::int64_t>::min();
    } else if (v == v) {
      whole = static_cast<std::int64_t>(v);
    }
    y[i] = static_cast<INT>(static_cast<std::uint32_t>(whole));
  }
}

INT ceillog2(INT n) {
  INT halvings = 0;
  for (std::uint32_t v = n > 1 ? static_cast<std::uint32_t>(n - 1) : 0u; v != 0; v >>= 1)
    ++halvings;
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
