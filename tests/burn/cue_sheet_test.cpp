// SPDX-License-Identifier: GPL-2.0-or-later
// The cue sheet builders of session at once: their entries and the blocks they ask the reader
// for, gaps included, for audio, data-first and copied sessions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DPMs/tracks/dpm_blank.h"
#include "burn/cue/cue_sheet_builder.h"

using namespace quillion::burn;

namespace {

struct Entry {
  std::uint8_t control, track, index, form;
  std::uint32_t frames;  // M:S:F as frames
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
  char text[64];
  std::snprintf(text, sizeof text, "%02X/%02X/%02X/%02X @%u", e.control, e.track, e.index, e.form,
                e.frames);
  return os << text;
}

std::vector<Entry> entries(const Session& s) {
  std::vector<Entry> out;
  EXPECT_EQ(s.cueSheet.size() % kCueEntryBytes, 0u);
  for (std::size_t at = 0; at + kCueEntryBytes <= s.cueSheet.size(); at += kCueEntryBytes) {
    const std::uint8_t* e = &s.cueSheet[at];
    EXPECT_EQ(e[4], 0) << "SCMS";
    EXPECT_LT(e[6], 60);
    EXPECT_LT(e[7], 75);
    out.push_back({e[0], e[1], e[2], e[3], (e[5] * 60u + e[6]) * 75u + e[7]});
  }
  return out;
}

// A track whose producer is `blocks` zero blocks of `size` bytes.
Track track(std::uint16_t number, bool data, std::uint32_t blocks, std::uint16_t pregap = 0,
            std::uint32_t start = 0, std::uint16_t size = 0) {
  Track t;
  t.number = number;
  t.data = data;
  t.mode = data ? 8 : 0;
  t.blockSize = size ? size : (data ? 2048 : 2352);
  t.pregap = pregap;
  t.start = start;
  t.blocks = blocks;
  t.producer = std::make_unique<DPM_Blank>(t.blockSize, blocks);
  return t;
}

// The list as (blocks, true for a track's own producer).
std::vector<std::pair<std::uint32_t, bool>> list(const Session& s) {
  std::vector<std::pair<std::uint32_t, bool>> out;
  for (const SaoItem& item : s.saoList) {
    bool own = false;
    for (const Track& t : s.tracks) own = own || t.producer.get() == item.producer;
    out.emplace_back(item.blocks, own);
  }
  return out;
}

TEST(CueSheets, ASingleShortDataTrackIsPaddedTo300Blocks) {
  Session s;
  s.number = 1;
  s.tracks.push_back(track(1, true, 200));
  ASSERT_EQ(PrepareDataCDCueSheet(s, false), kNoErr);
  const std::vector<Entry> want = {{0x41, 0x00, 0, 0x14, 0},
                                   {0x41, 0x01, 0, 0x10, 0},
                                   {0x41, 0x01, 1, 0x10, 150},
                                   {0x41, 0xAA, 1, 0x14, 452}};
  EXPECT_EQ(entries(s), want);
  const std::vector<std::pair<std::uint32_t, bool>> blocks = {
      {150, false}, {200, true}, {102, false}};
  EXPECT_EQ(list(s), blocks);
  EXPECT_EQ(s.blocks, 452u);
  EXPECT_EQ(s.cueSheet[5], 0);
  EXPECT_EQ(s.cueSheet[8 * 3 + 6], 6) << "the lead-out at 00:06:02";
  EXPECT_EQ(s.cueSheet[8 * 3 + 7], 2);
}

TEST(CueSheets, AudioTracksGetTheirPregapsAsIndexZero) {
  Session s;
  s.number = 1;
  s.tracks.push_back(track(1, false, 1000, 150));
  s.tracks.push_back(track(2, false, 1000, 150));
  ASSERT_EQ(PrepareAudioCDCueSheet(s, false), kNoErr);
  const std::vector<Entry> want = {{0x01, 0x00, 0, 0x01, 0},    {0x01, 0x01, 0, 0x00, 0},
                                   {0x01, 0x01, 1, 0x00, 150},  {0x01, 0x02, 0, 0x00, 1150},
                                   {0x01, 0x02, 1, 0x00, 1300}, {0x01, 0xAA, 1, 0x01, 2300}};
  EXPECT_EQ(entries(s), want);
  const std::vector<std::pair<std::uint32_t, bool>> blocks = {
      {150, false}, {1000, true}, {150, false}, {1000, true}};
  EXPECT_EQ(list(s), blocks);
  EXPECT_EQ(s.blocks, 2300u);
}

TEST(CueSheets, ATrackWithoutPauseHasNoIndexZeroAndCDTextMarksTheLeadIn) {
  Session s;
  s.number = 1;
  s.tracks.push_back(track(1, false, 400, 150));
  s.tracks.push_back(track(2, false, 300, 0));
  ASSERT_EQ(PrepareAudioCDCueSheet(s, true), kNoErr);
  const std::vector<Entry> want = {{0x01, 0x00, 0, 0x41, 0},
                                   {0x01, 0x01, 0, 0x00, 0},
                                   {0x01, 0x01, 1, 0x00, 150},
                                   {0x01, 0x02, 1, 0x00, 550},
                                   {0x01, 0xAA, 1, 0x01, 850}};
  EXPECT_EQ(entries(s), want);
}

TEST(CueSheets, MixedModeSeparatesTheDataTrackFromTheAudio) {
  Session s;
  s.number = 1;
  s.format = 0x20;
  s.tracks.push_back(track(1, true, 1000, 0, 0, 2336));
  s.tracks.push_back(track(2, false, 500, 150));
  ASSERT_EQ(PrepareDataCDCueSheet(s, true), kNoErr);
  // Track 1: 150 pregap + 1000 + 150 gap + 2 run-out; track 2: its pause, 500, 2 run-out.
  const std::vector<Entry> want = {{0x41, 0x00, 0, 0x41, 0},    {0x41, 0x01, 0, 0x20, 0},
                                   {0x41, 0x01, 1, 0x20, 150},  {0x01, 0x02, 0, 0x00, 1302},
                                   {0x01, 0x02, 1, 0x00, 1452}, {0x01, 0xAA, 1, 0x01, 1954}};
  EXPECT_EQ(entries(s), want);
  const std::vector<std::pair<std::uint32_t, bool>> blocks = {
      {150, false}, {1000, true}, {152, false}, {150, false}, {500, true}, {2, false}};
  EXPECT_EQ(list(s), blocks);
  EXPECT_EQ(s.blocks, 1954u);
}

TEST(CueSheets, TheDataSessionOfACDExtraDiscBeginsAtItsStart) {
  Session s;
  s.number = 2;
  s.format = 0x20;
  s.start = 13'550;
  s.tracks.push_back(track(3, true, 400, 0, 13'550, 2336));
  ASSERT_EQ(PrepareDataCDCueSheet(s, true), kNoErr);
  const std::vector<Entry> want = {{0x41, 0x00, 0, 0x24, 13'550},
                                   {0x41, 0x03, 0, 0x20, 13'550},
                                   {0x41, 0x03, 1, 0x20, 13'700},
                                   {0x41, 0xAA, 1, 0x24, 14'102}};
  EXPECT_EQ(entries(s), want);
}

TEST(CueSheets, ACopyKeepsItsSourcesAddresses) {
  Session s;
  s.number = 1;
  s.tracks.push_back(track(1, false, 1000, 150, 0));
  s.tracks.push_back(track(2, false, 1000, 150, 1150));
  s.leadOut = 2150;
  ASSERT_EQ(PrepareCopyCDCueSheet(s, false), kNoErr);
  // Between the tracks: 2 blocks of the track before, then index 0 for the rest.
  const std::vector<Entry> want = {{0x01, 0x00, 0, 0x01, 0},    {0x01, 0x01, 0, 0x00, 0},
                                   {0x01, 0x01, 1, 0x00, 150},  {0x01, 0x02, 0, 0x00, 1152},
                                   {0x01, 0x02, 1, 0x00, 1300}, {0x01, 0xAA, 1, 0x01, 2300}};
  EXPECT_EQ(entries(s), want);
  const std::vector<std::pair<std::uint32_t, bool>> blocks = {
      {150, false}, {1000, true}, {2, false}, {148, false}, {1000, true}};
  EXPECT_EQ(list(s), blocks);
}

TEST(CueSheets, ACopiedDataTrackRunsUpToTheLeadOut) {
  Session s;
  s.number = 1;
  s.format = 0x00;
  s.tracks.push_back(track(1, true, 1000, 0, 0));
  s.leadOut = 1010;
  ASSERT_EQ(PrepareCopyCDCueSheet(s, true), kNoErr);
  const std::vector<Entry> want = {{0x41, 0x00, 0, 0x41, 0},
                                   {0x41, 0x01, 0, 0x10, 0},
                                   {0x41, 0x01, 1, 0x10, 150},
                                   {0x41, 0xAA, 1, 0x14, 1160}};
  EXPECT_EQ(entries(s), want);
  EXPECT_EQ(s.blocks, 1160u);
}

TEST(CueSheets, AGapThatCannotBeMadeFailsTheSession) {
  Session s;
  s.number = 1;
  s.tracks.push_back(track(1, false, 1000, 150, 0, 2352));
  s.tracks.back().blockSize = 0;  // no block size: no gap of that track can be made
  EXPECT_EQ(PrepareAudioCDCueSheet(s, false), kErrOutOfMemory);
  EXPECT_TRUE(s.cueSheet.empty());
  EXPECT_TRUE(s.saoList.empty());
}

TEST(CueSheets, SessionsWithoutProducersAreRefused) {
  Session empty;
  EXPECT_EQ(PrepareAudioCDCueSheet(empty, false), kErrBadArgument);
  Session audioFirst;
  audioFirst.tracks.push_back(track(1, false, 300, 150));
  EXPECT_EQ(PrepareDataCDCueSheet(audioFirst, false), kErrBadArgument);
}

}  // namespace
