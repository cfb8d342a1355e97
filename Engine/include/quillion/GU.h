// SPDX-License-Identifier: GPL-2.0-or-later
// Small utilities of the engine: the burn-log file primitives, byte swapping, the windowed
// file reader of the MPEG scanner and the speed and cache arithmetic of disc copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "quillion/status.h"

// ---- burn log ----
// Opened for appending (created when missing); null on failure.
std::FILE* GU_Log_Open(const char* path);
// Writes the bytes as given (the log's writers end lines with "\r"); 0 for a null file.
std::size_t GU_Log_Write(std::FILE* file, const void* bytes, std::size_t length);
void GU_Log_Close(std::FILE* file);  // null is ignored
// Writes the bytes to a new file, replacing one of that name. kErrBadArgument for a null
// path or null bytes with a length; kErrFileAccess when the file cannot be written whole.
[[nodiscard]] EngineStatus GU_DumpDataToFile(const char* path, const void* bytes,
                                             std::size_t length);

// ---- byte order ----
constexpr std::uint16_t GU_Swap2Bytes(std::uint16_t v) {
  return static_cast<std::uint16_t>(v << 8 | v >> 8);
}
constexpr std::uint32_t GU_Swap4Bytes(std::uint32_t v) {
  return (v << 24) | ((v << 8) & 0x00FF0000u) | ((v >> 8) & 0x0000FF00u) | (v >> 24);
}
constexpr std::uint64_t GU_Swap8Bytes(std::uint64_t v) {
  return std::uint64_t{GU_Swap4Bytes(static_cast<std::uint32_t>(v))} << 32 |
         GU_Swap4Bytes(static_cast<std::uint32_t>(v >> 32));
}

// ---- windowed reader ----
// Reads a file through a window that moves forwards (direction 1) or backwards
// (direction 0) as bytes outside it are asked for. Offsets and sizes are 64-bit.
struct GU_SFB;

inline constexpr std::uint8_t kGU_SFBForward = 1;
inline constexpr std::uint8_t kGU_SFBBackward = 0;

// Null for a null or empty path, a zero window, a file that cannot be opened or one of
// 15 bytes or fewer.
GU_SFB* GU_SFB_Init(const char* path, std::uint32_t windowSize);
// 255 for a null reader or an offset at or past the end of the file.
std::uint8_t GU_SFB_GetByte(GU_SFB* reader, std::uint64_t offset);
std::uint16_t GU_SFB_Get2Bytes(GU_SFB* reader, std::uint64_t offset);  // big-endian
// Bytes copied; fewer than asked at the end of the file; 0 for a null reader.
std::uint32_t GU_SFB_GetData(GU_SFB* reader, void* dest, std::uint64_t offset,
                             std::uint32_t length);
std::uint64_t GU_SFB_FileSize(GU_SFB* reader);
std::uint8_t GU_SFB_GetDirection(GU_SFB* reader);  // 1 for a null reader
std::uint8_t GU_SFB_SetDirection(GU_SFB* reader, std::uint8_t direction);
[[nodiscard]] int GU_SFB_Term(GU_SFB* reader);  // 0; -1 for null

// ---- disc-copy arithmetic ----
// The highest write speed (in x) a reader of `readRate` blocks per second can feed through
// a cache of `cacheBlocks`; 0xFFFFFFFF when the cache holds the whole copy, 0 when the
// reader delivers nothing.
std::uint32_t GU_CalculateMaxWriteCDSpeed(std::uint32_t readRate, std::uint32_t cacheBlocks,
                                          std::uint32_t totalBlocks);
std::uint32_t GU_CalculateMaxWriteDVDSpeed(std::uint32_t readRate, std::uint32_t cacheBlocks,
                                           std::uint32_t totalBlocks);
// Sectors that a cache of `cacheBytes` holds when cut into blocks of whole sectors.
std::uint32_t GU_CalculateTotalCacheMgrBlocks(std::uint32_t cacheBytes, std::uint32_t blockBytes,
                                              std::uint32_t sectorBytes);
