// SPDX-License-Identifier: GPL-2.0-or-later
// The exported functions: settings, the life of an instance and its file-mode job.
#include <cstring>
#include <new>

#include "bufstream.h"
#include "corvel.h"
#include "engine.h"
#include "inputs.h"
#include "muxer.h"
#include "run.h"
#include "services.h"
#include "settings.h"

using quillion::corvel::applyDefaults;
using quillion::corvel::checkSettings;
using quillion::corvel::isProgramStreamType;
using quillion::corvel::kResultFailure;
using quillion::mpeg::Services;

namespace quillion::corvel {

void MuxSemaphore::wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

std::int32_t MuxSemaphore::post() {
  std::lock_guard lock(mutex_);
  const std::int32_t before = count_;
  if (count_ < maximum_) ++count_;
  changed_.notify_one();
  return before;
}

}  // namespace quillion::corvel

namespace {

constexpr std::uint32_t kOutputBuffer = 32768;

// This build writes program streams.
bool typeSupported(std::int32_t type) {
  return isProgramStreamType(type);
}

std::int32_t initOutput(mpeg_m_muxer& mux, const mux_output_info* info) {
  if (!typeSupported(mux.settings.mux_type)) return kResultFailure;
  quillion::corvel::setUpOutput(mux, info);
  return 0;
}

}  // namespace

extern "C" {

const char* mpegOutMuxDefaults(mpeg_m_settings* settings, std::int32_t preset) {
  if (!settings) return nullptr;
  return applyDefaults(*settings, preset);
}

std::int32_t mpegOutMuxChkSettings(mpeg_get_rc get_rc, const mpeg_m_settings* settings,
                                   std::int32_t options) {
  return checkSettings(settings, options, Services::resolve(get_rc), true);
}

std::int32_t mpegOutMuxCheckSettings(const mpeg_m_settings* settings) {
  if (!settings) return kResultFailure;
  return checkSettings(settings, 0, Services::resolve(nullptr), true);
}

std::int32_t mpegOutMuxCheckFirst(mpeg_get_rc get_rc, const mpeg_m_settings* settings) {
  return checkSettings(settings, 0, Services::resolve(get_rc), false);
}

std::int32_t mpegOutMuxCheckNext(void) {
  return 0;
}

const char* mpegOutMuxGetLastErrString(void) {
  return "";
}

mpeg_m_muxer* mpegOutMuxNew(mpeg_get_rc get_rc, const mpeg_m_settings* settings) {
  if (!settings || settings->mux_type == quillion::corvel::kNoMux) return nullptr;
  const Services services = Services::resolve(get_rc);
  if (checkSettings(settings, MPEG_M_CHECK_RANGE_ONLY, services, true) >= 0x80000) return nullptr;
  void* block = services.allocate(sizeof(mpeg_m_muxer));
  if (!block) return nullptr;
  std::memset(block, 0, sizeof(mpeg_m_muxer));
  auto* mux = new (block) mpeg_m_muxer;
  mux->services = services;
  mpeg_m_settings& w = mux->settings;
  const mpeg_m_settings& s = *settings;
  w = mpeg_m_settings{};
  w.pack_delay = s.pack_delay;
  w.video_delay = s.video_delay;
  w.audio1_delay = s.audio1_delay;
  w.audio2_delay = s.audio2_delay;
  w.audio1_buffer_size = s.audio1_buffer_size;
  w.audio2_buffer_size = s.audio2_buffer_size;
  w.video_buffer_size = s.video_buffer_size;
  w.mux_rate_bps = s.mux_rate_bps;
  w.mux_type = s.mux_type;
  w.pulldown = s.pulldown;
  w.vcd_audio_pad = s.vcd_audio_pad;
  w.mux_rate = s.mux_rate;
  w.frame_timestamps = s.frame_timestamps;
  w.vbr = s.vbr;
  if (isProgramStreamType(s.mux_type)) {
    w.sector_size = s.sector_size;
    w.packets_per_pack = s.packets_per_pack;
    w.align_sequence_headers = s.align_sequence_headers;
    w.private_stream_2 = s.private_stream_2;
    w.write_program_end_codes = s.write_program_end_codes;
    w.svcd_scan_offsets = (s.mux_rate >= 1 && s.mux_rate <= 6972) ? s.svcd_scan_offsets : 0;
    w.max_file_size = s.max_file_size;
    w.reset_clocks = s.reset_clocks;
    w.write_end_codes = s.write_end_codes;
    w.set_broken_link = s.set_broken_link;
  } else {
    w.sector_size = 188;
    w.packets_per_pack = 1;
    w.extra_rate = s.extra_rate;
  }
  return mux;
}

void mpegOutMuxFree(mpeg_m_muxer* mux) {
  if (!mux) return;
  const Services services = mux->services;
  mux->~mpeg_m_muxer();
  services.release(mux);
}

std::int32_t mpegOutMuxInitFile(mpeg_m_muxer* mux, const mux_output_info* info,
                                const char* output_name) {
  if (!mux) return kResultFailure;
  if (!output_name || !*output_name) {
    mux->services.error("M004:An output filename must be specified");
    return kResultFailure;
  }
  if (initOutput(*mux, info) != 0) return kResultFailure;
  mux->output = open_file_buf_write(output_name, kOutputBuffer, nullptr);
  if (!mux->output) {
    mux->services.error("M014:Unable to open program file");
    return kResultFailure;
  }
  mux->outputOwned = true;
  return 0;
}

std::int32_t mpegOutMuxInitFileBS(mpeg_m_muxer* mux, const mux_output_info* info,
                                  bufstream* output) {
  if (!mux) return kResultFailure;
  if (!output) {
    mux->services.error("M004:An output filename must be specified");
    return kResultFailure;
  }
  if (initOutput(*mux, info) != 0) return kResultFailure;
  mux->output = output;
  mux->outputOwned = false;
  return 0;
}

std::int32_t mpegOutMuxAddFile(mpeg_m_muxer* mux, const stream_settings* settings, const char* name,
                               std::int32_t bit_rate) {
  if (!mux) return kResultFailure;
  if (!settings) {
    mux->services.error("Invalid stream_settings parameter");
    return kResultFailure;
  }
  if (!name || !*name) {
    mux->services.error("Invalid input filename parameter");
    return kResultFailure;
  }
  return quillion::corvel::openInput(*mux, *settings, name, nullptr, nullptr,
                                     static_cast<std::uint32_t>(bit_rate));
}

std::int32_t mpegOutMuxAddFileBS(mpeg_m_muxer* mux, const stream_settings* settings, bufstream* es,
                                 bufstream* units, std::int32_t bit_rate) {
  if (!mux) return kResultFailure;
  if (!settings) {
    mux->services.error("Invalid stream_settings parameter");
    return kResultFailure;
  }
  if (!es || !units) {
    mux->services.error("Invalid input filename parameter");
    return kResultFailure;
  }
  return quillion::corvel::openInput(*mux, *settings, nullptr, es, units,
                                     static_cast<std::uint32_t>(bit_rate));
}

std::int32_t mpegOutMuxInitNames(mpeg_m_muxer* mux, const char* output_name,
                                 const char* audio1_name, const char* audio2_name,
                                 const char* video_name, std::int32_t video_bit_rate) {
  if (!mux) return kResultFailure;
  const auto fail = [mux] {
    (void)mpegOutMuxDone(mux, 1);
    return kResultFailure;
  };
  if (mpegOutMuxInitFile(mux, nullptr, output_name) != 0) return fail();
  bool added = false;
  const auto add = [&](const char* name, std::uint32_t kind, std::int32_t delay,
                       std::int32_t buffer, std::int32_t rate) {
    if (!name || !*name) return true;
    stream_settings s{};
    s.delay_ms = static_cast<std::uint32_t>(delay);
    s.buffer_size = static_cast<std::uint32_t>(buffer);
    s.kind = kind;
    if (quillion::corvel::openInput(*mux, s, name, nullptr, nullptr,
                                    static_cast<std::uint32_t>(rate)) != 0)
      return false;
    added = true;
    return true;
  };
  const mpeg_m_settings& w = mux->settings;
  if (!add(video_name, STREAM_KIND_VIDEO, w.video_delay, w.video_buffer_size, video_bit_rate) ||
      !add(audio1_name, STREAM_KIND_AUDIO, w.audio1_delay, 0, 0) ||
      !add(audio2_name, STREAM_KIND_AUDIO, w.audio2_delay, 0, 0))
    return fail();
  if (!added) {
    mux->services.error("M003:No input filenames were specified");
    return fail();
  }
  return 0;
}

std::int32_t mpegOutMuxInit(mpeg_m_muxer* mux, bufstream* output, bufstream* audio,
                            bufstream* video) {
  if (!mux) return kResultFailure;
  if (!output) {
    mux->services.error("M015:An output stream must be specified");
    return kResultFailure;
  }
  if (!audio && !video) {
    mux->services.error("M016:At least one input stream must be specified");
    return kResultFailure;
  }
  if (initOutput(*mux, nullptr) != 0) return kResultFailure;
  mux->push = true;
  mux->output = output;
  mux->outputOwned = false;
  const mpeg_m_settings& w = mux->settings;
  const auto add = [mux](bufstream* es, std::uint32_t kind, std::int32_t delay,
                         std::int32_t buffer) {
    if (!es) return true;
    stream_settings s{};
    s.delay_ms = static_cast<std::uint32_t>(delay);
    s.buffer_size = static_cast<std::uint32_t>(buffer);
    s.kind = kind;
    return quillion::corvel::openPushedInput(*mux, s, es) == 0;
  };
  if (!add(video, STREAM_KIND_VIDEO, w.video_delay, w.video_buffer_size) ||
      !add(audio, STREAM_KIND_AUDIO, w.audio1_delay, 0)) {
    (void)mpegOutMuxDone(mux, 1);
    return kResultFailure;
  }
  return 0;
}

std::int32_t mpegOutMuxInitStream(mpeg_m_muxer* mux, const mux_output_info* info,
                                  bufstream* output) {
  if (!mux) return kResultFailure;
  if (!output) {
    mux->services.error("M015:An output stream must be specified");
    return kResultFailure;
  }
  if (initOutput(*mux, info) != 0) return kResultFailure;
  mux->push = true;
  mux->output = output;
  mux->outputOwned = false;
  return 0;
}

std::int32_t mpegOutMuxAddStream(mpeg_m_muxer* mux, const stream_settings* settings,
                                 bufstream* input) {
  if (!mux) return kResultFailure;
  if (!input) {
    mux->services.error("Invalid input stream parameter");
    return kResultFailure;
  }
  if (!settings) {
    mux->services.error("Invalid stream_settings parameter");
    return kResultFailure;
  }
  const std::lock_guard held(mux->pushLock);
  // Before a push-mode set-up (or after Done) there is no output for the input's set-up to
  // tell about it, and no job for it to join.
  if (!mux->push) {
    mux->services.error("M015:An output stream must be specified");
    return kResultFailure;
  }
  return quillion::corvel::openPushedInput(*mux, *settings, input);
}

std::int32_t mpegOutMux(mpeg_m_muxer* mux) {
  if (!mux) return kResultFailure;
  if (mux->push) return quillion::corvel::runPushed(*mux);
  if (mux->videoCount + mux->audioCount == 0) {
    mux->services.error("M003:No input filenames were specified");
    return kResultFailure;
  }
  return quillion::corvel::runFileJob(*mux);
}

std::int32_t mpegOutMuxDone(mpeg_m_muxer* mux, std::int32_t abort) {
  if (!mux) return kResultFailure;
  const std::lock_guard held(mux->pushLock);
  (void)quillion::corvel::flushAtDone(*mux, abort != 0);
  quillion::corvel::releaseScanOffsets(*mux);
  if (mux->nav && abort && mux->output)
    (void)mux->output->auxinfo(mux->output, 0, quillion::corvel::kNavNoticeAbort, nullptr, 0);
  quillion::corvel::releaseNavigation(*mux);
  quillion::corvel::closeInputs(*mux, abort != 0);
  if (mux->output && mux->outputOwned) (void)close_file_buf(mux->output, abort);
  static_cast<quillion::corvel::MuxJob&>(*mux) = quillion::corvel::MuxJob{};
  mux->lookAgain = false;
  mux->failed = false;
  return 0;
}

void mpegOutMuxAuxinfo(mpeg_m_muxer* mux, std::uint32_t value, std::uint32_t code, void* data,
                       std::uint32_t size) {
  if (!mux) return;
  // In push mode runs go on on the producers' threads: a side notice waits its turn.
  const std::lock_guard held(mux->pushLock);
  if (code == 0xD0000) {
    quillion::corvel::applySizeNotice(*mux, value);
  } else if (code == 0xE0010) {
    if (!data || size != sizeof(mux_navigation_template)) return;
    mux_navigation_template notice;
    std::memcpy(&notice, data, sizeof notice);
    quillion::corvel::storeNavigationTemplate(*mux, notice);
  } else if (code == 0xE0001 && data && size >= 8) {
    std::uint32_t words[2];
    std::memcpy(words, data, sizeof words);
    mux->segmentStart = words[0];
    mux->firstBlock = words[1];
  } else if (code == 0xE0040) {
    (void)quillion::corvel::queueCellMark(*mux, value);
  } else if (code == 0xF0040) {
    mux->newSegment = true;
  }
}

}  // extern "C"
