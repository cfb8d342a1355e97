// SPDX-License-Identifier: GPL-2.0-or-later
// HDV HD2 push-mode pictures: records are held back until the next picture that is not a B
// picture, then released together in decoding order; the release fills one auxiliary video
// record (and one auxiliary audio record when the multiplex has audio) for the transport
// writers.
#pragma once

#include <cstdint>
#include <functional>

#include "hd2_queues.h"
#include "services.h"

namespace quillion::corvel {

inline constexpr std::uint32_t kHd2RecordWords = 18;  // the push-mode video unit record

struct Hd2Arrival {
  std::int32_t result = 0;    // 0, or -1 when a record could not be queued
  std::int32_t released = 0;  // held records handed on before this one was held
};

class Hd2PictureHold {
 public:
  // 0, or 16 after an "M018" message when a ring cannot be allocated; the audio ring only
  // when the multiplex has audio.
  std::int32_t create(std::uint32_t owner, bool withAudio, const mpeg::Services& services);
  void destroy();

  // One finished picture (its 18-word unit record). `release` appends a held record to the
  // unit queue and answers false when it cannot. `frameRateField` is the video input's rate
  // field, which chooses the audio record's time scale.
  Hd2Arrival arrive(const std::uint32_t record[kHd2RecordWords],
                    const std::function<bool(const std::uint32_t* record)>& release,
                    std::int32_t frameRateField);

  std::int32_t held() const { return held_.count(); }
  Hd2Queue& auxVideo() { return auxVideo_; }
  Hd2Queue& auxAudio() { return auxAudio_; }

  // The two auxiliary records of one release of `count` held records.
  static Hd2AuxVideoInfo auxVideoRecord(const std::uint32_t* first, const std::uint32_t* second,
                                        std::uint32_t count, std::uint32_t number);
  static Hd2AuxAudioInfo auxAudioRecord(std::uint64_t decodeTime, std::uint32_t count,
                                        std::uint32_t number, std::int32_t frameRateField);

 private:
  std::int32_t releaseHeld(const std::function<bool(const std::uint32_t*)>& release,
                           std::int32_t frameRateField, std::int32_t& released);

  Hd2Queue held_;
  Hd2Queue auxVideo_;
  Hd2Queue auxAudio_;
  bool withAudio_ = false;
  std::uint32_t auxRecords_ = 0;
};

}  // namespace quillion::corvel
