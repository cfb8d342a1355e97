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
  // Appends `count` released records (18 words each, in decoding order) to the unit queue;
  // false, with nothing appended, when they do not all fit.
  using Release = std::function<bool(const std::uint32_t* records, std::uint32_t count)>;

  // 0, or 16 after an "M018" message when a ring cannot be allocated.
  std::int32_t create(std::uint32_t owner, const mpeg::Services& services);
  void destroy();
  bool created() const { return held_.created(); }

  // One finished picture (its 18-word unit record). `frameRateCode` is the video's frame-rate
  // code, which chooses the audio record's time scale; `auxAudio` is the ring of the
  // multiplex's audio auxiliary records, null when it has no audio. A refused release leaves
  // every picture held and no auxiliary record queued.
  Hd2Arrival arrive(const std::uint32_t record[kHd2RecordWords], const Release& release,
                    std::int32_t frameRateCode, Hd2Queue* auxAudio);
  // Hands on every held record: no anchor will come to release them.
  Hd2Arrival releaseAll(const Release& release, std::int32_t frameRateCode, Hd2Queue* auxAudio);

  std::int32_t held() const { return held_.count(); }
  Hd2Queue& auxVideo() { return auxVideo_; }

  // The two auxiliary records of one release of `count` held records.
  static Hd2AuxVideoInfo auxVideoRecord(const std::uint32_t* first, const std::uint32_t* second,
                                        std::uint32_t count, std::uint32_t number);
  static Hd2AuxAudioInfo auxAudioRecord(std::uint64_t decodeTime, std::uint32_t count,
                                        std::uint32_t number, std::int32_t frameRateCode);

 private:
  std::int32_t releaseHeld(const Release& release, std::int32_t frameRateCode, Hd2Queue* auxAudio,
                           std::int32_t& released);

  Hd2Queue held_;
  Hd2Queue auxVideo_;
  std::uint32_t auxRecords_ = 0;
};

}  // namespace quillion::corvel
