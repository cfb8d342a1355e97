// SPDX-License-Identifier: GPL-2.0-or-later
// What an internal drag carries between the layout views of this process: the process, the
// model the drag started in and one opaque token per dragged item. A token is resolved in the
// live model at drop time, so a payload never carries an address, and a payload from another
// process or a model that is gone resolves to nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillion {

// The private MIME types of the layout views.
inline constexpr char kDataLayoutMimeType[] = "application/x-quillion-data-layout-nodes";
inline constexpr char kSessionImportMimeType[] = "application/x-quillion-session-import-rows";

struct DragPayload {
  std::int64_t processId = 0;
  std::uint64_t sourceId = 0;  // the model the drag started in
  std::vector<std::uint64_t> tokens;
};

// More tokens than any view could hand out: a longer payload is refused as damaged.
inline constexpr std::uint32_t kMaxDragTokens = 1u << 24;

QByteArray encodeDragPayload(const DragPayload& payload);
// Refuses anything that is not exactly one well-formed payload.
std::optional<DragPayload> decodeDragPayload(const QByteArray& bytes);

}  // namespace quillion
