// SPDX-License-Identifier: GPL-2.0-or-later
// Settings rules: the generic ones every PCM stream must meet, then the rules of the format
// the stream is for (VCD, SVCD, DVD, DVD-VR, DVHS, HDV). All fields are compared as
// unsigned, so a negative value is simply out of range.
#include "settings_check.h"

namespace quillion::gantrel {
namespace {

std::uint32_t asUnsigned(std::int32_t v) {
  return static_cast<std::uint32_t>(v);
}

// Runs the rules in order, remembering the first code; without report-all it stops there.
class PcmRuleRun {
 public:
  PcmRuleRun(bool reportAll, const mpeg::Services& out) : reportAll_(reportAll), out_(out) {}

  std::int32_t result() const { return first_; }

  template <typename Print>
  void rule(bool ok, std::int32_t code, Print print) {
    if (stopped_ || ok) return;
    print(out_);
    if (first_ == 0) first_ = code;
    if (!reportAll_) stopped_ = true;
  }

 private:
  bool reportAll_;
  const mpeg::Services& out_;
  std::int32_t first_ = 0;
  bool stopped_ = false;
};

constexpr std::int32_t kLayerCode = 0x40001;
constexpr std::int32_t kRateCode = 0x100000;
constexpr std::int32_t kChannelsCode = 0x100001;
constexpr std::int32_t kMuteCode = 0x100002;
constexpr std::int32_t kQuantizationCode = 0x100003;
constexpr std::int32_t kEmphasisCode = 0x100004;

void pcmGenericRules(PcmRuleRun& run, const pcm_a_settings& s, std::int32_t rate) {
  const std::int32_t layer = s.audio_layer;
  run.rule(layer == 4 || layer == 10 || layer == 11 || layer == 12, kLayerCode, [&](auto& out) {
    out.error("P023:Invalid audio layer (%d), must be %d or %d", layer, 4, 10);
  });
  run.rule(rate == 48000 || rate == 96000, kRateCode, [&](auto& out) {
    out.error("P006:Invalid PCM audio sample rate (%d), should be 48000 or 96000", rate);
  });
  const auto channelRange = [&](bool ok, int high) {
    run.rule(ok, kChannelsCode, [&](auto& out) {
      out.error("P007:Invalid number of PCM audio channels (%d), range is %d .. %d",
                s.channel_count_code, 0, high);
    });
  };
  channelRange(asUnsigned(s.channel_count_code) <= 7, 7);
  const auto quantizationRange = [&](bool ok, int low, int high) {
    run.rule(ok, kQuantizationCode, [&](auto& out) {
      out.error("P022:Invalid AES3 audio quantization (%d), must be %d .. %d", s.quantization, low,
                high);
    });
  };
  switch (layer) {
    case 10:
      // A 302M packet carries whole channel pairs only.
      run.rule((s.channel_count_code & 1) != 0, kChannelsCode, [&](auto& out) {
        out.error(
            "P026:Invalid number of PCM audio channels (%d) for 302M, must be %d, %d, %d or %d",
            s.channel_count_code, 1, 3, 5, 7);
      });
      quantizationRange(asUnsigned(s.quantization) <= 2, 0, 2);
      break;
    case 4:
      run.rule(s.quantization == 0, kQuantizationCode, [&](auto& out) {
        out.error("P009:Invalid PCM audio quantization (%d), must be %d", s.quantization, 0);
      });
      channelRange(asUnsigned(s.channel_count_code) <= 1, 1);
      run.rule(asUnsigned(s.mute_flag) <= 1, kMuteCode, [&](auto& out) {
        out.error("P008:Invalid PCM audio mute flag (%d), range is %d .. %d", s.mute_flag, 0, 1);
      });
      run.rule(asUnsigned(s.emphasis) <= 1, kEmphasisCode, [&](auto& out) {
        out.error("P010:Invalid PCM audio emphasis (%d), range is %d .. %d", s.emphasis, 0, 1);
      });
      run.rule(!(s.emphasis == 1 && rate != 48000), kEmphasisCode, [&](auto& out) {
        out.error("P011:Invalid PCM audio emphasis for 96kHz audio, must be off");
      });
      break;
    case 11:
      quantizationRange(asUnsigned(s.quantization) - 1 <= 1, 1, 2);
      break;
    default:
      quantizationRange(asUnsigned(s.quantization) <= 2, 0, 2);
      break;
  }
}

void dvdLayerRule(PcmRuleRun& run, const pcm_a_settings& s) {
  run.rule(s.audio_layer == 4, 0x8000,
           [&](auto& out) { out.error("P024:Invalid audio type (AES3) for DVD, should be PCM"); });
}

void pcmFormatRules(PcmRuleRun& run, const pcm_a_settings& s, std::int32_t type,
                    std::int32_t rate) {
  switch (type) {
    case 1:
      run.rule(false, 0x200, [&](auto& out) {
        out.error("P004:Invalid audio type (PCM) for VCD, should be MPEG");
      });
      break;
    case 3:
      run.rule(false, 0x1000, [&](auto& out) {
        out.error("P005:Invalid audio type (PCM) for SVCD, should be MPEG");
      });
      break;
    case 4:
    case 13:
      dvdLayerRule(run, s);
      break;
    case 14:
    case 15:
      dvdLayerRule(run, s);
      run.rule(rate == 48000, 0x8009, [&](auto& out) {
        out.error("P017:Invalid PCM frequency for DVD-VR, should be 48 kHz");
      });
      run.rule(asUnsigned(s.channel_count_code) <= 1, 0x8007, [&](auto& out) {
        out.error("P018:Invalid number of PCM audio channels (%d) for DVD-VR, range is %d .. %d",
                  s.channel_count_code, 0, 1);
      });
      run.rule(s.quantization == 0, 0x8008, [&](auto& out) {
        out.error("P019:Invalid PCM audio quantization (%d) for DVD-VR, must be %d", s.quantization,
                  0);
      });
      break;
    case 10:
      run.rule(s.audio_layer == 10, 0x14100, [&](auto& out) {
        out.error("P025:Invalid audio type (PCM) for DVHS, should be AES3");
      });
      run.rule(s.channel_count_code == 1, 0x14104, [&](auto& out) {
        out.error("P013:Invalid number of PCM audio channels (%d) for DVHS, should be 2",
                  s.channel_count_code + 1);
      });
      run.rule(s.emphasis == 0, 0x14105,
               [&](auto& out) { out.error("P014:Invalid PCM emphasis for DVHS, should be off"); });
      run.rule(s.quantization == 0, 0x14106, [&](auto& out) {
        out.error("P015:Invalid PCM bit depth for DVHS, should be 16 bits");
      });
      run.rule(rate == 48000, 0x14107, [&](auto& out) {
        out.error("P016:Invalid PCM frequency for DVHS, should be 48 kHz");
      });
      break;
    case 18:
    case 19:
      run.rule(false, 0x16105, [&](auto& out) {
        out.error("P020:Invalid PCM audio for HDV, should be MPEG-1 audio");
      });
      break;
    default:
      break;
  }
}

}  // namespace

std::int32_t checkSettings(const pcm_a_settings* settings, std::int32_t formatType,
                           std::int32_t sampleRate, std::int32_t options,
                           const mpeg::Services& out) {
  if (!settings) {
    out.error("P012:Invalid pcm_a_settings parameter");
    return kResultFailure;
  }
  PcmRuleRun run((options & PCM_A_CHECK_REPORT_ALL) != 0, out);
  pcmGenericRules(run, *settings, sampleRate);
  if ((options & PCM_A_CHECK_GENERIC_ONLY) == 0) {
    // A generic violation is always the result, even when format rules fail too.
    const std::int32_t generic = run.result();
    pcmFormatRules(run, *settings, formatType, sampleRate);
    if (generic != 0) return generic;
  }
  return run.result();
}

}  // namespace quillion::gantrel
