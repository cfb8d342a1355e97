// SPDX-License-Identifier: GPL-2.0-or-later
// Fifo pair over one ring buffer. The ring proper is [wrap, end); the wrap area [0, wrap) in
// front of it lets either side see an area that crosses the ring's end as one contiguous
// block: a writer fills it there and confirm moves the part that belongs at the end, a reader
// gets the end part copied in front of the ring start. One element always stays free, so
// read == write means empty and never full.
//
// The two ends may be used from two threads (a producer writing, a consumer reading): every
// operation takes the fifo's lock while it reads or moves the indices, and an area handed
// out by request is only ever free space (writer) or committed data (reader), so the bytes
// behind it are not shared while the caller works on them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "bufstream.h"

namespace {

struct Fifo {
  std::uint8_t* buffer = nullptr;
  std::size_t bufferBytes = 0;
  std::uint32_t elementSize = 1;
  std::uint32_t wrap = 0;  // wrap-area length, also the chunk size of both ends
  std::uint32_t read = 0;
  std::uint32_t write = 0;
  std::uint32_t end = 0;
  std::uint32_t pendingWrite = 0;  // start of the area of the last writer request
  std::uint32_t pendingCount = 0;  // elements handed out by it; 0 when none is open
  std::mutex lock;

  std::uint32_t ringSize() const { return end - wrap; }
  std::uint32_t fill() const { return write >= read ? write - read : ringSize() - (read - write); }
  std::uint32_t room() const { return ringSize() - 1 - fill(); }
  std::uint8_t* at(std::uint32_t index) const {
    return buffer + static_cast<std::size_t>(index) * elementSize;
  }
  std::size_t bytes(std::uint32_t count) const {
    return static_cast<std::size_t>(count) * elementSize;
  }
  std::uint32_t advanced(std::uint32_t index, std::uint32_t count) const {
    index += count;
    return index >= end ? index - ringSize() : index;
  }

  // Copies `count` elements from p into the ring at write, across the end when needed.
  void putRun(const std::uint8_t* p, std::uint32_t count) {
    const std::uint32_t first = count < end - write ? count : end - write;
    std::memcpy(at(write), p, bytes(first));
    std::memcpy(at(wrap), p + bytes(first), bytes(count - first));
    write = advanced(write, count);
  }
};

struct FifoPair {
  bufstream writer;
  bufstream reader;
  Fifo* fifo;
};
static_assert(offsetof(FifoPair, reader) == sizeof(bufstream),
              "the reader record must follow the writer record");

Fifo& fifoOf(bufstream* bs) {
  return *static_cast<FifoPair*>(bs->implementation)->fifo;
}

using FifoLock = std::lock_guard<std::mutex>;

// Writer side.

std::uint32_t writerUsable(bufstream* bs) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  return f.room();
}

std::uint8_t* writerRequest(bufstream* bs, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  f.pendingCount = 0;
  if (n > f.room()) return nullptr;
  const std::uint32_t tail = f.end - f.write;
  if (tail >= n) {
    f.pendingWrite = f.write;
  } else if (tail <= f.wrap) {
    // The room check guarantees the ring start behind the wrap area is free.
    f.pendingWrite = f.wrap - tail;
  } else {
    return nullptr;
  }
  f.pendingCount = n;
  return f.at(f.pendingWrite);
}

std::uint32_t writerConfirm(bufstream* bs, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  if (n > f.pendingCount) n = f.pendingCount;
  // Every confirm ends the request, also one that commits nothing.
  if (n == 0) {
    f.pendingCount = 0;
    return 0;
  }
  if (f.pendingWrite == f.write) {
    f.write = f.advanced(f.write, n);
  } else if (f.pendingWrite + n < f.wrap) {
    std::memcpy(f.at(f.write), f.at(f.pendingWrite), f.bytes(n));
    f.write += n;
  } else {
    std::memcpy(f.at(f.write), f.at(f.pendingWrite), f.bytes(f.wrap - f.pendingWrite));
    f.write = f.pendingWrite + n;
    if (f.write >= f.end) f.write = f.wrap;
  }
  f.pendingCount = 0;
  return n;
}

std::uint32_t writerCopy(bufstream* bs, std::uint8_t* p, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  const std::uint32_t take = n < f.room() ? n : f.room();
  if (take > 0 && p) f.putRun(p, take);
  f.pendingCount = 0;
  return p ? take : 0;
}

std::uint32_t chunkSize(bufstream* bs) {
  return fifoOf(bs).wrap;
}

// A producer's notices reach whoever consumes the reader, through the reader's slot.
std::int32_t writerAux(bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) {
  bufstream* reader = &static_cast<FifoPair*>(bs->implementation)->reader;
  return reader->auxinfo ? reader->auxinfo(reader, offset, id, data, size) : 0;
}

int nothingToFinish(bufstream*, int) {
  return 0;
}

// Reader side.

std::uint32_t readerUsable(bufstream* bs) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  return f.fill();
}

std::uint8_t* readerRequest(bufstream* bs, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  if (n > f.fill()) return nullptr;
  const std::uint32_t tail = f.end - f.read;
  if (tail >= n) return f.at(f.read);
  if (tail > f.wrap) return nullptr;
  // The ring keeps its copy of the end part, so the read index stays inside the ring.
  std::memcpy(f.at(f.wrap - tail), f.at(f.read), f.bytes(tail));
  return f.at(f.wrap - tail);
}

std::uint32_t readerConfirm(bufstream* bs, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  if (n > f.fill()) n = f.fill();
  f.read = f.advanced(f.read, n);
  return n;
}

std::uint32_t readerCopy(bufstream* bs, std::uint8_t* p, std::uint32_t n) {
  Fifo& f = fifoOf(bs);
  const FifoLock held(f.lock);
  if (n > f.fill() || n == 0 || !p) return 0;
  const std::uint32_t first = n < f.end - f.read ? n : f.end - f.read;
  std::memcpy(p, f.at(f.read), f.bytes(first));
  std::memcpy(p + f.bytes(first), f.at(f.wrap), f.bytes(n - first));
  f.read = f.advanced(f.read, n);
  return n;
}

std::int32_t readerAux(bufstream*, std::uint32_t, std::uint32_t, void*, std::uint32_t) {
  return 0;
}

void fillRecord(bufstream& bs, FifoPair* pair, bool writer) {
  bs = bufstream{};
  bs.usable_bytes = writer ? writerUsable : readerUsable;
  bs.request = writer ? writerRequest : readerRequest;
  bs.confirm = writer ? writerConfirm : readerConfirm;
  bs.copybytes = writer ? writerCopy : readerCopy;
  bs.chunksize = chunkSize;
  bs.auxinfo = writer ? writerAux : readerAux;
  bs.done = nothingToFinish;
  bs.flags = writer ? 1 : 0;
  bs.implementation = pair;
}

}  // namespace

extern "C" bufstream* new_fifo_buf_elements(std::uint32_t size, std::uint32_t chunk,
                                            std::uint32_t elementSize) {
  if (size < chunk || size < 2 || elementSize == 0 || elementSize > 16) return nullptr;
  const std::uint32_t wrap = chunk == 0 ? 0 : chunk - 1;
  const std::uint64_t elements = std::uint64_t{wrap} + size;
  if (elements > UINT32_MAX) return nullptr;
  auto* pair = static_cast<FifoPair*>(std::calloc(1, sizeof(FifoPair)));
  auto* fifo = static_cast<Fifo*>(std::calloc(1, sizeof(Fifo)));
  const std::size_t bytes = static_cast<std::size_t>(elements) * elementSize;
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(bytes));
  if (!pair || !fifo || !buffer) {
    std::free(pair);
    std::free(fifo);
    std::free(buffer);
    return nullptr;
  }
  new (fifo) Fifo;
  fifo->buffer = buffer;
  fifo->bufferBytes = bytes;
  fifo->elementSize = elementSize;
  fifo->wrap = wrap;
  fifo->read = fifo->write = wrap;
  fifo->end = static_cast<std::uint32_t>(elements);
  pair->fifo = fifo;
  fillRecord(pair->writer, pair, true);
  fillRecord(pair->reader, pair, false);
  return &pair->writer;
}

extern "C" bufstream* new_fifo_buf(std::uint32_t size, std::uint32_t chunk) {
  return new_fifo_buf_elements(size, chunk, 1);
}

extern "C" void free_fifo_buf(bufstream* writer) {
  if (!writer) return;
  auto* pair = static_cast<FifoPair*>(writer->implementation);
  if (!pair) return;
  std::free(pair->fifo->buffer);
  pair->fifo->~Fifo();
  std::free(pair->fifo);
  std::free(pair);
}

extern "C" std::uint32_t fifo_w_audio_put_8to16(bufstream* writer, const std::uint8_t* samples,
                                                std::uint32_t count) {
  if (!writer || !samples || !writer->implementation) return 0;
  Fifo& f = fifoOf(writer);
  const FifoLock held(f.lock);
  if (f.elementSize != 2) return 0;
  // Like a copy, a put closes any open writer request: its area may be the very elements the
  // put fills, and a later confirm must not commit it over them.
  f.pendingCount = 0;
  const std::uint32_t take = count < f.room() ? count : f.room();
  for (std::uint32_t i = 0; i < take; ++i) {
    const auto value = static_cast<std::int16_t>((samples[i] - 128) * 256);
    std::memcpy(f.at(f.write), &value, 2);
    f.write = f.advanced(f.write, 1);
  }
  return take;
}
