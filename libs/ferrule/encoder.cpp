// SPDX-License-Identifier: GPL-2.0-or-later
#include "encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "allocation.h"
#include "settings_check.h"

namespace quillion::ferrule {

bool FrameEncoder::prepare(const mpeg_a_settings& settings, int sampleRate,
                           const mpeg::Services& services) {
  const int rateIndex = sampleRateIndex(sampleRate);
  if (rateIndex < 0) {
    services.error("A001:Unknown audio sampling rate");
    return false;
  }
  settings_ = settings;
  sampleRate_ = sampleRate;
  kbps_ = bitrateKbps(settings.audio_layer, settings.bitrate_code);
  const int channels = settings.audio_mode == 3 ? 1 : 2;
  header_ = HeaderRecord{1,
                         settings.audio_layer,
                         settings.crc,
                         settings.bitrate_code,
                         rateIndex,
                         0,
                         settings.private_bit,
                         settings.audio_mode,
                         0,
                         settings.copyright,
                         settings.original,
                         settings.emphasis};
  baseLayout_ = FrameLayout{};
  baseLayout_.layer = settings.audio_layer;
  baseLayout_.channels = channels;
  baseLayout_.crc = settings.crc == 1;
  if (settings.audio_layer == 2) {
    baseLayout_.table = &allocationTable(chooseAllocationTable(kbps_ / channels, sampleRate));
    baseLayout_.sblimit = baseLayout_.table->sblimit;
  } else {
    baseLayout_.sblimit = kSubbands;
  }
  baseLayout_.bound = baseLayout_.sblimit;
  layout_ = baseLayout_;

  bitsPerSlot_ = settings.audio_layer == 1 ? 32 : 8;
  samplesPerFrame_ = settings.audio_layer == 1 ? 384 : 1152;
  const double khz = sampleRate / 1000.0;
  const double averageSlots =
      (samplesPerFrame_ / khz) * (static_cast<double>(kbps_) / bitsPerSlot_);
  wholeSlots_ = static_cast<int>(averageSlots);
  fraction_ = averageSlots - wholeSlots_;
  slotLag_ = -fraction_;
  frames_ = 0;
  totalBits_ = 0.0;

  staged_ = 0;
  for (auto& c : channel_) c.fill(0.0f);
  for (auto& h : history_) h.fill(0.0f);
  filterTables_.prepare();
  for (auto& f : filters_) f.reset();
  scales_.prepare();
  if (settings.psych_model == 1)
    model1_.prepare(sampleRate, settings.audio_layer);
  else
    model2_.prepare(sampleRate);
  return true;
}

std::uint32_t FrameEncoder::largestFrameBytes() const {
  const int slots = wholeSlots_ + (fraction_ > 0.0 ? 1 : 0);
  return static_cast<std::uint32_t>(slots * bitsPerSlot_ / 8);
}

FrameEncoder::Result FrameEncoder::put(const std::uint8_t* values, std::size_t count,
                                       mpeg::BitWriter& writer, const mpeg::Services& services) {
  const std::size_t perFrame = static_cast<std::size_t>(samplesPerFrame_) * baseLayout_.channels;
  while (count > 0) {
    const std::size_t take = std::min(count, perFrame - staged_);
    std::memcpy(staging_.data() + staged_, values, take * sizeof(std::int16_t));
    staged_ += take;
    values += take * sizeof(std::int16_t);
    count -= take;
    if (staged_ == perFrame) {
      staged_ = 0;
      takeStagedSamples();
      if (encodeFrame(writer, services) != Result::Ok) return Result::WriteFailed;
    }
  }
  return Result::Ok;
}

FrameEncoder::Result FrameEncoder::flush(mpeg::BitWriter& writer, const mpeg::Services& services) {
  if (staged_ == 0) return Result::Ok;
  const std::size_t perFrame = static_cast<std::size_t>(samplesPerFrame_) * baseLayout_.channels;
  std::fill(staging_.begin() + static_cast<std::ptrdiff_t>(staged_),
            staging_.begin() + static_cast<std::ptrdiff_t>(perFrame), std::int16_t{0});
  staged_ = 0;
  takeStagedSamples();
  return encodeFrame(writer, services);
}

void FrameEncoder::takeStagedSamples() {
  const int channels = baseLayout_.channels;
  const int n = samplesPerFrame_;
  // Layer I keeps the last 64 samples of the previous frame in front: the filter bank reads
  // the first 384, so the coded signal runs 64 samples behind the input.
  const int front = settings_.audio_layer == 1 ? 64 : 0;
  // The models look at the newest 1024 input samples, whatever the frame length.
  const int keep = std::max(0, 1024 - n);  // older samples that stay
  const int skip = n - (1024 - keep);      // new samples already too old for the models
  for (int c = 0; c < 2; ++c) {
    auto& buffer = channel_[c];
    if (front) std::copy(buffer.begin() + n, buffer.begin() + n + front, buffer.begin());
    auto& history = history_[c];
    std::copy(history.end() - keep, history.end(), history.begin());
    for (int i = 0; i < n; ++i) {
      const float v = c < channels ? staging_[i * channels + c] : 0.0f;
      buffer[front + i] = v * (1.0f / 32768.0f);
      if (i >= skip) history[keep + i - skip] = v;
    }
  }
}

void FrameEncoder::analyse() {
  const int blocks = samplesPerFrame_ / 32;
  for (int c = 0; c < baseLayout_.channels; ++c) {
    const float* input = channel_[c].data();
    for (int b = 0; b < blocks; ++b)
      filters_[c].filter(filterTables_, input + 32 * b, data_.samples[c][b].data());
  }
  if (settings_.audio_mode == 1) {
    for (int b = 0; b < blocks; ++b)
      for (int sb = 0; sb < kSubbands; ++sb)
        data_.samples[kSumChannel][b][sb] =
            0.5f * (data_.samples[0][b][sb] + data_.samples[1][b][sb]);
  }
}

void FrameEncoder::computeScaleFactors() {
  const int parts = settings_.audio_layer == 1 ? 1 : 3;
  const int lastChannel = settings_.audio_mode == 1 ? kSumChannel : baseLayout_.channels - 1;
  for (int c = 0; c <= lastChannel; ++c) {
    for (int part = 0; part < parts; ++part) {
      for (int sb = 0; sb < kSubbands; ++sb) {
        float peak = 0.0f;
        for (int b = part * 12; b < part * 12 + 12; ++b)
          peak = std::max(peak, std::fabs(data_.samples[c][b][sb]));
        data_.scf[c][part][sb] = scales_.indexFor(peak);
      }
    }
  }
}

void FrameEncoder::computeMaskRatios() {
  const int parts = settings_.audio_layer == 1 ? 1 : 3;
  for (int c = 0; c < baseLayout_.channels; ++c) {
    auto& smr = data_.smr[c];
    const float* history = history_[c].data();
    if (settings_.psych_model == 1) {
      double scfMax[kSubbands];
      for (int sb = 0; sb < kSubbands; ++sb) {
        int smallest = data_.scf[c][0][sb];
        for (int part = 1; part < parts; ++part)
          smallest = std::min(smallest, data_.scf[c][part][sb]);
        scfMax[sb] = scales_.value[smallest];
      }
      const int size = settings_.audio_layer == 1 ? 512 : 1024;
      model1_.analyse(history + (1024 - size), scfMax, smr);
    } else {
      model2_.analyse(c, history, smr);
    }
  }
}

void FrameEncoder::chooseLayout(int budgetBits) {
  layout_ = baseLayout_;
  header_.mode = settings_.audio_mode;
  header_.modeExtension = 0;
  if (settings_.audio_mode != 1 || baseLayout_.channels != 2) return;
  // Joint stereo shares the upper subbands only when coding them apart would be audible.
  if (bitsForInaudibleNoise(layout_, data_) <= budgetBits) {
    header_.mode = 0;
    return;
  }
  header_.mode = 1;
  for (int extension = 3; extension >= 0; --extension) {
    layout_.bound = std::min(kJointStereoBounds[extension], layout_.sblimit);
    header_.modeExtension = extension;
    if (bitsForInaudibleNoise(layout_, data_) <= budgetBits) return;
  }
}

FrameEncoder::Result FrameEncoder::encodeFrame(mpeg::BitWriter& writer,
                                               const mpeg::Services& services) {
  if (writer.state() != mpeg::BitWriter::kGood) {
    services.error("A002:Could not write to audio file");
    return Result::WriteFailed;
  }
  ++frames_;
  header_.padding = 0;
  if (fraction_ != 0.0) {
    if (slotLag_ > fraction_ - 1.0) {
      slotLag_ -= fraction_;
    } else {
      header_.padding = 1;
      slotLag_ += 1.0 - fraction_;
    }
  }
  const int budget = (wholeSlots_ + header_.padding) * bitsPerSlot_;

  analyse();
  computeScaleFactors();
  computeMaskRatios();
  if (settings_.audio_layer == 2) chooseScaleFactorSelection(baseLayout_, data_);
  chooseLayout(budget);
  allocateBits(layout_, data_, budget);

  const std::uint64_t before = writer.totalBits();
  // A whole frame goes into one chunk, so the stream sees it in one piece.
  if (writer.reserve(static_cast<std::uint32_t>(budget / 8)) != mpeg::BitWriter::kGood) {
    // The failure is reported at the start of the next frame (or by Done).
  }
  writeFrame(layout_, header_, data_, scales_, budget, writer);
  const auto bits = static_cast<long>(writer.totalBits() - before);
  if (bits % bitsPerSlot_ != 0)
    services.info("Sent %ld bits = %ld slots plus %ld\n", bits, bits / bitsPerSlot_,
                  bits % bitsPerSlot_);
  totalBits_ += static_cast<double>(bits);

  const double khz = sampleRate_ / 1000.0;
  const std::uint32_t length =
      settings_.audio_layer == 2
          ? static_cast<std::uint32_t>(header_.padding + kbps_ * 144.0 / khz)
          : 4u * static_cast<std::uint32_t>(header_.padding + kbps_ * 12.0 / khz);
  const auto timestamp = static_cast<std::int64_t>(static_cast<double>(frames_ - 1) *
                                                   samplesPerFrame_ * 90.0 * (1.0 / khz) * 300.0);
  std::uint8_t record[12];
  std::memcpy(record, &length, 4);
  std::memcpy(record + 4, &timestamp, 8);
  writer.endAudioFrame(record);
  return Result::Ok;
}

void FrameEncoder::printSummary(const mpeg::Services& services) const {
  if (frames_ == 0) {
    services.info("Avg slots/frame = no frame encoded");
    return;
  }
  const double frames = static_cast<double>(frames_);
  const double bitsPerSample = totalBits_ / (frames * samplesPerFrame_);
  services.info("Avg slots/frame = %.3f; b/smp = %.2f; br = %.3f kbps.",
                totalBits_ / (frames * bitsPerSlot_), bitsPerSample,
                bitsPerSample * sampleRate_ / 1000.0);
}

}  // namespace quillion::ferrule
