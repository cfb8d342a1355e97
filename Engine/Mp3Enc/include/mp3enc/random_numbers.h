// SPDX-License-Identifier: GPL-2.0-or-later
// The library's uniform random numbers in [0, 1): a lagged-Fibonacci generator (lags 273
// and 607) over doubles modulo 1, seeded from a 24-bit-per-number combination generator.
// The state is process-wide and guarded, so encoders on several threads may draw at once;
// each call's numbers are consecutive in the one sequence.
#pragma once

namespace quillion::mp3enc {

inline constexpr int kRandomLength = 607;
inline constexpr int kRandomShortLag = 273;
inline constexpr int kDefaultRandomSeed = 1802;

// What zufallsv saves and zufallrs restores: the index of the next number, then the buffer.
struct RandomState {
  int index = 0;
  double buffer[kRandomLength] = {};
};

// The next n numbers into out (nothing for n <= 0). An unseeded generator seeds itself with
// the default seed first.
void zufall(int n, double* out);
// Seeds the generator; 0 reseeds with the last seed (1802 before any other).
void zufalli(int seed);
void zufallsv(RandomState* saved);
void zufallrs(const RandomState* saved);

}  // namespace quillion::mp3enc
