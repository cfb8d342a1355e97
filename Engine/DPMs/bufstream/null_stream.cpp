// SPDX-License-Identifier: GPL-2.0-or-later
// Null stream: takes everything, keeps nothing, counts the bytes (for sizing a stream before
// writing it for real).
#include <cstdio>
#include <memory>
#include <new>

#include "file_io.h"
#include "front_stream.h"

namespace quillion::bufstream_detail {
namespace {

struct NullState {
  std::unique_ptr<std::uint8_t[]> buffer;
  std::uint32_t size = 0;
  std::uint64_t count = 0;
};

NullState* nullOf(bufstream* bs) {
  return static_cast<NullState*>(bs->implementation);
}
std::uint32_t bufferSize(bufstream* bs) {
  NullState* s = nullOf(bs);
  return s ? s->size : 0;
}
std::uint8_t* request(bufstream* bs, std::uint32_t n) {
  NullState* s = nullOf(bs);
  return s && n <= s->size ? s->buffer.get() : nullptr;
}
std::uint32_t take(bufstream* bs, std::uint32_t n) {
  if (NullState* s = nullOf(bs)) s->count += n;
  return n;
}
std::uint32_t confirm(bufstream* bs, std::uint32_t n) {
  return take(bs, n);
}
std::uint32_t copyBytes(bufstream* bs, std::uint8_t*, std::uint32_t n) {
  return take(bs, n);
}
std::int32_t auxInfo(bufstream* bs, std::uint32_t, std::uint32_t id, void* data,
                     std::uint32_t size) {
  NullState* s = nullOf(bs);
  if (!s) return -1;
  return id == BUFSTREAM_AUX_BYTE_COUNT ? answer(data, size, s->count) : 0;
}
int split(bufstream*) {
  return 0;
}
int done(bufstream* bs, int) {
  delete nullOf(bs);
  bs->implementation = nullptr;
  return 0;
}
void freeOwned(bufstream* bs) {
  if (!bs) return;
  done(bs, 0);
  delete bs;
}

int initNull(bufstream* bs, std::uint32_t size, bufstream_msg_fn msg, bool owned) {
  if (!bs) return -1;
  std::unique_ptr<NullState> state(new (std::nothrow) NullState);
  if (!state) {
    tell(msg, "Unable to allocate memory for null buffstream");
    return -1;
  }
  state->buffer.reset(new (std::nothrow) std::uint8_t[size > 0 ? size : 1]);
  if (!state->buffer) {
    char text[80];
    std::snprintf(text, sizeof text, "Unable to allocate memory for bitstream buffer=%d",
                  static_cast<int>(size));
    tell(msg, text);
    return -1;
  }
  state->size = size;
  *bs = bufstream{};
  bs->usable_bytes = bufferSize;
  bs->request = request;
  bs->confirm = confirm;
  bs->copybytes = copyBytes;
  bs->chunksize = bufferSize;
  bs->auxinfo = auxInfo;
  bs->split = split;
  bs->done = done;
  bs->free = owned ? freeOwned : nullptr;
  bs->flags = 1;
  bs->implementation = state.release();
  return 0;
}

}  // namespace
}  // namespace quillion::bufstream_detail

extern "C" {

bufstream* open_null_buf_write(std::uint32_t size, bufstream_msg_fn msg) {
  using namespace quillion::bufstream_detail;
  return openFront(msg, "Unable to allocate memory for null buffstream",
                   [&](bufstream* bs) { return initNull(bs, size, msg, true); });
}

int init_null_buf_write(bufstream* bs, std::uint32_t size, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::initNull(bs, size, msg, false);
}

int close_null_buf(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

}  // extern "C"
