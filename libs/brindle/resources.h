// SPDX-License-Identifier: GPL-2.0-or-later
// The caller's services of a session (memory and the four printers, the progress callback and
// the index-mode prompt), looked up once by name through `get_rc`, and the answers handed to
// the libraries a session loads through `get_rc_ex`.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

// The library's own answers: the system allocator, printers that do nothing, a prompt that
// answers 0; null for any other name.
void* get_rc_default(const char* name);

// Resolves the session's services once; every service still missing gets its default.
void attach_resources(mpeg_in_info* record, mpeg_get_rc get_rc);

// Gives a record built without mpegInNew its private part; 0, or 1 after a message.
int alloc_private(mpeg_in_info* record, mpeg_get_rc get_rc);

// The lookup handed to the demultiplexers, with the session record as application pointer.
void* get_rc_ex_answer(void* application, const char* name);

// Messages of the session. Each is formatted here and handed to the caller's printer as one
// finished line ("%s"), so no text taken from a file ever reaches a format parser.
void report_error(const mpeg_in_info* record, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void report_warning(const mpeg_in_info* record, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void report_info(const mpeg_in_info* record, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void* session_malloc(const mpeg_in_info* record, std::size_t bytes);
void session_free(const mpeg_in_info* record, void* block);

// Empties the process-wide last-error text.
void clear_last_error();

}  // namespace quillion::brindle
