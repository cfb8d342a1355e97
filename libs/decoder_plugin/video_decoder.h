// SPDX-License-Identifier: GPL-2.0-or-later
// A video decoder object: coded bytes in, one picture per status, with the sequence, GOP and
// picture records that belong to it. Pictures leave in coded order (the caller reorders) or,
// when the caller supplies the frame buffer, in display order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "codec_stream.h"
#include "decoder_object.h"
#include "picture_output.h"

namespace quillion::decoder {

struct PictureRecords {
  std::uint32_t events = 0;  // DECODER_STATUS_SEQUENCE, _GOP, _HEADER
  decoder_sequence_info sequence{};
  decoder_gop_info gop{};
  decoder_picture_info picture{};
};

// What a kind of video stream knows about its coded units.
class PictureFacts {
 public:
  virtual ~PictureFacts() = default;
  // The header given while priming; false when it does not start a stream of this kind.
  virtual bool takeHeader(const std::uint8_t* data, std::uint32_t size) = 0;
  virtual AVCodecID codec() const = 0;
  // Whether pictures can leave in coded order; when not, the decoder takes the stream only
  // for a caller that supplies the frame buffer.
  virtual bool codedOrder() const = 0;
  // Whether the records come from each coded unit's headers (describe) rather than from the
  // decoded frame (fromFrame).
  virtual bool describesUnits() const = 0;
  // The records carried by one coded unit's headers; nothing for a unit without a picture
  // (the end of a sequence, for one).
  virtual std::optional<PictureRecords> describe(const std::uint8_t* unit, std::uint32_t size) = 0;
  virtual PictureRecords fromFrame(const AVFrame& frame) = 0;
  virtual void restart() {}
};

class VideoDecoder final : public DecoderObject {
 public:
  explicit VideoDecoder(std::unique_ptr<PictureFacts> facts);
  ~VideoDecoder() override;

 private:
  std::uint32_t feed(const std::uint8_t* data, std::uint32_t size) override;
  std::int32_t control(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override;
  bool takeHeader(const std::uint8_t* data, std::uint32_t size) override;
  bool readyToDecode() override;
  void reset() override;

  bool ensureOpen();
  bool codedOrder() const;
  std::int64_t observe(const std::uint8_t* unit, std::uint32_t size);
  PictureRecords recordsFor(const AVFrame& frame);
  void present(AVFrame* frame);
  void retire();
  std::int32_t copyPicture(const AVFrame* picture, void* data, std::uint32_t size,
                           std::uint32_t number);

  std::unique_ptr<PictureFacts> facts_;
  CodecStream stream_;
  PictureWriter writer_;
  std::vector<std::uint8_t> header_;
  bool headerGood_ = false;
  bool openFailed_ = false;
  bool headerPending_ = false;  // the primed header goes in again before the next bytes
  AVFrame* ready_ = nullptr;
  AVFrame* last_ = nullptr;
  PictureRecords records_{};
  // Units' own records: the newest, and in display order the anchors waiting to be shown.
  std::optional<PictureRecords> newest_;
  std::optional<PictureRecords> heldAnchor_;
  std::optional<PictureRecords> shownAnchor_;
  std::optional<decoder_frame_record> output_;
};

}  // namespace quillion::decoder
