// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_math.h"

#include "resources.h"
#include "session.h"

namespace quillion::brindle {

std::uint32_t be32(const std::uint8_t* b) {
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

std::uint32_t be31(const std::uint8_t* b) {
  return be32(b) & 0x7FFFFFFFu;
}

int audio_samples_from_pts(mpeg_in_info* record) {
  constexpr double kClock = 27000000.0;
  mpeg_in_private* p = record->priv;
  record->first_audio_time = record->first_time_stamp;
  record->audio_end_time = static_cast<std::int64_t>(record->last_time_stamp);
  const std::uint32_t rate = record->sample_rate;
  const std::uint32_t perFrame = record->samples_per_frame;
  if (rate == 0 || perFrame == 0) {
    // Without both there is nothing to count with, and the rounding below would divide by 0.
    record->audio_samples = 0;
    record->audio_samples_low = 0;
    report_error(record, "Unable to count audio samples: %u Hz, %u samples per frame", rate,
                 perFrame);
    return 1;
  }
  p->ticks_per_sample = kClock / static_cast<double>(rate);
  p->ticks_per_frame = static_cast<double>(perFrame) * p->ticks_per_sample;
  const double span = static_cast<double>(
      static_cast<std::int64_t>(record->last_time_stamp - record->first_time_stamp));
  const auto samples = static_cast<std::int64_t>(span / kClock * rate + 0.51);
  std::uint64_t count = 0;
  if (samples > 0) {
    const std::uint64_t withFrame = static_cast<std::uint64_t>(samples) + perFrame;
    count = (withFrame + perFrame - 1) / perFrame * perFrame;
  }
  record->audio_samples = count;
  record->audio_samples_low = static_cast<std::uint32_t>(count);
  return 0;
}

}  // namespace quillion::brindle
