// SPDX-License-Identifier: GPL-2.0-or-later
// The bytes another program may put under the layout views' private drag types: no input may
// crash the decoders, and whatever they accept encodes back to the very same bytes. For the
// session rows the input's process id is replaced by ours, so that the row checks behind the
// process check are reached too.
#include <QByteArray>
#include <QCoreApplication>
#include <QtEndian>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "layout/drag_payload.h"
#include "layout/session_drag.h"

using quillion::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto payload = quillion::decodeDragPayload(bytes);
  if (payload) {
    check(payload->tokens.size() <= quillion::kMaxDragTokens, "more tokens than allowed");
    check(quillion::encodeDragPayload(*payload) == bytes, "an accepted payload that differs");
  }
  // The process id sits after the magic and the version byte.
  constexpr qsizetype kPidAt = 5;
  if (bytes.size() >= kPidAt + 8)
    qToBigEndian<std::int64_t>(QCoreApplication::applicationPid(), bytes.data() + kPidAt);
  const auto drag = quillion::decodeSessionDrag(bytes);
  if (drag) {
    check(drag->drive != 0, "a session drag without a drive");
    for (const int row : drag->rows) check(row >= -1 && row <= 0xFFFF, "a row out of range");
    check(quillion::encodeSessionDrag(*drag) == bytes, "an accepted session drag that differs");
  }
  return 0;
}
