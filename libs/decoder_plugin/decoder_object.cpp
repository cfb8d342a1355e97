// SPDX-License-Identifier: GPL-2.0-or-later
#include "decoder_object.h"

namespace quillion::decoder {

DecoderObject::DecoderObject() {
  stream_.implementation = this;
  stream_.copybytes = [](bufstream* bs, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
    return of(bs)->copyBytes(p, n);
  };
  stream_.auxinfo = [](bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) -> std::int32_t {
    return of(bs)->auxinfo(offset, id, data, size);
  };
  // Nothing is buffered for a reader of this record: finishing only drops what was fed.
  stream_.done = [](bufstream* bs, int /*abort*/) -> int {
    of(bs)->reset();
    return 0;
  };
  stream_.free = [](bufstream* bs) { delete of(bs); };
}

DecoderObject* DecoderObject::of(bufstream* bs) {
  return static_cast<DecoderObject*>(bs->implementation);
}

std::uint32_t DecoderObject::copyBytes(const std::uint8_t* data, std::uint32_t size) {
  if (headerNext_) {
    headerNext_ = false;
    return data && size > 0 && takeHeader(data, size) ? size : 0;
  }
  if (!data) size = 0;
  return feed(data, size);
}

std::int32_t DecoderObject::auxinfo(std::uint32_t offset, std::uint32_t id, void* data,
                                    std::uint32_t size) {
  switch (id) {
    case DECODER_SET_FLAGS:
      flags_ = offset;
      return 0;
    case DECODER_VIDEO_HEADER_NEXT:
    case DECODER_AUDIO_HEADER_NEXT:
      headerNext_ = true;
      return 0;
    case DECODER_INIT_FRAME_PARSER:
      return readyToDecode() ? 0 : 1;
    case DECODER_RESET:
    case DECODER_RESTART:
      reset();
      return 0;
    case DECODER_STATUS:
    case DECODER_STATUS_REORDERED:
      return copyRecordOut(status_, data, size);
    default:
      return control(offset, id, data, size);
  }
}

}  // namespace quillion::decoder
