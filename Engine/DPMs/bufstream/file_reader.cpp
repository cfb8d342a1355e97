// SPDX-License-Identifier: GPL-2.0-or-later
// File reader stream: areas handed out in place from a refilled buffer, larger reads served
// straight from the file, and an optional byte-swapped view of 16-bit units.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <utility>

#include "file_io.h"

namespace quillion::bufstream_detail {
namespace {

// Reads up to n bytes of the stream as the caller sees it. In byte-swap mode the bytes of
// every pair are exchanged; a read that ends inside a pair reads its second byte ahead and
// holds the first back for the next read, so pairs keep their alignment across reads.
std::size_t readLogical(FileState& s, std::uint8_t* dst, std::size_t n) {
  if (n == 0) return 0;
  if (!s.byteSwap) return readAll(s.fd, dst, n);
  std::size_t got = 0;
  if (s.held) {
    dst[0] = s.heldByte;
    s.held = false;
    got = 1;
  }
  const std::size_t raw = readAll(s.fd, dst + got, n - got);
  for (std::size_t i = 0; i + 1 < raw; i += 2) std::swap(dst[got + i], dst[got + i + 1]);
  if (raw % 2 == 1) {
    std::uint8_t next = 0;
    if (readAll(s.fd, &next, 1) == 1) {
      s.heldByte = dst[got + raw - 1];
      s.held = true;
      dst[got + raw - 1] = next;
    }
  }
  return got + raw;
}

std::uint32_t usable(bufstream* bs) {
  const FileState* s = stateOf(bs);
  return s ? s->level - s->position : 0;
}

std::uint8_t* request(bufstream* bs, std::uint32_t n) {
  FileState* s = stateOf(bs);
  if (!s || n > s->bufferSize) return nullptr;
  if (s->level - s->position < n) {
    if (s->position == s->level) {
      s->position = s->level = 0;
    } else if (n > s->bufferSize - s->position) {
      std::memmove(s->buffer.get(), s->buffer.get() + s->position, s->level - s->position);
      s->level -= s->position;
      s->position = 0;
    }
    s->level += static_cast<std::uint32_t>(
        readLogical(*s, s->buffer.get() + s->level, s->bufferSize - s->level));
    if (s->level - s->position < n) return nullptr;
  }
  return s->buffer.get() + s->position;
}

std::uint32_t confirm(bufstream* bs, std::uint32_t n) {
  FileState* s = stateOf(bs);
  return s ? advanceCursor(*s, s->position, s->level, n) : 0;
}

std::uint32_t copyBytes(bufstream* bs, std::uint8_t* p, std::uint32_t n) {
  FileState* s = stateOf(bs);
  if (!s || !p) return 0;
  std::uint32_t fromBuffer = s->level - s->position;
  if (fromBuffer > n) fromBuffer = n;
  if (fromBuffer > 0) std::memcpy(p, s->buffer.get() + s->position, fromBuffer);
  s->position += fromBuffer;
  const std::size_t direct = readLogical(*s, p + fromBuffer, n - fromBuffer);
  const auto delivered = static_cast<std::uint32_t>(fromBuffer + direct);
  s->byteCount += delivered;
  return delivered;
}

std::int32_t auxInfo(bufstream* bs, std::uint32_t, std::uint32_t id, void* data,
                     std::uint32_t size) {
  FileState* s = stateOf(bs);
  if (!s) return -1;
  switch (id) {
    case BUFSTREAM_AUX_BYTE_SWAP:
      s->byteSwap = true;
      return 0;
    case BUFSTREAM_AUX_FILE_SIZE:
      return answer(data, size, s->fileSize);
    case BUFSTREAM_AUX_BYTE_COUNT:
      return answer(data, size, s->byteCount);
    default:
      return 0;
  }
}

int done(bufstream* bs, int) {
  FileState* s = stateOf(bs);
  if (!s) return 0;
  const bool ok = closeFile(*s);
  delete s;
  bs->implementation = nullptr;
  return ok ? 0 : -1;
}

int initReader(bufstream* bs, const char* path, std::uint32_t bufferSize, bufstream_msg_fn msg,
               bool owned) {
  if (!bs || !path) return -1;
  std::unique_ptr<FileState> state = newFileState(bufferSize, msg);
  if (!state) return -1;
  state->fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (state->fd < 0) {
    report(msg, "BUFSTRM:Unable to open file for reading.");
    return -1;
  }
  struct stat info {};
  if (::fstat(state->fd, &info) != 0) {
    report(msg, "BUFSTRM:Unable to get the size of the file.");
    closeFile(*state);
    return -1;
  }
  state->fileSize = static_cast<std::uint64_t>(info.st_size);
  *bs = bufstream{};
  bs->usable_bytes = usable;
  bs->request = request;
  bs->confirm = confirm;
  bs->copybytes = copyBytes;
  bs->chunksize = fileChunkSize;
  bs->auxinfo = auxInfo;
  bs->done = done;
  bs->free = owned ? freeOwnedRecord : nullptr;
  bs->implementation = state.release();
  return 0;
}

}  // namespace
}  // namespace quillion::bufstream_detail

using quillion::bufstream_detail::initReader;

extern "C" {

bufstream* open_file_buf_read(const char* path, std::uint32_t bufferSize, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::openRecord(
      msg, [&](bufstream* bs) { return initReader(bs, path, bufferSize, msg, true); });
}

int init_file_buf_read(bufstream* bs, const char* path, std::uint32_t bufferSize,
                       bufstream_msg_fn msg) {
  return initReader(bs, path, bufferSize, msg, false);
}

int exit_file_buf_read(bufstream* bs) {
  return bs && bs->done ? bs->done(bs, 0) : 0;
}

}  // extern "C"
