// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/disc_description.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillion::gdt {

void DiscDescription::add(const GDT_OneTrack& t) {
  if (t.mode == kGDT_ModeAudio) ++header.audioTracks;
  header.largestTrack = std::max(header.largestTrack, t.length);
  tracks.push_back(t);
}

void DiscDescription::sumSessions() {
  std::vector<std::uint64_t> perSession;
  for (const auto& t : tracks) {
    if (t.session >= perSession.size()) perSession.resize(t.session + 1u, 0);
    perSession[t.session] += t.length;
  }
  for (std::uint64_t s : perSession) {
    header.largestSession = std::max<std::uint32_t>(
        header.largestSession, static_cast<std::uint32_t>(std::min<std::uint64_t>(s, 0xFFFFFFFFu)));
  }
}

EngineStatus DiscDescription::publish(GDT_DiscInfo** out) const {
  const std::size_t count = std::min<std::size_t>(tracks.size(), 0xFFFF);
  auto* info = static_cast<GDT_DiscInfo*>(
      std::calloc(1, sizeof(GDT_DiscInfo) + count * sizeof(GDT_OneTrack)));
  if (!info) return kErrOutOfMemory;
  *info = header;
  info->trackCount = static_cast<std::uint16_t>(count);
  if (count) std::memcpy(GDT_Tracks(info), tracks.data(), count * sizeof(GDT_OneTrack));
  *out = info;
  return kNoErr;
}

}  // namespace quillion::gdt
