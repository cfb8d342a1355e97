// SPDX-License-Identifier: GPL-2.0-or-later
// One libavcodec decoder behind its bitstream parser. Bytes are taken exactly: feeding stops
// right after the coded unit that produced output, so the caller's count of bytes taken always
// ends at a unit boundary and the rest is handed over again.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace quillion::decoder {

class CodecStream {
 public:
  // Sees each whole coded unit before it is decoded; answers the tag its frames carry.
  using UnitObserver = std::function<std::int64_t(const std::uint8_t* unit, std::uint32_t size)>;
  // The length a unit's own header gives it (0: not known).
  using UnitLength = std::uint32_t (*)(const std::uint8_t* unit, std::uint32_t size);

  CodecStream() = default;
  ~CodecStream();
  CodecStream(const CodecStream&) = delete;
  CodecStream& operator=(const CodecStream&) = delete;

  // False when libavcodec lacks the decoder or its parser. lowDelay: pictures come out in
  // coded order, each as soon as it is decoded. unitLength: for streams whose units state
  // their length, the unit the parser gives up at the end is checked against it; a unit cut
  // short is refused rather than decoded into noise.
  bool open(AVCodecID id, bool lowDelay, UnitLength unitLength);
  void close();
  bool isOpen() const { return context_ != nullptr; }
  // Forgets every byte and frame held; the stream starts again at the next unit.
  void restart();

  void setObserver(UnitObserver observer) { observer_ = std::move(observer); }
  // Feeds bytes until a frame is ready or they run out; the bytes taken.
  std::uint32_t push(const std::uint8_t* data, std::uint32_t size);
  // The end of the stream: the parser's last unit, then every frame the decoder holds.
  void drain();
  bool drained() const { return eofSent_; }

  bool hasFrame() const { return !frames_.empty(); }
  // The oldest ready frame (owned by the caller from now on), or null.
  AVFrame* takeFrame();
  // A unit since the last call did not decode.
  bool takeFailure();

 private:
  void decodeUnit(const std::uint8_t* unit, std::uint32_t size);
  void receiveFrames();

  AVCodecID id_ = AV_CODEC_ID_NONE;
  UnitLength unitLength_ = nullptr;
  AVCodecContext* context_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVPacket* packet_ = nullptr;
  // The parser reads past the bytes it is given, so they are copied into a padded buffer.
  std::vector<std::uint8_t> padded_;
  std::deque<AVFrame*> frames_;
  UnitObserver observer_;
  bool failed_ = false;
  bool eofSent_ = false;
};

}  // namespace quillion::decoder
