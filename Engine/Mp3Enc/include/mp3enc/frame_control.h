// SPDX-License-Identifier: GPL-2.0-or-later
// Frame control: which bit-rate index each frame gets and whether it carries the padding
// byte, so that the stream meets its bit rate exactly over time.
#pragma once

#include <cstdint>
#include <memory>

namespace quillion::mp3enc {

// The rate controller. Sizes are in bits without padding, indexed by bit-rate index.
struct RateControl {
  std::int64_t numerator = 0;    // average bits per frame = numerator / denominator
  std::int64_t denominator = 1;
  std::int64_t error = 0;        // accumulated (denominator x bits emitted) - numerator x frames
  std::int32_t upperFlag = 0;    // the current frame uses the upper index
  std::int32_t paddingFlag = 0;  // the current frame carries the padding byte
  std::int32_t mode = 0;         // 0 padding chosen per frame, 1 never padded, 2 always padded
  std::int32_t lowerIndex = 0, upperIndex = 0;
  std::int32_t lowerSize = 0, upperSize = 0;
};

// The padding ("nuansdro") modes of frame control.
inline constexpr int kPaddingPerFrame = 0;
inline constexpr int kPaddingNever = 1;
inline constexpr int kPaddingAlways = 2;
inline constexpr int kPaddingByRemainder = 3;

[[nodiscard]] int RCNew(RateControl** rc);
void RCDelete(RateControl* rc);
// 0, or 1 when the average lies outside the sizes the indices offer.
[[nodiscard]] int RCInit(RateControl* rc, std::int64_t numerator, std::int64_t denominator, int count,
                         const std::int32_t* sizes, int mode);
void RCAdvance(RateControl* rc);
[[nodiscard]] int RCBitrateIdx(const RateControl* rc);
[[nodiscard]] int RCNuansdroByte(const RateControl* rc);
[[nodiscard]] int RCNuansdroMode(const RateControl* rc);
// Divides a and b by every listed prime they share, as often as it goes into both.
void RCCancelFraction(std::int64_t* a, std::int64_t* b);

struct FrameControl {
  std::int32_t sizes[15] = {};  // bits without padding by index
  int indexCount = 0;           // usable indices, 0 included
  int version = 0;
  int framesPerMeta = 1;
  std::int64_t metaframeBytes = 1;
  int mode = 0;
  RateControl rc;
};

[[nodiscard]] int FCNew(FrameControl** fc);
void FCDelete(FrameControl* fc);
// 0, or 1 when the bit rate cannot be met at this sample rate.
[[nodiscard]] int FCInit(FrameControl* fc, std::int32_t bitrate, std::int32_t sampleRate, int mode);
void FCAdvance(FrameControl* fc);
[[nodiscard]] int FCBitrateIdx(const FrameControl* fc);
[[nodiscard]] int FCNuansdroByte(const FrameControl* fc);
[[nodiscard]] std::int32_t FCSize(const FrameControl* fc, int index);
// The smallest index whose frame holds bits + anc, or -1; with flag set the top index is
// not offered.
[[nodiscard]] int FCFindFit(const FrameControl* fc, std::int32_t bits, std::int32_t anc, int flag);
[[nodiscard]] int FCFramesInMeta(const FrameControl* fc);
[[nodiscard]] std::int64_t FCMetaframeSize(const FrameControl* fc);

struct FrameControlDelete {
  void operator()(FrameControl* fc) const noexcept { FCDelete(fc); }
};
using FrameControlPtr = std::unique_ptr<FrameControl, FrameControlDelete>;

}  // namespace quillion::mp3enc
