// SPDX-License-Identifier: GPL-2.0-or-later
// The bytes another program may put under the layout views' private drag type: no input may
// crash the decoder, and whatever it accepts encodes back to the very same bytes.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "layout/drag_payload.h"

using quillion::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto payload = quillion::decodeDragPayload(bytes);
  if (payload) {
    check(payload->tokens.size() <= quillion::kMaxDragTokens, "more tokens than allowed");
    check(quillion::encodeDragPayload(*payload) == bytes, "an accepted payload that differs");
  }
  return 0;
}
