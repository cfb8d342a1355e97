// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/aligned_memory.h"

#include <cstdlib>
#include <cstring>

namespace quillion::mp3enc {

void* teskMalloc_mem(std::size_t size, const char* /*name*/, int /*line*/) {
  if (size == 0) return nullptr;
  // posix_memalign keeps the bookkeeping with the system, so free() takes the block back
  // whole on any pointer width.
  void* block = nullptr;
  if (posix_memalign(&block, kBlockAlignment, size) != 0) return nullptr;
  return block;
}

void* teskCalloc_mem(std::size_t count, std::size_t size, const char* name, int line) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
  void* block = teskMalloc_mem(bytes, name, line);
  if (block) std::memset(block, 0, bytes);
  return block;
}

void teskFree_mem(void* block) { std::free(block); }

void teskCheckMem(const char* /*name*/, int /*line*/) {}
void teskCheckBlock(const void* /*block*/, const char* /*name*/, int /*line*/) {}

}  // namespace quillion::mp3enc
