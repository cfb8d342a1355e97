// SPDX-License-Identifier: GPL-2.0-or-later
// The file writer's DVD navigation tables: units announced as a multiplexer announces them,
// written as blank navigation packs, and the search information the writer fills in when the
// file is closed, read back from the file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bufstream.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;

constexpr std::size_t kSector = 2048;
constexpr std::uint32_t kHalfSecond = 45000;
constexpr std::uint32_t kNone = 0x3FFFFFFF;

struct Unit {
  std::uint32_t sectors = 2;
  std::uint32_t duration = kHalfSecond;
  std::uint32_t flags = 1;  // with video
  bool newCell = false;
  bool split = false;  // the unit begins a new part file
};

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

std::int32_t notice(bufstream* bs, std::uint32_t id, void* data = nullptr, std::uint32_t size = 0,
                    std::uint32_t offset = 0) {
  return bs->auxinfo(bs, offset, id, data, size);
}

// Writes the units into `path` (split parts get numbered names) and closes the writer.
void writeUnits(const std::filesystem::path& path, const std::vector<Unit>& units,
                const std::vector<std::int32_t>& audioValues = {}, bool abort = false,
                bool refused = false) {
  bufstream* bs = open_file_buf_write(path.c_str(), 32768, nullptr);
  ASSERT_NE(bs, nullptr);
  ASSERT_EQ(notice(bs, 0xF1000), 0);
  std::int32_t table = -1;
  if (!audioValues.empty()) table = notice(bs, 0xE0101);
  std::uint32_t sector = 0;
  std::vector<std::uint8_t> blank(kSector, 0), filler(kSector, 0xAA);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Unit& u = units[i];
    if (u.split) {
      std::uint32_t end = 1234;
      notice(bs, 0xF4000, &end, 4);
      ASSERT_EQ(notice(bs, BUFSTREAM_AUX_SPLIT), 0);
      sector = 0;
    }
    if (u.newCell) notice(bs, 0xE0080, nullptr, 0, 2);
    std::uint32_t record[3] = {sector, u.duration, u.flags};
    notice(bs, 0xF2000, record, sizeof record);
    ASSERT_EQ(bs->copybytes(bs, blank.data(), kSector), kSector);
    for (std::uint32_t s = 1; s < u.sectors; ++s)
      ASSERT_EQ(bs->copybytes(bs, filler.data(), kSector), kSector);
    if (i < audioValues.size()) {
      std::uint32_t value[2] = {static_cast<std::uint32_t>(table),
                                static_cast<std::uint32_t>(audioValues[i])};
      notice(bs, 0xE0102, value, sizeof value);
    }
    sector += u.sectors;
  }
  std::uint32_t end = 5678;
  notice(bs, 0xF4000, &end, 4);
  if (refused) notice(bs, 0xF8000);
  EXPECT_EQ(close_file_buf(bs, abort ? 1 : 0), 0);
}

// Byte offset of a unit's navigation pack in its file.
std::size_t packAt(const std::vector<Unit>& units, std::size_t index) {
  std::size_t sectors = 0;
  for (std::size_t i = 0; i < index; ++i)
    sectors = units[i + 1].split ? 0 : sectors + units[i].sectors;
  return sectors * kSector;
}

std::size_t forward(std::uint32_t halfSeconds) {  // 1, 2, ..., 15, 20, 60, 120, 240
  const std::uint32_t order[19] = {240, 120, 60, 20, 15, 14, 13, 12, 11, 10,
                                   9,   8,   7,  6,  5,  4,  3,  2,  1};
  for (std::size_t k = 0; k < 19; ++k)
    if (order[k] == halfSeconds) return 1269 + 4 * k;
  return 0;
}

struct Expect {
  std::size_t unit;
  std::size_t offset;
  std::uint32_t value;
};

TEST(VobNavigation, SearchInformationOfHalfSecondUnits) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  const std::vector<Unit> units(6);
  ASSERT_NO_FATAL_FAILURE(writeUnits(path, units));
  const auto b = readFile(path);
  ASSERT_EQ(b.size(), 12 * kSector);
  const Expect table[] = {
      {2, 1345, 0x80000002},
      {2, 1349, 0x80000002},
      {0, 1349, kNone},
      {5, 1345, kNone},
      {2, 1265, 0x80000002},
      {2, 1429, 0x80000002},
      {0, 1429, 0xBFFFFFFF},
      {5, 1265, 0xBFFFFFFF},
      {2, forward(1), 0x80000002},
      {2, forward(2), 0x80000004},
      {2, forward(3), 0x80000006},
      {2, forward(4), kNone},
      {2, forward(5), kNone},
      {2, forward(7), kNone},
      {2, forward(20), kNone},
      {2, 1353, 0x80000002},
      {2, 1357, 0x80000004},
      {2, 1361, kNone},
      {0, 1353, kNone},
      {3, 1079, 5678},
  };
  for (const Expect& e : table)
    EXPECT_EQ(be32(b, packAt(units, e.unit) + e.offset), e.value)
        << "unit " << e.unit << " offset " << e.offset;
  // Filler sectors are left alone.
  EXPECT_EQ(b[kSector + 1345], 0xAA);
}

TEST(VobNavigation, SearchesStayInsideTheirCell) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  std::vector<Unit> units(6);
  units[3].newCell = true;
  ASSERT_NO_FATAL_FAILURE(writeUnits(path, units));
  const auto b = readFile(path);
  EXPECT_EQ(be32(b, packAt(units, 2) + 1345), kNone);
  EXPECT_EQ(be32(b, packAt(units, 2) + forward(1)), kNone);
  EXPECT_EQ(be32(b, packAt(units, 3) + 1349), kNone);
  EXPECT_EQ(be32(b, packAt(units, 3) + 1353), kNone);
  EXPECT_EQ(be32(b, packAt(units, 1) + 1345), 0x80000002u);
  EXPECT_EQ(be32(b, packAt(units, 4) + 1349), 0x80000002u);
}

TEST(VobNavigation, UnitsWithoutVideoAreMarked) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  std::vector<Unit> units(3);
  units[1].flags = 0;
  ASSERT_NO_FATAL_FAILURE(writeUnits(path, units));
  const auto b = readFile(path);
  EXPECT_EQ(be32(b, packAt(units, 0) + 1345), 0x00000002u);
  EXPECT_EQ(be32(b, packAt(units, 0) + 1265), 0x80000004u);
  EXPECT_EQ(be32(b, packAt(units, 2) + 1429), 0x80000004u);
}

TEST(VobNavigation, AudioTablesGiveTheSynchronisationOffsets) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  const std::vector<Unit> units(3);
  ASSERT_NO_FATAL_FAILURE(writeUnits(path, units, {3, 0, -2}));
  const auto b = readFile(path);
  const auto sync = [&](std::size_t unit) {
    const std::size_t at = packAt(units, unit) + 1433;
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
  };
  EXPECT_EQ(sync(0), 3);
  EXPECT_EQ(sync(1), 0x7FFF);
  EXPECT_EQ(sync(2), 0x8002);
}

TEST(VobNavigation, EachPartFileIsPatchedOnItsOwn) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  std::vector<Unit> units(5);
  units[3].split = true;
  ASSERT_NO_FATAL_FAILURE(writeUnits(path, units));
  const auto first = readFile(path);
  const auto second = readFile(dir.file("t001.vob"));
  ASSERT_EQ(first.size(), 6 * kSector);
  ASSERT_EQ(second.size(), 4 * kSector);
  EXPECT_EQ(be32(first, packAt(units, 2) + 1345), kNone);
  EXPECT_EQ(be32(first, packAt(units, 2) + 1079), 1234u);
  EXPECT_EQ(be32(second, 0 + 1345), 0x80000002u);
  EXPECT_EQ(be32(second, 0 + 1349), kNone);
  EXPECT_EQ(be32(second, 2 * kSector + 1349), 0x80000002u);
  EXPECT_EQ(be32(second, 2 * kSector + 1079), 5678u);
}

TEST(VobNavigation, NothingIsPatchedAfterAnAbort) {
  for (const bool refusedNotice : {true, false}) {
    SCOPED_TRACE(refusedNotice);
    TempDir dir;
    const auto path = dir.file("t.vob");
    const std::vector<Unit> units(3);
    ASSERT_NO_FATAL_FAILURE(writeUnits(path, units, {}, !refusedNotice, refusedNotice));
    const auto b = readFile(path);
    ASSERT_EQ(b.size(), 6 * kSector);
    EXPECT_EQ(be32(b, 1345), 0u);
    EXPECT_EQ(be32(b, 1079), 0u);
  }
}

TEST(VobNavigation, WithoutTheStartNoticeNothingIsKept) {
  TempDir dir;
  const auto path = dir.file("t.vob");
  bufstream* bs = open_file_buf_write(path.c_str(), 32768, nullptr);
  ASSERT_NE(bs, nullptr);
  std::uint32_t record[3] = {0, kHalfSecond, 1};
  EXPECT_EQ(notice(bs, 0xF2000, record, sizeof record), 0);
  EXPECT_EQ(notice(bs, 0xE0101), 0);
  std::vector<std::uint8_t> blank(kSector, 0);
  ASSERT_EQ(bs->copybytes(bs, blank.data(), kSector), kSector);
  EXPECT_EQ(close_file_buf(bs, 0), 0);
  const auto b = readFile(path);
  EXPECT_EQ(be32(b, 1345), 0u);
}

}  // namespace
