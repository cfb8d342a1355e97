// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder's allocator: every block starts on a 16-byte boundary, because the vector
// kernels load four floats at a time. Sizes are checked for overflow before anything is
// requested from the system.
#pragma once

#include <cstddef>
#include <memory>

namespace quillion::mp3enc {

inline constexpr std::size_t kBlockAlignment = 16;

// Zero-filled block of count x size bytes; null when the product is 0, overflows or memory
// runs out. The name and line are kept for call-site symmetry with the allocation hooks.
[[nodiscard]] void* teskCalloc_mem(std::size_t count, std::size_t size, const char* name, int line);
// Uncleared block; null for size 0 or no memory.
[[nodiscard]] void* teskMalloc_mem(std::size_t size, const char* name, int line);
// Releases a block from either function; null is allowed.
void teskFree_mem(void* block);

// The allocation-check hooks exist for callers that expect them; they check nothing.
void teskCheckMem(const char* name, int line);
void teskCheckBlock(const void* block, const char* name, int line);

struct AlignedFree {
  void operator()(void* block) const noexcept { teskFree_mem(block); }
};

// An owned, zero-filled array of n trivially constructible elements.
template <typename T>
using AlignedArray = std::unique_ptr<T[], AlignedFree>;

template <typename T>
[[nodiscard]] AlignedArray<T> makeAlignedArray(std::size_t n) {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  return AlignedArray<T>(static_cast<T*>(teskCalloc_mem(n, sizeof(T), __FILE__, __LINE__)));
}

}  // namespace quillion::mp3enc
