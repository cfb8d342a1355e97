// SPDX-License-Identifier: GPL-2.0-or-later
// The steps every open and close of a session shares.
#pragma once

#include "brindle.h"

namespace quillion::brindle {

// Readies a session for an open: copies the caller's wishes into the private part, chooses
// the default fourcc, clears the stream facts and marks the session open. 0, or 1 after a
// message. In info mode the demultiplexer's decoders are not probed.
int prepare_session(mpeg_in_info* record, bool infoMode);
// Clears the run-time decode state and chooses the decoding mode for the next open.
void reset_session_state(mpeg_in_info* record);
// The audio frame buffer for the audio facts of the record; 0, or 1 (after a message when
// memory runs out).
int alloc_audio_frame_buffer(mpeg_in_info* record);
// Empties the availability flags and the stream masks and counts before the streams are listed.
void clear_stream_lists(mpeg_in_info* record);
// Releases what an open session holds and clears its open flag; nothing for a closed one.
void close_session(mpeg_in_info* record);

}  // namespace quillion::brindle
