// SPDX-License-Identifier: GPL-2.0-or-later
// Presets and validation of mpeg_m_settings. Each rule is a row; the messages are part of
// the library's interface and stay word for word.
#include "settings.h"

#include <cstring>
#include <initializer_list>

namespace quillion::corvel {
namespace {

constexpr std::int32_t kMaxMuxType = 37;

struct Preset {
  std::int32_t profile;
  const char* title;
  void (*apply)(mpeg_m_settings&);
};

void endFlags(mpeg_m_settings& s) {
  s.reset_clocks = 1;
  s.write_end_codes = 1;
  s.set_broken_link = 1;
}

void transportRow(mpeg_m_settings& s) {
  s.sector_size = 188;
  s.pulldown = 3;
  endFlags(s);
}

void dvdRow(mpeg_m_settings& s, std::int32_t videoBuffer) {
  s.sector_size = 2048;
  s.video_buffer_size = videoBuffer;
  s.pulldown = 3;
  s.align_sequence_headers = 1;
  s.mux_rate = 25200;
  s.private_stream_2 = 1;
  s.frame_timestamps = 2;
  s.vbr = 1;
  s.write_program_end_codes = 0;
}

const Preset kPresets[] = {
    {0, "MPEG-1 System, MPEG Muxer",
     [](mpeg_m_settings& s) {
       s.sector_size = 2048;
       s.vbr = 1;
       endFlags(s);
     }},
    {1, "VCD, MPEG Muxer",
     [](mpeg_m_settings& s) {
       s.pack_delay = 400;
       s.video_delay = s.audio1_delay = s.audio2_delay = 344;
       s.sector_size = 2324;
       s.video_buffer_size = 46;
       s.vcd_audio_pad = 1;
       s.mux_rate = 3528;
       endFlags(s);
     }},
    {2, "MPEG-2 Program, MPEG Muxer",
     [](mpeg_m_settings& s) {
       s.sector_size = 2048;
       s.pulldown = 3;
       s.vbr = 1;
       endFlags(s);
     }},
    {3, "SVCD, MPEG Muxer",
     [](mpeg_m_settings& s) {
       s.sector_size = 2324;
       s.video_buffer_size = 230;
       s.pulldown = 3;
       s.align_sequence_headers = 1;
       s.mux_rate = 6972;
       s.vbr = 1;
       s.svcd_scan_offsets = 1;
       endFlags(s);
     }},
    {4, "DVD, MPEG Muxer", [](mpeg_m_settings& s) { dvdRow(s, 232); }},
    {13, "DVD, MPEG Muxer", [](mpeg_m_settings& s) { dvdRow(s, 46); }},
    {14, "DVD, MPEG Muxer", [](mpeg_m_settings& s) { dvdRow(s, 232); }},
    {15, "DVD, MPEG Muxer", [](mpeg_m_settings& s) { dvdRow(s, 46); }},
    {5, "MPEG-2 Transport, MPEG Muxer", transportRow},
    {28, "MPEG-2 Transport, MPEG Muxer", transportRow},
    {29, "MPEG-2 Transport, MPEG Muxer", transportRow},
    {30, "MPEG-2 Transport, MPEG Muxer", transportRow},
    {31, "MPEG-2 Transport, MPEG Muxer", transportRow},
    {8, "DVB, MPEG Muxer", transportRow},
    {9, "MMV, MPEG Muxer", transportRow},
    {10, "DVHS, MPEG Muxer", transportRow},
    {11, "ATSC, MPEG Muxer",
     [](mpeg_m_settings& s) {
       transportRow(s);
       s.mux_rate = 48481;
       s.mux_rate_bps = 19392658;
     }},
    {12, "ATSCHI, MPEG Muxer",
     [](mpeg_m_settings& s) {
       transportRow(s);
       s.mux_rate = 96963;
       s.mux_rate_bps = 38785316;
     }},
    {18, "HDV HD1, MPEG Muxer",
     [](mpeg_m_settings& s) {
       transportRow(s);
       s.mux_rate = 49250;
       s.mux_rate_bps = 19700000;
     }},
    {19, "HDV HD2, MPEG Muxer",
     [](mpeg_m_settings& s) {
       transportRow(s);
       s.video_delay = s.audio1_delay = s.audio2_delay = 400;
     }},
    {24, "CableLabs, MPEG Muxer", transportRow},
};

struct PresetCode {
  std::int32_t code;
  std::int32_t profile;
};

constexpr PresetCode kPresetCodes[] = {
    {4096, 1},   {4097, 3},   {4112, 4},   {4113, 13},  {4114, 14},  {4115, 15},
    {4128, 8},   {4129, 9},   {4130, 10},  {4131, 11},  {4132, 12},  {4133, 24},
    {4144, 18},  {4145, 19},  {65536, 28}, {65537, 29}, {65538, 30}, {65539, 31},
    {65792, 32}, {65793, 33}, {65794, 34}, {65795, 35}, {65796, 36}, {65797, 37},
};

// The rules hand their row's message text on; every text is a constant of this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

// Collects the verdict of the rules: the first failure's code, whether to go on.
class Verdict {
 public:
  Verdict(const mpeg::Services& services, std::int32_t options)
      : services_(services), reportAll_((options & MPEG_M_CHECK_REPORT_ALL) != 0) {}

  // Returns false when the check must stop now.
  template <typename... Args>
  bool fail(std::int32_t code, const char* format, Args... args) {
    services_.error(format, args...);
    if (result_ == 0) result_ = code;
    return reportAll_;
  }
  std::int32_t result() const { return result_; }

 private:
  const mpeg::Services& services_;
  bool reportAll_;
  std::int32_t result_ = 0;
};

bool rangeRules(const mpeg_m_settings& s, Verdict& v) {
  const auto u = [](std::int32_t x) { return static_cast<std::uint32_t>(x); };
  const bool mpeg1 = s.mux_type == 0 || s.mux_type == 1;
  const bool transport = !isProgramStreamType(s.mux_type);
  if (u(s.mux_type) > kMaxMuxType &&
      !v.fail(kRangeBase, "M057:Invalid mux type setting (%d), range is %d .. %d", s.mux_type, 0,
              kMaxMuxType))
    return false;
  if (u(s.pulldown) >= 8 &&
      !v.fail(kRangeBase + 1, "M058:Invalid mux pulldown setting (%d), range is %d .. %d",
              s.pulldown, 0, 7))
    return false;
  if (mpeg1 && s.pulldown > 0 &&
      !v.fail(kRangeBase + 2, "M059:Invalid mux pulldown setting (%d) for MPEG1, should be %d",
              s.pulldown, 0))
    return false;
  if (u(s.vcd_audio_pad) > 1 &&
      !v.fail(kRangeBase + 4, "M061:Invalid mux VCD audio pad setting (%d), range is 0 .. 1",
              s.vcd_audio_pad))
    return false;
  if (s.mux_type != 1 && s.vcd_audio_pad != 0 &&
      !v.fail(kRangeBase + 5,
              "M062:Invalid mux VCD audio pad setting (%d) for non-VCD, should be 0",
              s.vcd_audio_pad))
    return false;
  if (u(s.align_sequence_headers) > 1 &&
      !v.fail(kRangeBase + 6,
              "M063:Invalid mux align sequence header setting (%d), range is 0 .. 1",
              s.align_sequence_headers))
    return false;
  if (s.mux_rate < 0 &&
      !v.fail(kRangeBase + 7, "M064:Invalid mux rate (%d), should be >= 0", s.mux_rate))
    return false;
  if (s.mux_rate_bps < 0 &&
      !v.fail(kRangeBase + 7, "M064:Invalid mux rate (%d), should be >= 0", s.mux_rate_bps))
    return false;
  if (mpeg1) {
    if ((s.sector_size < 286 || s.sector_size > 4096) &&
        !v.fail(kRangeBase + 8, "M065:Invalid mux sector size (%d) for MPEG1, range is %d .. %d",
                s.sector_size, 286, 4096))
      return false;
  } else if (transport) {
    if (s.sector_size != 188 &&
        !v.fail(kRangeBase + 8,
                "M093:Invalid mux sector size (%d) for MPEG2 transport streams, should be %d",
                s.sector_size, 188))
      return false;
  } else if ((s.sector_size < 290 || s.sector_size > 4096) &&
             !v.fail(kRangeBase + 8,
                     "M066:Invalid mux sector size (%d) for MPEG2, range is %d .. %d",
                     s.sector_size, 290, 4096)) {
    return false;
  }
  if (transport) {
    if (s.packets_per_pack != 1 &&
        !v.fail(kRangeBase + 9,
                "M094:Invalid mux packets per pack setting (%d) for transport streams, should "
                "be 1",
                s.packets_per_pack))
      return false;
  } else {
    const std::int32_t most =
        mpeg1 ? (s.sector_size - 12) / 255 + 7 : (s.sector_size - 14) / 255 + 9;
    if ((s.packets_per_pack < 1 || s.packets_per_pack > most) &&
        !v.fail(kRangeBase + 9, "M067:Invalid mux packets per pack setting (%d), range is 1 .. %d",
                s.packets_per_pack, most))
      return false;
  }
  const std::int64_t lateLimit = std::int64_t{s.pack_delay} + 1000;
  if (s.video_delay > lateLimit && s.audio1_delay > lateLimit && s.audio2_delay > lateLimit &&
      !v.fail(kRangeBase + 10,
              "M068:Invalid mux audio/video/pack delay settings (v%d, a1%d, a2%d, p%d), one of "
              "the audio or video delays should be <= pack delay + 1000",
              s.video_delay, s.audio1_delay, s.audio2_delay, s.pack_delay))
    return false;
  if (s.mux_type == 19 && (s.video_delay < 400 || s.audio1_delay < 400) &&
      !v.fail(kRangeBase + 10,
              "M068:Mux audio/video settings (v%d, a1%d) to low fo HD2, should be >= 400ms to "
              "avoid illegal timing ",
              s.video_delay, s.audio1_delay))
    return false;
  if (s.audio1_buffer_size > 8191 &&
      !v.fail(kRangeBase + 11, "M069:Invalid mux audio1 buffer size (%d), range is 0 .. 8191",
              s.audio1_buffer_size))
    return false;
  if (s.audio2_buffer_size > 8191 &&
      !v.fail(kRangeBase + 12, "M070:Invalid mux audio2 buffer size (%d), range is 0 .. 8191",
              s.audio2_buffer_size))
    return false;
  if (s.video_buffer_size > 8191 &&
      !v.fail(kRangeBase + 13, "M071:Invalid mux video buffer size (%d), range is 0 .. 8191",
              s.video_buffer_size))
    return false;
  if (u(s.vbr) > 1 &&
      !v.fail(kRangeBase + 14, "M072:Invalid VBR/CBR mux type (%d), should be 0 or 1", s.vbr))
    return false;
  if (transport && s.vbr == 1 &&
      !v.fail(kRangeBase + 0x1C, "M102:Invalid VBR mux type (%d) for transport stream, should be 0",
              s.vbr))
    return false;
  if (u(s.write_program_end_codes) > 1 &&
      !v.fail(kRangeBase + 15,
              "M073:Invalid mux write program end codes setting (%d), range is 0 .. 1",
              s.write_program_end_codes))
    return false;
  if (u(s.svcd_scan_offsets) > 1 &&
      !v.fail(kRangeBase + 16, "M074:Invalid mux SVCD scan offsets setting (%d), range is 0 .. 1)",
              s.svcd_scan_offsets))
    return false;
  if (s.svcd_scan_offsets != 0 && s.align_sequence_headers == 0 &&
      !v.fail(kRangeBase + 17,
              "M075:Invalid mux SVCD scan offsets (%d) and align sequence header (%d) "
              "combination, the SVCD scan offsets setting requires the align sequence header "
              "setting to be set",
              s.svcd_scan_offsets, s.align_sequence_headers))
    return false;
  if (u(s.private_stream_2) > 1 &&
      !v.fail(kRangeBase + 18, "M076:Invalid mux private stream 2 setting (%d), range is 0 .. 1",
              s.private_stream_2))
    return false;
  if (!isDvdType(s.mux_type) && s.private_stream_2 != 0 &&
      !v.fail(kRangeBase + 19,
              "M077:Invalid mux private stream 2 (%d) and multiplex type (%d) combination, "
              "private stream 2 should only be used for DVD muxing",
              s.private_stream_2, s.mux_type))
    return false;
  if (u(s.frame_timestamps) > 2 &&
      !v.fail(kRangeBase + 20, "M078:Invalid mux frame timestamp setting (%d), range is %d .. %d",
              s.frame_timestamps, 0, 2))
    return false;
  if (s.max_file_size > 4096 &&
      !v.fail(kRangeBase + 21, "M079:Invalid mux maximum file size (%d), range is 0 .. 4096",
              s.max_file_size))
    return false;
  if (u(s.reset_clocks) > 1 &&
      !v.fail(kRangeBase + 23, "M081:Invalid mux reset clocks setting (%d), range is 0 .. 1",
              s.reset_clocks))
    return false;
  if (u(s.write_end_codes) > 1 &&
      !v.fail(kRangeBase + 24, "M082:Invalid mux write end codes setting (%d), range is 0 .. 1",
              s.write_end_codes))
    return false;
  if (u(s.set_broken_link) > 1 &&
      !v.fail(kRangeBase + 25, "M083:Invalid mux set broken link setting (%d), range is 0 .. 1",
              s.set_broken_link))
    return false;
  return true;
}

bool bufferOk(std::int32_t size, std::initializer_list<std::int32_t> allowed) {
  if (size == 0) return true;
  for (std::int32_t a : allowed)
    if (size == a) return true;
  return false;
}

void vcdRules(const mpeg_m_settings& s, Verdict& v) {
  if (s.sector_size != 2324 &&
      !v.fail(0x400, "M035:Invalid mux pack size (%d) for VCD, should be %d", s.sector_size, 2324))
    return;
  if (s.packets_per_pack != 1 &&
      !v.fail(0x401, "M036:Invalid mux packets per pack setting (%d) for VCD, should be 1",
              s.packets_per_pack))
    return;
  if (!bufferOk(s.audio1_buffer_size, {4}) &&
      !v.fail(0x402, "M037:Invalid mux audio1 buffer size (%d) for VCD, should be 4",
              s.audio1_buffer_size))
    return;
  if (!bufferOk(s.video_buffer_size, {46}) &&
      !v.fail(0x403, "M038:Invalid mux video buffer size (%d) for VCD, should be 46",
              s.video_buffer_size))
    return;
  if (s.mux_rate != 3528 && s.mux_rate_bps != 1411200 &&
      !v.fail(0x404, "M039:Invalid mux rate (%d) for VCD, should be %d", s.mux_rate, 3528))
    return;
  if (s.frame_timestamps != 0 &&
      !v.fail(0x405, "M040:Invalid mux frame timestamps for VCD, should be all frames"))
    return;
  if (s.vbr != 0)
    v.fail(0x406, "M041:Invalid mux VBR multiplex (enabled) for VCD, should be CBR (disabled)");
}

void svcdRules(const mpeg_m_settings& s, Verdict& v) {
  if (s.sector_size != 2324 &&
      !v.fail(0x2000, "M042:Invalid mux pack size (%d) for SVCD, should be %d", s.sector_size,
              2324))
    return;
  if (s.packets_per_pack != 1 &&
      !v.fail(0x2001, "M043:Invalid mux packets per pack setting (%d) for SVCD, should be 1",
              s.packets_per_pack))
    return;
  if (!bufferOk(s.audio1_buffer_size, {4}) &&
      !v.fail(0x2002, "M044:Invalid mux audio1 buffer size (%d) for SVCD, should be 4",
              s.audio1_buffer_size))
    return;
  if (!bufferOk(s.audio2_buffer_size, {4}) &&
      !v.fail(0x2003, "M045:Invalid mux audio2 buffer size (%d) for SVCD, should be 4",
              s.audio2_buffer_size))
    return;
  if (!bufferOk(s.video_buffer_size, {230}) &&
      !v.fail(0x2004, "M046:Invalid mux video buffer size (%d) for SVCD, should be 230",
              s.video_buffer_size))
    return;
  if (s.mux_rate > 6972 && s.mux_rate_bps > 2788800 &&
      !v.fail(0x2005, "M047:Invalid mux rate (%d) for SVCD, should be <= %d", s.mux_rate, 6972))
    return;
  if (s.svcd_scan_offsets != 1)
    v.fail(0x2006,
           "M048:Invalid mux SVCD scan offsets setting (disabled) for SVCD, should be enabled");
}

void dvdRules(const mpeg_m_settings& s, Verdict& v) {
  if (s.sector_size != 2048 &&
      !v.fail(0x10000, "M049:Invalid mux pack size (%d) for DVD, should be %d", s.sector_size,
              2048))
    return;
  if (s.packets_per_pack != 1 &&
      !v.fail(0x10001, "M050:Invalid mux packets per pack setting (%d) for DVD, should be 1",
              s.packets_per_pack))
    return;
  if (!bufferOk(s.audio1_buffer_size, {4, 58}) &&
      !v.fail(0x10002,
              "M051:Invalid mux audio1 buffer size (%d) for DVD, should be 4 for MPEG audio or 58 "
              "for AC3 audio",
              s.audio1_buffer_size))
    return;
  if (!bufferOk(s.audio2_buffer_size, {4, 58}) &&
      !v.fail(0x10003,
              "M052:Invalid mux audio2 buffer size (%d) for DVD, should be 4 for MPEG audio or 58 "
              "for AC3 audio",
              s.audio2_buffer_size))
    return;
  const bool mpeg1Video = s.mux_type == 13 || s.mux_type == 15;
  if (!mpeg1Video && !bufferOk(s.video_buffer_size, {232}) &&
      !v.fail(0x10004, "M053:Invalid mux video buffer size (%d) for DVD, should be 232",
              s.video_buffer_size))
    return;
  if (mpeg1Video && !bufferOk(s.video_buffer_size, {46}) &&
      !v.fail(0x10009, "M095:Invalid mux video buffer size (%d) for MPEG-1 DVD, should be 46",
              s.video_buffer_size))
    return;
  if (s.mux_rate != 25200 && s.mux_rate_bps != 10080000 &&
      !v.fail(0x10005, "M054:Invalid mux rate (%d) for DVD, should be %d", s.mux_rate, 25200))
    return;
  if (s.align_sequence_headers != 1 &&
      !v.fail(0x10006,
              "M055:Invalid mux align sequence headers setting (disabled) for DVD, should be "
              "enabled"))
    return;
  if (s.private_stream_2 != 1)
    v.fail(0x10007, "M056:Invalid mux private 2 setting (disabled) for DVD, should be enabled");
}

struct RateWarning {
  std::int32_t type;
  std::int32_t limit;
  std::int32_t bpsBound;
  const char* message;
  std::int32_t code;
};

constexpr RateWarning kRateWarnings[] = {
    {8, 70000, 28000000, "M096:Mux rate (%d) may be too high for DVB, should be <= %d", 0x12201},
    {10, 96963, 38785200, "M097:Mux rate (%d) may be too high for DVHS, should be <= %d", 0x14201},
    {11, 48481, 19392658, "M100:Mux rate (%d) may be too high for ATSC, should be <= %d", 0x15201},
    {12, 96963, 38785316, "M101:Mux rate (%d) may be too high for ATSC-HI, should be <= %d",
     0x15202},
    {18, 49625, 19850000, "M098:Mux rate (%d) may be too high for HDV HD1, should be <= %d",
     0x16201},
    {19, 82500, 33000000, "M099:Mux rate (%d) may be too high for HDV HD2, should be <= %d",
     0x16202},
    {24, 47500, 19000000, "M103:Mux rate (%d) may be too high for CableLabs, should be <= %d",
     0x17200},
};

void profileRules(const mpeg_m_settings& s, Verdict& v) {
  if (s.mux_type == kVcd) return vcdRules(s, v);
  if (s.mux_type == kSvcd) return svcdRules(s, v);
  if (isDvdType(s.mux_type)) return dvdRules(s, v);
  for (const RateWarning& w : kRateWarnings)
    if (w.type == s.mux_type && s.mux_rate > w.limit && s.mux_rate_bps > w.bpsBound)
      v.fail(w.code, w.message, s.mux_rate, w.limit);
}

#pragma GCC diagnostic pop

}  // namespace

bool isProgramStreamType(std::int32_t type) {
  return (type >= 0 && type <= 4) || (type >= 13 && type <= 15);
}

bool isMpeg1Type(std::int32_t type) {
  return type == kMpeg1System || type == kVcd;
}

bool isDvdType(std::int32_t type) {
  return type == kDvd || type == kDvdMpeg1 || type == kDvdVr || type == kDvdVrMpeg1;
}

std::int32_t profileOfPreset(std::int32_t preset) {
  for (const PresetCode& c : kPresetCodes)
    if (c.code == preset) return c.profile;
  return preset;
}

const char* applyDefaults(mpeg_m_settings& s, std::int32_t preset) {
  const std::int32_t profile = profileOfPreset(preset);
  std::memset(&s, 0, sizeof s);
  s.packets_per_pack = 1;
  s.write_program_end_codes = 1;
  for (const Preset& p : kPresets) {
    if (p.profile != profile) continue;
    s.mux_type = profile >= 28 && profile <= 31 ? 5 : profile;
    p.apply(s);
    return p.title;
  }
  s.mux_type = kNoMux;
  return nullptr;
}

std::int32_t checkSettings(const mpeg_m_settings* settings, std::int32_t options,
                           const mpeg::Services& services, bool withMxfRefusal) {
  if (!settings) {
    services.error("M084:Invalid mpeg_m_settings parameter");
    return kResultFailure;
  }
  const mpeg_m_settings& s = *settings;
  if (withMxfRefusal && (s.mux_type == 28 || s.mux_type == 32)) {
    services.error("M108:MXF muxing is not available");
    return kRangeBase;
  }
  if (s.mux_type == kNoMux) return 0;
  Verdict verdict(services, options);
  const bool goOn = rangeRules(s, verdict);
  const std::int32_t range = verdict.result();
  if ((options & MPEG_M_CHECK_RANGE_ONLY) != 0) return range;
  if (!goOn) return range;
  if (range != 0 && (options & MPEG_M_CHECK_REPORT_ALL) == 0) return range;
  Verdict profile(services, options);
  profileRules(s, profile);
  return range != 0 ? range : profile.result();
}

}  // namespace quillion::corvel
