// SPDX-License-Identifier: GPL-2.0-or-later
// SCSI-MMC command builders (`MMC_*`) and the utilities that combine several commands
// (`MMC_Util_*`, the wait functions). Every builder takes the drive reference first and an
// `MMC_SenseData` pointer last (may be null) and answers an EngineStatus; on -1177 the sense
// of the failed command is in that record.
#pragma once

#include <cstdint>

#include "quillion/status.h"

// The sense of the last failed command: all zero means "no sense".
struct MMC_SenseData {
  std::uint8_t key;        // sense key (low four bits of fixed-format byte 2)
  std::uint8_t code;       // additional sense code (ASC)
  std::uint8_t qualifier;  // additional sense code qualifier (ASCQ)
};

// Builders. Command blocks are 12 bytes, zero but for the fields each builder sets.
[[nodiscard]] EngineStatus MMC_TestUnitReady(std::uint32_t ref, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_FormatUnit(std::uint32_t ref, const void* list, std::uint32_t length,
                                          MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_Inquiry(std::uint32_t ref, void* buffer, std::uint32_t length,
                                       MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_Load(std::uint32_t ref, bool immediate, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_StartUnit(std::uint32_t ref, bool immediate, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_Eject(std::uint32_t ref, bool immediate, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_LockDrive(std::uint32_t ref, bool prevent, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ReadFormatCapacities(std::uint32_t ref, void* buffer,
                                                    std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_WriteSectors(std::uint32_t ref, std::uint32_t lba,
                                            const void* buffer, std::uint32_t blockSize,
                                            std::uint32_t blocks, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_SynchronizeCache(std::uint32_t ref, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetConfiguration(std::uint32_t ref, std::uint8_t requestType,
                                                std::uint16_t startingFeature, void* buffer,
                                                std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetTOC(std::uint32_t ref, void* buffer, std::uint32_t length,
                                      std::uint8_t format, std::uint8_t trackOrSession, bool msf,
                                      MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetDiscInfo(std::uint32_t ref, void* buffer, std::uint32_t length,
                                           MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetTrackInfo(std::uint32_t ref, std::uint8_t track, void* buffer,
                                            std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ReserveTrack(std::uint32_t ref, std::uint32_t blocks,
                                            MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ModeSelect10(std::uint32_t ref, std::uint32_t length,
                                            const void* buffer, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ModeSense10(std::uint32_t ref, std::uint8_t pageCode,
                                           std::uint8_t pageControl, std::uint32_t length,
                                           void* buffer, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_CloseSessionTrack(std::uint32_t ref, std::uint8_t function,
                                                 std::uint8_t track, bool immediate,
                                                 MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetBufferCaps(std::uint32_t ref, void* buffer, std::uint32_t length,
                                             MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_SendCueSheet(std::uint32_t ref, const void* sheet,
                                            std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_Blank(std::uint32_t ref, std::uint8_t byte1, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_GetPerformance(std::uint32_t ref, void* buffer, std::uint32_t length,
                                              std::uint8_t dataType, std::uint32_t startLBA,
                                              std::uint16_t maxDescriptors, std::uint8_t type,
                                              MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ReadDVDStructure(std::uint32_t ref, void* buffer,
                                                std::uint32_t length, std::uint32_t address,
                                                std::uint8_t layer, std::uint8_t format,
                                                std::uint8_t agid, std::uint8_t control,
                                                MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_SetReadWriteSpeed_DVD(std::uint32_t ref, std::uint8_t flags,
                                                     std::uint32_t start, std::uint32_t end,
                                                     std::uint32_t readSize,
                                                     std::uint32_t writeSize, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_SetReadWriteSpeed(std::uint32_t ref, std::uint16_t readKBps,
                                                 std::uint16_t writeKBps, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_ReadCD(std::uint32_t ref, std::uint8_t byte1, std::uint8_t byte9,
                                      std::uint32_t lba, std::uint32_t blocks, void* buffer,
                                      std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_SendDVDStructure(std::uint32_t ref, const void* buffer,
                                                std::uint32_t length, std::uint8_t format,
                                                std::uint8_t agid, MMC_SenseData* sense);
[[nodiscard]] EngineStatus MMC_WriteContinue(std::uint32_t ref, std::uint32_t lba,
                                             const void* buffer, std::uint32_t blockSize,
                                             std::uint32_t blocks, MMC_SenseData* sense);
// Power calibration is left to the drive: nothing is sent.
[[nodiscard]] EngineStatus MMC_SendOPC(std::uint32_t ref, MMC_SenseData* sense);

// Wait utilities and combined operations.

// 1 as soon as the unit is ready (or reports no medium), 0 when `tries` run out.
int MMC_WaitTestUnitReady(std::uint32_t ref, int tries);
// 0 once READ DISC INFORMATION answers and its bytes 0 and 9 are zero; else the last status
// after maxSeconds (-1 when no attempt was made).
[[nodiscard]] EngineStatus MMC_Util_WaitDiscInfoReady(std::uint32_t ref, int maxSeconds,
                                                      int stepSeconds);
// out[0] = number of blocks, out[1] = type/parameter word of the matching descriptor
// (formatType 255: the current/maximum capacity descriptor).
[[nodiscard]] EngineStatus MMC_Util_SearchFormatCapacity(std::uint32_t ref, std::uint8_t formatType,
                                                         std::uint32_t* out, bool useInterface);
// Speeds in x (0xFFFF = maximum); *writeXSet receives the write speed set on DVD/BD media.
[[nodiscard]] EngineStatus MMC_Util_SetReadWriteSpeed(std::uint32_t ref, std::uint16_t readX,
                                                      std::uint16_t writeX,
                                                      std::uint16_t* writeXSet);
// True for drives that take session-at-once data with the vendor WRITE CONTINUE command.
bool MMC_isSONYWriteContinueDrive(std::uint32_t ref);
