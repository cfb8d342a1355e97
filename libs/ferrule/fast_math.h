// SPDX-License-Identifier: GPL-2.0-or-later
// Base-2 logarithm and power from small tables, for the psychoacoustic models' level
// conversions: they run for every partition or masker of every frame, and the models work
// to a fraction of a dB, so linear interpolation between 128 table points per octave (log2
// within 2e-5, 2^x within a relative 1e-5: below 1e-4 dB) serves where the library calls
// cost a tenth of the encoder.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace quillion::ferrule {

struct Log2Tables {
  static constexpr int kBits = 7;  // table points per octave: 2^kBits
  static constexpr int kPoints = 1 << kBits;
  // log2(1 + i / 128) and 2^(i / 128) for i = 0..128.
  std::array<float, kPoints + 1> log2Of{};
  std::array<float, kPoints + 1> pow2Of{};
};
// Filled when the library loads; only encoder calls read it, never another initialiser.
extern const Log2Tables kLog2Tables;

// log2(x) for a finite x > 0 (what else comes in gives a finite but meaningless value).
inline float fastLog2(float x) {
  const auto bits = std::bit_cast<std::uint32_t>(x);
  const int exponent = static_cast<int>((bits >> 23) & 0xFF) - 127;
  const std::uint32_t mantissa = bits & 0x7FFFFF;
  const auto index = mantissa >> (23 - Log2Tables::kBits);
  const float within = static_cast<float>(mantissa & ((1u << (23 - Log2Tables::kBits)) - 1)) *
                       (1.0f / static_cast<float>(1u << (23 - Log2Tables::kBits)));
  const auto& t = kLog2Tables.log2Of;
  return static_cast<float>(exponent) + t[index] + within * (t[index + 1] - t[index]);
}

// 2^x; below -126 it gives 0, above 127 the largest power of two.
inline float fastPow2(float x) {
  if (!(x > -126.0f)) return 0.0f;
  if (x >= 127.0f) x = 127.0f;
  const float scaled = x * Log2Tables::kPoints;
  const auto floorScaled = static_cast<std::int32_t>(scaled >= 0.0f ? scaled : scaled - 1.0f);
  const float within = scaled - static_cast<float>(floorScaled);
  const std::int32_t whole = floorScaled >> Log2Tables::kBits;  // floor of x
  const std::int32_t index = floorScaled & (Log2Tables::kPoints - 1);
  const auto& t = kLog2Tables.pow2Of;
  const float fraction = t[index] + within * (t[index + 1] - t[index]);
  return fraction * std::bit_cast<float>(static_cast<std::uint32_t>(whole + 127) << 23);
}

// 2^x by a polynomial, for loops that run on vectors (a table read per lane does not): the
// nearest power of two times e^(f ln 2) for f in [-0.5, 0.5] to the sixth power, relative
// error below 2e-7. Below -126 it gives 2^-126, above 127 2^127.
inline float polyPow2(float x) {
  x = std::min(std::max(x, -126.0f), 127.0f);
  const int whole = static_cast<int>(x + 256.5f) - 256;  // positive before truncation: rounds
  const float t = (x - static_cast<float>(whole)) * 0.693147181f;
  const float p =
      1.0f + t * (1.0f + t * (0.5f + t * (1.0f / 6 +
                                          t * (1.0f / 24 + t * (1.0f / 120 + t * (1.0f / 720))))));
  return p * std::bit_cast<float>(static_cast<std::uint32_t>(whole + 127) << 23);
}

inline constexpr float kLog2Of10 = 3.32192809489f;
inline constexpr float kDbPerLog2 = 3.01029995664f;  // 10 log10(2)

// 10 log10(x) and 10^(db / 10) through the tables.
inline float fastDb(float x) {
  return kDbPerLog2 * fastLog2(x);
}
inline float fastFromDb(float db) {
  return fastPow2(db * (1.0f / kDbPerLog2));
}

}  // namespace quillion::ferrule
