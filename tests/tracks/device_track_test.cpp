// SPDX-License-Identifier: GPL-2.0-or-later
// The source-drive track producer against the emulated drive: a CD with an audio, a Mode 1
// and a Mode 2 track, and a DVD; the READ CD fields in the drive's command log; unreadable
// sectors inside and outside the run-out; the medium taken out in the middle of a copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DPMs/tracks/dpm_device_track.h"
#include "device_environment.h"
#include "emulated_drive.h"
#include "medium.h"

namespace {

using namespace quillion::emu;
using Bytes = std::vector<std::uint8_t>;

struct TrackPlan {
  SectorKind kind;
  HostBlock host;
  std::uint32_t start;
  std::uint32_t length;
};

// Audio at 0, Mode 1 at 550, formless Mode 2 at 1000; each closed with 2 run-out blocks.
const TrackPlan kPlan[] = {
    {SectorKind::Audio, HostBlock::Audio2352, 0, 400},
    {SectorKind::Mode1, HostBlock::Mode1_2048, 550, 300},
    {SectorKind::Mode2, HostBlock::Mode2_2336, 1000, 300},
};
constexpr std::uint32_t kRunOut = 2;

// What the host gave for block i of track t: distinct in every block and track.
Bytes hostData(std::size_t t, std::uint32_t i, std::size_t bytes) {
  Bytes b(bytes);
  for (std::size_t k = 0; k < bytes; ++k)
    b[k] = static_cast<std::uint8_t>(k * 7 + i * 13 + t * 101);
  return b;
}

class DeviceTrackTest : public ::testing::Test {
 protected:
  std::uint32_t startWithCd() {
    Medium m = env_.blankDisc("src", 0x08, 20'000);
    for (std::size_t t = 0; t < std::size(kPlan); ++t) {
      const TrackPlan& p = kPlan[t];
      Track track;
      track.number = static_cast<std::uint32_t>(t + 1);
      track.start = p.start;
      track.length = p.length;
      track.kind = p.kind;
      track.closed = false;
      track.pregap = t == 0 ? 0 : 150;
      m.addTrack(track);
      std::vector<RawSector> sectors;
      for (std::uint32_t i = 0; i < p.length; ++i) {
        const Bytes host = hostData(t, i, hostBytes(p.host));
        sectors.push_back(buildSector(p.host, static_cast<std::int32_t>(p.start + i), host));
      }
      EXPECT_TRUE(m.recordSectors(static_cast<std::int32_t>(p.start), sectors));
      m.closeTrack(kRunOut);
    }
    m.closeSession(false, 0x20);
    drive_ = env_.plug("source", "reader");
    drive_->load(std::move(m));
    env_.start();
    return DeviceEnvironment::refOf("source");
  }

  // Every block, `chunk` at a time, until the producer gives none or fails.
  Bytes drain(DPM_DeviceTrack& p, std::uint32_t chunk, EngineStatus& last) {
    Bytes all;
    Bytes buffer(std::size_t{chunk} * 2352);
    last = kNoErr;
    for (;;) {
      std::uint32_t got = 0;
      last = p.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), chunk, &got);
      all.insert(all.end(), buffer.begin(), buffer.begin() + std::size_t{got} * p.BlockSize());
      if (last != kNoErr || got == 0) break;
    }
    return all;
  }

  std::vector<LoggedCommand> readCds() const {
    std::vector<LoggedCommand> out;
    for (const auto& c : drive_->log())
      if (!c.cdb.empty() && c.cdb[0] == 0xBE) out.push_back(c);
    return out;
  }

  quillion::test::TempDir temp_;
  DeviceEnvironment env_;
  std::shared_ptr<EmulatedDrive> drive_;
};

TEST_F(DeviceTrackTest, TracksOfEachModeWithTheirReadCdFields) {
  const std::uint32_t ref = startWithCd();
  ASSERT_NE(ref, 0u);
  struct Case {
    std::uint16_t track;
    std::uint16_t request;
    std::uint16_t blockSize;
    std::uint8_t dataBlockType;
    bool audio;
    std::uint8_t byte1, byte9;
    std::size_t hostOffset;  // where the block lies in what the host wrote
  };
  const Case cases[] = {
      {1, 0, 2352, 0, true, 0x04, 0x10, 0},     {2, 0, 2048, 8, false, 0x08, 0x10, 0},
      {3, 0, 2336, 9, false, 0x00, 0x58, 0},    {3, 2332, 2332, 13, false, 0x00, 0x58, 0},
      {2, 2332, 2048, 8, false, 0x08, 0x10, 0},  // 2332 applies to Mode 2 only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "track " << c.track << " request " << c.request);
    drive_->clearLog();
    const TrackPlan& plan = kPlan[c.track - 1];
    DPM_DeviceTrack p(ref, c.track);
    std::uint16_t size = c.request;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), plan.length + kRunOut);
    EXPECT_EQ(size, c.blockSize);
    std::uint8_t session = 0, type = 0xFF;
    bool audio = !c.audio;
    std::uint32_t next = 0;
    std::uint16_t bs = 0;
    ASSERT_EQ(p.GetTrackParams(&session, &audio, &type, &next, &bs), kNoErr);
    EXPECT_EQ(session, 1);
    EXPECT_EQ(audio, c.audio);
    EXPECT_EQ(type, c.dataBlockType);
    EXPECT_EQ(next, plan.start);
    EXPECT_EQ(bs, c.blockSize);
    EngineStatus last = kNoErr;
    const Bytes all = drain(p, 7, last);
    EXPECT_EQ(last, kNoErr);
    ASSERT_EQ(all.size(), std::size_t{plan.length + kRunOut} * c.blockSize);
    for (std::uint32_t i = 0; i < plan.length; ++i) {
      const Bytes host = hostData(c.track - 1u, i, hostBytes(plan.host));
      ASSERT_TRUE(std::equal(host.begin() + static_cast<long>(c.hostOffset),
                             host.begin() + static_cast<long>(c.hostOffset + c.blockSize),
                             all.begin() + static_cast<long>(std::size_t{i} * c.blockSize)))
          << "block " << i;
    }
    const auto reads = readCds();
    ASSERT_FALSE(reads.empty());
    // Reads that succeeded cover the recorded blocks in order; the refused ones are the
    // run-out's, read in one and then block by block.
    std::uint32_t expectLba = plan.start;
    for (const auto& r : reads) {
      EXPECT_EQ(r.cdb[1], c.byte1);
      EXPECT_EQ(r.cdb[9], c.byte9);
      const std::uint32_t lba = quillion::be::get32(r.cdb, 2);
      if (r.status != 0) {
        EXPECT_GE(lba + quillion::be::get24(r.cdb, 6), plan.start + plan.length + 1);
        continue;
      }
      EXPECT_EQ(lba, expectLba);
      expectLba += quillion::be::get24(r.cdb, 6);
    }
    EXPECT_EQ(expectLba, plan.start + plan.length);
    // The drive refuses the run-out blocks as outside the track: they come out as zeros.
    EXPECT_EQ(p.ZeroFilledBlocks(), kRunOut);
    EXPECT_TRUE(std::all_of(all.end() - kRunOut * c.blockSize, all.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
  DPM_DeviceTrack none(ref, 9);
  std::uint16_t size = 0;
  EXPECT_EQ(none.PrepareAll(&size, nullptr, nullptr), 0u);
  EXPECT_EQ(none.Init(), -1);
}

TEST_F(DeviceTrackTest, UnreadableSectorsInsideAndOutsideTheRunOut) {
  const std::uint32_t ref = startWithCd();
  const TrackPlan& audio = kPlan[0];
  const std::uint32_t end = audio.start + audio.length + kRunOut;
  struct Case {
    const char* what;
    std::uint32_t badFirst, badLast;  // unreadable LBAs
    std::uint32_t chunk;
    EngineStatus status;
    std::uint32_t delivered;  // blocks handed out in all
    std::uint32_t zeroFilled;
  };
  const Case cases[] = {
      {"the two run-out blocks", end - 2, end - 1, 10, kNoErr, 402, 2},
      {"within the last 152", end - 150, end - 150, 10, kNoErr, 402, 1 + kRunOut},
      {"just before the last 152", end - 153, end - 153, 10, kErrSourceRead, 402 - 153, 0},
      {"in the middle", 123, 124, 1, kErrSourceRead, 123, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    drive_->clearFaults();
    // A read of several blocks that covers a bad sector fails as a whole; so does every
    // single read of a bad sector.
    const std::uint32_t coverStart = audio.start + (c.badFirst - audio.start) / c.chunk * c.chunk;
    drive_->addFault({.opcode = 0xBE,
                      .lbaFirst = coverStart,
                      .lbaLast = coverStart,
                      .toCall = 1,
                      .key = 3,
                      .asc = 0x11,
                      .ascq = 0});
    drive_->addFault({.opcode = 0xBE,
                      .lbaFirst = c.badFirst,
                      .lbaLast = c.badLast,
                      .key = 3,
                      .asc = 0x11,
                      .ascq = 0});
    DPM_DeviceTrack p(ref, 1);
    std::uint16_t size = 0;
    ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), audio.length + kRunOut);
    EngineStatus last = kNoErr;
    const Bytes all = drain(p, c.chunk, last);
    EXPECT_EQ(last, c.status);
    EXPECT_EQ(all.size(), std::size_t{c.delivered} * 2352);
    EXPECT_EQ(p.ZeroFilledBlocks(), c.zeroFilled);
    if (c.status != kNoErr) {
      MMC_SenseData sense{};
      ASSERT_EQ(p.GetCurrentSenseCode(&sense), kNoErr);
      EXPECT_EQ(sense.key, 3);
      EXPECT_EQ(sense.code, 0x11);
    } else {
      // The track keeps its length; readable blocks are the data, bad ones zeros.
      for (std::uint32_t lba = c.badFirst; lba <= c.badLast; ++lba) {
        const auto at = std::size_t{lba - audio.start} * 2352;
        EXPECT_TRUE(std::all_of(all.begin() + static_cast<long>(at),
                                all.begin() + static_cast<long>(at + 2352),
                                [](std::uint8_t b) { return b == 0; }));
      }
      const Bytes first = hostData(0, 0, 2352);
      EXPECT_TRUE(std::equal(first.begin(), first.end(), all.begin()));
    }
  }
}

TEST_F(DeviceTrackTest, MediumRemovedDuringTheCopy) {
  const std::uint32_t ref = startWithCd();
  // Taken out before a read inside the run-out zone: that is no unreadable sector.
  drive_->addFault(
      {.opcode = 0xBE, .lbaFirst = 300, .lbaLast = 300, .action = FaultAction::RemoveMedium});
  DPM_DeviceTrack p(ref, 1);
  std::uint16_t size = 0;
  ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 402u);
  EngineStatus last = kNoErr;
  const Bytes all = drain(p, 10, last);
  EXPECT_EQ(last, kErrSourceRead);
  EXPECT_EQ(all.size(), 300u * 2352);
  EXPECT_EQ(p.ZeroFilledBlocks(), 0u);
  MMC_SenseData sense{};
  ASSERT_EQ(p.GetCurrentSenseCode(&sense), kNoErr);
  EXPECT_EQ(sense.key, 2);
  EXPECT_EQ(sense.code, 0x3A);
}

TEST_F(DeviceTrackTest, DvdTracksAreReadWithRead12) {
  const std::string content = quillion::test::patternBytes(2048 * 40, 5);
  const auto iso = temp_.file("d.iso");
  quillion::test::writeFile(iso, content);
  auto m = Medium::fromIso(iso, env_.folder() / "dvd.medium", 0x10);
  ASSERT_TRUE(m);
  drive_ = env_.plug("dvd", "reader");
  drive_->load(std::move(*m));
  env_.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("dvd");
  DPM_DeviceTrack p(ref, 1);
  std::uint16_t size = 2332;
  ASSERT_EQ(p.PrepareAll(&size, nullptr, nullptr), 40u);
  EXPECT_EQ(size, 2048);
  EngineStatus last = kNoErr;
  const Bytes all = drain(p, 16, last);
  EXPECT_EQ(last, kNoErr);
  ASSERT_EQ(all.size(), content.size());
  EXPECT_TRUE(std::equal(all.begin(), all.end(), content.begin(),
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
  std::size_t read12 = 0;
  for (const auto& c : drive_->log()) {
    EXPECT_NE(c.cdb[0], 0xBE);
    if (c.cdb[0] == 0xA8) ++read12;
  }
  EXPECT_EQ(read12, 3u);  // 16 + 16 + 8
}

}  // namespace
