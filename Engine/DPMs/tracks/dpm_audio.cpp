// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/tracks/dpm_audio.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DPMs/audio/mp3_reader.h"

namespace {
constexpr std::uint64_t kAudioTrackRate = 44'100;
constexpr std::uint64_t kAudioTrackFrameBytes = 4;
}  // namespace

DPM_Audio_Base::DPM_Audio_Base(std::string path, float gain) : path_(std::move(path)), gain_(gain) {
  blockSize = kBlockBytes;
  openStatus_ = DPM_Audio_Base::Init();
}

DPM_Audio_Base::~DPM_Audio_Base() {
  DPM_Audio_Base::Term();
}

EngineStatus DPM_Audio_Base::Init() {
  if (path_.empty()) return openStatus_ = kErrProducerNoPath;
  if (reader_ == nullptr) reader_ = initAudio(path_.c_str());
  return openStatus_ = isValidAudioFile(reader_) ? EngineStatus{kNoErr} : reader_->openStatus();
}

void DPM_Audio_Base::Term() {
  termAudio(reader_);
  reader_ = nullptr;
}

std::uint32_t DPM_Audio_Base::PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) {
  if (size == nullptr) return 0;
  *size = kBlockBytes;
  if (!isValidAudioFile(reader_)) return 0;
  const std::uint64_t frames = GetMP3FrameCount(reader_);
  const std::uint64_t rate = GetMP3TrackRate(reader_);
  if (rate == 0) return 0;
  const std::uint64_t cdFrames = rate == kAudioTrackRate ? frames : frames * kAudioTrackRate / rate;
  const std::uint64_t blocks = std::max<std::uint64_t>(
      (cdFrames * kAudioTrackFrameBytes + kBlockBytes - 1) / kBlockBytes, kMinimumBlocks);
  totalBlocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, 0xFFFFFFFFu));
  owed_ = totalBlocks;
  return totalBlocks;
}

void DPM_Audio_Base::applyGain(std::uint8_t* pcm, std::size_t bytes) const {
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    std::int16_t sample = 0;
    std::memcpy(&sample, pcm + i, 2);
    const float scaled = std::trunc(static_cast<float>(sample) * gain_);
    const float clipped = std::clamp(scaled, -32768.0f, 32767.0f);
    sample = static_cast<std::int16_t>(clipped);
    std::memcpy(pcm + i, &sample, 2);
  }
}

EngineStatus DPM_Audio_Base::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                        std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  const std::uint32_t n = std::min({owed_, maxBlocks, bufferBytes / kBlockBytes});
  if (n == 0) return kNoErr;
  if (buffer == nullptr) return kErrBadArgument;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t bytes = 0;
  const EngineStatus s = GetNextCDDABlock(reader_, n, out, &bytes, false);
  std::uint32_t got = n;  // the source has ended: silence up to the prepared length
  if (bytes > 0) {
    const auto have = static_cast<std::size_t>(bytes);
    got = static_cast<std::uint32_t>((have + kBlockBytes - 1) / kBlockBytes);
    if (gain_ != 1.0f) applyGain(out, have);
    std::memset(out + have, 0, std::size_t{got} * kBlockBytes - have);
  } else if (s == kNoErr) {
    std::memset(out, 0, std::size_t{n} * kBlockBytes);
  } else {
    got = 0;
  }
  owed_ -= got;
  *gotBlocks = got;
  return s;
}
