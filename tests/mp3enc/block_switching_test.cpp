// SPDX-License-Identifier: GPL-2.0-or-later
// Granules with window switching (start, short, mixed and stop blocks) written from
// synthetic spectra and decoded by ffmpeg and mpg123: both must give what the standard's
// requantisation, reordering, IMDCT and synthesis give in double precision. A wrong region
// boundary, scalefactor partition, subblock gain or band order makes the decoders read other
// values than the ones written and shows up as an error of the order of the signal itself.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>

#include "mp3enc/bit_count.h"
#include "mp3enc/stream_tables.h"
#include "stream_builder.h"

using namespace quillion::mp3enc;
using namespace quillion::test;

namespace {

std::int32_t highestBitrate(std::int32_t rate) {
  const int version = versionForRate(rate);
  return version == kMpeg1 ? 320000 : version == kMpeg2 ? 160000 : 64000;
}

// A global gain that keeps the decoded signal well inside +-1 for magnitudes up to largest.
int gainFor(int largest) {
  return 210 -
         4 * static_cast<int>(std::ceil(std::log2(std::pow(std::max(largest, 1), 4.0 / 3.0) * 16)));
}

struct Spectrum {
  int used;     // lines with values, from the bottom, in stream order
  int largest;  // largest magnitude
  int largestScalefactor = 0;
};

// Random lines and scalefactors for a granule of the given kind. With window switching,
// region 0 holds small values and the largest come right after it, so the two regions take
// different tables and a boundary misplaced by the writer or a decoder changes the values
// read. Values fall off above half the used lines, so a count1 region forms.
RefGranule randomGranule(std::mt19937& rng, int blockType, bool mixed, const Spectrum& s,
                         int rateSlot) {
  RefGranule g;
  g.blockType = blockType;
  g.mixed = mixed;
  g.globalGain = gainFor(s.largest);
  const int region1 = blockType != 0 ? windowSwitchingRegion1(rateSlot, blockType, mixed) : 0;
  for (int i = 0; i < s.used && i < 576; ++i) {
    const int limit = i < region1      ? s.largest / 8 + 1
                      : i < s.used / 2 ? s.largest
                                       : s.largest / 4 + 1;
    const int v = static_cast<int>(rng() % static_cast<unsigned>(limit + 1));
    g.lines[static_cast<std::size_t>(i)] = (rng() & 1) ? -v : v;
  }
  const auto scalefactor = [&] {
    return static_cast<int>(rng() % static_cast<unsigned>(s.largestScalefactor + 1));
  };
  if (blockType != 2) {
    for (int band = 0; band < 21; ++band)
      g.scalefacLong[static_cast<std::size_t>(band)] = scalefactor();
    return g;
  }
  const int longBands = mixed ? mixedLongBands(rateSlot / 3) : 0;
  for (int band = 0; band < longBands; ++band)
    g.scalefacLong[static_cast<std::size_t>(band)] = scalefactor();
  for (int band = mixed ? kMixedFirstShortBand : 0; band < 12; ++band) {
    for (int& sf : g.scalefacShort[static_cast<std::size_t>(band)]) sf = scalefactor();
  }
  return g;
}

void expectDecodesToReference(const DecodeCheck& check) {
  const double bound = kDecodeTolerance * std::max(check.peak, 1.0);
  EXPECT_GT(check.peak, 0.0) << "the spectra decode to silence: nothing is compared";
  EXPECT_EQ(check.tool.exitCode, 0) << check.tool.output;
  EXPECT_EQ(check.tool.output, "");
  EXPECT_LT(check.maxError, bound) << "ffmpeg against the reference";
  EXPECT_EQ(check.mpg123.exitCode, 0) << check.mpg123.output;
  EXPECT_EQ(check.mpg123Complaints, "");
  EXPECT_LT(check.mpg123MaxError, bound) << "mpg123 against the reference";
}

#define REQUIRE_DECODERS()           \
  do {                               \
    QUILLION_REQUIRE_TOOL("ffmpeg"); \
    QUILLION_REQUIRE_TOOL("mpg123"); \
  } while (0)

}  // namespace

// Short blocks at every version, with and without subblock gains and scalefactors, in
// spectra that reach every kind of table (count1 only, small tables, linbits tables) and
// with big values inside region 0 only. Each sits between a start and a stop window, as an
// encoder switches.
TEST(ShortBlocks, DecodeToTheReference) {
  REQUIRE_DECODERS();
  struct Case {
    const char* what;
    std::int32_t rate;
    Spectrum spectrum;
    std::array<int, 3> subblockGain;
    int scalefacScale;
  };
  const Case cases[] = {
      {"values of 1 only: count1 quadruples", 44100, {300, 1}, {0, 0, 0}, 0},
      {"big values end inside region 0", 44100, {30, 7}, {0, 0, 0}, 0},
      {"linbits tables with subblock gains", 48000, {200, 300}, {0, 2, 7}, 0},
      {"scalefactors in both partitions", 32000, {250, 15, 7}, {1, 0, 0}, 0},
      {"scalefac_scale doubles the scalefactor step", 44100, {150, 30, 7}, {0, 0, 3}, 1},
      {"four partitions of the lower rates", 22050, {200, 20, 7}, {3, 1, 0}, 0},
      {"large escapes at 16 kHz", 16000, {150, 1000, 5}, {0, 0, 1}, 1},
      {"MPEG-2.5 at 11.025 kHz", 11025, {100, 5, 3}, {0, 4, 0}, 0},
      {"region 1 from line 72 at 8 kHz", 8000, {200, 12, 7}, {2, 2, 2}, 0},
  };
  std::mt19937 rng(17);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(c.rate) + " Hz");
    const int slot = rateSlot(c.rate);
    std::vector<RefGranule> granules;
    for (int blockType : {0, 1, 2, 2, 2, 3, 0}) {
      RefGranule g = randomGranule(rng, blockType, false, c.spectrum, slot);
      if (blockType == 2) {
        g.subblockGain = c.subblockGain;
        g.scalefacScale = c.scalefacScale;
      }
      granules.push_back(g);
    }
    TempDir dir;
    expectDecodesToReference(decodeAndCompare(granules, c.rate, highestBitrate(c.rate), dir));
  }
}

// Mixed blocks: long bands in the lowest two subbands, short bands above, alias reduction
// only between the two long subbands, and region 1 starting where the long part ends.
TEST(MixedBlocks, DecodeToTheReference) {
  REQUIRE_DECODERS();
  struct Case {
    std::int32_t rate;
    Spectrum spectrum;
  };
  const Case cases[] = {
      {44100, {300, 20, 7}}, {32000, {200, 400, 3}}, {22050, {250, 9, 7}},
      {11025, {150, 15, 3}}, {8000, {200, 6, 7}},
  };
  std::mt19937 rng(23);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz");
    const int slot = rateSlot(c.rate);
    std::vector<RefGranule> granules;
    // A pure short block never follows a mixed one here: after a start or short window the
    // last six slots of the overlap are zero, one of the decoders takes them as zero after a
    // mixed block's long subbands too, and the standard's overlap-add does not.
    for (int kind : {0, 1, 4, 4, 3, 1, 2, 4, 3, 0}) {  // 4: mixed
      const int blockType = kind == 4 ? 2 : kind;
      RefGranule g = randomGranule(rng, blockType, kind == 4, c.spectrum, slot);
      if (kind == 4) {
        g.subblockGain = {static_cast<int>(rng() % 4), 0, static_cast<int>(rng() % 8)};
        if (slot == 8) {
          // At 8 kHz the six long bands reach line 72, past the two long subbands; what a
          // decoder does with lines 36 to 71 is not settled, so they stay silent.
          for (int i = 36; i < 72; ++i) g.lines[static_cast<std::size_t>(i)] = 0;
        }
      }
      granules.push_back(g);
    }
    TempDir dir;
    expectDecodesToReference(decodeAndCompare(granules, c.rate, highestBitrate(c.rate), dir));
  }
}

// Long blocks meet short ones only through start and stop windows; every window shape and
// every junction (stop then start, start then stop) must overlap-add as the standard says.
// Pre-emphasis rides on the long-window granules at MPEG-1.
TEST(StartStopWindows, TransitionsDecodeToTheReference) {
  REQUIRE_DECODERS();
  std::mt19937 rng(29);
  for (std::int32_t rate : {44100, 24000, 8000}) {
    SCOPED_TRACE(std::to_string(rate) + " Hz");
    const int slot = rateSlot(rate);
    std::vector<RefGranule> granules;
    for (int blockType : {0, 1, 2, 3, 1, 2, 2, 3, 1, 3, 0, 0}) {
      RefGranule g = randomGranule(rng, blockType, false, {rate >= 32000 ? 400 : 250, 40, 3}, slot);
      g.preflag = slot < 3 && blockType != 2 && (rng() & 1);
      granules.push_back(g);
    }
    TempDir dir;
    expectDecodesToReference(decodeAndCompare(granules, rate, highestBitrate(rate), dir));
  }
}

// The counter splits a mixed block's regions where the writer says region 1 starts, at
// every rate; at the MPEG-2.5 rates both regions take one table.
TEST(MixedBlocks, CounterSplitsWhereTheWriterDoes) {
  for (int slot = 0; slot < 9; ++slot) {
    SCOPED_TRACE("rate slot " + std::to_string(slot));
    const std::vector<std::int16_t> bounds = bandLayout(2, true, slot);
    std::int32_t lines[576] = {};
    const int region1 = windowSwitchingRegion1(slot, 2, true);
    // Small values in the long part, large ones above it: separate tables are cheaper.
    for (int i = 0; i < 200; ++i) lines[i] = i < region1 ? (i & 1) : 9 + (i % 5);
    BitCounter counter;
    BitCountResult r;
    const int bits = dynBitCount(&counter, lines, 2, static_cast<int>(bounds.size()) - 1,
                                 bounds.data(), &r, mixedRegions(slot / 3));
    EXPECT_EQ(2 * r.regionPairs[0], region1);
    EXPECT_EQ(2 * (r.regionPairs[0] + r.regionPairs[1]), 200);
    EXPECT_EQ(bits, r.regionBits[0] + r.regionBits[1] + r.count1Bits);
    if (slot / 3 == kMpeg25) {
      EXPECT_EQ(r.table[0], r.table[1]);
    } else {
      EXPECT_NE(r.table[0], r.table[1]);
    }
  }
}
