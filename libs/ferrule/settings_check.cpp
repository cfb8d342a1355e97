// SPDX-License-Identifier: GPL-2.0-or-later
// Settings rules: the generic ones every stream must meet, then the rules of the format the
// stream is for (VCD, SVCD, DVD, DVB, MicroMV, DVHS, HDV). All fields are compared as
// unsigned, so a negative value is simply out of range.
#include "settings_check.h"

namespace quillion::ferrule {
namespace {

constexpr int kBitrates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};

std::uint32_t u(std::int32_t v) {
  return static_cast<std::uint32_t>(v);
}

// Runs the rules in order, remembering the first code; without report-all it stops there.
class RuleRun {
 public:
  RuleRun(bool reportAll, const mpeg::Services& out) : reportAll_(reportAll), out_(out) {}

  bool stopped() const { return stopped_; }
  std::int32_t result() const { return first_; }

  // `ok` false: print the message (already formatted by the caller's lambda) and record.
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

void genericRules(RuleRun& run, const mpeg_a_settings& s, std::int32_t rate) {
  const bool mono = s.audio_mode == 3;
  const std::int32_t code = s.bitrate_code;
  const auto bitrateRule = [&](bool ok, int value, int low, int high) {
    run.rule(ok, kGenericBase + 3, [&](const mpeg::Services& out) {
      out.error("A025:Invalid audio bitrate code (%d), range is %d .. %d", value, low, high);
    });
  };
  run.rule(rate == 32000 || rate == 44100 || rate == 48000, kGenericBase + 9, [&](auto& out) {
    out.error("A021:Invalid audio sample rate (%d), should be 32000, 44100 or 48000", rate);
  });
  run.rule(u(s.audio_mode) <= 3, kGenericBase + 0, [&](auto& out) {
    out.error("A022:Invalid audio mode (%d), range is %d .. %d", s.audio_mode, 0, 3);
  });
  run.rule(u(s.audio_layer) - 1 <= 1, kGenericBase + 1, [&](auto& out) {
    out.error("A023:Invalid audio layer (%d), range is 1 .. 2", s.audio_layer);
  });
  run.rule(u(s.psych_model) - 1 <= 1, kGenericBase + 2, [&](auto& out) {
    out.error("A024:Invalid audio psychoacoustic model (%d), range is 1 .. 2", s.psych_model);
  });
  bitrateRule(u(code) - 1 <= 13, code, 1, 14);
  if (s.audio_layer == 1) {
    if (mono) bitrateRule(u(code) >= 3, code, 3, 14);
    if (!mono) bitrateRule(u(code) >= 4, code, 4, 14);
  } else if (!mono) {
    bitrateRule(u(code) >= 4, code, 4, 14);
    bitrateRule(code != 5, 5, 6, 14);
  } else {
    // The standard allows layer II single-channel streams up to 192 kbps only.
    bitrateRule(u(code) <= 10, code, 1, 10);
  }
  run.rule(s.emphasis == 0 || s.emphasis == 1 || s.emphasis == 3, kGenericBase + 4, [&](auto& out) {
    out.error("A026:Invalid audio emphasis (%d), should be 0, 1 or 3", s.emphasis);
  });
  run.rule(u(s.private_bit) <= 1, kGenericBase + 5, [&](auto& out) {
    out.error("A027:Invalid audio private bit (%d), range is 0 .. 1", s.private_bit);
  });
  run.rule(u(s.crc) <= 1, kGenericBase + 6, [&](auto& out) {
    out.error("A028:Invalid audio CRC state (%d), range is 0 .. 1", s.crc);
  });
  run.rule(u(s.copyright) <= 1, kGenericBase + 7, [&](auto& out) {
    out.error("A029:Invalid audio copyright setting (%d), range is 0 .. 1", s.copyright);
  });
  run.rule(u(s.original) <= 1, kGenericBase + 8, [&](auto& out) {
    out.error("A030:Invalid audio original setting (%d), range is 0 .. 1", s.original);
  });
}

// The layer, CRC and emphasis rules that open most formats' lists: messages n, n+1, n+2.
struct FormatName {
  int firstMessage;
  const char* name;
  bool layerOneAllowed;
};

void layerCrcEmphasis(RuleRun& run, const mpeg_a_settings& s, std::int32_t base,
                      const FormatName& f) {
  const bool layerOk = s.audio_layer == 2 || (f.layerOneAllowed && s.audio_layer == 1);
  run.rule(layerOk, base, [&](auto& out) {
    out.error("A%03d:Invalid audio layer (%d) for %s, should be %s", f.firstMessage, s.audio_layer,
              f.name, f.layerOneAllowed ? "1 or 2" : "2");
  });
  run.rule(s.crc == 1, base + 1, [&](auto& out) {
    out.error("A%03d:Invalid audio CRC state (disabled) for %s, should be enabled",
              f.firstMessage + 1, f.name);
  });
  run.rule(s.emphasis == 0, base + 2, [&](auto& out) {
    out.error("A%03d:Invalid audio emphasis for %s, should be none", f.firstMessage + 2, f.name);
  });
}

void formatRules(RuleRun& run, const mpeg_a_settings& s, std::int32_t type, std::int32_t rate) {
  const int kbps = bitrateKbps(s.audio_layer, s.bitrate_code);
  const bool mono = s.audio_mode == 3;
  const std::int32_t code = s.bitrate_code;
  switch (type) {
    case 1:
      run.rule(s.audio_layer == 2, 0x200, [&](auto& out) {
        out.error("A003:Invalid audio layer (%d) for VCD, should be 2", s.audio_layer);
      });
      run.rule(s.audio_mode == 0 || mono, 0x201, [&](auto& out) {
        out.error("A004:Invalid audio mode for VCD, should be stereo or mono");
      });
      run.rule(code == 11, 0x202, [&](auto& out) {
        out.error("A005:Invalid audio bitrate (%d kbps) for VCD, should be 224 kbps", kbps);
      });
      run.rule(rate == 44100, 0x203, [&](auto& out) {
        out.error("A006:Invalid audio sample rate (%d) for VCD, should be 44100", rate);
      });
      break;
    case 3:
      layerCrcEmphasis(run, s, 0x1000, {7, "SVCD", false});
      if (mono) {
        run.rule(u(code) - 1 <= 9, 0x1003, [&](auto& out) {
          out.error(
              "A010:Invalid mono audio bitrate (%d kbps) for SVCD, range is 32 kbps .. 192 kbps",
              kbps);
        });
      } else {
        run.rule(u(code) >= 4, 0x1003, [&](auto& out) {
          out.error("A011:Invalid audio bitrate (%d kbps) for SVCD, range is 64 kbps .. 384 kbps",
                    kbps);
        });
      }
      run.rule(rate == 44100, 0x1004, [&](auto& out) {
        out.error("A012:Invalid audio sample rate (%d) for SVCD, should be 44100", rate);
      });
      break;
    case 4:
    case 13:
    case 14:
    case 15: {
      layerCrcEmphasis(run, s, 0x8000, {13, "DVD", false});
      run.rule(s.private_bit == 0, 0x8003, [&](auto& out) {
        out.error("A016:Invalid private bit setting (%d) for DVD, should be 0", s.private_bit);
      });
      const bool dualRefused = (type == 4 || type == 13) && s.audio_mode == 2;
      run.rule(!dualRefused, 0x8005, [&](auto& out) {
        out.error(
            "A018:Invalid audio mode (dual channel) for DVD, should be stereo, joint stereo or "
            "mono");
      });
      if (!dualRefused) {
        if (mono) {
          run.rule(u(code) - 4 <= 6, 0x8004, [&](auto& out) {
            out.error(
                "A017:Invalid mono audio bitrate (%d kbps) for DVD, range is 64 kbps .. 192 kbps",
                kbps);
          });
        } else {
          run.rule(u(code) >= 4, 0x8004, [&](auto& out) {
            out.error("A019:Invalid audio bitrate (%d kbps) for DVD, range is 64 kbps .. 384 kbps",
                      kbps);
          });
        }
      }
      run.rule(rate == 48000, 0x8006, [&](auto& out) {
        out.error("A020:Invalid audio sample rate (%d) for DVD, should be 48000", rate);
      });
      break;
    }
    case 8:
      layerCrcEmphasis(run, s, 0x12100, {32, "DVB", true});
      break;
    case 9:
      layerCrcEmphasis(run, s, 0x13100, {35, "MicroMV", false});
      run.rule(rate == 48000, 0x13103, [&](auto& out) {
        out.error("A038:Invalid audio sample rate (%d) for MicroMV, should be 48000", rate);
      });
      run.rule(code == 12, 0x13104, [&](auto& out) {
        out.error("A039:Invalid audio bitrate (%d kbps) for MicroMV, should be 256 kbps", kbps);
      });
      break;
    case 10:
      layerCrcEmphasis(run, s, 0x14100, {40, "DVHS", true});
      if (s.audio_layer == 2) {
        run.rule(code != 2 && code != 3 && code != 5 && code != 7, 0x14103, [&](auto& out) {
          out.error(
              "A043:Invalid audio bitrate (%d kbps) for DVHS, must not be 48, 56, 80 or 112 kbps",
              kbps);
        });
      }
      break;
    case 18:
    case 19:
      layerCrcEmphasis(run, s, 0x16100, {44, "HDV", false});
      run.rule(rate == 48000, 0x16103, [&](auto& out) {
        out.error("A047:Invalid audio sample rate (%d) for HDV, should be 48000", rate);
      });
      run.rule(code == 14, 0x16104, [&](auto& out) {
        out.error("A048:Invalid audio bitrate (%d kbps) for HDV, should be 384 kbps", kbps);
      });
      break;
    default:
      break;
  }
}

}  // namespace

int bitrateKbps(std::int32_t layer, std::int32_t code) {
  if (layer < 1 || layer > 3 || code < 0 || code > 14) return 0;
  return kBitrates[layer - 1][code];
}

std::int32_t checkSettings(const mpeg_a_settings* settings, std::int32_t formatType,
                           std::int32_t sampleRate, std::int32_t options,
                           const mpeg::Services& out) {
  if (!settings) {
    out.error("A031:Invalid mpeg_a_settings parameter");
    return kResultFailure;
  }
  RuleRun run((options & MPEG_A_CHECK_REPORT_ALL) != 0, out);
  genericRules(run, *settings, sampleRate);
  if (!(options & MPEG_A_CHECK_GENERIC_ONLY)) formatRules(run, *settings, formatType, sampleRate);
  return run.result();
}

}  // namespace quillion::ferrule
