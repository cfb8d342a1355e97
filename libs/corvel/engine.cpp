// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bufstream.h"
#include "index_output.h"
#include "inputs.h"
#include "pack_writers.h"
#include "push_units.h"
#include "settings.h"
#include "split_output.h"

namespace quillion::corvel {
namespace {

constexpr double kTicksPerSecond = 27000000.0;
constexpr std::uint32_t kOptionAccessUnitDelimiters = 0x10;
constexpr std::uint32_t kOptionStillPictures = 1;
constexpr std::uint64_t kVideoLeadLimit = 22950000;       // 0.85 s
constexpr std::uint64_t kAudioLeadLimit = 2700000;        // 0.1 s
constexpr std::uint64_t kAudioFirstLeadLimit = 27000000;  // 1 s before an input's first packet
constexpr std::uint64_t kMaxStdDelay = 27000000;
constexpr std::uint64_t kSubpictureLeadLimit = 2700000;       // 0.1 s
constexpr std::uint64_t kSubpictureFirstLeadLimit = 6750000;  // 0.25 s
constexpr std::uint64_t kH264LeadLimit = 37800000;            // 1.4 s
constexpr std::uint64_t kH264MaxStdDelay = 270000000;         // 10 s

bool readNext(mpeg_m_muxer& mux, Input& in, AccessUnit& unit) {
  if (in.pushed) return takePushedUnit(mux, in, unit);
  if (in.kind == InputKind::video) {
    if (!in.videoReader) return false;
    return in.videoReader->next(unit) == VideoUnitReader::Result::unit;
  }
  if (in.kind == InputKind::subpicture)
    return in.subpictureReader && in.subpictureReader->next(unit);
  return in.audioReader && in.audioReader->next(unit);
}

// Video and audio inputs: the ones that make up the multiplex rate.
template <typename Fn>
void forEachStream(mpeg_m_muxer& mux, Fn fn) {
  for (int i = 0; i < mux.videoCount; ++i) fn(*mux.videos[i]);
  for (int i = 0; i < mux.audioCount; ++i) fn(*mux.audios[i]);
}

template <typename Fn>
void forEachInput(mpeg_m_muxer& mux, Fn fn) {
  forEachStream(mux, fn);
  for (int i = 0; i < mux.subpictureCount; ++i) fn(*mux.subpictures[i]);
}

double ms(std::uint64_t ticks) {
  return std::ceil(static_cast<double>(ticks) / 27000.0);
}

}  // namespace

void placeInTime(const mpeg_m_muxer& mux, const Input& in, AccessUnit& unit) {
  const auto place = [&](std::uint64_t t) {
    const std::int64_t placed = static_cast<std::int64_t>(t + in.offset) - mux.rebase;
    return placed > 0 ? static_cast<std::uint64_t>(placed) : 0;
  };
  unit.dts = place(unit.dts);
  unit.pts = place(unit.pts);
}

bool advanceUnit(mpeg_m_muxer& mux, Input& in) {
  if (in.havePeek) {
    in.unit = in.peeked;
    in.havePeek = false;
  } else {
    AccessUnit next;
    if (in.ended || !readNext(mux, in, next)) {
      // A pushed input without a queued unit may still get one: its reader says when not.
      if (!in.pushed) in.ended = true;
      in.hasUnit = false;
      in.unitLeft = 0;
      return false;
    }
    placeInTime(mux, in, next);
    in.unit = next;
  }
  in.hasUnit = true;
  in.unitFresh = true;
  in.unitLeft = in.unit.size;
  in.insertionCount = 0;
  if (in.kind != InputKind::video) return true;
  // An H.264 input asked for delimiters gets one in front of every picture that has none.
  if (in.video.coding == VideoCoding::h264 && (in.params.kind & kOptionAccessUnitDelimiters) &&
      !(in.unit.flags & kUnitHasAccessUnitDelimiter)) {
    const std::uint8_t aud[6] = {
        0, 0, 0, 1, 0x09, static_cast<std::uint8_t>((in.unit.primaryPicType << 5) | 0x10)};
    std::memcpy(in.delimiter, aud, sizeof aud);
    in.insertions[in.insertionCount++] = Input::Insertion{0, in.delimiter, 6, 0, false};
  }
  if (in.unit.pictureType != 1) return true;
  // Every I picture starts with a sequence header when headers are aligned, so a player can
  // start decoding at any of them.
  if (mux.settings.align_sequence_headers && !(in.unit.flags & kUnitHasSequenceHeader) &&
      in.video.sequenceHeaderSize > 0) {
    in.insertions[in.insertionCount++] =
        Input::Insertion{0, in.video.sequenceHeader, in.video.sequenceHeaderSize, 0, false};
  }
  if (mux.scan && &in == mux.videos[0]) {
    if (in.pushed) locatePushedPicture(mux, in);
    buildScanBlock(in.scanBlock);
    if (in.unit.scanOffset >= 0) {
      // The picture carries scan information of its own: its fields are filled in place.
      in.insertions[in.insertionCount++] =
          Input::Insertion{static_cast<std::uint32_t>(in.unit.scanOffset),
                           in.scanBlock,
                           static_cast<std::uint32_t>(kScanBlockSize),
                           0,
                           true,
                           true};
    } else {
      in.insertions[in.insertionCount++] =
          Input::Insertion{in.unit.pictureOffset,
                           in.scanBlock,
                           static_cast<std::uint32_t>(kScanBlockSize),
                           0,
                           true,
                           false};
    }
  }
  return true;
}

// The unit after the current one, read ahead with the input's offset applied.
bool peekUnit(mpeg_m_muxer& mux, Input& in) {
  if (in.havePeek) return true;
  if (in.ended) return false;
  AccessUnit next;
  if (!readNext(mux, in, next)) {
    if (!in.pushed) in.ended = true;
    return false;
  }
  placeInTime(mux, in, next);
  in.peeked = next;
  in.havePeek = true;
  return true;
}

std::int32_t readFirstUnits(mpeg_m_muxer& mux) {
  // Pushed inputs are analysed from their first data, in the order file mode adds them.
  const auto analyse = [&mux](Input& in) { return completePushedInput(mux, in) == 0; };
  for (int i = 0; i < mux.videoCount; ++i) {
    Input& in = *mux.videos[i];
    if (!analyse(in)) return kResultFailure;
    if (!advanceUnit(mux, in)) {
      mux.services.error("M021:Unable to read from video units.");
      return 1;
    }
    if (i == 0) {
      const std::uint64_t lead = in.video.framePeriod * in.unit.temporalReference;
      mux.videoStartOffset = in.unit.pts > lead ? in.unit.pts - lead : 0;
    }
  }
  // Units without times of their own come one picture apart.
  const std::uint64_t period = mux.videoCount ? mux.videos[0]->video.framePeriod : 1080000;
  for (int i = 0; i < mux.subpictureCount; ++i) {
    Input& in = *mux.subpictures[i];
    if (!analyse(in)) return kResultFailure;
    if (in.subpictureReader) in.subpictureReader->setPeriod(period);
    if (!advanceUnit(mux, in)) {
      mux.services.error("M021:Unable to read from subpic units.");
      return 32;
    }
  }
  for (int i = 0; i < mux.audioCount; ++i) {
    Input& in = *mux.audios[i];
    if (!analyse(in)) return kResultFailure;
    if (!advanceUnit(mux, in)) {
      mux.services.error("M022:Unable to read from audio units");
      return 2;
    }
    // PCM packets are cut by frame counts, so a PCM input needs its second frame at hand.
    if (in.audio.coding == kAudioLpcm && !peekUnit(mux, in)) {
      mux.services.error("M023:Unable to read from PCM audio units");
      return 2;
    }
  }
  return 0;
}

std::int32_t setupTiming(mpeg_m_muxer& mux) {
  if (mux.videoCount + mux.audioCount == 0) return 0;
  const mpeg_m_settings& s = mux.settings;
  const double sector = s.sector_size;
  double dataRate = 0, multiplexRate = 0, halfBuffers = 0;
  forEachStream(mux, [&](Input& in) {
    const double rate = in.byteRate;
    const double payload = std::max(1, packetPayloadPlain(mux, in));
    dataRate += rate;
    multiplexRate += rate * sector / payload;
    halfBuffers += in.bufferBytes * 0.5 / std::max(1, packetPayloadStamped(mux, in));
  });
  // Room for the navigation packs of a DVD.
  if (isDvdType(s.mux_type) && mux.videoCount > 0) multiplexRate += 3 * sector;
  const auto required = static_cast<std::uint32_t>(std::ceil(multiplexRate * 0.02));
  std::uint32_t rate = 0;
  if (s.mux_rate_bps > 1) {
    if (std::uint64_t{required} * 400 > static_cast<std::uint64_t>(s.mux_rate_bps))
      mux.services.info(
          "NOTE: Mux rate may be too low for data rate, watch for PTS/DTS underflows.");
    rate = static_cast<std::uint32_t>(s.mux_rate_bps / 400);
    mux.byteRate = s.mux_rate_bps / 8.0;
  } else {
    if (s.mux_rate > 0) {
      if (required > static_cast<std::uint32_t>(s.mux_rate))
        mux.services.info(
            "NOTE: Mux rate may be too low for data rate, watch for PTS/DTS underflows.");
      rate = static_cast<std::uint32_t>(s.mux_rate);
    } else {
      rate = required;
    }
    mux.byteRate = rate * 50.0;
  }
  if (rate == 0 || mux.byteRate < 1) {
    // Nothing gives the multiplex a rate: no pack could ever be placed in time.
    mux.services.error("M109:Unable to derive a mux rate from the inputs or the settings");
    return kResultFailure;
  }
  mux.muxRate = rate;
  mux.packsPerSecond =
      (s.mux_type == kVcd && rate == 3528) ? 75.0 : mux.byteRate / static_cast<double>(sector);
  mux.packTime = kTicksPerSecond / mux.packsPerSecond;
  if (s.max_file_size > 0 && mux.videoCount > 0) {
    const double size = s.max_file_size * 1048576.0 - mux.byteRate;
    // A file holds at least a few packs, whatever the rate.
    mux.splitSize = static_cast<std::uint64_t>(std::max(size, 4.0 * sector));
  }
  mux.startClock = s.pack_delay * 27000.0;
  mux.clock = mux.startClock;
  mux.extraTime = 0;
  const double delay = std::max(
      4860000.0,
      270000.0 * std::floor((std::ceil(halfBuffers) * sector / mux.byteRate * kTicksPerSecond +
                             mux.packTime) /
                                270000.0 +
                            0.5));
  forEachInput(mux, [&](Input& in) {
    const double own = in.params.delayMs ? in.params.delayMs * 27000.0 : delay;
    in.offset = static_cast<std::uint64_t>(std::ceil(own + mux.startClock));
    if (in.hasUnit) {
      in.unit.dts += in.offset;
      in.unit.pts += in.offset;
    }
  });
  mux.services.info("Multiplexing information");
  for (int i = 0; i < mux.videoCount; ++i) {
    const auto r = static_cast<std::int32_t>(mux.videos[i]->byteRate);
    mux.services.info(" Video stream %d data rate : %d bytes/sec (%d bits/sec)", i, r, r * 8);
  }
  for (int i = 0; i < mux.audioCount; ++i) {
    const auto r = static_cast<std::int32_t>(mux.audios[i]->byteRate);
    mux.services.info(" Audio stream %d data rate : %d bytes/sec (%d bits/sec)", i, r, r * 8);
  }
  const auto total = static_cast<std::int32_t>(mux.byteRate);
  if (s.mux_rate_bps <= 1 && s.mux_rate == 0) {
    const auto overhead = static_cast<std::int32_t>(mux.byteRate - dataRate);
    mux.services.info(" Overhead data rate : %d bytes/sec (%d bits/sec)", overhead, overhead * 8);
  }
  mux.services.info(" Total data rate : %d bytes/sec (%d bits/sec)", total, total * 8);
  if (mux.videoCount > 0)
    mux.firstVideoLead = static_cast<double>(mux.videos[0]->unit.dts) - mux.startClock;
  // Still pictures come too seldom to cut units at: the first audio input's frames do.
  mux.audioAlignedNav = isDvdType(s.mux_type) && mux.videoCount > 0 && mux.audioCount > 0 &&
                        (mux.videos[0]->params.kind & kOptionStillPictures) != 0;
  sendIndexHeaders(mux);
  mux.packetsLeft = s.packets_per_pack;
  mux.firstPack = true;
  mux.vcdAudioHeaderDue = s.mux_type == kVcd && mux.videoCount > 0 && mux.audioCount > 0;
  return 0;
}

bool anyUnitPending(const mpeg_m_muxer& mux) {
  for (int i = 0; i < mux.videoCount; ++i)
    if (mux.videos[i]->hasUnit) return true;
  for (int i = 0; i < mux.audioCount; ++i)
    if (mux.audios[i]->hasUnit) return true;
  for (int i = 0; i < mux.subpictureCount; ++i)
    if (mux.subpictures[i]->hasUnit) return true;
  return false;
}

Stamps checkVideoTimestamps(mpeg_m_muxer& mux, Input& in, std::uint64_t scr, std::uint64_t pts,
                            std::uint64_t dts, std::uint32_t pictureType) {
  Stamps stamps = Stamps::none;
  if (pictureType == 1) stamps = Stamps::ptsDts;
  if (pictureType == 2 && mux.settings.frame_timestamps != 2) stamps = Stamps::ptsDts;
  if (pictureType == 3 && mux.settings.frame_timestamps == 0) stamps = Stamps::pts;
  if (stamps == Stamps::none) return stamps;
  if (stamps == Stamps::pts && scr > pts) {
    mux.services.warning("M088:Video PTS (%.02fms) underflow at pack %u by %.02fms", ms(pts),
                         mux.packCount, ms(scr - pts));
    ++in.underflows;
  } else if (stamps == Stamps::ptsDts && scr > dts) {
    mux.services.warning("M089:Video DTS (%.02fms) underflow at pack %u by %.02fms", ms(dts),
                         mux.packCount, ms(scr - dts));
    ++in.underflows;
  }
  // H.264 decoders may hold pictures much longer before decoding them.
  const std::uint64_t maxDelay =
      in.video.coding == VideoCoding::h264 ? kH264MaxStdDelay : kMaxStdDelay;
  if (dts > scr && dts - scr > maxDelay)
    mux.services.warning(
        "M090:Video DTS (%.02fms) > max STD delay from SCR (%.02f) at pack %u by %.02fms", ms(dts),
        ms(scr), mux.packCount, ms(dts - scr - maxDelay));
  return stamps;
}

namespace {

// While a file is finished only what belongs before its end is sent, as soon as there is
// room for it.
bool drainEligible(mpeg_m_muxer& mux, Input& in) {
  if (!in.hasUnit || in.splitReached) return false;
  if (in.unitFresh && belongsToNextFile(mux, in, in.unit)) return false;
  return in.std.freeSpace() >= packetPayloadPlain(mux, in);
}

bool videoEligible(mpeg_m_muxer& mux, Input& in, double clock) {
  if (mux.draining) return drainEligible(mux, in);
  if (!in.hasUnit) return false;
  if (in.std.freeSpace() < packetPayloadPlain(mux, in)) return false;
  const std::uint64_t lead =
      in.video.coding == VideoCoding::h264 ? kH264LeadLimit : kVideoLeadLimit;
  return static_cast<double>(in.unit.dts) - clock < static_cast<double>(lead);
}

bool audioEligible(mpeg_m_muxer& mux, Input& in, double clock) {
  if (mux.draining) return drainEligible(mux, in);
  if (!in.hasUnit) return false;
  if (in.std.freeSpace() < packetPayloadPlain(mux, in)) return false;
  const double lead = static_cast<double>(in.firstInFile ? kAudioFirstLeadLimit : kAudioLeadLimit);
  return static_cast<double>(in.unit.pts) - clock < lead;
}

bool subpictureEligible(mpeg_m_muxer& mux, Input& in, double clock) {
  if (mux.draining) return drainEligible(mux, in);
  if (!in.hasUnit) return false;
  if (in.std.freeSpace() < packetPayloadPlain(mux, in)) return false;
  const double lead =
      static_cast<double>(in.firstInFile ? kSubpictureFirstLeadLimit : kSubpictureLeadLimit);
  return static_cast<double>(in.unit.pts) - clock < lead;
}

}  // namespace

namespace {

// On request (bit 0 of the output information's option byte) no audio frame runs on into
// the next DVD unit: an audio input inside a frame finishes it first, when its buffer has
// room for the rest.
Input* audioInsideFrame(mpeg_m_muxer& mux) {
  if (!(mux.outputInfo.options & 1)) return nullptr;
  for (int i = 0; i < mux.audioCount; ++i) {
    Input& in = *mux.audios[i];
    if (in.hasUnit && !in.unitFresh && in.std.freeSpace() >= static_cast<std::int32_t>(in.unitLeft))
      return &in;
  }
  return nullptr;
}

constexpr double kSkipLead = 2700000;       // 0.1 s before an input's next unit is due
constexpr double kSkipFirstLead = 1080000;  // 40 ms before an input's first packet

// The time by which an input other than the first video input wants the clock to be short
// of; false when it has nothing to send.
bool skipLimitOf(mpeg_m_muxer& mux, Input& in, double& limit) {
  if (!in.hasUnit) return false;
  std::uint64_t time = in.kind == InputKind::video ? in.unit.dts : in.unit.pts;
  // Audio in the middle of a unit waits for the start of the next one.
  if (in.kind == InputKind::audio && !in.unitFresh) {
    if (!peekUnit(mux, in)) return false;
    time = in.peeked.pts;
  }
  limit = static_cast<double>(time) - (in.firstInFile ? kSkipFirstLead : kSkipLead);
  return true;
}

}  // namespace

// A variable-rate multiplex has nothing to send while the first video input is far ahead of
// the clock: the clock jumps forward instead of stepping through empty packs, but never past
// the moment another input must start sending.
void vbrClockSkip(mpeg_m_muxer& mux) {
  // A video input whose buffer has run low must be fed soon.
  for (int i = 0; i < mux.videoCount; ++i) {
    const Input& in = *mux.videos[i];
    if (4 * static_cast<std::int64_t>(in.std.freeSpace()) >=
        3 * static_cast<std::int64_t>(in.std.capacity())) {
      mux.extraTime = std::min(mux.extraTime, static_cast<double>(in.video.periodAndHalf));
      break;
    }
  }
  const double packs = std::floor(mux.extraTime / mux.packTime) - 1;
  mux.extraTime = packs < 1 ? 0 : packs * mux.packTime;
  double skip = mux.extraTime;
  const auto limitBy = [&](Input& in) {
    double limit = 0;
    if (!skipLimitOf(mux, in, limit) || limit >= mux.clock + skip) return;
    while (skip > 0 && mux.clock + skip > limit) skip -= mux.packTime;
    skip += mux.packTime;
  };
  for (int i = 1; i < mux.videoCount; ++i) limitBy(*mux.videos[i]);
  for (int i = 0; i < mux.audioCount; ++i) limitBy(*mux.audios[i]);
  for (int i = 0; i < mux.subpictureCount; ++i) limitBy(*mux.subpictures[i]);
  if (skip <= 0) {
    mux.extraTime = 0;
    return;
  }
  mux.clock += skip;
  mux.extraTime -= skip;
}

std::int32_t muxStep(mpeg_m_muxer& mux) {
  const mpeg_m_settings& s = mux.settings;
  if (advanceSplit(mux) != 0) return kResultFailure;
  mux.packHeaderDue = mux.packetsLeft == s.packets_per_pack;
  if (mux.packCount > 0) mux.clock += mux.packTime;
  if (s.vbr && mux.extraTime > 0) vbrClockSkip(mux);
  const auto scr = static_cast<std::uint64_t>(std::ceil(mux.clock));
  forEachInput(mux, [&](Input& in) { in.std.removeUntil(scr); });

  std::int32_t result = 0;
  bool wrote = true;
  if (mux.firstPack && isDvdType(s.mux_type)) {
    result = writeNavPack(mux, scr);
    mux.navTime = 0;
  } else if (mux.firstPack || mux.vcdAudioHeaderDue) {
    result = s.mux_type == kMpeg2Program && mux.firstPack ? writeStreamMapPack(mux, scr)
                                                          : writePaddingPack(mux, scr);
  } else {
    Input* video = nullptr;
    Input* audio = nullptr;
    for (int i = 0; i < mux.videoCount && !video; ++i)
      if (videoEligible(mux, *mux.videos[i], mux.clock)) video = mux.videos[i];
    for (int i = 0; i < mux.audioCount && !audio; ++i)
      if (audioEligible(mux, *mux.audios[i], mux.clock)) audio = mux.audios[i];
    Input* subpicture = nullptr;
    for (int i = 0; i < mux.subpictureCount && !subpicture; ++i)
      if (subpictureEligible(mux, *mux.subpictures[i], mux.clock)) subpicture = mux.subpictures[i];
    // Until the first video input has begun, nothing else may start the file.
    if (video == mux.videos[0] && video && video->firstInFile) audio = subpicture = nullptr;
    // A Video CD gives its fourth pack to audio, when the first audio input can take it.
    if (s.mux_type == kVcd && mux.packCount == 3 && mux.audioCount > 0 &&
        audioEligible(mux, *mux.audios[0], mux.clock))
      audio = mux.audios[0];
    // The I picture that opens a navigation unit follows its navigation pack at once.
    const bool videoFirst = video && mux.navJustWritten;
    Input* unfinished = nullptr;
    const bool opensUnit = video && video == mux.videos[0] && video->unitFresh &&
                           video->unit.pictureType == 1 && navigationDue(mux);
    if (opensUnit) unfinished = audioInsideFrame(mux);
    if (unfinished) {
      // The frame ends before the unit begins.
      result = writeAudioPack(mux, *unfinished, scr);
    } else if (opensUnit) {
      result = writeNavPack(mux, scr);
      mux.navTime = 0;
      mux.navJustWritten = true;
    } else if (audio && audioOpensNavigationUnit(mux, *audio)) {
      result = writeNavPack(mux, scr);
      mux.navTime = 0;
    } else if (videoFirst) {
      result = writeVideoPack(mux, *video, scr);
      mux.navJustWritten = false;
    } else if (audio) {
      result = writeAudioPack(mux, *audio, scr);
    } else if (subpicture) {
      result = writeAudioPack(mux, *subpicture, scr);
    } else if (video) {
      result = writeVideoPack(mux, *video, scr);
    } else if (s.vbr) {
      wrote = false;
    } else {
      result = writePaddingPack(mux, scr);
    }
  }
  if (result != 0) return result;
  if (wrote) {
    ++mux.packCount;
    if (--mux.packetsLeft == 0) mux.packetsLeft = s.packets_per_pack;
  }
  return 0;
}

void flushIndexRecords(mpeg_m_muxer& mux) {
  if (!mux.output) return;
  for (int i = 0; i < mux.videoCount; ++i) (void)mux.videos[i]->index.flush(mux.output);
}

std::int32_t writeProgramEnd(mpeg_m_muxer& mux) {
  const mpeg_m_settings& s = mux.settings;
  std::int32_t result = 0;
  if (s.mux_type != kVcd && s.write_program_end_codes != 0) {
    mux.clock += mux.packTime + mux.extraTime;
    result = writeLastPack(mux, static_cast<std::uint64_t>(std::ceil(mux.clock)));
  }
  std::uint32_t videoUnder = 0, audioUnder = 0, subpictureUnder = 0;
  for (int i = 0; i < mux.videoCount; ++i) videoUnder += mux.videos[i]->underflows;
  for (int i = 0; i < mux.audioCount; ++i) audioUnder += mux.audios[i]->underflows;
  for (int i = 0; i < mux.subpictureCount; ++i) subpictureUnder += mux.subpictures[i]->underflows;
  if (videoUnder) mux.services.warning("M085:%u video underflows (SCR >= PTS or DTS)", videoUnder);
  if (subpictureUnder)
    mux.services.warning("M085:%u subpic underflows (SCR >= PTS or DTS)", subpictureUnder);
  if (audioUnder) mux.services.warning("M086:%u audio underflows (SCR >= PTS)", audioUnder);
  return result;
}

}  // namespace quillion::corvel
