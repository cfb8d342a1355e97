// SPDX-License-Identifier: GPL-2.0-or-later
#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "dvd_set.h"
#include "readers.h"

namespace quillion::daskin {

FileBuffer* newFileBuffer(Context& ctx, std::uint32_t size) {
  void* record = ctx.services.allocate(sizeof(FileBuffer));
  if (!record) {
    ctx.services.error("Unable to allocate %d bytes for stream buffer",
                       static_cast<int>(sizeof(FileBuffer)));
    return nullptr;
  }
  auto* buffer = new (record) FileBuffer{};
  buffer->data = static_cast<std::uint8_t*>(ctx.services.allocate(size));
  if (!buffer->data) {
    ctx.services.error("Unable to allocate %d bytes for file buffer", static_cast<int>(size));
    ctx.services.release(record);
    return nullptr;
  }
  buffer->capacity = size;
  return buffer;
}

void freeFileBuffer(Context& ctx, FileBuffer* buffer) {
  if (!buffer) return;
  ctx.services.release(buffer->data);
  ctx.services.release(buffer);
}

bool appendFile(Context& ctx, const char* name, std::uint64_t size) {
  const std::size_t length = std::strlen(name);
  auto* copy = static_cast<char*>(ctx.services.allocate(length + 1));
  auto* list = static_cast<FileEntry*>(
      ctx.services.allocate(sizeof(FileEntry) * static_cast<std::size_t>(ctx.fileCount + 1)));
  if (!copy || !list) {
    ctx.services.release(copy);
    ctx.services.release(list);
    ctx.services.error("Unable to allocate %d bytes for the file list",
                       static_cast<int>(length + 1));
    return false;
  }
  std::memcpy(copy, name, length + 1);
  for (int i = 0; i < ctx.fileCount; ++i) list[i] = ctx.files[i];
  FileEntry& entry = list[ctx.fileCount];
  entry = FileEntry{};
  entry.first = ctx.totalSize;
  entry.size = size;
  entry.name = copy;
  ctx.services.release(ctx.files);
  ctx.files = list;
  ++ctx.fileCount;
  ctx.totalSize += size;
  ctx.fileInfo.size = ctx.totalSize;
  return true;
}

void freeFileList(Context& ctx) {
  for (int i = 0; i < ctx.fileCount; ++i) ctx.services.release(ctx.files[i].name);
  ctx.services.release(ctx.files);
  ctx.files = nullptr;
  ctx.fileCount = 0;
  ctx.totalSize = 0;
}

bool systemFileSize(const char* name, std::uint64_t& size) {
  struct stat st {};
  if (::stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

namespace {

bool splitMode(const Context& ctx) {
  return ctx.settings.split_mode != 0;
}
bool callerIo(const Context& ctx) {
  return ctx.settings.caller_io != 0;
}

bool openListFile(Context& ctx, Parser& p, int index) {
  p.handleOffsetKnown = false;
  if (splitMode(ctx)) {
    p.handleOpen = true;
  } else if (callerIo(ctx)) {
    const intptr_t h = ctx.settings.io_open
                           ? ctx.settings.io_open(ctx.settings.io_context, ctx.files[index].name)
                           : -1;
    if (h == -1) {
      ctx.services.error("Unable to open input file");
      return false;
    }
    p.handle = h;
    p.handleOpen = true;
  } else {
    const int fd = ::open(ctx.files[index].name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      ctx.services.error("Unable to open file %s", ctx.files[index].name);
      return false;
    }
    p.handle = fd;
    p.handleOpen = true;
  }
  p.fileIndex = index;
  return true;
}

void closeListFile(Context& ctx, Parser& p) {
  if (!p.handleOpen) return;
  if (!splitMode(ctx)) {
    if (callerIo(ctx)) {
      if (ctx.settings.io_close) ctx.settings.io_close(ctx.settings.io_context, p.handle);
    } else {
      ::close(static_cast<int>(p.handle));
    }
  }
  p.handleOpen = false;
  p.handle = -1;
}

std::uint32_t clampCount(std::uint64_t n) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, INT32_MAX));
}

// Reads up to n bytes at `offset` of the current file: bytes read, 0 at its end, -1 on a
// failure. Every back-end is asked for a seek only when the read would land elsewhere.
std::int64_t rawRead(Context& ctx, Parser& p, std::uint64_t offset, std::uint8_t* dst,
                     std::uint32_t n) {
  if (!p.handleOpen) return -1;
  const auto lo = static_cast<std::uint32_t>(offset);
  const auto hi = static_cast<std::uint32_t>(offset >> 32);
  if (splitMode(ctx)) {
    if (!ctx.settings.split_read) return -1;
    if (p.reseek || !ctx.splitOffsetKnown || ctx.splitOffset != offset) {
      if (!ctx.settings.split_seek ||
          ctx.settings.split_seek(ctx.settings.split_context, lo, hi) != 0)
        return -1;
      p.reseek = false;
    }
    const std::int32_t r =
        ctx.settings.split_read(ctx.settings.split_context, dst, static_cast<std::int32_t>(n));
    if (r <= 0) {
      ctx.splitOffsetKnown = false;
      return 0;
    }
    ctx.splitOffset = offset + static_cast<std::uint32_t>(r);
    ctx.splitOffsetKnown = true;
    return std::min<std::int64_t>(r, n);
  }
  if (callerIo(ctx)) {
    if (!ctx.settings.io_read) return -1;
    if (p.reseek || !p.handleOffsetKnown || p.handleOffset != offset) {
      if (!ctx.settings.io_seek ||
          ctx.settings.io_seek(ctx.settings.io_context, p.handle, lo, hi) != 0)
        return -1;
      p.reseek = false;
    }
    const std::int32_t r =
        ctx.settings.io_read(ctx.settings.io_context, p.handle, dst, static_cast<std::int32_t>(n));
    if (r <= 0) {
      p.handleOffsetKnown = false;
      return 0;
    }
    p.handleOffset = offset + static_cast<std::uint32_t>(r);
    p.handleOffsetKnown = true;
    return std::min<std::int64_t>(r, n);
  }
  for (;;) {
    const ssize_t r = ::pread(static_cast<int>(p.handle), dst, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    return r < 0 ? -1 : r;
  }
}

}  // namespace

bool initParser(Context& ctx, Parser& p, const demux_parser_settings& settings, bool probing) {
  p.ctx = &ctx;
  p.settings = settings;
  p.probing = probing;
  if (probing && splitMode(ctx) && ctx.splitterBuffer) {
    p.buffer = *ctx.splitterBuffer;
    p.ownsBuffer = false;
  } else {
    std::uint32_t size = kDefaultBufferSize;
    if (settings.buffer_size > 0)
      size =
          std::max<std::uint32_t>(static_cast<std::uint32_t>(settings.buffer_size), kMinBufferSize);
    p.buffer.data = static_cast<std::uint8_t*>(ctx.services.allocate(size));
    if (!p.buffer.data) {
      ctx.services.error("Unable to allocate %d bytes for file buffer", static_cast<int>(size));
      ctx.services.error("Unable to create a bitstream buffer");
      return false;
    }
    p.buffer.capacity = size;
    p.ownsBuffer = true;
  }
  resetDelivery(p);
  if (ctx.fileCount < 1 || !openListFile(ctx, p, 0)) {
    if (p.ownsBuffer) ctx.services.release(p.buffer.data);
    p.buffer = FileBuffer{};
    return false;
  }
  return true;
}

void releaseParser(Context& ctx, Parser& p) {
  closeListFile(ctx, p);
  if (p.ownsBuffer) ctx.services.release(p.buffer.data);
  p.buffer = FileBuffer{};
}

std::uint32_t ensure(Parser& p, std::uint32_t need) {
  std::uint32_t have = available(p);
  if (have >= need || p.error) return have;
  Context& ctx = *p.ctx;
  if (p.readIndex > 0) {
    std::memmove(p.buffer.data, p.buffer.data + p.readIndex, have);
    p.loadedOffset += p.readIndex;
    p.endIndex = have;
    p.readIndex = 0;
  }
  need = std::min(need, p.buffer.capacity);
  const std::uint64_t fileSize = ctx.files[p.fileIndex].size;
  while (p.endIndex < need) {
    const std::uint64_t offset = p.loadedOffset + p.endIndex;
    if (offset >= fileSize) break;
    const std::uint32_t want =
        clampCount(std::min<std::uint64_t>(p.buffer.capacity - p.endIndex, fileSize - offset));
    const std::int64_t r = rawRead(ctx, p, offset, p.buffer.data + p.endIndex, want);
    if (r < 0) {
      p.error = true;
      break;
    }
    if (r == 0) break;
    p.endIndex += static_cast<std::uint32_t>(r);
  }
  return available(p);
}

Step skipBytes(Parser& p, std::uint64_t n) {
  if (p.error) return Step::Error;
  const std::uint32_t have = available(p);
  if (n <= have) {
    p.readIndex += static_cast<std::uint32_t>(n);
    p.position += n;
    return Step::Delivered;
  }
  const std::uint64_t target = p.loadedOffset + p.readIndex + n;
  p.loadedOffset = target;
  p.readIndex = p.endIndex = 0;
  p.position += n;
  if (target > p.ctx->files[p.fileIndex].size) {
    p.atEnd = true;
    return Step::End;
  }
  return Step::Delivered;
}

int readByte(Parser& p) {
  if (available(p) == 0 && ensure(p, 1) == 0) {
    if (!p.error) p.atEnd = true;
    return -1;
  }
  ++p.position;
  return p.buffer.data[p.readIndex++];
}

void resetDelivery(Parser& p) {
  p.pendingAdvance = 0;
  p.pts = kNoTime;
  p.packPosition = p.position;
  p.bytesLeft = 0;
  p.payloadLength = 0;
  p.chunkFilled = false;
  p.unbounded = false;
  std::memset(p.lastCounter, 0xFF, sizeof p.lastCounter);
  std::memset(p.owed, 0, sizeof p.owed);
  std::memset(p.avLastCounter, 0xFF, sizeof p.avLastCounter);
  std::memset(p.avOwed, 0, sizeof p.avOwed);
  p.nextPacket = p.position;
  p.dsiCategory = 0;
  p.unitEnd = 0;
}

bool positionParser(Context& ctx, Parser& p, std::uint64_t position) {
  p.error = false;
  p.atEnd = false;
  int index = -1;
  for (int i = 0; i < ctx.fileCount; ++i) {
    if (ctx.files[i].size > 0 && position >= ctx.files[i].first &&
        position <= ctx.files[i].last()) {
      index = i;
      break;
    }
  }
  // The end of the last file is a position too: reading there meets the end.
  if (index < 0 && ctx.fileCount > 0 && position == ctx.totalSize) index = ctx.fileCount - 1;
  if (index < 0) {
    ctx.services.error("Unable to find position in file list");
    p.error = true;
    return false;
  }
  if (index != p.fileIndex || !p.handleOpen) {
    closeListFile(ctx, p);
    p.readIndex = p.endIndex = 0;
    p.loadedOffset = 0;
    if (!openListFile(ctx, p, index)) {
      p.error = true;
      return false;
    }
  }
  const std::uint64_t offset = position - ctx.files[index].first;
  if (offset >= p.loadedOffset && offset < p.loadedOffset + p.endIndex) {
    p.readIndex = static_cast<std::uint32_t>(offset - p.loadedOffset);
  } else {
    p.loadedOffset = offset;
    p.readIndex = p.endIndex = 0;
  }
  p.position = position;
  resetDelivery(p);
  if (ctx.ifoMode) p.cell = cellAt(ctx, position);
  return true;
}

void sleepParser(Context& ctx, Parser& p) {
  if (p.asleep) return;
  // The place to go on from is the parser's own (loaded offset and buffer), never the
  // handle's: a caller's handle need not be a descriptor at all.
  if (!splitMode(ctx)) closeListFile(ctx, p);
  p.asleep = true;
}

bool wakeParser(Context& ctx, Parser& p) {
  if (!p.asleep) return true;
  if (splitMode(ctx)) {
    p.reseek = true;
  } else if (!openListFile(ctx, p, p.fileIndex)) {
    return false;
  }
  p.asleep = false;
  return true;
}

bool updateFileSize(Context& ctx, Parser& p, std::uint64_t size) {
  if (!splitMode(ctx) && !callerIo(ctx)) {
    if (!systemFileSize(ctx.files[p.fileIndex].name, size)) {
      ctx.services.error("Unable to get the size of the input file");
      return false;
    }
  }
  ctx.files[p.fileIndex].size = size;
  std::uint64_t total = 0;
  for (int i = 0; i < ctx.fileCount; ++i) total += ctx.files[i].size;
  ctx.totalSize = total;
  ctx.fileInfo.size = total;
  return true;
}

bool selectReaders(Context& ctx) {
  switch (ctx.fileInfo.system_stream_type) {
    case kElementary:
      ctx.reader = readElementary;
      return true;
    case kMpeg1System:
      ctx.reader = readMpeg1System;
      return true;
    case kProgramStream:
      ctx.reader = readProgramStream;
      return true;
    case kTransportStream:
      ctx.reader = readTransportStream;
      return true;
    case kAvStream:
      ctx.reader = readAvPackets;
      return true;
    default:
      break;
  }
  ctx.services.error("Unknown stream type");
  return false;
}

}  // namespace quillion::daskin
