// SPDX-License-Identifier: GPL-2.0-or-later
// The drive side of the device queries: the list, tray, lock, eject, reservation, the TOC and
// device path, and reading blocks.
#include <cstring>
#include <string_view>

#include "common/byte_order.h"
#include "common/handle_table.h"
#include "device/cdb.h"
#include "device/command_timeouts.h"
#include "device/device_registry.h"
#include "device/disc_replies.h"
#include "device/gdt_support.h"
#include "device/medium_profile.h"
#include "device/sense_table.h"
#include "quillion/GDT.h"

using namespace quillion;

namespace {

constexpr std::uint32_t kReadTimeoutMs = timeoutMs(CommandKind::Ordinary);
constexpr std::uint32_t kUserDataBytes = 2048;

// A pure reader has no command path: the queries that need one do nothing for it.
bool commandless(std::uint32_t ref) {
  return DC_MacX_IsPureReader(ref);
}

// A read that meets a unit attention for a new medium or a reset is sent once more, after the
// capacity and TOC have been read again: the attention reports the change, not a failure.
EngineStatus readBlocks(std::uint32_t ref, const cdb::Block& block, void* buffer,
                        std::uint32_t length, MMC_SenseData* sense) {
  EngineStatus status = kNoErr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    gdt::refreshMediumView(ref);
    MMC_SenseData local{};
    status = DC_ExecuteMMCCmd_Sync(ref, block.data(), static_cast<std::uint8_t>(block.size()),
                                   buffer, length, kDC_DataIn, kReadTimeoutMs, &local);
    if (sense) *sense = local;
    if (!(status == kErrCheckCondition && classifySense(local) == SenseClass::MediumChanged)) break;
  }
  return status;
}

// GET EVENT STATUS NOTIFICATION, media class: the tray as the drive reports it, for when the
// platform cannot be asked (the drive is held).
EngineStatus trayFromEvents(std::uint32_t ref) {
  std::array<std::uint8_t, 8> reply{};
  MMC_SenseData sense{};
  const auto block = cdb::getEventStatus(0x10, reply.size());
  const EngineStatus status =
      DC_ExecuteMMCCmd_Sync(ref, block.data(), static_cast<std::uint8_t>(block.size()),
                            reply.data(), reply.size(), kDC_DataIn, kReadTimeoutMs, &sense);
  if (status != kNoErr) return status;
  const auto media = parseMediaEvent(reply);
  if (!media) return kErrNotSupported;
  return media->trayOpen ? 1 : 0;
}

// The platform's own lock first, which lasts beyond the descriptor it was set on; the raw
// command when the platform has none or refuses (its sense then says why).
EngineStatus setRemoval(std::uint32_t ref, bool prevent, MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (commandless(ref)) return kNoErr;
  if (auto entry = findCommandDrive(ref);
      entry && entry->backend->preventRemoval(prevent) == kNoErr)
    return kNoErr;
  return MMC_LockDrive(ref, prevent, sense);
}

}  // namespace

std::uint8_t GDT_DiscKindOfProfile(std::uint16_t profile) {
  return profileOf(profile).discKind;
}

std::uint16_t GDT_GetConnectedDeviceList(DC_Device** list) {
  return DC_GetConnectedDeviceList(list);
}

EngineStatus GDT_GetDeviceInfo(std::uint32_t /*ref*/, GDT_DeviceInfo* /*info*/) {
  return kNoErr;
}

bool GDT_IsPureReader(std::uint32_t ref) {
  return DC_MacX_IsPureReader(ref);
}

bool GDT_isSONYWriteContinueDrive(std::uint32_t ref) {
  return MMC_isSONYWriteContinueDrive(ref);
}

EngineStatus GDT_GetMMCDiscInfo(std::uint32_t ref, void* buffer, std::uint32_t length,
                                MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (commandless(ref)) return kNoErr;
  if (!buffer || length == 0) return kErrBadArgument;
  return gdt::readDiscInformation(ref, std::span(static_cast<std::uint8_t*>(buffer), length),
                                  sense);
}

EngineStatus GDT_TrayStatus(std::uint32_t ref) {
  if (commandless(ref)) return 0;
  std::uint8_t state = 0;
  const EngineStatus status = DC_MacX_GetTrayState(ref, &state);
  if (status == kNoErr) return state;
  // Held by DC_LockDevice: ask the drive itself through the held access.
  return status == kErrPlatformCannotServe ? trayFromEvents(ref) : status;
}

EngineStatus GDT_Load(std::uint32_t ref, MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (commandless(ref)) return kNoErr;
  if (DC_MacX_SetTrayState(ref, 0) == kNoErr) return kNoErr;
  return MMC_Load(ref, true, sense);
}

EngineStatus GDT_Lock(std::uint32_t ref, MMC_SenseData* sense) {
  return setRemoval(ref, true, sense);
}

EngineStatus GDT_Unlock(std::uint32_t ref, MMC_SenseData* sense) {
  return setRemoval(ref, false, sense);
}

EngineStatus GDT_Eject(std::uint32_t ref, MMC_SenseData* sense, bool immediate) {
  if (sense) *sense = {};
  if (ref == kImageWriterHandle || commandless(ref)) return kNoErr;
  // Held for the eject so that nobody mounts the medium between the three commands; the
  // commands run (and report) even when the hold cannot be had.
  (void)DC_LockDevice(ref, true);
  MMC_SenseData allowSense{};
  (void)setRemoval(ref, false, &allowSense);
  const EngineStatus status = MMC_Eject(ref, immediate, sense);
  (void)DC_LockDevice(ref, false);  // a hold that was never had has nothing to give back
  DC_NotifyDiscChanged(ref, true);
  return status;
}

EngineStatus GDT_ReserveDrive(std::uint32_t ref, bool on) {
  if (commandless(ref)) return kNoErr;
  return DC_LockDevice(ref, on);
}

EngineStatus GDT_GetTOC(std::uint32_t ref, std::uint8_t** toc, std::uint32_t* tocLength) {
  if (!gdt::namesDrive(ref)) return kErrPlatformCannotServe;
  gdt::refreshMediumView(ref);
  return DC_MacX_GetTOCnBSDPath(ref, toc, tocLength, nullptr, 0, false, nullptr);
}

EngineStatus GDT_GetBSDPath(std::uint32_t ref, char* buffer, std::uint32_t length,
                            bool keepPrefix) {
  constexpr std::uint32_t kShortest = 12;
  if (!gdt::namesDrive(ref) || !buffer || length < kShortest) return kErrPlatformCannotServe;
  const EngineStatus status =
      DC_MacX_GetTOCnBSDPath(ref, nullptr, nullptr, buffer, length, true, nullptr);
  // Linux names are short ("/dev/sr0"): the prefix goes whenever a name follows it.
  constexpr std::string_view kDev = "/dev/";
  const std::size_t n = std::strlen(buffer);
  if (!keepPrefix && n > kDev.size() && std::string_view(buffer, kDev.size()) == kDev) {
    std::memmove(buffer, buffer + kDev.size(), n - kDev.size() + 1);
  }
  return status;
}

EngineStatus GDT_GetSimepleTrackInfo(std::uint32_t ref, std::uint16_t track,
                                     std::uint16_t* readFlags, std::uint32_t* blockSize,
                                     std::uint32_t* start, std::uint32_t* length,
                                     MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!readFlags || !blockSize || !start || !length || track > 0xFF) return kErrBadArgument;
  (void)gdt::waitDeviceReady(ref, kReadyTriesForQuery, true);
  // 36 bytes, so that the high bytes of the track and session numbers come too.
  std::array<std::uint8_t, 36> reply{};
  const EngineStatus status =
      gdt::readTrackInformation(ref, static_cast<std::uint8_t>(track), reply, sense);
  if (status != kNoErr) return status;
  const auto info = parseTrackInformation(reply);
  if (!info) return kErrNotSupported;
  // READ CD: expected sector type in the high byte, the fields in the low byte (MMC-5 6.19).
  if (!info->data) {
    *blockSize = 2352;
    *readFlags = 0x0410;
  } else if (info->dataMode == 1) {
    *blockSize = 2048;
    *readFlags = 0x0810;
  } else if (info->dataMode == 2 || info->dataMode == 15) {
    *blockSize = 2336;
    *readFlags = 0x0058;
  } else {
    *blockSize = 0;
    *readFlags = 0;
  }
  *start = info->start;
  *length = info->size;
  MMC_SenseData startSense{};
  // Spins the disc up for the reads to come; a drive that refuses still answers them.
  (void)MMC_StartUnit(ref, true, &startSense);
  (void)gdt::waitDeviceReady(ref, kReadyTriesForQuery, true);
  return kNoErr;
}

EngineStatus GDT_GetTrackUserData(std::uint32_t ref, std::uint16_t readFlags, std::uint32_t start,
                                  std::uint32_t blocks, void* buffer, std::uint32_t length,
                                  MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!buffer || blocks == 0 || length == 0 || blocks > 0xFFFFFF) return kErrBadArgument;
  const auto block = cdb::readCd(static_cast<std::uint8_t>(readFlags >> 8), start, blocks,
                                 static_cast<std::uint8_t>(readFlags & 0xFF));
  return readBlocks(ref, block, buffer, length, sense);
}

EngineStatus GDT_Get2048DataBlocks(std::uint32_t ref, void* buffer, std::uint32_t start,
                                   std::uint32_t blocks, bool useRead12, MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!buffer || blocks == 0 || blocks > 0xFFFFFFFFu / kUserDataBytes ||
      (!useRead12 && blocks > 0xFFFFFF)) {
    return kErrBadArgument;
  }
  const auto block = useRead12 ? cdb::read12(start, blocks) : cdb::readCd(0, start, blocks, 0x10);
  return readBlocks(ref, block, buffer, blocks * kUserDataBytes, sense);
}
