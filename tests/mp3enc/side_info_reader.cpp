// SPDX-License-Identifier: GPL-2.0-or-later
#include "side_info_reader.h"

#include <cstddef>

namespace quillion::test {

namespace {

class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int read(int bits) {
    int v = 0;
    for (int i = 0; i < bits; ++i, ++pos_) {
      const std::size_t byte = pos_ / 8;
      const int bit = byte < size_ ? (data_[byte] >> (7 - pos_ % 8)) & 1 : 0;
      v = (v << 1) | bit;
    }
    return v;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

constexpr int kBitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

}  // namespace

std::vector<SideInfoFrame> readSideInfo(const std::vector<std::uint8_t>& s) {
  std::vector<SideInfoFrame> frames;
  std::size_t at = 0;
  while (at + 4 <= s.size()) {
    if (s[at] != 0xFF || (s[at + 1] & 0xE0) != 0xE0) break;
    const int versionBits = (s[at + 1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (s[at + 1] >> 1) & 3;
    if (layer != 1 || versionBits == 1) break;
    const bool mpeg1 = versionBits == 3;
    const int version = mpeg1 ? 0 : versionBits == 2 ? 1 : 2;
    const bool crc = (s[at + 1] & 1) == 0;
    const int bitrateIndex = s[at + 2] >> 4;
    const int rateIndex = (s[at + 2] >> 2) & 3;
    const int padding = (s[at + 2] >> 1) & 1;
    const int mode = s[at + 3] >> 6;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) break;
    const int rate = kRates[version][rateIndex];
    const int kbps = kBitrates[mpeg1 ? 0 : 1][bitrateIndex];
    const std::size_t length =
        static_cast<std::size_t>((mpeg1 ? 144 : 72) * kbps * 1000 / rate + padding);
    if (at + length > s.size()) break;
    SideInfoFrame f;
    f.channels = mode == 3 ? 1 : 2;
    f.mode = mode;
    f.modeExtension = (s[at + 3] >> 4) & 3;
    f.granules = mpeg1 ? 2 : 1;
    BitReader r(s.data() + at + 4 + (crc ? 2 : 0), length);
    r.read(mpeg1 ? 9 : 8);                                                  // main_data_begin
    r.read(mpeg1 ? (f.channels == 1 ? 5 : 3) : (f.channels == 1 ? 1 : 2));  // private bits
    if (mpeg1) r.read(4 * f.channels);                                      // scfsi
    for (int gr = 0; gr < f.granules; ++gr) {
      for (int ch = 0; ch < f.channels; ++ch) {
        SideInfoGranule g;
        g.part2_3_length = r.read(12);
        g.bigValues = r.read(9);
        g.globalGain = r.read(8);
        g.scalefacCompress = r.read(mpeg1 ? 4 : 9);
        if (r.read(1)) {
          g.blockType = r.read(2);
          g.mixed = r.read(1);
          r.read(10);
          for (int& sbg : g.subblockGain) sbg = r.read(3);
        } else {
          r.read(15 + 7);
        }
        if (mpeg1) r.read(1);  // preflag
        g.scalefacScale = r.read(1);
        r.read(1);  // count1table_select
        f.granule.push_back(g);
      }
    }
    frames.push_back(f);
    at += length;
  }
  return frames;
}

}  // namespace quillion::test
