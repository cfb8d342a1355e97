// SPDX-License-Identifier: GPL-2.0-or-later
// What the file writer and reader share: messages, descriptor calls that survive signals and
// partial transfers, and the private state of a file stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "bufstream.h"

namespace quillion::bufstream_detail {

struct VobNavigation;

// Formats a "BUFSTRM:" message and hands it to the caller's function (if any).
void report(bufstream_msg_fn msg, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes all n bytes; returns the bytes written before a failure.
std::size_t writeAll(int fd, const std::uint8_t* p, std::size_t n);
// Reads up to n bytes, stopping only at the end of the file or a failure.
std::size_t readAll(int fd, std::uint8_t* p, std::size_t n);

struct FileState {
  int fd = -1;
  std::unique_ptr<std::uint8_t[]> buffer;
  std::uint32_t bufferSize = 0;
  std::uint64_t byteCount = 0;  // current part (writer) or bytes consumed (reader)
  bool failed = false;          // a write or close failed: done reports it

  // Writer: bytes [flushed, used) of the buffer are still to be written out.
  std::uint32_t used = 0;
  std::uint32_t flushed = 0;
  std::uint32_t parts = 0;
  std::string name;
  std::string base;
  std::string extension;
  bool haveBase = false;
  VobNavigation* nav = nullptr;  // DVD navigation tables, while a multiplexer sends them

  // Reader.
  std::uint32_t position = 0;
  std::uint32_t level = 0;
  std::uint64_t fileSize = 0;
  bool byteSwap = false;
  bool held = false;
  std::uint8_t heldByte = 0;
};

inline FileState* stateOf(bufstream* bs) {
  return static_cast<FileState*>(bs->implementation);
}

// A new file stream state with its buffer of `bufferSize` bytes (none for 0); null, with the
// reason sent to `msg`, when memory runs out.
std::unique_ptr<FileState> newFileState(std::uint32_t bufferSize, bufstream_msg_fn msg);

// Closes the descriptor; false when close reports a failure.
bool closeFile(FileState& state);

// The confirm slot's work in both file streams: moves `cursor` on by n, at most to `limit`,
// and counts the step; returns it.
inline std::uint32_t advanceCursor(FileState& s, std::uint32_t& cursor, std::uint32_t limit,
                                   std::uint32_t n) {
  if (n > limit - cursor) n = limit - cursor;
  cursor += n;
  s.byteCount += n;
  return n;
}

// The chunksize slot of both file streams: the buffer size.
std::uint32_t fileChunkSize(bufstream* bs);

// Answers an auxinfo query by copying `value` into the caller's block: 0, or -1 when the
// block is missing or too small.
template <typename T>
std::int32_t answer(void* data, std::uint32_t size, const T& value) {
  if (!data || size < sizeof(T)) return -1;
  std::memcpy(data, &value, sizeof(T));
  return 0;
}

// The free slot of records made by open_*: finish when still open, then release.
void freeOwnedRecord(bufstream* bs);

// Allocates a record and lets `init` fill it (init returns 0 or -1); null on failure.
template <typename Init>
bufstream* openRecord(bufstream_msg_fn msg, Init init) {
  auto* bs = new (std::nothrow) bufstream{};
  if (!bs) {
    report(msg, "BUFSTRM:Unable to allocate %d bytes for bufstream object",
           static_cast<int>(sizeof(bufstream)));
    return nullptr;
  }
  if (init(bs) != 0) {
    delete bs;
    return nullptr;
  }
  return bs;
}

}  // namespace quillion::bufstream_detail
