// SPDX-License-Identifier: GPL-2.0-or-later
// The video decoder plug-ins, each loaded alone by name: every picture equals ffmpeg's
// decoding of the same stream byte for byte, whatever the chunk sizes the stream arrives in;
// MPEG pictures leave in coded order unless the caller supplies the frame buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "decoder_plugin_harness.h"
#include "tests/support/test_support.h"

namespace quillion::decoder::test {
namespace {

using brindle::Framework;

struct VideoCase {
  const char* name;
  Framework framework;
  std::uint32_t function;  // index in the framework's bound names
  const char* stream;
  std::uint32_t width;
  std::uint32_t height;
  bool displayOrder;  // the caller supplies the frame buffer
  std::vector<std::size_t> chunks;
  std::uint32_t fourcc = MPEG_IN_FOURCC_I420;
  const char* pixelFormat = "yuv420p";  // ffmpeg's name of the same layout
};

void PrintTo(const VideoCase& c, std::ostream* os) {
  *os << c.name;
}

class VideoPlugin : public ::testing::TestWithParam<VideoCase> {
 protected:
  void SetUp() override {
    QUILLION_REQUIRE_TOOL("ffmpeg");
    useFrameworkFolder(PLUGIN_FOLDER);
  }
};

TEST_P(VideoPlugin, PicturesEqualFfmpegs) {
  const VideoCase& c = GetParam();
  const Bytes stream = quillion::test::readFile(fixture(c.stream));
  const Bytes& reference = referencePictures(c.stream, c.pixelFormat);
  ASSERT_FALSE(stream.empty());
  ASSERT_FALSE(reference.empty());
  LoadedFramework framework(c.framework);
  ASSERT_EQ(framework.loadResult(), 0);
  Decoder decoder(openVideoDecoder(framework.function(c.function)));
  ASSERT_NE(decoder.get(), nullptr);
  const bool h264 = c.framework == Framework::Quenby;
  const std::uint32_t flags = c.displayOrder ? DECODER_FLAG_EXTERNAL_FRAME_BUFFER : 0;
  ASSERT_EQ(decoder.prime(flags, DECODER_VIDEO_HEADER_NEXT, videoHeader(stream, h264)), 0);

  const VideoRun run =
      decodeVideo(decoder, stream, c.chunks, c.width, c.height, c.displayOrder, c.fourcc);
  EXPECT_FALSE(run.error);
  EXPECT_FALSE(run.stuck);
  EXPECT_TRUE(run.done);
  const std::uint32_t packed = packedBytesPerPixel(c.fourcc);
  const std::size_t frameBytes = std::size_t{c.width} * c.height * (packed ? packed * 2 : 3) / 2;
  ASSERT_EQ(run.pictures.size() * frameBytes, reference.size());

  std::vector<const Picture*> shown;
  if (c.displayOrder) {
    for (const Picture& p : run.pictures) shown.push_back(&p);
  } else {
    // Coded order: an anchor leaves before the B pictures shown ahead of it.
    bool reordered = false;
    for (std::size_t i = 1; i < run.pictures.size(); ++i)
      if (run.pictures[i].info.picture_coding_type == 3 &&
          run.pictures[i - 1].info.picture_coding_type != 3)
        reordered = true;
    EXPECT_TRUE(reordered) << "no B picture followed its anchor";
    shown = displayOrder(run.pictures);
  }
  // The records: the first picture brings its sequence, every picture its type, which in
  // display order is ffprobe's.
  ASSERT_FALSE(run.pictures.empty());
  EXPECT_NE(run.pictures[0].status & DECODER_STATUS_SEQUENCE, 0u);
  EXPECT_EQ(run.pictures[0].sequence.width, c.width);
  EXPECT_EQ(run.pictures[0].sequence.height, c.height);
  const std::vector<std::uint32_t>& types = referenceTypes(c.stream);
  ASSERT_EQ(types.size(), shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    ASSERT_NE(shown[i], nullptr) << "picture " << i << " missing";
    EXPECT_EQ(shown[i]->info.picture_coding_type, types[i]) << "picture " << i;
    EXPECT_EQ(std::memcmp(shown[i]->planes.data(), reference.data() + i * frameBytes, frameBytes),
              0)
        << "picture " << i << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, VideoPlugin,
    ::testing::Values(VideoCase{"mpeg1_coded_whole", Framework::Lorrimer, 1, "mpeg1.m1v", 176, 144,
                                false, kWhole},
                      VideoCase{"mpeg1_coded_awkward", Framework::Lorrimer, 1, "mpeg1.m1v", 176,
                                144, false, kAwkward},
                      VideoCase{"mpeg2_coded_awkward", Framework::Lorrimer, 1, "mpeg2.m2v", 176,
                                144, false, kAwkward},
                      VideoCase{"mpeg2_display_whole", Framework::Lorrimer, 1, "mpeg2.m2v", 176,
                                144, true, kWhole},
                      VideoCase{"mpeg2_interlaced_coded", Framework::Lorrimer, 1,
                                "mpeg2_interlaced.m2v", 352, 288, false, kAwkward},
                      VideoCase{"mpeg2_coded_bgra", Framework::Lorrimer, 1, "mpeg2.m2v", 176, 144,
                                false, kWhole, MPEG_IN_FOURCC_BGRA, "bgra"},
                      VideoCase{"mpeg2_display_yuy2", Framework::Lorrimer, 1, "mpeg2.m2v", 176, 144,
                                true, kWhole, MPEG_IN_FOURCC_YUY2, "yuyv422"},
                      VideoCase{"h264_display_whole", Framework::Quenby, 0, "h264.264", 176, 144,
                                true, kWhole},
                      VideoCase{"h264_display_awkward", Framework::Quenby, 0, "h264.264", 176, 144,
                                true, kAwkward}),
    [](const ::testing::TestParamInfo<VideoCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillion::decoder::test

namespace quillion::decoder::test {
namespace {

// The GOP each coded-order picture belongs to, counted from 0.
std::vector<std::size_t> gopIndexes(const std::vector<Picture>& pictures) {
  std::vector<std::size_t> gops;
  std::size_t gop = 0;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (i > 0 && (pictures[i].status & DECODER_STATUS_GOP)) ++gop;
    gops.push_back(gop);
  }
  return gops;
}

// After a reset the decoder takes the stream again at a GOP header, as after a seek, with the
// sequence header it was primed with: the anchors decode as in a run from the start.
TEST(VideoPluginReset, DecodesAgainFromALaterGop) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  useFrameworkFolder(PLUGIN_FOLDER);
  const Bytes stream = quillion::test::readFile(fixture("mpeg2.m2v"));
  ASSERT_FALSE(stream.empty());
  LoadedFramework framework(Framework::Lorrimer);
  ASSERT_EQ(framework.loadResult(), 0);
  Decoder decoder(openVideoDecoder(framework.function(1)));
  ASSERT_EQ(decoder.prime(0, DECODER_VIDEO_HEADER_NEXT, videoHeader(stream, false)), 0);
  const VideoRun whole = decodeVideo(decoder, stream, kWhole, 176, 144, false);
  ASSERT_FALSE(whole.error);
  const std::vector<std::size_t> wholeGops = gopIndexes(whole.pictures);

  // The second GOP header.
  std::size_t at = 0;
  for (int found = 0; at + 4 <= stream.size(); ++at) {
    if (stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 && stream[at + 3] == 0xB8 &&
        ++found == 2)
      break;
  }
  ASSERT_LT(at + 4, stream.size());
  ASSERT_EQ(decoder.aux(DECODER_RESET), 0);
  const Bytes tail(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end());
  const VideoRun again = decodeVideo(decoder, tail, kAwkward, 176, 144, false);
  EXPECT_TRUE(again.done);
  // Every anchor of the run from the second GOP on equals the whole run's anchor of the same
  // GOP and temporal reference (B pictures at a GOP's start may lean on the GOP before).
  const std::vector<std::size_t> againGops = gopIndexes(again.pictures);
  std::size_t anchors = 0;
  for (std::size_t k = 0; k < again.pictures.size(); ++k) {
    const Picture& p = again.pictures[k];
    if (p.info.picture_coding_type == 3) continue;
    const Picture* same = nullptr;
    for (std::size_t i = 0; i < whole.pictures.size(); ++i)
      if (wholeGops[i] == againGops[k] + 1 &&
          whole.pictures[i].info.temporal_reference == p.info.temporal_reference)
        same = &whole.pictures[i];
    ASSERT_NE(same, nullptr) << "picture " << k;
    EXPECT_TRUE(same->planes == p.planes) << "picture " << k;
    ++anchors;
  }
  EXPECT_GE(anchors, 4u);
}

}  // namespace
}  // namespace quillion::decoder::test
