// SPDX-License-Identifier: GPL-2.0-or-later
#include "subpicture_decoder.h"

namespace quillion::lorrimer {

bool SubpictureDecoder::ensureOpen() {
  if (units_.isOpen()) return true;
  if (openFailed_) return false;
  openFailed_ = !units_.openUnits(AV_CODEC_ID_DVD_SUBTITLE);
  return !openFailed_;
}

bool SubpictureDecoder::readyToDecode() const {
  return const_cast<SubpictureDecoder*>(this)->ensureOpen();
}

void SubpictureDecoder::reset() {
  units_.restart();
  unit_.clear();
  status_ = 0;
}

std::uint32_t SubpictureDecoder::feed(const std::uint8_t* data, std::uint32_t size) {
  status_ = 0;
  if (!ensureOpen()) {
    status_ = DECODER_STATUS_ERROR;
    return 0;
  }
  std::uint32_t taken = 0;
  if (!units_.hasUnit()) {
    if (data && size > 0) {
      taken = units_.push(data, size);
    } else {
      units_.drain();
    }
  }
  if (units_.hasUnit()) {
    unit_ = units_.takeUnit();
    status_ |= DECODER_STATUS_PICTURE;
  } else if (units_.drained()) {
    status_ |= DECODER_STATUS_DONE | DECODER_STATUS_EMPTY;
  }
  if (units_.takeFailure()) status_ |= DECODER_STATUS_ERROR;
  return taken;
}

std::int32_t SubpictureDecoder::control(std::uint32_t /*offset*/, std::uint32_t /*id*/,
                                        void* /*data*/, std::uint32_t /*size*/) {
  return 1;
}

}  // namespace quillion::lorrimer
