// SPDX-License-Identifier: GPL-2.0-or-later
// The DVD information file of an IFO input: its kind, title-set number and level words from
// crafted files, and a title set that dvdauthor wrote opened as a session, whose video facts
// equal ffprobe's on the title's VOB.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "brindle_harness.h"
#include "ifo_find.h"
#include "scan_services.h"
#include "session.h"
#include "stream_parser.h"
#include "tests/support/test_support.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace {

using quillion::test::TempDir;

std::vector<std::string>* gIfoErrors = nullptr;

__attribute__((format(printf, 1, 2))) void ifoErrorPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = quillion::test::formatted(format, args);
  va_end(args);
  if (gIfoErrors) gIfoErrors->push_back(std::move(line));
}
void* ifoRc(const char* name) {
  return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&ifoErrorPrinter) : nullptr;
}

void putBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  putBe16(b, at, v >> 16);
  putBe16(b, at + 2, v & 0xFFFF);
}

std::vector<std::uint8_t> withHead(const char* head, std::size_t size) {
  std::vector<std::uint8_t> b(size, 0);
  std::memcpy(b.data(), head, std::strlen(head));
  return b;
}

// A parental management sector for `titleSets` title sets: rows from byte 8 x 10, each row's
// column c holding 0x100 x row + c.
std::vector<std::uint8_t> levelSector(std::uint32_t titleSets) {
  std::vector<std::uint8_t> s(kIfoSector, 0);
  s[3] = static_cast<std::uint8_t>(titleSets);
  putBe16(s, 68, 10);
  const std::size_t rowBytes = 4 * titleSets + 4;
  for (std::uint32_t row = 0; row < 8; ++row)
    for (std::uint32_t c = 0; c <= titleSets + 1; ++c)
      putBe16(s, 80 + row * rowBytes + 2 * c, 0x100 * row + c);
  return s;
}

TEST(BrindleIfo, KindsByTheirFirstTwelveBytes) {
  struct KindCase {
    const char* head;
    bool flag;
    std::uint32_t kind;
  };
  for (const KindCase c : {KindCase{"DVDVIDEO-VMG", false, 1}, KindCase{"DVDVIDEO-VTS", false, 3},
                           KindCase{"DVDVIDEO-VTS", true, 2}, KindCase{"DVD_RTR_VMG0", false, 4},
                           KindCase{"DVD_RTR_VMGx", false, 0}, KindCase{"DVDVIDEO-VTs", false, 0},
                           KindCase{"", false, 0}}) {
    const auto b = withHead(c.head, 16);
    EXPECT_EQ(ifo_kind_of(b.data(), b.size(), c.flag), c.kind) << c.head;
  }
  const auto shortHead = withHead("DVDVIDEO-VM", 11);
  EXPECT_EQ(ifo_kind_of(shortHead.data(), shortHead.size(), false), 0u);
}

TEST(BrindleIfo, TitleSetNumbersFromTheName) {
  EXPECT_EQ(ifo_title_set_of("/d/VIDEO_TS/VTS_07_0.IFO"), 7u);
  EXPECT_EQ(ifo_title_set_of("VTS_12_0.IFO"), 12u);
  EXPECT_EQ(ifo_title_set_of("/d/07_0/VTS_x.IFO"), 0u);
  EXPECT_EQ(ifo_title_set_of("/d/VTS_"), 0u);
}

TEST(BrindleIfo, LevelWordsFromTheParentalTable) {
  std::uint16_t words[8] = {};
  const auto sector = levelSector(3);
  // A manager takes the first column; a title set its own, 2 x title + 2 bytes in.
  ASSERT_TRUE(ifo_level_words(sector.data(), sector.size(), kIfoVideoManager, 0, words));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(words[k], 0x100 * (7 - k)) << k;
  ASSERT_TRUE(ifo_level_words(sector.data(), sector.size(), kIfoTitleSet, 2, words));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(words[k], 0x100 * (7 - k) + 3) << k;
  // A title set the table does not cover, and rows beyond the sector, leave the words.
  std::uint16_t kept[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(ifo_level_words(sector.data(), sector.size(), kIfoTitleSet, 4, kept));
  auto far = sector;
  putBe16(far, 68, 0xFFFF);
  EXPECT_FALSE(ifo_level_words(far.data(), far.size(), kIfoVideoManager, 0, kept));
  EXPECT_FALSE(ifo_level_words(sector.data(), 69, kIfoVideoManager, 0, kept));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(kept[k], k + 1);
}

class BrindleIfoFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    gIfoErrors = &errors_;
    record_ = mpegInNew(&ifoRc, nullptr);
    record_->open = 1;  // as open_input leaves it
  }
  void TearDown() override {
    free_ifo(record_);
    record_->open = 0;
    mpegInFree(record_);
    gIfoErrors = nullptr;
  }
  int find(const std::string& path) {
    std::snprintf(record_->priv->file_name, sizeof record_->priv->file_name, "%s", path.c_str());
    return FindStreams_IFO(record_);
  }
  TempDir dir_;
  std::vector<std::string> errors_;
  mpeg_in_info* record_ = nullptr;
};

TEST_F(BrindleIfoFiles, RefusalsWithTheirMessages) {
  struct RefusalCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool infoMode;
    const char* message;
  };
  const RefusalCase cases[] = {
      {"VTS_01_0.IFO", withHead("DVDVIDEO-VTS", 2047), false,
       "FindStreams_IFO: IFO file is too small"},
      {"VTS_02_0.IFO", withHead("DVDVIDEO-VTS", 2047), true,
       "FindStreams_IFO: Unable to read from the IFO file"},
      {"VTS_03_0.IFO", withHead("NOT-A-DVD-IFO", 4096), false, "FindStreams_IFO: Unknown IFO file"},
  };
  for (const RefusalCase& c : cases) {
    errors_.clear();
    quillion::test::writeFile(dir_.file(c.name), c.bytes);
    record_->priv->info_mode = c.infoMode ? 1 : 0;
    EXPECT_EQ(find(dir_.file(c.name).string()), 1) << c.name;
    ASSERT_EQ(errors_.size(), 1u) << c.name;
    EXPECT_EQ(errors_[0], c.message);
  }
  errors_.clear();
  EXPECT_EQ(find(dir_.file("VTS_09_0.IFO").string()), 1);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "FindStreams_IFO: IFO file not found");
}

TEST_F(BrindleIfoFiles, TitleSetsTakeTheirWordsFromTheManager) {
  auto manager = withHead("DVDVIDEO-VMG", 3 * kIfoSector);
  putBe32(manager, 204, 2);
  const auto table = levelSector(2);
  std::copy(table.begin(), table.end(), manager.begin() + 2 * kIfoSector);
  quillion::test::writeFile(dir_.file("VIDEO_TS.IFO"), manager);  // the upper-case name of discs
  quillion::test::writeFile(dir_.file("VTS_02_0.IFO"), withHead("DVDVIDEO-VTS", 2 * kIfoSector));

  ASSERT_EQ(find(dir_.file("VTS_02_0.IFO").string()), 0) << (errors_.empty() ? "" : errors_[0]);
  mpeg_in_private* p = record_->priv;
  EXPECT_EQ(p->ifo_kind, 3u);
  EXPECT_EQ(p->ifo_title_set, 2u);
  EXPECT_EQ(p->ifo_size, 2 * kIfoSector);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(p->ifo_words[k], 0x100 * (7 - k) + 3) << k;

  // The manager itself reads its own bytes; a table sector past the file is no table.
  std::memset(p->ifo_words, 0, sizeof p->ifo_words);
  ASSERT_EQ(find(dir_.file("VIDEO_TS.IFO").string()), 0);
  EXPECT_EQ(p->ifo_kind, 1u);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(p->ifo_words[k], 0x100 * (7 - k)) << k;
  putBe32(manager, 204, 3);
  quillion::test::writeFile(dir_.file("VIDEO_TS.IFO"), manager);
  std::memset(p->ifo_words, 0, sizeof p->ifo_words);
  ASSERT_EQ(find(dir_.file("VIDEO_TS.IFO").string()), 0);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(p->ifo_words[k], 0);

  // In info mode only the first sector is read, and the words are not looked for.
  record_->dvd_flag = 1;
  record_->priv->info_mode = 1;
  ASSERT_EQ(find(dir_.file("VTS_02_0.IFO").string()), 0);
  EXPECT_EQ(p->ifo_kind, 2u);
  EXPECT_EQ(p->ifo_size, kIfoSector);
  EXPECT_TRUE(errors_.empty());
}

void countIfoPictures(mpeg_in_info* session, bool) {
  int pictures = 0;
  while (Get_Next_Header(session, HeaderMode::Picture) == 0) ++pictures;
  session->frame_count = pictures;
}

TEST(BrindleIfoSession, ATitleSetFromDvdauthorOpensAsASession) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("dvdauthor");
  test::FrameworkFolder frameworks(DASKIN_FOLDER);
  TempDir dir;
  const std::string mpg = dir.file("title.mpg").string();
  ASSERT_EQ(quillion::test::runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                     "testsrc=duration=1:size=720x576:rate=25", "-f", "lavfi", "-i",
                                     "sine=duration=1", "-target", "pal-dvd", "-aspect", "4:3",
                                     "-frames:v", "12", mpg})
                .exitCode,
            0);
  const std::string out = dir.file("dvd").string();
  quillion::test::ToolOptions env;
  env.environment = {{"VIDEO_FORMAT", "PAL"}};
  ASSERT_EQ(quillion::test::runTool({"dvdauthor", "-o", out, "-t", mpg}, env).exitCode, 0);
  ASSERT_EQ(quillion::test::runTool({"dvdauthor", "-o", out, "-T"}, env).exitCode, 0);
  const std::string ifo = out + "/VIDEO_TS/VTS_01_0.IFO";
  const std::string vob = out + "/VIDEO_TS/VTS_01_1.VOB";

  std::vector<std::string> errors;
  gIfoErrors = &errors;
  open_services counters{};
  counters.count_video_quick = &countIfoPictures;
  const open_services previous = install_open_services(counters);
  mpeg_in_info* r = mpegInNew(&ifoRc, nullptr);
  const int opened = mpegInOpen(r, ifo.c_str());
  install_open_services(previous);
  gIfoErrors = nullptr;
  ASSERT_EQ(opened, 0) << (errors.empty() ? "" : errors[0]);
  EXPECT_EQ(r->priv->ifo_kind, 3u);
  EXPECT_EQ(r->priv->ifo_title_set, 1u);
  EXPECT_NE(r->priv->ifo_data, nullptr);
  const std::string facts = quillion::test::toolOutput(
      {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
       "stream=width,height,nb_read_frames", "-of", "csv=p=0", vob});
  std::string line = facts.substr(0, facts.find('\n'));
  while (!line.empty() && line.back() == ',') line.pop_back();  // an empty side-data column
  EXPECT_EQ(std::to_string(r->width) + "," + std::to_string(r->height) + "," +
                std::to_string(r->frame_count),
            line);
  EXPECT_EQ(r->stream_type_code, 4u);
  mpegInClose(r);
  EXPECT_EQ(r->priv->ifo_data, nullptr);
  mpegInFree(r);
}

}  // namespace
}  // namespace quillion::brindle
