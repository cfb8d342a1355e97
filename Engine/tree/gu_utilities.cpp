// SPDX-License-Identifier: GPL-2.0-or-later
// The burn-log primitives and the disc-copy arithmetic.
#include <cmath>
#include <memory>

#include "quillion/GU.h"

std::FILE* GU_Log_Open(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return std::fopen(path, "a+");
}

std::size_t GU_Log_Write(std::FILE* file, const void* bytes, std::size_t length) {
  if (file == nullptr || bytes == nullptr || length == 0) return 0;
  return std::fwrite(bytes, 1, length, file);
}

void GU_Log_Close(std::FILE* file) {
  if (file != nullptr) std::fclose(file);
}

EngineStatus GU_DumpDataToFile(const char* path, const void* bytes, std::size_t length) {
  if (path == nullptr || *path == '\0' || (bytes == nullptr && length > 0)) return kErrBadArgument;
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path, "w+"));
  if (!file) return kErrFileAccess;
  if (length > 0 && std::fwrite(bytes, 1, length, file.get()) != length) return kErrFileAccess;
  return std::fclose(file.release()) == 0 ? kNoErr : kErrFileAccess;
}

namespace {

std::uint32_t maxWriteSpeed(std::uint32_t readRate, std::uint32_t cacheBlocks,
                            std::uint32_t totalBlocks, double blocksPerSecondAt1x) {
  if (cacheBlocks >= totalBlocks) return 0xFFFFFFFFu;
  // A reader that delivers nothing can feed no speed at all (and must not divide by zero).
  if (readRate == 0) return 0;
  const std::uint32_t t = (totalBlocks - cacheBlocks) / readRate;
  if (t == 0) return 0xFFFFFFFFu;
  const double speed =
      (static_cast<double>(readRate) * t + cacheBlocks) / (t * blocksPerSecondAt1x);
  if (!(speed > 0)) return 0;
  if (speed >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(speed);
}

}  // namespace

std::uint32_t GU_CalculateMaxWriteCDSpeed(std::uint32_t readRate, std::uint32_t cacheBlocks,
                                          std::uint32_t totalBlocks) {
  return maxWriteSpeed(readRate, cacheBlocks, totalBlocks, 76.0);
}

std::uint32_t GU_CalculateMaxWriteDVDSpeed(std::uint32_t readRate, std::uint32_t cacheBlocks,
                                           std::uint32_t totalBlocks) {
  return maxWriteSpeed(readRate, cacheBlocks, totalBlocks, 602.0);
}

std::uint32_t GU_CalculateTotalCacheMgrBlocks(std::uint32_t cacheBytes, std::uint32_t blockBytes,
                                              std::uint32_t sectorBytes) {
  if (cacheBytes == 0 || blockBytes == 0 || sectorBytes == 0) return 0;
  return (cacheBytes / blockBytes) * (blockBytes / sectorBytes) +
         (cacheBytes % blockBytes) / sectorBytes;
}
