// SPDX-License-Identifier: GPL-2.0-or-later
// Device control: the list of optical drives, their 32-bit references, drive-list and
// disc-changed notifications, command execution with exclusive access, and the small set of
// drive queries (`DC_MacX_*`) that callers try before sending the raw MMC command.
//
// Notifications are delivered on the thread that called DC_Init, from
// quillion::pumpDeviceEvents(); a GUI watches quillion::deviceEventFd() and pumps when it
// becomes readable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillion/MMC.h"
#include "quillion/status.h"

// Drive capabilities; device control leaves them zero, the drive database fills them.
struct DC_DeviceCap {
  std::uint8_t bAdapterNum;
  std::uint8_t bSCSI_ID;
  std::uint8_t bLUN;
  std::uint16_t wDriveType;
  std::uint16_t wBaseModel;
  std::uint8_t bReadCDDA;
  std::uint8_t bSwapCDDA;
  std::uint8_t bReadSubChannel;
  std::uint8_t bValueInBCD;
  std::uint8_t bReWritable;
  std::uint8_t bTAO;
  std::uint8_t bDAO;
  std::uint8_t bVPW;
  std::uint8_t bFPW;
  std::uint8_t bRawDAO;
  std::uint8_t bSAO;
  std::uint32_t dwCDRSpeedFlag;
  std::uint32_t dwRWSpeedFlag;
  std::uint8_t bOnlyWrite10;
  std::uint8_t bBurnProof;
  std::uint32_t dwDVDRSpeedFlag;
  std::uint32_t dwDVDRWSpeedFlag;
  union {
    std::uint16_t wNotInSupportedList;
    std::uint16_t wReserved1;
  };
  std::uint16_t wDisableJustSpeed;
  std::uint16_t wOverburn;
  std::uint16_t wHAIType;
  std::uint8_t bCDText;
  std::uint8_t bWriteSubChannel;
  std::uint8_t bAESpeed;
  std::uint8_t bBUNFormat;
  std::int32_t signature;
};

// RWCapability values.
inline constexpr std::uint16_t kDC_PureReader = 1;   // a read-only block device, no command path
inline constexpr std::uint16_t kDC_MMCDevice = 2;    // takes MMC commands

// The public record of one drive.
struct DC_Device {
  std::uint32_t ref;
  std::uint16_t RWCapability;
  char interface[16];  // "SCSI", "USB", "USB2", "ATAPI", "SATA", ...
  char vendor[9];
  char model[17];
  char rev[5];
  std::uint32_t cacheSizeInKB;
  DC_DeviceCap deviceCap;
};

// Direction of a command's data phase.
enum DC_DataInOut : std::uint8_t {
  kDC_DataIn = 1,   // drive to host
  kDC_DataOut = 2,  // host to drive
  kDC_NoData = 3,
};

using DC_ListUpdateProc = void (*)(void* userData);
using DC_DiscChangedProc = void (*)(void* userData, std::uint32_t ref, bool flag);
// Completion of DC_ExecuteMMCCmd_Async: sense (all zero after GOOD), bytes moved, user data,
// and the command's status, so that a transport failure (no sense, nothing moved) is not
// mistaken for success.
using DC_CommandDoneProc = void (*)(const MMC_SenseData* sense, std::uint64_t bytesTransferred, void* userData,
                                    EngineStatus status);

// Start and stop. DC_Init always answers 0; it may be called again after DC_Term.
[[nodiscard]] EngineStatus DC_Init(double appKitVersion);
void DC_Term();

[[nodiscard]] EngineStatus DC_InstallListUpdateCallback(DC_ListUpdateProc fn, void* userData);
void DC_RemoveListUpdateCallback(DC_ListUpdateProc fn);
[[nodiscard]] EngineStatus DC_InstallDiscChangedCallback(DC_DiscChangedProc fn, void* userData);
void DC_RemoveDiscChangedCallback(DC_DiscChangedProc fn);
void DC_NotifyDiscChanged(std::uint32_t ref, bool flag);

// One record per drive in reference order; the caller releases *list with free().
std::uint16_t DC_GetConnectedDeviceList(DC_Device** list);
[[nodiscard]] EngineStatus DC_RefreshDeviceList();

// Command execution. cdbLength is what the caller built (12); timeoutMs 0 sets no limit.
[[nodiscard]] EngineStatus DC_ExecuteMMCCmd_Sync(std::uint32_t ref, const std::uint8_t* cdb,
                                                 std::uint8_t cdbLength, void* buffer,
                                                 std::uint32_t length, DC_DataInOut direction,
                                                 std::uint32_t timeoutMs, MMC_SenseData* sense);
// Starts the command and returns; `buffer` must stay valid until `done` has run. `done` runs
// on the device-control thread (the one that called DC_Init), from pumpDeviceEvents().
[[nodiscard]] EngineStatus DC_ExecuteMMCCmd_Async(std::uint32_t ref, const std::uint8_t* cdb,
                                                  std::uint8_t cdbLength, void* buffer,
                                                  std::uint32_t length, DC_DataInOut direction,
                                                  DC_CommandDoneProc done, void* userData);
// Takes (true) or gives back (false) exclusive access to the drive for the application.
[[nodiscard]] EngineStatus DC_LockDevice(std::uint32_t ref, bool lock);

// Drive queries that callers try first; -1 asks them to send the MMC command instead.
bool DC_MacX_IsPureReader(std::uint32_t ref);
[[nodiscard]] EngineStatus DC_MacX_TestUnitReady(std::uint32_t ref, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ModeSense10(std::uint32_t ref, std::uint8_t pageCode,
                                               std::uint8_t pageControl, std::uint32_t length,
                                               void* buffer, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_GetConfiguration(std::uint32_t ref, std::uint8_t requestType,
                                                    std::uint16_t startingFeature, void* buffer,
                                                    std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ReadTrackInfo(std::uint32_t ref, std::uint8_t addressType,
                                                 std::uint32_t lbaOrTrack, void* buffer,
                                                 std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ReadDiscInfo(std::uint32_t ref, void* buffer,
                                                std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ReadTOC(std::uint32_t ref, bool msf, std::uint8_t format,
                                           std::uint8_t trackOrSession, void* buffer,
                                           std::uint32_t length, MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ReadDVDStructre(std::uint32_t ref, void* buffer,
                                                   std::uint32_t length, std::uint32_t address,
                                                   std::uint8_t layer, std::uint8_t format,
                                                   MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_GetPerformance(std::uint32_t ref, std::uint8_t dataType,
                                                  std::uint32_t startLBA,
                                                  std::uint16_t maxDescriptors, std::uint8_t type,
                                                  void* buffer, std::uint32_t length,
                                                  MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_ReadFormatCapabilities(std::uint32_t ref, void* buffer,
                                                          std::uint32_t length,
                                                          MMC_SenseData* sense);
[[nodiscard]] EngineStatus DC_MacX_GetTrayState(std::uint32_t ref, std::uint8_t* state);
[[nodiscard]] EngineStatus DC_MacX_SetTrayState(std::uint32_t ref, std::uint8_t state);
[[nodiscard]] EngineStatus DC_MacX_TestDONTUSE(std::uint32_t ref, MMC_SenseData* sense);

// The medium: TOC (format 2, caller frees with free()), device path ("/dev/sr0"; the raw flag
// changes nothing on Linux) and the used size in 2048-byte blocks. Every output is optional.
[[nodiscard]] EngineStatus DC_MacX_GetTOCnBSDPath(std::uint32_t ref, std::uint8_t** toc,
                                                  std::uint32_t* tocLength, char* path,
                                                  std::uint32_t pathLength, bool raw,
                                                  std::uint32_t* blocks);
// 1 when the medium's volumes are unmounted (mounted) as asked, 0 when the drive, its medium or
// its device path is missing or the request was refused.
[[nodiscard]] int DC_MacX_UnmountMedia(std::uint32_t ref);
[[nodiscard]] int DC_MacX_MountMedia(std::uint32_t ref);
[[nodiscard]] int DC_MacX_UnmountAndEject(std::uint32_t ref);

namespace quillion {

// A file descriptor that becomes readable when device events are pending (-1 before DC_Init).
int deviceEventFd();
// Delivers pending device events and command completions on the calling thread, which must
// be the one that called DC_Init (else kErrBadArgument). Answers how many were delivered
// through *delivered when given.
[[nodiscard]] EngineStatus pumpDeviceEvents(std::size_t* delivered = nullptr);

}  // namespace quillion
