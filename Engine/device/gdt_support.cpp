// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/gdt_support.h"

#include <array>

#include "common/byte_order.h"
#include "common/handle_table.h"
#include "device/cdb.h"
#include "device/command_timeouts.h"
#include "device/device_registry.h"
#include "device/sense_table.h"
#include "quillion/DC.h"
#include "quillion/clock.h"

namespace quillion::gdt {
namespace {

constexpr std::uint32_t kTimeoutMs = timeoutMs(CommandKind::Ordinary);

std::uint16_t allocation(std::size_t length) {
  return static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF));
}

EngineStatus raw(std::uint32_t ref, const cdb::Block& block, std::span<std::uint8_t> reply,
                 MMC_SenseData* sense) {
  return DC_ExecuteMMCCmd_Sync(ref, block.data(), static_cast<std::uint8_t>(block.size()),
                               reply.data(), static_cast<std::uint32_t>(reply.size()), kDC_DataIn,
                               kTimeoutMs, sense);
}

}  // namespace

bool namesDrive(std::uint32_t ref) {
  return !isReservedHandle(ref);
}

EngineStatus waitDeviceReady(std::uint32_t ref, int tries, bool noMediumIsReady) {
  if (ref == kImageWriterHandle || DC_MacX_IsPureReader(ref)) return kNoErr;
  EngineStatus status = kErrNoDrive;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    MMC_SenseData sense{};
    status = DC_MacX_TestUnitReady(ref, &sense);
    if (status == kErrPlatformCannotServe) status = MMC_TestUnitReady(ref, &sense);
    const bool noMedium =
        status == kErrCheckCondition && classifySense(sense) == SenseClass::NoMedium;
    if (status == kNoErr || (noMediumIsReady && noMedium)) return kNoErr;
    if (status == kErrNoDrive) return status;
    if (attempt < tries) engineClock().sleepFor(std::chrono::seconds(1));
  }
  return status;
}

EngineStatus readDiscInformation(std::uint32_t ref, std::span<std::uint8_t> reply,
                                 MMC_SenseData* sense) {
  const auto length = static_cast<std::uint32_t>(reply.size());
  const EngineStatus status = DC_MacX_ReadDiscInfo(ref, reply.data(), length, sense);
  return status == kErrPlatformCannotServe ? MMC_GetDiscInfo(ref, reply.data(), length, sense)
                                           : status;
}

EngineStatus readTrackInformation(std::uint32_t ref, std::uint8_t track,
                                  std::span<std::uint8_t> reply, MMC_SenseData* sense) {
  const auto length = static_cast<std::uint32_t>(reply.size());
  const EngineStatus status = DC_MacX_ReadTrackInfo(ref, 1, track, reply.data(), length, sense);
  return status == kErrPlatformCannotServe
             ? MMC_GetTrackInfo(ref, track, reply.data(), length, sense)
             : status;
}

EngineStatus readToc(std::uint32_t ref, std::uint8_t format, bool msf, std::uint8_t trackOrSession,
                     std::vector<std::uint8_t>& reply, MMC_SenseData* sense) {
  const auto length = static_cast<std::uint32_t>(reply.size());
  const EngineStatus status =
      DC_MacX_ReadTOC(ref, msf, format, trackOrSession, reply.data(), length, sense);
  return status == kErrPlatformCannotServe
             ? MMC_GetTOC(ref, reply.data(), length, format, trackOrSession, msf, sense)
             : status;
}

EngineStatus modeSense(std::uint32_t ref, std::uint8_t page, std::span<std::uint8_t> reply,
                       MMC_SenseData* sense) {
  const auto length = static_cast<std::uint32_t>(reply.size());
  const EngineStatus status = DC_MacX_ModeSense10(ref, page, 0, length, reply.data(), sense);
  return status == kErrPlatformCannotServe
             ? MMC_ModeSense10(ref, page, 0, length, reply.data(), sense)
             : status;
}

void refreshMediumView(std::uint32_t ref) {
  auto entry = findCommandDrive(ref);
  if (!entry) return;
  const std::uint32_t signals = entry->mediumSignals.load();
  if (entry->mediumChecked.load() == signals) return;
  std::array<std::uint8_t, 8> capacity{};
  MMC_SenseData sense{};
  // Unit attentions queued by the change are reported one per command: absorb them.
  constexpr int kAttempts = 4;
  EngineStatus status = kErrCheckCondition;
  for (int attempt = 0; attempt < kAttempts && status != kNoErr; ++attempt) {
    status = raw(ref, cdb::readCapacity(), capacity, &sense);
    if (status != kNoErr && !(status == kErrCheckCondition && sendAgain(classifySense(sense))))
      return;  // no disc yet
  }
  if (status != kNoErr) return;
  std::array<std::uint8_t, 12> toc{};
  (void)raw(ref, cdb::readToc(0, 0, false, allocation(toc.size())), toc, &sense);
  // Only the signals seen before this check are settled; a change meanwhile is checked next time.
  entry->mediumChecked.store(signals);
}

}  // namespace quillion::gdt
