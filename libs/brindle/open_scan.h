// SPDX-License-Identifier: GPL-2.0-or-later
// The open sequence every entry point shares: the session is prepared, the input opened, its
// frames and samples counted (switching to a full index build when a quick count falls short
// and the caller allows it), the input classified and its decoders created. Also the facts
// that let an unchanged file be reopened without scanning.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

enum class open_mode : int { normal = 0, split = 1 };

// 0, or 1 after a message; a failure may leave the session open for the caller to close.
int open_and_scan(mpeg_in_info* record, open_mode mode);

// Seeks the subpicture parser to its start and reads until a chunk brings a time stamp,
// which becomes the record's subpicture time; 0, or 1 at an error or the end.
int start_subpicture(mpeg_in_info* record);

// The public name of the record-driven entry points: non-empty and shorter than 1,024
// characters; 0, or 1 after a message to whichever printer the record offers.
int check_file_name(const mpeg_in_info* record);

}  // namespace quillion::brindle
