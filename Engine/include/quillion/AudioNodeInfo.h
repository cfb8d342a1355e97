// SPDX-License-Identifier: GPL-2.0-or-later
// The record an audio layout attaches to each track node of its list (SetUserData): the
// track's CD-Text and the factor its samples are scaled by. One malloc'd block, freed by the
// node, so it holds no owning C++ members.
#pragma once

#include <cstdint>

// Five zero-terminated texts of at most 159 bytes, in the order of their CD-Text pack types.
struct AudioCDText {
  char cdTextTitle[160];
  char cdTextPerformer[160];
  char cdTextSongwriter[160];
  char cdTextComposer[160];
  char cdTextArranger[160];
};
static_assert(sizeof(AudioCDText) == 800);

struct AudioNodeInfo {
  AudioCDText cdText;
  const char* cdSourcePath;  // the audio CD track the file was copied from; the layout's
  std::uint32_t lengthSeconds;
  std::uint32_t trackRate;
  std::uint8_t isCopying;  // 1 while the file is still being copied from a disc
  float gain;              // 0: the gain of the track before (1.0 for the first)
  void* icon;              // the layout's
};
