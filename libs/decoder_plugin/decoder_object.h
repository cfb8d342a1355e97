// SPDX-License-Identifier: GPL-2.0-or-later
// The bufstream record every decoder plug-in hands out: its slots forward to one decoder
// object, which keeps the status word of the last feed and answers the side-channel codes all
// decoders share. Kinds of decoder (video, audio) fill in feeding and their own codes.
#pragma once

#include <cstdint>

#include "bufstream.h"
#include "decoder_plugin.h"

namespace quillion::decoder {

class DecoderObject {
 public:
  DecoderObject();
  virtual ~DecoderObject() = default;
  DecoderObject(const DecoderObject&) = delete;
  DecoderObject& operator=(const DecoderObject&) = delete;

  bufstream* stream() { return &stream_; }
  static DecoderObject* of(bufstream* bs);

 protected:
  // Takes coded bytes (null and 0: flush); answers the count taken.
  virtual std::uint32_t feed(const std::uint8_t* data, std::uint32_t size) = 0;
  // A code only this kind knows; 1 when unknown.
  virtual std::int32_t control(std::uint32_t offset, std::uint32_t id, void* data,
                               std::uint32_t size) = 0;
  // The header given while priming; true when it starts a usable stream.
  virtual bool takeHeader(const std::uint8_t* data, std::uint32_t size) = 0;
  // Whether the header given made a decoder ready to take the stream.
  virtual bool readyToDecode() = 0;
  virtual void reset() = 0;

  std::uint32_t status_ = 0;
  std::uint32_t flags_ = 0;

 private:
  std::uint32_t copyBytes(const std::uint8_t* data, std::uint32_t size);
  std::int32_t auxinfo(std::uint32_t offset, std::uint32_t id, void* data, std::uint32_t size);

  bufstream stream_{};
  bool headerNext_ = false;
};

// Copies a record into the caller's memory of exactly its size; 0, or 1 on a size mismatch.
template <typename Record>
std::int32_t copyRecordOut(const Record& record, void* data, std::uint32_t size) {
  if (!data || size != sizeof(Record)) return 1;
  *static_cast<Record*>(data) = record;
  return 0;
}

}  // namespace quillion::decoder
