// SPDX-License-Identifier: GPL-2.0-or-later
// The movie scanner: checks that a file is an MPEG-1 or MPEG-2 program stream, reads its
// picture size, frame rate and aspect code, estimates its duration, counts its packs by kind,
// lists the packs that hold I pictures and hands out the packs one by one. A movie file is
// untrusted input: every walk is bounded by the file and by the pack it is in.
#pragma once

#include <cstddef>
#include <cstdint>

struct MU_Handle;

// "xGPM" in memory order: the record holds a parsed stream.
inline constexpr std::uint32_t kMU_InfoTag = 0x4D504778;
// Packs this long or longer do not fit a Video CD sector.
inline constexpr std::uint32_t kMU_MaxPackBytes = 2324;

// Frames per second by the 4-bit frame-rate code of a sequence header.
extern const double gu_Frame_Rates[16];

// The I-frame table: a u32 entry count followed by entries packed without gaps, each a u32
// pack index (packs counted before this one) and a double time in seconds, in host byte
// order. Made by MU_FullParse for MPEG-2 streams with malloc; MU_ReleaseInfo frees it.
struct MU_IFrameEntry {
  std::uint32_t packIndex;
  double seconds;
};
inline constexpr std::size_t kMU_IFrameEntryBytes = 12;

struct MU_MPEG_Info {
  std::uint32_t tag;      // kMU_InfoTag when valid, else 0
  std::uint16_t version;  // 1 MPEG-1, 2 MPEG-2
  std::uint8_t aspectCode;
  double frameRate;
  std::uint16_t width;
  std::uint16_t height;
  std::uint64_t fileSize;
  double duration;  // whole seconds from the last pack's clock reference
  std::uint32_t audioPacks;
  std::uint32_t videoPacks;
  std::uint32_t stopped;  // 1 when the full scan met a pack longer than kMU_MaxPackBytes
  std::uint32_t unknownPacks;
  std::uint8_t* iFrameTable;  // owned by whoever owns the record
};

// Called by MU_FullParse on the caller's thread; setting *cancel to non-zero ends the scan.
using MU_ProgressProc = void (*)(MU_Handle* handle, std::uint64_t fileSize, std::uint64_t position,
                                 void* context, char* cancel);

// Null when the file cannot be opened (15 bytes or fewer included) or memory runs out.
MU_Handle* MU_Init(const char* path);
void MU_Term(MU_Handle* handle);  // null is ignored

// Both zero the record first; they do not free a table it held (see MU_ReleaseInfo).
bool MU_QuickParse(MU_Handle* handle, MU_MPEG_Info* info);
// True when the quick parse succeeded and the scan ran, also when it was cancelled (counts
// then stay 0).
bool MU_FullParse(MU_Handle* handle, MU_MPEG_Info* info, MU_ProgressProc progress, void* context);
// Copies the next pack of at most kMU_MaxPackBytes at or after `position` into `buffer`
// (*length on entry: its size, at least kMU_MaxPackBytes); longer packs are skipped. Returns
// the pack's file offset with *length and *hasAudio set, or -1 when none is left or an
// argument is bad. The caller continues at the result plus *length.
std::int64_t MU_GetNextPack(MU_Handle* handle, std::int64_t position, void* buffer,
                            unsigned* length, char* hasAudio);

// The I-frame table's entries; 0 and false without a table or past its end.
std::uint32_t MU_IFrameCount(const MU_MPEG_Info* info);
bool MU_IFrameAt(const MU_MPEG_Info* info, std::uint32_t index, MU_IFrameEntry* entry);
// Frees the record's I-frame table and zeroes the record; null is ignored.
void MU_ReleaseInfo(MU_MPEG_Info* info);

// The user data of a movie node in a Video CD track list: the icon the layout shows for it
// (owned by the layout model) and the movie's scan result.
struct VideoNodeInfo {
  void* icon;
  MU_MPEG_Info info;
};
