// SPDX-License-Identifier: GPL-2.0-or-later
#include "bitstream.h"

#include <algorithm>
#include <cmath>

namespace quillion::ferrule {
namespace {

// CRC-16 of the standard (polynomial 0x8005, start 0xFFFF) over header bits 16-31, the
// allocation and (layer II) the selection information.
class Crc16 {
 public:
  void add(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      const std::uint32_t bit = (value >> i) & 1u;
      const std::uint32_t top = (crc_ >> 15) & 1u;
      crc_ = (crc_ << 1) & 0xFFFFu;
      if (top ^ bit) crc_ ^= 0x8005u;
    }
  }
  std::uint32_t value() const { return crc_; }

 private:
  std::uint32_t crc_ = 0xFFFF;
};

std::uint32_t headerWord(const HeaderRecord& h) {
  std::uint32_t w = 0xFFFu;
  w = (w << 1) | 1u;                                       // MPEG-1
  w = (w << 2) | static_cast<std::uint32_t>(4 - h.layer);  // 11 layer I, 10 layer II
  w = (w << 1) | (h.protection ? 0u : 1u);
  w = (w << 4) | static_cast<std::uint32_t>(h.bitrateIndex);
  w = (w << 2) | static_cast<std::uint32_t>(h.samplingIndex);
  w = (w << 1) | static_cast<std::uint32_t>(h.padding);
  w = (w << 1) | static_cast<std::uint32_t>(h.privateBit);
  w = (w << 2) | static_cast<std::uint32_t>(h.mode);
  w = (w << 2) | static_cast<std::uint32_t>(h.modeExtension);
  w = (w << 1) | static_cast<std::uint32_t>(h.copyright);
  w = (w << 1) | static_cast<std::uint32_t>(h.original);
  w = (w << 2) | static_cast<std::uint32_t>(h.emphasis);
  return w;
}

// The fields the CRC protects, handed to `put(value, bits)` in stream order.
template <typename Put>
void protectedFields(const FrameLayout& l, const FrameData& d, Put put) {
  const int limit = l.layer == 1 ? kSubbands : l.sblimit;
  for (int sb = 0; sb < limit; ++sb) {
    const int field = l.layer == 1 ? 4 : l.table->fieldBits[sb];
    for (int ch = 0; ch < (sb < l.bound ? l.channels : 1); ++ch)
      put(static_cast<std::uint32_t>(d.allocation[ch][sb]), field);
  }
  if (l.layer == 1) return;
  for (int sb = 0; sb < l.sblimit; ++sb)
    for (int ch = 0; ch < l.channels; ++ch)
      if (d.allocation[ch][sb]) put(static_cast<std::uint32_t>(d.scfsi[ch][sb]), 2);
}

// Collects codes of up to 32 bits and hands them to the writer 32 bits at a time: the
// samples of a frame are thousands of short codes.
class BitBatch {
 public:
  explicit BitBatch(mpeg::BitWriter& w) : w_(w) {}
  ~BitBatch() { flush(); }
  BitBatch(const BitBatch&) = delete;
  BitBatch& operator=(const BitBatch&) = delete;
  // `value` holds no bits above the low `bits`.
  void put(std::uint32_t value, int bits) {
    pending_ = (pending_ << bits) | value;
    count_ += bits;
    if (count_ >= 32) {
      count_ -= 32;
      w_.putBits(static_cast<std::uint32_t>(pending_ >> count_), 32);
      pending_ &= (std::uint64_t{1} << count_) - 1;
    }
  }
  void flush() {
    w_.putBits(static_cast<std::uint32_t>(pending_), count_);
    pending_ = 0;
    count_ = 0;
  }

 private:
  mpeg::BitWriter& w_;
  std::uint64_t pending_ = 0;
  int count_ = 0;  // below 32 between calls
};

// Midtread quantiser over [-1, 1): the standard's codes for `steps` levels.
inline std::uint32_t quantise(double normalised, std::uint32_t steps) {
  const double code = (normalised + 1.0) * (steps * 0.5);
  if (code <= 0.0) return 0;
  const auto c = static_cast<std::uint32_t>(code);
  return c >= steps ? steps - 1 : c;
}

void writeLayer1Body(const FrameLayout& l, const FrameData& d, const ScaleTables& scales,
                     mpeg::BitWriter& writer) {
  BitBatch w(writer);
  for (int sb = 0; sb < kSubbands; ++sb)
    for (int ch = 0; ch < l.channels; ++ch)
      if (d.allocation[ch][sb]) w.put(static_cast<std::uint32_t>(d.scf[ch][0][sb]), 6);
  for (int block = 0; block < 12; ++block) {
    for (int sb = 0; sb < kSubbands; ++sb) {
      const int a = d.allocation[0][sb];
      const bool shared = sb >= l.bound;
      for (int ch = 0; ch < (shared ? 1 : l.channels); ++ch) {
        const int alloc = d.allocation[ch][sb];
        if (!alloc) continue;
        const int source = shared && l.channels == 2 ? kSumChannel : ch;
        const int bits = (shared ? a : alloc) + 1;
        const double x = d.samples[source][block][sb] *
                         scales.reciprocal[static_cast<std::size_t>(d.scf[source][0][sb])];
        w.put(quantise(x, (1u << bits) - 1u), bits);
      }
    }
  }
}

void writeLayer2Body(const FrameLayout& l, const FrameData& d, const ScaleTables& scales,
                     mpeg::BitWriter& writer) {
  BitBatch w(writer);
  for (int sb = 0; sb < l.sblimit; ++sb) {
    for (int ch = 0; ch < l.channels; ++ch) {
      if (!d.allocation[ch][sb]) continue;
      const int selection = d.scfsi[ch][sb];
      const auto& coded = d.codedScf[ch];
      w.put(static_cast<std::uint32_t>(coded[0][sb]), 6);
      if (selection == 0) w.put(static_cast<std::uint32_t>(coded[1][sb]), 6);
      if (selection == 0 || selection == 1) w.put(static_cast<std::uint32_t>(coded[2][sb]), 6);
      if (selection == 3) w.put(static_cast<std::uint32_t>(coded[1][sb]), 6);
    }
  }
  for (int granule = 0; granule < 12; ++granule) {
    const int part = granule / 4;
    for (int sb = 0; sb < l.sblimit; ++sb) {
      const bool shared = sb >= l.bound;
      for (int ch = 0; ch < (shared ? 1 : l.channels); ++ch) {
        const int a = d.allocation[ch][sb];
        if (!a) continue;
        const QuantClass& c = kLayer2Classes[static_cast<std::size_t>(l.table->classes[sb][a - 1])];
        const int source = shared && l.channels == 2 ? kSumChannel : ch;
        const int scf =
            shared && l.channels == 2 ? d.scf[source][part][sb] : d.codedScf[ch][part][sb];
        const double r = scales.reciprocal[scf];
        std::uint32_t codes[3];
        for (int s = 0; s < 3; ++s)
          codes[s] = quantise(d.samples[source][granule * 3 + s][sb] * r, c.steps);
        if (c.grouped) {
          w.put(codes[0] + c.steps * (codes[1] + c.steps * codes[2]), c.bits);
        } else {
          for (std::uint32_t code : codes) w.put(code, c.bits);
        }
      }
    }
  }
}

}  // namespace

void ScaleTables::prepare() {
  for (int i = 0; i < 64; ++i) {
    value[i] = std::pow(2.0, 1.0 - i / 3.0);
    reciprocal[i] = 1.0 / value[i];
  }
}

int ScaleTables::indexFor(double peak) const {
  if (!(peak > value[kScaleFactors - 1])) return kScaleFactors - 1;
  int i = static_cast<int>(std::floor(3.0 * (1.0 - std::log2(peak))));
  i = std::clamp(i, 0, kScaleFactors - 1);
  while (i > 0 && value[i] < peak) --i;
  while (i + 1 < kScaleFactors && value[i + 1] >= peak) ++i;
  return i;
}

void writeFrame(const FrameLayout& l, HeaderRecord& header, const FrameData& d,
                const ScaleTables& scales, int budgetBits, mpeg::BitWriter& w) {
  const std::uint64_t start = w.totalBits();
  const std::uint32_t word = headerWord(header);
  w.writeHeader(word, &header);
  if (l.crc) {
    Crc16 crc;
    crc.add(word & 0xFFFFu, 16);
    protectedFields(l, d, [&](std::uint32_t v, int bits) { crc.add(v, bits); });
    w.putBits(crc.value(), 16);
  }
  protectedFields(l, d, [&](std::uint32_t v, int bits) { w.putBits(v, bits); });
  if (l.layer == 1)
    writeLayer1Body(l, d, scales, w);
  else
    writeLayer2Body(l, d, scales, w);
  for (auto left = budgetBits - static_cast<int>(w.totalBits() - start); left > 0; left -= 32)
    w.putBits(0, std::min(left, 32));
}

}  // namespace quillion::ferrule
