// SPDX-License-Identifier: GPL-2.0-or-later
#include "split_output.h"

#include <algorithm>
#include <cmath>

#include "bufstream.h"
#include "engine.h"
#include "index_output.h"
#include "pack_writers.h"
#include "settings.h"

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kNewSegmentNotice = 0xF0040;

template <typename Fn>
void forEachLaterInput(mpeg_m_muxer& mux, Fn fn) {
  for (int i = 1; i < mux.videoCount; ++i) fn(*mux.videos[i]);
  for (int i = 0; i < mux.audioCount; ++i) fn(*mux.audios[i]);
  for (int i = 0; i < mux.subpictureCount; ++i) fn(*mux.subpictures[i]);
}

std::uint64_t unitTime(const AccessUnit& unit) {
  return unit.pts;
}

// An input has caught up when what it still has to begin belongs to the next file.
bool caughtUp(const mpeg_m_muxer& mux, Input& in) {
  if (in.splitReached || !in.hasUnit) return true;
  if (in.unitFresh && belongsToNextFile(mux, in, in.unit)) in.splitReached = true;
  return in.splitReached;
}

// Every input starts the next file as a stream starts: its first packet carries the buffer
// size, its lead limits are those of a first packet, its underflows are counted anew.
void startFileOf(mpeg_m_muxer& mux, Input& in, bool resetClocks) {
  in.underflows = 0;
  in.firstPacket = true;
  in.firstInFile = true;
  in.splitReached = false;
  if (resetClocks) (void)in.std.create(in.std.capacity(), mux.services);
}

void rebaseUnit(std::int64_t shift, AccessUnit& unit) {
  const auto moved = [shift](std::uint64_t t) {
    const std::int64_t m = static_cast<std::int64_t>(t) - shift;
    return m > 0 ? static_cast<std::uint64_t>(m) : 0;
  };
  unit.dts = moved(unit.dts);
  unit.pts = moved(unit.pts);
}

std::int32_t closeFile(mpeg_m_muxer& mux) {
  const mpeg_m_settings& s = mux.settings;
  mux.clock += mux.packTime + mux.extraTime;
  mux.extraTime = 0;
  if (s.write_end_codes && s.write_program_end_codes && s.mux_type != kVcd &&
      writeLastPack(mux, static_cast<std::uint64_t>(std::ceil(mux.clock))) != 0)
    return kResultFailure;
  // The index records and the last navigation unit of the file go before it closes.
  for (int i = 0; i < mux.videoCount; ++i) (void)mux.videos[i]->index.flush(mux.output);
  if (endNavigation(mux) != 0) {
    mux.services.error("M031:Unable to write a DVD nav pack to program file");
    return kResultFailure;
  }
  (void)mux.output->auxinfo(mux.output, 0, kNewSegmentNotice, nullptr, 0);
  // The next file is a video object of its own, its cells counted anew.
  ++mux.vobCounter;
  mux.cellCounter = 1;
  mux.navTime = 0;
  mux.navJustWritten = false;
  mux.newSegment = false;
  ++mux.fileCount;
  mux.bytesInFile = 0;
  const bool reset = s.reset_clocks != 0;
  // The next file starts with the first picture as far ahead of the clock as the first file
  // did: with the clocks reset exactly so; otherwise times only move later, so a picture the
  // drain held back does not start the file late.
  mux.clock = reset ? mux.startClock - mux.packTime : mux.clock;
  const double wanted = mux.clock + mux.packTime + mux.firstVideoLead;
  auto shift =
      static_cast<std::int64_t>(std::floor(static_cast<double>(mux.videos[0]->unit.dts) - wanted));
  if (!reset) shift = std::min<std::int64_t>(shift, 0);
  if (shift != 0) {
    mux.rebase += shift;
    const auto rebase = [&](Input& in) {
      rebaseUnit(shift, in.unit);
      if (in.havePeek) rebaseUnit(shift, in.peeked);
    };
    rebase(*mux.videos[0]);
    forEachLaterInput(mux, rebase);
  }
  startFileOf(mux, *mux.videos[0], reset);
  forEachLaterInput(mux, [&](Input& in) { startFileOf(mux, in, reset); });
  mux.firstPack = true;
  mux.vcdAudioHeaderDue = s.mux_type == kVcd && mux.videoCount > 0 && mux.audioCount > 0;
  mux.packetsLeft = s.packets_per_pack;
  mux.draining = false;
  sendIndexHeaders(mux);
  return 0;
}

}  // namespace

bool splitDue(const mpeg_m_muxer& mux) {
  return (mux.splitSize > 0 && mux.bytesInFile >= mux.splitSize) || mux.newSegment;
}

bool belongsToNextFile(const mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit) {
  if (mux.videoCount > 0 && &in == mux.videos[0])
    return !in.firstInFile && unit.pictureType == 1 && (mux.draining || splitDue(mux));
  return mux.draining && unitTime(unit) >= mux.splitTime;
}

std::int32_t advanceSplit(mpeg_m_muxer& mux) {
  if (mux.videoCount == 0) return 0;
  Input& first = *mux.videos[0];
  if (!mux.draining) {
    if (!first.hasUnit || !first.unitFresh || !belongsToNextFile(mux, first, first.unit)) return 0;
    mux.draining = true;
    mux.splitTime = unitTime(first.unit);
    first.splitReached = true;
  }
  bool all = true;
  forEachLaterInput(mux, [&](Input& in) { all = caughtUp(mux, in) && all; });
  return all ? closeFile(mux) : 0;
}

}  // namespace quillion::corvel
