// SPDX-License-Identifier: GPL-2.0-or-later
// The exported functions: presets, settings checks and the life of an output instance.
#include <cstring>
#include <new>

#include "bitwriter.h"
#include "frame_format.h"
#include "gantrel.h"
#include "packing.h"
#include "pcm_writer.h"
#include "services.h"
#include "settings_check.h"

using quillion::gantrel::buildFrameFormat;
using quillion::gantrel::buildStreamHeader;
using quillion::gantrel::checkSettings;
using quillion::gantrel::FrameFormat;
using quillion::gantrel::kLayoutLpcm;
using quillion::gantrel::kResultFailure;
using quillion::gantrel::kStreamHeaderBytes;
using quillion::gantrel::PcmWriter;
using quillion::gantrel::validFrameRateCode;
using quillion::mpeg::BitWriter;
using quillion::mpeg::Services;

struct pcm_a_output {
  enum class Phase { Created, Bound, Closed };

  Services services;
  pcm_a_settings settings{};
  std::int32_t flags = 0;
  std::int32_t frameRateCode = 0;
  std::int32_t sampleRate = 0;
  Phase phase = Phase::Created;
  PcmWriter pcm;
  BitWriter writer;
};

namespace {

constexpr pcm_a_settings kBaseSettings{1, 10, 0, 0, 0, 128};

struct PresetRange {
  std::int32_t first;
  std::int32_t last;
  std::int32_t layer;
  const char* title;
};

// Preset codes shared with the multiplexer and the encoders, by the layout they choose.
constexpr PresetRange kPresets[] = {
    {0, 0, 10, "Default, PCM Audio"},     {4, 4, 4, "DVD, PCM Audio"},
    {13, 17, 4, "DVD, PCM Audio"},        {4112, 4117, 4, "DVD, PCM Audio"},
    {28, 31, 10, "XDCAM IMX, PCM Audio"}, {65536, 65539, 10, "XDCAM IMX, PCM Audio"},
    {32, 37, 12, "XDCAM, PCM Audio"},     {65792, 65797, 12, "XDCAM, PCM Audio"},
};

void closeOutput(pcm_a_output& o) {
  o.writer.close();
  o.pcm.release();
  o.phase = pcm_a_output::Phase::Closed;
}

}  // namespace

extern "C" {

const char* pcmOutAudioDefaults(pcm_a_settings* settings, std::int32_t preset) {
  if (!settings) return nullptr;
  *settings = kBaseSettings;
  for (const PresetRange& p : kPresets) {
    if (preset < p.first || preset > p.last) continue;
    settings->audio_layer = p.layer;
    return p.title;
  }
  return nullptr;
}

std::int32_t pcmOutAudioChkSettings(mpeg_get_rc get_rc, const pcm_a_settings* settings,
                                    std::int32_t format_type, std::int32_t sample_rate,
                                    std::int32_t options) {
  return checkSettings(settings, format_type, sample_rate, options, Services::resolve(get_rc));
}

std::int32_t pcmOutAudioCheckSettings(const pcm_a_settings* settings, std::int32_t format_type,
                                      std::int32_t sample_rate) {
  return checkSettings(settings, format_type, sample_rate, 0, Services::resolve(nullptr));
}

std::int32_t pcmOutAudioCheckFirst(mpeg_get_rc get_rc, const pcm_a_settings* settings,
                                   std::int32_t format_type, std::int32_t sample_rate) {
  return pcmOutAudioChkSettings(get_rc, settings, format_type, sample_rate, 0);
}

std::int32_t pcmOutAudioCheckNext(void) {
  return 0;
}

const char* pcmOutAudioGetLastErrString(void) {
  return "";
}

pcm_a_output* pcmOutAudioNew(mpeg_get_rc get_rc, const pcm_a_settings* settings, std::int32_t flags,
                             std::int32_t frameRateCode, std::int32_t sample_rate) {
  const Services services = Services::resolve(get_rc);
  const std::int32_t check =
      checkSettings(settings, 0, sample_rate, PCM_A_CHECK_GENERIC_ONLY, services);
  // Null settings are refused outright: there is nothing to copy.
  if (!settings || check > 0x1FFFF) return nullptr;
  if (settings->audio_layer != kLayoutLpcm && !validFrameRateCode(frameRateCode)) {
    services.error("P021:Invalid frameRateCode (%d) for AES3 audio", frameRateCode);
    return nullptr;
  }
  void* block = services.allocate(sizeof(pcm_a_output));
  if (!block) return nullptr;
  std::memset(block, 0, sizeof(pcm_a_output));
  auto* o = new (block) pcm_a_output;
  o->services = services;
  o->settings = *settings;
  o->flags = flags;
  o->frameRateCode = frameRateCode;
  o->sampleRate = sample_rate;
  return o;
}

std::int32_t pcmOutAudioInit(pcm_a_output* o, bufstream* stream) {
  if (!o || o->phase != pcm_a_output::Phase::Created || !stream) return kResultFailure;
  FrameFormat format;
  const bool msbFirst = (o->flags & PCM_A_INPUT_MSB_FIRST) != 0;
  if (!buildFrameFormat(o->settings, o->sampleRate, o->frameRateCode, msbFirst, format))
    return kResultFailure;
  std::uint8_t header[kStreamHeaderBytes];
  buildStreamHeader(o->settings, o->sampleRate, o->frameRateCode, header);
  if (!o->pcm.prepare(format, header, o->services)) {
    o->phase = pcm_a_output::Phase::Closed;
    return kResultFailure;
  }
  o->writer.bind(stream);
  o->phase = pcm_a_output::Phase::Bound;
  return 0;
}

std::int32_t pcmOutAudioPutBytes(pcm_a_output* o, const void* samples, std::uint32_t byte_count) {
  if (!o || o->phase != pcm_a_output::Phase::Bound) return kResultFailure;
  if (!samples && byte_count > 0) return kResultFailure;
  return o->pcm.put(static_cast<const std::uint8_t*>(samples), byte_count, o->writer);
}

std::int32_t pcmOutAudioDone(pcm_a_output* o, std::int32_t abort) {
  if (!o || o->phase != pcm_a_output::Phase::Bound) return 0;
  // An aborted stream writes nothing more, but still owns up to frames it lost.
  std::int32_t result = abort ? o->pcm.result() : o->pcm.finish(o->writer);
  o->writer.close();
  if (o->writer.state() != BitWriter::kGood) result = kResultFailure;
  o->pcm.release();
  o->phase = pcm_a_output::Phase::Closed;
  return result;
}

void pcmOutAudioFree(pcm_a_output* o) {
  if (!o) return;
  if (o->phase == pcm_a_output::Phase::Bound) closeOutput(*o);
  const Services services = o->services;
  o->~pcm_a_output();
  services.release(o);
}

}  // extern "C"
