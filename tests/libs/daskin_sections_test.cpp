// SPDX-License-Identifier: GPL-2.0-or-later
// Program tables that span transport packets. ffmpeg writes each program map in one packet,
// so the test rewrites its maps: every copy gets program and stream descriptors enough to
// fill three packets, with a fresh CRC (or a damaged one), and the listing is checked
// against ffprobe and tsinfo reading the same file.
#include <gtest/gtest.h>

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
constexpr std::size_t kPacket = 188;
constexpr std::uint32_t kMapPid = 0x1000;  // where ffmpeg puts the first program's map

// CRC-32 of MPEG-2 sections, bit by bit (13818-1 Annex A).
std::uint32_t sectionCrc(const Bytes& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const std::uint8_t b : bytes)
    for (int bit = 7; bit >= 0; --bit) {
      const bool top = ((crc >> 31) ^ (b >> bit)) & 1u;
      crc <<= 1;
      if (top) crc ^= 0x04C11DB7u;
    }
  return crc;
}

void put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

// Descriptors of a registered private tag (0xF0..), `count` of `size` payload bytes.
Bytes privateDescriptors(int count, int size, std::uint8_t seed) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    out.push_back(static_cast<std::uint8_t>(0xF0 + i % 8));
    out.push_back(static_cast<std::uint8_t>(size));
    for (int j = 0; j < size; ++j) out.push_back(static_cast<std::uint8_t>(seed + i * 7 + j));
  }
  return out;
}

enum class Damage { None, Crc, LengthPastData };

// The map section `original` (from its table id to its CRC) grown by descriptors.
Bytes grownMap(const Bytes& original, const Bytes& programDescriptors, Damage damage) {
  const std::uint32_t length = static_cast<std::uint32_t>((original[1] & 0x0F) << 8 | original[2]);
  const std::uint32_t infoLength =
      static_cast<std::uint32_t>((original[10] & 0x0F) << 8 | original[11]);
  Bytes body(original.begin() + 3, original.begin() + 10);  // number, version, sections, PCR
  put16(body, 0xF000 | static_cast<std::uint32_t>(programDescriptors.size()));
  body.insert(body.end(), programDescriptors.begin(), programDescriptors.end());
  // Each stream entry keeps its own descriptors and gets 120 bytes more.
  std::size_t at = 12 + infoLength;
  const std::size_t end = 3 + length - 4;
  std::uint8_t seed = 0x40;
  while (at + 5 <= end) {
    const std::uint32_t esInfo =
        static_cast<std::uint32_t>((original[at + 3] & 0x0F) << 8 | original[at + 4]);
    const Bytes extra = privateDescriptors(4, 28, seed++);
    body.insert(body.end(), original.begin() + static_cast<long>(at),
                original.begin() + static_cast<long>(at + 3));
    put16(body, 0xF000 | static_cast<std::uint32_t>(esInfo + extra.size()));
    body.insert(body.end(), original.begin() + static_cast<long>(at + 5),
                original.begin() + static_cast<long>(at + 5 + esInfo));
    body.insert(body.end(), extra.begin(), extra.end());
    at += 5 + esInfo;
  }
  Bytes section{original[0]};
  const std::size_t sectionLength = body.size() + 4 + (damage == Damage::LengthPastData ? 300 : 0);
  put16(section, 0xB000 | static_cast<std::uint32_t>(sectionLength));
  section.insert(section.end(), body.begin(), body.end());
  std::uint32_t crc = sectionCrc(section);
  if (damage == Damage::Crc) crc ^= 0x00010000u;
  for (int shift = 24; shift >= 0; shift -= 8)
    section.push_back(static_cast<std::uint8_t>(crc >> shift));
  return section;
}

// How the grown maps are laid into the map PID's packets: each copy from the start of a
// packet of its own, or one copy behind the other, so that a packet ends one copy and
// begins the next (its pointer field giving where).
enum class Layout { OwnPackets, BackToBack };

// The packets of the map PID for one original map packet. Back to back, the copies form one
// endless run of bytes, of which each place takes one packet more than a copy needs.
struct MapWriter {
  Bytes section;
  Layout layout = Layout::OwnPackets;
  std::uint8_t counter = 0;
  std::size_t streamAt = 0;  // bytes of the endless run already sent

  Bytes packet(bool unitStart, std::uint8_t pointer, const Bytes& payload) {
    Bytes out{0x47, static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | kMapPid >> 8),
              static_cast<std::uint8_t>(kMapPid & 0xFF), static_cast<std::uint8_t>(0x10 | counter)};
    counter = (counter + 1) & 0x0F;
    if (unitStart) out.push_back(pointer);
    out.insert(out.end(), payload.begin(), payload.end());
    out.resize(kPacket, 0xFF);
    return out;
  }
  Bytes place() {
    Bytes out;
    if (layout == Layout::OwnPackets) {
      for (std::size_t sent = 0; sent < section.size();) {
        const std::size_t room = sent == 0 ? 183 : 184;
        const std::size_t n = std::min(room, section.size() - sent);
        const Bytes p = packet(sent == 0, 0,
                               Bytes(section.begin() + static_cast<long>(sent),
                                     section.begin() + static_cast<long>(sent + n)));
        out.insert(out.end(), p.begin(), p.end());
        sent += n;
      }
      return out;
    }
    const std::size_t size = section.size();
    // The run begins halfway into a copy: the first whole copy starts behind a pointer field
    // and ends in a packet whose pointer field points past its last bytes.
    if (streamAt == 0) streamAt = size / 2;
    for (std::size_t k = 0; k < size / 183 + 2; ++k) {
      const std::size_t nextStart = (streamAt + size - 1) / size * size;
      const bool unitStart = nextStart - streamAt < 183;
      const std::size_t n = unitStart ? 183 : 184;
      Bytes payload;
      for (std::size_t i = 0; i < n; ++i) payload.push_back(section[(streamAt + i) % size]);
      const Bytes p = packet(unitStart, static_cast<std::uint8_t>(nextStart - streamAt), payload);
      out.insert(out.end(), p.begin(), p.end());
      streamAt += n;
    }
    return out;
  }
};

// The stream with every map copy replaced by the grown map, spread over as many packets of
// the map PID as it needs (continuity counters renumbered).
Bytes withGrownMaps(const Bytes& ts, const Bytes& programDescriptors, Damage damage,
                    Layout layout = Layout::OwnPackets) {
  Bytes out;
  MapWriter writer;
  writer.layout = layout;
  for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
    const std::uint8_t* p = ts.data() + at;
    const std::uint32_t pid = static_cast<std::uint32_t>((p[1] & 0x1F) << 8 | p[2]);
    if (pid != kMapPid) {
      out.insert(out.end(), p, p + kPacket);
      continue;
    }
    if (!(p[1] & 0x40) || (p[3] & 0x20)) continue;  // ffmpeg's maps: one whole section each
    const std::size_t start = 5 + p[4];
    const std::size_t length = static_cast<std::size_t>((p[start + 1] & 0x0F) << 8 | p[start + 2]);
    writer.section = grownMap(Bytes(p + start, p + start + 3 + length), programDescriptors, damage);
    const Bytes packets = writer.place();
    out.insert(out.end(), packets.begin(), packets.end());
  }
  return out;
}

class DaskinSpanningTables : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!quillion::test::toolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    dir_ = std::make_unique<TempDir>();
    plain_ = dir_->file("plain.ts");
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-f", "lavfi", "-i",
                        "sine=r=48000", "-t", "1", "-c:v", "mpeg2video", "-c:a", "mp2", "-f",
                        "mpegts", plain_.string()}));
  }
  std::filesystem::path rewritten(const char* name, Damage damage,
                                  Layout layout = Layout::OwnPackets) {
    const auto file = dir_->file(name);
    writeFile(file, withGrownMaps(readFile(plain_), descriptors_, damage, layout));
    return file;
  }
  std::unique_ptr<TempDir> dir_;
  std::filesystem::path plain_;
  const Bytes descriptors_ = privateDescriptors(14, 30, 0x10);  // 448 bytes
};

// A map of three packets is read whole: the program's descriptors are the bytes written,
// and programs, PIDs and stream types are what ffprobe and tsinfo read.
TEST_F(DaskinSpanningTables, AMapOverThreePacketsAgreesWithFfprobeAndTsinfo) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("tsinfo");
  const auto file = rewritten("spanning.ts", Damage::None);
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  const file_info_struct f = d.fileInfo();
  EXPECT_EQ(f.system_stream_type, 3);
  ASSERT_EQ(f.programs, 1);
  program_info_struct program{};
  ASSERT_EQ(mpegDemuxGetProgramInfo(d.ctx(), &program, 0), 0);
  ASSERT_EQ(program.descriptor_length, descriptors_.size());
  EXPECT_TRUE(Bytes(program.descriptors, program.descriptors + program.descriptor_length) ==
              descriptors_);

  const auto programs =
      ffprobeLines({"-show_entries", "program=program_num,pmt_pid,pcr_pid"}, file);
  std::size_t listed = 0;
  for (const auto& line : programs) {
    const auto fields = splitCsv(line);
    if (fields.size() < 3 || fields[0].empty()) continue;
    ++listed;
    EXPECT_EQ(program.program_number, std::stoul(fields[0]));
    EXPECT_EQ(program.pmt_pid, std::stoul(fields[1]));
    EXPECT_EQ(program.pcr_pid, std::stoul(fields[2]));
  }
  EXPECT_EQ(listed, 1u);

  std::set<std::uint32_t> probedPids;
  for (const auto& line : ffprobeLines({"-show_entries", "stream=id"}, file))
    if (line.rfind("0x", 0) == 0)
      probedPids.insert(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
  std::set<std::uint32_t> ourPids;
  std::set<std::pair<std::uint32_t, std::uint32_t>> ours;
  for (const auto& s : d.streams()) {
    ourPids.insert(s.info.pid);
    ours.emplace(s.info.pid, s.info.stream_type);
    // Each stream's descriptors end with the 120 bytes the rewrite added.
    EXPECT_GE(s.info.descriptor_length, 120u);
  }
  EXPECT_EQ(ourPids, probedPids);
  EXPECT_EQ(ours.size(), 2u);

  // tsinfo: "PID 0100 ( 256) -> Stream type 02 (  2) ...".
  const std::string report = quillion::test::toolOutput({"tsinfo", file.string()});
  std::set<std::pair<std::uint32_t, std::uint32_t>> theirs;
  for (std::size_t at = 0; (at = report.find("PID ", at)) != std::string::npos; at += 4) {
    const std::size_t arrow = report.find("-> Stream type ", at);
    if (arrow == std::string::npos || arrow > report.find('\n', at)) continue;
    theirs.emplace(
        static_cast<std::uint32_t>(std::stoul(report.substr(at + 4, 4), nullptr, 16)),
        static_cast<std::uint32_t>(std::stoul(report.substr(arrow + 15, 2), nullptr, 16)));
  }
  EXPECT_EQ(ours, theirs);

  // The payloads do not depend on how the map was carried.
  Demux original;
  ASSERT_EQ(original.open(plain_), 0);
  for (const auto& s : d.streams())
    EXPECT_TRUE(d.pullStream(s.program, s.stream).bytes ==
                original.pullStream(s.program, s.stream).bytes)
        << s.info.pid;
}

// Copies of the map laid one behind the other: a packet carries the end of one copy and,
// behind its pointer field, the start of the next; ffprobe reads the same program.
TEST_F(DaskinSpanningTables, MapsBackToBackAreEachReadWhole) {
  QUILLION_REQUIRE_TOOL("ffprobe");
  const auto file = rewritten("packed.ts", Damage::None, Layout::BackToBack);
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  program_info_struct program{};
  ASSERT_EQ(mpegDemuxGetProgramInfo(d.ctx(), &program, 0), 0);
  EXPECT_NE(program.program_number, 0u);
  ASSERT_EQ(program.descriptor_length, descriptors_.size());
  EXPECT_TRUE(Bytes(program.descriptors, program.descriptors + program.descriptor_length) ==
              descriptors_);
  std::set<std::uint32_t> probedPids;
  for (const auto& line : ffprobeLines({"-show_entries", "stream=id"}, file))
    if (line.rfind("0x", 0) == 0)
      probedPids.insert(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
  std::set<std::uint32_t> ourPids;
  for (const auto& s : d.streams()) {
    ourPids.insert(s.info.pid);
    EXPECT_NE(s.info.stream_type, 0u);
  }
  EXPECT_EQ(ourPids, probedPids);
  EXPECT_EQ(ourPids.size(), 2u);
}

// A map whose CRC fails, or whose length runs past the packets that carry it, is passed
// over: no stream comes from it, and the streams are found by the scan of PES starts,
// which lists them without a program number or stream_type.
TEST_F(DaskinSpanningTables, DamagedMapsArePassedOver) {
  for (const auto& [name, damage] :
       {std::pair{"crc.ts", Damage::Crc}, std::pair{"length.ts", Damage::LengthPastData}}) {
    SCOPED_TRACE(name);
    Demux d;
    ASSERT_EQ(d.open(rewritten(name, damage)), 0);
    ASSERT_EQ(d.fileInfo().programs, 1);
    program_info_struct program{};
    ASSERT_EQ(mpegDemuxGetProgramInfo(d.ctx(), &program, 0), 0);
    EXPECT_EQ(program.program_number, 0u);
    EXPECT_EQ(program.descriptor_length, 0u);
    std::set<std::uint32_t> pids;
    for (const auto& s : d.streams()) {
      EXPECT_EQ(s.info.stream_type, 0u);
      pids.insert(s.info.pid);
    }
    EXPECT_EQ(pids, (std::set<std::uint32_t>{0x100, 0x101}));
  }
}

// A program association table whose CRC fails lists no program; as in a stream without
// tables, the scan then begins where the search for the table stopped, at the end of this
// short file, and the open fails with its message.
TEST_F(DaskinSpanningTables, AnAssociationTableWithAWrongCrcListsNoProgram) {
  Bytes ts = readFile(plain_);
  for (std::size_t at = 0; at + kPacket <= ts.size(); at += kPacket) {
    std::uint8_t* p = ts.data() + at;
    if (((p[1] & 0x1F) << 8 | p[2]) != 0 || !(p[1] & 0x40)) continue;
    const std::size_t start = 5 + p[4];
    const std::size_t length = static_cast<std::size_t>((p[start + 1] & 0x0F) << 8 | p[start + 2]);
    p[start + 3 + length - 1] ^= 0x5A;  // the CRC's last byte
  }
  const auto file = dir_->file("pat.ts");
  writeFile(file, ts);
  Demux d;
  EXPECT_EQ(d.open(file), 1);
  EXPECT_TRUE(d.messages.has("No elementary streams found"));
  // The same file with its tables whole opens.
  Demux whole;
  EXPECT_EQ(whole.open(plain_), 0);
}

}  // namespace
