// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer: records one destination, a drive or an image file in its place, session by
// session and track by track. A drive is prepared once (exclusive access, profile, buffer-
// underrun protection, speed, write parameters) and then receives, per session and track, the
// write parameters page, the cue sheet for session at once, the blocks in chunks with a retry
// window, and the close commands. The image pseudo-drives (0xFFFFFFFF native image,
// 0xFFFFFFFE ISO image) write through CDImageFile.
//
// Calling order: CreateCD; per session CreateSession, then per track CreateTrack, WriteCD as
// often as needed, CloseTrack; CloseSession; after the last session CloseCD. Session at once
// on a drive writes the whole session with WriteCD after CreateSession.
//
// Every call answers an EngineStatus. When a drive refused a command, the sense it gave is
// kept in the context (CDWriterEx_GetCurrentSense): -1191 for refused data or cue sheet,
// -1177 for any other refused command, -1179 when the command could not be run at all.
#pragma once

#include <atomic>
#include <cstdint>

#include "quillion/MMC.h"
#include "quillion/status.h"

// The writer context; the caller owns it from CDWriterEx_CreateCD to CDWriterEx_CloseCD.
struct myBurnEng_Pack;

// Image type of CDWriterEx_CreateCD: 2 writes a plain ISO image, anything else a native image.
inline constexpr std::uint16_t kCDWriterEx_IsoImage = 2;

// Buffer-underrun protection kinds: none, the BUFE bit of the write parameters page, or the
// vendor page 30h.
inline constexpr std::uint32_t kCDWriterEx_UnderrunNone = 0;
inline constexpr std::uint32_t kCDWriterEx_UnderrunBUFE = 1;
inline constexpr std::uint32_t kCDWriterEx_UnderrunVendorPage = 2;

// Fourteen bytes that go into an image track's information record: three 32-bit words and a
// 16-bit one, stored little-endian in this order.
struct CDWriterEx_TrackExtra {
  std::uint32_t words[3];
  std::uint16_t last;
};

// Opens a writer context, or answers null.
// - ref: the destination drive, or 0xFFFFFFFF / 0xFFFFFFFE with `imagePath` for an image.
// - speedX: requested write speed in x (0xFFFF: maximum); *speedSet (when given) receives the
//   speed set.
// - underrunKind: 0 leaves the drive's protection alone; otherwise the engine finds which
//   kind the drive offers and switches it on or off as `underrunProtection` says.
// A drive stays held for exclusive access after a context was made for it (until GDT_Eject
// or GDT_ReserveDrive(ref, false)); when making the context fails, a hold this call took is
// given back.
myBurnEng_Pack* CDWriterEx_CreateCD(std::uint32_t ref, const char* imagePath,
                                    std::uint16_t imageType, bool simulate, std::uint16_t speedX,
                                    bool trackAtOnce, std::uint8_t sessions, bool closeDisc,
                                    bool underrunProtection, std::uint16_t* speedSet,
                                    std::uint32_t underrunKind);

// Opens a session: format 0, 10h (CD-I) or 20h (CD-ROM XA); the mode (data block type) of its
// first track, 0 for audio; its start address (negative when lead-in CD-Text precedes it);
// the cue sheet (required for session at once on CD media) and the raw lead-in CD-Text.
[[nodiscard]] EngineStatus CDWriterEx_CreateSession(
    myBurnEng_Pack* context, std::uint8_t format, std::uint8_t firstTrackMode,
    std::int32_t startAddress, const std::uint8_t* cueSheet, std::uint32_t cueSheetLength,
    const std::uint8_t* cdText, std::uint32_t cdTextLength);

// Opens a track: its number, data block type (0 audio, 8 Mode 1, 9 Mode 2, 10 Mode 2 Form 1,
// 12 Mode 2 Form 2, 13 Mode 2 mixed forms), block size, the audio pause in blocks, and for
// image destinations the extra record (may be null) and the track's start address.
[[nodiscard]] EngineStatus CDWriterEx_CreateTrack(myBurnEng_Pack* context, std::uint8_t trackNumber,
                                                  std::uint8_t dataBlockType,
                                                  std::uint16_t blockSize,
                                                  std::uint16_t pauseBlocks,
                                                  const CDWriterEx_TrackExtra* extra,
                                                  std::uint32_t imageStart);

// Writes `blocks` blocks of `blockSize` bytes at the next write address, in chunks of at most
// 64 KB. A chunk the drive refuses is tried again until 240 s after its first failure; then
// the write stops with -1191 (sense kept) or -1179. `stop` ends the write between chunks and
// between tries (answering 0); it must be given for a drive.
[[nodiscard]] EngineStatus CDWriterEx_WriteCD(myBurnEng_Pack* context, const void* buffer,
                                              std::uint16_t blocks, std::uint16_t blockSize,
                                              const std::atomic<bool>* stop);

// RESERVE TRACK of `blocks` blocks on the drive (nothing to do for image destinations).
[[nodiscard]] EngineStatus CDWriterEx_ReserveTrack(myBurnEng_Pack* context, std::uint32_t blocks);

// Track at once: flushes the drive's cache and closes the track. Reports the drive's refusal.
[[nodiscard]] EngineStatus CDWriterEx_CloseTrack(myBurnEng_Pack* context);
// Flushes (session at once) and closes the session, finishing the disc when this is the last
// session and the disc is to be closed. Reports the drive's refusal: a session that could not
// be closed is a failed recording.
[[nodiscard]] EngineStatus CDWriterEx_CloseSession(myBurnEng_Pack* context);
// Restores the drive's default write parameters (or stores the image's header) and frees the
// context, also when that fails. -1001 for a null context.
[[nodiscard]] EngineStatus CDWriterEx_CloseCD(myBurnEng_Pack* context);

// The sense of the last refused command; -1001 without context.
[[nodiscard]] EngineStatus CDWriterEx_GetCurrentSense(const myBurnEng_Pack* context,
                                                      MMC_SenseData* sense);

// Nothing to do: 0 for a context of a destination, -1001 otherwise.
[[nodiscard]] EngineStatus CDWriterEx_StopCD(myBurnEng_Pack* context);
[[nodiscard]] EngineStatus CDWriterEx_WriteCDEmptySectors(myBurnEng_Pack* context);
