// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ferrule_messages.h"
#include "gantrel.h"
#include "gantrel_support.h"

namespace quillion::test::gantrel {
namespace {

TEST(GantrelPresets, TitlesAndLayoutsByPresetCode) {
  struct Case {
    std::int32_t preset;
    std::int32_t layer;
    const char* title;  // null: no preset of that code
  };
  const Case cases[] = {
      {0, 10, "Default, PCM Audio"},
      {4, 4, "DVD, PCM Audio"},
      {13, 4, "DVD, PCM Audio"},
      {17, 4, "DVD, PCM Audio"},
      {4112, 4, "DVD, PCM Audio"},
      {4117, 4, "DVD, PCM Audio"},
      {28, 10, "XDCAM IMX, PCM Audio"},
      {31, 10, "XDCAM IMX, PCM Audio"},
      {65536, 10, "XDCAM IMX, PCM Audio"},
      {65539, 10, "XDCAM IMX, PCM Audio"},
      {32, 12, "XDCAM, PCM Audio"},
      {37, 12, "XDCAM, PCM Audio"},
      {65792, 12, "XDCAM, PCM Audio"},
      {65797, 12, "XDCAM, PCM Audio"},
      {20, 10, nullptr},
      {12, 10, nullptr},
      {18, 10, nullptr},
      {4118, 10, nullptr},
      {38, 10, nullptr},
      {-1, 10, nullptr},
  };
  for (const Case& c : cases) {
    pcm_a_settings s;
    std::memset(&s, 0x5A, sizeof s);
    const char* title = pcmOutAudioDefaults(&s, c.preset);
    if (c.title) {
      EXPECT_STREQ(title, c.title) << c.preset;
    } else {
      EXPECT_EQ(title, nullptr) << c.preset;
    }
    EXPECT_EQ(s.audio_layer, c.layer) << c.preset;
    EXPECT_EQ(s.channel_count_code, 1);
    EXPECT_EQ(s.emphasis, 0);
    EXPECT_EQ(s.mute_flag, 0);
    EXPECT_EQ(s.quantization, 0);
    EXPECT_EQ(s.dynamic_range, 128);
    // Every preset is a valid setting for the format it names.
    if (c.title) {
      EXPECT_EQ(pcmOutAudioCheckSettings(&s, 0, 48000), 0) << c.preset;
    }
  }
  EXPECT_EQ(pcmOutAudioDefaults(nullptr, 0), nullptr);
}

struct CheckCase {
  const char* name;
  pcm_a_settings settings;
  std::int32_t formatType;
  std::int32_t rate;
  std::int32_t code;
  std::vector<std::string> messages;  // in report-all mode
};

// {channel_count_code, audio_layer, emphasis, mute_flag, quantization, dynamic_range}
const CheckCase kCheckCases[] = {
    {"valid302M", {1, 10, 0, 0, 0, 128}, 0, 48000, 0, {}},
    {"validLpcm96k", {0, 4, 0, 1, 0, 255}, 4, 96000, 0, {}},
    {"validEightChannelElement", {7, 11, 0, 0, 2, 0}, 8, 96000, 0, {}},
    {"validPlanarSingleChannel", {0, 12, 0, 0, 1, 0}, 9, 48000, 0, {}},
    {"badLayer",
     {1, 5, 0, 0, 0, 128},
     0,
     48000,
     0x40001,
     {"P023:Invalid audio layer (5), must be 4 or 10"}},
    {"badRate",
     {1, 10, 0, 0, 0, 128},
     0,
     44100,
     0x100000,
     {"P006:Invalid PCM audio sample rate (44100), should be 48000 or 96000"}},
    {"channelsAboveEight",
     {8, 12, 0, 0, 0, 128},
     0,
     48000,
     0x100001,
     {"P007:Invalid number of PCM audio channels (8), range is 0 .. 7"}},
    {"negativeChannels",
     {-1, 12, 0, 0, 0, 128},
     0,
     48000,
     0x100001,
     {"P007:Invalid number of PCM audio channels (-1), range is 0 .. 7"}},
    {"oddChannelCountFor302M",
     {2, 10, 0, 0, 0, 128},
     0,
     48000,
     0x100001,
     {"P026:Invalid number of PCM audio channels (2) for 302M, must be 1, 3, 5 or 7"}},
    {"lpcmNeeds16Bits",
     {1, 4, 0, 0, 1, 128},
     0,
     48000,
     0x100003,
     {"P009:Invalid PCM audio quantization (1), must be 0"}},
    {"lpcmAtMostStereo",
     {2, 4, 0, 0, 0, 128},
     0,
     48000,
     0x100001,
     {"P007:Invalid number of PCM audio channels (2), range is 0 .. 1"}},
    {"lpcmMute",
     {1, 4, 0, 2, 0, 128},
     0,
     48000,
     0x100002,
     {"P008:Invalid PCM audio mute flag (2), range is 0 .. 1"}},
    {"lpcmEmphasisRange",
     {1, 4, 3, 0, 0, 128},
     0,
     48000,
     0x100004,
     {"P010:Invalid PCM audio emphasis (3), range is 0 .. 1"}},
    {"lpcmEmphasisAt96k",
     {1, 4, 1, 0, 0, 128},
     0,
     96000,
     0x100004,
     {"P011:Invalid PCM audio emphasis for 96kHz audio, must be off"}},
    {"elementNeeds20Or24Bits",
     {1, 11, 0, 0, 0, 128},
     0,
     48000,
     0x100003,
     {"P022:Invalid AES3 audio quantization (0), must be 1 .. 2"}},
    {"planarQuantization",
     {1, 12, 0, 0, 3, 128},
     0,
     48000,
     0x100003,
     {"P022:Invalid AES3 audio quantization (3), must be 0 .. 2"}},
    {"badLayerStillChecksQuantization",
     {1, 0, 0, 0, 7, 128},
     0,
     48000,
     0x40001,
     {"P023:Invalid audio layer (0), must be 4 or 10",
      "P022:Invalid AES3 audio quantization (7), must be 0 .. 2"}},
    {"vcd",
     {1, 4, 0, 0, 0, 128},
     1,
     48000,
     0x200,
     {"P004:Invalid audio type (PCM) for VCD, should be MPEG"}},
    {"svcd",
     {1, 10, 0, 0, 0, 128},
     3,
     48000,
     0x1000,
     {"P005:Invalid audio type (PCM) for SVCD, should be MPEG"}},
    {"dvdWithAes3",
     {1, 10, 0, 0, 0, 128},
     13,
     48000,
     0x8000,
     {"P024:Invalid audio type (AES3) for DVD, should be PCM"}},
    {"dvdVr",
     {1, 10, 0, 0, 0, 128},
     14,
     96000,
     0x8000,
     {"P024:Invalid audio type (AES3) for DVD, should be PCM",
      "P017:Invalid PCM frequency for DVD-VR, should be 48 kHz"}},
    {"dvdVrChannels",
     {3, 12, 0, 0, 2, 128},
     15,
     48000,
     0x8000,
     {"P024:Invalid audio type (AES3) for DVD, should be PCM",
      "P018:Invalid number of PCM audio channels (3) for DVD-VR, range is 0 .. 1",
      "P019:Invalid PCM audio quantization (2) for DVD-VR, must be 0"}},
    {"dvhsFourChannels",
     {3, 10, 0, 0, 0, 128},
     10,
     48000,
     0x14104,
     {"P013:Invalid number of PCM audio channels (4) for DVHS, should be 2"}},
    {"dvhsEverything",
     {1, 12, 1, 0, 1, 128},
     10,
     96000,
     0x14100,
     {"P025:Invalid audio type (PCM) for DVHS, should be AES3",
      "P014:Invalid PCM emphasis for DVHS, should be off",
      "P015:Invalid PCM bit depth for DVHS, should be 16 bits",
      "P016:Invalid PCM frequency for DVHS, should be 48 kHz"}},
    {"hdv",
     {1, 10, 0, 0, 0, 128},
     19,
     48000,
     0x16105,
     {"P020:Invalid PCM audio for HDV, should be MPEG-1 audio"}},
    {"genericWinsOverFormat",
     {1, 4, 0, 0, 0, 128},
     1,
     44100,
     0x100000,
     {"P006:Invalid PCM audio sample rate (44100), should be 48000 or 96000",
      "P004:Invalid audio type (PCM) for VCD, should be MPEG"}},
};

class GantrelCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(GantrelCheck, CodeAndMessages) {
  const CheckCase& c = GetParam();
  // The first violation only, by default.
  printed().clear();
  EXPECT_EQ(pcmOutAudioChkSettings(collectingRc, &c.settings, c.formatType, c.rate, 0), c.code);
  const std::vector<std::string> first =
      c.messages.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.messages[0]};
  EXPECT_EQ(printed().errors, first);
  // Every violation with report-all, and still the first code.
  printed().clear();
  EXPECT_EQ(pcmOutAudioChkSettings(collectingRc, &c.settings, c.formatType, c.rate,
                                   PCM_A_CHECK_REPORT_ALL),
            c.code);
  EXPECT_EQ(printed().errors, c.messages);
  // The quiet forms agree.
  printed().clear();
  EXPECT_EQ(pcmOutAudioCheckSettings(&c.settings, c.formatType, c.rate), c.code);
  EXPECT_EQ(pcmOutAudioCheckFirst(nullptr, &c.settings, c.formatType, c.rate), c.code);
  EXPECT_TRUE(printed().errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Rules, GantrelCheck, testing::ValuesIn(kCheckCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(GantrelCheckOptions, GenericOnlySkipsFormatRules) {
  const pcm_a_settings s = pcmSettings(10, 1);
  printed().clear();
  EXPECT_EQ(pcmOutAudioChkSettings(collectingRc, &s, 1, 48000, PCM_A_CHECK_GENERIC_ONLY), 0);
  EXPECT_TRUE(printed().errors.empty());
  EXPECT_EQ(pcmOutAudioChkSettings(collectingRc, &s, 1, 48000, 0), 0x200);
}

TEST(GantrelCheckOptions, NullSettingsAndTheConstantAnswers) {
  printed().clear();
  EXPECT_EQ(pcmOutAudioChkSettings(collectingRc, nullptr, 0, 48000, 0), 2);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"P012:Invalid pcm_a_settings parameter"});
  EXPECT_EQ(pcmOutAudioCheckSettings(nullptr, 0, 48000), 2);
  EXPECT_EQ(pcmOutAudioCheckNext(), 0);
  ASSERT_NE(pcmOutAudioGetLastErrString(), nullptr);
  EXPECT_STREQ(pcmOutAudioGetLastErrString(), "");
}

TEST(GantrelInstance, NewRefusesWhatCannotBeWritten) {
  const pcm_a_settings aes = pcmSettings(10, 1);
  const pcm_a_settings lpcm = pcmSettings(4, 1);
  printed().clear();
  EXPECT_EQ(pcmOutAudioNew(collectingRc, &aes, 0, 0, 48000), nullptr);
  EXPECT_EQ(pcmOutAudioNew(collectingRc, &aes, 0, 9, 48000), nullptr);
  EXPECT_EQ(printed().errors,
            (std::vector<std::string>{"P021:Invalid frameRateCode (0) for AES3 audio",
                                      "P021:Invalid frameRateCode (9) for AES3 audio"}));
  // LPCM is not framed to video.
  pcm_a_output* o = pcmOutAudioNew(collectingRc, &lpcm, 0, 0, 48000);
  EXPECT_NE(o, nullptr);
  pcmOutAudioFree(o);
  // Null settings: refused, not read.
  printed().clear();
  EXPECT_EQ(pcmOutAudioNew(collectingRc, nullptr, 0, 3, 48000), nullptr);
  EXPECT_EQ(printed().errors, std::vector<std::string>{"P012:Invalid pcm_a_settings parameter"});
  // Generic rules refuse; format rules are not asked at New.
  printed().clear();
  EXPECT_EQ(pcmOutAudioNew(collectingRc, &aes, 0, 3, 44100), nullptr);
  EXPECT_EQ(printed().errors.size(), 1u);
  const pcm_a_settings emphasised{1, 4, 1, 0, 0, 128};
  EXPECT_EQ(pcmOutAudioNew(nullptr, &emphasised, 0, 0, 96000), nullptr);
  o = pcmOutAudioNew(nullptr, &aes, 0, 3, 48000);
  EXPECT_NE(o, nullptr) << "a 302M setting is fine at New even though DVD would refuse it";
  pcmOutAudioFree(o);
  pcmOutAudioFree(nullptr);
}

TEST(GantrelInstance, CallsOutOfOrderAreRefused) {
  const pcm_a_settings s = pcmSettings(4, 1);
  PcmSink sink;
  pcm_a_output* o = pcmOutAudioNew(nullptr, &s, 0, 0, 48000);
  ASSERT_NE(o, nullptr);
  const std::uint8_t samples[4] = {};
  EXPECT_EQ(pcmOutAudioPutBytes(o, samples, 4), 2) << "before Init";
  EXPECT_EQ(pcmOutAudioInit(o, nullptr), 2);
  ASSERT_EQ(pcmOutAudioInit(o, sink.stream()), 0);
  EXPECT_EQ(pcmOutAudioInit(o, sink.stream()), 2) << "bound twice";
  EXPECT_EQ(pcmOutAudioPutBytes(o, nullptr, 4), 2);
  EXPECT_EQ(pcmOutAudioPutBytes(o, nullptr, 0), 0);
  EXPECT_EQ(pcmOutAudioDone(o, 0), 0);
  EXPECT_EQ(pcmOutAudioPutBytes(o, samples, 4), 2) << "after Done";
  EXPECT_EQ(pcmOutAudioDone(o, 0), 0);
  pcmOutAudioFree(o);
  EXPECT_EQ(pcmOutAudioPutBytes(nullptr, samples, 4), 2);
  EXPECT_EQ(pcmOutAudioInit(nullptr, sink.stream()), 2);
  EXPECT_EQ(pcmOutAudioDone(nullptr, 0), 0);
}

// An allocator that fails from a chosen call on, to reach the buffer allocation at Init.
int gAllocationsLeft = 0;
void* limitedMalloc(std::size_t n) {
  return gAllocationsLeft-- > 0 ? std::malloc(n) : nullptr;
}
void* limitedRc(const char* name) {
  if (std::string(name) == "malloc") return reinterpret_cast<void*>(limitedMalloc);
  return collectingRc(name);
}

TEST(GantrelInstance, InitWithoutMemoryReportsP001AndKeepsNothing) {
  const pcm_a_settings s = pcmSettings(10, 7, 2);
  for (int allowed : {1, 2}) {  // the instance, then one of the two sample buffers
    printed().clear();
    gAllocationsLeft = allowed;
    pcm_a_output* o = pcmOutAudioNew(limitedRc, &s, 0, 1, 96000);
    ASSERT_NE(o, nullptr);
    PcmSink sink;
    EXPECT_EQ(pcmOutAudioInit(o, sink.stream()), 2);
    EXPECT_EQ(printed().errors, std::vector<std::string>{
                                    "P001:Could not allocate memory for PCM audio sample buffer"});
    const std::uint8_t samples[6] = {};
    EXPECT_EQ(pcmOutAudioPutBytes(o, samples, 6), 2);
    EXPECT_EQ(pcmOutAudioDone(o, 0), 0);
    pcmOutAudioFree(o);
    EXPECT_TRUE(sink.bytes.empty());
  }
}

}  // namespace
}  // namespace quillion::test::gantrel
