// SPDX-License-Identifier: GPL-2.0-or-later
// Describing the disc in a drive (GDT_GetDiscInfo): sessions, tracks, used and free blocks,
// from READ DISC INFORMATION, the full TOC, READ TRACK INFORMATION and, for rewritable DVD
// and BD media, the file systems on the medium.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "device/command_timeouts.h"
#include "device/disc_description.h"
#include "device/disc_replies.h"
#include "device/gdt_support.h"
#include "device/medium_probe.h"
#include "device/medium_profile.h"
#include "quillion/GDT.h"
#include "quillion/clock.h"

using namespace quillion;

namespace {

constexpr int kMediumSizePasses = 10;
constexpr std::uint32_t kUsedRounding = 16;

// Kinds whose used size is measured on the file systems.
constexpr std::uint8_t kKindDvdMinusRw = 3;
constexpr std::uint8_t kKindDvdPlusRw = 5;
constexpr std::uint8_t kKindDvdRam = 7;
constexpr std::uint8_t kKindBdRe = 11;

std::uint16_t modeOfDataTrack(std::uint8_t dataMode, std::uint8_t sessionDiscType) {
  switch (dataMode) {
    case 1:
      return kGDT_ModeData1;
    case 2:
      return kGDT_ModeData2;
    case 15:
      if (sessionDiscType == 0x00) return kGDT_ModeData1;
      if (sessionDiscType == 0x10 || sessionDiscType == 0x20) return kGDT_ModeData2;
      return kGDT_ModeUnknown;
    default:
      return kGDT_ModeUnknown;
  }
}

std::uint8_t discTypeOfSession(const std::optional<Toc>& toc, std::uint16_t session) {
  if (!toc) return 0xFF;
  for (const auto& s : toc->sessions)
    if (s.number == session) return s.discType;
  return 0xFF;
}

// The description being built, with the used blocks a drive's disc ends at.
struct Description : gdt::DiscDescription {
  void finishSizes() {
    sumSessions();
    if (!tracks.empty()) header.usedBlocks = tracks.back().start + tracks.back().length;
  }
};

// Tracks from the TOC, for drives that do not offer READ TRACK INFORMATION (read-only drives
// need not). A data track's mode follows its session's disc type, as for a track that reports
// data mode 15.
void tracksFromToc(const Toc& toc, std::uint16_t first, std::uint16_t last, Description& d) {
  for (const auto& t : toc.tracks) {
    if (t.track < first || t.track > last) continue;
    const std::uint16_t mode =
        t.data ? modeOfDataTrack(15, discTypeOfSession(toc, t.session)) : kGDT_ModeAudio;
    d.add({t.session, t.track, mode, 0, t.start, t.end - t.start});
  }
}

// READ TRACK INFORMATION bytes 16-19; 0 when the drive cannot say.
std::uint32_t freeBlocksOfTrack(std::uint32_t ref, std::uint32_t track) {
  std::array<std::uint8_t, 64> reply{};
  MMC_SenseData sense{};
  if (track > 0xFF ||
      gdt::readTrackInformation(ref, static_cast<std::uint8_t>(track), reply, &sense) != kNoErr) {
    return 0;
  }
  const auto info = parseTrackInformation(reply);
  return info && info->freeBlocks ? *info->freeBlocks : 0;
}

std::uint32_t roundUp(std::uint64_t blocks) {
  const std::uint64_t rounded = (blocks + kUsedRounding - 1) / kUsedRounding * kUsedRounding;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(rounded, 0xFFFFFFFFu));
}

// The used size of a rewritable DVD or BD, measured on its file systems once the medium's size
// is known to the system.
std::uint32_t measuredUsedBlocks(std::uint32_t ref, std::uint32_t& fileSystems) {
  std::uint64_t mediumBlocks = 0;
  MediumProbe probe;
  for (int pass = 1; pass <= kMediumSizePasses; ++pass) {
    if (measureDriveMedium(ref, mediumBlocks, probe) != kNoErr) return 0;
    if (mediumBlocks) break;
    if (pass < kMediumSizePasses) engineClock().sleepFor(std::chrono::seconds(1));
  }
  fileSystems = probe.found;
  return roundUp(probe.blocks);
}

std::uint32_t formatCapacity(std::uint32_t ref, std::uint8_t formatType) {
  std::uint32_t out[2]{};
  return MMC_Util_SearchFormatCapacity(ref, formatType, out, true) == kNoErr ? out[0] : 0;
}

// A pure reader: what its medium's TOC or size tells.
EngineStatus describePureReader(std::uint32_t ref, GDT_DiscInfo** out) {
  std::uint8_t* rawToc = nullptr;
  std::uint32_t tocLength = 0;
  std::uint32_t blocks = 0;
  char path[64]{};
  const EngineStatus status =
      DC_MacX_GetTOCnBSDPath(ref, &rawToc, &tocLength, path, sizeof path, true, &blocks);
  std::vector<std::uint8_t> tocBytes(rawToc, rawToc + tocLength);
  std::free(rawToc);
  if (status != kNoErr) return status;
  Description d;
  d.header.discState = kGDT_DiscClosed;
  if (const auto toc = parseFullToc(tocBytes)) {
    d.header.discType = toc->sessions.front().discType == 0xFF ? 0 : toc->sessions.front().discType;
    tracksFromToc(*toc, 1, 99, d);
    d.header.sessions = static_cast<std::uint16_t>(toc->sessions.size());
  } else if (blocks) {
    d.header.mediumClass = kGDT_MediumDVDorBD;
    d.header.discKind = 1;
    d.header.sessions = 1;
    d.add({1, 1, kGDT_ModeData1, 0, 0, blocks});
  } else {
    return kErrPlatformCannotServe;
  }
  d.finishSizes();
  return d.publish(out);
}

}  // namespace

EngineStatus GDT_GetDiscInfo(std::uint32_t ref, GDT_DiscInfo** out, MMC_SenseData* sense) {
  if (sense) *sense = {};
  if (!out || !gdt::namesDrive(ref)) return kErrBadArgument;
  *out = nullptr;
  (void)gdt::waitDeviceReady(ref, kReadyTriesForQuery, true);
  if (DC_MacX_IsPureReader(ref)) return describePureReader(ref, out);
  gdt::refreshMediumView(ref);

  std::array<std::uint8_t, 48> discReply{};
  if (const EngineStatus status = gdt::readDiscInformation(ref, discReply, sense); status != kNoErr)
    return status;
  const auto disc = parseDiscInformation(discReply);
  if (!disc) return kErrNotSupported;

  Description d;
  const MediumProfile& profile = profileOf(currentProfile(ref));
  d.header.discKind = profile.discKind;
  const bool dvdOrBd = profile.dvdOrBd();
  d.header.mediumClass = dvdOrBd ? kGDT_MediumDVDorBD : kGDT_MediumCD;
  d.header.discType = disc->discType;
  d.header.erasable = disc->erasable ? 1 : 0;

  std::vector<std::uint8_t> tocReply(2048);
  MMC_SenseData tocSense{};
  const std::optional<Toc> toc = gdt::readToc(ref, 2, true, 1, tocReply, &tocSense) == kNoErr
                                     ? parseFullToc(tocReply)
                                     : std::nullopt;

  const bool blank = disc->discStatus == 0;
  const bool appendable = disc->discStatus == 1;
  const bool lastSessionEmpty = disc->lastSessionState == 0;
  const std::uint16_t first = disc->firstTrack;
  std::uint16_t last = disc->lastTrackInLastSession;
  if (lastSessionEmpty && appendable)
    last = disc->firstTrackInLastSession ? disc->firstTrackInLastSession - 1 : 0;

  if (!blank && first >= 1 && last >= first) {
    for (std::uint32_t track = first; track <= last; ++track) {
      std::array<std::uint8_t, 64> reply{};
      MMC_SenseData trackSense{};
      const auto info =
          track <= 0xFF && gdt::readTrackInformation(ref, static_cast<std::uint8_t>(track), reply,
                                                     &trackSense) == kNoErr
              ? parseTrackInformation(reply)
              : std::nullopt;
      if (!info) {
        // The drive does not describe its tracks this way: the TOC does, or nothing does.
        if (!toc) {
          if (sense) *sense = trackSense;
          return trackSense.key ? EngineStatus{kErrCheckCondition} : EngineStatus{kErrNotSupported};
        }
        d.tracks.clear();
        d.header.audioTracks = 0;
        d.header.largestTrack = 0;
        tracksFromToc(*toc, first, last, d);
        break;
      }
      const std::uint16_t mode =
          info->data ? modeOfDataTrack(info->dataMode, discTypeOfSession(toc, info->session))
                     : kGDT_ModeAudio;
      d.add({info->session, info->track, mode, 0, info->start, info->size});
    }
    d.finishSizes();
  }

  if (disc->discStatus != 2) {
    if (blank) {
      d.header.freeBlocks = dvdOrBd ? freeBlocksOfTrack(ref, 1) : disc->leadOutBlocks.value_or(0);
    } else if (appendable) {
      // CD: the invisible track; DVD+RW and DVD-RW: their one track; other sequential media:
      // the incomplete track after the last complete one.
      const std::uint8_t kind = d.header.discKind;
      const std::uint32_t track = !dvdOrBd                                              ? 255
                                  : (kind == kKindDvdPlusRw || kind == kKindDvdMinusRw) ? 1
                                                                                        : last + 1u;
      d.header.freeBlocks = freeBlocksOfTrack(ref, track);
    }
  }

  std::uint16_t sessions = disc->sessions;
  bool countsAsBlank = blank;
  bool countsAsAppendable = appendable;
  const std::uint8_t kind = d.header.discKind;
  if (!blank && (kind == kKindDvdPlusRw || kind == kKindDvdRam || kind == kKindBdRe)) {
    const std::uint32_t capacity = formatCapacity(ref, kind == kKindDvdPlusRw ? 0x26 : 255);
    const std::uint32_t used = measuredUsedBlocks(ref, d.header.fileSystems);
    d.header.freeBlocks = capacity > used ? capacity - used : 0;
    d.header.usedBlocks = used;
    d.tracks.clear();
    d.header.audioTracks = 0;
    d.header.largestTrack = d.header.largestSession = 0;
    countsAsAppendable = true;
    if (used) {
      d.add({1, 1, kGDT_ModeData1, 0, 0, used});
      d.finishSizes();
    } else {
      countsAsBlank = true;
    }
  } else if (!blank && kind == kKindDvdMinusRw) {
    // Only the file systems found matter here; the recorded size stays the tracks'.
    (void)measuredUsedBlocks(ref, d.header.fileSystems);
    d.header.freeBlocks = formatCapacity(ref, 0x13);
    if (d.header.freeBlocks) countsAsAppendable = true;
  }

  d.header.discState = countsAsBlank        ? kGDT_DiscBlank
                       : countsAsAppendable ? kGDT_DiscAppendable
                                            : kGDT_DiscClosed;
  if (countsAsBlank) {
    sessions = 0;
  } else if (lastSessionEmpty && sessions) {
    --sessions;
  }
  d.header.sessions = sessions;
  if (countsAsBlank && kind != kKindDvdPlusRw && kind != kKindDvdRam && kind != kKindBdRe)
    d.tracks.clear();
  return d.publish(out);
}
