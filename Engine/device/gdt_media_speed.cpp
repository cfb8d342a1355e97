// SPDX-License-Identifier: GPL-2.0-or-later
// The speeds the loaded medium may be written at, in x of its own family: for CD media from
// the disc's ATIP (its A1 values, or its sub-type) joined with the drive's write speed
// descriptors of the capabilities page (MMC-5 7.8); for DVD and BD media from the drive's
// write speed descriptors (GET PERFORMANCE type 03h, MMC-5 6.8.5).
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "common/byte_order.h"
#include "device/command_timeouts.h"
#include "device/gdt_support.h"
#include "device/medium_profile.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"

using namespace quillion;

namespace {

constexpr std::uint32_t kMediaSpeedCdKBpsPerX = 176;
constexpr std::uint32_t kMediaSpeedDvdKBpsPerX = 1352;
constexpr std::uint32_t kMediaSpeedBdKBpsPerX = 4496;
constexpr std::uint16_t kMaxPerformanceDescriptors = 20;
constexpr std::uint32_t kPerformanceBytes = 8 + 16 * kMaxPerformanceDescriptors;
constexpr std::uint32_t kLargestCdSpeed = 64;

struct SpeedRange {
  std::uint16_t min = 1;
  std::uint16_t max = 1;
};

// Orange Book speed codes of the ATIP's A1 values (MMC-5 6.26.3.6), first byte: lowest
// recommended speed in bits 6-4, highest in bits 3-0.
std::uint16_t atipLowestSpeed(std::uint8_t a1) {
  const std::uint8_t code = (a1 >> 4) & 0x07;
  if (code == 0x3) return 8;
  if (a1 & 0x40) {
    constexpr std::array<std::uint16_t, 4> high{10, 16, 24, 32};  // codes 100b to 111b
    return high[code - 4];
  }
  if (code == 0x1) return 2;
  if (code == 0x2) return 4;
  return 1;
}

std::uint16_t atipHighestSpeed(std::uint8_t a1) {
  constexpr std::array<std::uint16_t, 8> speeds{1, 2, 4, 8, 10, 16, 24, 32};
  return (a1 & 0x08) ? 1 : speeds[a1 & 0x07];
}

// A CD-RW without A1 values: the speeds its sub-type stands for.
SpeedRange rangeOfSubType(std::uint8_t subType) {
  switch (subType) {
    case 1:
      return {4, 12};  // high speed
    case 2:
      return {16, 24};  // ultra speed
    case 3:
      return {24, 32};  // ultra speed plus
    default:
      return {1, 4};
  }
}

struct Atip {
  bool cdr = false;
  std::uint8_t subType = 0;
  SpeedRange speeds;
};

EngineStatus readAtip(std::uint32_t ref, Atip& out, MMC_SenseData* sense) {
  std::vector<std::uint8_t> reply(32, 0);
  if (EngineStatus s = gdt::readToc(ref, 4, false, 0, reply, sense); s != kNoErr) return s;
  if (reply.size() < 17 || reply[3] != 0) return kErrATIPUnusable;
  out.cdr = (reply[6] & 0x40) == 0;
  out.subType = (reply[6] >> 3) & 0x07;
  if (reply[6] & 0x04) {
    out.speeds = {atipLowestSpeed(reply[16]), atipHighestSpeed(reply[16])};
  } else if (!out.cdr) {
    out.speeds = rangeOfSubType(out.subType);
  }
  return kNoErr;
}

// The write speed descriptors of GET PERFORMANCE in x; empty when the drive gives none.
std::vector<std::uint16_t> performanceSpeeds(std::uint32_t ref, std::uint32_t kbpsPerX) {
  std::vector<std::uint8_t> reply(kPerformanceBytes, 0);
  MMC_SenseData sense{};
  if (MMC_GetPerformance(ref, reply.data(), static_cast<std::uint32_t>(reply.size()), 0, 0,
                         kMaxPerformanceDescriptors, 0x03, &sense) != kNoErr) {
    return {};
  }
  const std::size_t length = std::min<std::size_t>(4u + be::get32(reply, 0), reply.size());
  std::vector<std::uint16_t> speeds;
  for (std::size_t at = 8; at + 16 <= length; at += 16) {
    const std::uint32_t x = be::get32(reply, at + 12) / kbpsPerX;
    if (x > 0) speeds.push_back(static_cast<std::uint16_t>(std::min<std::uint32_t>(x, 0xFFFF)));
  }
  return speeds;
}

struct CapabilitiesPage {
  std::uint16_t driveMax = 0;             // x
  std::optional<SpeedRange> descriptors;  // of the write speed descriptors
};

// The capabilities page after the mode parameter header and its block descriptors.
std::optional<CapabilitiesPage> readCapabilities(std::uint32_t ref) {
  std::array<std::uint8_t, 64> reply{};
  MMC_SenseData sense{};
  if (gdt::modeSense(ref, 0x2A, reply, &sense) != kNoErr) return std::nullopt;
  const std::size_t start = 8 + be::get16(reply, 6);
  if (start + 22 > reply.size()) return std::nullopt;
  const std::uint8_t* page = reply.data() + start;
  const std::size_t available = reply.size() - start;
  if ((page[0] & 0x3F) != 0x2A) return std::nullopt;
  const std::size_t pageLength = page[1];
  const auto word = [page](std::size_t at) {
    return static_cast<std::uint32_t>(page[at] << 8 | page[at + 1]);
  };
  CapabilitiesPage c;
  std::uint32_t kbps = 0;
  if (pageLength > 27 && available >= 30) {
    kbps = word(28);
  } else if (pageLength == 20) {
    kbps = word(18);
  } else {
    kbps = word(20);
  }
  c.driveMax = static_cast<std::uint16_t>(kbps / kMediaSpeedCdKBpsPerX);
  if (pageLength + 2 >= 34 && available >= 32) {
    const std::size_t count = word(30);
    const std::size_t end = std::min({available, pageLength + 2, 32 + 4 * count});
    for (std::size_t at = 32; at + 4 <= end; at += 4) {
      if (page[at] != 0 || page[at + 1] >= 8) continue;
      const std::uint32_t x = word(at + 2) / kMediaSpeedCdKBpsPerX;
      if (x < 1 || x > kLargestCdSpeed) continue;
      const auto speed = static_cast<std::uint16_t>(x);
      if (!c.descriptors) {
        c.descriptors = SpeedRange{speed, speed};
      } else {
        c.descriptors->min = std::min(c.descriptors->min, speed);
        c.descriptors->max = std::max(c.descriptors->max, speed);
      }
    }
  }
  return c;
}

// A CD-RW's speeds kept within what its sub-type can take.
SpeedRange clampToSubType(SpeedRange r, std::uint8_t subType, std::uint16_t driveMax) {
  SpeedRange bounds = rangeOfSubType(subType);
  if (subType == 1 && driveMax == 10) bounds.max = 10;
  if (subType > 3) return r;
  r.min = std::clamp(r.min, bounds.min, bounds.max);
  r.max = std::clamp(r.max, bounds.min, bounds.max);
  if (subType <= 2 && driveMax > 0) r.min = std::min(r.min, driveMax);
  return r;
}

// The recordable disc is written up to the fastest of the drive and its descriptors; the
// rewritable disc only as fast as its ATIP and sub-type allow. Neither goes below what the
// ATIP names as its highest speed once the sub-type has bounded it.
SpeedRange cdSpeeds(const Atip& atip, const CapabilitiesPage& page) {
  SpeedRange r = atip.speeds;
  const std::uint16_t descMax = page.descriptors ? page.descriptors->max : 0;
  if (atip.cdr) {
    r.max = std::max({descMax, page.driveMax, atip.speeds.max});
    if (page.descriptors) r.min = std::min(r.min, page.descriptors->min);
  } else {
    r.max = std::max(descMax, atip.speeds.max);
    r.min = std::min(page.descriptors ? page.descriptors->min : r.min, atip.speeds.min);
    r = clampToSubType(r, atip.subType, page.driveMax);
  }
  r.max = std::max(r.max, r.min);
  return r;
}

}  // namespace

EngineStatus GDT_GetMediaSpeed(std::uint32_t ref, bool* isCDR, std::uint16_t* profile,
                               std::uint16_t* minSpeed, std::uint16_t* maxSpeed,
                               MMC_SenseData* sense) {
  if (!gdt::namesDrive(ref) || !isCDR || !profile || !minSpeed || !maxSpeed) return kErrBadArgument;
  if (DC_MacX_IsPureReader(ref)) return kNoErr;
  if (sense) *sense = {};
  if (EngineStatus s = gdt::waitDeviceReady(ref, kReadyTriesForQuery, false); s != kNoErr) return s;
  const std::uint16_t current = currentProfile(ref);
  const MediumProfile& medium = profileOf(current);
  *profile = current;

  if (medium.dvdOrBd()) {
    *isCDR = false;
    *minSpeed = *maxSpeed = 1;
    const std::uint32_t perX =
        medium.family == MediumFamily::Bd ? kMediaSpeedBdKBpsPerX : kMediaSpeedDvdKBpsPerX;
    const std::vector<std::uint16_t> speeds = performanceSpeeds(ref, perX);
    if (!speeds.empty()) {
      *minSpeed = *std::min_element(speeds.begin(), speeds.end());
      *maxSpeed = *std::max_element(speeds.begin(), speeds.end());
    }
    return kNoErr;
  }

  Atip atip;
  if (EngineStatus s = readAtip(ref, atip, sense); s != kNoErr) return s;
  *isCDR = atip.cdr;
  *minSpeed = atip.speeds.min;
  *maxSpeed = atip.speeds.max;
  const std::optional<CapabilitiesPage> page = readCapabilities(ref);
  if (!page) return kNoErr;  // the ATIP's own account stands
  const SpeedRange r = cdSpeeds(atip, *page);
  *minSpeed = r.min;
  *maxSpeed = r.max;
  return kNoErr;
}
