// SPDX-License-Identifier: GPL-2.0-or-later
// The MMC utilities: waits, format-capacity search, speed setting and the vendor
// WRITE CONTINUE identification.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/byte_order.h"
#include "device/command_runner.h"
#include "device/device_registry.h"
#include "device/medium_profile.h"
#include "device/sense_table.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"

using namespace quillion;

namespace {

void sleepSeconds(int seconds) {
  engineClock().sleepFor(std::chrono::seconds(seconds));
}

bool isRealDrive(std::uint32_t ref) {
  return !isReservedHandle(ref);
}

// ---- READ FORMAT CAPACITIES (MMC-5 6.24.3) ----

constexpr std::uint8_t kNoMediumDescriptor = 3;

using CapacityRead = EngineStatus (*)(std::uint32_t ref, std::uint8_t* buffer,
                                      std::uint32_t length);

EngineStatus readThroughInterface(std::uint32_t ref, std::uint8_t* buffer, std::uint32_t length) {
  MMC_SenseData sense{};
  const EngineStatus status = DC_MacX_ReadFormatCapabilities(ref, buffer, length, &sense);
  return status == kNoErr ? status : MMC_ReadFormatCapacities(ref, buffer, length, &sense);
}

EngineStatus readRaw(std::uint32_t ref, std::uint8_t* buffer, std::uint32_t length) {
  MMC_SenseData sense{};
  return MMC_ReadFormatCapacities(ref, buffer, length, &sense);
}

// The header and current descriptor first, then the whole list when a medium is there.
EngineStatus readCapacityList(std::uint32_t ref, CapacityRead read,
                              std::vector<std::uint8_t>& list) {
  list.assign(12, 0);
  if (const EngineStatus status = read(ref, list.data(), 12); status != kNoErr) return status;
  if ((list[8] & 0x03) == kNoMediumDescriptor) return kNoErr;
  const std::uint32_t full = 4u + list[3];
  list.assign(full, 0);
  return read(ref, list.data(), full);
}

EngineStatus pickDescriptor(const std::vector<std::uint8_t>& list, std::uint8_t formatType,
                            std::uint32_t* out) {
  if (list.size() < 12 || (list[8] & 0x03) == kNoMediumDescriptor) return kErrUtilNoOutput;
  if (formatType == 255) {
    out[0] = be::get32(list, 4);
    out[1] = be::get32(list, 8);
    return kNoErr;
  }
  const std::size_t end = std::min<std::size_t>(list.size(), 4u + list[3]);
  std::size_t at = 12;
  for (; at + 8 <= end; at += 8) {
    if ((list[at + 4] >> 2) == formatType) {
      out[0] = be::get32(list, at);
      out[1] = be::get32(list, at + 4);
      return kNoErr;
    }
  }
  if (at > 12) {  // the last descriptor looked at, as a hint of what the medium offers
    out[0] = be::get32(list, at - 8);
    out[1] = be::get32(list, at - 4);
  }
  return kErrUtilNoOutput;
}

// ---- Speeds (MMC-5 6.8.9: GET PERFORMANCE type 03h, write speed descriptors) ----

constexpr std::uint32_t kCdKBpsPerX = 177;
constexpr std::uint32_t kDvdSizePerX = 1385;
constexpr std::uint32_t kDvdDivisor = 1352;
constexpr std::uint32_t kDvdPlus2xSize = 3324;
constexpr std::uint32_t kDefaultEndLba = 2'000'000;
constexpr std::uint16_t kMaxSpeed = 0xFFFF;

struct SpeedDescriptor {
  std::uint8_t wrc = 0;
  std::uint32_t endLba = 0;
  std::uint32_t readKBps = 0;
  std::uint32_t writeKBps = 0;
};

std::vector<SpeedDescriptor> parseSpeedDescriptors(std::span<const std::uint8_t> reply) {
  std::vector<SpeedDescriptor> out;
  const std::size_t end = std::min<std::size_t>(reply.size(), 4u + be::get32(reply, 0));
  for (std::size_t at = 8; at + 16 <= end; at += 16) {
    out.push_back({static_cast<std::uint8_t>(reply[at] & 0x18), be::get32(reply, at + 4),
                   be::get32(reply, at + 8), be::get32(reply, at + 12)});
  }
  return out;
}

const SpeedDescriptor* choose(const std::vector<SpeedDescriptor>& all, std::uint16_t x,
                              std::uint32_t SpeedDescriptor::*speed) {
  const SpeedDescriptor* best = nullptr;
  for (const auto& d : all) {
    if (x == kMaxSpeed ? (!best || d.*speed > best->*speed) : d.*speed / kDvdDivisor == x) {
      best = &d;
      if (x != kMaxSpeed) break;
    }
  }
  return best;
}

std::uint32_t sizeForX(std::uint16_t x, std::uint16_t profile) {
  return x == 2 && profileOf(profile).plus ? kDvdPlus2xSize : std::uint32_t{x} * kDvdSizePerX;
}

std::uint16_t clamp16(std::uint32_t v) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(v, 0xFFFF));
}

EngineStatus setDvdSpeeds(std::uint32_t ref, std::uint16_t profile, std::uint16_t readX,
                          std::uint16_t writeX, std::uint16_t* writeXSet) {
  std::array<std::uint8_t, 328> reply{};
  MMC_SenseData sense{};
  std::vector<SpeedDescriptor> all;
  if (MMC_GetPerformance(ref, reply.data(), reply.size(), 0, 0, 20, 3, &sense) == kNoErr) {
    all = parseSpeedDescriptors(reply);
  }
  std::uint32_t highestX = 0;
  for (const auto& d : all) highestX = std::max(highestX, d.writeKBps / kDvdDivisor);

  const SpeedDescriptor* write = choose(all, writeX, &SpeedDescriptor::writeKBps);
  const SpeedDescriptor* read = choose(all, readX, &SpeedDescriptor::readKBps);
  std::uint8_t wrc = 0;
  std::uint32_t endLba = kDefaultEndLba;
  std::uint32_t writeSize = 0;
  if (write) {
    wrc = write->wrc;
    endLba = write->endLba;
    writeSize = write->writeKBps;
  } else {
    if (highestX) writeX = static_cast<std::uint16_t>(highestX);
    writeSize = sizeForX(writeX, profile);
  }
  std::uint32_t readSize = 0;
  if (read) {
    endLba = read->endLba;
    readSize = read->readKBps;
  } else {
    readSize = sizeForX(readX, profile);
  }
  if (writeXSet) *writeXSet = clamp16(writeSize / kDvdDivisor);
  // Speeds are advice: a drive that takes neither command reads and writes at its own.
  (void)MMC_SetReadWriteSpeed(ref, clamp16(readSize), clamp16(writeSize), &sense);
  (void)MMC_SetReadWriteSpeed_DVD(ref, wrc, 0, endLba, readSize, writeSize, &sense);
  return kNoErr;
}

// ---- Vendor WRITE CONTINUE drives, as data ----

struct ProductPrefix {
  std::string_view vendor;
  std::string_view product;  // compared over its own length
};

constexpr ProductPrefix kWriteContinueDrives[] = {
    {"SONY", "CD-RW  CRX110E"}, {"SONY", "CD-RW  CRX100E"}, {"SONY", "CD-RW  CRX120E"},
    {"SONY", "CD-RW  CRX510E"}, {"SONY", "CD-RW  CRX140E"}, {"SONY", "CD-RW  CRX140S"},
    {"SONY", "CD-RW  CRX500E"}, {"SONY", "CD-RW  CRX145S"}, {"SONY", "CD-RW  CRX145E"},
    {"SONY", "CD-RW  CRX160S"}, {"SONY", "CD-RW  CRX160E"}, {"SONY", "CD-RW  CRX700E"},
    {"SONY", "CD-RW  CRX10U"},  {"SONY", "CD-RW  CRX75L"},  {"SONY", "CD-RW  CRX200E"},
    {"SONY", "CD-RW  CRX168E"}, {"SONY", "CD-RW  CRX175A"},
};

bool startsWith(std::span<const std::uint8_t> data, std::size_t at, std::string_view text) {
  return at + text.size() <= data.size() &&
         std::memcmp(data.data() + at, text.data(), text.size()) == 0;
}

}  // namespace

int MMC_WaitTestUnitReady(std::uint32_t ref, int tries) {
  if (ref == kImageWriterHandle || DC_MacX_IsPureReader(ref)) return 0;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    MMC_SenseData sense{};
    const EngineStatus status = MMC_TestUnitReady(ref, &sense);
    if (status == kNoErr || classifySense(sense) == SenseClass::NoMedium) return 1;
    if (status == kErrNoDrive) return 0;
    if (attempt < tries) sleepSeconds(1);
  }
  return 0;
}

EngineStatus MMC_Util_WaitDiscInfoReady(std::uint32_t ref, int maxSeconds, int stepSeconds) {
  const int step = std::max(stepSeconds, 1);
  EngineStatus status = kErrPlatformCannotServe;
  for (int waited = 0; waited < maxSeconds; waited += step) {
    std::array<std::uint8_t, 64> info{};
    MMC_SenseData sense{};
    status = MMC_GetDiscInfo(ref, info.data(), info.size(), &sense);
    if (status == kNoErr && info[0] == 0 && info[9] == 0) return kNoErr;
    if (status == kErrNoDrive) return status;
    sleepSeconds(step);
  }
  return status;
}

EngineStatus MMC_Util_SearchFormatCapacity(std::uint32_t ref, std::uint8_t formatType,
                                           std::uint32_t* out, bool useInterface) {
  if (!out) return kErrUtilNoOutput;
  std::vector<std::uint8_t> list;
  EngineStatus status = kNoErr;
  if (useInterface) {
    // A query: whatever lock the drive is under stays as it is.
    status = readCapacityList(ref, readThroughInterface, list);
  } else {
    // The caller formats next and wants the drive held; take the lock if nobody has, then read
    // for real through it.
    status = DC_LockDevice(ref, true);
    if (status == kNoErr) status = readCapacityList(ref, readRaw, list);
  }
  if (status != kNoErr) return status;
  return pickDescriptor(list, formatType, out);
}

EngineStatus MMC_Util_SetReadWriteSpeed(std::uint32_t ref, std::uint16_t readX,
                                        std::uint16_t writeX, std::uint16_t* writeXSet) {
  if (ref == kNoHandle) return kErrUtilNoOutput;
  const std::optional<std::uint16_t> profile = readCurrentProfile(ref);
  if (!profile) return kErrUtilNoOutput;
  if (!profileOf(*profile).dvdOrBd()) {
    MMC_SenseData sense{};
    const auto kbps = [](std::uint16_t x) {
      return x == kMaxSpeed ? kMaxSpeed : clamp16(x * kCdKBpsPerX);
    };
    // Speeds are advice: a drive may keep its own.
    (void)MMC_SetReadWriteSpeed(ref, kbps(readX), kbps(writeX), &sense);
    return kNoErr;
  }
  return setDvdSpeeds(ref, *profile, readX, writeX, writeXSet);
}

bool MMC_isSONYWriteContinueDrive(std::uint32_t ref) {
  if (!isRealDrive(ref) || DC_MacX_IsPureReader(ref)) return false;
  std::array<std::uint8_t, 96> inquiry{};
  MMC_SenseData sense{};
  if (MMC_Inquiry(ref, inquiry.data(), inquiry.size(), &sense) != kNoErr) return false;
  return std::any_of(std::begin(kWriteContinueDrives), std::end(kWriteContinueDrives),
                     [&](const ProductPrefix& p) {
                       return startsWith(inquiry, 8, p.vendor) &&
                              startsWith(inquiry, 16, p.product);
                     });
}
