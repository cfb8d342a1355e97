// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/error_records.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mp3enc/aligned_memory.h"

namespace quillion::mp3enc {

ErrorRecord ERROR_ERRORHND_NOMEMORY = {
    const_cast<char*>("errorhnd"), 0, nullptr,
    const_cast<char*>("errorhnd: the error handler has run out of memory"), nullptr};

namespace {

const char* baseName(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

char* copyText(const char* text) {
  if (!text) return nullptr;
  const std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(teskMalloc_mem(n, __FILE__, __LINE__));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

void freeRecord(ErrorRecord* record) {
  teskFree_mem(record->file);
  teskFree_mem(record->context);
  teskFree_mem(record->message);
  teskFree_mem(record);
}

// A record with every text copied, or null (nothing leaks) when any copy fails.
ErrorRecord* newRecord(const char* file, int line, const char* context, const char* message) {
  auto* record = static_cast<ErrorRecord*>(teskCalloc_mem(1, sizeof(ErrorRecord), __FILE__, __LINE__));
  if (!record) return nullptr;
  record->line = line;
  record->file = copyText(baseName(file));
  record->context = copyText(context);
  record->message = copyText(message);
  if (!record->file || (context && !record->context) || (message && !record->message)) {
    freeRecord(record);
    return nullptr;
  }
  return record;
}

std::string formatTraceback(const ErrorRecord* chain) {
  std::string text;
  char line[64];
  for (const ErrorRecord* r = chain; r; r = r->next) {
    std::snprintf(line, sizeof line, "[%08lx] ", static_cast<unsigned long>(errorCode(r)));
    text += line;
    text += r->file ? r->file : "";
    std::snprintf(line, sizeof line, ", %ld", static_cast<long>(r->line));
    text += line;
    if (r->context) {
      text += " (";
      text += r->context;
      text += ")";
    }
    if (r->message) {
      text += ": ";
      text += r->message;
    }
    text += "\n";
  }
  return text;
}

}  // namespace

ErrorRecord* ERROR(const char* file, int line, const char* context, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string message(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(message.data(), message.size() + 1, format, again);
  va_end(again);
  ErrorRecord* record = newRecord(file, line, context, message.c_str());
  return record ? record : &ERROR_ERRORHND_NOMEMORY;
}

ErrorRecord* _handBack(const char* file, int line, const char* context, ErrorRecord* chain) {
  if (!chain) return nullptr;
  // The static record has no room for a successor: appending to it would make later
  // callers free records reachable from a static object.
  ErrorRecord* last = chain;
  while (last->next) last = last->next;
  if (last == &ERROR_ERRORHND_NOMEMORY) return chain;
  ErrorRecord* record = newRecord(file, line, context, nullptr);
  if (record) last->next = record;
  return chain;
}

ErrorRecord* do_handBack(const char* file, int line, const char* context, ErrorRecord* chain) {
  return _handBack(file, line, context, chain);
}

std::uint32_t errorCode(const ErrorRecord* record) {
  if (!record) return 0;
  std::uint32_t hash = 0;
  for (const char* c = record->file ? record->file : ""; *c; ++c) {
    hash = ((hash << 1) ^ (257u * static_cast<unsigned char>(*c))) & 0xFFFFu;
  }
  return (hash << 16) + static_cast<std::uint32_t>(record->line);
}

void freeErrorTraceback(ErrorRecord* chain) {
  while (chain && chain != &ERROR_ERRORHND_NOMEMORY) {
    ErrorRecord* next = chain->next;
    freeRecord(chain);
    chain = next;
  }
}

std::size_t errorLength(const ErrorRecord* chain) { return formatTraceback(chain).size(); }

std::size_t errorText(const ErrorRecord* chain, char* out, std::size_t outSize) {
  if (!out || outSize == 0) return 0;
  const std::string text = formatTraceback(chain);
  const std::size_t n = text.size() < outSize - 1 ? text.size() : outSize - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return n;
}

void _abort(const char* message, const char* file, int line) {
  std::fprintf(stderr, "\a##########\nfatal error: %s in file %s, %d", message, file, line);
  std::fprintf(stderr, "\nThis is a program design failure - Aborting.\n##########\n");
  std::exit(20);
}

void _warnif(const char* message, const char* file, int line, const char* extra) {
  std::fprintf(stderr, "\a##########\n#warning: %s in file %s,%d", message, baseName(file), line);
  if (extra && *extra) std::fprintf(stderr, " (%s)", extra);
  std::fprintf(stderr, "\n##########\n");
}

int setDeboutVars(int, int) { return 0; }
int sendDebout(const char*, int, int, const char*, const void*) { return 0; }
int sendDeboutHist(const char*, double) { return 0; }
int addDeboutHist(const char*, double) { return 0; }
int showDebout(const char*) { return 0; }
int getDeboutVar(const char*, void*) { return 0; }
int initDebout(const char*) { return 0; }
void deboutClose() {}

}  // namespace quillion::mp3enc
