// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/disc_erase.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "common/byte_order.h"
#include "device/dvd_format.h"
#include "device/medium_profile.h"
#include "quillion/DC.h"
#include "quillion/clock.h"

namespace quillion {
namespace {

// A whole-disc blank of a CD-RW at the slowest speed takes well over an hour; a drive still
// busy after two has stopped answering for its medium.
constexpr int kBlankWaitSeconds = 2 * 3600;
constexpr std::chrono::seconds kBlankPollInterval{1};
constexpr std::uint32_t kOverwriteChunkBlocks = 32;  // one 64 KiB WRITE(10)
constexpr std::uint32_t kEraseBlockBytes = 2048;
constexpr std::uint32_t kProgressWhole = 65'536;  // the unit of a drive's progress indication

bool stopRequested(const EraseObserver& observer) {
  return observer.stop && observer.stop();
}

void reportErase(const EraseObserver& observer, std::uint32_t done, std::uint32_t total) {
  if (observer.progress) observer.progress(done, total);
}

// SPC-3 4.5.2.4.4: how far a long operation has come, from REQUEST SENSE; nullopt when the
// drive gives no progress indication.
std::optional<std::uint32_t> progressOfOperation(std::uint32_t ref) {
  std::array<std::uint8_t, 12> cdb{0x03, 0, 0, 0, 18};
  std::array<std::uint8_t, 18> reply{};
  MMC_SenseData sense{};
  if (DC_ExecuteMMCCmd_Sync(ref, cdb.data(), static_cast<std::uint8_t>(cdb.size()), reply.data(),
                            reply.size(), kDC_DataIn, 0, &sense) != kNoErr) {
    return std::nullopt;
  }
  if ((reply[0] & 0x7F) != 0x70 || !(reply[15] & 0x80)) return std::nullopt;
  return std::uint32_t{reply[16]} << 8 | reply[17];
}

bool operationInProgress(const MMC_SenseData& s) {
  // NOT READY, logical unit not ready: format (04h), long write (08h) or blank (07h) in progress.
  return s.key == 0x02 && s.code == 0x04 &&
         (s.qualifier == 0x04 || s.qualifier == 0x07 || s.qualifier == 0x08);
}

// After an immediate BLANK: TEST UNIT READY once a second until the drive has done.
EngineStatus waitForBlank(std::uint32_t ref, const EraseObserver& observer, MMC_SenseData* sense) {
  EngineStatus status = kNoErr;
  for (int waited = 0; waited <= kBlankWaitSeconds; ++waited) {
    MMC_SenseData s{};
    status = MMC_TestUnitReady(ref, &s);
    if (sense) *sense = s;
    if (status == kNoErr) return kNoErr;
    if (status != kErrCheckCondition || !operationInProgress(s)) return status;
    if (const auto done = progressOfOperation(ref)) reportErase(observer, *done, kProgressWhole);
    engineClock().sleepFor(kBlankPollInterval);
  }
  return status;
}

EngineStatus blankDisc(std::uint32_t ref, const EraseRequest& request,
                       const EraseObserver& observer, MMC_SenseData* sense) {
  reportErase(observer, 0, kProgressWhole);
  if (const EngineStatus s = MMC_Blank(ref, request.blankByte, sense); s != kNoErr) return s;
  if (request.blankByte & kBlankImmediate) {
    if (const EngineStatus s = waitForBlank(ref, observer, sense); s != kNoErr) return s;
  }
  reportErase(observer, kProgressWhole, kProgressWhole);
  return kNoErr;
}

// READ CAPACITY (MMC-5 6.23): the last addressable block plus one.
EngineStatus readCapacityBlocks(std::uint32_t ref, std::uint32_t* blocks, MMC_SenseData* sense) {
  std::array<std::uint8_t, 12> cdb{0x25};
  std::array<std::uint8_t, 8> reply{};
  const EngineStatus s =
      DC_ExecuteMMCCmd_Sync(ref, cdb.data(), static_cast<std::uint8_t>(cdb.size()), reply.data(),
                            reply.size(), kDC_DataIn, 0, sense);
  if (s != kNoErr) return s;
  const std::uint32_t last = be::get32(reply, 0);
  *blocks = last == 0xFFFFFFFFu ? last : last + 1;
  return kNoErr;
}

EngineStatus overwriteDisc(std::uint32_t ref, std::uint16_t profile, const EraseRequest& request,
                           const EraseObserver& observer, MMC_SenseData* sense) {
  // A DVD+RW fresh from the factory takes no data until it has its basic format.
  if (profileOf(profile).plus) {
    if (const EngineStatus s = formatDvdPlusRw(ref, false); s != kNoErr) return s;
  }
  std::uint32_t capacity = 0;
  if (const EngineStatus s = readCapacityBlocks(ref, &capacity, sense); s != kNoErr) return s;
  const std::uint32_t total =
      request.overwriteBlocks == 0 ? capacity : std::min(request.overwriteBlocks, capacity);
  const std::vector<std::uint8_t> zeros(std::size_t{kOverwriteChunkBlocks} * kEraseBlockBytes, 0);
  reportErase(observer, 0, total);
  for (std::uint32_t done = 0; done < total;) {
    if (stopRequested(observer)) return kErrCancelled;
    const std::uint32_t n = std::min(kOverwriteChunkBlocks, total - done);
    if (const EngineStatus s =
            MMC_WriteSectors(ref, done, zeros.data(), kEraseBlockBytes, n, sense);
        s != kNoErr) {
      return s;
    }
    done += n;
    reportErase(observer, done, total);
  }
  return MMC_SynchronizeCache(ref, sense);
}

}  // namespace

EraseMethod eraseMethodOf(std::uint16_t profile) {
  return profileOf(profile).randomWritable ? EraseMethod::Overwrite : EraseMethod::Blank;
}

EngineStatus eraseDisc(std::uint32_t ref, std::uint16_t profile, const EraseRequest& request,
                       const EraseObserver& observer, MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (eraseMethodOf(profile) == EraseMethod::Overwrite)
    return overwriteDisc(ref, profile, request, observer, sense);
  return blankDisc(ref, request, observer, sense);
}

}  // namespace quillion
