// SPDX-License-Identifier: GPL-2.0-or-later
// Writing blocks to a drive in chunks of at most 64 KB, straight from the caller's buffer. A
// chunk the drive refuses is tried again, once a second, until 240 s after its first refusal
// (a drive may be busy with its buffer or a recalibration for a while); a chunk that still
// fails then stops the track, for a later chunk must never be written behind a hole.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "device/drive_destination.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"

namespace quillion::writer {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kChunkBytes = 65'536;
constexpr std::uint16_t kFastDvdChunkBlocks = 32;
constexpr std::uint16_t kFastDvdSpeed = 5;
constexpr Clock::Duration kRetryWindow = 240s;
constexpr Clock::Duration kRetryPause = 1s;

std::uint16_t chunkBlocks(const DriveState& c, std::uint16_t blockSize) {
  if (c.dvd() && c.speed >= kFastDvdSpeed) return kFastDvdChunkBlocks;
  return static_cast<std::uint16_t>(kChunkBytes / blockSize);
}

EngineStatus writeChunk(const DriveState& c, const std::uint8_t* data, std::uint16_t blocks,
                        std::uint16_t blockSize, MMC_SenseData& sense) {
  // The vendor command continues where the drive stands; WRITE(10) names the address.
  if (c.sessionAtOnce && c.writeContinue) {
    return MMC_WriteContinue(c.ref, static_cast<std::uint32_t>(c.nextWriteAddress), data, blockSize,
                             blocks, &sense);
  }
  return MMC_WriteSectors(c.ref, static_cast<std::uint32_t>(c.nextWriteAddress), data, blockSize,
                          blocks, &sense);
}

}  // namespace

EngineStatus driveWrite(DriveState& c, const std::uint8_t* buffer, std::uint16_t blocks,
                        std::uint16_t blockSize, const std::atomic<bool>& stop) {
  // Any 16-bit block size fits a chunk at least once.
  static_assert(kChunkBytes > UINT16_MAX);
  if (blockSize == 0) return kErrBadArgument;
  const std::uint16_t chunk = chunkBlocks(c, blockSize);
  Clock& clock = engineClock();
  while (blocks > 0) {
    const std::uint16_t n = std::min(blocks, chunk);
    std::optional<Clock::MonoTime> firstFailure;
    for (;;) {
      if (stop.load()) return kNoErr;
      MMC_SenseData sense{};
      const EngineStatus status = writeChunk(c, buffer, n, blockSize, sense);
      if (status == kNoErr) break;
      if (!firstFailure) firstFailure = clock.now();
      if (clock.now() - *firstFailure >= kRetryWindow) {
        c.sense = sense;
        // A refusal with sense is the drive's verdict on the data; anything else (the command
        // could not even be run) keeps its own status.
        return status == kErrCheckCondition ? EngineStatus{kErrDataRefused} : status;
      }
      if (!clock.sleepFor(kRetryPause, &stop)) return kNoErr;
    }
    c.nextWriteAddress += n;
    buffer += std::size_t{n} * blockSize;
    blocks = static_cast<std::uint16_t>(blocks - n);
  }
  return kNoErr;
}

}  // namespace quillion::writer
