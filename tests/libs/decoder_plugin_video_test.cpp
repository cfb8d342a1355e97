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
  const Bytes& reference = referencePictures(c.stream);
  ASSERT_FALSE(stream.empty());
  ASSERT_FALSE(reference.empty());
  LoadedFramework framework(c.framework);
  ASSERT_EQ(framework.loadResult(), 0);
  Decoder decoder(openVideoDecoder(framework.function(c.function)));
  ASSERT_NE(decoder.get(), nullptr);
  const bool h264 = c.framework == Framework::Quenby;
  const std::uint32_t flags = c.displayOrder ? DECODER_FLAG_EXTERNAL_FRAME_BUFFER : 0;
  ASSERT_EQ(decoder.prime(flags, DECODER_VIDEO_HEADER_NEXT, videoHeader(stream, h264)), 0);

  const VideoRun run = decodeVideo(decoder, stream, c.chunks, c.width, c.height, c.displayOrder);
  EXPECT_FALSE(run.error);
  EXPECT_FALSE(run.stuck);
  EXPECT_TRUE(run.done);
  const std::size_t frameBytes = std::size_t{c.width} * c.height * 3 / 2;
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
                      VideoCase{"h264_display_whole", Framework::Quenby, 0, "h264.264", 176, 144,
                                true, kWhole},
                      VideoCase{"h264_display_awkward", Framework::Quenby, 0, "h264.264", 176, 144,
                                true, kAwkward}),
    [](const ::testing::TestParamInfo<VideoCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillion::decoder::test
