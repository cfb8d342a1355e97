// SPDX-License-Identifier: GPL-2.0-or-later
// The steps every open and close of a session shares.
#pragma once

#include "brindle.h"

namespace quillion::brindle {

// Clears the run-time decode state and chooses the decoding mode for the next open.
void reset_session_state(mpeg_in_info* record);
// Releases what an open session holds and clears its open flag; nothing for a closed one.
void close_session(mpeg_in_info* record);

}  // namespace quillion::brindle
