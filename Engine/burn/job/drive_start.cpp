// SPDX-License-Identifier: GPL-2.0-or-later
// The disc and track information a preparation reads from its first destination.
#include "burn/job/drive_start.h"

#include <array>
#include <chrono>

#include "burn/job/burn_job.h"
#include "burn/run/drive_steps.h"
#include "common/byte_order.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"

namespace quillion::burn {
// Named rather than anonymous: the engine is built in unity batches.
namespace drive_start_detail {

using namespace std::chrono_literals;

constexpr std::uint8_t kInvisibleTrack = 0xFF;
constexpr int kAddressTries = 180;  // once a second
using namespace profiles;

std::uint16_t firstProfile(const BurnJob& job) {
  return job.writerRecords[0].mediaProfile;
}

// MMC-5 6.22.3: disc status in bits 1-0 of byte 2, first track number in byte 3, the last
// session's last track in bytes 6 (LSB) and 11 (MSB).
struct DiscInfo {
  std::uint8_t status = 0;
  std::uint16_t firstTrack = 0;
  std::uint16_t lastTrack = 0;
};

EngineStatus readDiscInfo(std::uint32_t ref, DiscInfo& out) {
  std::array<std::uint8_t, 34> info{};
  if (const EngineStatus s = MMC_GetDiscInfo(ref, info.data(), info.size(), nullptr); s != kNoErr)
    return s;
  out.status = info[2] & 0x03;
  out.firstTrack = info[3];
  out.lastTrack = static_cast<std::uint16_t>(info[11] << 8 | info[6]);
  return kNoErr;
}

// The track whose answer holds the next writable address.
EngineStatus trackToAsk(const BurnJob& job, AddressQuery query, std::uint8_t& track) {
  track = kInvisibleTrack;
  if (query == AddressQuery::AsCd) return kNoErr;
  switch (firstProfile(job)) {
    case kRestrictedOverwrite:
    case kSequentialRw:
    case kDvdPlusRw:
    case kDvdRam:
      track = 1;
      return kNoErr;
    case 0x11:
    case 0x15:
    case 0x1B:
    case 0x2B: {
      // The disc information counts the incomplete track among the last session's tracks.
      DiscInfo info;
      if (const EngineStatus s = readDiscInfo(job.firstDestination(), info); s != kNoErr) return s;
      track = static_cast<std::uint8_t>(info.lastTrack);
      return kNoErr;
    }
    default:
      return kNoErr;
  }
}

// MMC-5 6.27.3: the data length (bytes 0-1) tells which fields the drive filled in; bit 5 of
// byte 5 marks a damaged track.
bool usableTrackInfo(const std::array<std::uint8_t, 32>& info) {
  const std::uint16_t length = be::get16(info, 0);
  const bool knownLength = length == 26 || length == 34 || length == 38 || length == 46;
  return knownLength && (info[5] & 0x20) == 0;
}

// One attempt; kErrNoWritableAddress for an answer without a usable address.
EngineStatus askAddress(const BurnJob& job, AddressQuery query, std::uint32_t& address) {
  std::uint8_t track = 0;
  if (const EngineStatus s = trackToAsk(job, query, track); s != kNoErr) return s;
  std::array<std::uint8_t, 32> info{};
  if (const EngineStatus s =
          MMC_GetTrackInfo(job.firstDestination(), track, info.data(), info.size(), nullptr);
      s != kNoErr) {
    return s;
  }
  if (!usableTrackInfo(info)) return kErrNoWritableAddress;
  // The invisible track begins where it takes data; other tracks name their next address,
  // valid only with NWA_V (byte 7 bit 0).
  if (track == kInvisibleTrack) {
    address = be::get32(info, 8);
    return kNoErr;
  }
  if ((info[7] & 0x01) == 0) return kErrNoWritableAddress;
  address = be::get32(info, 12);
  return kNoErr;
}

}  // namespace drive_start_detail

using namespace drive_start_detail;

std::uint16_t firstTrackNumber(const BurnJob& job) {
  const std::uint32_t ref = job.firstDestination();
  DiscInfo info;
  if (!isDriveDestination(ref) || readDiscInfo(ref, info) != kNoErr) return 0;
  switch (info.status) {
    case 0:
      return info.firstTrack;
    case 1:
      return info.lastTrack;
    default:
      return static_cast<std::uint16_t>(info.lastTrack + 1);
  }
}

EngineStatus nextWritableAddress(const BurnJob& job, AddressQuery query, std::uint32_t& address) {
  EngineStatus last = kErrNoWritableAddress;
  for (int attempt = 0; attempt < kAddressTries; ++attempt) {
    if (attempt > 0) (void)engineClock().sleepFor(1s);
    last = askAddress(job, query, address);
    // A drive that is gone does not come back by waiting.
    if (last == kNoErr || last == kErrNoDrive) return last;
  }
  return last;
}

EngineStatus dataSessionStart(const BurnJob& job, std::uint32_t& start) {
  start = 0;
  if (!isDriveDestination(job.firstDestination())) return kNoErr;
  const std::uint16_t profile = firstProfile(job);
  if (profile == kDvdPlusRw || profile == kDvdRam || profile == kBdRe) {
    start = job.options.dvdPlusRWUsedBlocks;
    return kNoErr;
  }
  if (profile == kRestrictedOverwrite) {
    // A disc in restricted overwrite is one track; what it holds is its recorded size.
    std::array<std::uint8_t, 32> info{};
    if (const EngineStatus s =
            MMC_GetTrackInfo(job.firstDestination(), 1, info.data(), info.size(), nullptr);
        s != kNoErr) {
      return s;
    }
    if (!usableTrackInfo(info)) return kErrNoWritableAddress;
    start = be::get32(info, 24);
    return kNoErr;
  }
  return nextWritableAddress(job, AddressQuery::ByMedium, start);
}

}  // namespace quillion::burn
