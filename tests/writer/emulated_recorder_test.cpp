// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated recorder on its own, command by command, against what MMC-5 and the Orange
// Book say a CD recorder answers: the write parameters page it takes, the addresses of track
// at once and of later sessions, sectors of each kind as recorded, and the order a session at
// once is written in.
#include <gtest/gtest.h>

#include <functional>

#include "drive_writer_support.h"

using namespace quillion;
using namespace quillion::test;

namespace {

class Recorder : public DriveWriterTest {
 protected:
  // The drive's default page with `change` applied, sent back with MODE SELECT(10).
  EngineStatus selectPage(const std::function<void(Bytes&)>& change,
                          MMC_SenseData* sense = nullptr) {
    Bytes reply(72, 0);
    EXPECT_EQ(MMC_ModeSense10(ref_, 0x05, 2, 72, reply.data(), nullptr), kNoErr);
    const std::size_t at = 8u + be::get16(reply, 6);
    reply.resize(at + 2 + reply[at + 1]);
    be::put16(reply, 0, 0);
    Bytes page(reply.begin() + static_cast<std::ptrdiff_t>(at), reply.end());
    change(page);
    std::copy(page.begin(), page.end(), reply.begin() + static_cast<std::ptrdiff_t>(at));
    return MMC_ModeSelect10(ref_, static_cast<std::uint32_t>(reply.size()), reply.data(), sense);
  }

  static void set(Bytes& page, std::uint8_t writeType, std::uint8_t trackMode,
                  std::uint8_t blockType) {
    page[2] = static_cast<std::uint8_t>((page[2] & 0xF0) | writeType);
    page[3] = static_cast<std::uint8_t>((page[3] & 0xF0) | trackMode);
    page[4] = blockType;
  }

  Bytes trackInfo(std::uint32_t track, MMC_SenseData* sense = nullptr,
                  EngineStatus expect = kNoErr) {
    Bytes info(48, 0);
    EXPECT_EQ(MMC_GetTrackInfo(ref_, static_cast<std::uint8_t>(track), info.data(), 48, sense),
              expect);
    return info;
  }

  Bytes discInfo() {
    Bytes info(34, 0);
    EXPECT_EQ(MMC_GetDiscInfo(ref_, info.data(), 34, nullptr), kNoErr);
    return info;
  }

  EngineStatus writeBlocks(std::int32_t lba, std::uint32_t blocks, std::uint32_t size,
                           MMC_SenseData* sense = nullptr, std::uint32_t seed = 1) {
    const Bytes data = payload(std::size_t{blocks} * size, seed);
    return MMC_WriteSectors(ref_, static_cast<std::uint32_t>(lba), data.data(), size, blocks,
                            sense);
  }

  EngineStatus close(std::uint8_t function, std::uint8_t track, MMC_SenseData* sense = nullptr) {
    return MMC_CloseSessionTrack(ref_, function, track, false, sense);
  }
};

bool is(const MMC_SenseData& s, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  return s.key == key && s.code == asc && s.qualifier == ascq;
}

}  // namespace

TEST_F(Recorder, TheWriteParametersPageIsCheckedAgainstTheMedium) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    EngineStatus status;
  };
  const Case cases[] = {
      {"track at once, Mode 1", [](Bytes& p) { set(p, 1, 4, 8); }, kNoErr},
      {"track at once, audio", [](Bytes& p) { set(p, 1, 0, 0); }, kNoErr},
      {"session at once: the cue sheet says what blocks are", [](Bytes& p) { set(p, 2, 4, 0); },
       kNoErr},
      {"packet writing, not offered", [](Bytes& p) { set(p, 0, 4, 8); }, kErrCheckCondition},
      {"raw writing, not offered", [](Bytes& p) { set(p, 3, 4, 8); }, kErrCheckCondition},
      {"an audio track of Mode 1 blocks", [](Bytes& p) { set(p, 1, 0, 8); }, kErrCheckCondition},
      {"a data track of audio blocks", [](Bytes& p) { set(p, 1, 4, 0); }, kErrCheckCondition},
      {"raw blocks with sub-channel data", [](Bytes& p) { set(p, 1, 4, 1); }, kErrCheckCondition},
      {"an unknown session format", [](Bytes& p) { p[8] = 0x30; }, kErrCheckCondition},
      {"the reserved multi-session value",
       [](Bytes& p) { p[3] = static_cast<std::uint8_t>(0x80 | (p[3] & 0x3F)); },
       kErrCheckCondition},
  };
  start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MMC_SenseData sense{};
    EXPECT_EQ(selectPage(c.change, &sense), c.status);
    if (c.status != kNoErr) {
      EXPECT_TRUE(is(sense, 5, 0x26, 0x00));
    }
  }
}

TEST_F(Recorder, BufeIsRefusedByADriveWithoutIt) {
  start(0x09, 359'846, "cd-writer", false);
  Bytes changeable(72, 0);
  ASSERT_EQ(MMC_ModeSense10(ref_, 0x05, 1, 72, changeable.data(), nullptr), kNoErr);
  EXPECT_EQ(changeable[8 + be::get16(changeable, 6) + 2] & 0x40, 0) << "not a changeable bit";
  MMC_SenseData sense{};
  EXPECT_EQ(selectPage([](Bytes& p) { p[2] |= 0x40; }, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x26, 0x00));
}

TEST_F(Recorder, TrackAtOnceAndSessionsLieWhereTheOrangeBookPutsThem) {
  start();
  MMC_SenseData sense{};
  ASSERT_EQ(selectPage([](Bytes& p) { p[3] = 0xC4; }), kNoErr);  // next session allowed
  EXPECT_EQ(be::get32(trackInfo(0xFF), 12), 0u) << "a blank disc starts at 0";
  ASSERT_EQ(writeBlocks(0, 100, 2048), kNoErr);
  EXPECT_EQ(be::get32(trackInfo(0xFF), 12), 100u) << "the incomplete track goes on";
  EXPECT_EQ(close(2, 0, &sense), kErrCheckCondition) << "a session with an incomplete track";
  EXPECT_TRUE(is(sense, 5, 0x72, 0x03));
  ASSERT_EQ(close(1, 1), kNoErr);
  const Bytes one = trackInfo(1);
  EXPECT_EQ(be::get32(one, 24), 302u) << "padded to 4 seconds, then 2 run-out blocks";
  EXPECT_EQ(be::get32(one, 28), 299u) << "last recorded address";
  EXPECT_EQ(one[7] & 0x01, 0) << "no next writable address in a closed track";
  const Bytes invisible = trackInfo(0xFF);
  EXPECT_EQ(invisible[2], 2);
  EXPECT_EQ(be::get32(invisible, 12), 302u + 150) << "after the run-out, a 2-second pregap";
  EXPECT_EQ(writeBlocks(451, 1, 2048, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x21, 0x02)) << "only at the next writable address";
  EXPECT_EQ(close(1, 2), kNoErr) << "the invisible track: nothing to close";

  ASSERT_EQ(close(2, 0), kNoErr);
  Bytes disc = discInfo();
  EXPECT_EQ(disc[2] & 0x0F, 0x01) << "appendable, last session empty";
  EXPECT_EQ(disc[4], 2);
  EXPECT_EQ(disc[5], 2);
  EXPECT_EQ(disc[6], 2);
  // The next lead-in follows the first lead-out (6,750 blocks): 302 + 6,750 = 01:36:02 + 2 s.
  EXPECT_EQ(disc[17], 1);
  EXPECT_EQ(disc[18], 36);
  EXPECT_EQ(disc[19], 2);
  const std::uint32_t second = 302 + 6750 + 4500 + 150;
  EXPECT_EQ(be::get32(trackInfo(0xFF), 12), second);
  Bytes toc(4 + 11 * 8, 0);
  ASSERT_EQ(
      MMC_GetTOC(ref_, toc.data(), static_cast<std::uint32_t>(toc.size()), 2, 1, false, nullptr),
      kNoErr);
  EXPECT_EQ(be::get16(toc, 0), 2u + 5 * 11) << "A0, A1, A2, track 1 and B0";
  const std::size_t b0 = 4 + 4 * 11;
  EXPECT_EQ(toc[b0 + 3], 0xB0);
  EXPECT_EQ(toc[b0 + 1], 0x54) << "ADR 5";
  EXPECT_EQ(toc[b0 + 4] * 4500 + toc[b0 + 5] * 75 + toc[b0 + 6], second + 150)
      << "next program area";

  ASSERT_EQ(writeBlocks(static_cast<std::int32_t>(second), 300, 2048), kNoErr);
  ASSERT_EQ(close(1, 2), kNoErr);
  ASSERT_EQ(close(2, 0), kNoErr);
  EXPECT_EQ(be::get32(trackInfo(0xFF), 12), second + 302 + 2250 + 4500 + 150)
      << "later lead-outs are 2,250 blocks";

  ASSERT_EQ(selectPage([](Bytes& p) { p[3] = 0x04; }), kNoErr);  // no next session
  ASSERT_EQ(writeBlocks(static_cast<std::int32_t>(second + 302 + 6900), 300, 2048), kNoErr);
  ASSERT_EQ(close(1, 3), kNoErr);
  ASSERT_EQ(close(2, 0), kNoErr);
  disc = discInfo();
  EXPECT_EQ(disc[2] & 0x0F, 0x0E) << "complete disc, complete last session";
  EXPECT_EQ(disc[4], 3);
  EXPECT_EQ(be::get32(disc, 16), 0xFFFFFFFFu);
  trackInfo(0xFF, &sense, kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x24, 0x00)) << "a complete disc has no invisible track";
  EXPECT_EQ(close(2, 0), kNoErr) << "nothing left to close";
}

TEST_F(Recorder, SectorsAreRecordedAsTheirBlockTypeSays) {
  start();
  struct Track {
    std::uint8_t trackMode, blockType;
    std::uint32_t size;
    std::uint8_t readCdType;  // expected sector type of READ CD
    std::uint32_t userBytes;  // what READ CD returns as user data
    bool readable;            // READ(10) gives 2048 bytes
  };
  const Track plan[] = {
      {0, 0, 2352, 1, 2352, false},   // audio
      {4, 8, 2048, 2, 2048, true},    // Mode 1
      {4, 10, 2048, 4, 2048, true},   // Mode 2 Form 1
      {4, 12, 2324, 5, 2324, false},  // Mode 2 Form 2
      {4, 9, 2336, 3, 2336, false},   // Mode 2 formless
  };
  std::uint32_t number = 1;
  for (const auto& t : plan) {
    SCOPED_TRACE(int{t.blockType});
    ASSERT_EQ(selectPage([&](Bytes& p) { set(p, 1, t.trackMode, t.blockType); }), kNoErr);
    const std::uint32_t start = be::get32(trackInfo(0xFF), 12);
    const Bytes data = payload(std::size_t{300} * t.size, number);
    ASSERT_EQ(MMC_WriteSectors(ref_, start, data.data(), t.size, 300, nullptr), kNoErr);
    ASSERT_EQ(close(1, static_cast<std::uint8_t>(number)), kNoErr);
    Bytes user(t.userBytes);
    ASSERT_EQ(MMC_ReadCD(ref_, static_cast<std::uint8_t>(t.readCdType << 2), 0x10, start + 7, 1,
                         user.data(), t.userBytes, nullptr),
              kNoErr);
    EXPECT_TRUE(std::equal(user.begin(), user.end(), data.begin() + 7 * t.size));
    MMC_SenseData sense{};
    Bytes block(2048);
    const std::uint8_t wrongType = t.readCdType == 1 ? 2 : 1;
    EXPECT_EQ(MMC_ReadCD(ref_, static_cast<std::uint8_t>(wrongType << 2), 0x10, start, 1,
                         user.data(), t.userBytes, &sense),
              kErrCheckCondition);
    EXPECT_TRUE(is(sense, 5, 0x64, 0x00));
    const std::uint8_t read10[12] = {0x28,
                                     0,
                                     static_cast<std::uint8_t>(start >> 24),
                                     static_cast<std::uint8_t>(start >> 16),
                                     static_cast<std::uint8_t>(start >> 8),
                                     static_cast<std::uint8_t>(start),
                                     0,
                                     0,
                                     1};
    EXPECT_EQ(
        DC_ExecuteMMCCmd_Sync(ref_, read10, 12, block.data(), 2048, kDC_DataIn, 30000, &sense),
        t.readable ? kNoErr : kErrCheckCondition);
    if (t.readable) {
      EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin()));
    }
    ++number;
  }
  // A Form 1 sector in full: sync, header in BCD with mode 2, the data subheader twice.
  const std::uint32_t form1 = static_cast<std::uint32_t>(be::get32(trackInfo(3), 8));
  Bytes raw(2352);
  ASSERT_EQ(MMC_ReadCD(ref_, 0x10, 0xF8, form1, 1, raw.data(), 2352, nullptr), kNoErr);
  EXPECT_EQ(raw[1], 0xFF);
  EXPECT_EQ(raw[15], 2);
  EXPECT_EQ(raw[18], 0x08);
  EXPECT_EQ(raw[22], 0x08);
  const std::uint32_t frames = form1 + 150;
  EXPECT_EQ(raw[12], (frames / 4500 / 10) << 4 | frames / 4500 % 10);
  Bytes sub(8 + 2048);
  ASSERT_EQ(MMC_ReadCD(ref_, 0x10, 0x50, form1, 1, sub.data(),
                       static_cast<std::uint32_t>(sub.size()), nullptr),
            kNoErr);
  EXPECT_EQ(sub[2], 0x08) << "subheader and user data";
}

TEST_F(Recorder, ASessionAtOnceIsWrittenInTheCueSheetsOrder) {
  start();
  MMC_SenseData sense{};
  const Bytes sheet = audioCueSheet(-150, 1, {{150, 300}});
  EXPECT_EQ(MMC_SendCueSheet(ref_, sheet.data(), static_cast<std::uint32_t>(sheet.size()), &sense),
            kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x2C, 0x00)) << "only when the page says session at once";
  ASSERT_EQ(selectPage([](Bytes& p) { set(p, 2, 0, 0); }), kNoErr);
  EXPECT_EQ(writeBlocks(-150, 1, 2352, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x2C, 0x00)) << "no cue sheet yet";
  ASSERT_EQ(MMC_SendCueSheet(ref_, sheet.data(), static_cast<std::uint32_t>(sheet.size()), nullptr),
            kNoErr);
  EXPECT_EQ(writeBlocks(0, 1, 2352, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x21, 0x02)) << "from the first pregap on";
  EXPECT_EQ(writeBlocks(-151, 1, 96, &sense), kErrCheckCondition) << "no CD-Text in this lead-in";
  EXPECT_EQ(writeBlocks(-150, 2, 2048, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x64, 0x00)) << "audio blocks are 2352 bytes";
  ASSERT_EQ(writeBlocks(-150, 150, 2352), kNoErr);
  ASSERT_EQ(writeBlocks(0, 299, 2352), kNoErr);
  EXPECT_EQ(close(2, 0, &sense), kErrCheckCondition) << "one block short";
  EXPECT_EQ(writeBlocks(299, 2, 2352, &sense), kErrCheckCondition);
  EXPECT_TRUE(is(sense, 5, 0x21, 0x00)) << "past the lead-out's start";
  ASSERT_EQ(writeBlocks(299, 1, 2352), kNoErr);
  ASSERT_EQ(MMC_SynchronizeCache(ref_, nullptr), kNoErr);
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  const Bytes disc = discInfo();
  EXPECT_EQ(disc[2] & 0x0F, 0x0E);
}
