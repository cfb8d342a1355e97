// SPDX-License-Identifier: GPL-2.0-or-later
// Presets and the settings checks, through the exported functions, with the messages the
// caller's printer receives.
#include <gtest/gtest.h>

#include <cstring>

#include "corvel_support.h"

namespace quillion::test::corvel {
namespace {

struct PresetRow {
  std::int32_t preset;
  const char* title;
  std::int32_t muxType;
  std::int32_t sectorSize;
  std::int32_t muxRate;
  std::int32_t vbr;
  std::int32_t videoBuffer;
  std::int32_t endFlags;  // reset_clocks, write_end_codes and set_broken_link alike
};

const PresetRow kPresets[] = {
    {0, "MPEG-1 System, MPEG Muxer", 0, 2048, 0, 1, 0, 1},
    {1, "VCD, MPEG Muxer", 1, 2324, 3528, 0, 46, 1},
    {4096, "VCD, MPEG Muxer", 1, 2324, 3528, 0, 46, 1},
    {2, "MPEG-2 Program, MPEG Muxer", 2, 2048, 0, 1, 0, 1},
    {3, "SVCD, MPEG Muxer", 3, 2324, 6972, 1, 230, 1},
    {4097, "SVCD, MPEG Muxer", 3, 2324, 6972, 1, 230, 1},
    {4, "DVD, MPEG Muxer", 4, 2048, 25200, 1, 232, 0},
    {4113, "DVD, MPEG Muxer", 13, 2048, 25200, 1, 46, 0},
    {65536, "MPEG-2 Transport, MPEG Muxer", 5, 188, 0, 0, 0, 1},
    {11, "ATSC, MPEG Muxer", 11, 188, 48481, 0, 0, 1},
    {4145, "HDV HD2, MPEG Muxer", 19, 188, 0, 0, 0, 1},
};

TEST(CorvelPresets, RowsGiveTheirRecordAndTitle) {
  for (const PresetRow& row : kPresets) {
    SCOPED_TRACE(row.preset);
    mpeg_m_settings s;
    std::memset(&s, 0x5A, sizeof s);
    const char* title = mpegOutMuxDefaults(&s, row.preset);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, row.title);
    EXPECT_EQ(s.mux_type, row.muxType);
    EXPECT_EQ(s.sector_size, row.sectorSize);
    EXPECT_EQ(s.mux_rate, row.muxRate);
    EXPECT_EQ(s.vbr, row.vbr);
    EXPECT_EQ(s.video_buffer_size, row.videoBuffer);
    EXPECT_EQ(s.reset_clocks, row.endFlags);
    EXPECT_EQ(s.write_end_codes, row.endFlags);
    EXPECT_EQ(s.set_broken_link, row.endFlags);
    EXPECT_EQ(s.packets_per_pack, 1);
    EXPECT_EQ(s.reserved1, 0);
    printed().clear();
    EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &s, 0), 0);
    EXPECT_TRUE(printed().errors.empty());
  }
}

TEST(CorvelPresets, ProfilesWithoutARowLeaveACleanedRecord) {
  for (std::int32_t preset : {6, 38, 65792, -1}) {
    SCOPED_TRACE(preset);
    mpeg_m_settings s;
    std::memset(&s, 0x5A, sizeof s);
    EXPECT_EQ(mpegOutMuxDefaults(&s, preset), nullptr);
    mpeg_m_settings expected{};
    expected.packets_per_pack = 1;
    expected.write_program_end_codes = 1;
    expected.mux_type = 7;
    EXPECT_EQ(std::memcmp(&s, &expected, sizeof s), 0);
  }
  EXPECT_EQ(mpegOutMuxDefaults(nullptr, 1), nullptr);
}

mpeg_m_settings preset(std::int32_t p) {
  mpeg_m_settings s{};
  mpegOutMuxDefaults(&s, p);
  return s;
}

struct RangeCase {
  const char* what;
  std::int32_t base;
  void (*change)(mpeg_m_settings&);
  std::int32_t code;
  const char* message;
};

const RangeCase kRangeCases[] = {
    {"type", 2, [](mpeg_m_settings& s) { s.mux_type = 38; }, 0x80000,
     "M057:Invalid mux type setting (38), range is 0 .. 37"},
    {"pulldown", 2, [](mpeg_m_settings& s) { s.pulldown = 8; }, 0x80001,
     "M058:Invalid mux pulldown setting (8), range is 0 .. 7"},
    {"pulldown MPEG-1", 1, [](mpeg_m_settings& s) { s.pulldown = 2; }, 0x80002,
     "M059:Invalid mux pulldown setting (2) for MPEG1, should be 0"},
    {"audio pad", 1, [](mpeg_m_settings& s) { s.vcd_audio_pad = 2; }, 0x80004,
     "M061:Invalid mux VCD audio pad setting (2), range is 0 .. 1"},
    {"audio pad non-VCD", 0, [](mpeg_m_settings& s) { s.vcd_audio_pad = 1; }, 0x80005,
     "M062:Invalid mux VCD audio pad setting (1) for non-VCD, should be 0"},
    {"align", 2, [](mpeg_m_settings& s) { s.align_sequence_headers = 2; }, 0x80006,
     "M063:Invalid mux align sequence header setting (2), range is 0 .. 1"},
    {"rate", 2, [](mpeg_m_settings& s) { s.mux_rate = -1; }, 0x80007,
     "M064:Invalid mux rate (-1), should be >= 0"},
    {"bit rate", 2, [](mpeg_m_settings& s) { s.mux_rate_bps = -5; }, 0x80007,
     "M064:Invalid mux rate (-5), should be >= 0"},
    {"MPEG-1 sector", 0, [](mpeg_m_settings& s) { s.sector_size = 285; }, 0x80008,
     "M065:Invalid mux sector size (285) for MPEG1, range is 286 .. 4096"},
    {"MPEG-2 sector", 2, [](mpeg_m_settings& s) { s.sector_size = 4097; }, 0x80008,
     "M066:Invalid mux sector size (4097) for MPEG2, range is 290 .. 4096"},
    {"transport sector", 5, [](mpeg_m_settings& s) { s.sector_size = 204; }, 0x80008,
     "M093:Invalid mux sector size (204) for MPEG2 transport streams, should be 188"},
    {"packets", 0, [](mpeg_m_settings& s) { s.packets_per_pack = 15; }, 0x80009,
     "M067:Invalid mux packets per pack setting (15), range is 1 .. 14"},
    {"transport packets", 5, [](mpeg_m_settings& s) { s.packets_per_pack = 2; }, 0x80009,
     "M094:Invalid mux packets per pack setting (2) for transport streams, should be 1"},
    {"delays", 2,
     [](mpeg_m_settings& s) { s.video_delay = s.audio1_delay = s.audio2_delay = 1001; }, 0x8000A,
     "M068:Invalid mux audio/video/pack delay settings (v1001, a11001, a21001, p0), one of the "
     "audio or video delays should be <= pack delay + 1000"},
    {"HD2 delays", 19, [](mpeg_m_settings& s) { s.video_delay = 399; }, 0x8000A,
     "M068:Mux audio/video settings (v399, a1400) to low fo HD2, should be >= 400ms to avoid "
     "illegal timing "},
    {"audio1 buffer", 2, [](mpeg_m_settings& s) { s.audio1_buffer_size = 8192; }, 0x8000B,
     "M069:Invalid mux audio1 buffer size (8192), range is 0 .. 8191"},
    {"audio2 buffer", 2, [](mpeg_m_settings& s) { s.audio2_buffer_size = 8192; }, 0x8000C,
     "M070:Invalid mux audio2 buffer size (8192), range is 0 .. 8191"},
    {"video buffer", 2, [](mpeg_m_settings& s) { s.video_buffer_size = 9000; }, 0x8000D,
     "M071:Invalid mux video buffer size (9000), range is 0 .. 8191"},
    {"vbr", 2, [](mpeg_m_settings& s) { s.vbr = 2; }, 0x8000E,
     "M072:Invalid VBR/CBR mux type (2), should be 0 or 1"},
    {"transport vbr", 5, [](mpeg_m_settings& s) { s.vbr = 1; }, 0x8001C,
     "M102:Invalid VBR mux type (1) for transport stream, should be 0"},
    {"program end", 2, [](mpeg_m_settings& s) { s.write_program_end_codes = 2; }, 0x8000F,
     "M073:Invalid mux write program end codes setting (2), range is 0 .. 1"},
    {"scan offsets", 3, [](mpeg_m_settings& s) { s.svcd_scan_offsets = 3; }, 0x80010,
     "M074:Invalid mux SVCD scan offsets setting (3), range is 0 .. 1)"},
    {"scan without align", 3, [](mpeg_m_settings& s) { s.align_sequence_headers = 0; }, 0x80011,
     "M075:Invalid mux SVCD scan offsets (1) and align sequence header (0) combination, the SVCD "
     "scan offsets setting requires the align sequence header setting to be set"},
    {"private 2", 4, [](mpeg_m_settings& s) { s.private_stream_2 = 2; }, 0x80012,
     "M076:Invalid mux private stream 2 setting (2), range is 0 .. 1"},
    {"private 2 non-DVD", 2, [](mpeg_m_settings& s) { s.private_stream_2 = 1; }, 0x80013,
     "M077:Invalid mux private stream 2 (1) and multiplex type (2) combination, private stream 2 "
     "should only be used for DVD muxing"},
    {"frame stamps", 2, [](mpeg_m_settings& s) { s.frame_timestamps = 3; }, 0x80014,
     "M078:Invalid mux frame timestamp setting (3), range is 0 .. 2"},
    {"file size", 2, [](mpeg_m_settings& s) { s.max_file_size = 4097; }, 0x80015,
     "M079:Invalid mux maximum file size (4097), range is 0 .. 4096"},
    {"reset clocks", 2, [](mpeg_m_settings& s) { s.reset_clocks = 2; }, 0x80017,
     "M081:Invalid mux reset clocks setting (2), range is 0 .. 1"},
    {"end codes", 2, [](mpeg_m_settings& s) { s.write_end_codes = 2; }, 0x80018,
     "M082:Invalid mux write end codes setting (2), range is 0 .. 1"},
    {"broken link", 2, [](mpeg_m_settings& s) { s.set_broken_link = 2; }, 0x80019,
     "M083:Invalid mux set broken link setting (2), range is 0 .. 1"},
};

TEST(CorvelChecks, EachRangeRuleGivesItsCodeAndMessage) {
  for (const RangeCase& c : kRangeCases) {
    SCOPED_TRACE(c.what);
    mpeg_m_settings s = preset(c.base);
    c.change(s);
    for (std::int32_t options : {0, 1}) {
      printed().clear();
      EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &s, options), c.code);
      ASSERT_EQ(printed().errors.size(), 1u);
      EXPECT_EQ(printed().errors[0], c.message);
    }
    EXPECT_EQ(mpegOutMuxCheckSettings(&s), c.code);
    // New refuses range violations.
    printed().clear();
    EXPECT_EQ(mpegOutMuxNew(collectingRc, &s), nullptr);
    EXPECT_EQ(printed().errors.size(), 1u);
  }
}

struct ProfileCase {
  const char* what;
  std::int32_t base;
  void (*change)(mpeg_m_settings&);
  std::int32_t code;
  const char* message;
};

const ProfileCase kProfileCases[] = {
    {"VCD pack", 1, [](mpeg_m_settings& s) { s.sector_size = 2048; }, 0x400,
     "M035:Invalid mux pack size (2048) for VCD, should be 2324"},
    {"VCD packets", 1, [](mpeg_m_settings& s) { s.packets_per_pack = 2; }, 0x401,
     "M036:Invalid mux packets per pack setting (2) for VCD, should be 1"},
    {"VCD audio buffer", 1, [](mpeg_m_settings& s) { s.audio1_buffer_size = 8; }, 0x402,
     "M037:Invalid mux audio1 buffer size (8) for VCD, should be 4"},
    {"VCD video buffer", 1, [](mpeg_m_settings& s) { s.video_buffer_size = 40; }, 0x403,
     "M038:Invalid mux video buffer size (40) for VCD, should be 46"},
    {"VCD rate", 1, [](mpeg_m_settings& s) { s.mux_rate = 3000; }, 0x404,
     "M039:Invalid mux rate (3000) for VCD, should be 3528"},
    {"VCD stamps", 1, [](mpeg_m_settings& s) { s.frame_timestamps = 1; }, 0x405,
     "M040:Invalid mux frame timestamps for VCD, should be all frames"},
    {"VCD vbr", 1, [](mpeg_m_settings& s) { s.vbr = 1; }, 0x406,
     "M041:Invalid mux VBR multiplex (enabled) for VCD, should be CBR (disabled)"},
    {"SVCD pack", 3, [](mpeg_m_settings& s) { s.sector_size = 2048; }, 0x2000,
     "M042:Invalid mux pack size (2048) for SVCD, should be 2324"},
    {"SVCD packets", 3, [](mpeg_m_settings& s) { s.packets_per_pack = 2; }, 0x2001,
     "M043:Invalid mux packets per pack setting (2) for SVCD, should be 1"},
    {"SVCD audio1", 3, [](mpeg_m_settings& s) { s.audio1_buffer_size = 5; }, 0x2002,
     "M044:Invalid mux audio1 buffer size (5) for SVCD, should be 4"},
    {"SVCD audio2", 3, [](mpeg_m_settings& s) { s.audio2_buffer_size = 5; }, 0x2003,
     "M045:Invalid mux audio2 buffer size (5) for SVCD, should be 4"},
    {"SVCD video", 3, [](mpeg_m_settings& s) { s.video_buffer_size = 224; }, 0x2004,
     "M046:Invalid mux video buffer size (224) for SVCD, should be 230"},
    {"SVCD rate", 3,
     [](mpeg_m_settings& s) {
       s.mux_rate = 7000;
       s.mux_rate_bps = 2800000;
     },
     0x2005, "M047:Invalid mux rate (7000) for SVCD, should be <= 6972"},
    {"SVCD scan", 3, [](mpeg_m_settings& s) { s.svcd_scan_offsets = 0; }, 0x2006,
     "M048:Invalid mux SVCD scan offsets setting (disabled) for SVCD, should be enabled"},
    {"DVD pack", 4, [](mpeg_m_settings& s) { s.sector_size = 2324; }, 0x10000,
     "M049:Invalid mux pack size (2324) for DVD, should be 2048"},
    {"DVD packets", 4, [](mpeg_m_settings& s) { s.packets_per_pack = 2; }, 0x10001,
     "M050:Invalid mux packets per pack setting (2) for DVD, should be 1"},
    {"DVD audio1", 4, [](mpeg_m_settings& s) { s.audio1_buffer_size = 8; }, 0x10002,
     "M051:Invalid mux audio1 buffer size (8) for DVD, should be 4 for MPEG audio or 58 for AC3 "
     "audio"},
    {"DVD audio2", 4, [](mpeg_m_settings& s) { s.audio2_buffer_size = 8; }, 0x10003,
     "M052:Invalid mux audio2 buffer size (8) for DVD, should be 4 for MPEG audio or 58 for AC3 "
     "audio"},
    {"DVD video", 4, [](mpeg_m_settings& s) { s.video_buffer_size = 46; }, 0x10004,
     "M053:Invalid mux video buffer size (46) for DVD, should be 232"},
    {"MPEG-1 DVD video", 13, [](mpeg_m_settings& s) { s.video_buffer_size = 232; }, 0x10009,
     "M095:Invalid mux video buffer size (232) for MPEG-1 DVD, should be 46"},
    {"DVD rate", 4, [](mpeg_m_settings& s) { s.mux_rate = 20000; }, 0x10005,
     "M054:Invalid mux rate (20000) for DVD, should be 25200"},
    {"DVD align", 4, [](mpeg_m_settings& s) { s.align_sequence_headers = 0; }, 0x10006,
     "M055:Invalid mux align sequence headers setting (disabled) for DVD, should be enabled"},
    {"DVD private 2", 4, [](mpeg_m_settings& s) { s.private_stream_2 = 0; }, 0x10007,
     "M056:Invalid mux private 2 setting (disabled) for DVD, should be enabled"},
    {"DVB rate", 8,
     [](mpeg_m_settings& s) {
       s.mux_rate = 70001;
       s.mux_rate_bps = 28000001;
     },
     0x12201, "M096:Mux rate (70001) may be too high for DVB, should be <= 70000"},
    {"DVHS rate", 10,
     [](mpeg_m_settings& s) {
       s.mux_rate = 96964;
       s.mux_rate_bps = 38785201;
     },
     0x14201, "M097:Mux rate (96964) may be too high for DVHS, should be <= 96963"},
    {"ATSC rate", 11, [](mpeg_m_settings& s) { ++s.mux_rate, ++s.mux_rate_bps; }, 0x15201,
     "M100:Mux rate (48482) may be too high for ATSC, should be <= 48481"},
    {"ATSC-HI rate", 12, [](mpeg_m_settings& s) { ++s.mux_rate, ++s.mux_rate_bps; }, 0x15202,
     "M101:Mux rate (96964) may be too high for ATSC-HI, should be <= 96963"},
    {"HDV HD1 rate", 18,
     [](mpeg_m_settings& s) {
       s.mux_rate = 49626;
       s.mux_rate_bps = 19850001;
     },
     0x16201, "M098:Mux rate (49626) may be too high for HDV HD1, should be <= 49625"},
    {"HDV HD2 rate", 19,
     [](mpeg_m_settings& s) {
       s.mux_rate = 82501;
       s.mux_rate_bps = 33000001;
     },
     0x16202, "M099:Mux rate (82501) may be too high for HDV HD2, should be <= 82500"},
    {"CableLabs rate", 24,
     [](mpeg_m_settings& s) {
       s.mux_rate = 47501;
       s.mux_rate_bps = 19000001;
     },
     0x17200, "M103:Mux rate (47501) may be too high for CableLabs, should be <= 47500"},
};

TEST(CorvelChecks, EachProfileRuleGivesItsCodeAndMessage) {
  for (const ProfileCase& c : kProfileCases) {
    SCOPED_TRACE(c.what);
    mpeg_m_settings s = preset(c.base);
    c.change(s);
    printed().clear();
    EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &s, 0), c.code);
    ASSERT_EQ(printed().errors.size(), 1u);
    EXPECT_EQ(printed().errors[0], c.message);
    // The range-only check passes it, and New accepts a deviation.
    printed().clear();
    EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &s, MPEG_M_CHECK_RANGE_ONLY), 0);
    EXPECT_TRUE(printed().errors.empty());
    mpeg_m_muxer* mux = mpegOutMuxNew(collectingRc, &s);
    EXPECT_NE(mux, nullptr);
    mpegOutMuxFree(mux);
  }
}

TEST(CorvelChecks, OptionsDecideHowFarTheCheckGoes) {
  mpeg_m_settings vcd = preset(1);
  vcd.sector_size = 2048;
  vcd.vbr = 1;
  struct Row {
    std::int32_t options;
    std::int32_t result;
    std::vector<std::string> prefixes;
  };
  const Row rows[] = {{1, 0, {}}, {3, 0, {}}, {0, 0x400, {"M035"}}, {2, 0x400, {"M035", "M041"}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.options);
    printed().clear();
    EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &vcd, r.options), r.result);
    ASSERT_EQ(printed().errors.size(), r.prefixes.size());
    for (std::size_t i = 0; i < r.prefixes.size(); ++i)
      EXPECT_EQ(printed().errors[i].substr(0, 4), r.prefixes[i]);
  }
  // An unknown type is transport for the later rules: a 2048-byte sector is a second finding.
  mpeg_m_settings odd = preset(2);
  odd.mux_type = 38;
  printed().clear();
  EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &odd, 2), 0x80000);
  ASSERT_EQ(printed().errors.size(), 3u);
  EXPECT_EQ(printed().errors[1],
            "M093:Invalid mux sector size (2048) for MPEG2 transport streams, should be 188");
  EXPECT_EQ(printed().errors[2].substr(0, 4), "M102");
}

TEST(CorvelChecks, RatesInEitherUnitSatisfyTheProfile) {
  mpeg_m_settings vcd = preset(1);
  vcd.mux_rate = 0;
  vcd.mux_rate_bps = 1411200;
  EXPECT_EQ(mpegOutMuxCheckSettings(&vcd), 0);
  mpeg_m_settings svcd = preset(3);
  svcd.mux_rate = 7000;
  EXPECT_EQ(mpegOutMuxCheckSettings(&svcd), 0);
  mpeg_m_settings dvhs = preset(10);
  dvhs.mux_rate = 75000;
  dvhs.mux_rate_bps = 30000000;
  EXPECT_EQ(mpegOutMuxCheckSettings(&dvhs), 0);
}

TEST(CorvelChecks, MxfAndNullSettings) {
  mpeg_m_settings s = preset(65536);
  s.mux_type = 28;
  printed().clear();
  EXPECT_EQ(mpegOutMuxCheckFirst(collectingRc, &s), 0);
  EXPECT_TRUE(printed().errors.empty());
  EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, &s, 0), 0x80000);
  ASSERT_EQ(printed().errors.size(), 1u);
  EXPECT_EQ(printed().errors[0], "M108:MXF muxing is not available");
  printed().clear();
  EXPECT_EQ(mpegOutMuxNew(collectingRc, &s), nullptr);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"M108:MXF muxing is not available"});

  printed().clear();
  EXPECT_EQ(mpegOutMuxChkSettings(collectingRc, nullptr, 0), 16);
  EXPECT_EQ(mpegOutMuxCheckFirst(collectingRc, nullptr), 16);
  EXPECT_EQ(mpegOutMuxCheckSettings(nullptr), 16);
  EXPECT_EQ(printed().errors, (std::vector<std::string>{"M084:Invalid mpeg_m_settings parameter",
                                                        "M084:Invalid mpeg_m_settings parameter"}));
  EXPECT_EQ(mpegOutMuxCheckNext(), 0);
  EXPECT_STREQ(mpegOutMuxGetLastErrString(), "");
}

TEST(CorvelChecks, NoMultiplexingPassesTheCheckButMakesNoInstance) {
  mpeg_m_settings s = preset(6);
  ASSERT_EQ(s.mux_type, 7);
  EXPECT_EQ(mpegOutMuxCheckSettings(&s), 0);
  printed().clear();
  EXPECT_EQ(mpegOutMuxNew(collectingRc, &s), nullptr);
  EXPECT_TRUE(printed().errors.empty());
  EXPECT_EQ(mpegOutMuxNew(collectingRc, nullptr), nullptr);
}

}  // namespace
}  // namespace quillion::test::corvel
