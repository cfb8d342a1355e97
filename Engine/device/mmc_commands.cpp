// SPDX-License-Identifier: GPL-2.0-or-later
// The MMC_* builders: one command block each, run through command execution.
#include <algorithm>

#include "device/cdb.h"
#include "device/command_timeouts.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

using namespace quillion;

namespace {

enum class Before { Nothing, TestUnitReady, WaitReady };

EngineStatus send(std::uint32_t ref, const cdb::Block& block, const void* buffer,
                  std::uint32_t length, DC_DataInOut direction, CommandKind kind,
                  MMC_SenseData* sense, Before before = Before::Nothing) {
  // What runs first is a courtesy to slow drives; its result never changes the command's.
  if (before == Before::TestUnitReady) (void)MMC_TestUnitReady(ref, nullptr);
  if (before == Before::WaitReady) (void)MMC_WaitTestUnitReady(ref, kReadyTriesBeforeCommand);
  return DC_ExecuteMMCCmd_Sync(ref, block.data(), static_cast<std::uint8_t>(block.size()),
                               const_cast<void*>(buffer), length, direction, timeoutMs(kind),
                               sense);
}

std::uint16_t len16(std::uint32_t length) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(length, 0xFFFF));
}

// blockSize x blocks as a byte count, or 0 when it does not fit the 32-bit length.
std::uint32_t byteCount(std::uint32_t blockSize, std::uint32_t blocks) {
  const std::uint64_t bytes = std::uint64_t{blockSize} * blocks;
  return bytes > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(bytes);
}

}  // namespace

EngineStatus MMC_TestUnitReady(std::uint32_t ref, MMC_SenseData* sense) {
  return send(ref, cdb::testUnitReady(), nullptr, 0, kDC_NoData, CommandKind::Ordinary, sense);
}

EngineStatus MMC_FormatUnit(std::uint32_t ref, const void* list, std::uint32_t length,
                            MMC_SenseData* sense) {
  return send(ref, cdb::formatUnit(), list, length, kDC_DataOut, CommandKind::Format, sense,
              Before::TestUnitReady);
}

EngineStatus MMC_Inquiry(std::uint32_t ref, void* buffer, std::uint32_t length,
                         MMC_SenseData* sense) {
  const std::uint8_t n = static_cast<std::uint8_t>(std::min<std::uint32_t>(length, 255));
  return send(ref, cdb::inquiry(n), buffer, n, kDC_DataIn, CommandKind::Ordinary, sense,
              Before::WaitReady);
}

EngineStatus MMC_Load(std::uint32_t ref, bool immediate, MMC_SenseData* sense) {
  return send(ref, cdb::startStopUnit(immediate, 3), nullptr, 0, kDC_NoData, CommandKind::Ordinary,
              sense);
}

EngineStatus MMC_StartUnit(std::uint32_t ref, bool immediate, MMC_SenseData* sense) {
  return send(ref, cdb::startStopUnit(immediate, 1), nullptr, 0, kDC_NoData, CommandKind::Ordinary,
              sense);
}

EngineStatus MMC_Eject(std::uint32_t ref, bool immediate, MMC_SenseData* sense) {
  return send(ref, cdb::startStopUnit(immediate, 2), nullptr, 0, kDC_NoData, CommandKind::Eject,
              sense, Before::WaitReady);
}

EngineStatus MMC_LockDrive(std::uint32_t ref, bool prevent, MMC_SenseData* sense) {
  return send(ref, cdb::preventAllow(prevent), nullptr, 0, kDC_NoData, CommandKind::Ordinary,
              sense);
}

EngineStatus MMC_ReadFormatCapacities(std::uint32_t ref, void* buffer, std::uint32_t length,
                                      MMC_SenseData* sense) {
  return send(ref, cdb::readFormatCapacities(len16(length)), buffer, length, kDC_DataIn,
              CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_WriteSectors(std::uint32_t ref, std::uint32_t lba, const void* buffer,
                              std::uint32_t blockSize, std::uint32_t blocks, MMC_SenseData* sense) {
  if (sense) *sense = {};
  const std::uint32_t bytes = byteCount(blockSize, blocks);
  if (blocks > 0xFFFF || (blocks && !bytes)) return kErrBadArgument;
  return send(ref, cdb::write10(lba, static_cast<std::uint16_t>(blocks)), buffer, bytes,
              kDC_DataOut, CommandKind::Write, sense);
}

EngineStatus MMC_SynchronizeCache(std::uint32_t ref, MMC_SenseData* sense) {
  return send(ref, cdb::synchronizeCache(), nullptr, 0, kDC_NoData, CommandKind::NoLimit, sense);
}

EngineStatus MMC_GetConfiguration(std::uint32_t ref, std::uint8_t requestType,
                                  std::uint16_t startingFeature, void* buffer, std::uint32_t length,
                                  MMC_SenseData* sense) {
  return send(ref, cdb::getConfiguration(requestType, startingFeature, len16(length)), buffer,
              length, kDC_DataIn, CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_GetTOC(std::uint32_t ref, void* buffer, std::uint32_t length, std::uint8_t format,
                        std::uint8_t trackOrSession, bool msf, MMC_SenseData* sense) {
  return send(ref, cdb::readToc(format, trackOrSession, msf, len16(length)), buffer, length,
              kDC_DataIn, CommandKind::Ordinary, sense);
}

EngineStatus MMC_GetDiscInfo(std::uint32_t ref, void* buffer, std::uint32_t length,
                             MMC_SenseData* sense) {
  return send(ref, cdb::readDiscInfo(len16(length)), buffer, length, kDC_DataIn,
              CommandKind::DiscInfo, sense);
}

EngineStatus MMC_GetTrackInfo(std::uint32_t ref, std::uint8_t track, void* buffer,
                              std::uint32_t length, MMC_SenseData* sense) {
  return send(ref, cdb::readTrackInfo(1, track, len16(length)), buffer, length, kDC_DataIn,
              CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_ReserveTrack(std::uint32_t ref, std::uint32_t blocks, MMC_SenseData* sense) {
  return send(ref, cdb::reserveTrack(blocks), nullptr, 0, kDC_NoData, CommandKind::Reserve, sense,
              Before::TestUnitReady);
}

EngineStatus MMC_ModeSelect10(std::uint32_t ref, std::uint32_t length, const void* buffer,
                              MMC_SenseData* sense) {
  return send(ref, cdb::modeSelect10(len16(length)), buffer, length, kDC_DataOut,
              CommandKind::Ordinary, sense);
}

EngineStatus MMC_ModeSense10(std::uint32_t ref, std::uint8_t pageCode, std::uint8_t pageControl,
                             std::uint32_t length, void* buffer, MMC_SenseData* sense) {
  return send(ref, cdb::modeSense10(pageCode, pageControl, len16(length)), buffer, length,
              kDC_DataIn, CommandKind::Ordinary, sense);
}

EngineStatus MMC_CloseSessionTrack(std::uint32_t ref, std::uint8_t function, std::uint8_t track,
                                   bool immediate, MMC_SenseData* sense) {
  return send(ref, cdb::closeTrackSession(function, track, immediate), nullptr, 0, kDC_NoData,
              CommandKind::NoLimit, sense);
}

EngineStatus MMC_GetBufferCaps(std::uint32_t ref, void* buffer, std::uint32_t length,
                               MMC_SenseData* sense) {
  return send(ref, cdb::readBufferCapacity(len16(length)), buffer, length, kDC_DataIn,
              CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_SendCueSheet(std::uint32_t ref, const void* sheet, std::uint32_t length,
                              MMC_SenseData* sense) {
  return send(ref, cdb::sendCueSheet(length), sheet, length, kDC_DataOut, CommandKind::Ordinary,
              sense, Before::TestUnitReady);
}

EngineStatus MMC_Blank(std::uint32_t ref, std::uint8_t byte1, MMC_SenseData* sense) {
  return send(ref, cdb::blank(byte1), nullptr, 0, kDC_NoData, CommandKind::Ordinary, sense);
}

EngineStatus MMC_GetPerformance(std::uint32_t ref, void* buffer, std::uint32_t length,
                                std::uint8_t dataType, std::uint32_t startLBA,
                                std::uint16_t maxDescriptors, std::uint8_t type,
                                MMC_SenseData* sense) {
  return send(ref, cdb::getPerformance(dataType, startLBA, maxDescriptors, type), buffer, length,
              kDC_DataIn, CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_ReadDVDStructure(std::uint32_t ref, void* buffer, std::uint32_t length,
                                  std::uint32_t address, std::uint8_t layer, std::uint8_t format,
                                  std::uint8_t agid, std::uint8_t control, MMC_SenseData* sense) {
  return send(ref, cdb::readDvdStructure(address, layer, format, len16(length), agid, control),
              buffer, length, kDC_DataIn, CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_SetReadWriteSpeed_DVD(std::uint32_t ref, std::uint8_t flags, std::uint32_t start,
                                       std::uint32_t end, std::uint32_t readSize,
                                       std::uint32_t writeSize, MMC_SenseData* sense) {
  const auto descriptor = cdb::streamingDescriptor(flags, start, end, readSize, writeSize);
  return send(ref, cdb::setStreaming(descriptor.size()), descriptor.data(), descriptor.size(),
              kDC_DataOut, CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_SetReadWriteSpeed(std::uint32_t ref, std::uint16_t readKBps,
                                   std::uint16_t writeKBps, MMC_SenseData* sense) {
  return send(ref, cdb::setCdSpeed(readKBps, writeKBps), nullptr, 0, kDC_NoData,
              CommandKind::Ordinary, sense);
}

EngineStatus MMC_ReadCD(std::uint32_t ref, std::uint8_t byte1, std::uint8_t byte9,
                        std::uint32_t lba, std::uint32_t blocks, void* buffer, std::uint32_t length,
                        MMC_SenseData* sense) {
  return send(ref, cdb::readCd(byte1, lba, blocks, byte9), buffer, length, kDC_DataIn,
              CommandKind::Ordinary, sense);
}

EngineStatus MMC_SendDVDStructure(std::uint32_t ref, const void* buffer, std::uint32_t length,
                                  std::uint8_t format, std::uint8_t agid, MMC_SenseData* sense) {
  return send(ref, cdb::sendDvdStructure(format, len16(length), agid), buffer, length, kDC_DataOut,
              CommandKind::Ordinary, sense, Before::TestUnitReady);
}

EngineStatus MMC_WriteContinue(std::uint32_t ref, std::uint32_t /*lba: implied by the drive*/,
                               const void* buffer, std::uint32_t blockSize, std::uint32_t blocks,
                               MMC_SenseData* sense) {
  if (sense) *sense = {};
  const std::uint32_t bytes = byteCount(blockSize, blocks);
  if (blocks && !bytes) return kErrBadArgument;
  return send(ref, cdb::writeContinue(bytes), buffer, bytes, kDC_DataOut, CommandKind::Ordinary,
              sense);
}

EngineStatus MMC_SendOPC(std::uint32_t /*ref*/, MMC_SenseData* sense) {
  if (sense) *sense = {};
  return kNoErr;
}
