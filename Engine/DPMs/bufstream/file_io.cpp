// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace quillion::bufstream_detail {

void report(bufstream_msg_fn msg, const char* format, ...) {
  if (!msg) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  msg(text);
}

std::size_t writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::write(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

std::size_t readAll(int fd, std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

std::unique_ptr<FileState> newFileState(std::uint32_t bufferSize, bufstream_msg_fn msg) {
  std::unique_ptr<FileState> state(new (std::nothrow) FileState);
  if (!state) {
    report(msg, "BUFSTRM:Unable to allocate %d bytes for bufstream object",
           static_cast<int>(sizeof(FileState)));
    return nullptr;
  }
  if (bufferSize > 0) {
    state->buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!state->buffer) {
      report(msg, "BUFSTRM:Unable to allocate %d bytes for the bufstream buffer.",
             static_cast<int>(bufferSize));
      return nullptr;
    }
  }
  state->bufferSize = bufferSize;
  return state;
}

bool closeFile(FileState& state) {
  if (state.fd < 0) return true;
  // A failed close may still have released the descriptor (Linux always does), so it is
  // never retried.
  const int r = ::close(state.fd);
  state.fd = -1;
  return r == 0;
}

std::uint32_t fileChunkSize(bufstream* bs) {
  const FileState* s = stateOf(bs);
  return s ? s->bufferSize : 0;
}

void freeOwnedRecord(bufstream* bs) {
  if (!bs) return;
  if (bs->implementation && bs->done) bs->done(bs, 0);
  delete bs;
}

}  // namespace quillion::bufstream_detail
