// SPDX-License-Identifier: GPL-2.0-or-later
// Bit writer over a caller's byte stream, shared by the audio encoders. It borrows the
// stream's chunks (request), fills them most significant bit first, hands them back
// (confirm) one frame at a time, and tells the stream about frame starts and ends through
// auxinfo. A refused chunk or a short confirm makes the writer fail for good: from then on
// bits are counted but not stored, and the owning encoder reports the failure.
#pragma once

#include <cstdint>

#include "bufstream.h"

namespace quillion::mpeg {

class BitWriter {
 public:
  enum State : int { kGood = 0, kWriteFailed = 1 };

  // Notice ids sent to the stream.
  static constexpr std::uint32_t kHeaderNotice = 0xFFF00000;
  static constexpr std::uint32_t kAudioFrameNotice = 0xF0002;

  // Binds for writing: clears the record, keeps the stream, asks its chunk size.
  void bind(bufstream* stream);
  bool bound() const { return stream_ != nullptr; }
  std::uint32_t chunkSize() const { return chunkSize_; }

  // Appends the low n bits of value; n <= 0 does nothing.
  void putBits(std::uint32_t value, int n);
  void putBit(std::uint32_t value) { putBits(value & 1u, 1); }
  // Makes sure n more bytes fit in the current chunk (getting the next one otherwise).
  [[nodiscard]] int reserve(std::uint32_t n);
  void putBytes(std::uint32_t n, const std::uint8_t* data);
  void align();
  // Aligns, announces a header with its 48-byte record, then writes `value` as 4 bytes.
  void writeHeader(std::uint32_t value, void* info);
  // Aligns, hands the frame to the stream and announces it with its 12-byte record.
  void endAudioFrame(void* info);
  // Confirms pending bytes (unless failed) and forgets the stream; it is not finished.
  void close();

  int state() const { return state_; }
  std::uint64_t totalBits() const { return totalBits_; }

 private:
  void storeByte(std::uint8_t byte);
  void nextChunk();

  std::uint8_t* buffer_ = nullptr;
  std::uint32_t chunkSize_ = 0;
  bufstream* stream_ = nullptr;
  std::uint64_t accumulator_ = 0;
  int pendingBits_ = 0;  // bits in the accumulator not yet stored (0..7 between calls)
  std::uint32_t position_ = 0;
  std::uint64_t totalBits_ = 0;
  int state_ = kGood;
};

}  // namespace quillion::mpeg
