// SPDX-License-Identifier: GPL-2.0-or-later
// The first sequence header of the video stream (or the H.264 sequence parameter set), kept
// as 150 bytes to prime the video decoder and to go into the index file, and the start of a
// frame search: the stream is positioned and its first sequence header read.
#pragma once

#include "brindle.h"

namespace quillion::brindle {

// Fills the record's sequence header copy and its length (150); 0, or 1 after a message.
int read_sequence_header(mpeg_in_info* record);

// Positions the video stream at its start and reads the first MPEG-1/2 sequence header
// within the first 5 MiB; 0, or 1 after "No sequence header found, unknown file type".
int start_video_search(mpeg_in_info* record);

}  // namespace quillion::brindle
