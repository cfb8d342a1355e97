// SPDX-License-Identifier: GPL-2.0-or-later
// The windowed reader. Offsets are 64-bit: movie files of more than 4 GiB are common.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "quillion/GU.h"

struct GU_SFB {
  int fd = -1;
  std::uint64_t windowStart = 0;
  std::uint64_t fileSize = 0;
  std::uint32_t windowSize = 0;
  std::vector<std::uint8_t> buffer;
  std::uint32_t held = 0;
  std::uint8_t direction = kGU_SFBForward;

  ~GU_SFB() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

std::size_t readAt(int fd, void* dest, std::size_t length, std::uint64_t offset) {
  auto* out = static_cast<std::uint8_t*>(dest);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void loadWindow(GU_SFB& r, std::uint64_t start) {
  r.windowStart = start;
  r.held = static_cast<std::uint32_t>(readAt(r.fd, r.buffer.data(), r.windowSize, start));
}

bool inWindow(const GU_SFB& r, std::uint64_t offset) {
  return offset >= r.windowStart && offset - r.windowStart < r.held;
}

}  // namespace

GU_SFB* GU_SFB_Init(const char* path, std::uint32_t windowSize) {
  if (path == nullptr || *path == '\0' || windowSize == 0) return nullptr;
  auto reader = std::make_unique<GU_SFB>();
  reader->fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (reader->fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(reader->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 15) return nullptr;
  reader->fileSize = static_cast<std::uint64_t>(st.st_size);
  reader->windowSize = windowSize;
  reader->buffer.resize(windowSize);
  loadWindow(*reader, 0);
  return reader.release();
}

std::uint8_t GU_SFB_GetByte(GU_SFB* reader, std::uint64_t offset) {
  if (reader == nullptr || offset >= reader->fileSize) return 255;
  if (!inWindow(*reader, offset)) {
    std::uint64_t start = offset;
    if (reader->direction == kGU_SFBBackward)
      start = offset < reader->windowSize ? 0 : offset - reader->windowSize + 1;
    loadWindow(*reader, start);
    if (!inWindow(*reader, offset)) return 255;  // the file shrank under us
  }
  return reader->buffer[offset - reader->windowStart];
}

std::uint16_t GU_SFB_Get2Bytes(GU_SFB* reader, std::uint64_t offset) {
  const std::uint8_t high = GU_SFB_GetByte(reader, offset);
  return static_cast<std::uint16_t>(high << 8 | GU_SFB_GetByte(reader, offset + 1));
}

std::uint32_t GU_SFB_GetData(GU_SFB* reader, void* dest, std::uint64_t offset,
                             std::uint32_t length) {
  if (reader == nullptr || dest == nullptr || length == 0) return 0;
  if (offset >= reader->windowStart && offset - reader->windowStart + length <= reader->held) {
    std::memcpy(dest, reader->buffer.data() + (offset - reader->windowStart), length);
    return length;
  }
  return static_cast<std::uint32_t>(readAt(reader->fd, dest, length, offset));
}

std::uint64_t GU_SFB_FileSize(GU_SFB* reader) {
  return reader ? reader->fileSize : 0;
}

std::uint8_t GU_SFB_GetDirection(GU_SFB* reader) {
  return reader ? reader->direction : kGU_SFBForward;
}

std::uint8_t GU_SFB_SetDirection(GU_SFB* reader, std::uint8_t direction) {
  if (reader != nullptr) reader->direction = direction;
  return direction;
}

int GU_SFB_Term(GU_SFB* reader) {
  if (reader == nullptr) return -1;
  delete reader;
  return 0;
}
