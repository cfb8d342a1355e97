// SPDX-License-Identifier: GPL-2.0-or-later
// The drive queries that callers try before the raw MMC command. On Linux they travel the same
// transport as every command, over a shared path, and keep their rule of answering -1 while
// DC_LockDevice holds the drive, so that the caller's raw command uses the held access.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "device/cdb.h"
#include "device/command_runner.h"
#include "device/device_registry.h"
#include "device/disk_arbitration.h"
#include "device/medium_probe.h"
#include "device/medium_profile.h"
#include "device/sense_table.h"
#include "quillion/DC.h"
#include "quillion/clock.h"

using namespace quillion;

namespace {

// Interface versions below this one lack GET PERFORMANCE and READ FORMAT CAPACITIES.
constexpr double kFirstVersionWithCapacities = 664;
constexpr std::uint32_t kQueryTimeoutMs = timeoutMs(CommandKind::Ordinary);
constexpr int kMediumReadAttempts = 10;

enum class WhenLocked { Refuse, UseHeldAccess };

EngineStatus platformQuery(std::uint32_t ref, const cdb::Block& block, void* buffer,
                           std::uint32_t length, MMC_SenseData* sense, WhenLocked whenLocked,
                           bool needsBuffer = true) {
  if (sense) *sense = {};
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  if (needsBuffer && (!buffer || length == 0)) return kErrBadArgument;
  const CommandSpec spec{block, buffer, length, kDC_DataIn, kQueryTimeoutMs};
  return runQuery(*entry, spec, sense, whenLocked == WhenLocked::Refuse);
}

std::uint16_t allocation(std::uint32_t length) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(length, 0xFFFF));
}

bool mediumPresent(DriveEntry& entry) {
  const auto block = cdb::testUnitReady();
  MMC_SenseData sense{};
  const CommandSpec spec{block, nullptr, 0, kDC_NoData, kQueryTimeoutMs};
  const EngineStatus status = runQuery(entry, spec, &sense, false);
  return status == kNoErr ||
         (status == kErrCheckCondition && classifySense(sense) != SenseClass::NoMedium);
}

// READ TOC format 2 (the full TOC), as the whole reply; empty when the drive has none.
std::vector<std::uint8_t> readFullToc(DriveEntry& entry) {
  std::vector<std::uint8_t> reply(4);
  for (int pass = 0; pass < 2; ++pass) {
    // MSF addresses, as the full TOC is kept everywhere else; drives honour the bit for
    // format 2 too, and LBA values read as MSF would be nonsense.
    const auto block = cdb::readToc(2, 1, true, allocation(reply.size()));
    const CommandSpec spec{block, reply.data(), static_cast<std::uint32_t>(reply.size()),
                           kDC_DataIn, kQueryTimeoutMs};
    if (runQuery(entry, spec, nullptr, false) != kNoErr) return {};
    const std::size_t full = 2u + be::get16(reply, 0);
    if (full <= reply.size()) {
      reply.resize(full);
      return reply;
    }
    reply.assign(std::min<std::size_t>(full, 0xFFFF), 0);
  }
  return reply;
}

MediumProbe probeBackend(DriveBackend& backend, std::uint64_t mediumBlocks) {
  const MediumReader read = [&backend](std::uint64_t offset, std::span<std::uint8_t> out) {
    return backend.readMedium(offset, out.data(), out.size()) == kNoErr;
  };
  // The device node may still be settling after a medium change: a few attempts, 1 s apart.
  std::vector<std::uint8_t> probe(1);
  for (int attempt = 1; attempt <= kMediumReadAttempts; ++attempt) {
    if (read(0, probe)) return probeMedium(read, mediumBlocks);
    if (attempt < kMediumReadAttempts) engineClock().sleepFor(std::chrono::seconds(1));
  }
  return {};
}

int mediumRequest(std::uint32_t ref, int (*request)(const std::string&)) {
  auto entry = findDrive(ref);
  if (!entry) return 0;
  const std::string name = mediumName(*entry);
  if (name.empty()) return 0;
  return request(name) == kDiskArbOk ? 1 : 0;
}

}  // namespace

bool DC_MacX_IsPureReader(std::uint32_t ref) {
  if (ref == kImageWriterHandle) return false;
  auto entry = findDrive(ref);
  return !entry || (entry->device.RWCapability & 1) != 0;
}

EngineStatus DC_MacX_TestUnitReady(std::uint32_t ref, MMC_SenseData* sense) {
  return platformQuery(ref, cdb::testUnitReady(), nullptr, 0, sense, WhenLocked::Refuse, false);
}

EngineStatus DC_MacX_ModeSense10(std::uint32_t ref, std::uint8_t pageCode, std::uint8_t pageControl,
                                 std::uint32_t length, void* buffer, MMC_SenseData* sense) {
  return platformQuery(ref, cdb::modeSense10(pageCode, pageControl, allocation(length)), buffer,
                       length, sense, WhenLocked::Refuse);
}

EngineStatus DC_MacX_GetConfiguration(std::uint32_t ref, std::uint8_t requestType,
                                      std::uint16_t startingFeature, void* buffer,
                                      std::uint32_t length, MMC_SenseData* sense) {
  return platformQuery(ref, cdb::getConfiguration(requestType, startingFeature, allocation(length)),
                       buffer, length, sense, WhenLocked::UseHeldAccess);
}

EngineStatus DC_MacX_ReadTrackInfo(std::uint32_t ref, std::uint8_t addressType,
                                   std::uint32_t lbaOrTrack, void* buffer, std::uint32_t length,
                                   MMC_SenseData* sense) {
  return platformQuery(ref, cdb::readTrackInfo(addressType, lbaOrTrack, allocation(length)), buffer,
                       length, sense, WhenLocked::Refuse);
}

EngineStatus DC_MacX_ReadDiscInfo(std::uint32_t ref, void* buffer, std::uint32_t length,
                                  MMC_SenseData* sense) {
  return platformQuery(ref, cdb::readDiscInfo(allocation(length)), buffer, length, sense,
                       WhenLocked::Refuse);
}

EngineStatus DC_MacX_ReadTOC(std::uint32_t ref, bool msf, std::uint8_t format,
                             std::uint8_t trackOrSession, void* buffer, std::uint32_t length,
                             MMC_SenseData* sense) {
  return platformQuery(ref, cdb::readToc(format, trackOrSession, msf, allocation(length)), buffer,
                       length, sense, WhenLocked::Refuse);
}

EngineStatus DC_MacX_ReadDVDStructre(std::uint32_t ref, void* buffer, std::uint32_t length,
                                     std::uint32_t address, std::uint8_t layer, std::uint8_t format,
                                     MMC_SenseData* sense) {
  return platformQuery(ref, cdb::readDvdStructure(address, layer, format, allocation(length), 0, 0),
                       buffer, length, sense, WhenLocked::UseHeldAccess);
}

EngineStatus DC_MacX_GetPerformance(std::uint32_t ref, std::uint8_t dataType,
                                    std::uint32_t startLBA, std::uint16_t maxDescriptors,
                                    std::uint8_t type, void* buffer, std::uint32_t length,
                                    MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!findCommandDrive(ref)) return kErrNoDrive;
  if (appKitVersion() < kFirstVersionWithCapacities) return kErrPlatformCannotServe;
  return platformQuery(ref, cdb::getPerformance(dataType, startLBA, maxDescriptors, type), buffer,
                       length, sense, WhenLocked::UseHeldAccess);
}

EngineStatus DC_MacX_ReadFormatCapabilities(std::uint32_t ref, void* buffer, std::uint32_t length,
                                            MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!findCommandDrive(ref)) return kErrNoDrive;
  if (appKitVersion() < kFirstVersionWithCapacities) return kErrPlatformCannotServe;
  return platformQuery(ref, cdb::readFormatCapacities(allocation(length)), buffer, length, sense,
                       WhenLocked::UseHeldAccess);
}

EngineStatus DC_MacX_GetTrayState(std::uint32_t ref, std::uint8_t* state) {
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  if (!state) return kErrBadArgument;
  if (isLocked(*entry)) return kErrPlatformCannotServe;
  TrayState tray = TrayState::Unknown;
  const EngineStatus status = entry->backend->trayState(tray);
  if (status == kNoErr) *state = tray == TrayState::Open ? 1 : 0;
  return status;
}

EngineStatus DC_MacX_SetTrayState(std::uint32_t ref, std::uint8_t state) {
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  if (isLocked(*entry)) return kErrPlatformCannotServe;
  return entry->backend->setTray(state == 1) == kNoErr ? kNoErr : kErrTransport;
}

// Reads the default write parameters page and writes it back unchanged.
EngineStatus DC_MacX_TestDONTUSE(std::uint32_t ref, MMC_SenseData* sense) {
  std::array<std::uint8_t, 128> page{};
  EngineStatus status = platformQuery(ref, cdb::modeSense10(0x05, 2, page.size()), page.data(),
                                      page.size(), sense, WhenLocked::UseHeldAccess);
  if (status != kNoErr) return status;
  auto entry = findCommandDrive(ref);
  if (!entry) return kErrNoDrive;
  const std::uint32_t length = std::min<std::uint32_t>(2u + be::get16(page, 0), page.size());
  be::put16(page, 0, 0);  // the mode data length is reserved in MODE SELECT (SPC-3 7.4.3)
  const auto block = cdb::modeSelect10(static_cast<std::uint16_t>(length));
  return runCommand(*entry, {block, page.data(), length, kDC_DataOut, kQueryTimeoutMs}, sense);
}

EngineStatus DC_MacX_GetTOCnBSDPath(std::uint32_t ref, std::uint8_t** toc, std::uint32_t* tocLength,
                                    char* path, std::uint32_t pathLength,
                                    bool /*raw: Linux has one node per drive*/,
                                    std::uint32_t* blocks) {
  if (toc) *toc = nullptr;
  if (tocLength) *tocLength = 0;
  if (path && pathLength) path[0] = '\0';
  auto entry = findDrive(ref);
  if (!entry) return kErrNoDrive;
  if (!mediumPresent(*entry)) return kNoErr;
  const std::string& node = entry->backend->identity().devNode;
  if (path && pathLength > 11 && node.size() < pathLength)
    std::memcpy(path, node.c_str(), node.size() + 1);

  const std::uint16_t code = currentProfile(ref);
  const MediumProfile& profile = profileOf(code);
  if (toc && tocLength && (profile.family == MediumFamily::Cd || code == kNoProfile)) {
    const auto full = readFullToc(*entry);
    if (!full.empty()) {
      auto* copy = static_cast<std::uint8_t*>(std::malloc(full.size()));
      if (!copy) return kErrOutOfMemory;
      std::memcpy(copy, full.data(), full.size());
      *toc = copy;
      *tocLength = static_cast<std::uint32_t>(full.size());
      return kNoErr;
    }
  }
  if (blocks && profile.dvdOrBd()) {
    std::uint64_t bytes = 0;
    if (entry->backend->mediumBytes(bytes) == kNoErr && bytes >= 2048) {
      const std::uint64_t size = bytes / 2048;
      *blocks = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(probeBackend(*entry->backend, size).blocks, 0xFFFFFFFFu));
    }
  }
  return kNoErr;
}

EngineStatus quillion::measureDriveMedium(std::uint32_t ref, std::uint64_t& mediumBlocks,
                                          MediumProbe& probe) {
  mediumBlocks = 0;
  probe = {};
  auto entry = findDrive(ref);
  if (!entry) return kErrNoDrive;
  std::uint64_t bytes = 0;
  if (entry->backend->mediumBytes(bytes) != kNoErr || bytes < 2048) return kNoErr;
  mediumBlocks = bytes / 2048;
  probe = probeBackend(*entry->backend, mediumBlocks);
  return kNoErr;
}

int DC_MacX_UnmountMedia(std::uint32_t ref) {
  return mediumRequest(ref, [](const std::string& name) {
    return CNDiskArbUnmountRequest_async_auto(name.c_str(), kUnmountForce | 1);
  });
}

int DC_MacX_MountMedia(std::uint32_t ref) {
  return mediumRequest(
      ref, [](const std::string& name) { return CNDiskArbRequestMount_auto(name.c_str()); });
}

int DC_MacX_UnmountAndEject(std::uint32_t ref) {
  return mediumRequest(ref, [](const std::string& name) {
    return CNDiskArbUnmountAndEjectRequest_async_auto(name.c_str(),
                                                      kUnmountForce | kUnmountForEject);
  });
}
