// SPDX-License-Identifier: GPL-2.0-or-later
#include "bitwriter.h"

#include <cstring>

namespace quillion::mpeg {

void BitWriter::bind(bufstream* stream) {
  *this = BitWriter{};
  stream_ = stream;
  chunkSize_ = stream && stream->chunksize ? stream->chunksize(stream) : 0;
}

void BitWriter::nextChunk() {
  if (!stream_) {
    state_ = kWriteFailed;
    position_ = 0;
    buffer_ = nullptr;
    return;
  }
  if (buffer_ && position_ > 0 && state_ == kGood) {
    if (stream_->confirm(stream_, position_) != position_) state_ = kWriteFailed;
  }
  buffer_ = state_ == kGood ? stream_->request(stream_, chunkSize_) : nullptr;
  if (!buffer_) state_ = kWriteFailed;
  position_ = 0;
}

void BitWriter::storeByte(std::uint8_t byte) {
  if (!buffer_ && state_ == kGood) nextChunk();
  if (state_ != kGood) return;
  buffer_[position_++] = byte;
  if (position_ >= chunkSize_) nextChunk();
}

void BitWriter::putBits(std::uint32_t value, int n) {
  if (n <= 0) return;
  if (n > 32) n = 32;
  const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
  accumulator_ = (accumulator_ << n) | (value & mask);
  pendingBits_ += n;
  totalBits_ += static_cast<std::uint64_t>(n);
  while (pendingBits_ >= 8) {
    pendingBits_ -= 8;
    storeByte(static_cast<std::uint8_t>(accumulator_ >> pendingBits_));
  }
  accumulator_ &= (std::uint64_t{1} << pendingBits_) - 1;
}

int BitWriter::reserve(std::uint32_t n) {
  if (state_ != kGood) return state_;
  if (buffer_ && position_ + n < chunkSize_) return kGood;
  nextChunk();
  return state_;
}

void BitWriter::putBytes(std::uint32_t n, const std::uint8_t* data) {
  align();
  while (n > 0 && state_ == kGood) {
    if (!buffer_) nextChunk();
    if (state_ != kGood) break;
    std::uint32_t piece = chunkSize_ - position_;
    if (piece > n) piece = n;
    std::memcpy(buffer_ + position_, data, piece);
    position_ += piece;
    totalBits_ += 8ull * piece;
    data += piece;
    n -= piece;
    if (position_ >= chunkSize_) nextChunk();
  }
  totalBits_ += 8ull * n;  // bytes that could not be stored still count
}

void BitWriter::align() {
  if (pendingBits_ > 0) putBits(0, 8 - pendingBits_);
}

void BitWriter::writeHeader(std::uint32_t value, void* info) {
  align();
  if (stream_ && stream_->auxinfo) stream_->auxinfo(stream_, position_, kHeaderNotice, info, 48);
  if (state_ == kGood && (!buffer_ || position_ + 4 > chunkSize_)) nextChunk();
  putBits(value, 32);
}

void BitWriter::endAudioFrame(void* info) {
  align();
  nextChunk();
  if (stream_ && stream_->auxinfo) stream_->auxinfo(stream_, 0, kAudioFrameNotice, info, 12);
}

void BitWriter::close() {
  if (stream_ && buffer_ && position_ > 0 && state_ == kGood) {
    if (stream_->confirm(stream_, position_) != position_) state_ = kWriteFailed;
  }
  stream_ = nullptr;
  buffer_ = nullptr;
  position_ = 0;
}

}  // namespace quillion::mpeg
