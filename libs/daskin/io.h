// SPDX-License-Identifier: GPL-2.0-or-later
// Every byte Daskin reads passes through here: the file list that makes one byte range of
// the opened files, each parser's buffer and handle, and the three ways of reading (the
// system's pread, the caller's I/O callbacks, the split callbacks).
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

FileBuffer* newFileBuffer(Context& ctx, std::uint32_t size);
void freeFileBuffer(Context& ctx, FileBuffer* buffer);

// Appends a file of the given size to the list (the name is copied).
[[nodiscard]] bool appendFile(Context& ctx, const char* name, std::uint64_t size);
void freeFileList(Context& ctx);

// Prepares a parser over file 0 of the list; false after a message.
[[nodiscard]] bool initParser(Context& ctx, Parser& p, const demux_parser_settings& settings,
                              bool probing);
void releaseParser(Context& ctx, Parser& p);

[[nodiscard]] bool selectReaders(Context& ctx);

inline std::uint32_t be16(const std::uint8_t* d) {
  return static_cast<std::uint32_t>(d[0] << 8 | d[1]);
}
inline std::uint32_t be32(const std::uint8_t* d) {
  return std::uint32_t{d[0]} << 24 | std::uint32_t{d[1]} << 16 | std::uint32_t{d[2]} << 8 | d[3];
}

// Unread bytes in the buffer.
inline std::uint32_t available(const Parser& p) {
  return p.endIndex - p.readIndex;
}
inline const std::uint8_t* cursor(const Parser& p) {
  return p.buffer.data + p.readIndex;
}

// Makes at least `need` bytes readable if the current file holds them (keeping the unread
// ones); answers how many are readable. A failed read sets the error flag.
std::uint32_t ensure(Parser& p, std::uint32_t need);
// True when the buffer holds the current file's last byte.
inline bool bufferReachesFileEnd(const Parser& p) {
  return p.loadedOffset + p.endIndex >= p.ctx->files[p.fileIndex].size;
}
// Moves the read position on by n bytes, any distance. Step::End when that leaves the
// current file, Step::Error when the error flag is set.
Step skipBytes(Parser& p, std::uint64_t n);
// The next byte, or -1 at the end of the current file or on an error (flags set).
int readByte(Parser& p);

// Full positioning: resets the delivery state and puts the read position at `position`.
// False (error flag set) when no file holds it or the file cannot be opened.
bool positionParser(Context& ctx, Parser& p, std::uint64_t position);
// Resets what the packet readers keep between calls.
void resetDelivery(Parser& p);

void sleepParser(Context& ctx, Parser& p);
[[nodiscard]] bool wakeParser(Context& ctx, Parser& p);
[[nodiscard]] bool updateFileSize(Context& ctx, Parser& p, std::uint64_t size);

// Size of a named file by stat; false when it cannot be had.
[[nodiscard]] bool systemFileSize(const char* name, std::uint64_t& size);

}  // namespace quillion::daskin
