// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated drive's DVD-RW formats against MMC: the format types READ FORMAT CAPACITIES
// offers in each state, FORMAT UNIT turning a sequential disc into restricted overwrite, the
// answers of the formatted disc, its writes in whole ECC blocks, BLANK back to sequential
// recording, and the state kept in the medium's folder.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

using namespace quillion;
using namespace quillion::emu;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kCapacity = 2'295'104;
constexpr std::uint16_t kOverwrite = 0x13, kSequential = 0x14;
using Bytes = std::vector<std::uint8_t>;

class EmulatedOverwriteTest : public ::testing::Test {
 protected:
  // A DVD writer with a DVD-RW in sequential recording, quick formatted to `formatted`
  // blocks first when that is not 0.
  std::uint32_t start(std::uint32_t formatted) {
    drive_ = env_.plug("ow", "dvd-writer");
    Medium disc = env_.blankDisc("ow", kSequential, kCapacity);
    if (formatted) disc.format(*formatTypeFor(kSequential, 0x15), formatted);
    drive_->load(std::move(disc));
    env_.start();
    const std::uint32_t ref = DeviceEnvironment::refOf("ow");
    (void)MMC_TestUnitReady(ref, nullptr);  // the load's unit attention
    EXPECT_EQ(DC_LockDevice(ref, true), kNoErr);
    return ref;
  }

  static std::uint16_t profile(std::uint32_t ref) {
    Bytes header(8, 0);
    EXPECT_EQ(MMC_GetConfiguration(ref, 0, 0, header.data(), 8, nullptr), kNoErr);
    return static_cast<std::uint16_t>(be::get16(header, 6));
  }

  // The format types offered, in their order, with their blocks and parameters.
  struct Offer {
    std::uint8_t type;
    std::uint32_t blocks;
    std::uint32_t parameter;
    bool operator==(const Offer&) const = default;
  };
  static std::vector<Offer> offers(std::uint32_t ref, std::uint8_t* current = nullptr,
                                   std::uint32_t* currentBlocks = nullptr) {
    Bytes list(252, 0);
    EXPECT_EQ(MMC_ReadFormatCapacities(ref, list.data(), static_cast<std::uint32_t>(list.size()),
                                       nullptr),
              kNoErr);
    if (current) *current = list[8] & 0x03;
    if (currentBlocks) *currentBlocks = be::get32(list, 4);
    std::vector<Offer> out;
    for (std::size_t at = 12; at + 8 <= 4u + list[3]; at += 8)
      out.push_back(Offer{static_cast<std::uint8_t>(list[at + 4] >> 2), be::get32(list, at),
                          be::get24(list, at + 5)});
    return out;
  }

  // FORMAT UNIT with one descriptor of `type` and `blocks`, parameter 16.
  static EngineStatus format(std::uint32_t ref, std::uint8_t type, std::uint32_t blocks,
                             MMC_SenseData& sense) {
    Bytes list = {0x00, 0x80, 0x00, 0x08, 0, 0, 0, 0, static_cast<std::uint8_t>(type << 2),
                  0,    0,    16};
    be::put32(list, 4, blocks);
    return MMC_FormatUnit(ref, list.data(), static_cast<std::uint32_t>(list.size()), &sense);
  }

  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
};

// MMC-5 6.24.3: a blank sequential disc offers the full formats and the quick format into
// restricted overwrite; a quick formatted one the quick grow while room is left; a disc
// formatted to its end no grow.
TEST_F(EmulatedOverwriteTest, FormatCapacitiesFollowTheState) {
  struct Case {
    std::uint32_t formatted;
    std::uint8_t current;
    std::uint32_t currentBlocks;
    std::vector<Offer> offered;
  };
  const Case cases[] = {
      {0, 1, kCapacity, {{0x00, kCapacity, 16}, {0x10, kCapacity, 16}, {0x15, kCapacity, 16}}},
      {32, 2, 32, {{0x00, kCapacity, 16}, {0x13, kCapacity - 32, 16}, {0x15, kCapacity, 16}}},
      {kCapacity, 2, kCapacity, {{0x00, kCapacity, 16}, {0x15, kCapacity, 16}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formatted);
    const std::uint32_t ref = start(c.formatted);
    std::uint8_t current = 0;
    std::uint32_t blocks = 0;
    EXPECT_EQ(offers(ref, &current, &blocks), c.offered);
    EXPECT_EQ(current, c.current) << "1 unformatted, 2 formatted";
    EXPECT_EQ(blocks, c.currentBlocks);
    EXPECT_EQ(profile(ref), c.formatted ? kOverwrite : kSequential);
    env_.stop();
    EmulatedBus::instance().reset();
  }
}

// A quick format makes an empty disc in restricted overwrite: complete, one session with one
// track that grows with what is written, writable in whole aligned ECC blocks within the
// formatted blocks only.
TEST_F(EmulatedOverwriteTest, AQuickFormatGivesARestrictedOverwriteDisc) {
  const std::uint32_t ref = start(0);
  MMC_SenseData sense{};
  ASSERT_EQ(format(ref, 0x15, 64, sense), kNoErr);
  EXPECT_EQ(profile(ref), kOverwrite);

  Bytes info(34, 0);
  ASSERT_EQ(MMC_GetDiscInfo(ref, info.data(), 34, nullptr), kNoErr);
  EXPECT_EQ(info[2] & 0x03, 2) << "disc status complete";
  EXPECT_EQ(info[2] & 0x10, 0x10) << "erasable";
  EXPECT_EQ(info[4], 1) << "one session";
  EXPECT_EQ(info[6], 1) << "whose last track is track 1";

  const Bytes data(32 * 2048, 0x5A);
  EXPECT_EQ(MMC_WriteSectors(ref, 16, data.data(), 2048, 16, &sense), kNoErr)
      << "anywhere, aligned";
  EXPECT_EQ(MMC_WriteSectors(ref, 0, data.data(), 2048, 16, &sense), kNoErr)
      << "and over again below";
  struct Refused {
    std::uint32_t lba, blocks;
    std::uint8_t asc, ascq;
  };
  for (const Refused& r :
       {Refused{8, 16, 0x21, 0x02}, Refused{0, 8, 0x21, 0x02}, Refused{48, 32, 0x21, 0x00}}) {
    SCOPED_TRACE(r.lba);
    EXPECT_EQ(MMC_WriteSectors(ref, r.lba, data.data(), 2048, r.blocks, &sense),
              kErrCheckCondition);
    EXPECT_EQ(sense.key, 5);
    EXPECT_EQ(sense.code, r.asc);
    EXPECT_EQ(sense.qualifier, r.ascq);
  }
  Bytes track(32, 0);
  ASSERT_EQ(MMC_GetTrackInfo(ref, 1, track.data(), 32, nullptr), kNoErr);
  EXPECT_EQ(be::get32(track, 8), 0u) << "track start";
  EXPECT_EQ(be::get32(track, 24), 32u) << "track size: up to the last written ECC block";

  // The quick grow adds what the drive offers: the rest of the disc.
  EXPECT_EQ(format(ref, 0x13, kCapacity, sense), kErrCheckCondition) << "more than offered";
  EXPECT_EQ(sense.code, 0x26);
  ASSERT_EQ(format(ref, 0x13, 0, sense), kNoErr);
  EXPECT_EQ(MMC_WriteSectors(ref, 48, data.data(), 2048, 32, &sense), kNoErr);
  std::uint32_t blocks = 0;
  EXPECT_EQ(offers(ref, nullptr, &blocks).size(), 2u) << "no grow offered any more";
  EXPECT_EQ(blocks, kCapacity);
  EXPECT_EQ(format(ref, 0x26, 0, sense), kErrCheckCondition) << "a DVD+RW format";
  EXPECT_EQ(sense.code, 0x26);
  // The folder keeps the state once the cache is flushed: the profile, the formatted blocks,
  // the track as written.
  ASSERT_EQ(MMC_SynchronizeCache(ref, nullptr), kNoErr);
  ASSERT_EQ(DC_LockDevice(ref, false), kNoErr);
  const auto reopened = Medium::load(env_.folder() / "ow.medium");
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->profile().code, kOverwrite);
  EXPECT_EQ(reopened->formattedBlocks(), kCapacity);
  ASSERT_EQ(reopened->tracks().size(), 1u);
  EXPECT_EQ(reopened->tracks().front().length, 80u);
  Bytes back(2048, 0);
  ASSERT_TRUE(reopened->read(79, 1, back.data()));
  EXPECT_EQ(back, Bytes(2048, 0x5A));
  EXPECT_FALSE(fs::exists(env_.folder() / "ow.medium" / "medium.json.new"));
}

// BLANK returns a DVD-RW in restricted overwrite to sequential recording, empty.
TEST_F(EmulatedOverwriteTest, BlankingReturnsToSequentialRecording) {
  const std::uint32_t ref = start(kCapacity);
  const Bytes data(16 * 2048, 1);
  MMC_SenseData sense{};
  ASSERT_EQ(MMC_WriteSectors(ref, 0, data.data(), 2048, 16, &sense), kNoErr);
  ASSERT_EQ(MMC_Blank(ref, 0x01, &sense), kNoErr);  // minimal blank
  EXPECT_EQ(profile(ref), kSequential);
  Bytes info(34, 0);
  ASSERT_EQ(MMC_GetDiscInfo(ref, info.data(), 34, nullptr), kNoErr);
  EXPECT_EQ(info[2] & 0x03, 0) << "blank";
  ASSERT_EQ(DC_LockDevice(ref, false), kNoErr);
}

// A complete disc whose medium.json lists no track answers READ DISC INFORMATION (one
// session, track 1) instead of reading past an empty track list.
TEST_F(EmulatedOverwriteTest, ACompleteDiscWithoutTracksAnswersDiscInformation) {
  const fs::path folder = env_.folder() / "bare.medium";
  fs::create_directories(folder);
  std::ofstream(folder / "medium.json") << R"({"schema": 1, "profile": "DVD-ROM", "capacity": 1000,
                                             "status": "complete"})";
  auto disc = Medium::load(folder);
  ASSERT_TRUE(disc);
  drive_ = env_.plug("bare", "dvd-writer");
  drive_->load(std::move(*disc));
  env_.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("bare");
  (void)MMC_TestUnitReady(ref, nullptr);
  Bytes info(34, 0);
  ASSERT_EQ(MMC_GetDiscInfo(ref, info.data(), 34, nullptr), kNoErr);
  EXPECT_EQ(info[2] & 0x03, 2);
  EXPECT_EQ(info[4], 1);
  EXPECT_EQ(info[6], 1);
}

}  // namespace
