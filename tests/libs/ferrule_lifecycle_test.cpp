// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "bufstream.h"
#include "ferrule.h"
#include "ferrule_helpers.h"
#include "ferrule_messages.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::audioSettings;
using quillion::test::collectingRc;
using quillion::test::printed;
using quillion::test::TempDir;

// What a consumer of the encoder's fifo sees, taking each frame out at its notice the way the
// multiplexer does.
struct Consumer {
  struct Frame {
    std::int32_t header[12];
    std::uint32_t length;
    std::int64_t timestamp;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Frame> frames;
  std::vector<std::uint32_t> ids;
  bool drain = true;
  std::int32_t pendingHeader[12] = {};

  static std::int32_t notice(bufstream* reader, std::uint32_t, std::uint32_t id, void* data,
                             std::uint32_t size) {
    auto& self = *static_cast<Consumer*>(reader->drive_chain);
    self.ids.push_back(id);
    if (id == 0xFFF00000u && size == 48) std::memcpy(self.pendingHeader, data, 48);
    if (id == 0xF0002u && size == 12) {
      Frame f{};
      std::memcpy(f.header, self.pendingHeader, 48);
      std::memcpy(&f.length, data, 4);
      std::memcpy(&f.timestamp, static_cast<std::uint8_t*>(data) + 4, 8);
      if (self.drain) {
        f.bytes.resize(f.length);
        if (reader->copybytes(reader, f.bytes.data(), f.length) != f.length) f.bytes.clear();
      }
      self.frames.push_back(std::move(f));
    }
    return 0;
  }
};

struct FifoOutput {
  explicit FifoOutput(std::uint32_t size = 0x200000, std::uint32_t chunk = 4097)
      : writer(new_fifo_buf(size, chunk)) {
    reader()->drive_chain = &consumer;
    reader()->auxinfo = Consumer::notice;
  }
  ~FifoOutput() { free_fifo_buf(writer); }
  bufstream* reader() { return writer + 1; }
  bufstream* writer;
  Consumer consumer;
};

std::vector<std::int16_t> tone(std::size_t frames, int channels) {
  std::vector<std::int16_t> v(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      v[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
          static_cast<std::int16_t>(8000 * std::sin(0.05 * static_cast<double>(i) * (c + 1)));
  return v;
}

std::int32_t put(mpeg_a_encoder* e, const std::vector<std::int16_t>& pcm) {
  return mpegOutAudioPutBytes(e, pcm.data(), static_cast<std::uint32_t>(pcm.size() * 2));
}

TEST(FerruleInstance, NewRefusesBadSettingsWithoutTouchingThem) {
  printed().clear();
  mpeg_a_settings s = audioSettings(2, 0, 11);
  EXPECT_EQ(mpegOutAudioNew(collectingRc, &s, 0, 0, 22050), nullptr);
  EXPECT_EQ(printed().errors,
            std::vector<std::string>{"A021:Invalid audio sample rate (22050), should be 32000, "
                                     "44100 or 48000"});
  printed().clear();
  EXPECT_EQ(mpegOutAudioNew(collectingRc, nullptr, 0, 0, 44100), nullptr);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"A031:Invalid mpeg_a_settings parameter"});
  // The standard has no layer II single-channel stream above 192 kbps.
  s = audioSettings(2, 3, 13);
  EXPECT_EQ(mpegOutAudioNew(nullptr, &s, 0, 0, 48000), nullptr);
  // Format rules do not refuse at New.
  s = audioSettings(2, 0, 11, 2, 0);
  mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, 48000);
  EXPECT_NE(e, nullptr);
  mpegOutAudioFree(e);
  mpegOutAudioFree(nullptr);
}

TEST(FerruleInstance, InitNeedsChunksThatHoldTheLargestFrame) {
  TempDir dir;
  const mpeg_a_settings s = audioSettings(2, 0, 11);
  for (std::uint32_t buffer : {731u, 732u}) {
    printed().clear();
    mpeg_a_encoder* e = mpegOutAudioNew(collectingRc, &s, 0, 0, 44100);
    ASSERT_NE(e, nullptr);
    bufstream* out = open_file_buf_write(dir.file("o.mp2").c_str(), buffer, nullptr);
    const bool fits = buffer >= 732;
    EXPECT_EQ(mpegOutAudioInit(e, out), fits ? 0 : 2) << buffer;
    EXPECT_EQ(printed().errors.empty(), fits);
    EXPECT_EQ(put(e, tone(1152, 2)), fits ? 0 : 2) << "a failed Init leaves the encoder closed";
    EXPECT_EQ(mpegOutAudioDone(e, 0), 0);
    mpegOutAudioFree(e);
    EXPECT_EQ(close_file_buf(out, 0), 0);
  }
}

TEST(FerruleInstance, FramesCarryTheStandardLengthsPaddingAndTimes) {
  struct Case {
    int rate;
    int code;
    std::vector<std::uint32_t> lengths;  // the lengths a frame may have
    double ticksPerFrame;
  };
  const Case cases[] = {
      {44100, 11, {731, 732}, 1152 * 27e6 / 44100},
      {48000, 11, {672}, 1152 * 27e6 / 48000},
      {32000, 14, {1728}, 1152 * 27e6 / 32000},
  };
  for (const Case& c : cases) {
    FifoOutput out;
    const mpeg_a_settings s = audioSettings(2, 0, c.code);
    mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, c.rate);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    ASSERT_EQ(put(e, tone(1152 * 70, 2)), 0);
    ASSERT_EQ(mpegOutAudioDone(e, 0), 0);
    mpegOutAudioFree(e);
    const auto& frames = out.consumer.frames;
    ASSERT_EQ(frames.size(), 70u) << "whole frames in, the same number out";
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
      const auto& f = frames[k];
      EXPECT_NE(std::find(c.lengths.begin(), c.lengths.end(), f.length), c.lengths.end());
      EXPECT_EQ(f.header[5], static_cast<std::int32_t>(f.length - c.lengths[0])) << "padding";
      ASSERT_EQ(f.bytes.size(), f.length) << "each notice follows its whole frame";
      EXPECT_EQ(f.bytes[0], 0xFF);
      EXPECT_EQ(f.bytes[2] >> 4, c.code);
      EXPECT_EQ((f.bytes[2] >> 1) & 1, f.header[5]);
      EXPECT_NEAR(static_cast<double>(f.timestamp), static_cast<double>(k) * c.ticksPerFrame, 1.0);
      EXPECT_LE(static_cast<double>(f.timestamp), static_cast<double>(k) * c.ticksPerFrame);
      total += f.length;
    }
    if (c.rate == 44100) {
      EXPECT_EQ(total, 10u * 5120u) << "731.43 slots per frame on average";
    }
    EXPECT_EQ(frames[0].header[0], 1);
    EXPECT_EQ(frames[0].header[1], 2);
    EXPECT_EQ(frames[0].header[3], c.code);
    // Every frame is announced before its header and after its last byte.
    for (std::size_t i = 0; i < out.consumer.ids.size(); ++i)
      EXPECT_EQ(out.consumer.ids[i], i % 2 == 0 ? 0xFFF00000u : 0xF0002u);
  }
}

TEST(FerruleInstance, StagingKeepsPartFramesUntilFlushOrDone) {
  const mpeg_a_settings s = audioSettings(2, 0, 11);
  {
    // 1000 stereo samples, then a flush: one frame padded with silence; the stream stays open.
    FifoOutput out;
    mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    ASSERT_EQ(put(e, tone(1000, 2)), 0);
    EXPECT_EQ(out.consumer.frames.size(), 0u);
    ASSERT_EQ(mpegOutAudioPutBytes(e, nullptr, 0), 0);
    EXPECT_EQ(out.consumer.frames.size(), 1u);
    ASSERT_EQ(mpegOutAudioPutBytes(e, nullptr, 0), 0);
    EXPECT_EQ(out.consumer.frames.size(), 1u) << "nothing staged, nothing written";
    ASSERT_EQ(put(e, tone(1152, 2)), 0);
    EXPECT_EQ(out.consumer.frames.size(), 2u);
    EXPECT_EQ(mpegOutAudioDone(e, 0), 0);
    EXPECT_EQ(out.consumer.frames.size(), 2u);
    mpegOutAudioFree(e);
  }
  {
    // Three bytes stage one sample; the odd byte is dropped. Done encodes it.
    FifoOutput out;
    printed().clear();
    mpeg_a_encoder* e = mpegOutAudioNew(collectingRc, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    const std::uint8_t bytes[3] = {1, 2, 3};
    ASSERT_EQ(mpegOutAudioPutBytes(e, bytes, 3), 0);
    EXPECT_EQ(mpegOutAudioDone(e, 0), 0);
    EXPECT_EQ(out.consumer.frames.size(), 1u);
    EXPECT_EQ(printed().infos.back().rfind("Avg slots/frame = ", 0), 0u);
    mpegOutAudioFree(e);
  }
  {
    // Done with abort encodes nothing; without samples Done says so.
    FifoOutput out;
    printed().clear();
    mpeg_a_encoder* e = mpegOutAudioNew(collectingRc, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    ASSERT_EQ(put(e, tone(1000, 2)), 0);
    EXPECT_EQ(mpegOutAudioDone(e, 1), 0);
    EXPECT_EQ(out.consumer.frames.size(), 0u);
    mpegOutAudioFree(e);
    e = mpegOutAudioNew(collectingRc, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    EXPECT_EQ(mpegOutAudioDone(e, 0), 0);
    EXPECT_EQ(printed().infos, std::vector<std::string>{"Avg slots/frame = no frame encoded"});
    mpegOutAudioFree(e);
  }
}

TEST(FerruleInstance, LayerOneTakesFramesOf384AndPadsWholeSlots) {
  FifoOutput out;
  const mpeg_a_settings s = audioSettings(1, 3, 6, 1);
  mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, 44100);
  ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
  ASSERT_EQ(put(e, tone(384 * 20, 1)), 0);
  ASSERT_EQ(mpegOutAudioDone(e, 0), 0);
  mpegOutAudioFree(e);
  ASSERT_EQ(out.consumer.frames.size(), 20u);
  for (const auto& f : out.consumer.frames) {
    EXPECT_EQ(f.length % 4, 0u);
    EXPECT_TRUE(f.length == 208 || f.length == 212) << f.length;  // 192 kbps at 44.1 kHz
    EXPECT_EQ(f.bytes.size(), f.length);
  }
}

TEST(FerruleInstance, WriteFailuresAreReportedByPutAndByDone) {
  const mpeg_a_settings s = audioSettings(2, 0, 11);
  {
    // Nobody drains this fifo: the third frame's next chunk cannot be had.
    FifoOutput out(3000, 1001);
    out.consumer.drain = false;
    printed().clear();
    mpeg_a_encoder* e = mpegOutAudioNew(collectingRc, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    EXPECT_EQ(put(e, tone(1152 * 3, 2)), 0) << "the failure shows at the next frame";
    EXPECT_EQ(put(e, tone(1152, 2)), 2);
    EXPECT_EQ(printed().errors, std::vector<std::string>{"A002:Could not write to audio file"});
    EXPECT_EQ(put(e, tone(1152, 2)), 2) << "and again for every later frame";
    EXPECT_EQ(mpegOutAudioDone(e, 0), 2);
    mpegOutAudioFree(e);
  }
  {
    // Here the frame that fails is the last one, encoded by Done itself.
    FifoOutput out(3000, 1001);
    out.consumer.drain = false;
    mpeg_a_encoder* e = mpegOutAudioNew(nullptr, &s, 0, 0, 44100);
    ASSERT_EQ(mpegOutAudioInit(e, out.writer), 0);
    EXPECT_EQ(put(e, tone(1152 * 2 + 500, 2)), 0);
    EXPECT_EQ(mpegOutAudioDone(e, 0), 2) << "a lost last frame is not success";
    mpegOutAudioFree(e);
  }
}

}  // namespace
