// SPDX-License-Identifier: GPL-2.0-or-later
#include "codec_stream.h"

#include <algorithm>
#include <cstring>

namespace quillion::decoder {
namespace codec_stream_detail {

// The most bytes handed to the parser at once.
constexpr std::uint32_t kPieceSize = 64 * 1024;
// Added to the level of every message of a decoder context: beyond the quietest level shown.
constexpr int kSilenced = 64;

}  // namespace codec_stream_detail

using namespace codec_stream_detail;

CodecStream::~CodecStream() {
  close();
}

bool CodecStream::open(AVCodecID id, bool lowDelay, UnitLength unitLength) {
  close();
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) return false;
  context_ = avcodec_alloc_context3(codec);
  parser_ = av_parser_init(id);
  packet_ = av_packet_alloc();
  if (!context_ || !parser_ || !packet_) {
    close();
    return false;
  }
  // One thread: output order and timing must not depend on the machine.
  context_->thread_count = 1;
  // Nothing is printed: a failure reaches the caller as the status word's error bit.
  context_->log_level_offset = kSilenced;
  if (lowDelay) context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    close();
    return false;
  }
  id_ = id;
  unitLength_ = unitLength;
  return true;
}

void CodecStream::close() {
  for (AVFrame* f : frames_) av_frame_free(&f);
  frames_.clear();
  if (parser_) av_parser_close(parser_);
  parser_ = nullptr;
  avcodec_free_context(&context_);
  av_packet_free(&packet_);
  failed_ = false;
  eofSent_ = false;
}

void CodecStream::restart() {
  if (!context_) return;
  // A parser keeps partial units and sync state, and a decoder that saw the end of the stream
  // takes nothing more until it is flushed: both start over.
  for (AVFrame* f : frames_) av_frame_free(&f);
  frames_.clear();
  av_parser_close(parser_);
  parser_ = av_parser_init(id_);
  avcodec_flush_buffers(context_);
  failed_ = false;
  eofSent_ = false;
  if (!parser_) close();
}

std::uint32_t CodecStream::push(const std::uint8_t* data, std::uint32_t size) {
  if (!parser_ || eofSent_) return 0;
  std::uint32_t taken = 0;
  while (taken < size && frames_.empty()) {
    std::uint8_t* unit = nullptr;
    int unitSize = 0;
    const std::uint32_t chunk = std::min<std::uint32_t>(size - taken, kPieceSize);
    padded_.assign(chunk + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded_.data(), data + taken, chunk);
    const int used = av_parser_parse2(parser_, context_, &unit, &unitSize, padded_.data(),
                                      static_cast<int>(chunk), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) {
      failed_ = true;
      return size;
    }
    taken += static_cast<std::uint32_t>(used);
    if (unitSize > 0) decodeUnit(unit, static_cast<std::uint32_t>(unitSize));
    if (used == 0 && unitSize == 0) break;
  }
  return taken;
}

void CodecStream::drain() {
  if (!parser_ || eofSent_) return;
  std::uint8_t* unit = nullptr;
  int unitSize = 0;
  av_parser_parse2(parser_, context_, &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                   0);
  const auto size = static_cast<std::uint32_t>(std::max(unitSize, 0));
  if (size > 0 && unitLength_ && unitLength_(unit, size) != size) {
    failed_ = true;
  } else if (size > 0) {
    decodeUnit(unit, size);
  }
  eofSent_ = true;
  avcodec_send_packet(context_, nullptr);
  receiveFrames();
}

void CodecStream::decodeUnit(const std::uint8_t* unit, std::uint32_t size) {
  av_packet_unref(packet_);
  // The decoder may read ahead of a unit by its padding; the parser's buffer has it, a copy
  // makes the unit the packet's own.
  if (av_new_packet(packet_, static_cast<int>(size)) < 0) {
    failed_ = true;
    return;
  }
  std::memcpy(packet_->data, unit, size);
  packet_->pts = observer_ ? observer_(unit, size) : AV_NOPTS_VALUE;
  const int sent = avcodec_send_packet(context_, packet_);
  if (sent < 0 && sent != AVERROR(EAGAIN)) failed_ = true;
  receiveFrames();
}

void CodecStream::receiveFrames() {
  for (;;) {
    AVFrame* frame = av_frame_alloc();
    if (!frame) {
      failed_ = true;
      return;
    }
    const int got = avcodec_receive_frame(context_, frame);
    if (got < 0) {
      av_frame_free(&frame);
      if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) failed_ = true;
      return;
    }
    if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0)
      failed_ = true;
    frames_.push_back(frame);
  }
}

AVFrame* CodecStream::takeFrame() {
  if (frames_.empty()) return nullptr;
  AVFrame* f = frames_.front();
  frames_.pop_front();
  return f;
}

bool CodecStream::takeFailure() {
  const bool f = failed_;
  failed_ = false;
  return f;
}

}  // namespace quillion::decoder
