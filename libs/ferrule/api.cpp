// SPDX-License-Identifier: GPL-2.0-or-later
// The exported functions: presets, settings checks and the life of an encoder instance.
#include <cstring>
#include <new>

#include "bitwriter.h"
#include "encoder.h"
#include "ferrule.h"
#include "services.h"
#include "settings_check.h"

using quillion::ferrule::checkSettings;
using quillion::ferrule::FrameEncoder;
using quillion::ferrule::kResultFailure;
using quillion::mpeg::BitWriter;
using quillion::mpeg::Services;

struct mpeg_a_encoder {
  enum class Phase { Created, Bound, Closed };

  Services services;
  mpeg_a_settings settings{};
  std::int32_t sampleRate = 0;
  std::uint64_t inputBytes = 0;
  Phase phase = Phase::Created;
  FrameEncoder encoder;
  BitWriter writer;
};

namespace {

// Closes the writer; 2 when a frame since the last report could not be written.
std::int32_t closeOutput(mpeg_a_encoder& e) {
  const bool failed = e.writer.state() != BitWriter::kGood;
  e.writer.close();
  e.phase = mpeg_a_encoder::Phase::Closed;
  if (failed) e.services.error("A002:Could not write to audio file");
  return failed ? kResultFailure : 0;
}

}  // namespace

extern "C" {

const char* mpegOutAudioDefaults(mpeg_a_settings* settings, std::int32_t preset) {
  if (!settings) return nullptr;
  *settings = mpeg_a_settings{0, 2, 2, 11, 0, 0, 0, 0, 0};
  switch (preset) {
    case 0:
    case 2:
      return "Default, MPEG-1 Audio";
    case 1:
    case 4096:
      settings->crc = 1;
      return "VCD, MPEG-1 Audio";
    case 3:
    case 4097:
      settings->crc = 1;
      return "SVCD, MPEG-1 Audio";
    case 4:
    case 13:
    case 14:
    case 15:
    case 4112:
    case 4113:
    case 4114:
    case 4115:
      settings->crc = 1;
      return "DVD, MPEG-1 Audio";
    case 8:
    case 4128:
      settings->crc = 1;
      return "DVB, MPEG-1 Audio";
    case 9:
    case 4129:
      settings->crc = 1;
      settings->bitrate_code = 12;
      return "MMV, MPEG-1 Audio";
    case 10:
    case 4130:
      settings->crc = 1;
      return "DVHS, MPEG-1 Audio";
    case 18:
    case 19:
    case 4144:
    case 4145:
      settings->crc = 1;
      settings->bitrate_code = 14;
      return "HDV, MPEG-1 Audio";
    default:
      return nullptr;
  }
}

std::int32_t mpegOutAudioChkSettings(mpeg_get_rc get_rc, const mpeg_a_settings* settings,
                                     std::int32_t format_type, std::int32_t sample_rate,
                                     std::int32_t options) {
  return checkSettings(settings, format_type, sample_rate, options, Services::resolve(get_rc));
}

std::int32_t mpegOutAudioCheckSettings(const mpeg_a_settings* settings, std::int32_t format_type,
                                       std::int32_t sample_rate) {
  return checkSettings(settings, format_type, sample_rate, 0, Services::resolve(nullptr));
}

std::int32_t mpegOutAudioCheckFirst(mpeg_get_rc get_rc, const mpeg_a_settings* settings,
                                    std::int32_t format_type, std::int32_t sample_rate) {
  return mpegOutAudioChkSettings(get_rc, settings, format_type, sample_rate, 0);
}

std::int32_t mpegOutAudioCheckNext(void) {
  return 0;
}

const char* mpegOutAudioGetLastErrString(void) {
  return "";
}

mpeg_a_encoder* mpegOutAudioNew(mpeg_get_rc get_rc, const mpeg_a_settings* settings, std::int32_t,
                                std::int32_t, std::int32_t sample_rate) {
  const Services services = Services::resolve(get_rc);
  // Null settings are refused outright: there is nothing to copy.
  if (!settings) {
    checkSettings(settings, 0, sample_rate, MPEG_A_CHECK_GENERIC_ONLY, services);
    return nullptr;
  }
  if (checkSettings(settings, 0, sample_rate, MPEG_A_CHECK_GENERIC_ONLY, services) > 0x1FFFF)
    return nullptr;
  void* block = services.allocate(sizeof(mpeg_a_encoder));
  if (!block) return nullptr;
  std::memset(block, 0, sizeof(mpeg_a_encoder));
  auto* e = new (block) mpeg_a_encoder;
  e->services = services;
  e->settings = *settings;
  e->sampleRate = sample_rate;
  return e;
}

std::int32_t mpegOutAudioInit(mpeg_a_encoder* e, bufstream* output) {
  if (!e || e->phase != mpeg_a_encoder::Phase::Created || !output) return kResultFailure;
  e->writer.bind(output);
  e->phase = mpeg_a_encoder::Phase::Bound;
  if (!e->encoder.prepare(e->settings, e->sampleRate, e->services)) {
    e->writer.close();
    e->phase = mpeg_a_encoder::Phase::Closed;
    return kResultFailure;
  }
  if (e->writer.chunkSize() < e->encoder.largestFrameBytes()) {
    // Each frame is handed to the stream in one chunk; a smaller chunk cannot carry it.
    e->services.error("A002:Could not write to audio file");
    e->writer.close();
    e->phase = mpeg_a_encoder::Phase::Closed;
    return kResultFailure;
  }
  e->inputBytes = 0;
  return 0;
}

std::int32_t mpegOutAudioPutBytes(mpeg_a_encoder* e, const void* samples,
                                  std::uint32_t byte_count) {
  if (!e || e->phase != mpeg_a_encoder::Phase::Bound) return kResultFailure;
  FrameEncoder::Result result;
  if (!samples) {
    result = e->encoder.flush(e->writer, e->services);
  } else {
    e->inputBytes += byte_count;
    result = e->encoder.put(static_cast<const std::uint8_t*>(samples), byte_count / 2, e->writer,
                            e->services);
  }
  return result == FrameEncoder::Result::Ok ? 0 : kResultFailure;
}

std::int32_t mpegOutAudioDone(mpeg_a_encoder* e, std::int32_t abort) {
  if (!e || e->phase != mpeg_a_encoder::Phase::Bound) return 0;
  if (abort) {
    e->writer.close();
    e->phase = mpeg_a_encoder::Phase::Closed;
    return 0;
  }
  if (e->encoder.flush(e->writer, e->services) != FrameEncoder::Result::Ok) {
    e->writer.close();
    e->phase = mpeg_a_encoder::Phase::Closed;
    return kResultFailure;
  }
  e->encoder.printSummary(e->services);
  return closeOutput(*e);
}

void mpegOutAudioFree(mpeg_a_encoder* e) {
  if (!e) return;
  const Services services = e->services;
  e->~mpeg_a_encoder();
  services.release(e);
}

}  // extern "C"
