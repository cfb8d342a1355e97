// SPDX-License-Identifier: GPL-2.0-or-later
// The start-code search and the pack analysis under the scanner, on hand-made bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DPMs/mpeg/mpeg_pack_walk.h"
#include "ps_builder.h"
#include "tests/support/test_support.h"

namespace {

using quillion::mpeg::ByteView;
using quillion::mpeg::findNextMPEGMarker;
using quillion::mpeg::findNextPack;
using quillion::mpeg::PackInfo;
using quillion::test::PsBuilder;
using quillion::test::TempDir;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

class PackWalk : public ::testing::Test {
 protected:
  ByteView& view(const Bytes& bytes) {
    const std::string path = dir_.file("w" + std::to_string(files_++));
    writeFile(path, bytes);
    view_.reset();
    if (reader_) (void)GU_SFB_Term(reader_);
    reader_ = GU_SFB_Init(path.c_str(), ByteView::kReaderWindow);
    EXPECT_NE(reader_, nullptr);
    view_ = std::make_unique<ByteView>(reader_);
    return *view_;
  }
  void TearDown() override {
    view_.reset();
    if (reader_) (void)GU_SFB_Term(reader_);
  }

  TempDir dir_;
  int files_ = 0;
  GU_SFB* reader_ = nullptr;
  std::unique_ptr<ByteView> view_;
};

TEST_F(PackWalk, MarkerSearchBothWaysUpToTheEnds) {
  Bytes bytes(200000, 0x00);
  const std::size_t positions[] = {0, 70000, 131070, 131080, bytes.size() - 4};
  for (const std::size_t p : positions) {
    bytes[p + 2] = 0x01;
    bytes[p + 3] = static_cast<std::uint8_t>(0xB0 + (p % 7));
  }
  ByteView& v = view(bytes);
  std::uint8_t found = 0;
  std::int64_t at = -1;
  std::vector<std::int64_t> forward;
  while ((at = findNextMPEGMarker(v, at + 1, 0xFF, &found, true)) >= 0) forward.push_back(at);
  EXPECT_EQ(forward, std::vector<std::int64_t>(std::begin(positions), std::end(positions)));
  std::vector<std::int64_t> backward;
  at = static_cast<std::int64_t>(bytes.size());
  while ((at = findNextMPEGMarker(v, at - 1, 0xFF, &found, false)) >= 0) {
    backward.push_back(at);
    EXPECT_EQ(found, 0xB0 + (at % 7));
    if (at == 0) break;
  }
  EXPECT_EQ(backward, std::vector<std::int64_t>(std::rbegin(positions), std::rend(positions)));
  // A wanted id skips the others.
  EXPECT_EQ(findNextMPEGMarker(v, 0, static_cast<std::uint8_t>(0xB0 + 131080 % 7), nullptr, true),
            131080);
  EXPECT_EQ(findNextMPEGMarker(v, -1, 0xFF, nullptr, true), -1);
  EXPECT_EQ(findNextMPEGMarker(v, static_cast<std::int64_t>(bytes.size()) - 3, 0xFF, nullptr, true),
            -1);
}

TEST_F(PackWalk, PackLengthsTable) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::uint64_t length;
    bool audio;
    bool unknown;
  };
  PsBuilder twoPacks;  // no packet: the distance to the next pack
  twoPacks.pack2(0).fill(50, 0xAA).pack2(0);
  PsBuilder lastPack;  // a pack with no packet and no pack after it: 4096
  lastPack.pack2(0).fill(30, 0xAA);
  PsBuilder endCode;
  endCode.pack2(0).packet(0xC0, Bytes(10, 0x11)).code(0xB9).fill(40, 0);
  PsBuilder beyondFile;  // the packet claims more bytes than the file has
  beyondFile.pack2(0).packet(0xE0, 60000, Bytes(20, 0x11));
  PsBuilder empty;  // zero-length packets
  empty.pack2(0).packet(0xC0, {}).packet(0xE0, {}).packet(0xBE, {}).pack2(0);
  PsBuilder otherIds;  // ids without a length are stepped over
  otherIds.pack2(0).code(0xB8).fill(4, 0x77).code(0x00).fill(4, 0x77).pack2(0);
  // Private streams go by their length, look-alikes inside too; the stuffing after the last
  // packet belongs to the pack.
  PsBuilder privateStream;
  privateStream.pack2(0)
      .packet(0xBD, {0x00, 0x00, 0x01, 0xE0, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xB9})
      .packet(0xBF, Bytes(20, 0))
      .fill(10, 0xFF)
      .pack2(0);
  PsBuilder intoNext;  // the packet runs into the next pack
  intoNext.pack2(0).packet(0xE0, 100, Bytes(20, 0x11)).pack2(0).padding(100);
  PsBuilder damaged;  // a gap too long for stuffing stays out of the pack
  damaged.pack2(0).padding(100).fill(3000, 0xFF).pack2(0);
  const Case cases[] = {
      {"damaged gap", damaged.bytes, 14 + 106, false, false},
      {"two packs", twoPacks.bytes, 64, false, true},
      {"last pack", lastPack.bytes, 4096, false, true},
      {"end code", endCode.bytes, 14 + 16 + 4, true, false},
      {"beyond file", beyondFile.bytes, 14 + 6 + 60000, false, false},
      {"empty packets", empty.bytes, 14 + 18, true, false},
      {"other ids", otherIds.bytes, 14 + 16, false, true},
      {"private streams", privateStream.bytes, 14 + 16 + 26 + 10, false, true},
      {"into next pack", intoNext.bytes, 14 + 106, false, false},
  };
  for (const Case& c : cases) {
    ByteView& v = view(c.bytes);
    PackInfo pack;
    ASSERT_EQ(findNextPack(v, 0, true, &pack), 0) << c.what;
    EXPECT_EQ(pack.length, c.length) << c.what;
    EXPECT_EQ(pack.audio, c.audio) << c.what;
    EXPECT_EQ(pack.unknown, c.unknown) << c.what;
    EXPECT_FALSE(pack.iPicture) << c.what;
  }
}

TEST_F(PackWalk, IPictureNeedsItsHeaderInsideThePacket) {
  struct Case {
    const char* what;
    Bytes payload;
    bool found;
  };
  const Bytes iPicture = PsBuilder::pictureHeader(1);
  const Case cases[] = {
      {"I picture", PsBuilder::pesWithPts(45000, iPicture), true},
      {"P picture", PsBuilder::pesWithPts(45000, PsBuilder::pictureHeader(2)), false},
      {"cut before its type",
       PsBuilder::pesWithPts(45000, Bytes(iPicture.begin(), iPicture.begin() + 5)), false},
      {"no time stamp", PsBuilder::join({0x81, 0x00, 0x00}, iPicture), false},
  };
  for (const Case& c : cases) {
    PsBuilder ps;
    ps.pack2(0).packet(0xE0, c.payload).padding(10);
    ByteView& v = view(ps.bytes);
    PackInfo pack;
    ASSERT_EQ(findNextPack(v, 0, true, &pack), 0) << c.what;
    EXPECT_EQ(pack.iPicture, c.found) << c.what;
    if (c.found) {
      EXPECT_EQ(pack.iSeconds, 0.5);
    }
    ASSERT_EQ(findNextPack(v, 0, false, &pack), 0);
    EXPECT_FALSE(pack.iPicture) << c.what;
  }
}

}  // namespace
