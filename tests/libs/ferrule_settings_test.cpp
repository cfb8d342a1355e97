// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "ferrule.h"
#include "ferrule_helpers.h"
#include "ferrule_messages.h"

namespace {

using quillion::test::collectingRc;
using quillion::test::printed;

mpeg_a_settings base(int layer = 2, int mode = 0, int code = 11, int crc = 0) {
  return quillion::test::audioSettings(layer, mode, code, 2, crc);
}

// Every message starts with "A", three digits and a colon.
void expectCoded(const std::vector<std::string>& messages) {
  for (const std::string& m : messages) {
    const bool coded = m.size() > 5 && m[0] == 'A' &&
                       std::isdigit(static_cast<unsigned char>(m[1])) &&
                       std::isdigit(static_cast<unsigned char>(m[2])) &&
                       std::isdigit(static_cast<unsigned char>(m[3])) && m[4] == ':';
    EXPECT_TRUE(coded) << m;
  }
}

TEST(FerruleDefaults, PresetsFillTheRecordAndNameIt) {
  struct Case {
    int preset;
    const char* title;
    int crc;
    int code;
  };
  const Case cases[] = {
      {0, "Default, MPEG-1 Audio", 0, 11},
      {2, "Default, MPEG-1 Audio", 0, 11},
      {1, "VCD, MPEG-1 Audio", 1, 11},
      {4096, "VCD, MPEG-1 Audio", 1, 11},
      {4097, "SVCD, MPEG-1 Audio", 1, 11},
      {15, "DVD, MPEG-1 Audio", 1, 11},
      {4115, "DVD, MPEG-1 Audio", 1, 11},
      {4128, "DVB, MPEG-1 Audio", 1, 11},
      {4129, "MMV, MPEG-1 Audio", 1, 12},
      {10, "DVHS, MPEG-1 Audio", 1, 11},
      {19, "HDV, MPEG-1 Audio", 1, 14},
      {4144, "HDV, MPEG-1 Audio", 1, 14},
      {5, nullptr, 0, 11},
      {-1, nullptr, 0, 11},
  };
  for (const Case& c : cases) {
    mpeg_a_settings s;
    std::memset(&s, 0x55, sizeof s);
    const char* title = mpegOutAudioDefaults(&s, c.preset);
    if (c.title)
      EXPECT_STREQ(title, c.title) << c.preset;
    else
      EXPECT_EQ(title, nullptr) << c.preset;
    EXPECT_EQ(s.crc, c.crc) << c.preset;
    EXPECT_EQ(s.bitrate_code, c.code) << c.preset;
    EXPECT_EQ(s.audio_mode, 0);
    EXPECT_EQ(s.audio_layer, 2);
    EXPECT_EQ(s.psych_model, 2);
    EXPECT_EQ(s.emphasis + s.private_bit + s.copyright + s.original, 0);
  }
  EXPECT_EQ(mpegOutAudioDefaults(nullptr, 0), nullptr);
  static_assert(sizeof(mpeg_a_settings) == 36);
  static_assert(offsetof(mpeg_a_settings, original) == 32);
}

struct CheckCase {
  const char* what;
  mpeg_a_settings settings;
  int formatType;
  int rate;
  int expected;
  const char* message;  // null: no message
};

std::vector<CheckCase> checkCases() {
  auto with = [](mpeg_a_settings s, auto change) {
    change(s);
    return s;
  };
  const mpeg_a_settings ok = base();
  const mpeg_a_settings crcOn = base(2, 0, 11, 1);
  return {
      {"valid default", ok, 0, 44100, 0, nullptr},
      {"rate", ok, 0, 22050, 0x40009,
       "A021:Invalid audio sample rate (22050), should be 32000, 44100 or 48000"},
      {"mode", base(2, 4), 0, 44100, 0x40000, "A022:Invalid audio mode (4), range is 0 .. 3"},
      {"negative mode", base(2, -1), 0, 44100, 0x40000,
       "A022:Invalid audio mode (-1), range is 0 .. 3"},
      {"layer", base(3), 0, 44100, 0x40001, "A023:Invalid audio layer (3), range is 1 .. 2"},
      {"model", with(ok, [](auto& s) { s.psych_model = 0; }), 0, 44100, 0x40002,
       "A024:Invalid audio psychoacoustic model (0), range is 1 .. 2"},
      {"code high", base(2, 0, 15), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (15), range is 1 .. 14"},
      {"code zero", base(2, 0, 0), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (0), range is 1 .. 14"},
      {"layer I mono 64k", base(1, 3, 2), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (2), range is 3 .. 14"},
      {"layer I mono 96k", base(1, 3, 3), 0, 44100, 0, nullptr},
      {"layer I stereo 96k", base(1, 0, 3), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (3), range is 4 .. 14"},
      {"layer II stereo 56k", base(2, 1, 3), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (3), range is 4 .. 14"},
      {"layer II stereo 80k", base(2, 2, 5), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (5), range is 6 .. 14"},
      {"layer II mono 32k", base(2, 3, 1), 0, 32000, 0, nullptr},
      {"layer II mono 192k", base(2, 3, 10), 0, 48000, 0, nullptr},
      {"layer II mono 224k", base(2, 3, 11), 0, 44100, 0x40003,
       "A025:Invalid audio bitrate code (11), range is 1 .. 10"},
      {"emphasis", with(ok, [](auto& s) { s.emphasis = 2; }), 0, 44100, 0x40004,
       "A026:Invalid audio emphasis (2), should be 0, 1 or 3"},
      {"private", with(ok, [](auto& s) { s.private_bit = 2; }), 0, 44100, 0x40005,
       "A027:Invalid audio private bit (2), range is 0 .. 1"},
      {"crc", with(ok, [](auto& s) { s.crc = 2; }), 0, 44100, 0x40006,
       "A028:Invalid audio CRC state (2), range is 0 .. 1"},
      {"copyright", with(ok, [](auto& s) { s.copyright = 9; }), 0, 44100, 0x40007,
       "A029:Invalid audio copyright setting (9), range is 0 .. 1"},
      {"original", with(ok, [](auto& s) { s.original = -1; }), 0, 44100, 0x40008,
       "A030:Invalid audio original setting (-1), range is 0 .. 1"},
      // Video CD.
      {"VCD valid", ok, 1, 44100, 0, nullptr},
      {"VCD layer", base(1, 0, 11), 1, 44100, 0x200,
       "A003:Invalid audio layer (1) for VCD, should be 2"},
      {"VCD mode", base(2, 1), 1, 44100, 0x201,
       "A004:Invalid audio mode for VCD, should be stereo or mono"},
      {"VCD bitrate", base(2, 0, 12), 1, 44100, 0x202,
       "A005:Invalid audio bitrate (256 kbps) for VCD, should be 224 kbps"},
      {"VCD rate", ok, 1, 48000, 0x203,
       "A006:Invalid audio sample rate (48000) for VCD, should be 44100"},
      // Super Video CD.
      {"SVCD valid", crcOn, 3, 44100, 0, nullptr},
      {"SVCD layer", base(1, 0, 11, 1), 3, 44100, 0x1000,
       "A007:Invalid audio layer (1) for SVCD, should be 2"},
      {"SVCD crc", ok, 3, 44100, 0x1001,
       "A008:Invalid audio CRC state (disabled) for SVCD, should be enabled"},
      {"SVCD emphasis", with(crcOn, [](auto& s) { s.emphasis = 1; }), 3, 44100, 0x1002,
       "A009:Invalid audio emphasis for SVCD, should be none"},
      {"SVCD rate", crcOn, 3, 32000, 0x1004,
       "A012:Invalid audio sample rate (32000) for SVCD, should be 44100"},
      // DVD.
      {"DVD valid", crcOn, 4, 48000, 0, nullptr},
      {"DVD layer", base(1, 0, 11, 1), 13, 48000, 0x8000,
       "A013:Invalid audio layer (1) for DVD, should be 2"},
      {"DVD crc", ok, 14, 48000, 0x8001,
       "A014:Invalid audio CRC state (disabled) for DVD, should be enabled"},
      {"DVD emphasis", with(crcOn, [](auto& s) { s.emphasis = 3; }), 15, 48000, 0x8002,
       "A015:Invalid audio emphasis for DVD, should be none"},
      {"DVD private", with(crcOn, [](auto& s) { s.private_bit = 1; }), 4, 48000, 0x8003,
       "A016:Invalid private bit setting (1) for DVD, should be 0"},
      {"DVD mono bitrate", base(2, 3, 3, 1), 4, 48000, 0x8004,
       "A017:Invalid mono audio bitrate (56 kbps) for DVD, range is 64 kbps .. 192 kbps"},
      {"DVD dual channel", base(2, 2, 11, 1), 4, 48000, 0x8005,
       "A018:Invalid audio mode (dual channel) for DVD, should be stereo, joint stereo or mono"},
      {"DVD variant dual channel", base(2, 2, 4, 1), 14, 48000, 0, nullptr},
      {"DVD rate", crcOn, 4, 44100, 0x8006,
       "A020:Invalid audio sample rate (44100) for DVD, should be 48000"},
      // DVB.
      {"DVB layer I", base(1, 0, 11, 1), 8, 48000, 0, nullptr},
      {"DVB crc", ok, 8, 48000, 0x12101,
       "A033:Invalid audio CRC state (disabled) for DVB, should be enabled"},
      {"DVB emphasis", with(crcOn, [](auto& s) { s.emphasis = 1; }), 8, 48000, 0x12102,
       "A034:Invalid audio emphasis for DVB, should be none"},
      // MicroMV.
      {"MicroMV valid", base(2, 0, 12, 1), 9, 48000, 0, nullptr},
      {"MicroMV layer", base(1, 0, 12, 1), 9, 48000, 0x13100,
       "A035:Invalid audio layer (1) for MicroMV, should be 2"},
      {"MicroMV crc", base(2, 0, 12), 9, 48000, 0x13101,
       "A036:Invalid audio CRC state (disabled) for MicroMV, should be enabled"},
      {"MicroMV emphasis", with(base(2, 0, 12, 1), [](auto& s) { s.emphasis = 1; }), 9, 48000,
       0x13102, "A037:Invalid audio emphasis for MicroMV, should be none"},
      {"MicroMV rate", base(2, 0, 12, 1), 9, 32000, 0x13103,
       "A038:Invalid audio sample rate (32000) for MicroMV, should be 48000"},
      {"MicroMV bitrate", crcOn, 9, 48000, 0x13104,
       "A039:Invalid audio bitrate (224 kbps) for MicroMV, should be 256 kbps"},
      // DVHS.
      {"DVHS valid layer I", base(1, 0, 4, 1), 10, 44100, 0, nullptr},
      {"DVHS crc", ok, 10, 44100, 0x14101,
       "A041:Invalid audio CRC state (disabled) for DVHS, should be enabled"},
      {"DVHS emphasis", with(crcOn, [](auto& s) { s.emphasis = 3; }), 10, 44100, 0x14102,
       "A042:Invalid audio emphasis for DVHS, should be none"},
      {"DVHS 112k", base(2, 0, 7, 1), 10, 44100, 0x14103,
       "A043:Invalid audio bitrate (112 kbps) for DVHS, must not be 48, 56, 80 or 112 kbps"},
      {"DVHS mono 48k", base(2, 3, 2, 1), 10, 44100, 0x14103,
       "A043:Invalid audio bitrate (48 kbps) for DVHS, must not be 48, 56, 80 or 112 kbps"},
      // HDV.
      {"HDV valid", base(2, 0, 14, 1), 19, 48000, 0, nullptr},
      {"HDV layer", base(1, 0, 14, 1), 18, 48000, 0x16100,
       "A044:Invalid audio layer (1) for HDV, should be 2"},
      {"HDV crc", base(2, 0, 14), 18, 48000, 0x16101,
       "A045:Invalid audio CRC state (disabled) for HDV, should be enabled"},
      {"HDV emphasis", with(base(2, 0, 14, 1), [](auto& s) { s.emphasis = 1; }), 19, 48000, 0x16102,
       "A046:Invalid audio emphasis for HDV, should be none"},
      {"HDV rate", base(2, 0, 14, 1), 18, 44100, 0x16103,
       "A047:Invalid audio sample rate (44100) for HDV, should be 48000"},
      {"HDV bitrate", base(2, 0, 13, 1), 18, 48000, 0x16104,
       "A048:Invalid audio bitrate (320 kbps) for HDV, should be 384 kbps"},
      // Formats without rules.
      {"type 20", base(1, 2, 4), 20, 32000, 0, nullptr},
      {"type 6", base(1, 2, 4), 6, 32000, 0, nullptr},
  };
}

TEST(FerruleChecks, EveryRuleGivesItsCodeAndMessage) {
  for (const CheckCase& c : checkCases()) {
    printed().clear();
    EXPECT_EQ(mpegOutAudioChkSettings(collectingRc, &c.settings, c.formatType, c.rate, 0),
              c.expected)
        << c.what;
    if (c.message)
      EXPECT_EQ(printed().errors, std::vector<std::string>{c.message}) << c.what;
    else
      EXPECT_TRUE(printed().errors.empty()) << c.what;
    expectCoded(printed().errors);
    // The quiet forms give the same verdicts and print nothing.
    printed().clear();
    EXPECT_EQ(mpegOutAudioCheckSettings(&c.settings, c.formatType, c.rate), c.expected) << c.what;
    EXPECT_EQ(mpegOutAudioChkSettings(nullptr, &c.settings, c.formatType, c.rate, 0), c.expected);
    EXPECT_TRUE(printed().errors.empty());
    EXPECT_EQ(mpegOutAudioCheckFirst(collectingRc, &c.settings, c.formatType, c.rate), c.expected);
  }
}

TEST(FerruleChecks, ReportAllPrintsEveryViolationAndReturnsTheFirst) {
  printed().clear();
  const mpeg_a_settings s = base(1, 0, 11);
  EXPECT_EQ(mpegOutAudioChkSettings(collectingRc, &s, 1, 22050, MPEG_A_CHECK_REPORT_ALL), 0x40009);
  EXPECT_EQ(printed().errors,
            (std::vector<std::string>{
                "A021:Invalid audio sample rate (22050), should be 32000, 44100 or 48000",
                "A003:Invalid audio layer (1) for VCD, should be 2",
                "A006:Invalid audio sample rate (22050) for VCD, should be 44100"}));
  // A bad bitrate code still runs the layer's own bitrate rules.
  printed().clear();
  const mpeg_a_settings stereo = base(2, 0, 0);
  EXPECT_EQ(mpegOutAudioChkSettings(collectingRc, &stereo, 0, 44100, MPEG_A_CHECK_REPORT_ALL),
            0x40003);
  EXPECT_EQ(printed().errors,
            (std::vector<std::string>{"A025:Invalid audio bitrate code (0), range is 1 .. 14",
                                      "A025:Invalid audio bitrate code (0), range is 4 .. 14"}));
  // SVCD's mono bitrate rule shows only when reporting everything.
  printed().clear();
  const mpeg_a_settings mono = base(2, 3, 12, 1);
  EXPECT_EQ(mpegOutAudioChkSettings(collectingRc, &mono, 3, 44100, MPEG_A_CHECK_REPORT_ALL),
            0x40003);
  EXPECT_EQ(printed().errors.back(),
            "A010:Invalid mono audio bitrate (256 kbps) for SVCD, range is 32 kbps .. 192 kbps");
}

TEST(FerruleChecks, GenericOnlySkipsFormatRulesAndNullSettingsAreRefused) {
  const mpeg_a_settings layer1 = base(1, 0, 11);
  EXPECT_EQ(mpegOutAudioChkSettings(nullptr, &layer1, 1, 44100, MPEG_A_CHECK_GENERIC_ONLY), 0);
  EXPECT_EQ(mpegOutAudioChkSettings(nullptr, &layer1, 1, 44100, 0), 0x200);
  printed().clear();
  EXPECT_EQ(mpegOutAudioChkSettings(collectingRc, nullptr, 0, 44100, 0), 2);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"A031:Invalid mpeg_a_settings parameter"});
  EXPECT_EQ(mpegOutAudioCheckSettings(nullptr, 0, 44100), 2);
  EXPECT_EQ(mpegOutAudioCheckFirst(collectingRc, nullptr, 0, 44100), 2);
  EXPECT_EQ(mpegOutAudioCheckNext(), 0);
  ASSERT_NE(mpegOutAudioGetLastErrString(), nullptr);
  EXPECT_STREQ(mpegOutAudioGetLastErrString(), "");
}

}  // namespace
