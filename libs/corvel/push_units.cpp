// SPDX-License-Identifier: GPL-2.0-or-later
#include "push_units.h"

#include <algorithm>
#include <cstring>

#include "bufstream.h"
#include "corvel.h"
#include "engine.h"
#include "pack_writers.h"
#include "run.h"
#include "settings.h"
#include "stream_headers.h"
#include "unit_readers.h"

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kOptionComputedTimes = 1;
// Bits of a video record's word 13 beside the unit flags: what the notices before the
// picture said about it.
constexpr std::uint32_t kRecordEndsSequence = 0x100;
constexpr std::uint32_t kRecordRepeatsFirstField = 0x200;
constexpr std::uint32_t kRecordUnitFlags = 0xFF;
// A fixed vbv_delay HDV HD2 cannot carry: the value that means "variable".
constexpr std::uint32_t kIllegalVbvDelay = 0xFFFF;

enum : std::uint32_t {
  kNoticePictureHeader = 0x100,
  kNoticeSequenceHeader = 0x1B3,
  kNoticeSequenceEnd = 0x1B7,
  kNoticeGroup = 0x1B8,
  kNoticePictureDone = 0xF0001,
  kNoticeAudioDone = 0xF0002,
  kNoticeSubpictureDone = 0xF0004,
  kNoticeStreamEnd = 0xF0080,
  kNoticeFinalUnit = 0xE0004,
  kNoticeAudioValue = 0xFFF00000,
  kNoticeStillSize = 0xD0000,
  kNoticeSegmentStart = 0xE0001,
  kNoticeNavigationTemplate = 0xE0010,
  kNoticeCellMark = 0xE0040,
  kNoticeNewSegment = 0xF0040,
};

Input* pushedInputOf(bufstream* bs) {
  return bs ? static_cast<Input*>(bs->drive_chain) : nullptr;
}

// The first `count` 32-bit words of a notice, copied: the producer's data stays as it was.
bool noticeWords(const void* data, std::uint32_t size, std::uint32_t* words, std::uint32_t count) {
  if (!data || size < count * 4) return false;
  std::memcpy(words, data, count * 4);
  return true;
}

std::uint64_t joined(std::uint32_t low, std::uint32_t high) {
  return std::uint64_t{low} | (std::uint64_t{high} << 32);
}

void putTime(std::uint32_t* words, std::uint64_t t) {
  words[0] = static_cast<std::uint32_t>(t);
  words[1] = static_cast<std::uint32_t>(t >> 32);
}

// A record goes into the unit fifo whole or not at all: a part of one would shift every
// record after it.
bool queueRecord(Input& in, const std::uint32_t* words, std::uint32_t bytes) {
  bufstream* fifo = in.unitFifo;
  if (fifo->usable_bytes(fifo) < bytes) return false;
  std::uint8_t raw[kVideoRecordSize];
  std::memcpy(raw, words, bytes);
  return fifo->copybytes(fifo, raw, bytes) == bytes;
}

// Released HDV HD2 pictures go into the unit fifo all together or not at all.
bool queueVideoRecords(Input& in, const std::uint32_t* records, std::uint32_t count) {
  bufstream* fifo = in.unitFifo;
  if (fifo->usable_bytes(fifo) < std::uint64_t{count} * kVideoRecordSize) return false;
  for (std::uint32_t i = 0; i < count; ++i)
    if (!queueRecord(in, records + std::size_t{i} * kVideoRecordWords, kVideoRecordSize))
      return false;
  return true;
}

// Runs the multiplexer for a notice: a failed run is remembered and refuses later notices,
// while the notice that saw it still answers 0.
std::int32_t runForNotice(mpeg_m_muxer& mux) {
  if (runPushed(mux) == kResultFailure) mux.failed = true;
  return 0;
}

bool isHd2(const mpeg_m_muxer& mux) {
  return mux.settings.mux_type == kHdvHd2;
}

// The ring the audio auxiliary records of the multiplex go to: the first audio input's, as
// one auxiliary audio stream describes the audio.
Hd2Queue* hd2AudioRing(mpeg_m_muxer& mux) {
  return mux.audioCount > 0 ? &mux.audios[0]->hd2AuxAudio : nullptr;
}

Hd2PictureHold::Release hd2Release(Input& in) {
  return [&in](const std::uint32_t* records, std::uint32_t count) {
    return queueVideoRecords(in, records, count);
  };
}

// The multiplexer runs once for each released picture.
void runForReleased(mpeg_m_muxer& mux, std::int32_t released) {
  for (std::int32_t i = 0; i < released; ++i) (void)runForNotice(mux);
}

// An HDV HD2 picture record (words 14-17 filled) is held until the next anchor picture,
// which releases the pictures held before it.
std::int32_t hd2PictureArrives(mpeg_m_muxer& mux, Input& in, const std::uint32_t* record) {
  PushState& st = in.push;
  const Hd2Arrival a = in.hd2.arrive(record, hd2Release(in), st.frameRateCode, hd2AudioRing(mux));
  runForReleased(mux, a.released);
  if (a.result != 0) return -1;
  ++st.picturesSoFar;
  ++st.picturesSinceGroup;
  return 0;
}

// The notices every kind of input passes on as the caller's side notices.
bool isSideNotice(std::uint32_t code) {
  return code == kNoticeStillSize || code == kNoticeSegmentStart ||
         code == kNoticeNavigationTemplate || code == kNoticeNewSegment;
}

// No further picture will come: an HDV HD2 input hands on what it holds before it is marked
// ended, or those pictures would never be multiplexed. -1 when they cannot be queued.
std::int32_t endPushedVideo(mpeg_m_muxer& mux, Input& in) {
  if (isHd2(mux) && in.hd2.created()) {
    const Hd2Arrival a =
        in.hd2.releaseAll(hd2Release(in), in.push.frameRateCode, hd2AudioRing(mux));
    runForReleased(mux, a.released);
    if (a.result != 0) return -1;
  }
  in.push.ended = true;
  return 0;
}

std::int32_t pictureDone(mpeg_m_muxer& mux, Input& in, const void* data, std::uint32_t size) {
  std::uint32_t w[8];
  // A unit without bytes could never be written: the engine would wait on it for ever.
  if (!noticeWords(data, size, w, 8) || w[0] == 0) return -1;
  PushState& st = in.push;
  std::uint64_t dts = joined(w[4], w[5]);
  std::uint64_t pts = joined(w[6], w[7]);
  if (st.firstTime == ~std::uint64_t{0}) st.firstTime = dts;
  dts = dts > st.firstTime ? dts - st.firstTime : 0;
  pts = pts > st.firstTime ? pts - st.firstTime : 0;
  const std::int64_t display = std::int64_t{st.temporalReference} -
                               std::int64_t{st.picturesSinceGroup} + std::int64_t{st.picturesSoFar};
  std::uint32_t r[kVideoRecordWords] = {};
  r[0] = w[0];
  r[1] = w[1];
  r[2] = w[2];
  r[3] = w[3];
  r[8] = display < 0 ? 0 : static_cast<std::uint32_t>(display);
  r[9] = st.picturesSoFar;
  r[10] = st.temporalReference;
  r[11] = st.secondValue;
  r[12] = w[0];
  r[13] = st.pendingFlags | (st.secondValue ? kRecordRepeatsFirstField : 0);
  const bool computed = (in.params.kind & kOptionComputedTimes) != 0;
  if (computed && st.framePeriod) {
    dts = std::uint64_t{st.picturesSoFar} * st.framePeriod;
    pts = (std::uint64_t{r[8]} + 1) * st.framePeriod;
  }
  putTime(r + 4, dts);
  putTime(r + 6, pts);
  if (isHd2(mux)) {
    r[14] = st.hd2Values[0];
    r[15] = st.hd2Values[1];
    r[16] = st.hd2Values[2];
    r[17] = st.fieldValue;
    if (hd2PictureArrives(mux, in, r) != 0) return -1;
    st.pendingFlags = 0;
    st.unitOpen = false;
    // The end code came inside this unit: no anchor will release what is held.
    if (r[13] & kRecordEndsSequence) return endPushedVideo(mux, in);
    return 0;
  }
  if (!queueRecord(in, r, kVideoRecordSize)) return -1;
  if (computed) {
    st.picturesSoFar += in.params.picturesPerUnit;
    st.picturesSinceGroup = 0;
  } else {
    ++st.picturesSoFar;
    ++st.picturesSinceGroup;
  }
  st.pendingFlags = 0;
  st.unitOpen = false;
  // The end code came inside this unit: only now is the stream complete.
  if (r[13] & kRecordEndsSequence) st.ended = true;
  return runForNotice(mux);
}

std::int32_t shortUnitDone(mpeg_m_muxer& mux, Input& in, const void* data, std::uint32_t size) {
  std::uint32_t w[3];
  if (!noticeWords(data, size, w, 3) || w[0] == 0) return -1;
  const std::uint32_t r[4] = {w[0], w[1], w[2], w[0]};
  if (!queueRecord(in, r, kShortRecordSize)) return -1;
  return runForNotice(mux);
}

std::int32_t videoNotice(mpeg_m_muxer& mux, Input& in, std::uint32_t offset, std::uint32_t code,
                         void* data, std::uint32_t size) {
  PushState& st = in.push;
  std::uint32_t w[6] = {};
  switch (code) {
    case kNoticePictureHeader:
      if (!noticeWords(data, size, w, isHd2(mux) ? 6 : 3)) return -1;
      // Refused before anything changes: the picture's header stays the previous one's.
      if (isHd2(mux) && w[3] == kIllegalVbvDelay) {
        mux.services.error("Illegal fixed vbv_delay for HDV HD2!");
        return -1;
      }
      if (isHd2(mux)) std::memcpy(st.hd2Values, w + 3, sizeof st.hd2Values);
      if (mux.settings.pulldown == 3 && w[2] != 0) {
        const std::uint32_t field = 2 - ((w[1] - st.picturesSinceGroup + st.picturesSoFar) & 1);
        st.fieldValue = field;
        mux.settings.pulldown = static_cast<std::int32_t>(field);
      }
      st.temporalReference = w[1];
      st.secondValue = w[2];
      st.unitOpen = true;
      return 0;
    case kNoticeSequenceHeader:
      if (!noticeWords(data, size, w, 2)) return -1;
      (void)noticeWords(data, size, w, 6);
      st.sequenceWord3 = w[3];
      if (st.sequenceWord5 == 0 && w[5] != 0) st.sequenceWord5 = w[5];
      if (st.frameRateCode == 0) st.frameRateCode = static_cast<std::int32_t>(w[1]);
      if (isHd2(mux)) st.fieldValue = w[4];
      if (st.frameRate == 0 && w[1] >= 1 && w[1] <= 8) st.frameRate = kFrameRates[w[1]];
      if (st.framePeriod == 0 && st.frameRate > 0)
        st.framePeriod = static_cast<std::uint64_t>(1.0 / st.frameRate * 27000000.0);
      st.pendingFlags |= kUnitHasSequenceHeader;
      st.unitOpen = true;
      return 0;
    case kNoticeSequenceEnd:
      st.sequenceEnd = true;
      // An end code written before its picture was announced belongs to that picture;
      // the stream ends once it is queued.
      if (st.unitOpen) {
        st.pendingFlags |= kRecordEndsSequence;
        return 0;
      }
      return endPushedVideo(mux, in);
    case kNoticeGroup:
      st.picturesSinceGroup = 0;
      st.pendingFlags |= kUnitHasGroup;
      st.unitOpen = true;
      return 0;
    case kNoticePictureDone:
      return pictureDone(mux, in, data, size);
    case kNoticeFinalUnit:
      st.finalUnit = true;
      if (endPushedVideo(mux, in) != 0) return -1;
      if (drainPushedInput(mux, in) == kResultFailure) mux.failed = true;
      return 0;
    case kNoticeStreamEnd:
      return endPushedVideo(mux, in);
    case kNoticeCellMark:
      return queueCellMark(mux, offset);
    default:
      if (isSideNotice(code)) mpegOutMuxAuxinfo(&mux, offset, code, data, size);
      return 0;
  }
}

template <typename Handler>
std::int32_t onNotice(bufstream* bs, Handler handle) {
  Input* in = pushedInputOf(bs);
  if (!in || !in->owner) return -1;
  mpeg_m_muxer& mux = *in->owner;
  if (mux.failed) return -1;
  const std::lock_guard held(mux.pushLock);
  return handle(mux, *in);
}

}  // namespace

std::int32_t videoUnitCallback(bufstream* bs, std::uint32_t offset, std::uint32_t code, void* data,
                               std::uint32_t size) {
  return onNotice(bs, [&](mpeg_m_muxer& mux, Input& in) {
    return videoNotice(mux, in, offset, code, data, size);
  });
}

std::int32_t audioUnitCallback(bufstream* bs, std::uint32_t, std::uint32_t code, void* data,
                               std::uint32_t size) {
  return onNotice(bs, [&](mpeg_m_muxer& mux, Input& in) -> std::int32_t {
    if (code == kNoticeAudioDone) return shortUnitDone(mux, in, data, size);
    if (code == kNoticeStreamEnd) {
      in.push.ended = true;
    } else if (code == kNoticeAudioValue) {
      std::uint32_t w[4];
      if (noticeWords(data, size, w, 4) && (w[1] == 6 || w[1] == 7)) in.push.audioValue = w[3];
    }
    return 0;
  });
}

std::int32_t subpicUnitCallback(bufstream* bs, std::uint32_t, std::uint32_t code, void* data,
                                std::uint32_t size) {
  return onNotice(bs, [&](mpeg_m_muxer& mux, Input& in) -> std::int32_t {
    if (code == kNoticeSubpictureDone) return shortUnitDone(mux, in, data, size);
    if (code == kNoticeStreamEnd || code == kNoticeSequenceEnd) in.push.ended = true;
    return 0;
  });
}

std::int32_t releaseHeldPictures(mpeg_m_muxer& mux, Input& in) {
  if (!isHd2(mux) || !in.hd2.created()) return 0;
  return in.hd2.releaseAll(hd2Release(in), in.push.frameRateCode, hd2AudioRing(mux)).result;
}

bool takePushedUnit(mpeg_m_muxer& mux, Input& in, AccessUnit& unit) {
  unit = AccessUnit{};
  const bool video = in.kind == InputKind::video;
  const std::uint32_t bytes = video ? kVideoRecordSize : kShortRecordSize;
  std::uint8_t raw[kVideoRecordSize];
  // The end flag is read before the fifo: a record queued before the flag was set is found.
  const bool noMore = in.push.ended || mux.flushing;
  if (in.units->copybytes(in.units, raw, bytes) != bytes) {
    if (noMore) in.ended = true;
    return false;
  }
  std::uint32_t r[kVideoRecordWords];
  std::memcpy(r, raw, bytes);
  unit.size = r[0];
  if (video) {
    unit.pictureType = r[1] & 0xFFFF;
    unit.flags = r[13] & kRecordUnitFlags;
    unit.dts = joined(r[4], r[5]);
    unit.pts = joined(r[6], r[7]);
    unit.displayIndex = r[8];
    unit.decodeIndex = r[9];
    unit.temporalReference = r[10];
    unit.endsSequence = (r[13] & kRecordEndsSequence) != 0;
    unit.repeatFirstField = (r[13] & kRecordRepeatsFirstField) != 0;
  } else {
    unit.pts = unit.dts = joined(r[1], r[2]);
    unit.decodeIndex = unit.displayIndex = in.push.unitsTaken;
  }
  ++in.push.unitsTaken;
  return true;
}

namespace {

// Records queued in a unit fifo, peeked one after another until their sizes cover `budget`.
// Answers whether they do; `peeked` counts the records looked at.
bool coversLookAhead(Input& in, std::uint32_t recordSize, std::int64_t budget,
                     std::uint32_t& peeked) {
  peeked = 0;
  const std::uint32_t limit = in.units->chunksize(in.units) / recordSize;
  while (budget > 0) {
    if (peeked == limit) return true;  // as many as can be looked at: plenty
    const std::uint8_t* p = in.units->request(in.units, (peeked + 1) * recordSize);
    if (!p) return false;
    std::uint32_t size;
    std::memcpy(&size, p + peeked * recordSize, 4);
    budget -= size;
    ++peeked;
  }
  return true;
}

}  // namespace

std::int32_t checkInputReady(mpeg_m_muxer& mux) {
  std::int32_t starved = 0, live = 0;
  std::uint32_t anyPeeked = 0, videoRecords = 0;
  for (int i = 0; i < mux.videoCount; ++i) {
    Input& in = *mux.videos[i];
    if (in.push.ended) continue;
    live |= 1;
    std::uint32_t peeked = 0;
    if (!coversLookAhead(in, kVideoRecordSize, 2 * std::int64_t{packetPayloadPlain(mux, in)},
                         peeked))
      starved |= 1;
    anyPeeked += peeked;
    videoRecords = peeked + 1;
  }
  for (int i = 0; i < mux.subpictureCount; ++i) {
    Input& in = *mux.subpictures[i];
    if (in.push.ended || in.push.primed) continue;
    live |= 32;
    if (in.units->usable_bytes(in.units) >= kShortRecordSize * videoRecords)
      in.push.primed = true;
    else
      starved |= 32;
  }
  for (int i = 0; i < mux.audioCount; ++i) {
    Input& in = *mux.audios[i];
    if (in.push.ended) continue;
    live |= 2;
    std::uint32_t peeked = 0;
    if (!coversLookAhead(in, kShortRecordSize, 2 * std::int64_t{packetPayloadPlain(mux, in)},
                         peeked))
      starved |= 2;
    anyPeeked += peeked;
  }
  if (anyPeeked == 0 && starved == live) return 8;
  if (starved != 0 || !mux.prepared) return starved;
  // An input whose queue ran dry inside a step takes up its next unit now that it is there.
  for (Input** list : {mux.videos, mux.audios, mux.subpictures}) {
    const int count = list == mux.videos   ? mux.videoCount
                      : list == mux.audios ? mux.audioCount
                                           : mux.subpictureCount;
    for (int i = 0; i < count; ++i) {
      Input& in = *list[i];
      if (!in.hasUnit && !in.ended) (void)advanceUnit(mux, in);
    }
  }
  return 0;
}

void locatePushedPicture(mpeg_m_muxer& mux, Input& in) {
  // Where the picture header and any scan information lie: before the first slice, so
  // within the first bytes of the unit, which are next in the producer's stream.
  const std::uint32_t window =
      std::min({in.unit.size, in.es->chunksize(in.es), in.es->usable_bytes(in.es)});
  const std::uint8_t* head = window ? in.es->request(in.es, window) : nullptr;
  if (!head) return;
  bufstream* view = new_fifo_buf(window + 2, 2);
  if (!view) return;
  if (view->copybytes(view, const_cast<std::uint8_t*>(head), window) == window) {
    VideoUnitReader reader(view + 1, in.video, 0, mux.services);
    reader.findScanBlocks(true);
    AccessUnit found;
    if (reader.next(found) == VideoUnitReader::Result::unit && found.pictureType == 1) {
      in.unit.pictureOffset = found.pictureOffset;
      in.unit.scanOffset = found.scanOffset;
    }
  }
  free_fifo_buf(view);
}

}  // namespace quillion::corvel
