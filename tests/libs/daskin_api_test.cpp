// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin's exports: checks, results and messages, parser slots, and the binding of the
// caller's byte streams (pulled or copied), including what the library gives back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daskin_harness.h"

namespace {

using quillion::test::readFile;
using quillion::test::TempDir;
using namespace quillion::test::daskin;

// A small transport stream with video (PID 0x100) and audio (0x101), made once.
class DaskinApi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    ts_ = dir_->file("in.ts");
    ps_ = dir_->file("in.mpg");
    if (!quillion::test::toolAvailable("ffmpeg")) return;
    const std::vector<std::string> in = {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25",
                                         "-f", "lavfi", "-i", "sine=r=48000",
                                         "-t", "1"};
    auto ts = in;
    ts.insert(ts.end(), {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts", ts_.string()});
    ffmpeg(ts);
    auto ps = in;
    ps.insert(ps.end(), {"-target", "pal-dvd", ps_.string()});
    ffmpeg(ps);
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { QUILLION_REQUIRE_TOOL("ffmpeg"); }

  static TempDir* dir_;
  static std::filesystem::path ts_;
  static std::filesystem::path ps_;
};
TempDir* DaskinApi::dir_ = nullptr;
std::filesystem::path DaskinApi::ts_;
std::filesystem::path DaskinApi::ps_;

TEST(DaskinContext, NullServicesUseTheSystemAllocatorAndStaySilent) {
  const demux_settings s{};
  demux_context* ctx = mpegDemuxNew(nullptr, nullptr, &s);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(mpegDemuxOpen(ctx, 0, ""), 1);
  mpegDemuxFree(ctx);
}

TEST(DaskinContext, NullSettingsAreRefused) {
  Messages m;
  EXPECT_EQ(mpegDemuxNew(servicesOf, &m, nullptr), nullptr);
  EXPECT_EQ(m.errors, std::vector<std::string>{"Invalid settings parameter"});
  EXPECT_EQ(m.allocations, m.releases);
}

TEST(DaskinContext, NamesAreCheckedBeforeAnythingIsOpened) {
  TempDir dir;
  // A name of 1,023 characters is accepted, 1,024 are refused.
  std::filesystem::path longest = dir.path();
  while (longest.string().size() + 201 < 1023) longest /= std::string(200, 'd');
  std::filesystem::create_directories(longest);
  const std::string base = longest.string() + "/";
  const std::string accepted = base + std::string(1023 - base.size(), 'f');
  ASSERT_EQ(accepted.size(), 1023u);
  quillion::test::writeFile(accepted, std::string(4000, '\x5a'));
  struct Case {
    const char* label;
    const char* name;
    int result;
    const char* message;
  };
  const std::string refused = accepted + "g";
  const Case cases[] = {
      {"null", nullptr, 1, "Invalid filename parameter"},
      {"empty", "", 1, "Invalid filename parameter"},
      {"1024 characters", refused.c_str(), 1, "Unable to handle filename length"},
      {"1023 characters", accepted.c_str(), 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Demux d;
    EXPECT_EQ(mpegDemuxOpen(d.ctx(), 0, c.name), c.result);
    if (c.message)
      EXPECT_EQ(d.messages.errors, std::vector<std::string>{c.message});
    else
      EXPECT_TRUE(d.messages.errors.empty());
  }
}

TEST_F(DaskinApi, QueriesAndParsersNeedAnOpenFile) {
  Demux d;
  file_info_struct f{};
  program_info_struct p{};
  stream_info_struct s{};
  demux_parser_settings ps{};
  EXPECT_EQ(mpegDemuxGetFileInfo(d.ctx(), &f), 1);
  EXPECT_EQ(mpegDemuxGetProgramInfo(d.ctx(), &p, 0), 1);
  EXPECT_EQ(mpegDemuxGetStreamInfo(d.ctx(), &s, 0, 0), 1);
  EXPECT_EQ(mpegDemuxNewParser(d.ctx(), &ps), 0);
  EXPECT_EQ(mpegDemuxSeek(d.ctx(), 1, 0, 0), 1);
  mpegDemuxFreeParser(d.ctx(), 1);  // nothing happens before an open
  EXPECT_EQ(d.messages.errors, std::vector<std::string>(5, "A file is not open"));
  EXPECT_EQ(mpegDemuxOpenW(d.ctx(), 0, L"x"), 1);
  EXPECT_EQ(d.messages.errors.back(), "Function not yet implemented");
}

TEST_F(DaskinApi, RecordsAndNumbersOutOfRangeAreRefused) {
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  ASSERT_EQ(d.open(ts_), 1);
  program_info_struct p{};
  stream_info_struct s{};
  struct Case {
    const char* label;
    int result;
    const char* message;
  };
  const Case cases[] = {
      {"second open", 1, "A file is already open"},
      {"null file info", mpegDemuxGetFileInfo(d.ctx(), nullptr),
       "Invalid file_info_struct paramater"},
      {"null program info", mpegDemuxGetProgramInfo(d.ctx(), nullptr, 0),
       "Invalid program_info_struct paramater"},
      {"program -1", mpegDemuxGetProgramInfo(d.ctx(), &p, -1),
       "Invalid program number -1, range is 0 .. 1"},
      {"program 1", mpegDemuxGetProgramInfo(d.ctx(), &p, 1),
       "Invalid program number 1, range is 0 .. 1"},
      {"null stream info", mpegDemuxGetStreamInfo(d.ctx(), nullptr, 0, 0),
       "Invalid stream_info_struct paramater"},
      {"stream 2", mpegDemuxGetStreamInfo(d.ctx(), &s, 0, 2),
       "Invalid stream number 2, range is 0 .. 2"},
      {"null parser settings", mpegDemuxNewParser(d.ctx(), nullptr),
       "Invalid demux_parser_settings parameter"},
      {"parser 0 seek", mpegDemuxSeek(d.ctx(), 0, 0, 0), "Invalid parser number"},
      {"null stream settings", mpegDemuxAddStream(d.ctx(), 1, nullptr),
       "Invalid demux_stream_settings parameter"},
  };
  ASSERT_EQ(d.messages.errors.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].label);
    EXPECT_EQ(cases[i].result, i == 7 ? 0 : 1);
    EXPECT_EQ(d.messages.errors[i], cases[i].message);
  }
}

TEST_F(DaskinApi, SixtyFourParsersAndSlotsAreReused) {
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const demux_parser_settings ps{};
  for (int i = 1; i <= 64; ++i) ASSERT_EQ(mpegDemuxNewParser(d.ctx(), &ps), i);
  EXPECT_EQ(mpegDemuxNewParser(d.ctx(), &ps), 0);
  EXPECT_EQ(d.messages.errors.back(), "The maximum (64) number or parsers have been created");
  mpegDemuxFreeParser(d.ctx(), 2);
  EXPECT_EQ(mpegDemuxNewParser(d.ctx(), &ps), 2);
  const std::size_t before = d.messages.errors.size();
  mpegDemuxFreeParser(d.ctx(), 0);
  mpegDemuxFreeParser(d.ctx(), 65);
  ASSERT_EQ(d.messages.errors.size(), before + 2);
  EXPECT_EQ(d.messages.errors.back(), "Invalid parser number");
}

TEST_F(DaskinApi, CloseThenOpenGivesAFreshListingAndFreeReleasesEverything) {
  Messages m;
  const demux_settings settings{};
  demux_context* ctx = mpegDemuxNew(servicesOf, &m, &settings);
  ASSERT_NE(ctx, nullptr);
  file_info_struct f{};
  ASSERT_EQ(mpegDemuxOpen(ctx, 0, ts_.c_str()), 0);
  ASSERT_EQ(mpegDemuxGetFileInfo(ctx, &f), 0);
  EXPECT_EQ(f.system_stream_type, 3);
  const demux_parser_settings ps{};
  EXPECT_EQ(mpegDemuxNewParser(ctx, &ps), 1);
  mpegDemuxClose(ctx);
  ASSERT_EQ(mpegDemuxOpen(ctx, 0, ps_.c_str()), 0);
  ASSERT_EQ(mpegDemuxGetFileInfo(ctx, &f), 0);
  EXPECT_EQ(f.system_stream_type, 2);
  EXPECT_EQ(f.size, std::filesystem::file_size(ps_));
  EXPECT_EQ(mpegDemuxNewParser(ctx, &ps), 1);
  EXPECT_EQ(mpegDemuxNewParser(ctx, &ps), 2);
  EXPECT_GT(m.allocations, 0);
  // Freeing an open context with parsers gives every block back through the services.
  mpegDemuxFree(ctx);
  EXPECT_EQ(m.allocations, m.releases);
  EXPECT_TRUE(m.errors.empty());
}

TEST_F(DaskinApi, SeekAcceptsTheLastByteAndRefusesTheSize) {
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const demux_parser_settings ps{};
  ASSERT_EQ(mpegDemuxNewParser(d.ctx(), &ps), 1);
  const auto size = static_cast<std::uint32_t>(std::filesystem::file_size(ts_));
  EXPECT_EQ(mpegDemuxSeek(d.ctx(), 1, size - 1, 0), 0);
  EXPECT_EQ(mpegDemuxSeek(d.ctx(), 1, size, 0), 1);
  EXPECT_EQ(d.messages.errors.back(), "Invalid file position");
  EXPECT_EQ(mpegDemuxSeek(d.ctx(), 1, 0, 1), 1);
}

TEST_F(DaskinApi, PullTakesOverTheSlotAndAWrongRecordSizeConsumesNothing) {
  // Declared before the demuxer: freeing it hands the pulled stream's record back.
  TestStream pulled;
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const int parser = d.bind(0, 0, pulled);
  ASSERT_NE(parser, 0);
  EXPECT_NE(pulled.bs.auxinfo, &TestStream::ownAuxinfo);
  std::uint8_t big[sizeof(demux_chunk_info) + 2] = {};
  EXPECT_EQ(pulled.bs.auxinfo(&pulled.bs, 0, DEMUX_CHUNK_INFO_ID, big, sizeof big), -1);
  EXPECT_EQ(pulled.bs.auxinfo(&pulled.bs, 0, 0xF0010, big, sizeof(demux_chunk_info)), -1);
  const Pulled all = pullAll(pulled);
  ASSERT_TRUE(all.ended);
  ASSERT_FALSE(all.chunks.empty());
  // Nothing was consumed by the refused pulls: the first chunk is the first PES's.
  EXPECT_NE(all.chunks.front().pts, -1);
  // After the end, every pull answers the end record and nothing else.
  for (int i = 0; i < 3; ++i) {
    demux_chunk_info c{};
    std::memset(&c, 0xEE, sizeof c);
    ASSERT_EQ(pulled.pull(c), 0);
    demux_chunk_info endRecord{};
    endRecord.end = 1;
    EXPECT_EQ(std::memcmp(&c, &endRecord, sizeof c), 0);
  }
}

TEST_F(DaskinApi, CopyModeDeliversTheSameBytesAsPullMode) {
  // Streams outlive the demuxer, which hands their records back when freed.
  TestStream copied(4096);
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const Pulled pulled = d.pullStream(0, 1);
  const int parser = d.bind(0, 1, copied);
  ASSERT_NE(parser, 0);
  EXPECT_EQ(copied.bs.auxinfo, &TestStream::ownAuxinfo);  // the caller's functions stay
  int steps = 0;
  std::int32_t r = 0;
  while ((r = mpegDemuxPush(d.ctx(), parser)) >= 0 && ++steps < 100000) {
  }
  EXPECT_EQ(r, DEMUX_PUSH_END);
  EXPECT_EQ(mpegDemuxPush(d.ctx(), parser), DEMUX_PUSH_END);
  EXPECT_EQ(copied.bytes, pulled.bytes);
  ASSERT_EQ(copied.chunks.size(), pulled.chunks.size());
  for (std::size_t i = 0; i < copied.chunks.size(); ++i) {
    EXPECT_EQ(copied.chunks[i].data, nullptr);
    EXPECT_EQ(copied.chunks[i].pts, pulled.chunks[i].pts);
    EXPECT_EQ(copied.chunks[i].data_position, pulled.chunks[i].data_position);
  }
}

// One parser delivering two transport streams in copy mode: packets of the two PIDs often
// carry the same continuity counter one after the other, and none may be taken for a repeat.
TEST_F(DaskinApi, TwoStreamsOnOneParserEachGetEveryPacket) {
  // Streams outlive the demuxer, which hands their records back when freed.
  TestStream v(4096), a(4096);
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const Pulled video = d.pullStream(0, 0);
  const Pulled audio = d.pullStream(0, 1);
  const demux_parser_settings ps{};
  const int parser = mpegDemuxNewParser(d.ctx(), &ps);
  demux_stream_settings ss{};
  ss.output = &v.bs;
  ASSERT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 0);
  ss.stream = 1;
  ss.output = &a.bs;
  ASSERT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 0);
  while (mpegDemuxPush(d.ctx(), parser) >= 0) {
  }
  EXPECT_EQ(v.bytes, video.bytes);
  EXPECT_EQ(a.bytes, audio.bytes);
}

TEST_F(DaskinApi, UnbindFreeAndCloseGiveTheSlotBack) {
  enum class End { Remove, FreeParser, Close };
  for (const End end : {End::Remove, End::FreeParser, End::Close}) {
    SCOPED_TRACE(static_cast<int>(end));
    // Streams outlive the demuxer, which hands their records back when freed.
    TestStream s;
    Demux d;
    ASSERT_EQ(d.open(ts_), 0);
    int word = 0;
    s.bs.drive_chain = &word;
    const int parser = d.bind(0, 0, s);
    ASSERT_NE(parser, 0);
    demux_chunk_info c{};
    ASSERT_EQ(s.pull(c), 0);
    demux_stream_settings ss{};
    ss.output = &s.bs;
    if (end == End::Remove) {
      ASSERT_EQ(mpegDemuxRemoveStream(d.ctx(), parser, &ss), 0);
    }
    if (end == End::FreeParser) mpegDemuxFreeParser(d.ctx(), parser);
    if (end == End::Close) mpegDemuxClose(d.ctx());
    EXPECT_EQ(s.bs.auxinfo, &TestStream::ownAuxinfo);
    EXPECT_EQ(s.bs.drive_chain, &word);
    // A later call reaches the stream's own function, not a freed parser.
    EXPECT_EQ(s.pull(c), 0);
    EXPECT_EQ(s.foreignCalls, 0);
    EXPECT_EQ(s.chunks.size(), 1u);
  }
}

TEST_F(DaskinApi, RemovingAndBindingAgainRestoresDelivery) {
  TestStream s;  // outlives the demuxer, which hands its record back when freed
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const Pulled whole = d.pullStream(0, 1);
  const int parser = d.bind(0, 1, s);
  demux_stream_settings ss{};
  ss.stream = 1;
  ss.output = &s.bs;
  ASSERT_EQ(mpegDemuxRemoveStream(d.ctx(), parser, &ss), 0);
  ASSERT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 0);
  ASSERT_EQ(mpegDemuxSeek(d.ctx(), parser, 0, 0), 0);
  EXPECT_EQ(pullAll(s).bytes, whole.bytes);
}

TEST_F(DaskinApi, ASecondPulledStreamOnAParserIsRefused) {
  TestStream first, second;  // outlive the demuxer, which hands their records back when freed
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const Pulled alone = d.pullStream(0, 0);
  const int parser = d.bind(0, 0, first);
  ASSERT_NE(parser, 0);
  demux_stream_settings ss{};
  ss.stream = 1;
  ss.output = &second.bs;
  EXPECT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 1);
  EXPECT_EQ(d.messages.errors.back(), "A parser can deliver only one pulled stream");
  EXPECT_EQ(second.bs.auxinfo, &TestStream::ownAuxinfo);
  // The first stream's pulls carry only its own data.
  EXPECT_EQ(pullAll(first).bytes, alone.bytes);
}

TEST_F(DaskinApi, ANullOutputLeavesNothingBound) {
  // Streams outlive the demuxer, which hands their records back when freed.
  TestStream copied(4096);
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const int owner = d.bind(0, 0, copied);
  ASSERT_NE(owner, 0);
  const demux_parser_settings ps{};
  const int other = mpegDemuxNewParser(d.ctx(), &ps);
  demux_stream_settings ss{};
  EXPECT_EQ(mpegDemuxAddStream(d.ctx(), other, &ss), 1);
  EXPECT_EQ(d.messages.errors.back(), "Invalid output bufstream field");
  // Had the refused binding left its routing, the other parser would feed the stream's
  // byte stream too.
  while (mpegDemuxPush(d.ctx(), other) >= 0) {
  }
  EXPECT_TRUE(copied.bytes.empty());
  EXPECT_TRUE(copied.chunks.empty());
}

TEST_F(DaskinApi, BindingChecksItsNumbers) {
  // Streams outlive the demuxer, which hands their records back when freed.
  TestStream s;
  Demux d;
  ASSERT_EQ(d.open(ts_), 0);
  const demux_parser_settings ps{};
  const int parser = mpegDemuxNewParser(d.ctx(), &ps);
  demux_stream_settings ss{};
  ss.output = &s.bs;
  ss.program = 1;
  EXPECT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 1);
  EXPECT_EQ(d.messages.errors.back(), "Invalid program number, range is 0 .. 1");
  ss.program = 0;
  ss.stream = 2;
  EXPECT_EQ(mpegDemuxRemoveStream(d.ctx(), parser, &ss), 1);
  EXPECT_EQ(d.messages.errors.back(), "Invalid stream number, range is 0 .. 2");
  EXPECT_EQ(s.bs.auxinfo, &TestStream::ownAuxinfo);
}

// Navigation copies handed to a parser's callbacks.
struct NavCopies {
  std::vector<std::vector<std::uint8_t>> pci;
  std::vector<std::vector<std::uint8_t>> dsi;
};
void keepPci(void* c, const std::uint8_t* copy, std::int32_t n) {
  static_cast<NavCopies*>(c)->pci.emplace_back(copy, copy + n);
}
void keepDsi(void* c, const std::uint8_t* copy, std::int32_t n) {
  static_cast<NavCopies*>(c)->dsi.emplace_back(copy, copy + n);
}

// A DVD video object file (told by its name, in any case) hands each navigation packet's
// presentation control copy (60 bytes) and data search copy (546 bytes) to the parser's
// callbacks while a stream is read; another name hands nothing.
TEST_F(DaskinApi, NavigationPacketsOfAVobReachTheCallbacks) {
  const auto bytes = readFile(ps_);
  // The packets as the file holds them: private stream 2, length 980 or 1,018, sub-stream
  // 0 or 1, the copy right behind the sub-stream byte.
  NavCopies expected;
  for (std::size_t i = 0; i + 7 + 546 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || bytes[i + 3] != 0xBF) continue;
    const std::uint32_t length = static_cast<std::uint32_t>(bytes[i + 4] << 8 | bytes[i + 5]);
    if (bytes[i + 6] == 0 && length == 980)
      expected.pci.emplace_back(bytes.begin() + static_cast<long>(i + 7),
                                bytes.begin() + static_cast<long>(i + 67));
    if (bytes[i + 6] == 1 && length == 1018)
      expected.dsi.emplace_back(bytes.begin() + static_cast<long>(i + 7),
                                bytes.begin() + static_cast<long>(i + 553));
  }
  ASSERT_FALSE(expected.pci.empty());
  ASSERT_FALSE(expected.dsi.empty());
  const auto vob = dir_->file("in.VOB");
  std::filesystem::copy_file(ps_, vob, std::filesystem::copy_options::overwrite_existing);
  for (const auto& name : {vob, ps_}) {
    SCOPED_TRACE(name.string());
    // Streams outlive the demuxer, which hands their records back when freed.
    TestStream s;
    Demux d;
    ASSERT_EQ(d.open(name), 0);
    NavCopies got;
    demux_parser_settings ps{};
    ps.pci_callback = keepPci;
    ps.dsi_callback = keepDsi;
    ps.callback_context = &got;
    const int parser = mpegDemuxNewParser(d.ctx(), &ps);
    demux_stream_settings ss{};
    ss.output = &s.bs;
    ASSERT_EQ(mpegDemuxAddStream(d.ctx(), parser, &ss), 0);
    ASSERT_EQ(mpegDemuxSeek(d.ctx(), parser, 0, 0), 0);
    EXPECT_TRUE(pullAll(s).ended);
    if (name == vob) {
      EXPECT_EQ(got.pci, expected.pci);
      EXPECT_EQ(got.dsi, expected.dsi);
    } else {
      EXPECT_TRUE(got.pci.empty());
      EXPECT_TRUE(got.dsi.empty());
    }
  }
}

}  // namespace
