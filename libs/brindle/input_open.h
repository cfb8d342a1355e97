// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a session's input: the demultiplexer is loaded and opened on the file (or on the
// caller's split-mode callbacks), its programs and streams are copied into the session's
// stream tables, and the chosen video, subpicture and audio streams are each bound to a
// demultiplexer parser that delivers them, chunk by chunk, to the session's stream parsers.
#pragma once

#include <cstdint>

#include "brindle.h"
#include "stream_parser.h"

struct bufstream;

namespace quillion::brindle {

// A byte stream that takes nothing and gives nothing: an output for the demultiplexer to
// bind, whose auxinfo slot the demultiplexer then takes over. Null when memory runs out.
bufstream* info_null_bufstream();

// 0, or 1 after a message (the demultiplexer's own failures are reported by it).
int open_input(mpeg_in_info* record);
int open_info_bufstream(mpeg_in_info* record, stream_parser* parser);
void close_info_bufstream(mpeg_in_info* record, stream_parser* parser);
void close_demuxer(mpeg_in_info* record);

int New_Demux_Stream_Parser(mpeg_in_info* record, stream_parser* parser);
int New_Mxf_Stream_Parser(mpeg_in_info* record, stream_parser* parser);
void Free_Stream_Parser(mpeg_in_info* record, stream_parser* parser);

}  // namespace quillion::brindle
