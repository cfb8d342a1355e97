// SPDX-License-Identifier: GPL-2.0-or-later
// The data slots of a stream that stands in front of another: each hands the call on to the
// stream behind, which `Inner` finds, and answers nothing when there is none.
#pragma once

#include <cstdint>

#include "bufstream.h"

namespace quillion::bufstream_detail {

template <bufstream* (*Inner)(bufstream*)>
void passDataSlots(bufstream& bs) {
  bs.usable_bytes = [](bufstream* s) -> std::uint32_t {
    bufstream* m = Inner(s);
    return m && m->usable_bytes ? m->usable_bytes(m) : 0;
  };
  bs.request = [](bufstream* s, std::uint32_t n) -> std::uint8_t* {
    bufstream* m = Inner(s);
    return m && m->request ? m->request(m, n) : nullptr;
  };
  bs.confirm = [](bufstream* s, std::uint32_t n) -> std::uint32_t {
    bufstream* m = Inner(s);
    return m && m->confirm ? m->confirm(m, n) : 0;
  };
  bs.copybytes = [](bufstream* s, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
    bufstream* m = Inner(s);
    return m && m->copybytes ? m->copybytes(m, p, n) : 0;
  };
  bs.chunksize = [](bufstream* s) -> std::uint32_t {
    bufstream* m = Inner(s);
    return m && m->chunksize ? m->chunksize(m) : 0;
  };
}

}  // namespace quillion::bufstream_detail
