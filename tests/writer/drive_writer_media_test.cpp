// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer on what differs from drive to drive and medium to medium: buffer-underrun
// protection, simulation, DVD-R packets, DVD+R closing, DVD+RW formatting, reservations, a
// data session written at once and CD-Text in the lead-in.
#include <gtest/gtest.h>

#include "drive_writer_support.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

class WriterMedia : public DriveWriterTest {
 protected:
  std::uint32_t nextWritable() {
    std::array<std::uint8_t, 48> info{};
    EXPECT_EQ(MMC_GetTrackInfo(ref_, 0xFF, info.data(), info.size(), nullptr), kNoErr);
    return be::get32(info, 12);
  }
};

}  // namespace

TEST_F(WriterMedia, UnderrunProtectionAsTheDriveOffersIt) {
  struct Case {
    const char* name;
    bool driveHasBufe;
    bool protection;
    std::uint32_t kind;
    std::uint8_t bufeSent;  // BUFE in the page CreateCD leaves in place
  };
  const Case cases[] = {
      {"BUFE on", true, true, kCDWriterEx_UnderrunBUFE, 0x40},
      {"BUFE off", true, false, kCDWriterEx_UnderrunBUFE, 0x00},
      {"left alone", true, true, kCDWriterEx_UnderrunNone, 0x00},
      {"a drive without BUFE", false, true, kCDWriterEx_UnderrunBUFE, 0x00},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    start(0x09, 359'846, "cd-writer", c.driveHasBufe);
    myBurnEng_Pack* context = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, true, 1, true,
                                                  c.protection, nullptr, c.kind);
    ASSERT_NE(context, nullptr) << "a drive without protection is still written";
    EXPECT_EQ(page05(-1)[2] & 0x40, c.bufeSent);
    if (!c.driveHasBufe) {
      const auto senses = sent(0x5A);
      EXPECT_TRUE(std::any_of(senses.begin(), senses.end(), [](const emu::LoggedCommand& k) {
        return (k.cdb[2] & 0x3F) == 0x30;
      })) << "the vendor page was asked for";
      ASSERT_EQ(CDWriterEx_CreateSession(context, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
      EXPECT_EQ(page05(-1)[2] & 0x40, 0) << "and BUFE is never asked for again";
    }
    (void)CDWriterEx_CloseCD(context);
    restart();
  }
}

TEST_F(WriterMedia, ASimulationRecordsNothing) {
  start();
  myBurnEng_Pack* c = openDataTrack(true);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(page05(-1)[2] & 0x10, 0x10) << "test write";
  const Bytes data = payload(400 * 2048, 1);
  ASSERT_EQ(writeAll(c, data, 2048), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  EXPECT_EQ(writeAddresses().back(), 392) << "every block went to the drive";
  EXPECT_EQ(discStatus(), emu::DiscStatus::Blank);
  EXPECT_EQ(nextWritable(), 0u);
}

TEST_F(WriterMedia, DvdMinusRIsWrittenInFixedPacketsAndDvdPlusRClosedAsAsked) {
  // DVD-R: incremental, links of 16, packets of 32, track mode 5 with fixed packets.
  start(0x11, 2'295'104, "dvd-writer");
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  ASSERT_EQ(CDWriterEx_CreateTrack(c, 1, kMode1, 2048, 0, nullptr, 0), kNoErr);
  const Bytes page = page05(-1);
  EXPECT_EQ(page[2] & 0x2F, 0x20) << "LS_V, write type 0";
  EXPECT_EQ(page[3], 0x25);
  EXPECT_EQ(page[5], 16);
  EXPECT_EQ(be::get32(page, 10), 32u);
  EXPECT_EQ(CDWriterEx_ReserveTrack(c, 100), kNoErr);
  const Bytes data = payload(112 * 2048, 2);
  ASSERT_EQ(writeAll(c, data, 2048), kNoErr);
  Bytes over(2048);
  EXPECT_EQ(CDWriterEx_WriteCD(c, over.data(), 1, 2048, &stop_), kErrDataRefused)
      << "the reservation, rounded up to 112 blocks, is full";
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  restart();

  // DVD+R: the next address from the disc information; the last session of a closed disc
  // finalizes it (close function 6), an open one leaves it appendable.
  start(0x1B, 2'295'104, "dvd-writer");
  for (int session = 1; session <= 2; ++session) {
    const bool last = session == 2;
    c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, true, 1, last, false, nullptr, 0);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
    ASSERT_EQ(
        CDWriterEx_CreateTrack(c, static_cast<std::uint8_t>(session), kMode1, 2048, 0, nullptr, 0),
        kNoErr);
    ASSERT_EQ(writeAll(c, payload(64 * 2048, 3), 2048), kNoErr);
    ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
    ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
    ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
    EXPECT_EQ(sent(0x5B).back().cdb[2], last ? 6 : 2);
    EXPECT_EQ(discStatus(), last ? emu::DiscStatus::Complete : emu::DiscStatus::Appendable);
  }
  EXPECT_EQ(writeAddresses().back(), 64 + 32) << "the second session right after the first";
  c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  EXPECT_EQ(CDWriterEx_CreateTrack(c, 3, kMode1, 2048, 0, nullptr, 0), kErrNoWritableAddress);
  (void)CDWriterEx_CloseCD(c);
}

TEST_F(WriterMedia, ADvdPlusRwIsFormattedOnceBeforeWriting) {
  start(0x1A, 2'295'104, "dvd-writer");
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  const auto formats = sent(0x04);
  ASSERT_EQ(formats.size(), 1u);
  ASSERT_GE(formats[0].dataOut.size(), 12u);
  EXPECT_EQ(formats[0].dataOut[1], 0x82) << "format options valid, immediate";
  EXPECT_EQ(formats[0].dataOut[8] >> 2, 0x26) << "basic format";
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, nullptr, 0, nullptr, 0), kNoErr);
  ASSERT_EQ(CDWriterEx_CreateTrack(c, 1, kMode1, 2048, 0, nullptr, 0), kNoErr);
  EXPECT_TRUE(sent(0x52).empty()) << "an overwritable disc is written where the caller says";
  const Bytes data = payload(48 * 2048, 4);
  ASSERT_EQ(writeAll(c, data, 2048), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  for (const auto& close : sent(0x5B))
    EXPECT_NE(close.cdb[2] & 0x07, 1) << "a DVD+RW has no track to close";
  Bytes back(48 * 2048);
  std::array<std::uint8_t, 12> read12{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 48};
  ASSERT_EQ(
      DC_ExecuteMMCCmd_Sync(ref_, read12.data(), 12, back.data(),
                            static_cast<std::uint32_t>(back.size()), kDC_DataIn, 30000, nullptr),
      kNoErr);
  EXPECT_EQ(back, data);
  drive_->clearLog();
  c = CDWriterEx_CreateCD(ref_, nullptr, 0, false, 8, true, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(sent(0x04).empty()) << "a formatted disc is not formatted again";
  (void)CDWriterEx_CloseCD(c);
}

TEST_F(WriterMedia, AReservedCdTrackIsFilledAndClosedToItsSize) {
  start();
  myBurnEng_Pack* c = openDataTrack();
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_ReserveTrack(c, 500), kNoErr);
  EXPECT_EQ(CDWriterEx_ReserveTrack(c, 500), kErrCheckCondition) << "a track is open";
  MMC_SenseData sense{};
  EXPECT_EQ(CDWriterEx_GetCurrentSense(c, &sense), kNoErr);
  EXPECT_EQ(sense.code, 0x2C);
  ASSERT_EQ(writeAll(c, payload(200 * 2048, 5), 2048), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CreateTrack(c, 2, kMode1, 2048, 150, nullptr, 0), kNoErr);
  ASSERT_EQ(writeAll(c, payload(300 * 2048, 6), 2048), kNoErr);
  EXPECT_EQ(writeAddresses()[7], 500 + 2 + 150)
      << "after the whole reservation, its run-out and a pregap";
  ASSERT_EQ(CDWriterEx_CloseTrack(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  const auto recorded = tracks();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].length, 500u);
  EXPECT_EQ(recorded[0].reserved, 500u);
}

TEST_F(WriterMedia, ADataSessionAtOnceReadsBack) {
  QUILLION_REQUIRE_TOOL("cd-info");
  QUILLION_REQUIRE_TOOL("bchunk");
  // One data track of 200 blocks at 0: lead-in, pregap of 150, the track and 102 blocks of
  // padding to 4 seconds plus 2, lead-out at 00:06:02.
  Bytes sheet;
  cueEntry(sheet, 0x41, 0x00, 0, 0x14, -150);
  cueEntry(sheet, 0x41, 0x01, 0, 0x10, -150);
  cueEntry(sheet, 0x41, 0x01, 1, 0x10, 0);
  cueEntry(sheet, 0x41, 0xAA, 1, 0x14, 302);
  const Bytes data = payload(200 * 2048, 7);
  Bytes stream(150 * 2048, 0);
  stream.insert(stream.end(), data.begin(), data.end());
  stream.resize(stream.size() + 102 * 2048, 0);
  start();
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, false, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kMode1, 0, sheet.data(),
                                     static_cast<std::uint32_t>(sheet.size()), nullptr, 0),
            kNoErr);
  ASSERT_EQ(writeAll(c, stream, 2048), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  const fs::path cue = dump();
  const std::string info = cdInfo(cue);
  EXPECT_NE(info.find("1: 00:02:00  000000 data"), std::string::npos) << info;
  EXPECT_NE(info.find("00:06:02  000302 leadout"), std::string::npos) << info;
  ASSERT_TRUE(bchunk(false));
  const Bytes back = readFile(env_.folder() / "t01.iso");
  ASSERT_EQ(back.size(), 302u * 2048);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
}

TEST_F(WriterMedia, CdTextGoesIntoTheLeadInBeforeTheSession) {
  // An audio session whose lead-in carries CD-Text: the host writes the R-W sub-channel of
  // every lead-in block, 96 bytes each, from the lead-in's start (97:26:66 on this medium) to
  // the first pregap; the writer's start address is minus that many blocks.
  constexpr std::int32_t kLeadInBlocks = 450'000 - (97 * 4500 + 26 * 75 + 66);
  Bytes sheet;
  cueEntry(sheet, 0x01, 0x00, 0, 0x41, -150);
  cueEntry(sheet, 0x01, 0x01, 0, 0x00, -150);
  cueEntry(sheet, 0x01, 0x01, 1, 0x00, 0);
  cueEntry(sheet, 0x01, 0xAA, 1, 0x01, 400);
  const Bytes packs = payload(4 * 24, 8);  // four packs in their raw form, repeated
  Bytes leadIn;
  for (std::int32_t i = 0; i < kLeadInBlocks; ++i)
    leadIn.insert(leadIn.end(), packs.begin(), packs.end());
  Bytes session(150 * 2352, 0);
  const Bytes music = payload(400 * 2352, 9);
  session.insert(session.end(), music.begin(), music.end());
  start();
  myBurnEng_Pack* c =
      CDWriterEx_CreateCD(ref_, nullptr, 0, false, 4, false, 1, true, false, nullptr, 0);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(CDWriterEx_CreateSession(c, 0, kAudio, -kLeadInBlocks, sheet.data(),
                                     static_cast<std::uint32_t>(sheet.size()), packs.data(), 96),
            kNoErr);
  ASSERT_EQ(writeAll(c, leadIn, 96, 600), kNoErr);
  ASSERT_EQ(writeAll(c, session, 2352), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseSession(c), kNoErr);
  ASSERT_EQ(CDWriterEx_CloseCD(c), kNoErr);
  EXPECT_EQ(writeAddresses().front(), -150 - kLeadInBlocks);
  EXPECT_EQ(readFile(env_.folder() / "rec.medium" / "leadin-cdtext.raw"), leadIn);
  EXPECT_EQ(discStatus(), emu::DiscStatus::Complete);
  const auto recorded = tracks();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].length, 400u);
}
