// SPDX-License-Identifier: GPL-2.0-or-later
#include "pack_writers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bufstream.h"
#include "engine.h"
#include "index_output.h"
#include "mpeg_crc32.h"
#include "settings.h"
#include "split_output.h"

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kProgramEndNotice = 0x1B9;
constexpr std::uint8_t kPrivateStream1 = 0xBD;
constexpr std::uint32_t kVcdAudioTail = 20;
constexpr std::uint8_t kSequenceEndCode[4] = {0, 0, 1, 0xB7};

bool carriesStdEveryPacket(const mpeg_m_muxer& mux) {
  return mux.settings.mux_type == kVcd || mux.settings.mux_type == kSvcd;
}

// Bytes one packet of the current step may take, pack header excluded. Every pack is a whole
// sector: the last packet of a pack takes what the division leaves.
std::size_t packetBudget(const mpeg_m_muxer& mux) {
  const std::size_t perPack = mux.sectorSize - packHeaderSize(mux.layout);
  const auto packets = static_cast<std::size_t>(mux.settings.packets_per_pack);
  std::size_t budget = perPack / packets;
  if (mux.packetsLeft == 1) budget += perPack % packets;
  return budget;
}

std::size_t privateHeaderSize(const Input& in) {
  if (!in.privateStream) return 0;
  if (in.kind == InputKind::subpicture) return 1;
  return in.audio.coding == kAudioLpcm ? 7 : 4;
}

std::size_t audioTail(const mpeg_m_muxer& mux, const Input& in) {
  return in.kind == InputKind::audio && mux.settings.mux_type == kVcd ? kVcdAudioTail : 0;
}

PesHeader headerFor(const mpeg_m_muxer& mux, const Input& in) {
  PesHeader h;
  h.streamId = in.privateStream ? kPrivateStream1 : in.streamId;
  h.stdFields = in.firstPacket;
  h.stdScale = in.stdScale;
  h.stdSize = in.stdSize;
  (void)mux;
  return h;
}

std::int32_t plainPayloadOf(const mpeg_m_muxer& mux, const Input& in, Stamps stamps) {
  PesHeader h = headerFor(mux, in);
  h.stamps = stamps;
  const std::size_t full = mux.sectorSize - packHeaderSize(mux.layout);
  const std::size_t used =
      pesHeaderSize(mux.layout, h) + privateHeaderSize(in) + audioTail(mux, in);
  return full > used ? static_cast<std::int32_t>(full - used) : 0;
}

std::int32_t writeSector(mpeg_m_muxer& mux, std::size_t size, const char* failure) {
  bool written = false;
  if (mux.scan)
    written = mux.scan->write(mux.sector, size);
  else if (mux.nav)
    written = stageBytes(mux, mux.sector, size);
  else
    written =
        mux.output->copybytes(mux.output, mux.sector, static_cast<std::uint32_t>(size)) == size;
  if (!written) {
    mux.services.error("%s", failure);
    return kResultFailure;
  }
  mux.bytePosition += size;
  mux.bytesInFile += size;
  return 0;
}

std::size_t beginPack(mpeg_m_muxer& mux, std::uint64_t scr) {
  return mux.packHeaderDue ? buildPackHeader(mux.sector, mux.layout, scr, mux.muxRate) : 0;
}

// Fills the rest of the packet after `payload` bytes were gathered into `room`: small
// shortfalls become header stuffing, larger ones a padding packet behind the payload.
struct Shortfall {
  std::size_t stuffing = 0;
  std::size_t padding = 0;
};

Shortfall shortfallOf(std::size_t room, std::size_t payload) {
  const std::size_t gap = room - payload;
  return gap < 8 ? Shortfall{gap, 0} : Shortfall{0, gap};
}

std::size_t systemStreams(const mpeg_m_muxer& mux, bool video, bool audio, SystemStream* out,
                          std::uint8_t& videoBound, std::uint8_t& audioBound) {
  std::size_t n = 0;
  videoBound = audioBound = 0;
  if (video) {
    for (int i = 0; i < mux.videoCount; ++i) {
      const Input& in = *mux.videos[i];
      out[n++] = SystemStream{in.streamId, in.stdScale, in.stdSize};
    }
    videoBound = static_cast<std::uint8_t>(mux.videoCount);
  }
  // Subpictures travel in private stream 1, listed once, between video and audio.
  if (video && audio && mux.subpictureCount > 0) {
    std::uint16_t size = 0;
    for (int i = 0; i < mux.subpictureCount; ++i)
      size = std::max(size, mux.subpictures[i]->stdSize);
    out[n++] = SystemStream{kPrivateStream1, 1, size};
  }
  if (audio) {
    for (int i = 0; i < mux.audioCount; ++i) {
      const Input& in = *mux.audios[i];
      const std::uint8_t id = in.privateStream ? kPrivateStream1 : in.streamId;
      SystemStream* same =
          std::find_if(out, out + n, [&](const SystemStream& s) { return s.streamId == id; });
      if (same != out + n) {
        if (in.stdScale == same->scale) same->size = std::max(same->size, in.stdSize);
        continue;
      }
      out[n++] = SystemStream{id, in.stdScale, in.stdSize};
    }
    audioBound = static_cast<std::uint8_t>(mux.audioCount);
  }
  return n;
}

std::size_t putSystemHeader(mpeg_m_muxer& mux, std::uint8_t* out, bool video, bool audio,
                            bool fixedAndCsps, bool locks) {
  SystemStream streams[16];
  SystemHeaderFields f;
  f.streamCount = systemStreams(mux, video, audio, streams, f.videoBound, f.audioBound);
  f.streams = streams;
  f.rateBound = mux.muxRate;
  f.fixedAndCsps = fixedAndCsps ? 3 : 0;
  f.audioLock = f.videoLock = locks;
  return buildSystemHeader(out, mux.layout, f);
}

constexpr std::size_t kNoScanBlock = ~std::size_t{0};

// Every picture of the first video input brings the next navigation pack nearer; a DVD
// navigation unit also keeps what it learns of the picture.
void countNavigationTime(mpeg_m_muxer& mux, const Input& in) {
  if (!isDvdType(mux.settings.mux_type)) return;
  if (!mux.audioAlignedNav)
    mux.navTime += in.video.framePeriod + (in.unit.repeatFirstField ? in.video.halfPeriod : 0);
  notePictureBegun(mux, in, in.unit);
}

// A navigation unit must begin with its I picture: the packet before it ends with the
// picture before.
bool opensNavigationUnit(const mpeg_m_muxer& mux, const Input& in, const AccessUnit& next) {
  return mux.videoCount > 0 && &in == mux.videos[0] && navigationDue(mux) && next.pictureType == 1;
}

// The output hears, for each unit, how many packs after its navigation pack this input's
// packet lies in which the frame playing at the unit's start (or a later one) begins; a
// subpicture's packet is the first whose unit is shown at or after that start.
void sendNavigationNotices(mpeg_m_muxer& mux, Input& in) {
  if (!in.navSide || mux.begunCount == 0) return;
  const auto duration = in.kind == InputKind::audio
                            ? static_cast<std::uint64_t>(in.audio.frameDuration)
                            : std::uint64_t{1};
  std::uint64_t end = 0;
  for (int i = 0; i < mux.begunCount; ++i) end = std::max(end, mux.begun[i].unit.pts + duration);
  const std::uint32_t code =
      in.kind == InputKind::subpicture ? kNavNoticeSubpictureSync : kNavNoticeAudioSync;
  while (in.navNoticeCount > 0) {
    const Input::NavNotice& n = in.navNotices[in.navNoticeHead];
    if (n.time >= end) return;
    std::uint32_t record[2] = {in.navSideValue, mux.packCount - n.pack};
    (void)mux.output->auxinfo(mux.output, 0, code, record, sizeof record);
    in.navNoticeHead = (in.navNoticeHead + 1) % Input::kMaxNavNotices;
    --in.navNoticeCount;
  }
}

// Bytes of the current unit still to write, inserted ones included.
std::size_t pendingBytes(const Input& in) {
  std::size_t n = in.unitLeft;
  for (int i = 0; i < in.insertionCount; ++i)
    if (!in.insertions[i].replaces) n += in.insertions[i].size - in.insertions[i].done;
  return n;
}

// Moves up to `limit` bytes of the input's current units into `out`, taking further units
// while room is left. `begun` counts units that began here and `firstBegin` the offset of the
// first. False after a failed read (message sent).
bool gather(mpeg_m_muxer& mux, Input& in, std::uint8_t* out, std::size_t limit, std::size_t& got,
            std::uint32_t& begun, std::size_t& firstBegin, std::size_t& scanAt) {
  got = 0;
  scanAt = kNoScanBlock;
  mux.begunCount = 0;
  while (got < limit && in.hasUnit) {
    if (in.unitFresh && belongsToNextFile(mux, in, in.unit)) break;
    if (in.unitFresh) {
      // Every unit begun here gets its index records: a packet holds no more than these.
      if (mux.begunCount == MuxJob::kMaxBegun) break;
      mux.begun[mux.begunCount++] = BegunUnit{in.unit, static_cast<std::uint32_t>(got)};
      if (begun++ == 0) firstBegin = got;
      in.unitFresh = false;
      if (in.kind == InputKind::audio) {
        in.frameCounter = (in.frameCounter + 1) % 20;
        noteAudioBegun(mux, in, in.unit);
      }
      if (mux.videoCount > 0 && &in == mux.videos[0]) countNavigationTime(mux, in);
    }
    Input::Insertion* due = nullptr;
    for (int i = 0; i < in.insertionCount && !due; ++i)
      if (in.insertions[i].done < in.insertions[i].size) due = &in.insertions[i];
    const std::uint32_t own = in.unit.size - in.unitLeft;
    if (due && due->at <= own) {
      if (due->scanBlock && due->done == 0) {
        // The scan fields are filled in later at one place: the block never straddles packets.
        if (limit - got < due->size) break;
        scanAt = got;
        in.scanTime = in.unit.pts;
      }
      if (due->replaces) {
        // The input's own block: read through it, then give it fields to fill.
        if (in.es->copybytes(in.es, out + got, due->size) != due->size) {
          mux.services.error("M033:Error reading up to the SVCD offset from the video input");
          return false;
        }
        std::memset(out + got + kScanFieldsOffset, 0xFF, due->size - kScanFieldsOffset);
        in.unitLeft -= due->size;
        due->done = due->size;
        got += due->size;
        if (in.std.add(static_cast<std::int32_t>(due->size), in.unit.dts) != 0) return false;
        continue;
      }
      const std::size_t n = std::min<std::size_t>(due->size - due->done, limit - got);
      std::memcpy(out + got, due->bytes + due->done, n);
      due->done += static_cast<std::uint32_t>(n);
      got += n;
      if (in.std.add(static_cast<std::int32_t>(n), in.unit.dts) != 0) return false;
      continue;
    }
    std::size_t n = std::min<std::size_t>(in.unitLeft, limit - got);
    if (due) n = std::min<std::size_t>(n, due->at - own);
    if (n > 0) {
      if (in.es->copybytes(in.es, out + got, static_cast<std::uint32_t>(n)) != n) {
        mux.services.error("M034:Error reading from the file or fifo input.");
        return false;
      }
      const std::uint64_t removal = in.kind == InputKind::video ? in.unit.dts : in.unit.pts;
      if (in.std.add(static_cast<std::int32_t>(n), removal) != 0) return false;
      in.unitLeft -= static_cast<std::uint32_t>(n);
      got += n;
    }
    if (in.unitLeft == 0 && !due) {
      if (mux.videoCount > 0 && &in == mux.videos[0]) notePictureEnded(mux, in.unit);
      advanceUnit(mux, in);
      // Players take an H.264 picture's times only from a PES header of its own: a packet in
      // which one picture began ends with it.
      if (in.kind == InputKind::video && in.video.coding == VideoCoding::h264 && begun > 0) break;
      // A subpicture unit is shown at its own time: each goes in packets of its own.
      if (in.kind == InputKind::subpicture) break;
    }
  }
  return true;
}

}  // namespace

std::int32_t packetPayloadPlain(const mpeg_m_muxer& mux, const Input& in) {
  return plainPayloadOf(mux, in, Stamps::none);
}

std::int32_t packetPayloadStamped(const mpeg_m_muxer& mux, const Input& in) {
  return plainPayloadOf(mux, in, in.kind == InputKind::video ? Stamps::ptsDts : Stamps::pts);
}

std::int32_t writeVideoPack(mpeg_m_muxer& mux, Input& in, std::uint64_t scr) {
  const std::uint64_t packStart = mux.bytesInFile;
  std::size_t pos = beginPack(mux, scr);
  const std::size_t budget = packetBudget(mux);
  PesHeader h = headerFor(mux, in);
  const std::size_t roomPlain = budget - pesHeaderSize(mux.layout, h);
  std::size_t room = roomPlain;
  std::size_t limit = roomPlain;
  const std::size_t pending = pendingBytes(in);
  const AccessUnit* starting = nullptr;
  bool endSequence = false;
  if (in.unitFresh) {
    starting = &in.unit;
  } else if (pending < roomPlain && peekUnit(mux, in) && !belongsToNextFile(mux, in, in.peeked) &&
             !opensNavigationUnit(mux, in, in.peeked)) {
    starting = &in.peeked;
  } else if (pending < roomPlain && in.havePeek && !belongsToNextFile(mux, in, in.peeked)) {
    limit = pending;
  } else if (pending < roomPlain && in.havePeek) {
    // The next picture opens the next file: this packet ends with the current one, and with
    // the end of the sequence when the caller wants files to end cleanly and it fits.
    limit = pending;
    endSequence = mux.settings.write_end_codes && !in.unit.endsSequence &&
                  pending + sizeof kSequenceEndCode <= roomPlain;
  }
  if (starting) {
    h.stamps =
        checkVideoTimestamps(mux, in, scr, starting->pts, starting->dts, starting->pictureType);
    h.pts = starting->pts;
    h.dts = starting->dts;
    // The first video input far ahead of the clock: the time until it is due, less half a
    // second, may be skipped.
    if (mux.settings.vbr && &in == mux.videos[0]) {
      const double ahead =
          static_cast<double>(starting->dts) - static_cast<double>(scr) - 13500000.0;
      mux.extraTime = ahead > 0 ? ahead : 0;
    }
    room = budget - pesHeaderSize(mux.layout, h);
    limit = room;
    if (starting == &in.peeked && pending >= room) {
      // With its time stamps the next picture would no longer begin here: end this packet
      // with the current picture instead.
      h.stamps = Stamps::none;
      room = roomPlain;
      limit = pending;
    }
  }
  std::uint8_t payload[4096];
  std::size_t got = 0, firstBegin = 0, scanAt = kNoScanBlock;
  std::uint32_t begun = 0;
  if (!gather(mux, in, payload, limit, got, begun, firstBegin, scanAt)) return kResultFailure;
  if (endSequence && got == pending) {
    std::memcpy(payload + got, kSequenceEndCode, sizeof kSequenceEndCode);
    got += sizeof kSequenceEndCode;
    if (in.std.add(sizeof kSequenceEndCode, in.unit.dts) != 0) return kResultFailure;
  }
  const Shortfall fill = shortfallOf(room, got);
  pos += buildPesHeader(mux.sector + pos, mux.layout, h, fill.stuffing, got);
  const std::size_t scanFields = pos + scanAt + kScanFieldsOffset;
  std::memcpy(mux.sector + pos, payload, got);
  pos += got;
  if (fill.padding) pos += buildPadding(mux.sector + pos, mux.layout, fill.padding);
  if (writeSector(mux, pos, "M027:Unable to write a video pack to program file") != 0)
    return kResultFailure;
  reportBegunUnits(mux, in, packStart, payload, got);
  if (scanAt != kNoScanBlock &&
      !mux.scan->addPicture(mux.packCount, pos - scanFields, in.scanTime)) {
    mux.services.error("M027:Unable to write a video pack to program file");
    return kResultFailure;
  }
  if (!carriesStdEveryPacket(mux)) in.firstPacket = false;
  in.firstInFile = false;
  return 0;
}

std::int32_t writeAudioPack(mpeg_m_muxer& mux, Input& in, std::uint64_t scr) {
  std::size_t pos = beginPack(mux, scr);
  const std::size_t tail = audioTail(mux, in);
  const std::size_t budget = packetBudget(mux) - tail;
  const std::size_t priv = privateHeaderSize(in);
  PesHeader h = headerFor(mux, in);
  const std::size_t roomPlain = budget - pesHeaderSize(mux.layout, h) - priv;
  std::size_t room = roomPlain;
  std::size_t limit = roomPlain;
  const AccessUnit* starting = nullptr;
  bool inside = false;
  if (in.unitFresh) {
    starting = &in.unit;
  } else if (audioClosesNavigationUnit(mux, in)) {
    // The unit ends with this frame: the next packet starts the next unit with a whole frame.
    limit = std::min<std::size_t>(in.unitLeft, roomPlain);
  } else if (in.kind != InputKind::subpicture && in.unitLeft < roomPlain && peekUnit(mux, in)) {
    if (belongsToNextFile(mux, in, in.peeked)) {
      limit = in.unitLeft;
    } else {
      starting = &in.peeked;
      inside = true;
    }
  }
  if (starting) {
    h.stamps = Stamps::pts;
    h.pts = starting->pts;
    room = budget - pesHeaderSize(mux.layout, h) - priv;
    limit = room;
    if (inside && in.unitLeft >= room) {
      h.stamps = Stamps::none;
      room = roomPlain;
      limit = in.unitLeft;
      starting = nullptr;
    }
  }
  if (starting && scr > starting->pts) {
    const double late = std::ceil(static_cast<double>(scr - starting->pts) / 27000.0);
    if (in.kind == InputKind::subpicture)
      mux.services.warning("M091:Subpic PTS underflow at pack %u by %.02fms", mux.packCount, late);
    else if (inside)
      mux.services.warning("M092:Audio PTS underflow at pack %u by %.02fms", mux.packCount, late);
    else
      mux.services.warning("M091:Audio PTS underflow at pack %u by %.02fms", mux.packCount, late);
    ++in.underflows;
  }
  std::uint8_t payload[4096];
  std::size_t got = 0, firstBegin = 0;
  std::uint32_t begun = 0;
  std::size_t noScan = kNoScanBlock;
  const std::uint64_t packStart = mux.bytesInFile;
  if (!gather(mux, in, payload, limit, got, begun, firstBegin, noScan)) return kResultFailure;
  sendNavigationNotices(mux, in);
  const Shortfall fill = shortfallOf(room, got);
  pos += buildPesHeader(mux.sector + pos, mux.layout, h, fill.stuffing, priv + got);
  if (priv) {
    std::uint8_t* p = mux.sector + pos;
    p[0] = in.subStreamId;
    const std::uint32_t pointer =
        begun ? static_cast<std::uint32_t>(firstBegin) + (priv == 7 ? 4 : 1) : 0;
    if (priv >= 4) {
      p[1] = static_cast<std::uint8_t>(begun);
      p[2] = static_cast<std::uint8_t>(pointer >> 8);
      p[3] = static_cast<std::uint8_t>(pointer);
    }
    if (priv == 7) {
      p[4] = static_cast<std::uint8_t>(in.audio.lpcmHeader[4] |
                                       (begun ? (in.frameCounter & 31) : 0x1F));
      p[5] = in.audio.lpcmHeader[5];
      p[6] = in.audio.lpcmHeader[6];
    }
    pos += priv;
  }
  std::memcpy(mux.sector + pos, payload, got);
  pos += got;
  if (fill.padding) pos += buildPadding(mux.sector + pos, mux.layout, fill.padding);
  std::memset(mux.sector + pos, 0, tail);
  pos += tail;
  if (writeSector(mux, pos,
                  in.kind == InputKind::subpicture
                      ? "M028:Unable to write a subpic pack to program file"
                      : "M028:Unable to write an audio pack to program file") != 0)
    return kResultFailure;
  reportBegunUnits(mux, in, packStart, payload, got);
  if (!carriesStdEveryPacket(mux)) in.firstPacket = false;
  in.firstInFile = false;
  return 0;
}

std::int32_t writePaddingPack(mpeg_m_muxer& mux, std::uint64_t scr) {
  std::size_t pos = beginPack(mux, scr);
  std::size_t tail = 0;
  if (mux.packHeaderDue && (mux.firstPack || mux.vcdAudioHeaderDue)) {
    if (mux.settings.mux_type == kVcd) {
      if (mux.firstPack && mux.videoCount > 0) {
        pos += putSystemHeader(mux, mux.sector + pos, true, false, mux.videoCount <= 1, true);
      } else {
        pos += putSystemHeader(mux, mux.sector + pos, false, true, true, true);
        mux.vcdAudioHeaderDue = false;
        if (mux.settings.vcd_audio_pad) tail = kVcdAudioTail;
      }
    } else {
      const bool svcd = mux.settings.mux_type == kSvcd;
      pos += putSystemHeader(mux, mux.sector + pos, true, true, false, svcd);
    }
    mux.firstPack = false;
  }
  const std::size_t packetEnd =
      (mux.packHeaderDue ? packHeaderSize(mux.layout) : 0) + packetBudget(mux);
  pos += buildPadding(mux.sector + pos, mux.layout, packetEnd - pos - tail, tail);
  return writeSector(mux, pos, "M029:Unable to write a padding pack to program file");
}

std::size_t buildStreamMap(const mpeg_m_muxer& mux, std::uint8_t* out) {
  std::uint8_t* p = out + 12;
  for (int i = 0; i < mux.videoCount; ++i) {
    const Input& in = *mux.videos[i];
    *p++ = in.video.coding == VideoCoding::h264    ? 0x1B
           : in.video.coding == VideoCoding::mpeg2 ? 0x02
                                                   : 0x01;
    *p++ = in.streamId;
    *p++ = 0;
    *p++ = 0;
  }
  for (int i = 0; i < mux.audioCount; ++i) {
    const Input& in = *mux.audios[i];
    // Players read AAC in ADTS frames by the ADTS stream type, whichever MPEG names its ID bit.
    const bool aac = in.audio.coding == kAudioAacId1 || in.audio.coding == kAudioAacId0;
    *p++ = in.audio.coding == kAudioAc3 ? 0x81 : aac ? 0x0F : 0x03;
    *p++ = in.privateStream ? kPrivateStream1 : in.streamId;
    *p++ = 0;
    *p++ = 0;
  }
  const auto entries = static_cast<std::size_t>(p - (out + 12));
  const std::size_t length = 6 + entries + 4;
  out[0] = 0;
  out[1] = 0;
  out[2] = 1;
  out[3] = 0xBC;
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length);
  out[6] = 0xE0;
  out[7] = 0xFF;
  out[8] = 0;
  out[9] = 0;
  out[10] = static_cast<std::uint8_t>(entries >> 8);
  out[11] = static_cast<std::uint8_t>(entries);
  const std::uint32_t crc = mpeg::mpegCrc32(out, static_cast<std::size_t>(p - out));
  for (int i = 0; i < 4; ++i) *p++ = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  return static_cast<std::size_t>(p - out);
}

std::int32_t writeStreamMapPack(mpeg_m_muxer& mux, std::uint64_t scr) {
  std::size_t pos = beginPack(mux, scr);
  pos += putSystemHeader(mux, mux.sector + pos, true, true, false, false);
  mux.firstPack = false;
  pos += buildStreamMap(mux, mux.sector + pos);
  const std::size_t packetEnd =
      (mux.packHeaderDue ? packHeaderSize(mux.layout) : 0) + packetBudget(mux);
  if (packetEnd > pos) pos += buildPadding(mux.sector + pos, mux.layout, packetEnd - pos);
  return writeSector(mux, pos, "M029:Unable to write a PSM pack to program file");
}

namespace {

constexpr std::uint8_t kPrivateStream2 = 0xBF;
constexpr std::size_t kNavBody = 38;

std::uint8_t* putNavWord(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) *p++ = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  return p;
}

std::uint8_t* putPacketStart(std::uint8_t* p, std::uint8_t id, std::uint16_t length) {
  *p++ = 0;
  *p++ = 0;
  *p++ = 1;
  *p++ = id;
  *p++ = static_cast<std::uint8_t>(length >> 8);
  *p++ = static_cast<std::uint8_t>(length);
  return p;
}

// The system header every navigation pack carries: the DVD's fixed buffer bounds.
void putNavSystemHeader(const mpeg_m_muxer& mux, std::uint8_t* p) {
  static constexpr std::uint8_t kBounds[12] = {0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20,
                                               0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
  const std::uint32_t rate = mux.muxRate;
  p = putPacketStart(p, 0xBB, 18);
  *p++ = static_cast<std::uint8_t>((rate >> 15) | 0x80);
  *p++ = static_cast<std::uint8_t>(rate >> 7);
  *p++ = static_cast<std::uint8_t>(((rate & 0x7F) << 1) | 1);
  *p++ = static_cast<std::uint8_t>(mux.audioCount << 2);
  *p++ = 0xE1;
  *p++ = 0x7F;
  std::memcpy(p, kBounds, sizeof kBounds);
}

// Presentation control and data search information: the fields known now; the rest follows
// once the unit is complete.
void putPciDsi(std::uint8_t* p, std::uint64_t scr, std::uint32_t block) {
  std::memset(p, 0, kNavSector - kNavBody);
  std::uint8_t* q = putPacketStart(p, kPrivateStream2, 980);
  *q++ = 0x00;
  putNavWord(q, block);
  q = putPacketStart(p + 986, kPrivateStream2, 1018);
  *q++ = 0x01;
  q = putNavWord(q, static_cast<std::uint32_t>(scr / 300));
  putNavWord(q, block);
}

// The DVD-VR data packet: the video's presentation time and the caller's extension block.
void putVrData(const mpeg_m_muxer& mux, std::uint8_t* p) {
  std::memset(p, 0, kNavSector - kNavBody);
  std::uint8_t* q = putPacketStart(p, kPrivateStream2, 2004);
  *q++ = 0x50;
  q += 2;
  std::uint64_t time = 0;
  if (mux.videoCount > 0) {
    const Input& v = *mux.videos[0];
    time = v.unit.pts > v.offset ? v.unit.pts - v.offset : 0;
  }
  q = putNavWord(q, static_cast<std::uint32_t>(time / 300));
  *q++ = static_cast<std::uint8_t>((time % 300) >> 8);
  *q++ = static_cast<std::uint8_t>(time % 300);
  q += 3;
  std::memset(q, 0xFF, 5);
  q += 10;
  std::memcpy(q, mux.extension, 3);
  q += 6;
  std::memcpy(q, mux.extension + 3, sizeof mux.extension - 3);
}

}  // namespace

std::int32_t writeNavPack(mpeg_m_muxer& mux, std::uint64_t scr) {
  if (mux.sectorSize != kNavSector) {
    mux.services.error("M030:DVD sector size must be 2048 bytes.");
    return kResultFailure;
  }
  const std::uint32_t block = mux.packCount + mux.firstBlock;
  if (mux.nav && !beginVobu(mux, scr, block)) {
    mux.services.error("M031:Unable to write a DVD nav pack to program file");
    return kResultFailure;
  }
  // A navigation pack always begins a pack of its own.
  const std::size_t header = buildPackHeader(mux.sector, mux.layout, scr, mux.muxRate);
  putNavSystemHeader(mux, mux.sector + header);  // 24 bytes
  mux.firstPack = false;
  std::uint8_t* body = mux.sector + kNavBody;
  const std::int32_t type = mux.settings.mux_type;
  if (!mux.settings.private_stream_2)
    (void)buildPadding(body, mux.layout, kNavSector - kNavBody);
  else if (type == kDvd || type == kDvdMpeg1)
    putPciDsi(body, scr, block);
  else
    putVrData(mux, body);
  queueNavigationNotices(mux);
  mux.lastNavPack = mux.packCount;
  if (writeSector(mux, kNavSector, "M031:Unable to write a DVD nav pack to program file") != 0)
    return kResultFailure;
  // On request every stream's first packet of the unit says its buffer size again.
  if (mux.outputInfo.flags & 0x80) {
    for (int i = 0; i < mux.videoCount; ++i) mux.videos[i]->firstPacket = true;
    for (int i = 0; i < mux.audioCount; ++i)
      if (mux.audios[i]->audio.coding != kAudioLpcm) mux.audios[i]->firstPacket = true;
  }
  return 0;
}

std::int32_t writeLastPack(mpeg_m_muxer& mux, std::uint64_t scr) {
  const std::int32_t type = mux.settings.mux_type;
  std::size_t pos = 0;
  if (type != kMpeg1System && type != kMpeg2Program) {
    pos = buildPackHeader(mux.sector, mux.layout, scr, mux.muxRate);
    pos += buildPadding(mux.sector + pos, mux.layout, mux.sectorSize - pos - 4);
  }
  const std::uint8_t end[4] = {0, 0, 1, 0xB9};
  std::memcpy(mux.sector + pos, end, 4);
  pos += 4;
  if (writeSector(mux, pos, "M026:Unable to write the last pack to program file") != 0)
    return kResultFailure;
  (void)mux.output->auxinfo(mux.output, 0, kProgramEndNotice, nullptr, 0);
  ++mux.packCount;
  return 0;
}

}  // namespace quillion::corvel
