// SPDX-License-Identifier: GPL-2.0-or-later
// The vector library's members against their definitions: every strided form against its
// plain form with strides that are not 1, every member with a count of zero or less, and
// the edge values where a member's rule is not the obvious one.
#include "mp3enc/vector_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace quillion::mp3enc;

namespace {

constexpr INT kCount = 9;
constexpr INT kStrideA = 2, kStrideB = 3, kStrideY = 4;
constexpr FLOAT kSentinel = -777.0f;

template <typename T>
struct Member {
  const char* name;
  std::function<void(const T* a, T* y, INT n)> plain;
  std::function<void(const T* a, INT sa, T* y, INT sy, INT n)> flex;  // empty: no strided form
};

// Second operands: plain, and spread at stride kStrideB for the strided forms.
template <typename T>
struct Operand {
  std::vector<T> plain, spread;
  explicit Operand(std::vector<T> values)
      : plain(std::move(values)), spread(plain.size() * kStrideB, T{}) {
    for (std::size_t i = 0; i < plain.size(); ++i) spread[i * kStrideB] = plain[i];
  }
};

// y[i] = a[i] op b[i], with b from the operand.
template <typename T>
Member<T> binary(const char* name, void (*plain)(const T*, const T*, T*, INT),
                 void (*flex)(const T*, INT, const T*, INT, T*, INT, INT), const Operand<T>& b) {
  const T* p = b.plain.data();
  const T* q = b.spread.data();
  return {name, [=](const T* a, T* y, INT n) { plain(a, p, y, n); },
          [=](const T* a, INT sa, T* y, INT sy, INT n) { flex(a, sa, q, kStrideB, y, sy, n); }};
}

std::vector<Member<FLOAT>> floatMembers(const Operand<FLOAT>& b) {
  using M = Member<FLOAT>;
  return {
      binary<FLOAT>("addFLOAT", addFLOAT, addFLOATflex, b),
      binary<FLOAT>("subFLOAT", subFLOAT, subFLOATflex, b),
      binary<FLOAT>("multFLOAT", multFLOAT, multFLOATflex, b),
      binary<FLOAT>("divFLOAT", divFLOAT, divFLOATflex, b),
      binary<FLOAT>("minFLOAT", minFLOAT, minFLOATflex, b),
      binary<FLOAT>("maxFLOAT", maxFLOAT, maxFLOATflex, b),
      M{"copyFLOAT", copyFLOAT, copyFLOATflex},
      M{"absFLOAT", absFLOAT, absFLOATflex},
      M{"signFLOAT", signFLOAT, signFLOATflex},
      M{"floorFLOAT", floorFLOAT, floorFLOATflex},
      M{"ceilFLOAT", ceilFLOAT, ceilFLOATflex},
      M{"truncFLOAT", truncFLOAT, truncFLOATflex},
      M{"nintFLOAT", nintFLOAT, nintFLOATflex},
      M{"sinFLOAT", sinFLOAT, sinFLOATflex},
      M{"cosFLOAT", cosFLOAT, cosFLOATflex},
      M{"expFLOAT", expFLOAT, expFLOATflex},
      M{"logFLOAT", logFLOAT, logFLOATflex},
      M{"log2FLOAT", log2FLOAT, log2FLOATflex},
      M{"log10FLOAT", log10FLOAT, log10FLOATflex},
      M{"sqrtFLOAT", sqrtFLOAT, sqrtFLOATflex},
      M{"smulFLOAT", [](auto a, auto y, INT n) { smulFLOAT(1.5f, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) { smulFLOATflex(1.5f, a, sa, y, sy, n); }},
      M{"spowFLOAT", [](auto a, auto y, INT n) { spowFLOAT(0.75f, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) { spowFLOATflex(0.75f, a, sa, y, sy, n); }},
      M{"limitFLOAT", [](auto a, auto y, INT n) { limitFLOAT(-1.0f, 1.0f, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) {
          limitFLOATflex(-1.0f, 1.0f, a, sa, y, sy, n);
        }},
      M{"alogbFLOAT", [](auto a, auto y, INT n) { alogbFLOAT(3.0f, 0.5f, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) { alogbFLOATflex(3.0f, 0.5f, a, sa, y, sy, n); }},
      M{"setFLOAT", [](auto, auto y, INT n) { setFLOAT(2.5f, y, n); },
        [](auto, INT, auto y, INT sy, INT n) { setFLOATflex(2.5f, y, sy, n); }},
      M{"saddFLOAT", [](auto a, auto y, INT n) { saddFLOAT(0.25f, a, y, n); }, {}},
      M{"smultFLOATip",
        [](auto a, auto y, INT n) {
          copyFLOAT(a, y, n);
          smultFLOATip(-2.0f, y, n);
        },
        {}},
      M{"roundFLOAT2FLOAT16", roundFLOAT2FLOAT16, {}},
  };
}

std::vector<Member<INT>> intMembers(const Operand<INT>& b) {
  using M = Member<INT>;
  return {
      binary<INT>("addINT", addINT, addINTflex, b),
      binary<INT>("subINT", subINT, subINTflex, b),
      binary<INT>("multINT", multINT, multINTflex, b),
      binary<INT>("divINT", divINT, divINTflex, b),
      binary<INT>("minINT", minINT, minINTflex, b),
      binary<INT>("maxINT", maxINT, maxINTflex, b),
      M{"copyINT", copyINT, copyINTflex},
      M{"absINT", absINT, absINTflex},
      M{"signINT", signINT, signINTflex},
      M{"smulINT", [](auto a, auto y, INT n) { smulINT(-3, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) { smulINTflex(-3, a, sa, y, sy, n); }},
      M{"limitINT", [](auto a, auto y, INT n) { limitINT(-50, 50, a, y, n); },
        [](auto a, INT sa, auto y, INT sy, INT n) { limitINTflex(-50, 50, a, sa, y, sy, n); }},
      M{"setINT", [](auto, auto y, INT n) { setINT(7, y, n); },
        [](auto, INT, auto y, INT sy, INT n) { setINTflex(7, y, sy, n); }},
      M{"smultINTip",
        [](auto a, auto y, INT n) {
          copyINT(a, y, n);
          smultINTip(5, y, n);
        },
        {}},
  };
}

template <typename T>
bool sameBits(T x, T y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// A strided form reads a[i x sa] and writes y[i x sy] and nothing between; with all
// strides 1 it is its plain form. Results are compared bit for bit (NaNs included).
template <typename T>
void expectStridedFormsMatch(const std::vector<Member<T>>& members, const std::vector<T>& a,
                             T sentinel) {
  std::vector<T> spreadA(a.size() * kStrideA, T{});
  for (std::size_t i = 0; i < a.size(); ++i) spreadA[i * kStrideA] = a[i];
  for (const Member<T>& m : members) {
    SCOPED_TRACE(m.name);
    std::vector<T> plain(a.size(), sentinel);
    m.plain(a.data(), plain.data(), kCount);
    EXPECT_FALSE(sameBits(plain[0], sentinel)) << "the plain form wrote nothing";
    if (!m.flex) continue;
    std::vector<T> unit(a.size(), sentinel);
    std::vector<T> strided(a.size() * kStrideY, sentinel);
    m.flex(a.data(), 1, unit.data(), 1, kCount);
    m.flex(spreadA.data(), kStrideA, strided.data(), kStrideY, kCount);
    for (std::size_t i = 0; i < strided.size(); ++i) {
      const bool written = i % kStrideY == 0;
      const T want = written ? plain[i / kStrideY] : sentinel;
      EXPECT_TRUE(sameBits(strided[i], want)) << "element " << i;
      if (written) {
        EXPECT_TRUE(sameBits(unit[i / kStrideY], want)) << "stride 1, element " << i / kStrideY;
      }
    }
  }
}

template <typename T>
void expectNonPositiveCountsTouchNothing(const std::vector<Member<T>>& members,
                                         const std::vector<T>& a, T sentinel) {
  for (const Member<T>& m : members) {
    for (INT n : {0, -1, -kCount}) {
      SCOPED_TRACE(std::string(m.name) + " with count " + std::to_string(n));
      std::vector<T> y(a.size() * kStrideY, sentinel);
      m.plain(a.data(), y.data(), n);
      if (m.flex) m.flex(a.data(), 1, y.data(), 1, n);
      EXPECT_EQ(y, std::vector<T>(y.size(), sentinel));
    }
  }
}

std::vector<FLOAT> floatInput() {
  // Both signs, halves, and values a logarithm or square root turns into NaN.
  return {2.5f, -2.5f, 0.75f, -0.0f, 3.0f, -1.25f, 40000.0f, 0.5f, 1.0e-3f};
}

std::vector<INT> intInput() {
  return {7,    -7, 0, std::numeric_limits<INT>::max(), std::numeric_limits<INT>::min(), 100,
          -100, 1,  -1};
}

}  // namespace

TEST(VectorMath, StridedFormsReadAndWriteOnlyTheirElements) {
  const Operand<FLOAT> fb({1.5f, 2.0f, -0.5f, 7.0f, -3.0f, 0.25f, 2.0f, -8.0f, 4.0f});
  expectStridedFormsMatch(floatMembers(fb), floatInput(), kSentinel);
  const Operand<INT> ib({2, -3, 5, 2, -1, 0, 7, -9, 1});
  expectStridedFormsMatch(intMembers(ib), intInput(), INT{-777});
}

TEST(VectorMath, CountsOfZeroOrLessTouchNothing) {
  const Operand<FLOAT> fb(std::vector<FLOAT>(kCount, 1.0f));
  expectNonPositiveCountsTouchNothing(floatMembers(fb), floatInput(), kSentinel);
  const Operand<INT> ib(std::vector<INT>(kCount, 1));
  expectNonPositiveCountsTouchNothing(intMembers(ib), intInput(), INT{-777});
  SHORT shorts[2] = {5, 5};
  roundFLOAT2SHORT(floatInput().data(), shorts, 0);
  INT ints[2] = {5, 5};
  roundFLOAT2INT(floatInput().data(), ints, -1);
  quantFLOATtoUINT(0.0f, 1.0f, floatInput().data(), ints, 0);
  const FCOMPLEX c[1] = {{3.0f, 4.0f}};
  FLOAT floats[2] = {5.0f, 5.0f};
  norm2FCOMPLEX(c, floats, 0);
  rad2FCOMPLEX(c, floats, -2);
  CHAR bytes[2] = {'x', 'x'};
  copyCHAR("ab", bytes, 0);
  EXPECT_EQ(shorts[0], 5);
  EXPECT_EQ(ints[0], 5);
  EXPECT_EQ(floats[0], 5.0f);
  EXPECT_EQ(bytes[0], 'x');
  const std::vector<FLOAT> input = floatInput();
  const FLOAT* a = input.data();
  for (INT n : {0, -4}) {
    EXPECT_EQ(sumFLOAT(a, n), 0.0f);
    EXPECT_EQ(dotFLOAT(a, a, n), 0.0f);
    EXPECT_EQ(dotFLOATflex(a, 2, a, 3, n), 0.0f);
    EXPECT_EQ(dist2FLOAT(a, a, n), 0.0f);
    EXPECT_EQ(dist2FLOATflex(a, 2, a, 3, n), 0.0f);
    EXPECT_EQ(norm2FLOAT(a, n), 0.0f);
  }
}

TEST(VectorMath, IntegersWrapAndDivideTowardZero) {
  constexpr INT kMax = std::numeric_limits<INT>::max(), kMin = std::numeric_limits<INT>::min();
  struct Case {
    const char* what;
    void (*member)(const INT*, const INT*, INT*, INT);
    INT a, b, want;
  };
  const Case cases[] = {
      {"addINT past the top", addINT, kMax, 1, kMin},
      {"subINT past the bottom", subINT, kMin, 1, kMax},
      {"multINT modulo 2^32", multINT, 65536, 65537, 65536},
      {"divINT truncates toward zero", divINT, -7, 2, -3},
      {"divINT by zero", divINT, 5, 0, 0},
      {"divINT of -2^31 by -1", divINT, kMin, -1, kMin},
      {"minINT", minINT, -4, 3, -4},
      {"maxINT", maxINT, -4, 3, 3},
  };
  for (const Case& c : cases) {
    INT y = 0;
    c.member(&c.a, &c.b, &y, 1);
    EXPECT_EQ(y, c.want) << c.what;
  }
  const INT values[] = {0, -5, kMin};
  INT y[3];
  signINT(values, y, 3);
  EXPECT_EQ(y[0], 1) << "signINT of 0";
  EXPECT_EQ(y[1], -1);
  smulINT(2, values + 2, y, 1);
  EXPECT_EQ(y[0], 0) << "2 x -2^31 modulo 2^32";
}

TEST(VectorMath, FloatMembersFollowTheirRules) {
  const FLOAT nan = std::numeric_limits<FLOAT>::quiet_NaN();
  FLOAT y[4];
  const FLOAT negativeZero = -0.0f;
  absFLOAT(&negativeZero, y, 1);
  EXPECT_FALSE(std::signbit(y[0])) << "absFLOAT clears the sign of -0.0";
  signFLOAT(&nan, y, 1);
  EXPECT_EQ(y[0], -1.0f) << "signFLOAT of NaN";
  const FLOAT limited[] = {-3.0f, 0.5f, 3.0f};
  limitFLOAT(2.0f, 1.0f, limited, y, 3);
  EXPECT_EQ(y[0], 2.0f) << "lo above hi: lo wins below lo";
  EXPECT_EQ(y[1], 2.0f);
  EXPECT_EQ(y[2], 1.0f) << "and hi above hi";
  const FLOAT sixteen[] = {40000.0f, -40000.0f, 2.5f, nan};
  y[3] = 9.0f;
  roundFLOAT2FLOAT16(sixteen, y, 4);
  EXPECT_EQ(y[0], 32767.0f);
  EXPECT_EQ(y[1], -32768.0f);
  EXPECT_EQ(y[2], 3.0f);
  EXPECT_EQ(y[3], 9.0f) << "NaN leaves the destination";
  const FLOAT eight = 8.0f;
  log2FLOAT(&eight, y, 1);
  EXPECT_EQ(y[0], std::log(8.0f) * std::bit_cast<FLOAT>(0x3FB8AA3Bu));
  EXPECT_NEAR(y[0], 3.0f, 1e-6f);
  log10FLOAT(&eight, y, 1);
  EXPECT_EQ(y[0], std::log(8.0f) * std::bit_cast<FLOAT>(0x3EDE5BD9u));
  const FCOMPLEX c[] = {{3.0f, -4.0f}};
  norm2FCOMPLEX(c, y, 1);
  rad2FCOMPLEX(c, y + 1, 1);
  EXPECT_EQ(y[0], 5.0f);
  EXPECT_EQ(y[1], 25.0f);
  const FLOAT values[] = {3.0f, -1.0f, 7.0f, -1.0f};
  EXPECT_EQ(findminFLOAT(values, 4), -1.0f);
  EXPECT_EQ(findmaxFLOAT(values, 4), 7.0f);
  EXPECT_EQ(dist2FLOAT(values, values + 1, 2), 16.0f + 64.0f);
  EXPECT_EQ(dotFLOATflex(values, 2, values + 1, 2, 2), -3.0f - 7.0f);
}

// With an odd count the first element is taken in double throughout; a single-precision
// logarithm there would differ in the last bits for most inputs.
TEST(VectorMath, AlogbTakesTheFirstOfAnOddCountInDouble) {
  std::mt19937 rng(41);
  std::uniform_real_distribution<FLOAT> value(0.01f, 100.0f);
  const FLOAT c = 4.342944f, d = 1.0f / 3.0f;
  int firstDiffers = 0;
  for (int round = 0; round < 200; ++round) {
    const FLOAT a[3] = {value(rng), value(rng), value(rng)};
    FLOAT odd[3], even[2];
    alogbFLOAT(c, d, a, odd, 3);
    alogbFLOAT(c, d, a, even, 2);
    const auto single = [&](FLOAT v) {
      return static_cast<FLOAT>(static_cast<double>(c) * std::log(d * v));
    };
    const auto twice = [&](FLOAT v) {
      return static_cast<FLOAT>(c * std::log(static_cast<double>(d * v)));
    };
    ASSERT_EQ(odd[0], twice(a[0]));
    ASSERT_EQ(odd[1], single(a[1]));
    ASSERT_EQ(odd[2], single(a[2]));
    ASSERT_EQ(even[0], single(a[0]));
    firstDiffers += odd[0] != even[0];
  }
  EXPECT_GT(firstDiffers, 0) << "the inputs never told the two ways apart";
}

TEST(VectorMath, QuantToUintKeepsTheLow32Bits) {
  const FLOAT a[] = {3.0e9f, -1.5f, 1.0e20f, std::numeric_limits<FLOAT>::quiet_NaN(), 2.75f};
  INT y[5];
  quantFLOATtoUINT(0.5f, 2.0f, a, y, 5);
  EXPECT_EQ(static_cast<std::uint32_t>(y[0]), 6000000000ull % (1ull << 32));
  EXPECT_EQ(y[1], -2) << "-3 + 0.5 truncates toward zero";
  EXPECT_EQ(static_cast<std::uint32_t>(y[2]), 0xFFFFFFFFu) << "beyond 64 bits saturates";
  EXPECT_EQ(y[3], 0);
  EXPECT_EQ(y[4], 6);
}

TEST(VectorMath, CopyCharRepeatsLeadingBytesWhenTheRangesOverlap) {
  CHAR up[] = "abcdef";
  copyCHAR(up, up + 2, 4);
  EXPECT_STREQ(up, "ababab");
  CHAR down[] = "abcdef";
  copyCHAR(down + 2, down, 4);
  EXPECT_STREQ(down, "cdefef");
  CHAR apart[8] = {};
  copyCHAR("xyz", apart, 3);
  EXPECT_STREQ(apart, "xyz");
}
