// SPDX-License-Identifier: GPL-2.0-or-later
// A disc's description while it is built, from a drive's answers or from an image file: the
// header, its tracks, and the one malloc'd record the caller frees.
#pragma once

#include <vector>

#include "quillion/GDT.h"
#include "quillion/status.h"

namespace quillion::gdt {

struct DiscDescription {
  GDT_DiscInfo header{};
  std::vector<GDT_OneTrack> tracks;

  // Counts the audio tracks and keeps the largest track's length.
  void add(const GDT_OneTrack& t);
  // The largest session's length, from the tracks' session numbers.
  void sumSessions();
  // The header followed by the tracks (at most 65,535), for GDT_DisposeDiscInfo.
  [[nodiscard]] EngineStatus publish(GDT_DiscInfo** out) const;
};

}  // namespace quillion::gdt
