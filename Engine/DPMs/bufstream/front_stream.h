// SPDX-License-Identifier: GPL-2.0-or-later
// What every front stream shares: the data slots pass straight to the main stream, auxinfo
// and done go to the stream's own state, and the open/init/close triple.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "bufstream_side.h"

namespace quillion::bufstream_detail {

class FrontState {
 public:
  explicit FrontState(bufstream* main) : main_(main) {}
  virtual ~FrontState() = default;
  FrontState(const FrontState&) = delete;
  FrontState& operator=(const FrontState&) = delete;

  bufstream* main() const { return main_; }
  virtual std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                               std::uint32_t size) {
    return passOn(offset, id, data, size);
  }
  virtual int split() { return main_->split ? main_->split(main_) : -1; }
  // Finishes the front stream; the main stream stays open.
  virtual int finish(int abort) = 0;

 protected:
  std::int32_t passOn(std::uint32_t offset, std::uint32_t id, void* data, std::uint32_t size) {
    return main_->auxinfo ? main_->auxinfo(main_, offset, id, data, size) : 0;
  }

 private:
  bufstream* main_;
};

// Fills `bs` with the front slots over `state`; `owned` records are released by their free
// slot, others by their owner.
void installFront(bufstream* bs, std::unique_ptr<FrontState> state, bool owned);

// Sends a constructor message (plain text) to the caller's function, if any.
void tell(bufstream_msg_fn msg, const char* text);

// Allocates a record and fills it with `init(bs)` (0 or -1); null on failure, after telling
// `noMemory` when the record itself cannot be had.
template <typename Init>
bufstream* openFront(bufstream_msg_fn msg, const char* noMemory, Init init) {
  auto* bs = new (std::nothrow) bufstream{};
  if (!bs) {
    tell(msg, noMemory);
    return nullptr;
  }
  if (init(bs) != 0) {
    delete bs;
    return nullptr;
  }
  return bs;
}

// The 64-bit little-endian value at the start of an index record.
inline std::uint64_t leadingPosition(const std::uint8_t* record) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | record[i];
  return v;
}

// Asks a stream for its 64-bit byte count (auxinfo BUFSTREAM_AUX_BYTE_COUNT).
bool byteCountOf(bufstream* bs, std::uint64_t* count);

}  // namespace quillion::bufstream_detail
