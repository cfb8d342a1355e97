// SPDX-License-Identifier: GPL-2.0-or-later
#include "index_records.h"

#include <algorithm>
#include <cstring>

#include "bufstream.h"

namespace quillion::corvel {

void encodeVauInfo(const VauInfo& v, std::uint8_t* out) {
  std::memcpy(out, &v.position, 8);
  out[8] = v.ordinal;
  out[9] = v.pictureType;
  std::memcpy(out + 10, &v.temporalReference, 2);
  std::memcpy(out + 12, &v.reference, 4);
  std::memcpy(out + 16, &v.decodeNumber, 4);
  std::memcpy(out + 20, &v.displayNumber, 4);
  std::memcpy(out + 24, &v.time, 8);
}

namespace {

void putWord(std::uint8_t* out, std::uint32_t value) {
  std::memcpy(out, &value, 4);
}

}  // namespace

void encodeVideoIndexHeader(const VideoIndexHeader& h, std::uint8_t* out) {
  std::memset(out, 0, kVideoIndexHeaderSize);
  std::memcpy(out, "VINF", 4);
  putWord(out + 4, kVideoIndexHeaderSize);
  putWord(out + 8, h.systemType);
  putWord(out + 12, h.streamId);
  putWord(out + 16, h.pid);
  putWord(out + 20, h.pulldownCode);
  const auto kept = static_cast<std::uint32_t>(
      std::min<std::size_t>(h.sequence ? h.sequenceSize : 0, kIndexSequenceBytes));
  putWord(out + 100, kept);
  if (kept) std::memcpy(out + 104, h.sequence, kept);
}

void encodeAudioIndexHeader(const AudioIndexHeader& h, std::uint8_t* out) {
  std::memset(out, 0, kAudioIndexHeaderSize);
  std::memcpy(out, "AINF", 4);
  putWord(out + 4, kAudioIndexHeaderSize);
  putWord(out + 8, h.systemType);
  putWord(out + 12, h.streamId);
  putWord(out + 16, h.subStreamId);
  putWord(out + 20, h.pid);
  putWord(out + 24, h.formatCode);
  const auto kept = static_cast<std::uint32_t>(
      std::min<std::size_t>(h.header ? h.headerSize : 0, kIndexAudioHeaderBytes));
  putWord(out + 108, kept);
  if (kept) std::memcpy(out + 112, h.header, kept);
  const auto extra = static_cast<std::uint32_t>(
      std::min<std::size_t>(h.extra ? h.extraSize : 0, kIndexAudioExtraBytes));
  putWord(out + 196, extra);
  if (extra) std::memcpy(out + 200, h.extra, extra);
}

void encodeAauInfo(const AauInfo& info, std::uint8_t* out) {
  std::memcpy(out, &info.position, 8);
  std::memcpy(out + 8, &info.frame, 4);
  std::memcpy(out + 12, &info.time, 8);
}

static_assert(32 + sizeof(const std::uint8_t*) <= kExtendedRecordSize);

void encodeExtendedRecord(const ExtendedRecord& r, std::uint8_t* out) {
  std::memset(out, 0, kExtendedRecordSize);
  std::memcpy(out, &r.time, 8);
  putWord(out + 8, r.size);
  putWord(out + 12, r.word);
  std::memcpy(out + 16, &r.position, 8);
  putWord(out + 24, r.repeat);
  putWord(out + 28, r.startLength);
  std::memcpy(out + 32, &r.start, sizeof r.start);
}

VauInfo decodeVauInfo(const std::uint8_t* in) {
  VauInfo v;
  std::memcpy(&v.position, in, 8);
  v.ordinal = in[8];
  v.pictureType = in[9];
  std::memcpy(&v.temporalReference, in + 10, 2);
  std::memcpy(&v.reference, in + 12, 4);
  std::memcpy(&v.decodeNumber, in + 16, 4);
  std::memcpy(&v.displayNumber, in + 20, 4);
  std::memcpy(&v.time, in + 24, 8);
  return v;
}

bool IndexReorder::send(const VauInfo& info, bufstream* output) {
  std::uint8_t bytes[kVauInfoSize];
  encodeVauInfo(info, bytes);
  return output->auxinfo(output, 0, kVideoIndexEntryNotice, bytes, kVauInfoSize) == 0;
}

bool IndexReorder::sendDue(bufstream* output) {
  bool ok = true;
  for (bool found = true; found;) {
    found = false;
    for (int i = 0; i < count_; ++i) {
      if (waiting_[i].displayNumber != nextDisplay_) continue;
      ok = send(waiting_[i], output) && ok;
      waiting_[i] = waiting_[--count_];
      ++nextDisplay_;
      found = true;
      break;
    }
  }
  return ok;
}

bool IndexReorder::add(VauInfo info, bufstream* output) {
  if (info.pictureType == 1) {
    info.reference = -1;
  } else if (info.pictureType == 2) {
    info.reference = static_cast<std::int32_t>(lastAnchor_);
  } else {
    info.reference = static_cast<std::int32_t>(anchorBefore_ >= 0 ? anchorBefore_ : lastAnchor_);
  }
  if (info.pictureType == 1 || info.pictureType == 2) {
    anchorBefore_ = lastAnchor_;
    lastAnchor_ = info.displayNumber;
  }
  bool ok = true;
  if (count_ == kDepth) {
    // A gap in the display numbers (a damaged stream): the lowest waiting record goes now.
    int lowest = 0;
    for (int i = 1; i < count_; ++i)
      if (waiting_[i].displayNumber < waiting_[lowest].displayNumber) lowest = i;
    ok = send(waiting_[lowest], output);
    nextDisplay_ = waiting_[lowest].displayNumber + 1;
    waiting_[lowest] = waiting_[--count_];
  }
  waiting_[count_++] = info;
  return sendDue(output) && ok;
}

bool IndexReorder::flush(bufstream* output) {
  bool ok = true;
  while (count_ > 0) {
    int lowest = 0;
    for (int i = 1; i < count_; ++i)
      if (waiting_[i].displayNumber < waiting_[lowest].displayNumber) lowest = i;
    ok = send(waiting_[lowest], output) && ok;
    nextDisplay_ = waiting_[lowest].displayNumber + 1;
    waiting_[lowest] = waiting_[--count_];
  }
  return ok;
}

void IndexReorder::reset() {
  count_ = 0;
  nextDisplay_ = 0;
  lastAnchor_ = anchorBefore_ = -1;
}

}  // namespace quillion::corvel
