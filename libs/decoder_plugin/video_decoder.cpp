// SPDX-License-Identifier: GPL-2.0-or-later
#include "video_decoder.h"

namespace quillion::decoder {

VideoDecoder::VideoDecoder(std::unique_ptr<PictureFacts> facts) : facts_(std::move(facts)) {
  stream_.setObserver(
      [this](const std::uint8_t* unit, std::uint32_t size) { return observe(unit, size); });
}

VideoDecoder::~VideoDecoder() {
  av_frame_free(&ready_);
  av_frame_free(&last_);
}

bool VideoDecoder::takeHeader(const std::uint8_t* data, std::uint32_t size) {
  headerGood_ = facts_->takeHeader(data, size);
  if (headerGood_) {
    header_.assign(data, data + size);
    headerPending_ = true;
  }
  return headerGood_;
}

bool VideoDecoder::readyToDecode() {
  // A stream whose pictures cannot leave in coded order needs the caller's frame buffer.
  if (!facts_->codedOrder() && (flags_ & DECODER_FLAG_EXTERNAL_FRAME_BUFFER) == 0) return false;
  return headerGood_ && ensureOpen();
}

bool VideoDecoder::codedOrder() const {
  return facts_->codedOrder() && (flags_ & DECODER_FLAG_EXTERNAL_FRAME_BUFFER) == 0;
}

bool VideoDecoder::ensureOpen() {
  if (stream_.isOpen()) return true;
  if (openFailed_ || !headerGood_) return false;
  openFailed_ = !stream_.open(facts_->codec(), codedOrder(), nullptr);
  return !openFailed_;
}

void VideoDecoder::reset() {
  retire();
  stream_.restart();
  facts_->restart();
  newest_.reset();
  heldAnchor_.reset();
  shownAnchor_.reset();
  headerPending_ = !header_.empty();
  status_ = 0;
}

std::int64_t VideoDecoder::observe(const std::uint8_t* unit, std::uint32_t size) {
  if (!facts_->describesUnits()) return AV_NOPTS_VALUE;
  std::optional<PictureRecords> described = facts_->describe(unit, size);
  if (!described) return AV_NOPTS_VALUE;
  newest_ = std::move(described);
  if (newest_->picture.picture_coding_type != 3) {
    shownAnchor_ = heldAnchor_;
    heldAnchor_ = newest_;
  }
  return AV_NOPTS_VALUE;
}

PictureRecords VideoDecoder::recordsFor(const AVFrame& frame) {
  if (!facts_->describesUnits() || !newest_) return facts_->fromFrame(frame);
  if (codedOrder() || frame.pict_type == AV_PICTURE_TYPE_B) return *newest_;
  // In display order an anchor leaves when the next one arrives, the last one at the end.
  std::optional<PictureRecords> anchor = stream_.drained() ? heldAnchor_ : shownAnchor_;
  if (stream_.drained()) heldAnchor_.reset();
  return anchor ? *anchor : *newest_;
}

void VideoDecoder::retire() {
  if (!ready_) return;
  av_frame_free(&last_);
  last_ = ready_;
  ready_ = nullptr;
}

void VideoDecoder::present(AVFrame* frame) {
  ready_ = frame;
  records_ = recordsFor(*frame);
  status_ |=
      DECODER_STATUS_PICTURE | DECODER_STATUS_SHOW | DECODER_STATUS_COPYABLE | records_.events;
  if (output_ && !writer_.write(*frame, *output_)) status_ |= DECODER_STATUS_ERROR;
}

std::uint32_t VideoDecoder::feed(const std::uint8_t* data, std::uint32_t size) {
  retire();
  status_ = 0;
  if (!ensureOpen()) {
    status_ = DECODER_STATUS_ERROR;
    return 0;
  }
  std::uint32_t taken = 0;
  if (!stream_.hasFrame()) {
    if (headerPending_ && size > 0) {
      headerPending_ = false;
      // The stream may be entered at a GOP or picture: the sequence it belongs to goes first.
      for (std::uint32_t at = 0; at < header_.size();) {
        const std::uint32_t n =
            stream_.push(header_.data() + at, static_cast<std::uint32_t>(header_.size()) - at);
        if (n == 0) break;
        at += n;
      }
    }
    if (data && size > 0) {
      taken = stream_.push(data, size);
    } else {
      stream_.drain();
    }
  }
  if (AVFrame* frame = stream_.takeFrame()) {
    present(frame);
  } else if (stream_.drained()) {
    status_ |= DECODER_STATUS_DONE | DECODER_STATUS_EMPTY;
  }
  if (stream_.takeFailure()) status_ |= DECODER_STATUS_ERROR;
  return taken;
}

std::int32_t VideoDecoder::copyPicture(const AVFrame* picture, void* data, std::uint32_t size,
                                       std::uint32_t number) {
  if (!picture || !data || size != sizeof(decoder_frame_record)) return 1;
  auto* target = static_cast<decoder_frame_record*>(data);
  if (!writer_.write(*picture, *target)) return 1;
  target->frame_number = number;
  return 0;
}

std::int32_t VideoDecoder::control(std::uint32_t offset, std::uint32_t id, void* data,
                                   std::uint32_t size) {
  switch (id) {
    case DECODER_SET_OUTPUT:
      if (!data) {
        output_.reset();
        return 0;
      }
      if (size != sizeof(decoder_frame_record)) return 1;
      output_ = *static_cast<const decoder_frame_record*>(data);
      return 0;
    case DECODER_SEQUENCE_INFO:
      return copyRecordOut(records_.sequence, data, size);
    case DECODER_GOP_INFO:
      return copyRecordOut(records_.gop, data, size);
    case DECODER_PICTURE_INFO:
      return copyRecordOut(records_.picture, data, size);
    case DECODER_COPY_PICTURE:
      return copyPicture(ready_, data, size, offset);
    case DECODER_COPY_LAST_PICTURE:
      return copyPicture(ready_ ? ready_ : last_, data, size, offset);
    default:
      return 1;
  }
}

}  // namespace quillion::decoder
