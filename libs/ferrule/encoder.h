// SPDX-License-Identifier: GPL-2.0-or-later
// The layer I/II frame encoder: stages 16-bit PCM into frames and turns each into one frame
// through the filter bank, scale factors, psychoacoustic model, bit allocation and
// bitstream formatting.
#pragma once

#include <array>
#include <cstdint>

#include "bitstream.h"
#include "ferrule.h"
#include "filterbank.h"
#include "frame.h"
#include "psy.h"
#include "services.h"

namespace quillion::ferrule {

class FrameEncoder {
 public:
  enum class Result { Ok, WriteFailed };

  // Clears everything and fills the tables; false (after "A001") for an unknown rate.
  [[nodiscard]] bool prepare(const mpeg_a_settings& settings, int sampleRate,
                             const mpeg::Services& services);
  // The longest frame of these settings, padding slot included.
  std::uint32_t largestFrameBytes() const;

  // `count` 16-bit values; encodes every frame they complete.
  [[nodiscard]] Result put(const std::uint8_t* values, std::size_t count, mpeg::BitWriter& writer,
                           const mpeg::Services& services);
  // Encodes the staged part frame padded with silence, if any.
  [[nodiscard]] Result flush(mpeg::BitWriter& writer, const mpeg::Services& services);
  void printSummary(const mpeg::Services& services) const;

 private:
  [[nodiscard]] Result encodeFrame(mpeg::BitWriter& writer, const mpeg::Services& services);
  void takeStagedSamples();
  void analyse();
  void computeScaleFactors();
  void computeMaskRatios();
  void chooseLayout(int budgetBits);

  mpeg_a_settings settings_{};
  int sampleRate_ = 0;
  int kbps_ = 0;
  FrameLayout baseLayout_;
  FrameLayout layout_;
  HeaderRecord header_{};
  int bitsPerSlot_ = 8;
  int samplesPerFrame_ = 1152;
  int wholeSlots_ = 0;
  double fraction_ = 0.0;
  double slotLag_ = 0.0;
  std::uint64_t frames_ = 0;
  double totalBits_ = 0.0;

  std::array<std::int16_t, 2304> staging_{};
  std::size_t staged_ = 0;
  // Per channel: the frame's samples (layer I keeps 64 more in front), scaled to +-1.0.
  std::array<std::array<float, 1152 + 64>, 2> channel_{};
  // Per channel: the newest 1024 input samples in 16-bit scale, for the models.
  std::array<std::array<float, 1024>, 2> history_{};

  FilterTables filterTables_;
  std::array<AnalysisFilter, 2> filters_;
  ScaleTables scales_;
  PsyModel1 model1_;
  PsyModel2 model2_;
  FrameData data_;
};

}  // namespace quillion::ferrule
