// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner's edge cases on small streams written by the test, and hostile files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ps_builder.h"
#include "quillion/MU.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::PsBuilder;
using quillion::test::TempDir;
using quillion::test::writeFile;

using Bytes = std::vector<std::uint8_t>;

// A first pack with a system header, then a video packet with a sequence header and an I
// picture: the smallest stream the quick parse accepts.
PsBuilder mpeg2Start(std::uint64_t scr = 0) {
  PsBuilder ps;
  ps.pack2(scr).systemHeader().packet(
      0xE0, PsBuilder::pesWithPts(90000, PsBuilder::join(PsBuilder::sequenceHeader(720, 576, 3, 3),
                                                         PsBuilder::pictureHeader(1))));
  return ps;
}

PsBuilder mpeg1Start(std::uint64_t scr = 0) {
  PsBuilder ps;
  ps.pack1(scr).systemHeader().packet(
      0xE0, PsBuilder::join({0x0F}, PsBuilder::join(PsBuilder::sequenceHeader(352, 288, 12, 3),
                                                    PsBuilder::pictureHeader(1))));
  return ps;
}

class Scanner : public ::testing::Test {
 protected:
  // Writes `bytes` to a file and opens the scanner on it.
  MU_Handle* open(const Bytes& bytes) {
    const std::string path = dir_.file("m" + std::to_string(files_++) + ".mpg");
    writeFile(path, bytes);
    MU_Term(handle_);
    handle_ = MU_Init(path.c_str());
    return handle_;
  }
  void TearDown() override {
    MU_ReleaseInfo(&info_);
    MU_Term(handle_);
  }

  TempDir dir_;
  int files_ = 0;
  MU_Handle* handle_ = nullptr;
  MU_MPEG_Info info_{};
};

TEST_F(Scanner, AudioOnlyStreamsAreRefusedBeforeAnySearch) {
  struct Case {
    std::uint8_t second;
    bool accepted;
  };
  for (const Case c : {Case{0xF0, false}, Case{0xE0, false}, Case{0xF1, true}}) {
    // The rest is a usable program stream: only the first two bytes decide.
    PsBuilder ps;
    ps.fill(1, 0xFF).fill(1, c.second);
    const PsBuilder rest = mpeg2Start();
    ps.bytes.insert(ps.bytes.end(), rest.bytes.begin(), rest.bytes.end());
    ASSERT_NE(open(ps.bytes), nullptr);
    EXPECT_EQ(MU_QuickParse(handle_, &info_), c.accepted) << std::hex << int(c.second);
    EXPECT_EQ(info_.tag, c.accepted ? kMU_InfoTag : 0u);
  }
}

TEST_F(Scanner, DurationIsTheLastClockReferenceInWholeSeconds) {
  struct Case {
    bool mpeg2;
    std::uint64_t scr;
    double seconds;
  };
  const Case cases[] = {
      {true, 90000ull * 35995 / 10, 3599},
      {false, 90000ull * 35995 / 10, 3599},
      {true, 89999, 0},
      {true, (1ull << 33) - 1, 95443},  // the largest 33-bit value
      {false, 90000ull * 7, 7},
  };
  for (const Case& c : cases) {
    PsBuilder ps = c.mpeg2 ? mpeg2Start() : mpeg1Start();
    if (c.mpeg2)
      ps.pack2(c.scr).padding(100);
    else
      ps.pack1(c.scr).padding(100);
    ASSERT_NE(open(ps.bytes), nullptr);
    ASSERT_TRUE(MU_QuickParse(handle_, &info_));
    EXPECT_EQ(info_.duration, c.seconds) << c.scr;
    EXPECT_EQ(info_.version, c.mpeg2 ? 2 : 1);
  }
}

TEST_F(Scanner, SequenceHeaderFieldsAreRead) {
  PsBuilder ps = mpeg2Start();
  ps.pack2(3000).padding(20);
  ASSERT_NE(open(ps.bytes), nullptr);
  ASSERT_TRUE(MU_QuickParse(handle_, &info_));
  EXPECT_EQ(info_.width, 720);
  EXPECT_EQ(info_.height, 576);
  EXPECT_EQ(info_.aspectCode, 3);
  EXPECT_EQ(info_.frameRate, 25.0);
  EXPECT_EQ(info_.fileSize, ps.bytes.size());
}

TEST_F(Scanner, FrameRateTableCoversEveryCode) {
  const double expected[16] = {0, 23.976, 24, 25, 29.97, 30, 50, 59.94, 60, 0, 0, 0, 0, 0, 0, 0};
  for (int code = 0; code < 16; ++code) EXPECT_NEAR(gu_Frame_Rates[code], expected[code], 1e-3);
}

TEST_F(Scanner, OversizedPackStopsTheFullScanButIsSkippedPackByPack) {
  PsBuilder ps = mpeg2Start();
  const std::size_t second = ps.bytes.size();
  ps.pack2(1000).packet(0xC0, Bytes(100, 0x55));
  const std::size_t big = ps.bytes.size();
  ps.pack2(2000).packet(0xE0, Bytes(3000, 0x44));  // 3020 bytes
  const std::size_t after = ps.bytes.size();
  ps.pack2(3000).packet(0xC0, Bytes(200, 0x55));
  ASSERT_NE(open(ps.bytes), nullptr);

  ASSERT_TRUE(MU_FullParse(handle_, &info_, nullptr, nullptr));
  EXPECT_EQ(info_.stopped, 1u);
  EXPECT_EQ(info_.videoPacks, 1u);
  EXPECT_EQ(info_.audioPacks, 1u);

  Bytes buffer(kMU_MaxPackBytes);
  unsigned length = kMU_MaxPackBytes;
  char audio = 0;
  EXPECT_EQ(
      MU_GetNextPack(handle_, static_cast<std::int64_t>(second), buffer.data(), &length, &audio),
      static_cast<std::int64_t>(second));
  EXPECT_EQ(length, big - second);
  EXPECT_EQ(audio, 1);
  length = kMU_MaxPackBytes;
  EXPECT_EQ(MU_GetNextPack(handle_, static_cast<std::int64_t>(big), buffer.data(), &length, &audio),
            static_cast<std::int64_t>(after));
  EXPECT_EQ(length, ps.bytes.size() - after);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length),
            Bytes(ps.bytes.begin() + static_cast<std::ptrdiff_t>(after), ps.bytes.end()));
}

TEST_F(Scanner, GetNextPackRefusesBadArguments) {
  PsBuilder ps = mpeg2Start();
  ASSERT_NE(open(ps.bytes), nullptr);
  Bytes buffer(kMU_MaxPackBytes);
  unsigned length = kMU_MaxPackBytes;
  unsigned small = kMU_MaxPackBytes - 1;
  char audio = 0;
  EXPECT_EQ(MU_GetNextPack(nullptr, 0, buffer.data(), &length, &audio), -1);
  EXPECT_EQ(MU_GetNextPack(handle_, 0, nullptr, &length, &audio), -1);
  EXPECT_EQ(MU_GetNextPack(handle_, 0, buffer.data(), nullptr, &audio), -1);
  EXPECT_EQ(MU_GetNextPack(handle_, 0, buffer.data(), &small, &audio), -1);
  EXPECT_EQ(MU_GetNextPack(handle_, -5, buffer.data(), &length, &audio), -1);
  EXPECT_EQ(MU_GetNextPack(handle_, 1, buffer.data(), &length, &audio), -1);  // no pack after 0
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(MU_QuickParse(nullptr, &info_));
  EXPECT_FALSE(MU_QuickParse(handle_, nullptr));
  EXPECT_FALSE(MU_FullParse(nullptr, &info_, nullptr, nullptr));
  EXPECT_EQ(MU_Init(nullptr), nullptr);
  EXPECT_EQ(MU_Init(dir_.file("missing.mpg").c_str()), nullptr);
  MU_Term(nullptr);
}

TEST_F(Scanner, Mpeg1GetsNoIFrameTableAndMpeg2One) {
  for (const bool mpeg2 : {false, true}) {
    PsBuilder ps = mpeg2 ? mpeg2Start() : mpeg1Start();
    ASSERT_NE(open(ps.bytes), nullptr);
    ASSERT_TRUE(MU_FullParse(handle_, &info_, nullptr, nullptr));
    if (mpeg2) {
      ASSERT_EQ(MU_IFrameCount(&info_), 1u);
      MU_IFrameEntry entry{};
      ASSERT_TRUE(MU_IFrameAt(&info_, 0, &entry));
      EXPECT_EQ(entry.packIndex, 0u);
      EXPECT_EQ(entry.seconds, 1.0);
    } else {
      EXPECT_EQ(info_.iFrameTable, nullptr);
    }
    MU_ReleaseInfo(&info_);
  }
}

TEST_F(Scanner, FullIFrameTableKeepsItsFirstEntries) {
  // A duration of 0 s gives the smallest table: (10240 - 4) / 12 = 853 entries.
  PsBuilder ps = mpeg2Start();
  for (int i = 1; i < 900; ++i)
    ps.pack2(0).packet(0xE0, PsBuilder::pesWithPts(static_cast<std::uint64_t>(i) * 3600,
                                                   PsBuilder::pictureHeader(1)));
  ASSERT_NE(open(ps.bytes), nullptr);
  ASSERT_TRUE(MU_FullParse(handle_, &info_, nullptr, nullptr));
  EXPECT_EQ(info_.videoPacks, 900u);
  ASSERT_EQ(MU_IFrameCount(&info_), 853u);
  MU_IFrameEntry entry{};
  ASSERT_TRUE(MU_IFrameAt(&info_, 852, &entry));
  EXPECT_EQ(entry.packIndex, 852u);
  EXPECT_DOUBLE_EQ(entry.seconds, 852 * 3600 / 90000.0);
  EXPECT_FALSE(MU_IFrameAt(&info_, 853, &entry));
}

struct ProgressLog {
  std::vector<std::uint64_t> positions;
  std::uint64_t fileSize = 0;
  std::size_t cancelAt = 0;  // 0: never
};

void onProgress(MU_Handle*, std::uint64_t fileSize, std::uint64_t position, void* context,
                char* cancel) {
  auto* log = static_cast<ProgressLog*>(context);
  log->fileSize = fileSize;
  log->positions.push_back(position);
  if (log->cancelAt != 0 && log->positions.size() == log->cancelAt) *cancel = 1;
}

TEST_F(Scanner, ProgressIsReportedAndCancelEndsTheScan) {
  PsBuilder ps = mpeg2Start();
  for (int i = 0; i < 200; ++i) ps.pack2(0).packet(i % 2 ? 0xC0 : 0xE0, Bytes(2000, 0x11));
  ASSERT_NE(open(ps.bytes), nullptr);

  ProgressLog all;
  ASSERT_TRUE(MU_FullParse(handle_, &info_, onProgress, &all));
  EXPECT_EQ(info_.audioPacks, 100u);
  EXPECT_EQ(info_.videoPacks, 101u);
  ASSERT_GE(all.positions.size(), 3u);
  EXPECT_EQ(all.positions.back(), ps.bytes.size());
  EXPECT_EQ(all.fileSize, ps.bytes.size());
  for (std::size_t i = 1; i + 1 < all.positions.size(); ++i)
    EXPECT_GT(all.positions[i] - all.positions[i - 1], 51200u);
  MU_ReleaseInfo(&info_);

  ProgressLog cancelled;
  cancelled.cancelAt = 1;
  ASSERT_TRUE(MU_FullParse(handle_, &info_, onProgress, &cancelled));
  EXPECT_EQ(cancelled.positions.size(), 2u);  // the cancelling call and the final one
  EXPECT_EQ(cancelled.positions.back(), ps.bytes.size());
  EXPECT_EQ(info_.tag, kMU_InfoTag);
  EXPECT_EQ(info_.audioPacks, 0u);
  EXPECT_EQ(info_.videoPacks, 0u);
  EXPECT_EQ(info_.iFrameTable, nullptr);
}

TEST_F(Scanner, UnknownPacksCountAsVideoToo) {
  PsBuilder ps = mpeg2Start();
  ps.pack2(0).packet(0xBD, Bytes(300, 0x22));  // private stream: neither audio nor video
  ps.pack2(0).padding(100);
  ASSERT_NE(open(ps.bytes), nullptr);
  ASSERT_TRUE(MU_FullParse(handle_, &info_, nullptr, nullptr));
  EXPECT_EQ(info_.unknownPacks, 1u);
  EXPECT_EQ(info_.videoPacks, 3u);
  EXPECT_EQ(info_.stopped, 0u);
}

TEST_F(Scanner, FilesWithoutAUsableStartFailTheQuickParse) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  PsBuilder noSequence;
  noSequence.pack2(0).systemHeader().packet(0xE0, Bytes(40, 0x12));
  PsBuilder noSystemHeader;
  noSystemHeader.pack2(0).packet(0xE0, PsBuilder::sequenceHeader(720, 576, 2, 3));
  PsBuilder cutHeader;  // the sequence header's start code is the file's last four bytes
  cutHeader.pack2(0).systemHeader().fill(8, 0).code(0xB3);
  const Case cases[] = {
      {"zeros", Bytes(5000, 0)},
      {"no sequence header", noSequence.bytes},
      {"no system header", noSystemHeader.bytes},
      {"cut sequence header", cutHeader.bytes},
  };
  for (const Case& c : cases) {
    ASSERT_NE(open(c.bytes), nullptr) << c.what;
    EXPECT_FALSE(MU_QuickParse(handle_, &info_)) << c.what;
    EXPECT_EQ(info_.tag, 0u) << c.what;
    EXPECT_FALSE(MU_FullParse(handle_, &info_, nullptr, nullptr)) << c.what;
  }
}

TEST_F(Scanner, TruncatedAndRandomFilesNeverCrash) {
  PsBuilder ps = mpeg2Start();
  for (int i = 0; i < 30; ++i)
    ps.pack2(static_cast<std::uint64_t>(i) * 3000)
        .packet(0xE0, PsBuilder::pesWithPts(0, PsBuilder::join(PsBuilder::pictureHeader(1 + i % 3),
                                                               Bytes(500, 0x33))))
        .packet(0xC0, Bytes(300, 0x44));
  std::mt19937 random(20);
  Bytes buffer(kMU_MaxPackBytes);
  for (std::size_t cut = 16; cut < ps.bytes.size(); cut += 97) {
    Bytes part(ps.bytes.begin(), ps.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut % 2) part[random() % part.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
    ASSERT_NE(open(part), nullptr);
    if (MU_FullParse(handle_, &info_, nullptr, nullptr)) {
      EXPECT_EQ(info_.fileSize, cut);
      EXPECT_LE(MU_IFrameCount(&info_), 30u);
    }
    MU_ReleaseInfo(&info_);
    std::int64_t position = 0;
    for (int guard = 0; guard < 1000; ++guard) {
      unsigned length = kMU_MaxPackBytes;
      char audio = 0;
      const std::int64_t at = MU_GetNextPack(handle_, position, buffer.data(), &length, &audio);
      if (at < 0) break;
      ASSERT_GE(at, position);
      ASSERT_LE(static_cast<std::uint64_t>(at) + length, cut);
      position = at + (length ? length : 1);
    }
  }
  for (int i = 0; i < 20; ++i) {
    Bytes noise(16 + random() % 20000);
    for (auto& b : noise)
      b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 3 : random());
    ASSERT_NE(open(noise), nullptr);
    MU_FullParse(handle_, &info_, nullptr, nullptr);
    MU_ReleaseInfo(&info_);
  }
}

}  // namespace
