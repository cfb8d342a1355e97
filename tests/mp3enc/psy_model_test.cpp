// SPDX-License-Identifier: GPL-2.0-or-later
// The psychoacoustic model's pieces through their interfaces: band layout and cut-off per
// rate, spreading, threshold in quiet, attack detection and the windows it chooses, the
// delayed input ring, and what a granule of the model hands to quantisation.
#include "mp3enc/psy_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mp3enc/block_switching.h"
#include "mp3enc/psy_configuration.h"

using namespace quillion::mp3enc;

TEST(PsyConfiguration, CutOffLineAndActiveBands) {
  struct Case {
    int rate;
    float bandwidth;
    int kind, cutOff, active, bands;
  };
  const Case cases[] = {
      {44100, 15804.0f, 0, 412, 21, 22},  // band 20 starts at 342, band 21 at 418
      {44100, 15804.0f, 2, 137, 13, 13}, {44100, 22050.0f, 0, 576, 22, 22},
      {44100, 30000.0f, 2, 192, 13, 13}, {48000, 24000.0f, 1, 576, 22, 22},
      {8000, 2000.0f, 3, 288, 14, 22},   {11025, 5512.5f, 2, 192, 13, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, kind " + std::to_string(c.kind));
    PsyConfiguration cfg;
    ASSERT_EQ(InitPsyConfiguration(128000, c.rate, c.bandwidth, c.kind, &cfg), 0);
    EXPECT_EQ(cfg.cutOffLine, std::min(c.cutOff, c.kind == 2 ? 192 : 576));
    EXPECT_EQ(cfg.sfbActive, c.active);
    EXPECT_EQ(cfg.sfbCnt, c.bands);
    EXPECT_EQ(cfg.windows, c.kind == 2 ? 3 : 1);
    EXPECT_EQ(cfg.sfbOffset[0], 0);
    EXPECT_EQ(cfg.sfbOffset[cfg.sfbCnt], c.kind == 2 ? 192 : 576);
    // Active bands start below the cut-off; the first inactive one does not.
    if (cfg.sfbActive > 0) {
      EXPECT_LT(cfg.sfbOffset[cfg.sfbActive - 1], cfg.cutOffLine);
    }
    if (cfg.sfbActive < cfg.sfbCnt) {
      EXPECT_GE(cfg.sfbOffset[cfg.sfbActive], cfg.cutOffLine);
    }
  }
  PsyConfiguration cfg;
  EXPECT_EQ(InitPsyConfiguration(128000, 44000, 15000.0f, 0, &cfg), 1);
  EXPECT_EQ(InitPsyConfiguration(128000, 44100, 15000.0f, 4, &cfg), 1);
  EXPECT_EQ(InitPsyConfiguration(128000, 44100, 15000.0f, -1, &cfg), 1);
}

TEST(PsyConfiguration, StereoSwitchesRateClassAndLowRateLayout) {
  struct Case {
    int bitrate, msWish, is, ms;
  };
  for (const Case& c : {Case{95999, 1, 1, 1}, Case{96000, 1, 0, 1}, Case{0, 1, 0, 1},
                        Case{192000, 1, 0, 1}, Case{192001, 1, 0, 0}, Case{64000, 0, 1, 0}}) {
    SCOPED_TRACE(c.bitrate);
    PsyConfiguration cfg;
    cfg.msSwitch = c.msWish;
    ASSERT_EQ(InitPsyConfiguration(c.bitrate, 44100, 16000.0f, 0, &cfg), 0);
    EXPECT_EQ(cfg.isSwitch, c.is);
    EXPECT_EQ(cfg.msSwitch, c.ms);
  }
  for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
    PsyConfiguration cfg;
    ASSERT_EQ(InitPsyConfiguration(64000, rate, 4000.0f, 0, &cfg), 0);
    EXPECT_EQ(cfg.rateClass, rate >= 32000 ? 0 : rate >= 16000 ? 1 : 2) << rate;
  }
  // 11025 and 12000 Hz take the 16000 Hz layout.
  PsyConfiguration low, mid;
  ASSERT_EQ(InitPsyConfiguration(32000, 11025, 5000.0f, 0, &low), 0);
  ASSERT_EQ(InitPsyConfiguration(32000, 16000, 5000.0f, 0, &mid), 0);
  for (int b = 0; b <= kLongBands; ++b) EXPECT_EQ(low.sfbOffset[b], mid.sfbOffset[b]);
}

TEST(PsyConfiguration, SpreadingSlopesAndThresholdInQuiet) {
  for (int kind : {0, 2}) {
    PsyConfiguration cfg;
    ASSERT_EQ(InitPsyConfiguration(128000, 44100, 16000.0f, kind, &cfg), 0);
    const int lines = kind == 2 ? 192 : 576;
    InitBarcValues(lines, 44100, cfg.sfbCnt, cfg.sfbOffset, cfg.spreadUp, cfg.spreadDown);
    EXPECT_EQ(cfg.spreadUp[0], 0.0f);
    EXPECT_EQ(cfg.spreadDown[cfg.sfbCnt - 1], 0.0f);
    for (int b = 0; b + 1 < cfg.sfbCnt; ++b) {
      // 15 dB per Bark upwards, 30 dB downwards over the same distance.
      EXPECT_NEAR(cfg.spreadDown[b], cfg.spreadUp[b + 1] * cfg.spreadUp[b + 1],
                  1e-6f + 1e-5f * cfg.spreadDown[b]);
      EXPECT_GT(cfg.spreadUp[b + 1], 0.0f);
      EXPECT_LE(cfg.spreadUp[b + 1], 1.0f);
    }
    InitMinPCMResolution(cfg.sfbCnt, 16, &cfg);
    for (int b = 0; b < cfg.sfbCnt; ++b) {
      const float width = static_cast<float>(cfg.sfbOffset[b + 1] - cfg.sfbOffset[b]);
      EXPECT_NEAR(cfg.quietThreshold[b], width * 0.00168878f, width * 1e-7f);
    }
    // Every 6 bits fewer of resolution raise it by about 6 dB per bit.
    PsyConfiguration coarse = cfg;
    InitMinPCMResolution(cfg.sfbCnt, 8, &coarse);
    EXPECT_NEAR(coarse.quietThreshold[0] / cfg.quietThreshold[0], std::pow(10.0, 4.8), 1.0);
  }
}

TEST(PsyConfiguration, SpreadingMaxSpreadsAndFlattensPeaks) {
  const float up[6] = {0.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  const float down[6] = {0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.0f};
  float t[6] = {0, 0, 64, 0, 0, 0};
  SpreadingMax(6, down, up, t);
  // Spread 15 dB up and 30 dB down per step here, then the peak is flattened to its upper
  // neighbour.
  const float spread[6] = {4, 16, 32, 32, 16, 8};
  for (int b = 0; b < 6; ++b) EXPECT_FLOAT_EQ(t[b], spread[b]) << b;

  // A band far above both neighbours (no spreading) is cut to a fifth, but not below them.
  const float none[3] = {0, 0, 0};
  float peak[3] = {1.0f, 100.0f, 2.0f};
  SpreadingMax(3, none, none, peak);
  EXPECT_FLOAT_EQ(peak[1], 20.0f);
  float mild[3] = {10.0f, 30.0f, 1.0f};
  SpreadingMax(3, none, none, mild);
  EXPECT_FLOAT_EQ(mild[1], 10.0f);
  float single[1] = {5.0f};
  SpreadingMax(1, none, none, single);
  EXPECT_FLOAT_EQ(single[0], 5.0f);
}

namespace {

// 576 samples of silence, with a click of three loud samples at `at` when at >= 0.
std::vector<float> psyGranule(int at) {
  std::vector<float> g(576, 0.0f);
  if (at >= 0) {
    for (int k = 0; k < 3; ++k) g[static_cast<std::size_t>(at + k)] = 20000.0f;
  }
  return g;
}

// The windows one channel's detector emits for a list of granules (-1: no click).
std::vector<int> emitted(const std::vector<int>& clicks) {
  BlockSwitchingState s;
  mp3BlockSwitchingInit(&s);
  std::vector<int> types;
  for (int at : clicks) {
    const std::vector<float> g = psyGranule(at);
    mp3BlockSwitching_NoOpt(&s, g.data(), 1);
    types.push_back(s.emitType);
  }
  return types;
}

}  // namespace

TEST(BlockSwitching, SilenceAndSteadyTonesNeverAttack) {
  BlockSwitchingState s;
  mp3BlockSwitchingInit(&s);
  std::vector<float> tone(576);
  for (int k = 0; k < 40; ++k) {
    for (int n = 0; n < 576; ++n)
      tone[static_cast<std::size_t>(n)] =
          k < 20 ? 0.0f : 30000.0f * static_cast<float>(std::sin(0.05 * (576 * k + n)));
    mp3BlockSwitching_NoOpt(&s, tone.data(), 1);
    if (k < 20) {
      for (float e : s.energy) EXPECT_LT(e, kAttackEnergyFloor);
    }
    // The tone's own start is an attack; once it runs, none.
    if (k < 20 || k > 22) {
      EXPECT_EQ(s.attack, 0) << k;
    }
    if (k > 24) {
      EXPECT_EQ(s.emitType, kBlockLong) << k;
    }
  }
}

TEST(BlockSwitching, AttackSequences) {
  struct Case {
    const char* what;
    std::vector<int> clicks;
    std::vector<int> types;
  };
  const Case cases[] = {
      // The click's ringing into the next granule counts as a second attack.
      {"late in a granule after long windows: start, then short twice",
       {-1, -1, 500, -1, -1, -1, -1},
       {0, 0, 1, 2, 2, 3, 0}},
      {"early in a granule: start, one short window", {-1, -1, 10, -1, -1, -1}, {0, 0, 1, 2, 3, 0}},
      {"while a stop window is tentative: short at once, never a start",
       {-1, 500, -1, -1, 500, -1, -1, -1, -1},
       {0, 1, 2, 2, 2, 2, 2, 3, 0}},
      {"a quiet click is no attack", {-1, -1, -2, -1}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> clicks = c.clicks;
    std::vector<int> types;
    if (clicks[2] == -2) {
      // 300 is loud enough to rise above silence, too quiet to count.
      BlockSwitchingState s;
      mp3BlockSwitchingInit(&s);
      for (int at : clicks) {
        std::vector<float> g(576, 0.0f);
        if (at == -2) g[100] = 300.0f;
        mp3BlockSwitching_NoOpt(&s, g.data(), 1);
        types.push_back(s.emitType);
      }
    } else {
      types = emitted(clicks);
    }
    EXPECT_EQ(types, c.types);
  }
}

TEST(BlockSwitching, SynchronisedChannelsAgreeOnValidSequences) {
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 4; ++b) {
      EXPECT_EQ(synchronizedBlockTypeTable[a][b], synchronizedBlockTypeTable[b][a]);
    }
  }
  EXPECT_EQ(synchronizedBlockTypeTable[kBlockLong][kBlockShort], kBlockShort);
  EXPECT_EQ(synchronizedBlockTypeTable[kBlockStart][kBlockStop], kBlockShort);

  // Random clicks on either channel: both always take one window, and every window can follow
  // the one before (a start window is always followed by a short one).
  std::mt19937 random(7);
  BlockSwitchingState s0, s1;
  mp3BlockSwitchingInit(&s0);
  mp3BlockSwitchingInit(&s1);
  int previous = kBlockLong, shorts = 0;
  for (int k = 0; k < 2000; ++k) {
    const int at0 = random() % 4 == 0 ? static_cast<int>(random() % 570) : -1;
    const int at1 = random() % 5 == 0 ? static_cast<int>(random() % 570) : -1;
    const std::vector<float> g0 = psyGranule(at0), g1 = psyGranule(at1);
    mp3BlockSwitching_NoOpt(&s0, g0.data(), 1);
    mp3BlockSwitching_NoOpt(&s1, g1.data(), 1);
    int t0 = -1, t1 = -1;
    EXPECT_EQ(mp3SyncBlockSwitching(&s0, &s1, 2, 1, &t0, &t1), 1);
    ASSERT_EQ(t0, t1);
    const bool endsShort = previous == kBlockStart || previous == kBlockShort;
    const bool opensShort = t0 == kBlockShort || t0 == kBlockStop;
    ASSERT_EQ(endsShort, opensShort) << "granule " << k << ": " << previous << " then " << t0;
    shorts += t0 == kBlockShort;
    previous = t0;
  }
  EXPECT_GT(shorts, 200);

  // Without synchronisation each channel keeps its own window.
  BlockSwitchingState a, b;
  mp3BlockSwitchingInit(&a);
  mp3BlockSwitchingInit(&b);
  a.emitType = kBlockStart;
  b.emitType = kBlockLong;
  int ta = -1, tb = -1;
  mp3SyncBlockSwitching(&a, &b, 2, 0, &ta, &tb);
  EXPECT_EQ(ta, kBlockStart);
  EXPECT_EQ(tb, kBlockLong);
}

TEST(InputBuffer, DelaysByTheLookAheadAndReadsWithoutWrapping) {
  for (int delay : {0, 144, 896}) {
    SCOPED_TRACE(delay);
    InputBuffer* raw = nullptr;
    ASSERT_EQ(InputBufferNew(&raw, delay), 0);
    InputBufferPtr buffer(raw);
    long long written = 0;
    for (int granule = 0; granule < 12; ++granule) {
      std::vector<float> pairs(2 * 576);
      for (int n = 0; n < 576; ++n) {
        pairs[static_cast<std::size_t>(2 * n)] = static_cast<float>(written + n + 1);
        pairs[static_cast<std::size_t>(2 * n + 1)] = -static_cast<float>(written + n + 1);
      }
      FeedInputBuffer(raw, pairs.data(), 576);
      written += 576;
      // 576 + delay pairs read straight from one pointer: the oldest is `delay` behind.
      const float* left = AccessInputBuffer(raw, 0, 0);
      const float* right = AccessInputBuffer(raw, 0, 1);
      for (int i = 0; i < 576 + delay; ++i) {
        const long long sample = written - 576 - delay + i + 1;
        const float want = sample >= 1 && sample <= written ? static_cast<float>(sample) : 0.0f;
        ASSERT_EQ(left[2 * i], want) << "pair " << i;
        ASSERT_EQ(right[2 * i], -want) << "pair " << i;
      }
      InvalidateInputBuffer(raw, 576);
    }
  }
}

namespace {

PsyPtr makeModel(int rate, int channels, float bandwidth) {
  PsySettings s;
  s.sampleRate = rate;
  s.bitrate = 128000;
  s.channels = channels;
  s.bandwidth = bandwidth;
  PsyData* raw = nullptr;
  if (PsyNew(&raw, &s) != 0) return nullptr;
  PsyPtr psy(raw);
  if (PsyInit(raw, &s) != 0) return nullptr;
  return psy;
}

}  // namespace

TEST(PsyModel, SilenceNoiseAndBandsAboveTheCutOff) {
  PsyPtr psy = makeModel(44100, 2, 15804.0f);
  ASSERT_TRUE(psy);
  PsyOut out;
  std::vector<float> pairs(2 * 576, 0.0f);
  for (int k = 0; k < 3; ++k) {
    psyFeedInputBufferFloat(psy.get(), pairs.data(), 576);
    EXPECT_EQ(psyMain(psy.get(), k % 2, &out, 0), 0.0f);
    for (int ch = 0; ch < 2; ++ch) {
      for (int b = 0; b < out.channel[ch].sfbCnt; ++b) EXPECT_EQ(out.channel[ch].energy[b], 0.0f);
    }
  }
  std::mt19937 random(3);
  std::normal_distribution<float> noise(0.0f, 3000.0f);
  for (int k = 0; k < 6; ++k) {
    for (float& v : pairs) v = noise(random);
    psyFeedInputBufferFloat(psy.get(), pairs.data(), 576);
    const float pe = psyMain(psy.get(), k % 2, &out, 0);
    if (k < 3) continue;
    EXPECT_GT(pe, 1000.0f);
    EXPECT_FLOAT_EQ(pe, out.peData.pe);
    for (int ch = 0; ch < 2; ++ch) {
      const PsyOutChannel& c = out.channel[ch];
      ASSERT_EQ(c.blockType, kBlockLong);
      ASSERT_EQ(c.sfbActive, 21);
      EXPECT_EQ(c.energy[21], 0.0f);
      EXPECT_EQ(c.threshold[21], 1e20f);
      for (int i = 412; i < 576; ++i) ASSERT_EQ(c.spectrum[i], 0.0f);
      for (int b = 0; b < 21; ++b) {
        EXPECT_GT(c.energy[b], 0.0f);
        EXPECT_GT(c.threshold[b], 0.0f);
        EXPECT_LT(c.threshold[b], c.energy[b]);
        EXPECT_GT(c.formFactor[b], 0.0f);
      }
    }
  }
}

TEST(PsyModel, AClickGivesShortWindowsInStreamOrder) {
  PsyPtr psy = makeModel(48000, 1, 24000.0f);
  ASSERT_TRUE(psy);
  PsyOut out;
  std::vector<int> types;
  for (int k = 0; k < 8; ++k) {
    std::vector<float> pairs(2 * 576, 0.0f);
    if (k == 3) {
      for (int n = 300; n < 576; ++n)
        pairs[static_cast<std::size_t>(2 * n)] =
            20000.0f * static_cast<float>(std::sin(0.3 * n) * std::exp(-(n - 300) / 200.0));
    }
    psyFeedInputBufferFloat(psy.get(), pairs.data(), 576);
    psyMain(psy.get(), k % 2, &out, 0);
    const PsyOutChannel& c = out.channel[0];
    types.push_back(c.blockType);
    if (c.blockType != kBlockShort) continue;
    EXPECT_EQ(out.shortPresent, 2);
    ASSERT_EQ(c.sfbCnt, 39);
    ASSERT_EQ(c.sfbActive, 39);
    ASSERT_EQ(c.sfbOffset[39], 576);
    // Each interleaved band holds one window's lines; its energy is theirs.
    for (int e = 0; e < 39; ++e) {
      double sum = 0.0;
      for (int i = c.sfbOffset[e]; i < c.sfbOffset[e + 1]; ++i)
        sum += double(c.spectrum[i]) * c.spectrum[i];
      EXPECT_NEAR(sum, c.energy[e], 1e-3 * sum + 1e-3) << "band entry " << e;
      EXPECT_EQ(c.sfbOffset[e + 1] - c.sfbOffset[e],
                (c.sfbOffset[3 * (e / 3) + 3] - c.sfbOffset[3 * (e / 3)]) / 3);
    }
  }
  EXPECT_EQ(types, (std::vector<int>{0, 0, 0, 1, 2, 2, 3, 0}));
}

TEST(PsyModel, BuildInterfaceInterleavesShortWindows) {
  const int offsets[4] = {0, 4, 10, 16};  // three bands of one window, 16 lines
  std::vector<float> spectrum(576, 0.0f), thr(39), energy(39);
  for (int w = 0; w < 3; ++w) {
    for (int i = 0; i < 16; ++i) spectrum[static_cast<std::size_t>(192 * w + i)] = 100.0f * w + i;
  }
  for (int e = 0; e < 9; ++e) {
    thr[static_cast<std::size_t>(e)] = static_cast<float>(e);
    energy[static_cast<std::size_t>(e)] = 10.0f * e;
  }
  PsyOutChannel out;
  BuildInterface(spectrum.data(), thr.data(), energy.data(), energy.data(), kBlockShort, 3, 3,
                 offsets, &out);
  EXPECT_EQ(out.windows, 3);
  EXPECT_EQ(out.sfbCnt, 9);
  const int wantOffsets[10] = {0, 4, 8, 12, 18, 24, 30, 36, 42, 48};
  for (int e = 0; e < 10; ++e) EXPECT_EQ(out.sfbOffset[e], wantOffsets[e]);
  // Band 1 (lines 4..9 of each window): window 0, then 1, then 2.
  for (int w = 0; w < 3; ++w) {
    for (int k = 0; k < 6; ++k) EXPECT_EQ(out.spectrum[12 + 6 * w + k], 100.0f * w + 4 + k);
  }
  EXPECT_EQ(out.threshold[4], 4.0f);
}

// The queue hands the middle node the granule the head received count/2 steps earlier, and
// recycles its record to the head; one node is head and middle at once.
TEST(PsyList, DelaysByHalfItsLengthAndRecyclesRecords) {
  PsyListNode *head = nullptr, *tail = nullptr, *middle = nullptr;
  EXPECT_EQ(CreatePsyList(&head, &tail, &middle, 0), 1);
  EXPECT_EQ(head, nullptr);
  for (int count : {1, 2, 3, 6, 7}) {
    SCOPED_TRACE(count);
    PsyList list;
    ASSERT_EQ(CreatePsyList(&list.head, &list.tail, &list.middle, count), 0);
    std::vector<const PsyOut*> records;
    for (PsyListNode* n = list.head; n; n = n->next) {
      if (n->out) records.push_back(n->out.get());
    }
    ASSERT_EQ(static_cast<int>(records.size()), count / 2 + 1);
    for (int step = 0; step < 20; ++step) {
      ASSERT_TRUE(list.head->out);
      list.head->out->totalPe = static_cast<float>(step);
      list.head->ready = 1;
      ASSERT_TRUE(list.middle->out);
      if (step >= count / 2) {
        EXPECT_EQ(list.middle->out->totalPe, static_cast<float>(step - count / 2));
        EXPECT_EQ(list.middle->ready, 1);
      }
      EXPECT_EQ(FeedPsyList(&list.head, &list.tail, &list.middle), 0);
      // Still one chain of count nodes, the middle halfway, the same records in it.
      int nodes = 0, middleAt = -1;
      std::vector<const PsyOut*> now;
      const PsyListNode* last = nullptr;
      for (PsyListNode* n = list.head; n; n = n->next) {
        ASSERT_EQ(n->previous, last);
        if (n == list.middle) middleAt = nodes;
        if (n->out) now.push_back(n->out.get());
        last = n;
        ++nodes;
      }
      ASSERT_EQ(last, list.tail);
      ASSERT_EQ(nodes, count);
      ASSERT_EQ(middleAt, count / 2);
      std::sort(now.begin(), now.end());
      std::vector<const PsyOut*> sorted = records;
      std::sort(sorted.begin(), sorted.end());
      ASSERT_EQ(now, sorted);
    }
  }
}
