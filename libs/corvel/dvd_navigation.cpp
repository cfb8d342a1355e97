// SPDX-License-Identifier: GPL-2.0-or-later
#include "dvd_navigation.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "bufstream.h"
#include "muxer.h"
#include "settings.h"

namespace quillion::corvel {
namespace {

constexpr std::uint64_t kPulldownFrame = 900900;  // one 29.97 Hz frame, 27 MHz
// Bits of a unit's flags word in its 0xF2000 notice.
constexpr std::uint32_t kUnitHasVideo = 1;
constexpr std::uint32_t kUnitEndsSequence = 2;

void putBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t ptm(std::uint64_t ticks) {
  return static_cast<std::uint32_t>(ticks / 300);
}

std::uint8_t bcd(std::uint64_t v) {
  return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

void notify(mpeg_m_muxer& mux, std::uint32_t value, std::uint32_t code, void* data,
            std::uint32_t size) {
  (void)mux.output->auxinfo(mux.output, value, code, data, size);
}

// The caller's first cell mark at or before `position` (90 kHz since the start of the
// video) opens a new cell; marks of 0 mean nothing and are dropped.
bool takeCellMark(mpeg_m_muxer& mux, std::uint32_t position) {
  if (!mux.navMarks) return false;
  bufstream* reader = mux.navMarks + 1;
  while (reader->usable_bytes(reader) >= 4) {
    const std::uint8_t* p = reader->request(reader, 4);
    if (!p) return false;
    std::uint32_t mark = 0;
    std::memcpy(&mark, p, 4);
    if (mark != 0 && mark > position) return false;
    (void)reader->confirm(reader, 4);
    if (mark != 0) return true;
  }
  return false;
}

void applyHighlight(mpeg_m_muxer& mux, std::uint8_t* pack, std::uint64_t videoStart) {
  if (!mux.navigationTemplatePresent) return;
  std::uint8_t* t = mux.navigationTemplate;
  if (mux.navigationTemplateUses == 0) {
    putBe32(t + 2, ptm(videoStart));
    // A highlight without an end stays until the end of the video object.
    if (mux.navigationTemplateWord != 0) std::memset(t + 6, 0xFF, 8);
  }
  std::memcpy(pack + navpack::kHighlight, t, kNavigationTemplateSize);
  // Later units keep the highlight the first one announced.
  if (mux.navigationTemplateUses++ == 0) t[1] = 2;
}

// Completes the staged unit's navigation pack, announces the unit and writes it.
bool finishUnit(mpeg_m_muxer& mux, bool atEnd) {
  DvdNavigation& nav = *mux.nav;
  VobuFacts& u = nav.unit;
  std::uint64_t start = u.haveTime ? u.firstPts : (nav.started ? nav.vobEnd : u.scr);
  std::uint64_t end = u.haveTime ? u.endPts : start;
  if (!nav.started) {
    nav.vobStart = nav.cellStart = start;
    nav.started = true;
  }
  // Pulled-down film ends on a whole frame of the display rate.
  if (atEnd && (mux.settings.pulldown == 1 || mux.settings.pulldown == 2) && end > start)
    end = start + (end - start + kPulldownFrame - 1) / kPulldownFrame * kPulldownFrame;
  nav.vobEnd = std::max(nav.vobEnd, end);
  std::uint32_t newCell = 0;
  if (takeCellMark(mux, ptm(start - nav.vobStart))) {
    newCell = ++mux.cellCounter;
    nav.cellStart = start;
  }
  const std::uint32_t sectors = static_cast<std::uint32_t>(nav.staged / kNavSector);
  if (writesDvdVideoNavigation(mux)) {
    NavFields f;
    f.startPts = start;
    f.endPts = end;
    f.sequenceEnd = u.sequenceEnd;
    f.elapsed = start - nav.cellStart;
    if (mux.videoCount > 0 && mux.videos[0]->video.framePeriod)
      f.framePeriod = mux.videos[0]->video.framePeriod;
    f.lastSector = sectors - 1;
    std::copy(u.referenceEnds, u.referenceEnds + 3, f.referenceEnds);
    f.vobNumber = mux.vobCounter;
    f.cellNumber = mux.cellCounter;
    f.vobVideoStart = nav.vobStart;
    f.haveVobVideoEnd = atEnd;
    f.vobVideoEnd = nav.vobEnd;
    fillNavPack(nav.buffer, f);
    applyHighlight(mux, nav.buffer, nav.vobStart);
    if (newCell) notify(mux, newCell, kNavNoticeCell, nullptr, 0);
    std::uint32_t record[3] = {
        u.startSector, ptm(end - start),
        (u.haveVideo ? kUnitHasVideo : 0) | (u.sequenceEnd ? kUnitEndsSequence : 0)};
    notify(mux, 0, kNavNoticeUnit, record, sizeof record);
  }
  const auto size = static_cast<std::uint32_t>(nav.staged);
  const bool written = mux.output->copybytes(mux.output, nav.buffer, size) == size;
  nav.staged = 0;
  nav.open = false;
  if (!written) return false;
  std::uint32_t counters[4] = {u.block, u.pictures, mux.segmentStart + mux.fileCount - 1, 0};
  notify(mux, 0, kNavNoticeWritten, counters, sizeof counters);
  nav.lastBlock = u.block;
  nav.lastBlockKnown = true;
  return true;
}

}  // namespace

void encodeElapsed(std::uint8_t* out, std::uint64_t ticks, std::uint64_t framePeriod) {
  const std::uint64_t rate = framePeriod == 1080000 ? 25 : 30;
  const std::uint64_t frames = framePeriod ? ticks / framePeriod : 0;
  out[0] = bcd(frames / (rate * 3600));
  out[1] = bcd(frames / (rate * 60) % 60);
  out[2] = bcd(frames / rate % 60);
  out[3] = static_cast<std::uint8_t>(bcd(frames % rate) | (rate == 25 ? 0x40 : 0xC0));
}

void fillNavPack(std::uint8_t* pack, const NavFields& f) {
  using namespace navpack;
  putBe32(pack + kVobuStart, ptm(f.startPts));
  putBe32(pack + kVobuEnd, ptm(f.endPts));
  if (f.sequenceEnd) putBe32(pack + kSequenceEnd, ptm(f.endPts));
  encodeElapsed(pack + kPciElapsed, f.elapsed, f.framePeriod);
  putBe32(pack + kVobuEndAddress, f.lastSector);
  for (int i = 0; i < 3; ++i) putBe32(pack + kReferenceEnds + 4 * i, f.referenceEnds[i]);
  pack[kVobNumber] = static_cast<std::uint8_t>(f.vobNumber >> 8);
  pack[kVobNumber + 1] = static_cast<std::uint8_t>(f.vobNumber);
  pack[kCellNumber] = static_cast<std::uint8_t>(f.cellNumber);
  std::memcpy(pack + kDsiElapsed, pack + kPciElapsed, 4);
  putBe32(pack + kVobVideoStart, ptm(f.vobVideoStart));
  if (f.haveVobVideoEnd) putBe32(pack + kVobVideoEnd, ptm(f.vobVideoEnd));
}

bool writesDvdVideoNavigation(const mpeg_m_muxer& mux) {
  const std::int32_t type = mux.settings.mux_type;
  return (type == kDvd || type == kDvdMpeg1) && mux.settings.private_stream_2;
}

bool navigationDue(const mpeg_m_muxer& mux) {
  return isDvdType(mux.settings.mux_type) && mux.videoCount > 0 && !mux.audioAlignedNav &&
         mux.navTime >= kNavInterval;
}

bool audioOpensNavigationUnit(const mpeg_m_muxer& mux, const Input& in) {
  return mux.audioAlignedNav && mux.audioCount > 0 && &in == mux.audios[0] && in.hasUnit &&
         in.unitFresh && mux.navTime >= kNavInterval;
}

bool audioClosesNavigationUnit(const mpeg_m_muxer& mux, const Input& in) {
  if (in.kind != InputKind::audio || !in.hasUnit || in.unitFresh) return false;
  if (mux.audioAlignedNav) return &in == mux.audios[0] && mux.navTime >= kNavInterval;
  // On request every audio input ends its frames before a unit that is about to begin.
  return (mux.outputInfo.options & 1) != 0 && navigationDue(mux);
}

namespace {

void widenTimes(VobuFacts& u, std::uint64_t start, std::uint64_t end) {
  u.firstPts = u.haveTime ? std::min(u.firstPts, start) : start;
  u.endPts = u.haveTime ? std::max(u.endPts, end) : end;
  u.haveTime = true;
}

}  // namespace

void noteAudioBegun(mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit) {
  if (!mux.audioAlignedNav || mux.audioCount == 0 || &in != mux.audios[0]) return;
  const auto duration = static_cast<std::uint64_t>(in.audio.frameDuration);
  mux.navTime += duration;
  if (mux.nav && mux.nav->open) widenTimes(mux.nav->unit, unit.pts, unit.pts + duration);
}

void queueNavigationNotices(mpeg_m_muxer& mux) {
  // The unit begins with the picture, or with the frame it is aligned to.
  const Input* opener = mux.audioAlignedNav ? mux.audios[0]
                        : mux.videoCount    ? mux.videos[0]
                                            : nullptr;
  if (!opener || !opener->hasUnit) return;
  const Input::NavNotice notice{opener->unit.pts, mux.packCount};
  const auto queue = [&](Input& in) {
    // An input that has stopped sending cannot be told about later units.
    if (!in.navSide || in.navNoticeCount == Input::kMaxNavNotices) return;
    in.navNotices[(in.navNoticeHead + in.navNoticeCount++) % Input::kMaxNavNotices] = notice;
  };
  for (int i = 0; i < mux.audioCount; ++i) queue(*mux.audios[i]);
  for (int i = 0; i < mux.subpictureCount; ++i) queue(*mux.subpictures[i]);
}

std::int32_t queueCellMark(mpeg_m_muxer& mux, std::uint32_t mark) {
  if (!mux.navMarks) return 0;
  std::uint8_t raw[4];
  std::memcpy(raw, &mark, 4);
  if (mux.navMarks->usable_bytes(mux.navMarks) < 4) return -1;
  return mux.navMarks->copybytes(mux.navMarks, raw, 4) == 4 ? 0 : -1;
}

std::int32_t setUpNavigation(mpeg_m_muxer& mux) {
  if (mux.nav) return 0;
  void* room = mux.services.allocate(sizeof(DvdNavigation));
  auto* nav = room ? new (room) DvdNavigation : nullptr;
  if (nav) nav->buffer = static_cast<std::uint8_t*>(mux.services.allocate(kNavStagingSize));
  if (!nav || !nav->buffer) {
    if (nav) {
      nav->~DvdNavigation();
      mux.services.release(nav);
    }
    mux.services.error("M019:Unable to allocate memory for DVD navigation info buffer");
    return kResultFailure;
  }
  mux.nav = nav;
  return 0;
}

void releaseNavigation(mpeg_m_muxer& mux) {
  if (mux.nav) {
    mux.services.release(mux.nav->buffer);
    mux.nav->~DvdNavigation();
    mux.services.release(mux.nav);
    mux.nav = nullptr;
  }
  if (mux.navMarks) {
    free_fifo_buf(mux.navMarks);
    mux.navMarks = nullptr;
  }
}

bool stageBytes(mpeg_m_muxer& mux, const std::uint8_t* data, std::size_t size) {
  DvdNavigation& nav = *mux.nav;
  if (!nav.open) {
    const auto n = static_cast<std::uint32_t>(size);
    return mux.output->copybytes(mux.output, const_cast<std::uint8_t*>(data), n) == n;
  }
  if (size > kNavStagingSize - nav.staged) return false;
  std::memcpy(nav.buffer + nav.staged, data, size);
  nav.staged += size;
  return true;
}

bool beginVobu(mpeg_m_muxer& mux, std::uint64_t scr, std::uint32_t block) {
  DvdNavigation& nav = *mux.nav;
  if (nav.open && nav.staged > 0 && !finishUnit(mux, false)) return false;
  nav.unit = VobuFacts{};
  nav.unit.startSector = static_cast<std::uint32_t>(mux.bytesInFile / kNavSector);
  nav.unit.block = block;
  nav.unit.scr = scr;
  nav.staged = 0;
  nav.open = true;
  return true;
}

std::int32_t endNavigation(mpeg_m_muxer& mux) {
  if (!mux.nav) return 0;
  DvdNavigation& nav = *mux.nav;
  bool ok = true;
  // A navigation pack with nothing behind it opens no unit.
  if (nav.open && nav.staged > kNavSector) ok = finishUnit(mux, true);
  nav.open = false;
  nav.staged = 0;
  if (writesDvdVideoNavigation(mux)) {
    notify(mux, nav.lastBlock - mux.firstBlock, kNavNoticeLastPack, nullptr, 0);
    std::uint32_t end = ptm(nav.vobEnd);
    notify(mux, 0, kNavNoticeVobEnd, &end, sizeof end);
    if (mux.navigationTemplateWord == 0) notify(mux, 0, kNavNoticeHighlightEnds, nullptr, 0);
  }
  // The next file is a video object of its own.
  nav.started = false;
  nav.vobEnd = 0;
  return ok ? 0 : kResultFailure;
}

void notePictureBegun(mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit) {
  if (!mux.nav || !mux.nav->open) return;
  VobuFacts& u = mux.nav->unit;
  std::uint64_t end = unit.pts + in.video.framePeriod;
  if (unit.repeatFirstField) end += in.video.halfPeriod;
  // Units cut at audio frames take their times from the frames.
  if (!mux.audioAlignedNav) widenTimes(u, unit.pts, end);
  u.haveVideo = true;
  ++u.pictures;
  if (unit.endsSequence) u.sequenceEnd = true;
}

void notePictureEnded(mpeg_m_muxer& mux, const AccessUnit& unit) {
  if (!mux.nav || !mux.nav->open) return;
  VobuFacts& u = mux.nav->unit;
  if ((unit.pictureType == 1 || unit.pictureType == 2) && u.references < 3)
    u.referenceEnds[u.references++] = static_cast<std::uint32_t>(mux.nav->staged / kNavSector);
}

}  // namespace quillion::corvel
