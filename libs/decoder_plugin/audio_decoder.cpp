// SPDX-License-Identifier: GPL-2.0-or-later
#include "audio_decoder.h"

#include <utility>

namespace quillion::decoder {

bool AudioDecoder::takeHeader(const std::uint8_t* data, std::uint32_t size) {
  start_ = format_.probe(data, size);
  openFailed_ = false;
  stream_.close();
  return start_.codec != AV_CODEC_ID_NONE;
}

bool AudioDecoder::readyToDecode() {
  return ensureOpen();
}

bool AudioDecoder::ensureOpen() {
  if (stream_.isOpen()) return true;
  if (openFailed_ || start_.codec == AV_CODEC_ID_NONE) return false;
  openFailed_ = !stream_.open(start_.codec, false, format_.frameLength);
  return !openFailed_;
}

void AudioDecoder::reset() {
  stream_.restart();
  samples_.clear();
  oddHeld_ = false;
  written_ = 0;
  status_ = 0;
}

std::uint32_t AudioDecoder::pushSwapped(const std::uint8_t* data, std::uint32_t size) {
  // A word split between two feeds: its first byte is taken and held until the second comes.
  const std::uint32_t carried = oddHeld_ ? 1 : 0;
  swapped_.clear();
  if (oddHeld_) swapped_.push_back(odd_);
  swapped_.insert(swapped_.end(), data, data + size);
  const std::uint32_t even = static_cast<std::uint32_t>(swapped_.size()) & ~1u;
  for (std::uint32_t i = 0; i < even; i += 2) std::swap(swapped_[i], swapped_[i + 1]);
  const std::uint32_t used = stream_.push(swapped_.data(), even);
  if (used < carried) return 0;
  oddHeld_ = false;
  std::uint32_t taken = used - carried;
  if (used == even && swapped_.size() > even) {
    odd_ = swapped_.back();
    oddHeld_ = true;
    ++taken;
  }
  return taken;
}

std::uint32_t AudioDecoder::push(const std::uint8_t* data, std::uint32_t size) {
  return start_.byteSwapped ? pushSwapped(data, size) : stream_.push(data, size);
}

std::uint32_t AudioDecoder::feed(const std::uint8_t* data, std::uint32_t size) {
  status_ = 0;
  if (!ensureOpen()) {
    status_ = DECODER_STATUS_ERROR;
    return 0;
  }
  std::uint32_t taken = 0;
  if (!samples_.waiting()) {
    if (data && size > 0) {
      taken = push(data, size);
    } else {
      stream_.drain();
    }
    bool completed = false;
    while (AVFrame* frame = stream_.takeFrame()) {
      if (!samples_.take(*frame)) status_ |= DECODER_STATUS_ERROR;
      completed = true;
      av_frame_free(&frame);
    }
    if (!completed && stream_.drained()) status_ |= DECODER_STATUS_DONE | DECODER_STATUS_EMPTY;
  }
  const bool had = samples_.waiting();
  written_ += samples_.deliver(area_, written_);
  if (had && !samples_.waiting()) status_ |= DECODER_STATUS_PICTURE;
  if (stream_.takeFailure()) status_ |= DECODER_STATUS_ERROR;
  return taken;
}

std::int32_t AudioDecoder::control(std::uint32_t /*offset*/, std::uint32_t id, void* data,
                                   std::uint32_t size) {
  switch (id) {
    case DECODER_SET_OUTPUT:
      if (!data || size != sizeof(decoder_audio_area)) return 1;
      area_ = *static_cast<const decoder_audio_area*>(data);
      written_ = 0;
      return 0;
    case DECODER_AUDIO_WRITTEN:
      return copyRecordOut(written_, data, size);
    default:
      return 1;
  }
}

}  // namespace quillion::decoder
