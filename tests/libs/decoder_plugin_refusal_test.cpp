// SPDX-License-Identifier: GPL-2.0-or-later
// What the decoder plug-ins and their loading refuse: a framework missing or lacking one of
// its names, a priming header of the wrong kind, and streams cut short or damaged, which must
// end in an error status or a clean end, never in a crash or in pictures and samples that
// differ from ffmpeg's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "decoder_plugin_harness.h"
#include "tests/support/test_support.h"

namespace quillion::decoder::test {
namespace {

using brindle::Framework;

constexpr Framework kPlugins[] = {Framework::Lorrimer, Framework::Quenby, Framework::Ostrell,
                                  Framework::Kestrin};

TEST(DecoderPluginLoading, EveryPluginBindsAllItsNames) {
  useFrameworkFolder(PLUGIN_FOLDER);
  for (Framework f : kPlugins) {
    LoadedFramework framework(f);
    EXPECT_EQ(framework.loadResult(), 0) << brindle::framework_name(f);
    for (std::uint32_t i = 0; i < brindle::framework_function_count(f); ++i)
      EXPECT_NE(framework.function(i), nullptr) << brindle::framework_function_name(f, i);
  }
}

TEST(DecoderPluginLoading, AMissingPluginIsAbsent) {
  quillion::test::TempDir empty;
  useFrameworkFolder(empty.path().string());
  for (Framework f : kPlugins) {
    LoadedFramework framework(f);
    EXPECT_EQ(framework.loadResult(), 1) << brindle::framework_name(f);
    EXPECT_EQ(framework.function(0), nullptr);
  }
}

TEST(DecoderPluginLoading, ALorrimerWithoutSubpicturesIsAbsent) {
  useFrameworkFolder(PARTIAL_LORRIMER_FOLDER);
  LoadedFramework framework(Framework::Lorrimer);
  EXPECT_EQ(framework.loadResult(), 1);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(framework.function(i), nullptr);
}

struct OpenCase {
  const char* name;
  Framework framework;
  std::uint32_t function;
  bool video;
};

const OpenCase kOpens[] = {
    {"lorrimer_video", Framework::Lorrimer, 1, true},
    {"lorrimer_audio", Framework::Lorrimer, 0, false},
    {"quenby", Framework::Quenby, 0, true},
    {"ostrell", Framework::Ostrell, 0, false},
    {"kestrin", Framework::Kestrin, 0, false},
};

bufstream* openCase(const LoadedFramework& framework, const OpenCase& c) {
  void* open = framework.function(c.function);
  return c.video ? openVideoDecoder(open) : openAudioDecoder(c.framework, open);
}

TEST(DecoderPluginPriming, AHeaderOfAnotherKindIsRefused) {
  useFrameworkFolder(PLUGIN_FOLDER);
  const Bytes silence(200, 0);
  const Bytes noise = [] {
    const std::string p = quillion::test::patternBytes(200, 7);
    return Bytes(p.begin(), p.end());
  }();
  for (const OpenCase& c : kOpens) {
    LoadedFramework framework(c.framework);
    ASSERT_EQ(framework.loadResult(), 0);
    for (const Bytes* header : {&silence, &noise}) {
      Decoder decoder(openCase(framework, c));
      ASSERT_NE(decoder.get(), nullptr) << c.name;
      const std::uint32_t code = c.video ? DECODER_VIDEO_HEADER_NEXT : DECODER_AUDIO_HEADER_NEXT;
      EXPECT_EQ(decoder.prime(0, code, *header), -1) << c.name;
      EXPECT_EQ(decoder.aux(DECODER_INIT_FRAME_PARSER), 1) << c.name;
      // Bytes fed to a decoder that was never made ready are refused with the error bit.
      EXPECT_EQ(decoder.feed(noise.data(), static_cast<std::uint32_t>(noise.size())), 0u);
      EXPECT_EQ(decoder.status(), static_cast<std::uint32_t>(DECODER_STATUS_ERROR)) << c.name;
    }
  }
}

TEST(DecoderPluginPriming, UnknownCodesAndWrongRecordSizesAreRefused) {
  useFrameworkFolder(PLUGIN_FOLDER);
  for (const OpenCase& c : kOpens) {
    LoadedFramework framework(c.framework);
    ASSERT_EQ(framework.loadResult(), 0);
    Decoder decoder(openCase(framework, c));
    std::uint32_t word = 0;
    EXPECT_EQ(decoder.aux(0x10099, &word, sizeof word), 1) << c.name;
    EXPECT_EQ(decoder.aux(DECODER_STATUS, &word, 2), 1) << c.name;
    decoder_picture_info info{};
    EXPECT_EQ(decoder.aux(DECODER_PICTURE_INFO, &info, sizeof info - 4), 1) << c.name;
  }
}

struct DamageCase {
  const char* name;
  Framework framework;
  std::uint32_t function;
  const char* stream;
  bool cut;  // cut short; otherwise overwritten in the middle
};

void PrintTo(const DamageCase& c, std::ostream* os) {
  *os << c.name;
}

class DamagedStream : public ::testing::TestWithParam<DamageCase> {
 protected:
  void SetUp() override {
    QUILLION_REQUIRE_TOOL("ffmpeg");
    useFrameworkFolder(PLUGIN_FOLDER);
  }
};

Bytes damaged(Bytes s, bool cut) {
  if (cut) {
    s.resize(s.size() * 3 / 5 + 1);
  } else {
    const std::string noise = quillion::test::patternBytes(s.size() / 8, 3);
    std::memcpy(s.data() + s.size() / 2, noise.data(), noise.size());
  }
  return s;
}

TEST_P(DamagedStream, EndsCleanlyAndAgreesWhereItDecodes) {
  const DamageCase& c = GetParam();
  const Bytes whole = quillion::test::readFile(fixture(c.stream));
  ASSERT_FALSE(whole.empty());
  const Bytes stream = damaged(whole, c.cut);
  LoadedFramework framework(c.framework);
  ASSERT_EQ(framework.loadResult(), 0);
  const std::vector<std::size_t> chunks = {5, 700, 1};
  const bool video = c.framework == Framework::Lorrimer && c.function == 1;
  if (video) {
    const Bytes& reference = referencePictures(c.stream);
    Decoder decoder(openVideoDecoder(framework.function(c.function)));
    ASSERT_EQ(decoder.prime(0, DECODER_VIDEO_HEADER_NEXT, videoHeader(stream, false)), 0);
    const VideoRun run = decodeVideo(decoder, stream, chunks, 176, 144, false);
    EXPECT_TRUE(run.done);
    EXPECT_FALSE(run.stuck);
    const std::size_t frameBytes = 176 * 144 * 3 / 2;
    ASSERT_LT(run.pictures.size() * frameBytes, reference.size() + frameBytes);
    if (c.cut) {
      // Every picture before the cut is ffmpeg's.
      const std::vector<const Picture*> shown = displayOrder(run.pictures);
      std::size_t compared = 0;
      for (std::size_t i = 0; i < shown.size() && (i + 1) * frameBytes <= reference.size(); ++i) {
        if (!shown[i] || (shown[i]->status & DECODER_STATUS_ERROR)) continue;
        EXPECT_EQ(
            std::memcmp(shown[i]->planes.data(), reference.data() + i * frameBytes, frameBytes), 0)
            << "picture " << i;
        ++compared;
      }
      EXPECT_GT(compared, 5u);
    } else {
      EXPECT_TRUE(run.error);
    }
    return;
  }
  const Bytes& reference = referenceSamples(c.stream);
  Decoder decoder(openAudioDecoder(c.framework, framework.function(c.function)));
  const Bytes header(stream.begin(), stream.begin() + 84);
  ASSERT_EQ(decoder.prime(0, DECODER_AUDIO_HEADER_NEXT, header), 0);
  const AudioRun run = decodeAudio(decoder, stream, chunks);
  EXPECT_TRUE(run.done);
  EXPECT_FALSE(run.stuck);
  if (c.cut) {
    // The frame cut short is refused; every sample before it is ffmpeg's.
    EXPECT_TRUE(run.error);
    ASSERT_LT(run.samples.size(), reference.size());
    ASSERT_GT(run.samples.size(), reference.size() / 3);
    EXPECT_TRUE(std::equal(run.samples.begin(), run.samples.end(), reference.begin()));
  } else {
    EXPECT_TRUE(run.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, DamagedStream,
    ::testing::Values(DamageCase{"mpeg2_cut", Framework::Lorrimer, 1, "mpeg2.m2v", true},
                      DamageCase{"mpeg2_overwritten", Framework::Lorrimer, 1, "mpeg2.m2v", false},
                      DamageCase{"mp2_cut", Framework::Lorrimer, 0, "stereo.mp2", true},
                      DamageCase{"mp2_overwritten", Framework::Lorrimer, 0, "stereo.mp2", false},
                      DamageCase{"aac_cut", Framework::Ostrell, 0, "stereo.aac", true},
                      DamageCase{"aac_overwritten", Framework::Ostrell, 0, "stereo.aac", false},
                      DamageCase{"ac3_cut", Framework::Kestrin, 0, "stereo.ac3", true},
                      DamageCase{"ac3_overwritten", Framework::Kestrin, 0, "stereo.ac3", false}),
    [](const ::testing::TestParamInfo<DamageCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillion::decoder::test

namespace quillion::decoder::test {
namespace {

TEST(DecoderPluginPriming, H264NeedsTheCallersFrameBuffer) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  useFrameworkFolder(PLUGIN_FOLDER);
  const Bytes stream = quillion::test::readFile(fixture("h264.264"));
  ASSERT_FALSE(stream.empty());
  LoadedFramework framework(Framework::Quenby);
  ASSERT_EQ(framework.loadResult(), 0);
  Decoder without(openVideoDecoder(framework.function(0)));
  EXPECT_EQ(without.prime(0, DECODER_VIDEO_HEADER_NEXT, videoHeader(stream, true)), 1);
  Decoder with(openVideoDecoder(framework.function(0)));
  EXPECT_EQ(with.prime(DECODER_FLAG_EXTERNAL_FRAME_BUFFER, DECODER_VIDEO_HEADER_NEXT,
                       videoHeader(stream, true)),
            0);
}

// Subpicture units (a 16-bit length first) are gathered whole whatever the chunks: one unit
// ready per status, every byte taken.
TEST(SubpicturePlugin, GathersWholeUnits) {
  useFrameworkFolder(PLUGIN_FOLDER);
  LoadedFramework framework(Framework::Lorrimer);
  ASSERT_EQ(framework.loadResult(), 0);
  auto open = reinterpret_cast<bufstream* (*)(mpeg_get_rc, std::int32_t, std::int32_t)>(
      framework.function(2));
  ASSERT_NE(open, nullptr);
  Decoder decoder(open(nullptr, 1, 0));
  ASSERT_NE(decoder.get(), nullptr);
  Bytes units;
  for (std::uint8_t size : {40, 61, 18}) {
    Bytes unit(size, 0x5A);
    unit[0] = 0;
    unit[1] = size;
    unit[2] = 0;
    unit[3] = 4;
    units.insert(units.end(), unit.begin(), unit.end());
  }
  const std::vector<std::size_t> chunks = {3, 50, 1};
  std::size_t ready = 0;
  std::size_t at = 0;
  for (std::size_t c = 0; at < units.size(); ++c) {
    const std::size_t n = std::min(chunks[c % chunks.size()], units.size() - at);
    for (std::size_t off = 0; off < n;) {
      const std::uint32_t taken =
          decoder.feed(units.data() + at + off, static_cast<std::uint32_t>(n - off));
      const std::uint32_t status = decoder.status();
      EXPECT_EQ(status & DECODER_STATUS_ERROR, 0u);
      if (status & DECODER_STATUS_PICTURE) ++ready;
      ASSERT_TRUE(taken > 0 || (status & DECODER_STATUS_PICTURE));
      off += taken;
    }
    at += n;
  }
  for (int i = 0; i < 4; ++i) {
    decoder.feed(nullptr, 0);
    const std::uint32_t status = decoder.status();
    if (status & DECODER_STATUS_PICTURE) ++ready;
    if (status & DECODER_STATUS_DONE) break;
  }
  EXPECT_EQ(ready, 3u);
  EXPECT_EQ(decoder.aux(0x10020), 1);  // the overlay codes are not offered yet
}

}  // namespace
}  // namespace quillion::decoder::test

namespace quillion::decoder::test {
namespace {

// Each plug-in makes visible exactly the names the input library binds from it: the byte
// streams, libav glue and (in Lorrimer) the header parser it carries stay private.
TEST(DecoderPluginExports, OnlyTheBoundNames) {
  QUILLION_REQUIRE_TOOL("nm");
  for (Framework f : kPlugins) {
    const std::string file = std::string(PLUGIN_FOLDER) + "/" + brindle::framework_name(f) + ".so";
    const auto r = quillion::test::exportedNames(file);
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    std::vector<std::string> exported = r.names;
    std::vector<std::string> bound;
    for (std::uint32_t i = 0; i < brindle::framework_function_count(f); ++i)
      bound.emplace_back(brindle::framework_function_name(f, i));
    std::sort(exported.begin(), exported.end());
    std::sort(bound.begin(), bound.end());
    EXPECT_EQ(exported, bound) << file;
  }
}

}  // namespace
}  // namespace quillion::decoder::test
