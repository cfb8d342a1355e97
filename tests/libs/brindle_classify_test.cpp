// SPDX-License-Identifier: GPL-2.0-or-later
// The stream-type code over a table of record facts, and the stream arithmetic routines.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "brindle.h"
#include "classify.h"
#include "session.h"
#include "stream_math.h"

namespace quillion::brindle {
namespace {

struct SessionDeleter {
  void operator()(mpeg_in_info* r) const { mpegInFree(r); }
};
using Session = std::unique_ptr<mpeg_in_info, SessionDeleter>;

Session newSession() {
  return Session(mpegInNew(nullptr, nullptr));
}

void vcd(mpeg_in_info* r) {
  r->video_available = 1;
  r->mpeg2 = 0;
  r->width = 352;
  r->height = 288;
  r->frame_rate_code = 3;
  r->constrained_parameters_flag = 1;
  r->bit_rate = 1150000.0;
  r->audio_available = 1;
  r->audio_stream_count = 1;
  r->audio_layer = 2;
  r->audio_mode = 0;
  r->audio_bit_rate_index = 11;
  r->sample_rate = 44100;
  r->system_stream_type = 1;
}

void dvd(mpeg_in_info* r) {
  r->video_available = 1;
  r->mpeg2 = 1;
  r->width = 720;
  r->height = 576;
  r->frame_rate_code = 3;
  r->gop_length = 15;
  r->anchor_distance = 3;
  r->profile = 4;
  r->level = 8;
  r->aspect_ratio_information = 2;
  r->bit_rate = 9800000.0;
  r->chroma_format = 1;
  r->audio_available = 1;
  r->audio_stream_count = 1;
  r->audio_layer = 2;
  r->audio_mode = 0;
  r->audio_bit_rate_index = 12;
  r->sample_rate = 48000;
  r->system_stream_type = 2;
}

void svcd(mpeg_in_info* r) {
  dvd(r);
  r->width = 480;
  r->vbv_buffer_size_value = 112;
  r->sample_rate = 44100;
  r->audio_bit_rate_index = 10;
}

void hd720(mpeg_in_info* r) {
  dvd(r);
  r->width = 1280;
  r->height = 720;
  r->frame_rate_code = 6;
  r->level = 6;
  r->progressive_sequence = 1;
  r->aspect_ratio_information = 3;
  r->bit_rate = 19000000.0;
  r->system_stream_type = 3;
}

void intra422(mpeg_in_info* r) {
  dvd(r);
  r->audio_available = 0;
  r->height = 608;
  r->profile = 7;
  r->chroma_format = 2;
  r->gop_length = 1;
  r->anchor_distance = 1;
  r->bit_rate = 50000000.0;
  r->system_stream_type = 0;
}

void hd1440(mpeg_in_info* r) {
  dvd(r);
  r->audio_available = 0;
  r->width = 1440;
  r->height = 1080;
  r->aspect_ratio_information = 3;
  r->bit_rate = 25000000.0;
  r->system_stream_type = 5;
}

struct Case {
  const char* name;
  std::function<void(mpeg_in_info*)> set;
  std::uint32_t code;
};

TEST(BrindleClassify, RecordFacts) {
  const Case cases[] = {
      {"no video",
       [](mpeg_in_info* r) {
         dvd(r);
         r->video_available = 0;
       },
       0},
      {"vcd", vcd, 1},
      {"vcd without audio skips the system check",
       [](mpeg_in_info* r) {
         vcd(r);
         r->audio_available = 0;
         r->system_stream_type = 2;
       },
       1},
      {"vcd in a program stream",
       [](mpeg_in_info* r) {
         vcd(r);
         r->system_stream_type = 2;
       },
       0},
      {"vcd at 1,151,930 bit/s",
       [](mpeg_in_info* r) {
         vcd(r);
         r->bit_rate = 1151930.0;
       },
       0},
      {"vcd audio at 192 kbit/s",
       [](mpeg_in_info* r) {
         vcd(r);
         r->audio_bit_rate_index = 10;
       },
       0},
      {"vcd ntsc",
       [](mpeg_in_info* r) {
         vcd(r);
         r->height = 240;
         r->frame_rate_code = 4;
       },
       1},
      {"vcd not constrained",
       [](mpeg_in_info* r) {
         vcd(r);
         r->constrained_parameters_flag = 0;
       },
       0},
      {"dvd", dvd, 4},
      {"dvd at 9,800,001 bit/s",
       [](mpeg_in_info* r) {
         dvd(r);
         r->bit_rate = 9800001.0;
       },
       2},
      {"dvd in a transport stream",
       [](mpeg_in_info* r) {
         dvd(r);
         r->system_stream_type = 3;
       },
       2},
      {"dvd with only ac-3 audio",
       [](mpeg_in_info* r) {
         dvd(r);
         r->audio_stream_count = 0;
         r->audio_layer = 0;
       },
       4},
      {"dvd dual channel",
       [](mpeg_in_info* r) {
         dvd(r);
         r->audio_mode = 2;
       },
       2},
      {"dvd mono at 64 kbit/s",
       [](mpeg_in_info* r) {
         dvd(r);
         r->audio_mode = 3;
         r->audio_bit_rate_index = 4;
       },
       4},
      {"dvd mono at 256 kbit/s",
       [](mpeg_in_info* r) {
         dvd(r);
         r->audio_mode = 3;
         r->audio_bit_rate_index = 11;
       },
       2},
      {"dvd gop of 16",
       [](mpeg_in_info* r) {
         dvd(r);
         r->gop_length = 16;
       },
       2},
      {"dvd 352x288 16:9",
       [](mpeg_in_info* r) {
         dvd(r);
         r->width = 352;
         r->height = 288;
         r->aspect_ratio_information = 3;
       },
       2},
      {"dvd 352x240 interlaced",
       [](mpeg_in_info* r) {
         dvd(r);
         r->width = 352;
         r->height = 240;
         r->frame_rate_code = 4;
       },
       2},
      {"dvd pal colour 5",
       [](mpeg_in_info* r) {
         dvd(r);
         r->sequence_display_extension_seen = 1;
         r->colour_primaries = r->transfer_characteristics = 5;
         r->matrix_coefficients = 5;
         r->display_horizontal_size = 720;
         r->display_vertical_size = 576;
       },
       2},
      {"dvd pal colour 4 and 6",
       [](mpeg_in_info* r) {
         dvd(r);
         r->sequence_display_extension_seen = 1;
         r->colour_primaries = 4;
         r->transfer_characteristics = 6;
         r->matrix_coefficients = 6;
         r->display_horizontal_size = 540;
         r->display_vertical_size = 576;
       },
       4},
      {"dvd display height differs",
       [](mpeg_in_info* r) {
         dvd(r);
         r->sequence_display_extension_seen = 1;
         r->colour_primaries = r->transfer_characteristics = 6;
         r->matrix_coefficients = 6;
         r->display_horizontal_size = 720;
         r->display_vertical_size = 480;
       },
       2},
      {"dvd centre offset too far",
       [](mpeg_in_info* r) {
         dvd(r);
         r->picture_display_extension_seen = 1;
         r->frame_centre_horizontal_offset[2] = -1441;
       },
       2},
      {"dvd centre offset at the limit",
       [](mpeg_in_info* r) {
         dvd(r);
         r->picture_display_extension_seen = 1;
         r->frame_centre_horizontal_offset[0] = 1440;
       },
       4},
      {"dvd vertical centre offset",
       [](mpeg_in_info* r) {
         dvd(r);
         r->picture_display_extension_seen = 1;
         r->frame_centre_vertical_offset[1] = 1;
       },
       2},
      {"svcd", svcd, 3},
      {"svcd gop of 16",
       [](mpeg_in_info* r) {
         svcd(r);
         r->gop_length = 16;
       },
       2},
      {"svcd progressive",
       [](mpeg_in_info* r) {
         svcd(r);
         r->progressive_sequence = 1;
       },
       2},
      {"svcd crc-less audio",
       [](mpeg_in_info* r) {
         svcd(r);
         r->audio_protection_bit = 1;
       },
       2},
      {"svcd mono at 224 kbit/s",
       [](mpeg_in_info* r) {
         svcd(r);
         r->audio_mode = 3;
         r->audio_bit_rate_index = 11;
       },
       2},
      {"svcd at 48 kHz",
       [](mpeg_in_info* r) {
         svcd(r);
         r->sample_rate = 48000;
       },
       2},
      {"720x576 at 12 Mbit/s in a transport stream",
       [](mpeg_in_info* r) {
         dvd(r);
         r->bit_rate = 12000000.0;
         r->system_stream_type = 3;
       },
       9},
      {"720x576 at 12 Mbit/s in a program stream",
       [](mpeg_in_info* r) {
         dvd(r);
         r->bit_rate = 12000000.0;
       },
       2},
      {"hd 720p", hd720, 18},
      {"hd 720p without mpeg audio",
       [](mpeg_in_info* r) {
         hd720(r);
         r->audio_stream_count = 0;
       },
       10},
      {"hd 720p at 19,850,001 bit/s",
       [](mpeg_in_info* r) {
         hd720(r);
         r->bit_rate = 19850001.0;
       },
       10},
      {"hd 720p interlaced",
       [](mpeg_in_info* r) {
         hd720(r);
         r->progressive_sequence = 0;
       },
       2},
      {"hd 1080 at 25 Mbit/s",
       [](mpeg_in_info* r) {
         hd1440(r);
         r->system_stream_type = 3;
         r->audio_available = 1;
       },
       19},
      {"hd 1080 mxf", hd1440, 32},
      {"hd 1080 mxf vbr 35",
       [](mpeg_in_info* r) {
         hd1440(r);
         r->bit_rate = 35000000.0;
         r->vbv_delay = 0xFFFF;
       },
       34},
      {"hd 1080 mxf vbr 17.5",
       [](mpeg_in_info* r) {
         hd1440(r);
         r->bit_rate = 17500000.0;
         r->vbv_delay = 0xFFFF;
       },
       33},
      {"hd 540 mxf",
       [](mpeg_in_info* r) {
         hd1440(r);
         r->height = 540;
         r->bit_rate = 12500000.0;
       },
       35},
      {"hd 1920",
       [](mpeg_in_info* r) {
         hd720(r);
         r->width = 1920;
         r->height = 1080;
         r->system_stream_type = 3;
       },
       10},
      {"4:2:2 intra 50", intra422, 23},
      {"4:2:2 intra 30 mxf",
       [](mpeg_in_info* r) {
         intra422(r);
         r->bit_rate = 30000000.0;
         r->system_stream_type = 6;
       },
       29},
      {"4:2:2 intra long gop",
       [](mpeg_in_info* r) {
         intra422(r);
         r->gop_length = 2;
       },
       2},
  };
  for (const Case& c : cases) {
    Session s = newSession();
    c.set(s.get());
    classify_stream(s.get());
    EXPECT_EQ(s->stream_type_code, c.code) << c.name;
  }
}

TEST(BrindleStreamMath, BigEndianWords) {
  const std::uint8_t bytes[] = {0x81, 0x02, 0x03, 0x04};
  EXPECT_EQ(be32(bytes), 0x81020304u);
  EXPECT_EQ(be31(bytes), 0x01020304u);
}

TEST(BrindleStreamMath, SamplesFromTimeStamps) {
  struct PtsCase {
    std::uint32_t rate, perFrame;
    std::uint64_t first, last;
    std::uint64_t samples;
  };
  const PtsCase cases[] = {
      {48000, 1152, 900, 900, 0},
      {48000, 1152, 1000, 1000 + 27000000, 49536},
      {44100, 1152, 0, 27000000 / 2, 24192},  // 22,050 + 1,152 = 23,202 -> 21 frames
      {48000, 1536, 27000000, 0, 0},          // last before first: nothing
  };
  for (const PtsCase& c : cases) {
    Session s = newSession();
    s->sample_rate = c.rate;
    s->samples_per_frame = c.perFrame;
    s->first_time_stamp = c.first;
    s->last_time_stamp = c.last;
    s->audio_samples = 77;
    EXPECT_EQ(audio_samples_from_pts(s.get()), 0);
    EXPECT_EQ(s->audio_samples, c.samples) << c.rate << " " << c.last;
    EXPECT_EQ(s->audio_samples_low, static_cast<std::uint32_t>(c.samples));
    EXPECT_EQ(s->first_audio_time, c.first);
    EXPECT_EQ(s->audio_end_time, static_cast<std::int64_t>(c.last));
    EXPECT_DOUBLE_EQ(s->priv->ticks_per_sample, 27000000.0 / c.rate);
  }
}

TEST(BrindleStreamMath, NoSamplesPerFrameIsRefusedBeforeDividing) {
  for (const auto& [rate, perFrame] : {std::pair{48000u, 0u}, std::pair{0u, 1152u}}) {
    Session s = newSession();
    s->sample_rate = rate;
    s->samples_per_frame = perFrame;
    s->last_time_stamp = 27000000;
    s->audio_samples = 77;
    EXPECT_EQ(audio_samples_from_pts(s.get()), 1);
    EXPECT_EQ(s->audio_samples, 0u);
    EXPECT_EQ(s->audio_samples_low, 0u);
  }
}

}  // namespace
}  // namespace quillion::brindle
