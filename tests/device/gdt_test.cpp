// SPDX-License-Identifier: GPL-2.0-or-later
// The device and disc queries: reply decoding that distrusts lengths, and GDT_* over the
// emulated drive (disc descriptions, the free-blocks fallback while the drive is held, drives
// without READ TRACK INFORMATION, reads that move nothing, CD-Text bounds).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "device/cd_text.h"
#include "device/disc_replies.h"
#include "device_environment.h"
#include "quillion/GDT.h"
#include "tests/support/test_support.h"

using namespace quillion;
using namespace quillion::emu;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A full TOC descriptor (MMC-5 Table 237): session, ADR 1 / CONTROL, point, PMIN PSEC PFRAME.
void descriptor(Bytes& toc, std::uint8_t session, std::uint8_t control, std::uint8_t point, std::uint8_t m,
                std::uint8_t s, std::uint8_t f) {
  toc.insert(toc.end(), {session, static_cast<std::uint8_t>(0x10 | control), 0, point, 0, 0, 0, 0, m, s, f});
}

Bytes withLength(Bytes reply) {
  if (reply.size() < 2) return reply;  // no room for the length field itself
  const std::size_t n = reply.size() - 2;
  reply[0] = static_cast<std::uint8_t>(n >> 8);
  reply[1] = static_cast<std::uint8_t>(n);
  return reply;
}

// Two sessions: an audio track, then a data session of type 20h.
Bytes twoSessionToc() {
  Bytes toc = {0, 0, 1, 2};
  descriptor(toc, 1, 0, 0xA0, 1, 0x00, 0);
  descriptor(toc, 1, 0, 0xA1, 1, 0, 0);
  descriptor(toc, 1, 0, 0xA2, 0, 12, 0);  // lead-out at 00:12:00 = 750
  descriptor(toc, 1, 0, 1, 0, 2, 0);      // track 1 at 0
  descriptor(toc, 2, 4, 0xA0, 2, 0x20, 0);
  descriptor(toc, 2, 4, 0xA1, 2, 0, 0);
  descriptor(toc, 2, 4, 0xA2, 3, 0, 0);   // lead-out at 03:00:00 = 13350
  descriptor(toc, 2, 4, 2, 2, 44, 0);     // track 2 at 02:44:00 = 12150
  return withLength(toc);
}

}  // namespace

TEST(DiscReplies, FullTocGivesTracksUpToTheirSessionsLeadOut) {
  const auto toc = parseFullToc(twoSessionToc());
  ASSERT_TRUE(toc);
  ASSERT_EQ(toc->sessions.size(), 2u);
  EXPECT_EQ(toc->sessions[1].discType, 0x20);
  ASSERT_EQ(toc->tracks.size(), 2u);
  EXPECT_EQ(toc->tracks[0].start, 0u);
  EXPECT_EQ(toc->tracks[0].end, 750u) << "the first session's lead-out, not the next track";
  EXPECT_FALSE(toc->tracks[0].data);
  EXPECT_EQ(toc->tracks[1].start, 12150u);
  EXPECT_EQ(toc->tracks[1].end, 13350u);
  EXPECT_TRUE(toc->tracks[1].data);
}

TEST(DiscReplies, RepliesThatAreNotWhatWasAskedForAreRefused) {
  // Format-0 data, as an ATAPI drive answers a format-2 request it takes from byte 9 only.
  const Bytes format0 = withLength({0, 0, 1, 1, 0, 0x14, 1, 0, 0, 0, 2, 0, 0, 0x14, 0xAA, 0, 0, 0, 6, 29});
  struct Case {
    const char* name;
    Bytes reply;
  };
  Bytes truncated = twoSessionToc();
  truncated.resize(4 + 2 * 11);  // the drive said more than arrived: no lead-out in reach
  Bytes noLeadOut = {0, 0, 1, 1};
  descriptor(noLeadOut, 1, 4, 1, 0, 2, 0);
  const Case cases[] = {
      {"format 0 for format 2", format0},
      {"cut short", truncated},
      {"session without lead-out", withLength(noLeadOut)},
      {"empty", {}},
      {"length larger than the buffer", {0xFF, 0xFF, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(parseFullToc(c.reply));
  }
  const auto trackToc = parseTrackToc(format0);
  ASSERT_TRUE(trackToc);
  ASSERT_EQ(trackToc->tracks.size(), 1u);
  EXPECT_EQ(trackToc->tracks[0].end, 0x0600u + 29u);
}

TEST(DiscReplies, LengthsAreTakenAsEachCommandDefinesThem) {
  // GET EVENT STATUS NOTIFICATION counts the bytes after its 4-byte header.
  const auto media = parseMediaEvent(Bytes{0, 4, 0x04, 0x10, 0x02, 0x01, 0, 0});
  ASSERT_TRUE(media);
  EXPECT_TRUE(media->trayOpen);
  EXPECT_FALSE(media->present);
  EXPECT_EQ(media->event, 2);
  EXPECT_FALSE(parseMediaEvent(Bytes{0, 2, 0x84, 0x10}));  // no event available

  Bytes disc(34, 0);
  disc[1] = 32;
  disc[2] = 0x0E;  // complete session, complete disc
  disc[3] = 1;
  disc[4] = 1;
  disc[6] = 3;
  disc[21] = 79;  // lead-out 79:59:74
  disc[22] = 59;
  disc[23] = 74;
  auto info = parseDiscInformation(disc);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->discStatus, 2);
  EXPECT_EQ(info->lastTrackInLastSession, 3);
  EXPECT_EQ(info->leadOutBlocks, 79u * 4500 + 59 * 75 + 74);
  disc[1] = 10;  // the drive sent only the first 12 bytes: no lead-out
  info = parseDiscInformation(disc);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->leadOutBlocks);
  disc[1] = 4;
  EXPECT_FALSE(parseDiscInformation(disc));
}

TEST(CdText, TrackNumbersFromTheDiscStayInsideTheTable) {
  Bytes reply = {0, 0, 0, 0};
  const auto pack = [&](std::uint8_t type, std::uint8_t track, std::string_view text) {
    const std::size_t at = reply.size();
    reply.insert(reply.end(), {type, track, 0, 0});
    reply.resize(at + 18, 0);
    std::memcpy(reply.data() + at + 4, text.data(), std::min<std::size_t>(text.size(), 12));
  };
  using namespace std::string_view_literals;
  pack(0x80, 0, "Album\0Song O"sv);  // the disc's title, then track 1's, running on
  pack(0x80, 1, "ne\0"sv);
  pack(0x81, 90, "Nobody\0"sv);  // track 90 of a two-entry table
  pack(0x81, 127, "Far\0Farther"sv);
  pack(0x8F, 0, ""sv);
  reply = withLength(reply);
  const auto table = cdTextTable(reply, 2);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 2u * kGDT_CDTextEntryBytes);
  EXPECT_STREQ(table->data(), "Album");
  EXPECT_STREQ(table->data() + kGDT_CDTextEntryBytes, "Song One");
  EXPECT_STREQ(table->data() + kGDT_CDTextStringBytes, "") << "performers only for tracks beyond the table";

  // The TOC an old ATAPI drive sends instead: no CD-Text, no table.
  EXPECT_FALSE(cdTextTable(withLength({0, 0, 1, 1, 0, 0x14, 1, 0, 0, 0, 2, 0, 0, 0x14, 0xAA, 0, 0, 0, 6, 29}), 2));
  EXPECT_FALSE(cdTextTable(withLength({0, 0, 0, 0}), 2));
}

namespace {

class DiscQueries : public ::testing::Test {
protected:
  std::uint32_t start(Medium medium) {
    drive_ = env_.plug("reader");
    drive_->load(std::move(medium));
    env_.start();
    return DeviceEnvironment::refOf("reader");
  }

  std::optional<Medium> isoDisc(std::uint16_t profile) {
    const auto tree = temp_.path() / "tree";
    std::filesystem::create_directories(tree);
    std::ofstream(tree / "A.TXT") << std::string(300000, 'a');
    const auto iso = temp_.path() / "disc.iso";
    if (test::runTool({"genisoimage", "-quiet", "-V", "QUERIES", "-o", iso.string(), tree.string()})
            .exitCode != 0)
      return std::nullopt;
    isoBlocks_ = static_cast<std::uint32_t>(std::filesystem::file_size(iso) / 2048);
    return Medium::fromIso(iso, env_.folder() / "iso.medium", profile);
  }

  std::size_t commandsSeen(std::uint8_t opcode) const {
    std::size_t n = 0;
    for (const auto& c : drive_->log())
      if (!c.cdb.empty() && c.cdb[0] == opcode) ++n;
    return n;
  }

  test::TempDir temp_;
  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
  std::uint32_t isoBlocks_ = 0;
};

struct InfoDeleter {
  void operator()(GDT_DiscInfo* p) const { std::free(p); }
};
using InfoPtr = std::unique_ptr<GDT_DiscInfo, InfoDeleter>;

InfoPtr describe(std::uint32_t ref, EngineStatus expected = kNoErr) {
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  EXPECT_EQ(GDT_GetDiscInfo(ref, &info, &sense), expected);
  return InfoPtr(info);
}

}  // namespace

TEST_F(DiscQueries, PressedDiscWithOrWithoutTrackInformation) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  auto medium = isoDisc(0x08);
  ASSERT_TRUE(medium);
  const std::uint32_t ref = start(std::move(*medium));
  for (const bool refuseTrackInfo : {false, true}) {
    SCOPED_TRACE(refuseTrackInfo ? "READ TRACK INFORMATION refused" : "READ TRACK INFORMATION answered");
    if (refuseTrackInfo) {
      drive_->addFault({.opcode = 0x52, .action = FaultAction::CheckCondition, .key = 5, .asc = 0x20, .ascq = 0});
    }
    const auto info = describe(ref);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->discState, kGDT_DiscClosed);
    EXPECT_EQ(info->sessions, 1);
    EXPECT_EQ(info->mediumClass, kGDT_MediumCD);
    ASSERT_EQ(info->trackCount, 1);
    EXPECT_EQ(GDT_Tracks(info.get())[0].mode, kGDT_ModeData1);
    EXPECT_EQ(GDT_Tracks(info.get())[0].start, 0u);
    EXPECT_EQ(GDT_Tracks(info.get())[0].length, isoBlocks_);
    EXPECT_EQ(info->usedBlocks, isoBlocks_);
  }
}

TEST_F(DiscQueries, BlankMediaAndTheFreeBlocksFallbackWhileHeld) {
  // A blank CD's free blocks are its last possible lead-out start as the drive gives it (MSF,
  // so 150 blocks above the LBA); a blank DVD's are track 1's free blocks, also on a DVD+RW
  // that was never formatted.
  struct Case {
    std::uint16_t profile;
    std::uint32_t capacity;
    std::uint8_t mediumClass;
    std::uint32_t freeBlocks;
  };
  for (const Case c : {Case{0x09, 359'847, kGDT_MediumCD, 359'997},
                       Case{0x11, 2'295'104, kGDT_MediumDVDorBD, 2'295'104},
                       Case{0x1A, 2'295'104, kGDT_MediumDVDorBD, 2'295'104}}) {
    SCOPED_TRACE(c.profile);
    DeviceEnvironment env;
    auto drive = env.plug("writer");
    drive->load(env.blankDisc("writer", c.profile, c.capacity));
    env.start();
    const std::uint32_t ref = DeviceEnvironment::refOf("writer");
    // Held: the drive query family answers -1 and the raw command must stand in for it.
    ASSERT_EQ(GDT_ReserveDrive(ref, true), kNoErr);
    const auto info = describe(ref);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->discState, kGDT_DiscBlank);
    EXPECT_EQ(info->sessions, 0);
    EXPECT_EQ(info->trackCount, 0);
    EXPECT_EQ(info->mediumClass, c.mediumClass);
    EXPECT_EQ(info->freeBlocks, c.freeBlocks);
    EXPECT_EQ(GDT_ReserveDrive(ref, false), kNoErr);
  }
}

TEST_F(DiscQueries, ReadsThatMoveNothingNeverReachTheDrive) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  auto medium = isoDisc(0x08);
  ASSERT_TRUE(medium);
  const std::uint32_t ref = start(std::move(*medium));
  std::vector<std::uint8_t> buffer(4096);
  drive_->clearLog();
  EXPECT_EQ(GDT_Get2048DataBlocks(ref, buffer.data(), 16, 0, true), kErrBadArgument);
  EXPECT_EQ(GDT_Get2048DataBlocks(ref, nullptr, 16, 1, true), kErrBadArgument);
  EXPECT_EQ(GDT_GetTrackUserData(ref, 0x0810, 16, 0, buffer.data(), buffer.size(), nullptr), kErrBadArgument);
  const std::uint8_t read10[12] = {0x28, 0, 0, 0, 0, 16, 0, 0, 0};
  EXPECT_EQ(DC_ExecuteMMCCmd_Sync(ref, read10, 12, nullptr, 0, kDC_DataIn, 1000, nullptr), kNoErr);
  EXPECT_EQ(commandsSeen(0x28) + commandsSeen(0xA8) + commandsSeen(0xBE), 0u);

  ASSERT_EQ(GDT_Get2048DataBlocks(ref, buffer.data(), 16, 2, true), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + 1, 5), "CD001");
}

TEST_F(DiscQueries, AMediumChangeMakesTheNextReadAskForTheCapacityFirst) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  auto medium = isoDisc(0x08);
  ASSERT_TRUE(medium);
  const std::uint32_t ref = start(std::move(*medium));
  std::vector<std::uint8_t> buffer(2048);
  ASSERT_EQ(GDT_Get2048DataBlocks(ref, buffer.data(), 16, 1, true), kNoErr);
  drive_->clearLog();
  ASSERT_EQ(GDT_Get2048DataBlocks(ref, buffer.data(), 17, 1, true), kNoErr);
  EXPECT_EQ(commandsSeen(0x25), 0u) << "nothing changed: no extra command per read";
  // A unit attention for a new medium on the read: capacity and TOC again, then the read.
  drive_->addFault({.opcode = 0xA8, .fromCall = 1, .toCall = 1, .action = FaultAction::CheckCondition, .key = 6,
                    .asc = 0x28, .ascq = 0});
  drive_->clearLog();
  ASSERT_EQ(GDT_Get2048DataBlocks(ref, buffer.data(), 16, 1, true), kNoErr);
  EXPECT_EQ(commandsSeen(0x25), 1u);
  EXPECT_EQ(commandsSeen(0xA8), 2u);
}
