// SPDX-License-Identifier: GPL-2.0-or-later
// Device and disc queries (`GDT_*`): the interface's view of drives and discs. Each query asks
// the drive query family (`DC_MacX_*`) first and sends the raw MMC command when that answers
// -1. A pure reader (no command path) answers 0 without doing anything for most queries; its
// disc is described from the medium's TOC and size.
//
// Records the queries allocate are released by the caller with free().
#pragma once

#include <cstdint>

#include "quillion/BP.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "quillion/status.h"

// One track of a disc description.
struct GDT_OneTrack {
  std::uint16_t session;
  std::uint16_t track;
  std::uint16_t mode;  // kGDT_Mode* below
  std::uint16_t reserved;
  std::uint32_t start;   // logical block address
  std::uint32_t length;  // blocks
};

inline constexpr std::uint16_t kGDT_ModeAudio = 0;
inline constexpr std::uint16_t kGDT_ModeData1 = 8;   // mode 1 data
inline constexpr std::uint16_t kGDT_ModeData2 = 9;   // mode 2 or XA data
inline constexpr std::uint16_t kGDT_ModeUnknown = 255;

// Disc state.
inline constexpr std::uint8_t kGDT_DiscBlank = 0;
inline constexpr std::uint8_t kGDT_DiscClosed = 1;
inline constexpr std::uint8_t kGDT_DiscAppendable = 2;

// Medium class.
inline constexpr std::uint8_t kGDT_MediumCD = 0;
inline constexpr std::uint8_t kGDT_MediumDVDorBD = 1;

// File systems found on a rewritable DVD or BD.
inline constexpr std::uint32_t kGDT_FoundHFS = 0x100;  // partition map, HFS or HFS Plus
inline constexpr std::uint32_t kGDT_FoundUDF = 0x10;
inline constexpr std::uint32_t kGDT_FoundISO = 0x1;  // ISO 9660 without UDF

// A disc description: this header, then `trackCount` GDT_OneTrack records (GDT_Tracks()).
// Every byte is a named field: callers keep copies and compare them byte for byte to see
// whether the disc changed, which padding left to the compiler would defeat.
struct GDT_DiscInfo {
  std::uint32_t freeBlocks;      // blocks still writable
  std::uint32_t usedBlocks;      // end of the recorded area
  std::uint8_t discType;         // READ DISC INFORMATION byte 8: 00h CD-DA/CD-ROM, 10h CD-I, 20h CD-ROM XA
  std::uint8_t reserved;
  std::uint8_t discState;        // kGDT_Disc*
  std::uint8_t erasable;         // 1 for rewritable media
  std::uint8_t mediumClass;      // kGDT_Medium*
  std::uint8_t discKind;         // by current profile: GDT_DiscKindOfProfile()
  std::uint16_t align1;          // zero
  std::uint32_t fileSystems;     // kGDT_Found* bits (rewritable DVD and BD only)
  std::uint16_t audioTracks;
  std::uint16_t align2;          // zero
  std::uint32_t largestSession;  // blocks
  std::uint32_t largestTrack;    // blocks
  std::uint16_t sessions;        // complete sessions
  std::uint16_t trackCount;
};
static_assert(sizeof(GDT_DiscInfo) == 36, "GDT_DiscInfo has no padding of the compiler's");

inline GDT_OneTrack* GDT_Tracks(GDT_DiscInfo* info) { return reinterpret_cast<GDT_OneTrack*>(info + 1); }
inline const GDT_OneTrack* GDT_Tracks(const GDT_DiscInfo* info) {
  return reinterpret_cast<const GDT_OneTrack*>(info + 1);
}

// Medium classes of image descriptions (GDT_GetCDImageInfo).
inline constexpr std::uint8_t kGDT_MediumNativeImage = 2;
inline constexpr std::uint8_t kGDT_MediumPlainImage = 3;
inline constexpr std::uint8_t kGDT_MediumBinCueImage = 4;

// Track modes of image tracks by their stored block type.
inline constexpr std::uint16_t kGDT_ModeForm1 = 10;    // Mode 2 Form 1 blocks of a native image
inline constexpr std::uint16_t kGDT_ModeForm2 = 12;    // Mode 2 Form 2 blocks of a native image
inline constexpr std::uint16_t kGDT_ModeRawMode2 = 13; // Mode 2 sectors of a bin/cue image

// Image kinds GDT_GetCDImageInfo describes.
inline constexpr std::uint32_t kGDT_ImageNative = 1;
inline constexpr std::uint32_t kGDT_ImagePlain = 2;
inline constexpr std::uint32_t kGDT_ImageBinCue = 5;

// Named by GDT_GetDeviceInfo, which fills nothing.
struct GDT_DeviceInfo {
  std::uint32_t reserved;
};

// Disc kind by current profile (DVD-ROM 1, DVD-R 2, DVD-RW 3, DVD+R 4, DVD+RW 5, DVD+R DL 6,
// DVD-RAM 7, DVD-R DL 8, BD-ROM 9, BD-R 10, BD-RE 11); 0 for CD media and anything unknown.
std::uint8_t GDT_DiscKindOfProfile(std::uint16_t profile);

// The drive list (DC_GetConnectedDeviceList).
std::uint16_t GDT_GetConnectedDeviceList(DC_Device** list);
[[nodiscard]] EngineStatus GDT_GetDeviceInfo(std::uint32_t ref, GDT_DeviceInfo* info);
bool GDT_IsPureReader(std::uint32_t ref);
bool GDT_isSONYWriteContinueDrive(std::uint32_t ref);

// READ DISC INFORMATION into the caller's buffer.
[[nodiscard]] EngineStatus GDT_GetMMCDiscInfo(std::uint32_t ref, void* buffer, std::uint32_t length,
                                              MMC_SenseData* sense);

// Tray, lock, eject and reservation.
// 1 tray open, 0 closed; a status when the state cannot be read.
[[nodiscard]] EngineStatus GDT_TrayStatus(std::uint32_t ref);
[[nodiscard]] EngineStatus GDT_Load(std::uint32_t ref, MMC_SenseData* sense);
[[nodiscard]] EngineStatus GDT_Lock(std::uint32_t ref, MMC_SenseData* sense);
[[nodiscard]] EngineStatus GDT_Unlock(std::uint32_t ref, MMC_SenseData* sense);
// Gives back any reservation, allows removal, ejects and tells the disc-changed callbacks.
[[nodiscard]] EngineStatus GDT_Eject(std::uint32_t ref, MMC_SenseData* sense, bool immediate);
[[nodiscard]] EngineStatus GDT_ReserveDrive(std::uint32_t ref, bool on);

// The full TOC as the drive answers READ TOC format 2 (caller frees *toc); -1 for the
// reserved references.
[[nodiscard]] EngineStatus GDT_GetTOC(std::uint32_t ref, std::uint8_t** toc,
                                      std::uint32_t* tocLength);
// The device path of the drive's medium ("/dev/sr0", or "sr0" without keepPrefix); -1 for the
// reserved references, a null buffer or a length below 12. Empty when no medium is in.
[[nodiscard]] EngineStatus GDT_GetBSDPath(std::uint32_t ref, char* buffer, std::uint32_t length,
                                          bool keepPrefix);

// Describes the disc in the drive; *info is allocated (caller frees) on success.
[[nodiscard]] EngineStatus GDT_GetDiscInfo(std::uint32_t ref, GDT_DiscInfo** info,
                                           MMC_SenseData* sense);

// Describes an image file as if it were a closed disc: a native image (kind 1, every track of
// every session), a plain image (kind 2, one Mode 1 track of its size in 2048-byte blocks) or a
// bin/cue image (kind 5, the cue's path; one session). -1001 for an empty path or a null
// output; the image reader's status when the file cannot be read as that kind; 0 and nothing
// for other kinds. *info is allocated (caller frees) on success.
[[nodiscard]] EngineStatus GDT_GetCDImageInfo(const char* path, GDT_DiscInfo** info,
                                              std::uint32_t kind);

// How to read a track: READ CD flags (expected sector type in the high byte, fields in the
// low byte) and block size, with the track's start and length.
[[nodiscard]] EngineStatus GDT_GetSimepleTrackInfo(std::uint32_t ref, std::uint16_t track,
                                                   std::uint16_t* readFlags,
                                                   std::uint32_t* blockSize, std::uint32_t* start,
                                                   std::uint32_t* length, MMC_SenseData* sense);

// Reading: READ CD with the given flags, or 2048-byte user data with READ(12) or READ CD.
// Zero blocks or a missing buffer are refused (-1001) before anything reaches the drive.
[[nodiscard]] EngineStatus GDT_GetTrackUserData(std::uint32_t ref, std::uint16_t readFlags,
                                                std::uint32_t start, std::uint32_t blocks,
                                                void* buffer, std::uint32_t length,
                                                MMC_SenseData* sense);
[[nodiscard]] EngineStatus GDT_Get2048DataBlocks(std::uint32_t ref, void* buffer,
                                                 std::uint32_t start, std::uint32_t blocks,
                                                 bool useRead12, MMC_SenseData* sense = nullptr);

// CD-Text: (tracks + 1) entries of kGDT_CDTextEntryBytes; entry 0 is the disc, entry n track
// n; five zero-terminated strings of kGDT_CDTextStringBytes each (title, performer,
// songwriter, composer, arranger). 0 with *table null when the disc has no CD-Text.
inline constexpr std::uint32_t kGDT_CDTextStringBytes = 160;
inline constexpr std::uint32_t kGDT_CDTextStrings = 5;
inline constexpr std::uint32_t kGDT_CDTextEntryBytes = kGDT_CDTextStringBytes * kGDT_CDTextStrings;
[[nodiscard]] EngineStatus GDT_CDTEXTInfo(std::uint32_t ref, char** table, std::uint32_t* entries);

// What a drive says of its own CD writing speeds, for drives the drive database does not
// know. A mask has one bit per speed step as in DC_DeviceCap.
struct GDT_DriveSpeedRecord {
  std::uint32_t rwSpeedMask;
  std::uint32_t cdrSpeedMask;
  std::uint32_t reserved[4];
  std::uint8_t highSpeed;  // 1: the drive writes fast enough to need underrun protection
};

// Fills *record from the drive's capabilities page (and whether the disc in it is erasable).
// -1001 for the reserved references or a null record; 0 with an empty record when the drive
// has no capabilities page.
[[nodiscard]] EngineStatus GDT_GetDriveInfoByDDS(std::uint32_t ref, GDT_DriveSpeedRecord* record);

// The speeds (in x of the medium's family) the loaded medium may be written at, its profile,
// and for CD media whether it is recordable only. DVD and BD media: the drive's write speed
// descriptors for the medium. CD media: the disc's ATIP (-1104 when it cannot be used) joined
// with the drive's own speeds. -1001 for the reserved references or a missing output; 0 and
// nothing for a pure reader.
[[nodiscard]] EngineStatus GDT_GetMediaSpeed(std::uint32_t ref, bool* isCDR, std::uint16_t* profile,
                                             std::uint16_t* minSpeed, std::uint16_t* maxSpeed,
                                             MMC_SenseData* sense);

// Track extraction: a handle over one track of the disc in the drive, read a number of blocks
// at a time. Start gives null for reference 0, track 0, missing outputs, a track the disc does
// not have or one that cannot be read; else the track's block size (2352 for audio, 2048 for
// Mode 1, 2336 for Mode 2) and block count, and the drive stays reserved for the extraction.
// Continue gives the producer's status and the blocks read (-1001 and 0 blocks without a
// handle, a buffer or a block count). End deletes the handle and, with `release`, gives the
// drive's reservation back; always 0.
struct GDT_TrackExtraction;
GDT_TrackExtraction* GDT_ExtractTrack_Start(std::uint32_t ref, std::uint16_t track,
                                            std::uint32_t* blockSize, std::uint32_t* blockCount);
[[nodiscard]] EngineStatus GDT_ExtractTrack_Continue(GDT_TrackExtraction* handle, void* buffer,
                                                     std::uint32_t blocks, std::uint32_t length,
                                                     std::uint32_t* got);
EngineStatus GDT_ExtractTrack_End(GDT_TrackExtraction* handle, bool release);

// True when the file lies on a CD in a drive (DVD and BD media give false), or is a
// "cdda://<device>/<track>" pseudo-path for a track of an audio CD. With `ref`, the drive
// holding that medium is stored there (0 when no connected drive holds it).
bool GDT_IsPathFromCDROM(const char* path, std::uint32_t* ref);

// What GDT_Erase needs from its caller besides the drive. DVD+RW, DVD-RAM and BD-RE media are
// erased by a burn job that writes over them, run on a thread of the caller's creator; the
// progress callback (optional) is called on the calling thread while GDT_Erase waits, with
// the work done and its whole; the cancel flag (optional) stops an overwrite.
struct GDT_EraseController {
  BP_ThreadCreatorProc threadCreator;
  void (*progress)(void* userData, std::uint32_t done, std::uint32_t total);
  void* userData;
  const std::atomic<bool>* cancel;
};

// Erases the rewritable disc in the drive and returns when it is done. `blankByte` is the
// BLANK command's byte 1: 11h a minimal (quick) erase, 10h the whole disc (bit 4 immediate:
// the drive is then watched until it has finished). Media written anywhere are written over
// with zeros: 10,000 blocks for a quick erase, the whole disc otherwise. -1001 for the
// reserved references, or for such media without a controller and its thread creator; 0 for
// a pure reader; else the status of the erase (the drive's refusal for media it cannot
// blank) with its sense.
[[nodiscard]] EngineStatus GDT_Erase(std::uint32_t ref, std::uint8_t blankByte,
                                     const GDT_EraseController* controller,
                                     MMC_SenseData* sense);
