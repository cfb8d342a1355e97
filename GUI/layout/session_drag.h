// SPDX-License-Identifier: GPL-2.0-or-later
// The drag data by which sessions of a disc travel from a window's session table to the
// outline of the same window.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillion {

// What a drag of session rows carries: the drive that holds the disc, the data layout model
// that may take the drop (the outline of the table's own window), and one session index per
// dragged row, -1 for none.
struct SessionDrag {
  std::uint32_t drive = 0;
  std::uint64_t targetModelId = 0;
  std::vector<int> rows;
};

QByteArray encodeSessionDrag(const SessionDrag& drag);
// Refuses a payload of another process, a zero drive and indexes no session table can have.
std::optional<SessionDrag> decodeSessionDrag(const QByteArray& bytes);

}  // namespace quillion
