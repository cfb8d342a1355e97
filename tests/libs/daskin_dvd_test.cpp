// SPDX-License-Identifier: GPL-2.0-or-later
// DVD sets opened through their IFO file. dvdauthor makes a title set of two titles at test
// time (three and two cells); a small reader here takes the cell tables from the IFO, lsdvd
// confirms what that reader sees, and ffmpeg cuts the reference payloads from the VOB bytes
// that the cells name. Navigation packs are compared byte for byte with the VOB's.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;
using quillion::test::writeFile;
using namespace quillion::test::daskin;

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kSector = 2048;

std::uint32_t be16At(const Bytes& d, std::size_t at) {
  return static_cast<std::uint32_t>(d.at(at) << 8 | d.at(at + 1));
}
std::uint32_t be32At(const Bytes& d, std::size_t at) {
  return be16At(d, at) << 16 | be16At(d, at + 2);
}
void putBe32(Bytes& d, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    d.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A cell as the title set's IFO lists it: sectors of its first VOBU and of its last VOBU's
// end, and where its playback entry lies in the IFO.
struct IfoCell {
  std::uint32_t firstSector = 0;
  std::uint32_t lastSector = 0;
  std::size_t entry = 0;
  std::int64_t duration = 0;  // 27 MHz, from the BCD playback time at 25 frames a second
};
struct IfoTitle {
  int number = 0;
  std::vector<IfoCell> cells;
};

// The title program chains of a VTS_NN_0.IFO (program chain table at sector pointer 0xCC,
// cell playback table at offset 0xE8 of each chain, 24-byte entries).
std::vector<IfoTitle> readTitles(const Bytes& ifo) {
  std::vector<IfoTitle> titles;
  const std::size_t table = be32At(ifo, 0xCC) * kSector;
  for (std::uint32_t i = 0; i < be16At(ifo, table); ++i) {
    const std::size_t entry = table + 8 + 8 * i;
    const std::size_t chain = table + be32At(ifo, entry + 4);
    IfoTitle t;
    t.number = ifo.at(entry) & 0x7F;
    const std::size_t playback = chain + be16At(ifo, chain + 0xE8);
    for (std::uint32_t c = 0; c < ifo.at(chain + 3); ++c) {
      const std::size_t at = playback + 24 * c;
      auto bcd = [&](std::size_t k) { return (ifo.at(k) >> 4 & 3) * 10 + (ifo.at(k) & 0x0F); };
      EXPECT_EQ(ifo.at(at + 7) >> 6, 1);  // 25 frames a second
      const std::int64_t frames =
          ((bcd(at + 4) * 60 + bcd(at + 5)) * 60 + bcd(at + 6)) * 25 + bcd(at + 7);
      t.cells.push_back({be32At(ifo, at + 8), be32At(ifo, at + 20), at, frames * 1080000});
    }
    titles.push_back(t);
  }
  return titles;
}

// The VOB's bytes of the cells, in the order given.
Bytes cellBytes(const Bytes& vob, const std::vector<IfoCell>& cells) {
  Bytes out;
  for (const auto& c : cells)
    out.insert(out.end(), vob.begin() + static_cast<long>(c.firstSector * kSector),
               vob.begin() + static_cast<long>((c.lastSector + 1) * kSector));
  return out;
}

// Navigation copies of the packs in `bytes`: the 60 bytes behind a presentation control
// packet's sub-stream byte, or the 546 behind a data search packet's.
std::vector<Bytes> navCopies(const Bytes& bytes, int sub) {
  std::vector<Bytes> out;
  const std::uint32_t length = sub == 0 ? 980 : 1018;
  const std::size_t size = sub == 0 ? 60 : 546;
  for (std::size_t s = 0; s + kSector <= bytes.size(); s += kSector)
    for (std::size_t i = s; i + 7 + size <= s + kSector; ++i)
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xBF &&
          be16At(bytes, i + 4) == length && bytes[i + 6] == sub) {
        out.emplace_back(bytes.begin() + static_cast<long>(i + 7),
                         bytes.begin() + static_cast<long>(i + 7 + size));
        break;
      }
  return out;
}

class DaskinDvdSet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quillion::test::toolAvailable("ffmpeg") || !quillion::test::toolAvailable("dvdauthor"))
      return;
    dir_ = new TempDir;
    const char* sources[] = {"testsrc=size=352x288:rate=25", "smptebars=size=352x288:rate=25"};
    for (int i = 0; i < 2; ++i) {
      const auto mpg = dir_->file("t" + std::to_string(i) + ".mpg");
      ASSERT_TRUE(
          ffmpeg({"-f", "lavfi", "-i", sources[i], "-f", "lavfi", "-i", "sine=r=48000", "-t", "2",
                  "-target", "pal-dvd", "-s", "352x288", "-g", "6", mpg.string()}));
    }
    const auto xml = dir_->file("dvd.xml");
    writeFile(xml, "<dvdauthor dest=\"" + dir_->file("dvd").string() +
                       "\"><vmgm><menus><pgc entry=\"title\"><vob file=\"" +
                       dir_->file("t1.mpg").string() +
                       "\"/></pgc></menus></vmgm>"
                       "<titleset><menus><pgc entry=\"root\"><vob file=\"" +
                       dir_->file("t0.mpg").string() +
                       "\"/></pgc></menus><titles>"
                       "<pgc><vob file=\"" +
                       dir_->file("t0.mpg").string() +
                       "\" chapters=\"0,0:00:00.500,0:00:01.000\"/></pgc>"
                       "<pgc><vob file=\"" +
                       dir_->file("t1.mpg").string() +
                       "\" chapters=\"0,0:00:01.000\"/></pgc>"
                       "</titles></titleset></dvdauthor>");
    const auto r =
        quillion::test::runTool({"env", "VIDEO_FORMAT=PAL", "dvdauthor", "-x", xml.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg or dvdauthor is not installed";
    ifoPath_ = dir_->file("dvd") / "VIDEO_TS" / "VTS_01_0.IFO";
    vobPath_ = dir_->file("dvd") / "VIDEO_TS" / "VTS_01_1.VOB";
    ifo_ = readFile(ifoPath_);
    vob_ = readFile(vobPath_);
    titles_ = readTitles(ifo_);
    ASSERT_EQ(titles_.size(), 2u);
  }
  // A copy of the set whose IFO or VOB the test changes.
  std::filesystem::path changedSet(const std::string& name, const Bytes& ifo,
                                   const Bytes& vob) const {
    const auto folder = dir_->file(name);
    std::filesystem::create_directories(folder);
    writeFile(folder / "VTS_01_0.IFO", ifo);
    writeFile(folder / "VTS_01_1.VOB", vob);
    return folder / "VTS_01_0.IFO";
  }
  static demux_settings title(int n) {
    demux_settings s{};
    s.dvd_title = n;
    s.dvd_pgc = 1;
    s.dvd_angle = 1;
    return s;
  }
  // The video ffmpeg copies out of the given VOB bytes.
  Bytes referenceVideo(const Bytes& bytes, const std::string& name) const {
    const auto cut = dir_->file(name + ".vob");
    const auto es = dir_->file(name + ".m2v");
    writeFile(cut, bytes);
    EXPECT_TRUE(
        ffmpeg({"-i", cut.string(), "-map", "0:v", "-c", "copy", "-f", "mpeg2video", es.string()}));
    return readFile(es);
  }
  static const StreamListing* find(const std::vector<StreamListing>& streams, std::uint8_t id,
                                   std::uint8_t sub) {
    for (const auto& s : streams)
      if (s.info.stream_id == id && s.info.sub_stream_id == sub) return &s;
    return nullptr;
  }

  static TempDir* dir_;
  std::filesystem::path ifoPath_;
  std::filesystem::path vobPath_;
  Bytes ifo_;
  Bytes vob_;
  std::vector<IfoTitle> titles_;
};
TempDir* DaskinDvdSet::dir_ = nullptr;

// What the IFO reader here sees is what lsdvd sees: titles, cells, one angle.
TEST_F(DaskinDvdSet, TheTestsReaderAgreesWithLsdvd) {
  QUILLION_REQUIRE_TOOL("lsdvd");
  const std::string report =
      quillion::test::toolOutput({"lsdvd", "-x", dir_->file("dvd").string()});
  std::vector<int> cells;
  for (std::size_t at = 0; (at = report.find("\nTitle: ", at)) != std::string::npos; ++at) {
    const std::size_t c = report.find("Cells: ", at);
    ASSERT_NE(c, std::string::npos);
    cells.push_back(std::stoi(report.substr(c + 7)));
  }
  ASSERT_EQ(cells.size(), titles_.size());
  for (std::size_t i = 0; i < cells.size(); ++i)
    EXPECT_EQ(static_cast<std::size_t>(cells[i]), titles_[i].cells.size());
  EXPECT_EQ(cells, (std::vector<int>{3, 2}));
}

// Each title delivers the video of its own cells and no other bytes; the listing is the
// IFO's: video, the AC-3 stream, and the two navigation copies, which ffprobe also lists.
TEST_F(DaskinDvdSet, EachTitleDeliversItsOwnCells) {
  for (int t = 1; t <= 2; ++t) {
    SCOPED_TRACE("title " + std::to_string(t));
    Demux d(title(t));
    ASSERT_EQ(d.open(ifoPath_), 0) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
    const file_info_struct f = d.fileInfo();
    EXPECT_EQ(f.system_stream_type, 2);
    EXPECT_EQ(f.dvd_titles, 2);
    EXPECT_EQ(f.dvd_angles, 1);
    EXPECT_EQ(f.size, vob_.size());
    const auto streams = d.streams();
    ASSERT_EQ(streams.size(), 4u);
    const StreamListing* video = find(streams, 0xE0, 0);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->info.kind, static_cast<std::uint32_t>(DEMUX_KIND_VIDEO));
    ASSERT_NE(find(streams, 0xBD, 0x80), nullptr);
    EXPECT_EQ(find(streams, 0xBD, 0x80)->info.kind, static_cast<std::uint32_t>(DEMUX_KIND_AC3));
    ASSERT_NE(find(streams, 0xBF, 0), nullptr);
    ASSERT_NE(find(streams, 0xBF, 1), nullptr);
    std::set<std::string> probed;
    for (const auto& line : ffprobeLines({"-show_entries", "stream=id"}, vobPath_))
      probed.insert(splitCsv(line)[0]);
    EXPECT_EQ(probed, (std::set<std::string>{"0x1bf", "0x1e0", "0x80"}));

    const Pulled pulled = d.pullStream(video->program, video->stream);
    EXPECT_TRUE(pulled.ended);
    const auto& cells = titles_[static_cast<std::size_t>(t - 1)].cells;
    EXPECT_TRUE(pulled.bytes ==
                referenceVideo(cellBytes(vob_, cells), "title" + std::to_string(t)));
    for (const auto& c : pulled.chunks) {
      EXPECT_GE(c.pack_position, cells.front().firstSector * kSector);
      EXPECT_LE(c.pack_position, cells.back().lastSector * kSector + kSector - 1);
    }
  }
}

// Cells played out of the order of the file: the reader jumps at each cell's end to the
// next cell's first byte, and the time stamps of a moved cell are put on the title's time
// line: each cell starts where the cells before it end.
TEST_F(DaskinDvdSet, CellsOutOfFileOrderAreFollowedAndRetimed) {
  Bytes ifo = ifo_;
  const auto& cells = titles_[0].cells;
  ASSERT_EQ(cells.size(), 3u);
  // Play order 1, 3, 2: swap the last two playback entries.
  for (std::size_t i = 0; i < 24; ++i) std::swap(ifo[cells[1].entry + i], ifo[cells[2].entry + i]);
  const auto set = changedSet("swapped", ifo, vob_);
  Demux d(title(1));
  ASSERT_EQ(d.open(set), 0) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
  const auto streams = d.streams();
  const StreamListing* video = find(streams, 0xE0, 0);
  ASSERT_NE(video, nullptr);
  const Pulled pulled = d.pullStream(video->program, video->stream);
  EXPECT_TRUE(pulled.ended);
  const std::vector<IfoCell> order{cells[0], cells[2], cells[1]};
  EXPECT_TRUE(pulled.bytes == referenceVideo(cellBytes(vob_, order), "swapped"));

  // The presentation time of each cell's first VOBU, from its presentation control packet.
  auto firstTime = [&](const IfoCell& c) {
    const auto pci = navCopies(cellBytes(vob_, {c}), 0);
    EXPECT_FALSE(pci.empty());
    return pci.empty() ? 0 : static_cast<std::int64_t>(be32At(pci.front(), 12)) * 300;
  };
  // The VOB's own time stamps of the video, by pack position.
  std::map<std::uint64_t, std::int64_t> raw;
  {
    Demux plain;
    const auto copy = dir_->file("plain.mpg");
    writeFile(copy, vob_);
    ASSERT_EQ(plain.open(copy), 0);
    for (const auto& c : plain.pullStream(0, 0).chunks)
      if (c.pts != -1) raw[c.pack_position] = c.pts;
  }
  // Each cell starts on the title's time line where the cells played before it end.
  std::int64_t timeLine = firstTime(order[0]);
  std::map<std::size_t, std::int64_t> offsets;
  for (std::size_t i = 0; i < order.size(); ++i) {
    offsets[i] = timeLine - firstTime(order[i]);
    timeLine += order[i].duration;
  }
  ASSERT_NE(offsets[1], 0);
  std::size_t stamped = 0;
  for (const auto& c : pulled.chunks) {
    if (c.pts == -1) continue;
    std::size_t cell = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
      if (c.pack_position >= order[i].firstSector * kSector &&
          c.pack_position <= order[i].lastSector * kSector + kSector - 1)
        cell = i;
    ASSERT_EQ(raw.count(c.pack_position), 1u);
    EXPECT_EQ(c.pts, raw[c.pack_position] + offsets[cell]) << "cell " << cell;
    ++stamped;
  }
  EXPECT_GT(stamped, 10u);
}

// An angle block: the title's last two cells made one (first cell of the block, then its
// last), each angle plays the cell before the block and its own cell of the block; two
// angles are counted, and a title or angle number out of range selects the first.
TEST_F(DaskinDvdSet, AnglesChooseTheirCellOfABlock) {
  Bytes ifo = ifo_;
  const auto& cells = titles_[0].cells;
  ASSERT_EQ(cells.size(), 3u);
  ifo[cells[1].entry] = static_cast<std::uint8_t>((ifo[cells[1].entry] & 0x0F) | 0x50);
  ifo[cells[2].entry] = static_cast<std::uint8_t>((ifo[cells[2].entry] & 0x0F) | 0xD0);
  const auto set = changedSet("angles", ifo, vob_);
  struct Case {
    int title;
    int angle;
    std::vector<IfoCell> cells;
  };
  const std::vector<Case> cases = {{1, 1, {cells[0], cells[1]}},
                                   {1, 2, {cells[0], cells[2]}},
                                   {7, 2, {cells[0], cells[2]}},
                                   {1, 0, {cells[0], cells[1]}}};
  for (const auto& c : cases) {
    SCOPED_TRACE("title " + std::to_string(c.title) + " angle " + std::to_string(c.angle));
    demux_settings settings = title(c.title);
    settings.dvd_angle = c.angle;
    Demux d(settings);
    ASSERT_EQ(d.open(set), 0);
    EXPECT_EQ(d.fileInfo().dvd_angles, 2);
    const auto streams = d.streams();
    const StreamListing* video = find(streams, 0xE0, 0);
    ASSERT_NE(video, nullptr);
    const Pulled pulled = d.pullStream(video->program, video->stream);
    EXPECT_TRUE(pulled.ended);
    EXPECT_TRUE(pulled.bytes ==
                referenceVideo(cellBytes(vob_, c.cells), "angle" + std::to_string(c.angle)));
  }
  // An angle that no cell of the block has leaves the cells outside the block.
  demux_settings settings = title(1);
  settings.dvd_angle = 3;
  Demux d(settings);
  ASSERT_EQ(d.open(set), 0);
  const Pulled pulled = d.pullStream(0, 0);
  EXPECT_TRUE(pulled.bytes == referenceVideo(cellBytes(vob_, {cells[0]}), "angle3"));
}

// The navigation copies reach streams bound to them byte for byte, in IFO mode those of the
// title's cells, in VOB mode every one of the file; pulled and copied alike.
TEST_F(DaskinDvdSet, NavigationCopiesReachTheirBoundStreams) {
  for (const bool ifoMode : {true, false}) {
    SCOPED_TRACE(ifoMode ? "IFO" : "VOB");
    Demux d(title(2));
    ASSERT_EQ(d.open(ifoMode ? ifoPath_ : vobPath_), 0);
    const Bytes expectedFrom = ifoMode ? cellBytes(vob_, titles_[1].cells) : vob_;
    const auto streams = d.streams();
    for (int sub = 0; sub < 2; ++sub) {
      const StreamListing* nav = find(streams, 0xBF, static_cast<std::uint8_t>(sub));
      ASSERT_NE(nav, nullptr);
      const auto expected = navCopies(expectedFrom, sub);
      ASSERT_GE(expected.size(), 4u);
      const Pulled pulled = d.pullStream(nav->program, nav->stream);
      EXPECT_TRUE(pulled.ended);
      std::vector<Bytes> got;
      std::size_t at = 0;
      for (const auto& c : pulled.chunks) {
        EXPECT_EQ(c.pts, -1);
        EXPECT_EQ(c.data_position - c.pack_position, sub == 0 ? 45u : 1031u);
        got.emplace_back(pulled.bytes.begin() + static_cast<long>(at),
                         pulled.bytes.begin() + static_cast<long>(at + c.length));
        at += c.length;
      }
      EXPECT_EQ(got, expected);
      // Copy mode: the same bytes arrive through copybytes.
      TestStream copied(4096);
      const int parser = d.bind(nav->program, nav->stream, copied);
      ASSERT_NE(parser, 0);
      while (mpegDemuxPush(d.ctx(), parser) >= 0) {
      }
      Bytes joined;
      for (const auto& e : expected) joined.insert(joined.end(), e.begin(), e.end());
      EXPECT_TRUE(copied.bytes == joined);
      EXPECT_EQ(copied.chunks.size(), expected.size());
      mpegDemuxFreeParser(d.ctx(), parser);
    }
  }
}

// An interleaved unit: a data search packet that marks its VOBU as a whole unit (first and
// last) names the next unit two VOBUs on; the VOBU between them belongs to another angle and
// is passed over.
TEST_F(DaskinDvdSet, AnInterleavedUnitGoesOnAtTheNextUnit) {
  const auto& cell = titles_[0].cells[2];
  // The VOBU starts of the title's last cell: sectors whose pack holds a navigation packet.
  std::vector<std::uint32_t> vobus;
  for (std::uint32_t s = cell.firstSector; s <= cell.lastSector; ++s)
    if (!navCopies(Bytes(vob_.begin() + static_cast<long>(s * kSector),
                         vob_.begin() + static_cast<long>((s + 1) * kSector)),
                   1)
             .empty())
      vobus.push_back(s);
  ASSERT_GE(vobus.size(), 3u);
  Bytes vob = vob_;
  // The data search packet's copy begins 1,031 bytes into its pack (DSI byte 0).
  const std::size_t dsi = vobus[0] * kSector + 1031;
  ASSERT_EQ(be32At(vob, dsi + 4), vobus[0]);        // its own sector
  vob[dsi + 32] = 0x70;                             // interleaved unit, its first and last VOBU
  putBe32(vob, dsi + 34, vobus[1] - vobus[0] - 1);  // the unit's last sector, relative
  putBe32(vob, dsi + 38, vobus[2] - vobus[0]);      // the next unit's first sector, relative
  const auto set = changedSet("interleaved", ifo_, vob);
  Demux d(title(1));
  ASSERT_EQ(d.open(set), 0);
  const auto streams = d.streams();
  const StreamListing* video = find(streams, 0xE0, 0);
  ASSERT_NE(video, nullptr);
  const Pulled pulled = d.pullStream(video->program, video->stream);
  EXPECT_TRUE(pulled.ended);
  // The title's bytes without the skipped VOBU.
  std::vector<IfoCell> kept = titles_[0].cells;
  kept[2].lastSector = vobus[1] - 1;
  kept.push_back(IfoCell{vobus[2], cell.lastSector, 0, 0});
  EXPECT_TRUE(pulled.bytes == referenceVideo(cellBytes(vob, kept), "interleaved"));
  EXPECT_LT(pulled.bytes.size(), referenceVideo(cellBytes(vob, titles_[0].cells), "whole").size());
  for (const auto& c : pulled.chunks)
    EXPECT_FALSE(c.pack_position >= vobus[1] * kSector && c.pack_position < vobus[2] * kSector);
}

// The title VOBs split into two files (at a sector in the middle of title 2), named in lower
// case: the set reads on from the first file into the second, and the payload is the same;
// without the second file the set is refused as incomplete.
TEST_F(DaskinDvdSet, ATitleReadsOnIntoTheNextVobFile) {
  const auto folder = dir_->file("split");
  std::filesystem::create_directories(folder);
  writeFile(folder / "VTS_01_0.IFO", ifo_);
  const auto& cells = titles_[1].cells;
  const std::size_t cut = (cells.front().firstSector + cells.back().lastSector) / 2 * kSector;
  writeFile(folder / "vts_01_1.vob", Bytes(vob_.begin(), vob_.begin() + static_cast<long>(cut)));
  writeFile(folder / "vts_01_2.vob", Bytes(vob_.begin() + static_cast<long>(cut), vob_.end()));
  {
    Demux d(title(2));
    ASSERT_EQ(d.open(folder / "VTS_01_0.IFO"), 0)
        << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
    EXPECT_EQ(d.fileInfo().size, vob_.size());
    const auto streams = d.streams();
    const StreamListing* video = find(streams, 0xE0, 0);
    ASSERT_NE(video, nullptr);
    const Pulled pulled = d.pullStream(video->program, video->stream);
    EXPECT_TRUE(pulled.ended);
    EXPECT_TRUE(pulled.bytes == referenceVideo(cellBytes(vob_, cells), "split"));
    EXPECT_TRUE(std::any_of(pulled.chunks.begin(), pulled.chunks.end(),
                            [&](const demux_chunk_info& c) { return c.pack_position >= cut; }));
  }
  std::filesystem::remove(folder / "vts_01_2.vob");
  Demux d(title(2));
  EXPECT_EQ(d.open(folder / "VTS_01_0.IFO"), 1);
  EXPECT_TRUE(d.messages.has("Not all VTS_01_*.VOB files were found"));
}

// Menus: the video manager's (VIDEO_TS.IFO) and the title set's (its IFO with the menu
// flag) deliver their menu VOB; the listing is the one ffprobe gives for that VOB.
TEST_F(DaskinDvdSet, MenusDeliverTheirMenuVob) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  const auto folder = dir_->file("dvd") / "VIDEO_TS";
  struct Case {
    const char* ifo;
    const char* vob;
    int menu;
  };
  for (const Case& c :
       {Case{"VIDEO_TS.IFO", "VIDEO_TS.VOB", 0}, Case{"VTS_01_0.IFO", "VTS_01_0.VOB", 1}}) {
    SCOPED_TRACE(c.ifo);
    demux_settings settings = title(1);
    settings.dvd_menu = c.menu;
    Demux d(settings);
    ASSERT_EQ(d.open(folder / c.ifo), 0) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
    const auto vob = folder / c.vob;
    EXPECT_EQ(d.fileInfo().size, std::filesystem::file_size(vob));
    std::set<std::uint32_t> ours;
    for (const auto& s : d.streams())
      ours.insert(s.info.stream_id == 0xBD ? s.info.sub_stream_id : 0x100u | s.info.stream_id);
    std::set<std::uint32_t> theirs;
    for (const auto& line : ffprobeLines({"-show_entries", "stream=id"}, vob))
      theirs.insert(static_cast<std::uint32_t>(std::stoul(splitCsv(line)[0], nullptr, 16)));
    EXPECT_EQ(ours, theirs);
    const auto streams = d.streams();
    const StreamListing* video = find(streams, 0xE0, 0);
    ASSERT_NE(video, nullptr);
    const Pulled pulled = d.pullStream(video->program, video->stream);
    EXPECT_TRUE(pulled.ended);
    EXPECT_TRUE(pulled.bytes == referenceVideo(readFile(vob), std::string("menu") + c.vob));
  }
}

// Damaged IFO files are refused with their message, and nothing stays open.
TEST_F(DaskinDvdSet, DamagedIfoFilesAreRefused) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* message;
  };
  const std::size_t table = be32At(ifo_, 0xCC) * kSector;
  const std::size_t chain = table + be32At(ifo_, table + 8 + 4);
  const std::vector<Case> cases = {
      {"short", [](Bytes& b) { b.resize(2047); }, "IFO file is too small"},
      {"unknown", [](Bytes& b) { b[0] = 'X'; }, "Unknown IFO file"},
      {"table_outside",
       [](Bytes& b) { putBe32(b, 0xCC, static_cast<std::uint32_t>(b.size() / kSector + 3)); },
       "Damaged IFO file"},
      // The cell count runs the cell table past the end of the file.
      {"cells_past_end",
       [chain](Bytes& b) {
         b[chain + 3] = 255;
         const std::uint32_t playback = static_cast<std::uint32_t>(b.size() - chain - 200);
         b[chain + 0xE8] = static_cast<std::uint8_t>(playback >> 8);
         b[chain + 0xE9] = static_cast<std::uint8_t>(playback);
       },
       "Damaged IFO file"},
      {"no_titles",
       [table](Bytes& b) {
         b[table] = 0;
         b[table + 1] = 0;
       },
       "No VTS present in the IFO file"},
      {"cells_outside_vob",
       [chain](Bytes& b) {
         const std::size_t first = chain + be16At(b, chain + 0xE8);
         putBe32(b, first + 8, 0x00FFFFFF);
         putBe32(b, first + 20, 0x00FFFFFF);
       },
       "The cells of the IFO file do not lie in its VOB files"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes ifo = ifo_;
    c.damage(ifo);
    Demux d(title(1));
    EXPECT_EQ(d.open(changedSet(std::string("damaged_") + c.name, ifo, vob_)), 1);
    EXPECT_TRUE(d.messages.has(c.message))
        << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
    file_info_struct f{};
    EXPECT_EQ(mpegDemuxGetFileInfo(d.ctx(), &f), 1);
  }
  // A set without its title VOB.
  const auto folder = dir_->file("no_vob");
  std::filesystem::create_directories(folder);
  writeFile(folder / "VTS_01_0.IFO", ifo_);
  Demux d(title(1));
  EXPECT_EQ(d.open(folder / "VTS_01_0.IFO"), 1);
  EXPECT_TRUE(d.messages.has("Unable to get the file size of file VTS_01_1.VOB"));
}

}  // namespace
