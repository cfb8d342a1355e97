// SPDX-License-Identifier: GPL-2.0-or-later
// Chains of error records (a traceback): the innermost failure raises a record with its
// message, and every caller on the way out appends its own place. The handler itself never
// fails: when memory runs out it hands back a static record or the unchanged chain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::mp3enc {

struct ErrorRecord {
  char* file;        // the source file name after its last '/'
  std::int32_t line;
  char* context;     // may be null
  char* message;     // null for records appended on the way out
  ErrorRecord* next;
};

// Stands in for a record that could not be allocated; never freed.
extern ErrorRecord ERROR_ERRORHND_NOMEMORY;

[[nodiscard]] ErrorRecord* ERROR(const char* file, int line, const char* context, const char* format,
                                 ...) __attribute__((format(printf, 4, 5)));
[[nodiscard]] ErrorRecord* _handBack(const char* file, int line, const char* context,
                                     ErrorRecord* chain);
[[nodiscard]] ErrorRecord* do_handBack(const char* file, int line, const char* context,
                                       ErrorRecord* chain);

// ((16-bit hash of the file name) << 16) + line.
[[nodiscard]] std::uint32_t errorCode(const ErrorRecord* record);
void freeErrorTraceback(ErrorRecord* chain);

// Length of the formatted traceback without its terminating NUL, and the text itself
// (written with its NUL into out, which holds outSize bytes; cut short when too small).
[[nodiscard]] std::size_t errorLength(const ErrorRecord* chain);
std::size_t errorText(const ErrorRecord* chain, char* out, std::size_t outSize);

// A program design failure: reports and ends the process with status 20.
[[noreturn]] void _abort(const char* message, const char* file, int line);
void _warnif(const char* message, const char* file, int line, const char* extra);

// Debug-output hooks: the encoder's stages call them, and they record nothing.
int setDeboutVars(int channel, int granule);
int sendDebout(const char* name, int count, int size, const char* format, const void* data);
int sendDeboutHist(const char* name, double value);
int addDeboutHist(const char* name, double value);
int showDebout(const char* name);
int getDeboutVar(const char* name, void* value);
int initDebout(const char* name);
void deboutClose();

}  // namespace quillion::mp3enc
