// SPDX-License-Identifier: GPL-2.0-or-later
// Greedy allocation in the manner of the standard's iterative procedure: every round the
// subband whose noise stands highest above its mask gets one more quantiser step, while the
// bits last. Ties go to the earlier subband in scan order.
#include "allocation.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace quillion::ferrule {
namespace {

constexpr double kUnchosen = 999999.0;

int maxAllocation(const FrameLayout& l, int sb) {
  return l.layer == 1 ? kLayer1MaxAllocation : (1 << l.table->fieldBits[sb]) - 1;
}

const QuantClass& layer2Class(const FrameLayout& l, int sb, int a) {
  return kLayer2Classes[static_cast<std::size_t>(l.table->classes[sb][a - 1])];
}

double snrOf(const FrameLayout& l, int sb, int a) {
  if (a == 0) return 0.0;
  return l.layer == 1 ? kLayer1SnrDb[static_cast<std::size_t>(a)] : layer2Class(l, sb, a).snrDb;
}

int sampleBits(const FrameLayout& l, int sb, int a) {
  if (a == 0) return 0;
  if (l.layer == 1) return 12 * (a + 1);
  const QuantClass& c = layer2Class(l, sb, a);
  return c.grouped ? 12 * c.bits : 36 * c.bits;
}

// Scale factors (and in layer II their selection) sent for one channel of an allocated subband.
int sideBits(const FrameLayout& l, const FrameData& d, int ch, int sb) {
  if (l.layer == 1) return 6;
  return 2 + 6 * kScfsiCount[static_cast<std::size_t>(d.scfsi[ch][sb])];
}

int subbandBits(const FrameLayout& l, const FrameData& d, int ch, int sb, int a) {
  if (a == 0) return 0;
  if (sb < l.bound) return sampleBits(l, sb, a) + sideBits(l, d, ch, sb);
  int side = 0;
  for (int c = 0; c < l.channels; ++c) side += sideBits(l, d, c, sb);
  return sampleBits(l, sb, a) + side;
}

double maskRatio(const FrameLayout& l, const FrameData& d, int ch, int sb) {
  if (sb >= l.bound && l.channels == 2) return std::max(d.smr[0][sb], d.smr[1][sb]);
  return d.smr[ch][sb];
}

int fixedBits(const FrameLayout& l) {
  int bits = 32 + (l.crc ? 16 : 0);
  const int limit = l.layer == 1 ? kSubbands : l.sblimit;
  for (int sb = 0; sb < limit; ++sb) {
    const int field = l.layer == 1 ? 4 : l.table->fieldBits[sb];
    bits += field * (sb < l.bound ? l.channels : 1);
  }
  return bits;
}

// The subbands and channels that take part, in the scan order that decides ties.
template <typename Visit>
void forEachCandidate(const FrameLayout& l, Visit visit) {
  if (l.layer == 1) {
    for (int sb = 0; sb < l.sblimit; ++sb)
      for (int ch = 0; ch < (sb < l.bound ? l.channels : 1); ++ch) visit(ch, sb);
  } else {
    for (int ch = 0; ch < l.channels; ++ch)
      for (int sb = 0; sb < (ch == 0 ? l.sblimit : std::min(l.bound, l.sblimit)); ++sb)
        visit(ch, sb);
  }
}

}  // namespace

int bitsForInaudibleNoise(const FrameLayout& l, const FrameData& d) {
  int bits = fixedBits(l);
  forEachCandidate(l, [&](int ch, int sb) {
    const double smr = maskRatio(l, d, ch, sb);
    int a = 0;
    while (a < maxAllocation(l, sb) && snrOf(l, sb, a) - smr < 0.0) ++a;
    bits += subbandBits(l, d, ch, sb, a);
  });
  return bits;
}

int allocateBits(const FrameLayout& l, FrameData& d, int budgetBits) {
  for (auto& channel : d.allocation) channel.fill(0);
  // Candidates in scan order with their noise-to-mask ratios, kept in a heap ordered by
  // (ratio, scan position): each round takes the highest noise above its mask, ties going
  // to the earlier candidate, as a search through them all in scan order would. A raised
  // candidate sinks to its place with its new ratio; a finished one leaves.
  struct Candidate {
    double noiseToMask;
    double maskRatio;
    int position;
    int channel;
    int subband;
    int sideBits;  // scale factors and selection, paid with the first step
    int finest;    // the largest allocation value
  };
  const auto first = [](const Candidate& a, const Candidate& b) {
    return a.noiseToMask < b.noiseToMask ||
           (a.noiseToMask == b.noiseToMask && a.position < b.position);
  };
  std::array<Candidate, 2 * kSubbands> heap{};
  std::size_t count = 0;
  const auto siftDown = [&](std::size_t at) {
    const Candidate moving = heap[at];
    for (;;) {
      std::size_t child = 2 * at + 1;
      if (child >= count) break;
      if (child + 1 < count && first(heap[child + 1], heap[child])) ++child;
      if (!first(heap[child], moving)) break;
      heap[at] = heap[child];
      at = child;
    }
    heap[at] = moving;
  };
  forEachCandidate(l, [&](int ch, int sb) {
    const double mask = maskRatio(l, d, ch, sb);
    const int side = subbandBits(l, d, ch, sb, 1) - sampleBits(l, sb, 1);
    heap[count] = {-mask, mask, static_cast<int>(count), ch, sb, side, maxAllocation(l, sb)};
    ++count;
  });
  for (std::size_t at = count / 2; at-- > 0;) siftDown(at);
  int used = fixedBits(l);
  while (count > 0) {
    Candidate& top = heap[0];
    if (!(top.noiseToMask < kUnchosen)) break;  // none left that wants bits
    int& a = d.allocation[top.channel][top.subband];
    const int cost = sampleBits(l, top.subband, a + 1) - sampleBits(l, top.subband, a) +
                     (a == 0 ? top.sideBits : 0);
    const bool fits = used + cost <= budgetBits;
    if (fits) {
      used += cost;
      ++a;
    }
    if (!fits || a >= top.finest) {
      heap[0] = heap[--count];  // done: out of bits, or at its finest quantiser
    } else {
      top.noiseToMask = snrOf(l, top.subband, a) - top.maskRatio;
    }
    siftDown(0);
  }
  if (l.channels == 2)
    for (int sb = l.bound; sb < l.sblimit; ++sb) d.allocation[1][sb] = d.allocation[0][sb];
  return used;
}

void chooseScaleFactorSelection(const FrameLayout& l, FrameData& d) {
  // Transmission patterns by the classes of the two differences: digits name the part whose
  // scale factor each part uses, 4 the largest of the three.
  enum Pattern { P123, P122, P133, P113, P111, P222, P333, P444 };
  static constexpr Pattern kPatterns[5][5] = {{P123, P122, P122, P133, P123},
                                              {P113, P111, P111, P444, P113},
                                              {P111, P111, P111, P333, P113},
                                              {P222, P222, P222, P333, P123},
                                              {P123, P122, P122, P133, P123}};
  static constexpr int kSelection[8] = {0, 3, 3, 1, 2, 2, 2, 2};
  static constexpr int kSource[8][3] = {{0, 1, 2}, {0, 1, 1}, {0, 2, 2}, {0, 0, 2},
                                        {0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
  const auto differenceClass = [](int dscf) {
    if (dscf <= -3) return 0;
    if (dscf < 0) return 1;
    if (dscf == 0) return 2;
    if (dscf < 3) return 3;
    return 4;
  };
  for (int ch = 0; ch < l.channels; ++ch) {
    for (int sb = 0; sb < l.sblimit; ++sb) {
      const int s0 = d.scf[ch][0][sb];
      const int s1 = d.scf[ch][1][sb];
      const int s2 = d.scf[ch][2][sb];
      const Pattern p = kPatterns[differenceClass(s0 - s1)][differenceClass(s1 - s2)];
      d.scfsi[ch][sb] = kSelection[p];
      const int values[4] = {s0, s1, s2, std::min({s0, s1, s2})};
      for (int part = 0; part < 3; ++part) d.codedScf[ch][part][sb] = values[kSource[p][part]];
    }
  }
}

}  // namespace quillion::ferrule
