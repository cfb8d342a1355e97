// SPDX-License-Identifier: GPL-2.0-or-later
// Erasing a rewritable disc, to its end: the one routine behind GDT_Erase and the quick-erase
// burn job. Media the drive blanks (CD-RW, DVD-RW) get BLANK and the drive is watched until
// it is done; media written anywhere (DVD+RW, DVD-RAM, BD-RE) are formatted when they are not
// yet, and then written over with zeros from block 0.
#pragma once

#include <cstdint>
#include <functional>

#include "quillion/MMC.h"
#include "quillion/status.h"

namespace quillion {

enum class EraseMethod : std::uint8_t {
  Blank,      // the drive's BLANK command; the drive refuses it for media it cannot blank
  Overwrite,  // zeros written over the start of the disc, or all of it
};

// How the medium of `profile` is erased (from the medium profile table).
EraseMethod eraseMethodOf(std::uint16_t profile);

// The BLANK command's byte 1: the blanking type in bits 0-2, IMMED in bit 4.
inline constexpr std::uint8_t kBlankWholeDisc = 0x00;
inline constexpr std::uint8_t kBlankMinimal = 0x01;
inline constexpr std::uint8_t kBlankImmediate = 0x10;
// What a quick erase writes over on media that are not blanked: enough for every file system
// the engine writes to be gone (their descriptors and directories lie at the start).
inline constexpr std::uint32_t kQuickEraseBlocks = 10'000;

struct EraseRequest {
  std::uint8_t blankByte = kBlankMinimal | kBlankImmediate;
  // Overwritten media: blocks written over from block 0; 0 means the whole disc.
  std::uint32_t overwriteBlocks = 0;
};

struct EraseObserver {
  // Called from the erasing thread with the work done so far and its whole (any unit).
  std::function<void(std::uint32_t done, std::uint32_t total)> progress;
  // Asked between writes: true ends an overwrite early (kErrCancelled). A drive that blanks
  // cannot be stopped.
  std::function<bool()> stop;
};

// Erases the disc in the drive, whose current profile is `profile`, and returns once the
// drive has finished: 0, the failing command's status (its sense in *sense; a medium the
// drive cannot blank gives its refusal), or kErrCancelled when stopped.
[[nodiscard]] EngineStatus eraseDisc(std::uint32_t ref, std::uint16_t profile,
                                     const EraseRequest& request, const EraseObserver& observer,
                                     MMC_SenseData* sense);

}  // namespace quillion
