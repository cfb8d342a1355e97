// SPDX-License-Identifier: GPL-2.0-or-later
// The user data of each track node of an audio track list, made by the audio layout: a plain
// record the list's node owns and frees with free(), so it holds no pointers and needs no
// destructor. The CD-Text builder reads the five texts; the audio track preparation reads the
// file, its length and rate, and the gain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Each text is zero-terminated within its 160 bytes (the size of one CD-Text slot).
inline constexpr std::size_t kAudioNodeTextBytes = 160;
// The track's source file as a zero-terminated path (or a cdda:// pseudo-path for a track of
// an audio CD in a drive).
inline constexpr std::size_t kAudioNodePathBytes = 4096;

struct AudioNodeInfo {
  char title[kAudioNodeTextBytes];
  char performer[kAudioNodeTextBytes];
  char songwriter[kAudioNodeTextBytes];
  char composer[kAudioNodeTextBytes];
  char arranger[kAudioNodeTextBytes];
  char fileRef[kAudioNodePathBytes];
  std::uint64_t length;  // sample frames of the source
  std::uint32_t rate;    // sample frames per second of the source
  std::uint8_t busy;     // 1 while the layout still works on the file (decoding, copying)
  float gain;            // linear factor; 0 means not set
};

static_assert(std::is_trivially_copyable_v<AudioNodeInfo> &&
                  std::is_standard_layout_v<AudioNodeInfo>,
              "AudioNodeInfo is allocated with malloc and freed with free()");
static_assert(offsetof(AudioNodeInfo, arranger) == 4 * kAudioNodeTextBytes,
              "the five texts lead the record, one slot after the other");
