// SPDX-License-Identifier: GPL-2.0-or-later
// The audio decoder plug-ins, each loaded alone by name: the 16-bit samples equal ffmpeg's
// decoding of the same stream byte for byte, whatever the chunk sizes the stream arrives in.
#include <gtest/gtest.h>

#include "decoder_plugin_harness.h"
#include "tests/support/test_support.h"

namespace quillion::decoder::test {
namespace {

using brindle::Framework;

struct AudioCase {
  const char* name;
  Framework framework;
  std::uint32_t function;
  const char* stream;
  std::vector<std::size_t> chunks;
};

void PrintTo(const AudioCase& c, std::ostream* os) {
  *os << c.name;
}

class AudioPlugin : public ::testing::TestWithParam<AudioCase> {
 protected:
  void SetUp() override {
    QUILLION_REQUIRE_TOOL("ffmpeg");
    useFrameworkFolder(PLUGIN_FOLDER);
  }
};

TEST_P(AudioPlugin, SamplesEqualFfmpegs) {
  const AudioCase& c = GetParam();
  const Bytes stream = quillion::test::readFile(fixture(c.stream));
  const Bytes& reference = referenceSamples(c.stream);
  ASSERT_FALSE(stream.empty());
  ASSERT_FALSE(reference.empty());
  LoadedFramework framework(c.framework);
  ASSERT_EQ(framework.loadResult(), 0);
  Decoder decoder(openAudioDecoder(c.framework, framework.function(c.function)));
  ASSERT_NE(decoder.get(), nullptr);
  const Bytes header(stream.begin(),
                     stream.begin() + std::min<std::ptrdiff_t>(84, std::ssize(stream)));
  ASSERT_EQ(decoder.prime(0, DECODER_AUDIO_HEADER_NEXT, header), 0);

  const AudioRun run = decodeAudio(decoder, stream, c.chunks);
  EXPECT_FALSE(run.error);
  EXPECT_FALSE(run.stuck);
  EXPECT_TRUE(run.done);
  ASSERT_EQ(run.samples.size(), reference.size());
  EXPECT_TRUE(run.samples == reference);
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, AudioPlugin,
    ::testing::Values(
        AudioCase{"mp2_whole", Framework::Lorrimer, 0, "stereo.mp2", kWhole},
        AudioCase{"mp2_awkward", Framework::Lorrimer, 0, "stereo.mp2", kAwkward},
        AudioCase{"mp3_mono_whole", Framework::Lorrimer, 0, "mono.mp3", kWhole},
        AudioCase{"mp3_mono_awkward", Framework::Lorrimer, 0, "mono.mp3", kAwkward},
        AudioCase{"aac_whole", Framework::Ostrell, 0, "stereo.aac", kWhole},
        AudioCase{"aac_awkward", Framework::Ostrell, 0, "stereo.aac", kAwkward},
        AudioCase{"ac3_whole", Framework::Kestrin, 0, "stereo.ac3", kWhole},
        AudioCase{"ac3_awkward", Framework::Kestrin, 0, "stereo.ac3", kAwkward},
        AudioCase{"ac3_surround_to_stereo", Framework::Kestrin, 0, "surround.ac3", kAwkward},
        AudioCase{"ac3_swapped_awkward", Framework::Kestrin, 0, "swapped.ac3", kAwkward}),
    [](const ::testing::TestParamInfo<AudioCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillion::decoder::test
