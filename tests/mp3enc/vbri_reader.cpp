// SPDX-License-Identifier: GPL-2.0-or-later
#include "vbri_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillion::test {

std::uint32_t bigEndianAt(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
  return v;
}

int frameLength(const std::vector<std::uint8_t>& b, std::size_t at) {
  static const int kbps[2][16] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
  static const int rates[3][3] = {
      {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  if (at + 4 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) return 0;
  const int vb = (b[at + 1] >> 3) & 3;
  const int br = b[at + 2] >> 4, sr = (b[at + 2] >> 2) & 3, pad = (b[at + 2] >> 1) & 1;
  if (vb == 1 || br == 0 || br == 15 || sr == 3) return 0;
  const int version = vb == 3 ? 0 : vb == 2 ? 1 : 2;
  const int rate = rates[version][sr];
  return (version == 0 ? 144 : 72) * kbps[version == 0 ? 0 : 1][br] * 1000 / rate + pad;
}

VbriTable readVbri(const std::vector<std::uint8_t>& b) {
  VbriTable t;
  if (b.size() < 62 || bigEndianAt(b, 36, 4) != 0x56425249u) return t;  // "VBRI"
  t.found = true;
  t.headerBytes = frameLength(b, 0);
  t.version = static_cast<int>(bigEndianAt(b, 40, 2));
  t.delay = static_cast<int>(bigEndianAt(b, 42, 2));
  t.quality = static_cast<int>(bigEndianAt(b, 44, 2));
  t.streamBytes = bigEndianAt(b, 46, 4);
  t.frames = bigEndianAt(b, 50, 4);
  t.entries = static_cast<int>(bigEndianAt(b, 54, 2)) + 1;
  t.scale = static_cast<int>(bigEndianAt(b, 56, 2));
  t.entrySize = static_cast<int>(bigEndianAt(b, 58, 2));
  t.framesPerEntry = static_cast<int>(bigEndianAt(b, 60, 2));
  std::uint32_t at = 0;
  t.positions.push_back(0);
  for (int i = 1; i < t.entries && 62 + 2 * i <= static_cast<int>(b.size()); ++i) {
    at += bigEndianAt(b, 62 + 2 * static_cast<std::size_t>(i - 1), 2) *
          static_cast<std::uint32_t>(t.scale);
    t.positions.push_back(at);
  }
  return t;
}

void expectEntriesAreFrames(const VbriTable& t, const std::vector<std::uint32_t>& frames) {
  std::vector<std::size_t> index;
  for (std::uint32_t p : t.positions) {
    const auto at = std::find(frames.begin(), frames.end(), p);
    ASSERT_NE(at, frames.end()) << p;
    index.push_back(static_cast<std::size_t>(at - frames.begin()));
  }
  for (std::size_t i = 1; i < index.size(); ++i) {
    ASSERT_GT(index[i], index[i - 1]);
    EXPECT_LE(index[i] - index[i - 1], static_cast<std::size_t>(t.framesPerEntry) + 2);
    EXPECT_GE(index[i] - index[i - 1] + 1, static_cast<std::size_t>(t.framesPerEntry));
  }
}

}  // namespace quillion::test
