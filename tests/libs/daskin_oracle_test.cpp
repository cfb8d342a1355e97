// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin against ffprobe and ffmpeg on streams ffmpeg makes at test time: the listing of
// programs and streams, every stream's bytes against `ffmpeg -map 0:N -c copy`, and time
// stamps and positions against `ffprobe -show_packets`.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;
using namespace quillion::test::daskin;

const std::vector<std::string> kVideoIn = {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25"};
std::vector<std::string> audioIn(int rate, int hz = 440) {
  return {"-f", "lavfi", "-i", "sine=f=" + std::to_string(hz) + ":r=" + std::to_string(rate)};
}
std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct ElementaryCase {
  const char* name;
  std::vector<std::string> args;  // output file appended
  std::uint32_t kind;
  std::uint32_t code;
  std::uint8_t id;
};

class DaskinElementary : public ::testing::TestWithParam<ElementaryCase> {};

// An elementary stream is recognised by its first units and delivered whole.
TEST_P(DaskinElementary, RecognisedAndDeliveredWhole) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  const ElementaryCase& c = GetParam();
  TempDir dir;
  const auto file = dir.file(std::string(c.name) + ".es");
  auto args = c.args;
  args.push_back(file.string());
  ASSERT_TRUE(ffmpeg(args));
  Demux d;
  ASSERT_EQ(d.open(file), 0) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
  const file_info_struct f = d.fileInfo();
  EXPECT_EQ(f.system_stream_type, 0);
  EXPECT_EQ(f.programs, 1);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.kind, c.kind);
  EXPECT_EQ(streams[0].info.stream_type, c.code);
  EXPECT_EQ(streams[0].info.stream_id, c.id);
  const Pulled pulled = d.pullStream(0, 0, 4096);
  EXPECT_TRUE(pulled.ended);
  EXPECT_EQ(pulled.bytes, readFile(file));
  for (const auto& chunk : pulled.chunks) EXPECT_EQ(chunk.pts, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DaskinElementary,
    ::testing::Values(
        ElementaryCase{"mpeg1video",
                       join({kVideoIn, {"-t", "1", "-c:v", "mpeg1video", "-f", "mpeg1video"}}),
                       DEMUX_KIND_VIDEO, 1, 0xE0},
        ElementaryCase{"mpeg2video",
                       join({kVideoIn, {"-t", "1", "-c:v", "mpeg2video", "-f", "mpeg2video"}}),
                       DEMUX_KIND_VIDEO, 2, 0xE0},
        ElementaryCase{"h264", join({kVideoIn, {"-t", "1", "-c:v", "libx264", "-f", "h264"}}),
                       DEMUX_KIND_VIDEO, 27, 0xE0},
        ElementaryCase{"mp2_48k", join({audioIn(48000), {"-t", "1", "-c:a", "mp2", "-f", "mp2"}}),
                       DEMUX_KIND_MPEG_AUDIO, 3, 0xC0},
        ElementaryCase{"mp2_24k", join({audioIn(24000), {"-t", "1", "-c:a", "mp2", "-f", "mp2"}}),
                       DEMUX_KIND_MPEG_AUDIO, 4, 0xC0},
        ElementaryCase{"adts", join({audioIn(48000), {"-t", "1", "-c:a", "aac", "-f", "adts"}}),
                       DEMUX_KIND_MPEG_AUDIO, 17, 0xC0},
        ElementaryCase{"ac3", join({audioIn(48000), {"-t", "1", "-c:a", "ac3", "-f", "ac3"}}),
                       DEMUX_KIND_AC3, 0x81, 0xBD}),
    [](const auto& p) { return std::string(p.param.name); });

struct ContainerCase {
  const char* name;
  std::vector<std::string> args;  // output file appended
  int systemType;
  int programs;
};

// What ffprobe says about one stream.
struct ProbedStream {
  int index = 0;
  std::uint32_t id = 0;  // PES stream id, sub-stream id, or PID
  std::string codec;
  bool privateData = false;  // a transport stream's stream_type 0x06
};

// ffprobe's streams but DVD navigation packets, which are no elementary stream.
std::vector<ProbedStream> probeStreams(const std::filesystem::path& file, bool transport) {
  std::vector<ProbedStream> out;
  std::set<int> seen;
  for (const auto& line :
       ffprobeLines({"-show_entries", "stream=index,id,codec_name,codec_tag_string"}, file)) {
    const auto f = splitCsv(line);
    if (f.size() < 4 || f[1] == "dvd_nav_packet") continue;
    ProbedStream s;
    s.index = std::stoi(f[0]);
    if (!seen.insert(s.index).second) continue;
    s.codec = f[1];
    s.privateData = f[2].rfind("[6]", 0) == 0;
    s.id = static_cast<std::uint32_t>(std::stoul(f[3], nullptr, 16));
    // A program stream's ids carry the start code prefix: 0x1e0 for stream id 0xE0.
    if (!transport) s.id &= 0xFF;
    out.push_back(s);
  }
  return out;
}

// The kind a table lists for a stream of this codec. Private data (stream_type 0x06) says
// what it carries only through a registration or AC-3 descriptor.
std::uint32_t expectedKind(const std::string& codec, bool privateData) {
  if (privateData && codec != "ac3" && codec != "s302m") return DEMUX_KIND_NONE;
  if (codec == "mpeg1video" || codec == "mpeg2video" || codec == "h264") return DEMUX_KIND_VIDEO;
  if (codec == "mp2" || codec == "mp3" || codec == "aac") return DEMUX_KIND_MPEG_AUDIO;
  if (codec == "ac3") return DEMUX_KIND_AC3;
  if (codec == "pcm_dvd") return DEMUX_KIND_LPCM;
  if (codec == "s302m") return DEMUX_KIND_AES3;
  if (codec == "dvd_subtitle") return DEMUX_KIND_SUBPICTURE;
  return DEMUX_KIND_NONE;
}

// The raw format ffmpeg copies a stream of this codec into; empty when it has none.
std::string rawFormat(const std::string& codec) {
  if (codec == "mpeg1video" || codec == "mpeg2video" || codec == "h264" || codec == "mp2" ||
      codec == "ac3")
    return codec;
  if (codec == "aac") return "adts";
  // Packets as they are: ffmpeg's packets of these carry no private header either.
  if (codec == "dvd_subtitle" || codec == "pcm_dvd") return "data";
  return {};
}

// ffmpeg's LPCM packets keep the three LPCM header bytes in front of the samples; ours
// carry them as extra bytes 4 to 6 of the chunk that starts the packet.
std::vector<std::uint8_t> withLpcmHeaders(const Pulled& pulled) {
  std::vector<std::uint8_t> out;
  std::size_t at = 0;
  for (const auto& c : pulled.chunks) {
    if (c.extra_count == 7) out.insert(out.end(), c.extra + 4, c.extra + 7);
    out.insert(out.end(), pulled.bytes.begin() + static_cast<long>(at),
               pulled.bytes.begin() + static_cast<long>(at + c.length));
    at += c.length;
  }
  return out;
}

// Our listing entry for ffprobe's stream.
const StreamListing* match(const std::vector<StreamListing>& ours, const ProbedStream& probed,
                           bool transport) {
  for (const auto& s : ours) {
    const std::uint32_t key =
        transport ? s.info.pid
                  : (s.info.sub_stream_id != 0 ? s.info.sub_stream_id : s.info.stream_id);
    if (key == probed.id) return &s;
  }
  return nullptr;
}

class DaskinContainer : public ::testing::TestWithParam<ContainerCase> {};

// Every stream ffprobe lists is listed with its id and kind, and its bytes are what ffmpeg
// copies out of it.
void checkAgainstFfmpeg(const TempDir& dir, const std::filesystem::path& file, int systemType,
                        int programs) {
  Demux d;
  ASSERT_EQ(d.open(file), 0) << (d.messages.errors.empty() ? "" : d.messages.errors[0]);
  const file_info_struct f = d.fileInfo();
  EXPECT_EQ(f.system_stream_type, systemType);
  EXPECT_EQ(f.programs, programs);
  EXPECT_EQ(f.size, std::filesystem::file_size(file));
  const bool transport = systemType == 3;
  const auto ours = d.streams();
  const auto probed = probeStreams(file, transport);
  ASSERT_FALSE(probed.empty());
  EXPECT_EQ(ours.size(), probed.size());
  for (const auto& p : probed) {
    SCOPED_TRACE("stream " + std::to_string(p.index) + " " + p.codec);
    const StreamListing* s = match(ours, p, transport);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->info.kind, expectedKind(p.codec, p.privateData));
    const std::string format = rawFormat(p.codec);
    if (format.empty()) continue;
    const auto ref = dir.file("ref" + std::to_string(p.index));
    ASSERT_TRUE(ffmpeg({"-i", file.string(), "-map", "0:" + std::to_string(p.index), "-c", "copy",
                        "-f", format, ref.string()}));
    const Pulled pulled = d.pullStream(s->program, s->stream);
    EXPECT_TRUE(pulled.ended);
    const auto expected = readFile(ref);
    const auto got = p.codec == "pcm_dvd" ? withLpcmHeaders(pulled) : pulled.bytes;
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
}

TEST_P(DaskinContainer, ListingAndPayloadsAgreeWithFfmpeg) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  const ContainerCase& c = GetParam();
  TempDir dir;
  const auto file = dir.file(std::string(c.name) + ".mpg");
  auto args = c.args;
  args.push_back(file.string());
  ASSERT_TRUE(ffmpeg(args));
  checkAgainstFfmpeg(dir, file, c.systemType, c.programs);
}

const std::vector<std::string> kAvInputs =
    join({kVideoIn, audioIn(48000), audioIn(48000, 660), {"-t", "1"}});

INSTANTIATE_TEST_SUITE_P(
    Containers, DaskinContainer,
    ::testing::Values(
        ContainerCase{"mpeg1_system",
                      join({kVideoIn,
                            audioIn(44100),
                            {"-t", "1", "-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}}),
                      1, 1},
        ContainerCase{"vcd", join({kVideoIn, audioIn(44100), {"-t", "1", "-target", "pal-vcd"}}), 1,
                      1},
        ContainerCase{"svcd", join({kVideoIn, audioIn(44100), {"-t", "1", "-target", "pal-svcd"}}),
                      2, 1},
        ContainerCase{"dvd_two_audio",
                      join({kAvInputs,
                            {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-target", "pal-dvd",
                             "-c:a:1", "mp2", "-b:a:1", "192k"}}),
                      2, 1},
        ContainerCase{"dvd_lpcm",
                      join({kAvInputs,
                            {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-target", "pal-dvd",
                             "-c:a:1", "pcm_dvd"}}),
                      2, 1},
        ContainerCase{"ts",
                      join({kVideoIn,
                            audioIn(48000),
                            {"-t", "1", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts"}}),
                      3, 1},
        ContainerCase{"ts_h264_aac_ac3",
                      join({kAvInputs,
                            {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "libx264",
                             "-c:a:0", "aac", "-c:a:1", "ac3", "-f", "mpegts"}}),
                      3, 1},
        ContainerCase{"m2ts",
                      join({kVideoIn,
                            audioIn(48000),
                            {"-t", "1", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts",
                             "-mpegts_m2ts_mode", "1"}}),
                      3, 1},
        ContainerCase{"ts_two_programs",
                      join({kVideoIn, audioIn(48000), {"-t",       "1",
                                                       "-map",     "0:v",
                                                       "-map",     "1:a",
                                                       "-map",     "0:v",
                                                       "-map",     "1:a",
                                                       "-c:v",     "mpeg2video",
                                                       "-c:a",     "mp2",
                                                       "-program", "program_num=1:st=0:st=1",
                                                       "-program", "program_num=2:st=2:st=3",
                                                       "-f",       "mpegts"}}),
                      3, 2},
        ContainerCase{"ts_302m",
                      join({kVideoIn,
                            audioIn(48000),
                            {"-t", "1", "-c:v", "mpeg2video", "-c:a", "s302m", "-ac", "2",
                             "-strict", "-2", "-f", "mpegts"}}),
                      3, 1}),
    [](const auto& p) { return std::string(p.param.name); });

// A DVD stream with a subpicture stream added by spumux.
TEST(DaskinSubpictures, SpumuxSubpicturesAreListedAndDelivered) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("spumux");
  TempDir dir;
  const auto plain = dir.file("plain.mpg");
  const auto image = dir.file("sub.png");
  const auto xml = dir.file("subs.xml");
  const auto file = dir.file("subs.mpg");
  ASSERT_TRUE(ffmpeg(join({{"-f", "lavfi", "-i", "testsrc=size=720x576:rate=25"},
                           audioIn(48000),
                           {"-t", "1", "-target", "pal-dvd", plain.string()}})));
  ASSERT_TRUE(
      ffmpeg({"-f", "lavfi", "-i", "color=c=black@0.0:s=720x576,format=rgba", "-frames:v", "1",
              "-vf", "drawbox=x=100:y=400:w=200:h=40:color=white@1:t=fill", image.string()}));
  quillion::test::writeFile(
      xml, "<subpictures><stream><spu start=\"00:00:00.20\" end=\"00:00:00.80\" image=\"" +
               image.string() + "\"/></stream></subpictures>");
  // spumux reads the stream on its standard input and writes the result on its output.
  const auto r = quillion::test::runTool({"sh", "-c", "spumux -s 0 \"$1\" < \"$2\" > \"$3\"", "sh",
                                          xml.string(), plain.string(), file.string()});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  bool subpicture = false;
  for (const auto& s : d.streams()) subpicture = subpicture || s.info.kind == DEMUX_KIND_SUBPICTURE;
  EXPECT_TRUE(subpicture);
  checkAgainstFfmpeg(dir, file, 2, 1);
}

// The programs of a transport stream as ffprobe and tsinfo list them: numbers, map PIDs,
// PCR PIDs, and each stream's PID and stream_type.
TEST(DaskinTransportTables, ProgramsAgreeWithFfprobeAndTsinfo) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  QUILLION_REQUIRE_TOOL("tsinfo");
  TempDir dir;
  const auto file = dir.file("two.ts");
  ASSERT_TRUE(ffmpeg(join({kVideoIn, audioIn(48000), {"-t",         "1",
                                                      "-map",       "0:v",
                                                      "-map",       "1:a",
                                                      "-map",       "1:a",
                                                      "-c:v",       "mpeg2video",
                                                      "-c:a:0",     "mp2",
                                                      "-c:a:1",     "ac3",
                                                      "-program",   "program_num=7:st=0:st=1",
                                                      "-program",   "program_num=9:st=2",
                                                      "-f",         "mpegts",
                                                      file.string()}})));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  std::map<std::uint32_t, program_info_struct> ours;
  for (int p = 0; p < d.fileInfo().programs; ++p) {
    program_info_struct info{};
    ASSERT_EQ(mpegDemuxGetProgramInfo(d.ctx(), &info, p), 0);
    ours[info.program_number] = info;
  }
  const auto programs =
      ffprobeLines({"-show_entries", "program=program_num,pmt_pid,pcr_pid"}, file);
  std::size_t listed = 0;
  for (const auto& line : programs) {
    const auto f = splitCsv(line);
    if (f.size() < 3 || f[0].empty()) continue;
    ++listed;
    const auto number = static_cast<std::uint32_t>(std::stoul(f[0]));
    ASSERT_EQ(ours.count(number), 1u) << line;
    EXPECT_EQ(ours[number].pmt_pid, std::stoul(f[1]));
    EXPECT_EQ(ours[number].pcr_pid, std::stoul(f[2]));
  }
  EXPECT_EQ(listed, 2u);
  EXPECT_EQ(ours.size(), 2u);
  // tsinfo reports the first program's map: "PID 0100 ( 256) -> Stream type 02 (  2) ...".
  const std::string report = quillion::test::toolOutput({"tsinfo", file.string()});
  std::set<std::pair<std::uint32_t, std::uint32_t>> theirs;
  std::size_t at = 0;
  while ((at = report.find("PID ", at)) != std::string::npos) {
    const std::size_t arrow = report.find("-> Stream type ", at);
    const std::size_t eol = report.find('\n', at);
    if (arrow != std::string::npos && arrow < eol) {
      const auto pid =
          static_cast<std::uint32_t>(std::stoul(report.substr(at + 4, 4), nullptr, 16));
      const auto type =
          static_cast<std::uint32_t>(std::stoul(report.substr(arrow + 15, 2), nullptr, 16));
      theirs.emplace(pid, type);
    }
    at += 4;
  }
  ASSERT_FALSE(theirs.empty());
  std::set<std::pair<std::uint32_t, std::uint32_t>> first;
  for (const auto& s : d.streams())
    if (s.program == 0) first.emplace(s.info.pid, s.info.stream_type);
  EXPECT_EQ(first, theirs);
}

// Each PID's payload as tstools' ts2es extracts it.
TEST(DaskinTransportTables, PayloadsAgreeWithTs2es) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ts2es");
  TempDir dir;
  const auto file = dir.file("in.ts");
  ASSERT_TRUE(ffmpeg(
      join({kVideoIn,
            audioIn(48000),
            {"-t", "1", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts", file.string()}})));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 2u);
  for (const auto& s : streams) {
    const auto es = dir.file("pid" + std::to_string(s.info.pid));
    const auto r = quillion::test::runTool(
        {"ts2es", "-pid", std::to_string(s.info.pid), file.string(), es.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto expected = readFile(es);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(d.pullStream(s.program, s.stream).bytes == expected) << s.info.pid;
  }
}

// SMPTE 302M audio in a transport stream: each PES payload starts with a 4-byte AES3 header,
// which the first chunk carries as extra bytes with the payload length less 4; with the
// headers put back the bytes are ffmpeg's packets.
TEST(DaskinPrivateStreams, Aes3ChunksCarryTheirHeaderAndLength) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto file = dir.file("aes3.ts");
  const auto ref = dir.file("aes3.raw");
  ASSERT_TRUE(ffmpeg(join({audioIn(48000),
                           {"-t", "0.5", "-c:a", "s302m", "-ac", "2", "-strict", "-2", "-f",
                            "mpegts", file.string()}})));
  ASSERT_TRUE(
      ffmpeg({"-i", file.string(), "-map", "0:a", "-c", "copy", "-f", "data", ref.string()}));
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  const auto streams = d.streams();
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].info.kind, DEMUX_KIND_AES3);
  const Pulled pulled = d.pullStream(0, 0);
  ASSERT_TRUE(pulled.ended);
  std::vector<std::uint64_t> lengths;
  std::vector<std::uint8_t> rebuilt;
  std::size_t at = 0;
  for (const auto& c : pulled.chunks) {
    if (c.extra_count != 0) {
      EXPECT_EQ(c.extra_count, 4);
      EXPECT_EQ(c.flags, 1u);
      lengths.push_back(c.aes3_length);
      rebuilt.insert(rebuilt.end(), c.extra, c.extra + 4);
    }
    rebuilt.insert(rebuilt.end(), pulled.bytes.begin() + static_cast<long>(at),
                   pulled.bytes.begin() + static_cast<long>(at + c.length));
    at += c.length;
  }
  std::vector<std::uint64_t> sizes;
  for (const auto& line : ffprobeLines({"-show_entries", "packet=size"}, file))
    sizes.push_back(std::stoull(splitCsv(line)[0]) - 4);
  EXPECT_EQ(lengths, sizes);
  EXPECT_TRUE(rebuilt == readFile(ref));
}

// DVD private streams: an AC-3 chunk carries its sub-stream id and the three header bytes
// as extra bytes, an LPCM chunk the id and six bytes; the chunk lengths leave them out.
TEST(DaskinPrivateStreams, ChunksCarryTheirPrivateHeaders) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto file = dir.file("dvd.vob");
  ASSERT_TRUE(ffmpeg(join({kAvInputs,
                           {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-target", "pal-dvd",
                            "-c:a:1", "pcm_dvd", file.string()}})));
  const auto bytes = readFile(file);
  Demux d;
  ASSERT_EQ(d.open(file), 0);
  int checked = 0;
  for (const auto& s : d.streams()) {
    if (s.info.stream_id != 0xBD) continue;
    const bool lpcm = s.info.kind == DEMUX_KIND_LPCM;
    SCOPED_TRACE(lpcm ? "lpcm" : "ac3");
    EXPECT_EQ(s.info.sub_stream_id, lpcm ? 0xA0 : 0x80);
    const Pulled pulled = d.pullStream(s.program, s.stream);
    ASSERT_TRUE(pulled.ended);
    int starts = 0;
    for (const auto& c : pulled.chunks) {
      if (c.extra_count == 0) continue;
      ++starts;
      EXPECT_EQ(c.extra_count, lpcm ? 7 : 4);
      EXPECT_EQ(c.flags, lpcm ? 3u : 1u);
      EXPECT_EQ(c.extra[0], s.info.sub_stream_id);
      // The extra bytes are the ones right in front of the chunk's data in the file.
      const std::size_t header = c.extra_count;
      ASSERT_GE(c.data_position, header);
      EXPECT_TRUE(std::equal(c.extra, c.extra + header,
                             bytes.begin() + static_cast<long>(c.data_position - header)));
    }
    EXPECT_GT(starts, 0);
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

}  // namespace
