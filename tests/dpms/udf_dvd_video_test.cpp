// SPDX-License-Identifier: GPL-2.0-or-later
// DVD-Video order: a VIDEO_TS made by ffmpeg and dvdauthor gives an image that lsdvd reads
// like the folder, with the files where genisoimage -dvd-video puts them relative to each
// other; navigation files are patched to the sectors their objects really take, small
// synthetic folders reach the order's edges, and folders whose navigation cannot be
// trusted are refused with their reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/byte_order.h"
#include "tests/dpms/udf_fixture.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

std::string lsdvdTitles(const std::string& path) {
  const std::string out = runReader({"lsdvd", "-x", path});
  const auto at = out.find("Title: 01");
  return at == std::string::npos ? out : out.substr(at);
}

void setBe32(const fs::path& file, std::size_t at, std::uint32_t value) {
  std::vector<std::uint8_t> b = readFile(file);
  ASSERT_GE(b.size(), at + 4) << file;
  be::put32(b, at, value);
  writeFile(file, b);
}

std::uint32_t be32Of(const std::string& bytes, std::size_t at) {
  return be::get32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, at);
}

// A navigation file of `sectors` sectors: the identifier, and for the manager a title
// search table in sector 1 whose titles name the given title sets.
std::string navigation(bool manager, std::uint32_t sectors,
                       const std::vector<std::uint8_t>& titleSets = {}) {
  std::vector<std::uint8_t> b(std::size_t{sectors} * 2048, 0);
  const std::string id = manager ? "DVDVIDEO-VMG" : "DVDVIDEO-VTS";
  std::copy(id.begin(), id.end(), b.begin());
  if (manager) {
    be::put32(b, 0xC4, 1);
    be::put16(b, 2048, titleSets.size());
    for (std::size_t t = 0; t < titleSets.size(); ++t) b[2048 + 8 + t * 12 + 6] = titleSets[t];
  }
  return {b.begin(), b.end()};
}

class UdfDvdVideo : public UdfImages {
 public:
  fs::path videoTs() const { return dir.file("src") / "VIDEO_TS"; }

  void put(const std::string& name, const std::string& content) const {
    writeFile(videoTs() / name, content);
  }

  // The sample folder: a manager with menu objects and one title set with a menu.
  void writeSample() const {
    fs::create_directories(videoTs());
    const std::string vmg = navigation(true, 3, {1});
    put("VIDEO_TS.IFO", vmg);
    put("VIDEO_TS.BUP", vmg);
    put("VIDEO_TS.VOB", patternBytes(5 * 2048, 1));
    const std::string vts = navigation(false, 6);
    put("VTS_01_0.IFO", vts);
    put("VTS_01_0.BUP", vts);
    put("VTS_01_0.VOB", patternBytes(4 * 2048 - 100, 2));
    put("VTS_01_1.VOB", patternBytes(7 * 2048, 3));
  }

  std::uint32_t sectorOf(const std::string& name) const {
    return report.files.at("VIDEO_TS/" + name).extents.at(0).first;
  }
  const std::string& dataOf(const std::string& name) const {
    return report.files.at("VIDEO_TS/" + name).data;
  }

  // The files of VIDEO_TS in the order of their sectors; each must follow the previous
  // one without a gap.
  std::vector<std::string> orderOnDisc() const {
    std::vector<std::pair<std::uint32_t, std::string>> placed;
    for (const auto& [path, f] : report.files)
      if (path.rfind("VIDEO_TS/", 0) == 0 && !f.folder && !f.extents.empty())
        placed.emplace_back(f.extents.front().first, path.substr(9));
    std::sort(placed.begin(), placed.end());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < placed.size(); ++i) {
      names.push_back(placed[i].second);
      if (i == 0) continue;
      const auto& before = report.files.at("VIDEO_TS/" + placed[i - 1].second);
      EXPECT_EQ(placed[i].first, placed[i - 1].first + (before.size + 2047) / 2048)
          << placed[i].second << " follows without a gap";
    }
    return names;
  }
};

}  // namespace

// ffmpeg and dvdauthor make the folder; its navigation files are then spoilt (title
// objects at sector 0 and the title's set at sector 0). The image puts the files in player
// order from a sector that is a multiple of 16 after the anchor, restores exactly the
// sectors dvdauthor computed for that same contiguous order, and lsdvd, udfinfo, isoinfo
// and genisoimage's layout agree with it.
TEST_F(UdfDvdVideo, AuthoredFolderReadsLikeTheSource) {
  for (const char* tool : {"ffmpeg", "dvdauthor", "lsdvd", "udfinfo", "isoinfo", "genisoimage"})
    QUILLION_REQUIRE_TOOL(tool);
  const fs::path authored = dir.file("authored");
  fs::create_directories(authored);
  const ToolOptions env{authored, {{"VIDEO_FORMAT", "PAL"}}};
  ASSERT_EQ(runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                     "testsrc=size=720x576:rate=25:duration=2", "-f", "lavfi", "-i",
                     "sine=r=48000:d=2", "-target", "pal-dvd", "-c:a", "ac3", "dvd.mpg"},
                    env)
                .exitCode,
            0);
  ASSERT_EQ(runTool({"dvdauthor", "-o", "dvd", "-t", "-c", "0,1", "dvd.mpg"}, env).exitCode, 0);
  ASSERT_EQ(runTool({"dvdauthor", "-o", "dvd", "-T"}, env).exitCode, 0);
  fs::create_directories(dir.file("src"));
  fs::copy(authored / "dvd", dir.file("src"), fs::copy_options::recursive);
  fs::create_directories(dir.file("src") / "AUDIO_TS");
  const auto pristine = filesBelow(dir.file("src"));

  for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP"}) setBe32(videoTs() / name, 0xC4, 0);
  const std::uint32_t table = be32Of(pristine.at("VIDEO_TS/VIDEO_TS.IFO"), 0xC4) * 2048;
  for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP"})
    setBe32(videoTs() / name, table + 8 + 8, 0);

  const std::uint32_t blocks = produce(DPM_UDF::kModeDVDVideo);
  ASSERT_GT(blocks, 0u);
  EXPECT_EQ(faults(), "");
  // Every file as authored, but the manager's title set start: dvdauthor counts it for a
  // layout with padding after each navigation file (genisoimage's, below), this image is
  // contiguous.
  const std::uint32_t titleSetStart = table + 8 + 8;
  auto expected = pristine;
  for (const char* name : {"VIDEO_TS/VIDEO_TS.IFO", "VIDEO_TS/VIDEO_TS.BUP"}) {
    std::string& vmg = expected.at(name);
    quillion::be::put32({reinterpret_cast<std::uint8_t*>(vmg.data()), vmg.size()}, titleSetStart,
                        0);
  }
  auto got = checkedTree(report);
  for (const char* name : {"VIDEO_TS/VIDEO_TS.IFO", "VIDEO_TS/VIDEO_TS.BUP"}) {
    std::string& vmg = got.at(name);
    EXPECT_EQ(be32Of(vmg, titleSetStart), sectorOf("VTS_01_0.IFO") - sectorOf("VIDEO_TS.IFO"));
    quillion::be::put32({reinterpret_cast<std::uint8_t*>(vmg.data()), vmg.size()}, titleSetStart,
                        0);
  }
  EXPECT_EQ(differences(got, expected), "") << "navigation restored";
  EXPECT_EQ(temporaryFiles(), 2u) << "one patched copy per navigation file";
  EXPECT_EQ(orderOnDisc(), (std::vector<std::string>{"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO",
                                                     "VTS_01_1.VOB", "VTS_01_0.BUP"}));
  EXPECT_EQ((sectorOf("VIDEO_TS.IFO") - 256) % 16, 0u);
  for (const auto& [path, f] : report.files) {
    EXPECT_EQ(f.icbFlags, 0x210) << path;
    if (path != "/") {
      EXPECT_EQ(f.nameCompression, 8) << path;
    }
  }

  EXPECT_EQ(lsdvdTitles(image()), lsdvdTitles(dir.file("src")));
  EXPECT_NE(lsdvdTitles(image()).find("Chapter: 02"), std::string::npos);
  const std::string info = runReader({"udfinfo", image()});
  EXPECT_EQ(udfinfoField(info, "udfrev"), "1.02");
  EXPECT_EQ(udfinfoField(info, "integrity"), "closed");
  // The ISO9660 part's three descriptors precede "BEA01", "NSR02" and "TEA01"; the
  // partition starts right after the ISO9660 tables that follow the anchor.
  for (const std::string& line :
       {std::string("start=16, blocks=6, type=VRS"), std::string("start=32, blocks=16, type=MVDS"),
        std::string("start=48, blocks=16, type=RVDS"), std::string("start=64, blocks=1, type=LVID"),
        std::string("start=256, blocks=1, type=ANCHOR"),
        "start=" + std::to_string(report.partitionStart) +
            ", blocks=" + std::to_string(report.partitionLength) + ", type=PSPACE",
        "start=" + std::to_string(blocks - 1) + ", blocks=1, type=ANCHOR"})
    EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;

  // Both ISO9660 trees point at the UDF sectors.
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, std::vector<std::string>{"-J"}}) {
    const auto listing = isoinfoListing(image(), options);
    ASSERT_TRUE(listing.count("/VIDEO_TS/")) << (options.empty() ? "ISO9660" : "Joliet");
    std::size_t seen = 0;
    for (const IsoinfoEntry& e : listing.at("/VIDEO_TS/")) {
      const std::string name = e.name.substr(0, e.name.find(';'));
      EXPECT_EQ(e.extent, sectorOf(name)) << name;
      EXPECT_EQ(e.size, report.files.at("VIDEO_TS/" + name).size) << name;
      ++seen;
    }
    EXPECT_EQ(seen, 5u);
  }

  // genisoimage's DVD-Video layout of the authored folder: the same order, and in both
  // layouts the navigation fields give the distances the files really have (genisoimage
  // pads to the sizes the IFO files declare, and keeps dvdauthor's values).
  const std::string reference = dir.file("ref.iso");
  ASSERT_EQ(runTool({"genisoimage", "-quiet", "-dvd-video", "-V", "T", "-o", reference,
                     (authored / "dvd").string()})
                .exitCode,
            0);
  const auto ref = isoinfoListing(reference);
  ASSERT_TRUE(ref.count("/VIDEO_TS/"));
  std::vector<std::pair<std::uint32_t, std::string>> refOrder;
  std::map<std::string, std::uint32_t> refSectors;
  for (const IsoinfoEntry& e : ref.at("/VIDEO_TS/")) {
    const std::string name = e.name.substr(0, e.name.find(';'));
    refSectors[name] = e.extent;
    refOrder.emplace_back(e.extent, name);
  }
  std::sort(refOrder.begin(), refOrder.end());
  std::vector<std::string> refNames;
  for (const auto& [sector, name] : refOrder) refNames.push_back(name);
  EXPECT_EQ(refNames, orderOnDisc());
  const auto fieldsAgree = [&](const auto& sectorAt, const std::string& vmg,
                               const std::string& vts) {
    EXPECT_EQ(be32Of(vmg, titleSetStart), sectorAt("VTS_01_0.IFO") - sectorAt("VIDEO_TS.IFO"));
    EXPECT_EQ(be32Of(vts, 0xC4), sectorAt("VTS_01_1.VOB") - sectorAt("VTS_01_0.IFO"));
  };
  fieldsAgree([&](const std::string& n) { return refSectors.at(n); },
              pristine.at("VIDEO_TS/VIDEO_TS.IFO"), pristine.at("VIDEO_TS/VTS_01_0.IFO"));
  fieldsAgree([&](const std::string& n) { return sectorOf(n); }, dataOf("VIDEO_TS.IFO"),
              dataOf("VTS_01_0.IFO"));

  producer.reset();
  EXPECT_EQ(temporaryFiles(), 0u) << "the patched copies go with the producer";
}

// The sample folder with menus: the manager, its menu objects and its backup, then the
// title set's IFO, menu and title objects and backup. Both the IFO and its BUP carry the
// menu start (0xC0), the title start (0xC4) and the title's set start, as the image's own
// sectors give them.
TEST_F(UdfDvdVideo, SampleFolderIsOrderedAndPatched) {
  writeSample();
  ASSERT_GT(produce(DPM_UDF::kModeDVDVideo), 0u);
  EXPECT_EQ(faults(), "");
  EXPECT_EQ(orderOnDisc(), (std::vector<std::string>{"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP",
                                                     "VTS_01_0.IFO", "VTS_01_0.VOB", "VTS_01_1.VOB",
                                                     "VTS_01_0.BUP"}));
  const std::uint32_t vmg = sectorOf("VIDEO_TS.IFO"), vts = sectorOf("VTS_01_0.IFO");
  for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(be32Of(dataOf(name), 0xC0), sectorOf("VIDEO_TS.VOB") - vmg);
    EXPECT_EQ(be32Of(dataOf(name), 2048 + 8 + 8), vts - vmg);
  }
  for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(be32Of(dataOf(name), 0xC0), sectorOf("VTS_01_0.VOB") - vts);
    EXPECT_EQ(be32Of(dataOf(name), 0xC4), sectorOf("VTS_01_1.VOB") - vts);
  }
  EXPECT_EQ(dataOf("VTS_01_1.VOB"), patternBytes(7 * 2048, 3));
}

// Edges of the order, each against the folder as written.
TEST_F(UdfDvdVideo, FoldersAtTheOrdersEdges) {
  SCOPED_TRACE("without backups: name order, navigation untouched");
  fs::create_directories(videoTs());
  std::string vmg = navigation(true, 3, {1});
  quillion::be::put32({reinterpret_cast<std::uint8_t*>(vmg.data()), vmg.size()}, 0xC0, 0x1234);
  put("VIDEO_TS.IFO", vmg);
  put("VTS_01_0.IFO", navigation(false, 6));
  put("VTS_01_1.VOB", patternBytes(2048, 4));
  ASSERT_GT(produce(DPM_UDF::kModeDVDVideo), 0u);
  EXPECT_EQ(faults(), "");
  EXPECT_EQ(orderOnDisc(),
            (std::vector<std::string>{"VIDEO_TS.IFO", "VTS_01_0.IFO", "VTS_01_1.VOB"}));
  EXPECT_EQ(differences(checkedTree(report), filesBelow(dir.file("src"))), "");
  EXPECT_EQ(temporaryFiles(), 0u);

  SCOPED_TRACE("with backups but no VIDEO_TS.VOB: the manager's menu start stays");
  put("VIDEO_TS.BUP", vmg);
  put("VTS_01_0.BUP", navigation(false, 6));
  ASSERT_GT(produce(DPM_UDF::kModeDVDVideo), 0u);
  EXPECT_EQ(faults(), "");
  EXPECT_EQ(be32Of(dataOf("VIDEO_TS.IFO"), 0xC0), 0x1234u);
  EXPECT_EQ(be32Of(dataOf("VIDEO_TS.IFO"), 2048 + 16),
            sectorOf("VTS_01_0.IFO") - sectorOf("VIDEO_TS.IFO"));
  EXPECT_EQ(be32Of(dataOf("VTS_01_0.IFO"), 0xC4),
            sectorOf("VTS_01_1.VOB") - sectorOf("VTS_01_0.IFO"));
}

// A file of 2^30 bytes or more cannot be one short descriptor: with the extent limit
// shrunk to one sector, a file of three sectors and a bit takes four contiguous extents,
// and the checker reads its bytes back through them.
TEST_F(UdfDvdVideo, LargeFilesTakeSeveralContiguousExtents) {
  writeSample();
  const std::string big = patternBytes(3 * 2048 + 5, 9);
  writeFile(dir.file("src") / "big.bin", big);
  DPM_UDF::Options options;
  options.maxExtentBytes = 2048;
  ASSERT_GT(produce(DPM_UDF::kModeDVDVideo, 0, options), 0u);
  EXPECT_EQ(faults(), "");
  const UdfCheckedFile& f = report.files.at("big.bin");
  ASSERT_EQ(f.extents.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(f.extents[i].first, f.extents[0].first + i);
    EXPECT_EQ(f.extents[i].second, i < 3 ? 2048u : 5u);
  }
  EXPECT_EQ(f.data, big);
}

// Folders whose navigation cannot be trusted give no image and say why; no patched copy
// stays behind.
TEST_F(UdfDvdVideo, UntrustworthyFoldersAreRefused) {
  struct Case {
    const char* name;
    std::function<void(UdfDvdVideo&)> spoil;
    EngineStatus status;
    std::uint32_t start = 0;
  };
  const std::vector<Case> cases = {
      {"title set without its identifier",
       [](UdfDvdVideo& t) { t.put("VTS_01_0.IFO", std::string(6 * 2048, 'x')); },
       kErrProducerFormat},
      {"title naming a set that is not there",
       [](UdfDvdVideo& t) {
         t.put("VIDEO_TS.IFO", navigation(true, 3, {1, 2}));
       },
       kErrProducerFormat},
      {"title search table outside the file",
       [](UdfDvdVideo& t) { setBe32(t.videoTs() / "VIDEO_TS.IFO", 0xC4, 40); }, kErrProducerFormat},
      {"title count running past the file",
       [](UdfDvdVideo& t) {
         std::string vmg = navigation(true, 3, {1});
         quillion::be::put16({reinterpret_cast<std::uint8_t*>(vmg.data()), vmg.size()}, 2048, 400);
         t.put("VIDEO_TS.IFO", vmg);
       },
       kErrProducerFormat},
      {"backup of another size",
       [](UdfDvdVideo& t) { t.put("VTS_01_0.BUP", navigation(false, 5)); }, kErrProducerFormat},
      {"navigation file gone before it is read",
       [](UdfDvdVideo& t) { t.beforePrepare = [&t] { fs::remove(t.videoTs() / "VTS_01_0.IFO"); }; },
       kErrFileAccess},
      {"more than 99 title sets",
       [](UdfDvdVideo& t) {
         for (int n = 2; n <= 100; ++n) {
           char base[32];
           std::snprintf(base, sizeof base, "VTS_%02d_0", n);
           const std::string vts = navigation(false, 1);
           t.put(std::string(base) + ".IFO", vts);
           t.put(std::string(base) + ".BUP", vts);
         }
       },
       kErrProducerFormat},
      {"DVD-Video after the first session", [](UdfDvdVideo&) {}, kErrBadArgument, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir.file("src"));
    writeSample();
    beforePrepare = nullptr;
    c.spoil(*this);
    EXPECT_EQ(refusal(DPM_UDF::kModeDVDVideo, c.start), c.status) << producer->LayoutProblem();
    EXPECT_EQ(temporaryFiles(), 0u);
  }

  SCOPED_TRACE("patched copies with nowhere to go");
  fs::remove_all(dir.file("src"));
  writeSample();
  beforePrepare = nullptr;
  DPM_UDF::Options options;
  options.temporaryFolder = dir.file("no such folder");
  EXPECT_EQ(refusal(DPM_UDF::kModeDVDVideo, 0, options), kErrFileAccess);
  EXPECT_NE(producer->LayoutProblem().find("VIDEO_TS"), std::string::npos)
      << producer->LayoutProblem();
}
