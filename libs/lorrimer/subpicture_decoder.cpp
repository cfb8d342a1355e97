// SPDX-License-Identifier: GPL-2.0-or-later
#include "subpicture_decoder.h"

#include <algorithm>

namespace quillion::lorrimer {
namespace subpicture_detail {

// A unit begins with its 16-bit length; a length of 0 announces a 32-bit one after it. The
// smallest unit holds the length and the control offset; larger than this is not a
// subpicture but a stream out of step.
constexpr std::uint32_t kSmallestUnit = 4;
constexpr std::uint32_t kLargestUnit = 1u << 20;

}  // namespace subpicture_detail

using namespace subpicture_detail;

void SubpictureDecoder::reset() {
  unit_.clear();
  status_ = 0;
}

std::uint32_t SubpictureDecoder::unitLength() const {
  if (unit_.size() < 2) return 0;
  const std::uint32_t short16 = std::uint32_t{unit_[0]} << 8 | unit_[1];
  if (short16 != 0) return short16;
  if (unit_.size() < 6) return 0;
  return std::uint32_t{unit_[2]} << 24 | std::uint32_t{unit_[3]} << 16 |
         std::uint32_t{unit_[4]} << 8 | unit_[5];
}

std::uint32_t SubpictureDecoder::feed(const std::uint8_t* data, std::uint32_t size) {
  status_ = 0;
  if (!data || size == 0) {
    // The end: a unit still being gathered was cut short.
    if (!unit_.empty()) status_ |= DECODER_STATUS_ERROR;
    unit_.clear();
    status_ |= DECODER_STATUS_DONE | DECODER_STATUS_EMPTY;
    return 0;
  }
  std::uint32_t taken = 0;
  while (taken < size) {
    std::uint32_t length = unitLength();
    if (length == 0) {
      unit_.push_back(data[taken++]);
      continue;
    }
    if (length < kSmallestUnit || length > kLargestUnit) {
      // Out of step: the bytes gathered are dropped and the next one starts a unit.
      unit_.clear();
      status_ |= DECODER_STATUS_ERROR;
      continue;
    }
    const std::uint32_t n =
        std::min<std::uint32_t>(size - taken, length - static_cast<std::uint32_t>(unit_.size()));
    unit_.insert(unit_.end(), data + taken, data + taken + n);
    taken += n;
    if (unit_.size() == length) {
      ready_.swap(unit_);
      unit_.clear();
      status_ |= DECODER_STATUS_PICTURE;
      return taken;
    }
  }
  return taken;
}

std::int32_t SubpictureDecoder::control(std::uint32_t /*offset*/, std::uint32_t /*id*/,
                                        void* /*data*/, std::uint32_t /*size*/) {
  return 1;
}

}  // namespace quillion::lorrimer
