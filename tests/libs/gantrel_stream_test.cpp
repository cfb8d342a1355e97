// SPDX-License-Identifier: GPL-2.0-or-later
// What Gantrel writes, checked against bytes worked out here bit by bit from the formats'
// definitions, and against ffmpeg: its 302M encoder's packets (the validity, user, channel
// status and framing bits aside), its 302M decoder reading our frames from a transport
// stream, and its DVD LPCM decoder reading our frames through Corvel's program stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ferrule_messages.h"
#include "gantrel.h"
#include "gantrel_support.h"
#include "tests/support/test_support.h"

namespace quillion::test::gantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes headerOf(const PcmSink& sink) {
  return sink.frames.empty() ? Bytes{} : sink.frames[0].bytes;
}

// Every frame's bytes equal its announced length; the stream header comes first.
void expectConsistentFrames(const PcmSink& sink) {
  ASSERT_FALSE(sink.frames.empty());
  EXPECT_EQ(sink.frames[0].length, 8u);
  EXPECT_EQ(sink.frames[0].timestamp, -1);
  std::size_t total = 0;
  for (const auto& f : sink.frames) {
    EXPECT_EQ(f.bytes.size(), f.length);
    total += f.bytes.size();
  }
  EXPECT_EQ(total, sink.bytes.size()) << "bytes outside any announced frame";
}

TEST(GantrelHeaders, StreamHeaderBytes) {
  struct Case {
    pcm_a_settings settings;
    std::int32_t frameRateCode;
    std::int32_t rate;
    Bytes header;
  };
  const Case cases[] = {
      {{1, 4, 0, 0, 0, 128}, 0, 48000, {'L', 'P', 'C', 'M', 0x04, 0x80, 0, 0}},
      {{0, 4, 0, 1, 0, 7}, 0, 96000, {'L', 'P', 'C', 'M', 0x81, 0x07, 0, 0}},
      {{1, 4, 1, 1, 0, 255}, 0, 48000, {'L', 'P', 'C', 'M', 0x86, 0xFF, 0, 0}},
      {{1, 10, 0, 0, 0, 128}, 4, 48000, {'A', 'E', 'S', '3', 10, 0x61, 0, 0}},
      {{7, 11, 0, 0, 2, 128}, 8, 48000, {'A', 'E', 'S', '3', 11, 0xF7, 0, 0}},
      {{2, 12, 0, 0, 1, 128}, 1, 96000, {'A', 'E', 'S', '3', 12, 0x0A, 0, 0}},
  };
  for (const Case& c : cases) {
    PcmSink sink;
    const PackResult r = packPcm(c.settings, 0, c.frameRateCode, c.rate, {Bytes{}}, sink);
    EXPECT_EQ(r.put, 0);
    EXPECT_EQ(r.done, 0);
    expectConsistentFrames(sink);
    EXPECT_EQ(headerOf(sink), c.header) << c.settings.audio_layer;
    EXPECT_EQ(sink.frames.size(), 1u) << "no samples, no frame";
  }
}

TEST(GantrelLpcm, FramesAreSwappedToMostSignificantByteFirst) {
  const Bytes input = patternBytes(320 * 6 + 100);
  for (std::int32_t flags : {0, PCM_A_INPUT_MSB_FIRST}) {
    PcmSink sink;
    const PackResult r = packPcm(pcmSettings(4, 1), flags, 0, 48000, {input}, sink);
    EXPECT_EQ(r.put, 0);
    EXPECT_EQ(r.done, 0);
    expectConsistentFrames(sink);
    ASSERT_EQ(sink.frames.size(), 1u + 7u);
    Bytes expected = input;
    expected.resize(320 * 7, 0);  // the last frame is completed with silence
    if (!flags)
      for (std::size_t i = 0; i < expected.size(); i += 2) std::swap(expected[i], expected[i + 1]);
    for (std::size_t n = 1; n < sink.frames.size(); ++n) {
      const auto& f = sink.frames[n];
      EXPECT_EQ(f.length, 320u);
      EXPECT_EQ(f.timestamp, static_cast<std::int64_t>(n - 1) * 45000);
      EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.end(),
                             expected.begin() + static_cast<std::ptrdiff_t>((n - 1) * 320)))
          << "frame " << n << " flags " << flags;
    }
  }
}

TEST(GantrelLpcm, SampleRateSetsTheFrameSize) {
  struct Case {
    std::int32_t channelCode;
    std::int32_t rate;
    std::uint32_t frameBytes;
  };
  for (const Case& c :
       {Case{0, 48000, 160}, Case{1, 48000, 320}, Case{0, 96000, 320}, Case{1, 96000, 640}}) {
    PcmSink sink;
    packPcm(pcmSettings(4, c.channelCode), 0, 0, c.rate, {patternBytes(c.frameBytes * 3)}, sink);
    ASSERT_EQ(sink.frames.size(), 4u);
    for (std::size_t n = 1; n < 4; ++n) {
      EXPECT_EQ(sink.frames[n].length, c.frameBytes);
      EXPECT_EQ(sink.frames[n].timestamp, static_cast<std::int64_t>(n - 1) * 45000);
    }
  }
}

TEST(GantrelLpcm, ShortStreamsAndAbort) {
  // Shorter than one frame: the header and one padded frame at Done.
  PcmSink sink;
  const Bytes input = patternBytes(101);  // ends inside a sample
  EXPECT_EQ(packPcm(pcmSettings(4, 1), PCM_A_INPUT_MSB_FIRST, 0, 48000, {input}, sink).done, 0);
  ASSERT_EQ(sink.frames.size(), 2u);
  Bytes expected = input;
  expected.resize(320, 0);
  EXPECT_EQ(sink.frames[1].bytes, expected);

  // Aborted: what was staged is dropped.
  PcmSink aborted;
  const pcm_a_settings s = pcmSettings(4, 1);
  pcm_a_output* o = pcmOutAudioNew(nullptr, &s, 0, 0, 48000);
  ASSERT_EQ(pcmOutAudioInit(o, aborted.stream()), 0);
  EXPECT_EQ(pcmOutAudioPutBytes(o, input.data(), 101), 0);
  EXPECT_EQ(pcmOutAudioDone(o, 1), 0);
  pcmOutAudioFree(o);
  ASSERT_EQ(aborted.frames.size(), 1u);
  EXPECT_EQ(aborted.bytes.size(), 8u);
}

// Sample frames and their 302M durations in 27 MHz ticks at 29.97 frames per second.
TEST(Gantrel302M, FiveFrameCycleAt2997) {
  // 1602, 1601, 1602, 1601, 1602 sample frames of 5 bytes, the cycle starting over after five.
  const std::uint32_t payloads[] = {8010, 8005, 8010, 8005, 8010, 8010, 8005};
  const std::int64_t times[] = {0, 901125, 1801687, 2702812, 3603375, 4504500, 5405625};
  std::uint32_t total = 0;
  for (std::uint32_t n : payloads) total += n;
  PcmSink sink;
  const PackResult r =
      packPcm(pcmSettings(10, 1), 0, 4, 48000, {patternBytes(total / 5 * 4ull)}, sink);
  EXPECT_EQ(r.put, 0);
  EXPECT_EQ(r.done, 0);
  expectConsistentFrames(sink);
  ASSERT_EQ(sink.frames.size(), 8u);
  for (std::size_t n = 0; n < 7; ++n) {
    const auto& f = sink.frames[n + 1];
    EXPECT_EQ(f.length, payloads[n] + 4) << n;
    EXPECT_EQ(f.timestamp, times[n]) << n;
    EXPECT_EQ(static_cast<std::uint32_t>(f.bytes[0] << 8 | f.bytes[1]), payloads[n]) << n;
  }
}

// 302M worked bit by bit: each sample least significant bit first, each followed by its
// four flag bits, validity bit first, the framing bit set on the first sampling instant of
// every block of 192 (counted across frames).
struct Expected302M {
  int channels;
  int quantization;
  bool msbFirst;
  std::vector<std::uint32_t> frameSamples;  // one frame after another

  int sampleBytes() const { return quantization == 0 ? 2 : 3; }
  int wireBits() const { return quantization == 0 ? 16 : quantization == 1 ? 20 : 24; }

  std::uint32_t sample(const Bytes& in, std::size_t at) const {
    std::uint32_t v = 0;
    for (int b = 0; b < sampleBytes(); ++b) {
      const std::size_t byteAt = msbFirst ? at + static_cast<std::size_t>(b)
                                          : at + static_cast<std::size_t>(sampleBytes() - 1 - b);
      v = v << 8 | in[byteAt];
    }
    return v >> (sampleBytes() * 8 - wireBits());
  }

  Bytes frames(const Bytes& paddedInput) const {
    Bytes out;
    std::size_t at = 0;
    std::uint64_t instant = 0;
    const int pairs = channels / 2;
    for (std::uint32_t n : frameSamples) {
      std::vector<bool> bits;
      const auto push = [&](std::uint32_t v, int count, bool lsbFirst) {
        for (int i = 0; i < count; ++i) bits.push_back((v >> (lsbFirst ? i : count - 1 - i)) & 1);
      };
      for (std::uint32_t s = 0; s < n; ++s, ++instant) {
        for (int p = 0; p < pairs; ++p) {
          push(sample(paddedInput, at), wireBits(), true);
          push(instant % 192 == 0 ? 0b1001 : 0b1000, 4, false);
          at += static_cast<std::size_t>(sampleBytes());
          push(sample(paddedInput, at), wireBits(), true);
          push(0b1000, 4, false);
          at += static_cast<std::size_t>(sampleBytes());
        }
      }
      const std::size_t payload = bits.size() / 8;
      out.push_back(static_cast<std::uint8_t>(payload >> 8));
      out.push_back(static_cast<std::uint8_t>(payload));
      out.push_back(static_cast<std::uint8_t>((pairs - 1) << 6));
      out.push_back(static_cast<std::uint8_t>(quantization << 4));
      for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t b = 0;
        for (std::size_t k = 0; k < 8; ++k) b = static_cast<std::uint8_t>(b << 1 | bits[i + k]);
        out.push_back(b);
      }
    }
    return out;
  }
};

struct PackingCase {
  const char* name;
  int channels;
  int quantization;
  std::int32_t flags;
};

class Gantrel302MPacking : public testing::TestWithParam<PackingCase> {};

TEST_P(Gantrel302MPacking, MatchesTheBitwiseReference) {
  const PackingCase& c = GetParam();
  // 59.94: 801, 801, 800 samples, so the 192-instant blocks straddle frames.
  const std::vector<std::uint32_t> frameSamples = {801, 801, 800};
  const std::size_t sampleFrameBytes =
      static_cast<std::size_t>(c.channels) * (c.quantization == 0 ? 2 : 3);
  Bytes input = patternBytes(sampleFrameBytes * (801 + 801 + 333) + 1, 7);  // ends mid-sample
  // Odd pieces: frames, samples and even bytes of a sample are split between calls.
  std::vector<Bytes> pieces;
  for (std::size_t at = 0, step = 1; at < input.size(); at += step, step = step * 3 + 2)
    pieces.emplace_back(
        input.begin() + static_cast<std::ptrdiff_t>(at),
        input.begin() + static_cast<std::ptrdiff_t>(std::min(input.size(), at + step)));
  PcmSink sink(1000);  // smaller than a frame: frames span chunks
  const PackResult r =
      packPcm(pcmSettings(10, c.channels - 1, c.quantization), c.flags, 7, 48000, pieces, sink);
  EXPECT_EQ(r.put, 0);
  EXPECT_EQ(r.done, 0);
  expectConsistentFrames(sink);
  ASSERT_EQ(sink.frames.size(), 4u);

  Bytes padded = input;
  padded.resize(sampleFrameBytes * (801 + 801 + 800), 0);
  const Expected302M reference{c.channels, c.quantization, (c.flags & 1) != 0, frameSamples};
  Bytes ours(sink.bytes.begin() + 8, sink.bytes.end());
  EXPECT_TRUE(ours == reference.frames(padded)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Layouts, Gantrel302MPacking,
                         testing::Values(PackingCase{"stereo16", 2, 0, 0},
                                         PackingCase{"stereo20", 2, 1, 0},
                                         PackingCase{"stereo24msb", 2, 2, PCM_A_INPUT_MSB_FIRST},
                                         PackingCase{"quad16msb", 4, 0, PCM_A_INPUT_MSB_FIRST},
                                         PackingCase{"six20", 6, 1, 0},
                                         PackingCase{"eight24", 8, 2, 0}),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(GantrelAes3Element, ChannelWordsMaskAndCyclePosition) {
  // Three 24-bit channels at 29.97: cycle positions 1..5 in the frame header.
  const std::uint32_t samples[] = {1602, 1601, 1602, 1601, 1602, 1602};
  std::uint32_t total = 0;
  for (std::uint32_t n : samples) total += n;
  const Bytes input = patternBytes(total * 9ull, 3);
  PcmSink sink;
  const PackResult r = packPcm(pcmSettings(11, 2, 2), 0, 4, 48000, {input}, sink);
  EXPECT_EQ(r.done, 0);
  expectConsistentFrames(sink);
  ASSERT_EQ(sink.frames.size(), 7u);
  std::size_t at = 0;
  std::uint64_t instant = 0;
  for (std::size_t n = 0; n < 6; ++n) {
    const Bytes& f = sink.frames[n + 1].bytes;
    ASSERT_EQ(f.size(), 4 + samples[n] * 32u);
    EXPECT_EQ(f[0], n % 5 + 1);
    EXPECT_EQ(f[1] | f[2] << 8, static_cast<int>(samples[n]));
    EXPECT_EQ(f[3], 0x07) << "every channel with samples is marked";
    for (std::uint32_t s = 0; s < samples[n]; ++s, ++instant) {
      const std::uint8_t* words = f.data() + 4 + s * 32;
      for (int c = 0; c < 8; ++c) {
        const std::uint8_t* w = words + 4 * c;
        if (c >= 3) {
          ASSERT_EQ(w[0] | w[1] | w[2] | w[3], 0);
          continue;
        }
        // The 24-bit sample sits in bits 4-27 of the little-endian word.
        const std::uint32_t sample = input[at] | input[at + 1] << 8 | input[at + 2] << 16;
        at += 3;
        const bool blockStart = c == 0 && instant % 192 == 0;
        const std::uint32_t word =
            sample << 4 | (blockStart ? 8u : 0u) | static_cast<std::uint32_t>(c);
        ASSERT_EQ(w[0] | w[1] << 8 | w[2] << 16 | static_cast<std::uint32_t>(w[3]) << 24, word)
            << n << " " << s << " " << c;
      }
    }
  }
}

TEST(GantrelAes3Element, CyclePositionOnlyForFractionalRates) {
  PcmSink sink;
  packPcm(pcmSettings(11, 7, 1), 0, 3, 48000, {patternBytes(1920 * 24 * 2)}, sink);
  ASSERT_EQ(sink.frames.size(), 3u);
  EXPECT_EQ(sink.frames[1].bytes[0], 0);
  EXPECT_EQ(sink.frames[2].bytes[0], 0);
  EXPECT_EQ(sink.frames[1].bytes[3], 0xFF);
  // 20-bit audio: the field's four lowest bits stay clear.
  const Bytes first(sink.frames[1].bytes.begin() + 4, sink.frames[1].bytes.begin() + 8);
  const Bytes source = patternBytes(3);
  const std::uint32_t sample = (source[0] & 0xF0u) | source[1] << 8 | source[2] << 16;
  const std::uint32_t word = sample << 4 | 8;  // channel 0, block start
  EXPECT_EQ(first,
            (Bytes{static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                   static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)}));
}

TEST(GantrelPlanar, OnePlanePerChannelLeastSignificantByteFirst) {
  struct Case {
    int channels;
    int quantization;
    std::int32_t flags;
  };
  for (const Case& c : {Case{3, 0, 0}, Case{3, 0, PCM_A_INPUT_MSB_FIRST}, Case{1, 2, 0},
                        Case{8, 1, PCM_A_INPUT_MSB_FIRST}}) {
    const int width = c.quantization == 0 ? 2 : 3;
    const std::size_t perInstant = static_cast<std::size_t>(c.channels * width);
    const Bytes input = patternBytes(perInstant * 960 * 2, 5);
    PcmSink sink;
    packPcm(pcmSettings(12, c.channels - 1, c.quantization), c.flags, 6, 48000, {input}, sink);
    expectConsistentFrames(sink);
    ASSERT_EQ(sink.frames.size(), 3u);
    for (std::size_t n = 0; n < 2; ++n) {
      const Bytes& f = sink.frames[n + 1].bytes;
      ASSERT_EQ(f.size(), perInstant * 960);
      EXPECT_EQ(sink.frames[n + 1].timestamp, static_cast<std::int64_t>(n) * 540000);
      for (int ch = 0; ch < c.channels; ++ch)
        for (std::size_t s = 0; s < 960; ++s)
          for (int b = 0; b < width; ++b) {
            const std::size_t src = (n * 960 + s) * perInstant +
                                    static_cast<std::size_t>(ch * width) +
                                    static_cast<std::size_t>(c.flags ? width - 1 - b : b);
            ASSERT_EQ(f[static_cast<std::size_t>(ch) * 960 * static_cast<std::size_t>(width) +
                        s * static_cast<std::size_t>(width) + static_cast<std::size_t>(b)],
                      input[src]);
          }
    }
  }
}

TEST(GantrelFailure, AFrameTheOutputRefusesIsReportedNotSwallowed) {
  // Requests 0 (header) and 1 to 3 (frames) are granted, the later ones refused.
  PcmSink sink;
  sink.refuseFrom = 4;
  printed().clear();
  const pcm_a_settings s = pcmSettings(4, 1);
  pcm_a_output* o = pcmOutAudioNew(collectingRc, &s, 0, 0, 48000);
  ASSERT_EQ(pcmOutAudioInit(o, sink.stream()), 0);
  const Bytes input = patternBytes(320 * 6);
  EXPECT_EQ(pcmOutAudioPutBytes(o, input.data(), 320 * 2), 0);
  EXPECT_EQ(pcmOutAudioPutBytes(o, input.data() + 640, 320 * 4), 2);
  EXPECT_EQ(pcmOutAudioPutBytes(o, input.data(), 100), 2) << "stays failed";
  EXPECT_EQ(pcmOutAudioDone(o, 0), 2);
  pcmOutAudioFree(o);
  EXPECT_FALSE(printed().errors.empty());
  for (const auto& e : printed().errors)
    EXPECT_EQ(e, "P002:Could not write PCM buffer to audio file");
  // Frames 4 to 6 are lost, each reported; only what was written is announced.
  EXPECT_EQ(printed().errors.size(), 3u);
  ASSERT_EQ(sink.frames.size(), 4u);
  for (const auto& f : sink.frames) EXPECT_EQ(f.bytes.size(), f.length);
}

TEST(GantrelFailure, AbortAfterALostFrameStillSaysSo) {
  PcmSink sink;
  sink.refuseFrom = 1;
  const pcm_a_settings s = pcmSettings(10, 1);
  pcm_a_output* o = pcmOutAudioNew(nullptr, &s, 0, 5, 48000);
  ASSERT_EQ(pcmOutAudioInit(o, sink.stream()), 0);
  const Bytes input = patternBytes(1600 * 4);
  EXPECT_EQ(pcmOutAudioPutBytes(o, input.data(), static_cast<std::uint32_t>(input.size())), 2);
  EXPECT_EQ(pcmOutAudioDone(o, 1), 2);
  pcmOutAudioFree(o);
  EXPECT_EQ(sink.frames.size(), 1u);
}

}  // namespace
}  // namespace quillion::test::gantrel
