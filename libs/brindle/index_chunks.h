// SPDX-License-Identifier: GPL-2.0-or-later
// The session's video and audio index lists: chunks of fixed-size entries linked both ways.
#pragma once

#include <cstdint>

#include "brindle.h"
#include "session.h"

namespace quillion::brindle {

constexpr std::uint32_t kVideoIndexEntryBytes = 32;
constexpr std::uint32_t kAudioIndexEntryBytes = 20;

// A copy of every chunk of `source` with its entries, allocated through the session; null
// for an empty list. `ok` turns false when memory runs out (what was copied is released).
index_chunk* copy_index_chunks(const mpeg_in_info* session, const index_chunk* source,
                               std::uint32_t entryBytes, bool& ok);
// Releases the list, last chunk first, and empties the head.
void free_index_chunks(const mpeg_in_info* session, index_chunk*& head);

}  // namespace quillion::brindle
