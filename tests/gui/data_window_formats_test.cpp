// SPDX-License-Identifier: GPL-2.0-or-later
// Every data format from the data window: a folder's contents dropped on the outline,
// burned headless to the ISO image writer or an emulated recorder, and the written volume
// read back by outside readers, each side of a hybrid by its own: xorriso and isoinfo
// (ISO9660, Joliet), hfsutils (HFS), 7zz (HFS Plus, UDF), udfinfo (UDF), lsdvd (DVD-Video).
// Every file comes back with its source's bytes, and no other file.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "data_window_fixture.h"
#include "disc_readers.h"
#include "layout/data_layout_ctlr.h"
#include "run_support.h"
#include "tests/support/generated_file.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;

namespace {

enum Side : unsigned { kIso = 1, kJoliet = 2, kHfs = 4, kHfsPlus = 8, kUdf = 16, kDvd = 32 };

struct FormatCase {
  const char* name;
  unsigned format;
  unsigned sides;
  // Empty: the ISO image writer; else the recorder's preset, profile and capacity.
  const char* preset;
  std::uint16_t profile;
  std::uint32_t capacity;
};

const FormatCase kFormats[] = {
    {"iso9660", 256, kIso, "", 0, 0},
    {"joliet_cdr", 512, kIso | kJoliet, "cd-writer", 0x09, kCdBlocks},
    {"hfs", 1, kHfs, "", 0, 0},
    {"hfsplus", 2, kHfsPlus, "", 0, 0},
    {"iso9660_hfs", 257, kIso | kHfs, "", 0, 0},
    {"iso9660_hfsplus", 258, kIso | kHfsPlus, "", 0, 0},
    {"joliet_hfs", 513, kIso | kJoliet | kHfs, "", 0, 0},
    {"joliet_hfsplus_dvdplusr", 514, kIso | kJoliet | kHfsPlus, "dvd-writer", 0x1B, kDvdBlocks},
    {"udf102", 16, kUdf, "", 0, 0},
    {"udf150_bdr", 32, kUdf, "bd-writer", 0x41, kBdBlocks},
    {"dvdvideo_dvdplusr", 64, kUdf | kDvd, "dvd-writer", 0x1B, kDvdBlocks},
};

// Level-1 names, which every side keeps as they are.
const std::map<std::string, std::size_t> kShortNames = {
    {"README.TXT", 2047},         {"DOCS/NOTES.TXT", 70'000}, {"DOCS/DEEP/SMALL.BIN", 5},
    {"MEDIA/BIG.DAT", 1'500'000}, {"EMPTY.DAT", 0},
};
// Long names and spaces, for volumes whose every side keeps them.
const std::map<std::string, std::size_t> kLongNames = {
    {"Long Name Folder/A long file name.txt", 3000},
    {"Long Name Folder/second file.bin", 4096},
};

// Where isoinfo places each file of /VIDEO_TS/ (its first block).
std::map<std::string, std::uint32_t> videoFileBlocks(const fs::path& image) {
  std::map<std::string, std::uint32_t> blocks;
  const std::string listing = runTool({"isoinfo", "-l", "-i", image.string()}).output;
  std::istringstream lines(listing);
  bool inVideo = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Directory listing of ")) inVideo = line.find("/VIDEO_TS/") != line.npos;
    const auto open = line.find('[');
    const auto close = line.find(']');
    if (!inVideo || open == line.npos || close == line.npos || line[0] != '-') continue;
    std::string name = line.substr(close + 1);
    name.erase(0, name.find_first_not_of(' '));
    name = name.substr(0, name.find_first_of(" ;"));
    blocks[name] = static_cast<std::uint32_t>(std::stoul(line.substr(open + 1)));
  }
  return blocks;
}

std::uint32_t bigEndian(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | static_cast<std::uint8_t>(b.at(at + i));
  return v;
}

// The video manager's navigation file as it must be on the disc: the source's, with each
// title's title set start (in its title search table) set to where that set's IFO file lies,
// in blocks from the manager's own start.
std::string expectedManagerIfo(std::string ifo, const std::map<std::string, std::uint32_t>& at) {
  const std::size_t table = std::size_t{bigEndian(ifo, 0xC4, 4)} * 2048;
  if (table == 0 || !at.contains("VIDEO_TS.IFO")) return ifo;
  const std::uint32_t titles = bigEndian(ifo, table, 2);
  for (std::uint32_t t = 0; t < titles; ++t) {
    const std::size_t entry = table + 8 + std::size_t{t} * 12;
    char set[16];
    std::snprintf(set, sizeof set, "VTS_%02u_0.IFO", static_cast<std::uint8_t>(ifo.at(entry + 6)));
    if (!at.contains(set)) return {};
    const std::uint32_t start = at.at(set) - at.at("VIDEO_TS.IFO");
    for (int i = 0; i < 4; ++i) ifo.at(entry + 8 + i) = static_cast<char>(start >> (24 - 8 * i));
  }
  return ifo;
}

class DataWindowFormats : public DataWindowTest, public ::testing::WithParamInterface<FormatCase> {
 protected:
  // A VIDEO_TS of one short PAL title, authored by dvdauthor from a synthetic MPEG-2.
  fs::path authorVideoTS() {
    const fs::path mpg = dir_.path() / "title.mpg";
    const ToolResult encoded =
        runGenerator({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                      "testsrc=size=720x576:rate=25:duration=2", "-f", "lavfi", "-i",
                      "sine=r=48000:d=2", "-target", "pal-dvd", "-c:a", "ac3", "-y", mpg.string()});
    EXPECT_EQ(encoded.exitCode, 0) << encoded.output;
    const fs::path dvd = dir_.path() / "source";
    ToolOptions pal;
    pal.environment = {{"VIDEO_FORMAT", "PAL"}};
    const ToolResult title =
        runTool({"dvdauthor", "-o", dvd.string(), "-t", "-c", "0", mpg.string()}, pal);
    EXPECT_EQ(title.exitCode, 0) << title.output;
    const ToolResult table = runTool({"dvdauthor", "-o", dvd.string(), "-T"}, pal);
    EXPECT_EQ(table.exitCode, 0) << table.output;
    return dvd;
  }

  fs::path writeSource(unsigned sides) {
    const fs::path source = dir_.path() / "source";
    writeFiles(source, kShortNames);
    // Plain ISO9660 renames long names by its own rules: they are read back elsewhere.
    if (!(sides & kIso) || (sides & kJoliet)) writeFiles(source, kLongNames);
    return source;
  }
};

TEST_P(DataWindowFormats, DroppedBurnedAndReadBackByOutsideReaders) {
  const FormatCase& c = GetParam();
  std::vector<const char*> tools = {"isoinfo"};
  if (c.sides & kIso) tools.push_back("xorriso");
  if (c.sides & kHfs) tools.insert(tools.end(), {"hmount", "hls", "hcopy"});
  if (c.sides & (kHfsPlus | kUdf)) tools.push_back("7zz");
  if (c.sides & kUdf) tools.push_back("udfinfo");
  if (c.sides & kDvd) tools.insert(tools.end(), {"ffmpeg", "dvdauthor", "lsdvd"});
  for (const char* tool : tools) QUILLION_REQUIRE_TOOL(tool);

  std::shared_ptr<emu::EmulatedDrive> drive;
  if (*c.preset) drive = plugBlank("WRITER", c.preset, c.profile, c.capacity);
  startDevices();
  const fs::path source = (c.sides & kDvd) ? authorVideoTS() : writeSource(c.sides);
  if (c.sides & kDvd) {
    window_->setAsVideoTSDoc();
    ASSERT_TRUE(dropOnDisc({source / "VIDEO_TS"}));
  } else {
    window_->setFormatType(c.format);
    ASSERT_TRUE(dropContentsOf(source));
  }
  ASSERT_EQ(window_->formatType(), c.format);

  fs::path image = dir_.path() / "written.iso";
  if (drive) {
    ASSERT_TRUE(burnToDrive(emu::DeviceEnvironment::refOf("WRITER"))) << sheetText().toStdString();
    image = dumpDisc(*drive, "written");
  } else {
    ASSERT_TRUE(burnToIsoImage(image)) << sheetText().toStdString();
  }
  dismissResult();
  ASSERT_TRUE(fs::exists(image));

  FileBytes wanted = filesBelow(source);
  if (c.sides & kDvd) {
    // The manager's title search table points at the title sets where they were written.
    const auto blocks = videoFileBlocks(image);
    for (const char* name : {"VIDEO_TS/VIDEO_TS.IFO", "VIDEO_TS/VIDEO_TS.BUP"})
      wanted[name] = expectedManagerIfo(wanted[name], blocks);
  }
  ASSERT_FALSE(wanted.empty());
  const fs::path scratch = dir_.path() / "read";
  if (c.sides & kIso) {
    const std::string volume = runTool({"isoinfo", "-d", "-i", image.string()}).output;
    EXPECT_NE(volume.find("CD-ROM is in ISO 9660 format"), std::string::npos) << volume;
    EXPECT_EQ(volume.find("Joliet with UCS level") != std::string::npos, (c.sides & kJoliet) != 0)
        << volume;
    const ReadBack iso = readIso9660Side(image, scratch);
    ASSERT_TRUE(iso.ok) << iso.said;
    EXPECT_EQ(treeDifferences(iso.files, wanted), "") << "ISO9660 side";
  }
  if (c.sides & kHfs) {
    const ReadBack hfs = readHfsSide(image, scratch);
    ASSERT_TRUE(hfs.ok) << hfs.said;
    EXPECT_EQ(treeDifferences(hfs.files, wanted), "") << "HFS side";
  }
  if (c.sides & kHfsPlus) {
    const ReadBack plus = readHfsPlusSide(image, scratch);
    ASSERT_TRUE(plus.ok) << plus.said;
    EXPECT_EQ(treeDifferences(plus.files, wanted), "") << "HFS Plus side";
  }
  if (c.sides & kUdf) {
    const ToolResult info = runTool({"udfinfo", image.string()});
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find(c.format == 32 ? "udfrev=1.50" : "udfrev=1.02"), std::string::npos)
        << info.output;
    const ReadBack udf = readUdfSide(image, scratch);
    ASSERT_TRUE(udf.ok) << udf.said;
    EXPECT_EQ(treeDifferences(udf.files, wanted), "") << "UDF side";
  }
  if (c.sides & kDvd) {
    // libdvdread finds the title set through the UDF volume of the image.
    const ToolResult dvd = runTool({"lsdvd", image.string()});
    EXPECT_EQ(dvd.exitCode, 0) << dvd.output;
    EXPECT_NE(dvd.output.find("Title: 01"), std::string::npos) << dvd.output;
    EXPECT_NE(dvd.output.find("Longest track: 01"), std::string::npos) << dvd.output;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, DataWindowFormats, ::testing::ValuesIn(kFormats),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
