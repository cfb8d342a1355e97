// SPDX-License-Identifier: GPL-2.0-or-later
// Cuts the caller's byte stream of samples into frames, packs each one and writes it through
// the bit writer with its frame record. A frame the output cannot take is reported and
// dropped; from then on the writer answers with failure, so lost audio never passes as
// success.
#pragma once

#include <cstdint>

#include "bitwriter.h"
#include "frame_format.h"
#include "gantrel.h"
#include "services.h"

namespace quillion::gantrel {

class PcmWriter {
 public:
  // Takes the buffers the format needs from `services`; false (after P001) when they cannot
  // be had, with nothing kept.
  bool prepare(const FrameFormat& format, const std::uint8_t streamHeader[kStreamHeaderBytes],
               const mpeg::Services& services);
  // 0, or 2 once any frame (or the stream header) could not be written.
  std::int32_t put(const std::uint8_t* data, std::uint32_t bytes, mpeg::BitWriter& writer);
  // Completes and writes a staged part frame with silence; 0 or 2 as `put`.
  std::int32_t finish(mpeg::BitWriter& writer);
  void release();

  std::uint64_t framesWritten() const { return framesWritten_; }
  // 0, or 2 once anything could not be written.
  std::int32_t result() const;

 private:
  void writeStreamHeader(mpeg::BitWriter& writer);
  void writeFrame(const std::uint8_t* input, mpeg::BitWriter& writer);
  // Hands `bytes` of `data` to the writer as one frame with its record; false when lost.
  bool emit(const std::uint8_t* data, std::uint32_t bytes, std::int64_t timestamp,
            mpeg::BitWriter& writer);

  const mpeg::Services* services_ = nullptr;
  FrameFormat format_{};
  std::uint8_t header_[kStreamHeaderBytes] = {};
  std::uint8_t* staging_ = nullptr;
  std::uint8_t* frame_ = nullptr;
  std::uint32_t staged_ = 0;
  bool headerWritten_ = false;
  bool failed_ = false;
  int cycleIndex_ = 0;
  std::uint64_t framesWritten_ = 0;
  std::uint64_t sampleFrames_ = 0;  // sampling instants consumed
  std::uint64_t halfTicks_ = 0;     // running time of the frames consumed
};

}  // namespace quillion::gantrel
