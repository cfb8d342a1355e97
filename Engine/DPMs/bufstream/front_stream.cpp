// SPDX-License-Identifier: GPL-2.0-or-later
#include "front_stream.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "pass_through.h"

namespace quillion::bufstream_detail {
namespace {

FrontState* frontOf(bufstream* bs) {
  return static_cast<FrontState*>(bs->implementation);
}
bufstream* mainOf(bufstream* bs) {
  FrontState* s = frontOf(bs);
  return s ? s->main() : nullptr;
}

std::int32_t auxInfo(bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                     std::uint32_t size) {
  FrontState* s = frontOf(bs);
  return s ? s->auxInfo(offset, id, data, size) : -1;
}
int split(bufstream* bs) {
  FrontState* s = frontOf(bs);
  return s ? s->split() : -1;
}
int done(bufstream* bs, int abort) {
  FrontState* s = frontOf(bs);
  if (!s) return 0;
  const int result = s->finish(abort);
  delete s;
  bs->implementation = nullptr;
  return result;
}
void freeOwned(bufstream* bs) {
  if (!bs) return;
  if (bs->implementation) done(bs, 0);
  delete bs;
}

}  // namespace

void installFront(bufstream* bs, std::unique_ptr<FrontState> state, bool owned) {
  *bs = bufstream{};
  passDataSlots<mainOf>(*bs);
  bs->auxinfo = auxInfo;
  bs->split = state->main()->split ? split : nullptr;
  bs->done = done;
  bs->free = owned ? freeOwned : nullptr;
  bs->flags = 0;
  bs->implementation = state.release();
}

void tell(bufstream_msg_fn msg, const char* text) {
  if (!msg) return;
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "%s", text);
  msg(buffer);
}

bool byteCountOf(bufstream* bs, std::uint64_t* count) {
  if (!bs || !bs->auxinfo) return false;
  std::uint64_t value = 0;
  if (bs->auxinfo(bs, 0, BUFSTREAM_AUX_BYTE_COUNT, &value, sizeof value) != 0) return false;
  *count = value;
  return true;
}

}  // namespace quillion::bufstream_detail
