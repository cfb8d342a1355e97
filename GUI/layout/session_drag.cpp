// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/session_drag.h"

#include <QCoreApplication>
#include <limits>

#include "layout/drag_payload.h"

namespace quillion {

namespace session_drag_detail {

// A token that stands for a row without a session.
constexpr std::uint64_t kNoRowToken = std::numeric_limits<std::uint64_t>::max();
// No disc holds more sessions than the table's 16-bit count.
constexpr std::uint64_t kMaxRowToken = std::numeric_limits<std::uint16_t>::max();

}  // namespace session_drag_detail

using namespace session_drag_detail;

QByteArray encodeSessionDrag(const SessionDrag& drag) {
  DragPayload payload;
  payload.processId = QCoreApplication::applicationPid();
  payload.sourceId = drag.targetModelId;
  payload.tokens.reserve(drag.rows.size() + 1);
  payload.tokens.push_back(drag.drive);
  for (const int row : drag.rows)
    payload.tokens.push_back(row < 0 ? kNoRowToken : static_cast<std::uint64_t>(row));
  return encodeDragPayload(payload);
}

std::optional<SessionDrag> decodeSessionDrag(const QByteArray& bytes) {
  const auto payload = decodeDragPayload(bytes);
  if (!payload || payload->processId != QCoreApplication::applicationPid()) return std::nullopt;
  if (payload->tokens.empty()) return std::nullopt;
  const std::uint64_t drive = payload->tokens.front();
  if (drive == 0 || drive > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  SessionDrag drag;
  drag.drive = static_cast<std::uint32_t>(drive);
  drag.targetModelId = payload->sourceId;
  drag.rows.reserve(payload->tokens.size() - 1);
  for (std::size_t i = 1; i < payload->tokens.size(); ++i) {
    const std::uint64_t token = payload->tokens[i];
    if (token == kNoRowToken)
      drag.rows.push_back(-1);
    else if (token <= kMaxRowToken)
      drag.rows.push_back(static_cast<int>(token));
    else
      return std::nullopt;
  }
  return drag;
}

}  // namespace quillion
