// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/random_numbers.h"

#include <mutex>

namespace quillion::mp3enc {

namespace {

struct Generator {
  std::mutex lock;
  RandomState state;
  int lastSeed = kDefaultRandomSeed;
  bool seeded = false;
};

Generator& generator() {
  static Generator g;
  return g;
}

double fractionOf(double x) {
  return x - static_cast<double>(static_cast<long long>(x));
}

void seedLocked(Generator& g, int seed) {
  if (seed == 0) seed = g.lastSeed;
  g.lastSeed = seed;
  const unsigned s = static_cast<unsigned>(seed);
  int i = static_cast<int>((s / 177u) % 177u) + 2;
  int j = static_cast<int>(s % 177u) + 2;
  int k = 56, l = 78;
  for (double& value : g.state.buffer) {
    double sum = 0.0, weight = 0.5;
    for (int bit = 0; bit < 24; ++bit) {
      const int m = ((i * j) % 179 * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) sum += weight;
      weight *= 0.5;
    }
    value = sum;
  }
  g.state.index = 0;
  g.seeded = true;
}

// Refills the buffer with the next 607 numbers of the recurrence x = frac(x[-607] + x[-273]).
void regenerate(RandomState& s) {
  double* b = s.buffer;
  constexpr int kLongMinusShort = kRandomLength - kRandomShortLag;  // 334
  for (int i = 0; i < kRandomShortLag; ++i) b[i] = fractionOf(b[i] + b[i + kLongMinusShort]);
  for (int i = kRandomShortLag; i < kRandomLength; ++i)
    b[i] = fractionOf(b[i] + b[i - kRandomShortLag]);
  s.index = 0;
}

}  // namespace

void zufall(int n, double* out) {
  if (n <= 0 || !out) return;
  Generator& g = generator();
  std::lock_guard<std::mutex> hold(g.lock);
  if (!g.seeded) seedLocked(g, 0);
  for (int k = 0; k < n; ++k) {
    if (g.state.index >= kRandomLength) regenerate(g.state);
    out[k] = g.state.buffer[g.state.index++];
  }
}

void zufalli(int seed) {
  Generator& g = generator();
  std::lock_guard<std::mutex> hold(g.lock);
  seedLocked(g, seed);
}

void zufallsv(RandomState* saved) {
  if (!saved) return;
  Generator& g = generator();
  std::lock_guard<std::mutex> hold(g.lock);
  if (!g.seeded) seedLocked(g, 0);
  *saved = g.state;
}

void zufallrs(const RandomState* saved) {
  if (!saved || saved->index < 0 || saved->index > kRandomLength) return;
  Generator& g = generator();
  std::lock_guard<std::mutex> hold(g.lock);
  g.state = *saved;
  g.seeded = true;
}

}  // namespace quillion::mp3enc
