// SPDX-License-Identifier: GPL-2.0-or-later
#include "index_output.h"

#include <algorithm>

#include "bufstream.h"
#include "settings.h"

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kEntryPointNotice = 0xE0002;
constexpr std::uint8_t kExtendedRecordsAsked = 0x02;  // flag byte of mux_output_info
constexpr std::uint32_t kPrivateStream1Id = 0x1BD;
constexpr std::size_t kExtendedStartBytes = 512;

bool extendedAsked(const mpeg_m_muxer& mux) {
  return (mux.outputInfo.flags & kExtendedRecordsAsked) != 0;
}

std::uint32_t systemTypeOf(const mpeg_m_muxer& mux) {
  return isMpeg1Type(mux.settings.mux_type) ? 1 : 2;
}

void notify(mpeg_m_muxer& mux, std::uint32_t code, std::uint8_t* data, std::size_t size) {
  (void)mux.output->auxinfo(mux.output, 0, code, data, static_cast<std::uint32_t>(size));
}

void sendExtended(mpeg_m_muxer& mux, std::uint32_t code, const ExtendedRecord& record) {
  std::uint8_t bytes[kExtendedRecordSize];
  encodeExtendedRecord(record, bytes);
  notify(mux, code, bytes, sizeof bytes);
}

void sendVideoHeader(mpeg_m_muxer& mux, const Input& in) {
  VideoIndexHeader h;
  h.systemType = systemTypeOf(mux);
  h.streamId = in.streamId;
  h.pid = in.params.pid;
  // Pictures are shown at the coded rate unless fields are repeated: by the multiplexer's
  // own pulldown, or by the stream's flags when it follows them (mode 3).
  const bool streamRepeats = in.hasUnit && in.unit.repeatFirstField;
  const std::int32_t mode = mux.settings.pulldown;
  h.pulldownCode = (mode == 0 || (mode == 3 && !streamRepeats)) ? 0 : 2;
  h.sequence = in.video.sequenceHeader;
  h.sequenceSize = in.video.sequenceHeaderSize;
  std::uint8_t bytes[kVideoIndexHeaderSize];
  encodeVideoIndexHeader(h, bytes);
  notify(mux, kVideoIndexHeaderNotice, bytes, sizeof bytes);
  if (!extendedAsked(mux)) return;
  ExtendedRecord r;
  r.time = in.hasUnit ? in.unit.pts : 0;
  r.size = in.video.sequenceHeaderSize;
  r.word = static_cast<std::uint32_t>(in.video.frameRateCode);
  r.startLength = in.video.sequenceHeaderSize;
  r.start = in.video.sequenceHeader;
  sendExtended(mux, kVideoExtendedHeaderNotice, r);
}

void sendAudioHeader(mpeg_m_muxer& mux, const Input& in) {
  AudioIndexHeader h;
  h.systemType = systemTypeOf(mux);
  h.streamId = in.privateStream ? kPrivateStream1Id : in.streamId;
  h.subStreamId = in.subStreamId;
  h.pid = in.params.pid;
  h.formatCode = static_cast<std::uint32_t>(in.audio.coding);
  h.header = in.audio.firstBytes;
  h.headerSize = in.audio.firstBytesSize;
  // LPCM packets open with a private header that a reader needs to take the samples apart.
  std::uint8_t extra[7] = {in.subStreamId, 0, 0, 0, 0, 0, 0};
  if (in.audio.coding == kAudioLpcm) {
    std::copy(in.audio.lpcmHeader + 4, in.audio.lpcmHeader + 7, extra + 4);
    h.extra = extra;
    h.extraSize = sizeof extra;
  }
  std::uint8_t bytes[kAudioIndexHeaderSize];
  encodeAudioIndexHeader(h, bytes);
  notify(mux, kAudioIndexHeaderNotice, bytes, sizeof bytes);
  if (!extendedAsked(mux)) return;
  ExtendedRecord r;
  r.time = in.hasUnit ? in.unit.pts : 0;
  r.size = in.audio.frameSize;
  r.word = static_cast<std::uint32_t>(in.audio.coding);
  r.startLength = in.audio.firstBytesSize;
  r.start = in.audio.firstBytes;
  sendExtended(mux, kAudioExtendedHeaderNotice, r);
}

// A Video CD player jumps to entry points: every I picture of the first video input.
bool sendsEntryPoints(const mpeg_m_muxer& mux) {
  return mux.settings.mux_type == kVcd || (mux.settings.mux_type == kSvcd && !mux.scan);
}

void reportPicture(mpeg_m_muxer& mux, Input& video, const BegunUnit& b, std::uint8_t ordinal,
                   std::uint64_t packStart, const std::uint8_t* payload, std::size_t payloadSize) {
  const AccessUnit& u = b.unit;
  VauInfo info;
  info.position = packStart;
  info.ordinal = ordinal;
  info.pictureType = static_cast<std::uint8_t>(u.pictureType);
  info.temporalReference = static_cast<std::uint16_t>(u.temporalReference);
  info.decodeNumber = u.decodeIndex;
  info.displayNumber = u.displayIndex;
  info.time = u.pts;
  (void)video.index.add(info, mux.output);
  if (u.pictureType == 1 && sendsEntryPoints(mux)) {
    const std::uint32_t since =
        mux.lastEntryPicture < 0 ? 0
                                 : u.decodeIndex - static_cast<std::uint32_t>(mux.lastEntryPicture);
    std::uint32_t words[4] = {mux.packCount, since, 0, u.decodeIndex};
    notify(mux, kEntryPointNotice, reinterpret_cast<std::uint8_t*>(words), sizeof words);
    mux.lastEntryPicture = u.decodeIndex;
  }
  if (!extendedAsked(mux)) return;
  ExtendedRecord r;
  r.time = u.pts;
  r.size = u.size;
  r.word = u.pictureType | (u.flags << 16);
  r.position = packStart;
  r.repeat = u.repeatFirstField ? 1 : 0;
  r.startLength = static_cast<std::uint32_t>(std::min(kExtendedStartBytes, payloadSize - b.offset));
  r.start = payload + b.offset;
  sendExtended(mux, kVideoExtendedUnitNotice, r);
}

void reportAudioFrame(mpeg_m_muxer& mux, const BegunUnit& b, std::uint32_t index,
                      std::uint64_t packStart, const std::uint8_t* payload,
                      std::size_t payloadSize) {
  AauInfo info;
  info.position = packStart;
  info.frame = index;
  info.time = b.unit.pts;
  std::uint8_t bytes[kAauInfoSize];
  encodeAauInfo(info, bytes);
  notify(mux, kAudioIndexEntryNotice, bytes, sizeof bytes);
  if (!extendedAsked(mux)) return;
  ExtendedRecord r;
  r.time = b.unit.pts;
  r.size = b.unit.size;
  r.position = packStart;
  r.startLength = static_cast<std::uint32_t>(std::min(kExtendedStartBytes, payloadSize - b.offset));
  r.start = payload + b.offset;
  sendExtended(mux, kAudioExtendedUnitNotice, r);
}

}  // namespace

void sendIndexHeaders(mpeg_m_muxer& mux) {
  if (mux.videoCount > 0) sendVideoHeader(mux, *mux.videos[0]);
  if (mux.audioCount > 0) sendAudioHeader(mux, *mux.audios[0]);
}

void reportBegunUnits(mpeg_m_muxer& mux, const Input& in, std::uint64_t packStart,
                      const std::uint8_t* payload, std::size_t payloadSize) {
  const bool firstVideo = mux.videoCount > 0 && &in == mux.videos[0];
  const bool firstAudio = mux.audioCount > 0 && &in == mux.audios[0];
  for (int i = 0; i < mux.begunCount; ++i) {
    if (firstVideo)
      reportPicture(mux, *mux.videos[0], mux.begun[i], static_cast<std::uint8_t>(i + 1), packStart,
                    payload, payloadSize);
    else if (firstAudio)
      reportAudioFrame(mux, mux.begun[i], static_cast<std::uint32_t>(i + 1), packStart, payload,
                       payloadSize);
  }
}

}  // namespace quillion::corvel
