// SPDX-License-Identifier: GPL-2.0-or-later
// The index data the multiplexer hands its output beside the stream, read back by a reader
// written here from the published layouts: the "VINF" and "AINF" headers, an aau_info record
// per audio frame, the extended records a caller can ask for, and the entry points of a
// Video CD.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

const std::vector<std::string> kIndexVideo = {
    "-f",   "lavfi",      "-i",   "testsrc=size=480x576:rate=25:duration=1.2",
    "-c:v", "mpeg2video", "-b:v", "2000k",
    "-bf",  "2",          "-g",   "12",
    "-f",   "mpeg2video"};
const std::vector<std::string> kIndexVcdVideo = {
    "-f",   "lavfi",      "-i",   "testsrc=size=352x288:rate=25:duration=2",
    "-c:v", "mpeg1video", "-b:v", "1150k",
    "-bf",  "2",          "-g",   "12",
    "-f",   "mpeg1video"};
const std::vector<std::string> kIndexAudio = {
    "-f",   "lavfi", "-i", "sine=f=997:sample_rate=44100:d=1.2", "-c:a", "mp2", "-b:a",
    "224k", "-f",    "mp2"};

std::uint32_t u32At(const std::vector<std::uint8_t>& d, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, d.data() + at, 4);
  return v;
}

std::uint64_t u64At(const std::vector<std::uint8_t>& d, std::size_t at) {
  std::uint64_t v;
  std::memcpy(&v, d.data() + at, 8);
  return v;
}

std::vector<const MemoryOutput::Notice*> noticesOf(const MemoryOutput& out, std::uint32_t code) {
  std::vector<const MemoryOutput::Notice*> found;
  for (const MemoryOutput::Notice& n : out.notices)
    if (n.code == code) found.push_back(&n);
  return found;
}

std::size_t firstIndexOf(const MemoryOutput& out, std::uint32_t code) {
  for (std::size_t i = 0; i < out.notices.size(); ++i)
    if (out.notices[i].code == code) return i;
  return out.notices.size();
}

// What the extended records point at, copied while the notice is handled.
struct StartBytes {
  std::uint32_t code;
  std::vector<std::uint8_t> bytes;
};

TEST(CorvelIndexHeaders, HeadersAudioRecordsAndExtendedRecords) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const auto video = makeEs(dir, "v.m2v", kIndexVideo);
  const auto audio = makeEs(dir, "a.mp2", kIndexAudio);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 2);
  mux_output_info info{};
  info.flags = 0x02;  // extended records asked for
  MemoryOutput out;
  std::vector<StartBytes> starts;
  out.onNotice = [&starts](std::uint32_t code, const std::uint8_t* d, std::uint32_t size) {
    if (size != 64 || code < 0xF0810 || code > 0xF0813) return;
    std::uint32_t length;
    const std::uint8_t* at;
    std::memcpy(&length, d + 28, 4);
    std::memcpy(&at, d + 32, sizeof at);
    starts.push_back(
        {code, at ? std::vector<std::uint8_t>(at, at + length) : std::vector<std::uint8_t>{}});
  };
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, &info, out.stream()), 0);
  stream_settings v{};
  v.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 2000000), 0);
  stream_settings a{};
  a.kind = STREAM_KIND_AUDIO;
  a.pid = 0x1234;  // carried into the header as given
  ASSERT_EQ(mpegOutMuxAddFile(mux, &a, audio.c_str(), 0), 0);
  ASSERT_EQ(mpegOutMux(mux), 0);
  ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);

  // The headers come first, once each, each followed by its extended record.
  const auto vinf = noticesOf(out, 0xF0100);
  const auto ainf = noticesOf(out, 0xF0400);
  ASSERT_EQ(vinf.size(), 1u);
  ASSERT_EQ(ainf.size(), 1u);
  EXPECT_EQ(firstIndexOf(out, 0xF0100), 0u);
  EXPECT_EQ(firstIndexOf(out, 0xF0810), 1u);
  EXPECT_EQ(firstIndexOf(out, 0xF0400), 2u);
  EXPECT_EQ(firstIndexOf(out, 0xF0812), 3u);
  EXPECT_LT(firstIndexOf(out, 0xF0812), firstIndexOf(out, 0xF0200));

  const std::vector<std::uint8_t> videoEs = readFile(video);
  const std::vector<std::uint8_t>& vh = vinf[0]->data;
  ASSERT_EQ(vh.size(), 254u);
  EXPECT_EQ(std::string(vh.begin(), vh.begin() + 4), "VINF");
  EXPECT_EQ(u32At(vh, 4), 254u);
  EXPECT_EQ(u32At(vh, 8), 2u);  // program stream
  EXPECT_EQ(u32At(vh, 12), 0xE0u);
  EXPECT_EQ(u32At(vh, 16), 0u);
  EXPECT_EQ(u32At(vh, 20), 0u);  // shown at the coded rate
  const std::uint32_t sequenceLength = u32At(vh, 100);
  ASSERT_GT(sequenceLength, 12u);
  ASSERT_LE(sequenceLength, 150u);
  EXPECT_TRUE(std::equal(vh.begin() + 104, vh.begin() + 104 + sequenceLength, videoEs.begin()));
  EXPECT_TRUE(
      std::all_of(vh.begin() + 24, vh.begin() + 100, [](std::uint8_t b) { return b == 0; }));

  const std::vector<std::uint8_t> audioEs = readFile(audio);
  const std::vector<std::uint8_t>& ah = ainf[0]->data;
  ASSERT_EQ(ah.size(), 208u);
  EXPECT_EQ(std::string(ah.begin(), ah.begin() + 4), "AINF");
  EXPECT_EQ(u32At(ah, 4), 208u);
  EXPECT_EQ(u32At(ah, 8), 2u);
  EXPECT_EQ(u32At(ah, 12), 0xC0u);
  EXPECT_EQ(u32At(ah, 16), 0u);
  EXPECT_EQ(u32At(ah, 20), 0x1234u);
  EXPECT_EQ(u32At(ah, 24), 2u);  // layer II
  ASSERT_EQ(u32At(ah, 108), 84u);
  EXPECT_TRUE(std::equal(ah.begin() + 112, ah.begin() + 196, audioEs.begin()));
  EXPECT_EQ(u32At(ah, 196), 0u);

  // One aau_info per audio frame, in order, at the pack that carries the frame's start.
  const std::size_t frames = probePackets(audio).size();
  const auto aau = noticesOf(out, 0xF0800);
  ASSERT_EQ(aau.size(), frames);
  const double frameTicks = 1152.0 / 44100.0 * 27000000.0;
  std::uint64_t lastPosition = 0;
  std::uint32_t lastIndex = 0;
  for (std::size_t i = 0; i < aau.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<std::uint8_t>& d = aau[i]->data;
    ASSERT_EQ(d.size(), 20u);
    const std::uint64_t position = u64At(d, 0);
    const std::uint32_t index = u32At(d, 8);
    const std::uint64_t time = u64At(d, 12);
    EXPECT_EQ(position % 2048, 0u);
    ASSERT_LT(position + 2048, out.bytes.size() + 1);
    // The pack holds an audio packet.
    EXPECT_EQ(out.bytes[position + 17], 0xC0);
    EXPECT_EQ(index, position == lastPosition && i > 0 ? lastIndex + 1 : 1u);
    if (i > 0) {
      const double step = static_cast<double>(time - u64At(aau[i - 1]->data, 12));
      EXPECT_NEAR(step, frameTicks, 1.0);
    }
    lastPosition = position;
    lastIndex = index;
  }

  // Extended records: one per picture and per audio frame, time and size first.
  const auto vau = noticesOf(out, 0xF0200);
  const auto videoUnits = noticesOf(out, 0xF0811);
  const auto audioUnits = noticesOf(out, 0xF0813);
  ASSERT_EQ(videoUnits.size(), vau.size());
  ASSERT_EQ(audioUnits.size(), frames);
  std::vector<std::uint64_t> vauTimes, extTimes;
  for (const auto* n : vau) vauTimes.push_back(u64At(n->data, 24));
  for (const auto* n : videoUnits) {
    ASSERT_EQ(n->data.size(), 64u);
    extTimes.push_back(u64At(n->data, 0));
    EXPECT_GT(u32At(n->data, 8), 0u);
    const std::uint32_t type = u32At(n->data, 12) & 0xFFFF;
    EXPECT_TRUE(type >= 1 && type <= 3);
  }
  std::sort(vauTimes.begin(), vauTimes.end());
  std::sort(extTimes.begin(), extTimes.end());
  EXPECT_EQ(extTimes, vauTimes);
  for (std::size_t i = 0; i < audioUnits.size(); ++i) {
    EXPECT_EQ(u64At(audioUnits[i]->data, 0), u64At(aau[i]->data, 12));
    const std::uint32_t size = u32At(audioUnits[i]->data, 8);
    EXPECT_TRUE(size == 731u || size == 732u) << size;  // with and without the padding byte
  }
  // The bytes they point at open a picture (or the headers before one) and an audio frame.
  const std::uint8_t startCode[3] = {0, 0, 1};
  for (const StartBytes& s : starts) {
    SCOPED_TRACE(s.code);
    // A unit may begin in the last bytes of a packet: only those are there.
    ASSERT_GE(s.bytes.size(), 1u);
    if (s.code == 0xF0811 || s.code == 0xF0810) {
      const std::size_t n = std::min<std::size_t>(3, s.bytes.size());
      EXPECT_TRUE(std::equal(startCode, startCode + n, s.bytes.begin()));
      if (s.bytes.size() >= 4) {
        EXPECT_TRUE(s.bytes[3] == 0x00 || s.bytes[3] == 0xB3 || s.bytes[3] == 0xB8);
      }
    } else {
      EXPECT_EQ(s.bytes[0], 0xFF);
      if (s.bytes.size() >= 2) {
        EXPECT_EQ(s.bytes[1] & 0xF0, 0xF0);
      }
    }
  }
}

// Every I picture of a Video CD is an entry point: the notice names its pack and how many
// pictures passed since the last one.
TEST(CorvelIndexHeaders, VideoCdEntryPoints) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const auto video = makeEs(dir, "v.m1v", kIndexVcdVideo);
  mpeg_m_settings settings{};
  mpegOutMuxDefaults(&settings, 1);
  MemoryOutput out;
  mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &settings);
  ASSERT_NE(mux, nullptr);
  ASSERT_EQ(mpegOutMuxInitFileBS(mux, nullptr, out.stream()), 0);
  stream_settings v{};
  v.kind = STREAM_KIND_VIDEO;
  ASSERT_EQ(mpegOutMuxAddFile(mux, &v, video.c_str(), 1150000), 0);
  ASSERT_EQ(mpegOutMux(mux), 0);
  ASSERT_EQ(mpegOutMuxDone(mux, 0), 0);
  mpegOutMuxFree(mux);

  // No extended records unless asked for; a Video CD header says MPEG-1.
  EXPECT_TRUE(noticesOf(out, 0xF0811).empty());
  EXPECT_TRUE(noticesOf(out, 0xF0810).empty());
  const auto vinf = noticesOf(out, 0xF0100);
  ASSERT_EQ(vinf.size(), 1u);
  EXPECT_EQ(u32At(vinf[0]->data, 8), 1u);
  EXPECT_TRUE(noticesOf(out, 0xF0400).empty());

  // The I pictures of the output by their number in coding order.
  std::vector<std::uint32_t> intraNumbers;
  const std::uint8_t pictureCode[4] = {0, 0, 1, 0};
  std::uint32_t number = 0;
  for (auto it = out.bytes.begin();
       (it = std::search(it, out.bytes.end(), pictureCode, pictureCode + 4)) != out.bytes.end();
       ++it, ++number)
    if (((it[5] >> 3) & 7) == 1) intraNumbers.push_back(number);
  ASSERT_EQ(intraNumbers.size(), 5u);  // 50 pictures in groups of 12

  const auto entries = noticesOf(out, 0xE0002);
  ASSERT_EQ(entries.size(), intraNumbers.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<std::uint8_t>& d = entries[i]->data;
    ASSERT_EQ(d.size(), 16u);
    const std::uint32_t pack = u32At(d, 0);
    EXPECT_EQ(u32At(d, 4), i == 0 ? 0u : intraNumbers[i] - intraNumbers[i - 1]);
    EXPECT_EQ(u32At(d, 8), 0u);
    EXPECT_EQ(u32At(d, 12), intraNumbers[i]);
    // The named sector holds the start of an I picture.
    ASSERT_LE((pack + 1) * 2324u, out.bytes.size());
    const auto sector = out.bytes.begin() + static_cast<std::ptrdiff_t>(pack * 2324u);
    bool found = false;
    const std::uint8_t code[4] = {0, 0, 1, 0};
    for (auto it = sector; (it = std::search(it, sector + 2324, code, code + 4)) != sector + 2324;
         ++it)
      if (it + 6 <= sector + 2324 && ((it[5] >> 3) & 7) == 1) found = true;
    EXPECT_TRUE(found);
  }
}

}  // namespace
}  // namespace quillion::test::corvel
