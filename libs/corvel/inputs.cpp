// SPDX-License-Identifier: GPL-2.0-or-later
#include "inputs.h"

#include <cstring>
#include <new>

#include "bufstream.h"
#include "pack_writers.h"
#include "push_units.h"
#include "settings.h"
#include "stream_headers.h"
#include "subpicture_file.h"

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kVideoReaderBuffer = 131328;
constexpr std::uint32_t kUnitsReaderBuffer = 32768;
constexpr std::uint32_t kAudioReaderBuffer = 32768;
constexpr std::uint32_t kOptionStill = 1;
constexpr std::uint32_t kOptionSizeNotice = 2;
constexpr std::uint32_t kOptionNoScanOffsets = 4;
constexpr std::uint32_t kOptionSubpictureFile = 8;
constexpr std::uint32_t kUnitFifoChunk = 4097;

std::uint32_t readU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void fillPool(std::uint8_t* pool, std::uint8_t first) {
  for (int i = 0; i < 8; ++i) pool[i] = static_cast<std::uint8_t>(first + i);
}

// Takes `id` out of every pool that holds it, so no other input is given it.
void withhold(mpeg_m_muxer& mux, std::uint8_t id) {
  for (std::uint8_t* pool : {mux.videoIds, mux.mpegAudioIds, mux.ac3Ids, mux.lpcmIds})
    for (int i = 0; i < 8; ++i)
      if (pool[i] == id) pool[i] = 0;
  for (std::uint8_t& entry : mux.subpictureIds)
    if (entry == id) entry = 0;
}

// The first free id of a pool, which is then taken; 0 when none is left.
std::uint8_t takeFrom(std::uint8_t* pool, int size = 8) {
  for (int i = 0; i < size; ++i) {
    if (pool[i] != 0) {
      const std::uint8_t id = pool[i];
      pool[i] = 0;
      return id;
    }
  }
  return 0;
}

bool takesSizeNotice(const Input& in) {
  return (in.params.kind & (kOptionStill | kOptionSizeNotice)) ==
         (kOptionStill | kOptionSizeNotice);
}

std::uint32_t videoBufferKiB(const mpeg_m_muxer& mux, const Input& in) {
  // A still-picture input sized by the caller's notice holds one whole picture.
  if (takesSizeNotice(in) && in.noticedKiB && in.video.horizontalSize == 704) return in.noticedKiB;
  if (in.params.bufferKiB && !takesSizeNotice(in)) return in.params.bufferKiB;
  switch (mux.settings.mux_type) {
    case kVcd:
    case kDvdMpeg1:
    case kDvdVrMpeg1:
      return 46;
    case kSvcd:
      return 230;
    case kDvd:
    case kDvdVr:
      return 232;
    default:
      return 2 * in.video.vbvSize;
  }
}

void setVideoBuffer(const mpeg_m_muxer& mux, Input& in) {
  const std::uint32_t kib = videoBufferKiB(mux, in);
  in.bufferBytes = kib * 1024;
  in.stdScale = 1;
  in.stdSize = static_cast<std::uint16_t>(kib & 0x1FFF);
}

void releaseInput(mpeg_m_muxer& mux, Input* in, bool abort) {
  if (in->pushed) {
    // The producer's stream outlives the job: later notices must not reach this record.
    if (in->es && in->es->drive_chain == in) {
      in->es->auxinfo = in->savedAuxinfo;
      in->es->drive_chain = in->savedDriveChain;
    }
    free_fifo_buf(in->unitFifo);
  } else if (!in->callerOwned) {
    // The subpicture file reader is finished by its own free.
    if (in->es && in->kind == InputKind::subpicture && (in->params.kind & kOptionSubpictureFile)) {
      in->es->free(in->es);
      in->es = nullptr;
    }
    if (in->es) (void)close_file_buf(in->es, abort);
    if (in->units) (void)close_file_buf(in->units, abort);
  }
  const mpeg::Services services = mux.services;
  in->~Input();
  services.release(in);
}

struct PoolSnapshot {
  std::uint8_t ids[4][8];
  std::uint8_t subpictures[32];
  static PoolSnapshot of(const mpeg_m_muxer& mux) {
    PoolSnapshot s;
    std::memcpy(s.ids[0], mux.videoIds, 8);
    std::memcpy(s.ids[1], mux.mpegAudioIds, 8);
    std::memcpy(s.ids[2], mux.ac3Ids, 8);
    std::memcpy(s.ids[3], mux.lpcmIds, 8);
    std::memcpy(s.subpictures, mux.subpictureIds, 32);
    return s;
  }
  void restore(mpeg_m_muxer& mux) const {
    std::memcpy(mux.videoIds, ids[0], 8);
    std::memcpy(mux.mpegAudioIds, ids[1], 8);
    std::memcpy(mux.ac3Ids, ids[2], 8);
    std::memcpy(mux.lpcmIds, ids[3], 8);
    std::memcpy(mux.subpictureIds, subpictures, 32);
  }
};

std::int32_t refuseInput(mpeg_m_muxer& mux, Input* in, const char* message) {
  if (message) mux.services.error("%s", message);
  releaseInput(mux, in, false);
  return kResultFailure;
}

// A pushed input's first bytes are looked at in its elementary stream itself: its units
// reader holds unit records, not stream data.
bufstream* headerSource(const Input& in) {
  return in.pushed ? in.es : in.units;
}

std::int32_t setUpVideo(mpeg_m_muxer& mux, Input& in) {
  const std::uint32_t window = 2 * static_cast<std::uint32_t>(packetPayloadPlain(mux, in));
  if (analyseVideoHeader(headerSource(in), window, in.bitRate, in.video) != 0)
    return kResultFailure;
  if (in.streamId == 0) in.streamId = takeFrom(mux.videoIds);
  // Stream id 0 would write a picture start code where a packet should begin.
  if (in.streamId == 0) return kResultFailure;
  setVideoBuffer(mux, in);
  in.byteRate = in.video.bitRate400 * 50;
  if (in.video.coding == VideoCoding::h264)
    in.byteRate += static_cast<std::uint32_t>(0.1875 * static_cast<double>(in.video.cpbBytes));
  if (in.pushed) return 0;
  in.videoReader.emplace(in.units, in.video, mux.settings.pulldown, mux.services);
  in.videoReader->findScanBlocks(mux.settings.mux_type == kSvcd && mux.settings.svcd_scan_offsets &&
                                 !(in.params.kind & kOptionNoScanOffsets));
  return 0;
}

std::int32_t setUpAudio(mpeg_m_muxer& mux, Input& in) {
  if (analyseAudioHeader(headerSource(in), in.bitRate, in.audio) != 0) return kResultFailure;
  const bool mpegAudio = (in.audio.coding >= kAudioLayer1 && in.audio.coding <= kAudioLayer3) ||
                         in.audio.coding == kAudioAacId1 || in.audio.coding == kAudioAacId0;
  if (mpegAudio) {
    if (in.streamId == 0) in.streamId = takeFrom(mux.mpegAudioIds);
    if (in.streamId == 0) return kResultFailure;
    const std::uint32_t bytes = (in.params.bufferKiB ? in.params.bufferKiB : 4) * 1024;
    in.bufferBytes = bytes;
    in.stdScale = 0;
    in.stdSize = static_cast<std::uint16_t>((bytes / 128) & 0x1FFF);
  } else {
    in.privateStream = true;
    if (in.subStreamId == 0)
      in.subStreamId = takeFrom(in.audio.coding == kAudioAc3 ? mux.ac3Ids : mux.lpcmIds);
    if (in.subStreamId == 0) return kResultFailure;
    const std::uint32_t kib = in.params.bufferKiB ? in.params.bufferKiB : 58;
    in.bufferBytes = kib * 1024;
    in.stdScale = 1;
    in.stdSize = static_cast<std::uint16_t>(kib & 0x1FFF);
  }
  in.byteRate = in.audio.bitRate / 8;
  // The headers were read through the units reader, so the payload reader has buffered
  // nothing yet: it hands out the stream as it is meant to be, swapped pairs put right and
  // the producer's own header left behind.
  // A producer's stream has no reader that could swap it: its notice slot is ours.
  if (in.audio.byteSwapped && in.pushed) return kResultFailure;
  if (in.audio.byteSwapped) (void)in.es->auxinfo(in.es, 0, BUFSTREAM_AUX_BYTE_SWAP, nullptr, 0);
  if (in.audio.headerBytes) {
    std::uint8_t skipped[16];
    if (in.es->copybytes(in.es, skipped, in.audio.headerBytes) != in.audio.headerBytes)
      return kResultFailure;
  }
  if (!in.pushed) in.audioReader.emplace(in.units, in.audio);
  return 0;
}

std::int32_t setUpSubpicture(mpeg_m_muxer& mux, Input& in) {
  if (!headerSource(in)->request(headerSource(in), 4)) return kResultFailure;
  in.privateStream = true;
  if (in.subStreamId == 0) in.subStreamId = takeFrom(mux.subpictureIds, 32);
  if (in.subStreamId == 0) return kResultFailure;
  const std::uint32_t kib = in.params.bufferKiB ? in.params.bufferKiB : 52;
  in.bufferBytes = kib * 1024;
  in.stdScale = 1;
  in.stdSize = static_cast<std::uint16_t>(kib & 0x1FFF);
  if (!in.pushed)
    in.subpictureReader.emplace(in.units, (in.params.kind & kOptionSubpictureFile) != 0);
  return 0;
}

// The stream facts, ids and buffer model of an input, from its first bytes.
std::int32_t analyseInput(mpeg_m_muxer& mux, Input& in) {
  std::int32_t r = 0;
  if (in.kind == InputKind::video)
    r = setUpVideo(mux, in);
  else if (in.kind == InputKind::subpicture)
    r = setUpSubpicture(mux, in);
  else
    r = setUpAudio(mux, in);
  if (r != 0) return r;
  in.analysed = true;
  return in.std.create(static_cast<std::int32_t>(in.bufferBytes), mux.services);
}

// Unit fifo sizes of pushed inputs: records for about one second at the expected rate.
std::uint32_t unitFifoSize(const Input& in) {
  const std::uint32_t rate = in.params.expectedRate;
  switch (in.kind) {
    case InputKind::video:
      return rate ? rate / 54 * 72 : 32768;
    case InputKind::audio:
      return rate ? rate / 32 * 16 : 262144;
    case InputKind::subpicture:
      break;
  }
  return rate ? rate / 8 * 16 : 32768;
}

}  // namespace

StreamParameters readStreamSettings(const stream_settings& raw) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(&raw);
  StreamParameters p;
  p.streamId = b[0];
  p.subStreamId = b[1];
  p.pid = readU32(b + 2);
  p.bufferKiB = readU32(b + 6);
  p.delayMs = readU32(b + 10);
  p.kind = readU32(b + 14);
  p.expectedRate = readU32(b + 26);
  p.picturesPerUnit = readU32(b + 30);
  return p;
}

void setUpOutput(mpeg_m_muxer& mux, const mux_output_info* info) {
  if (info) {
    mux.outputInfo = *info;
    if (info->extension) {
      std::memcpy(mux.extension, info->extension, sizeof mux.extension);
      mux.hasExtension = true;
    }
  }
  if (!isDvdType(mux.settings.mux_type)) mux.outputInfo.flags &= 0x7F;
  fillPool(mux.videoIds, 0xE0);
  fillPool(mux.mpegAudioIds, 0xC0);
  fillPool(mux.ac3Ids, 0x80);
  fillPool(mux.lpcmIds, 0xA0);
  for (int i = 0; i < 32; ++i) mux.subpictureIds[i] = static_cast<std::uint8_t>(0x20 + i);
  mux.bytePosition = mux.bytesInFile = 0;
  mux.packetsLeft = mux.settings.packets_per_pack;
  mux.layout.mpeg1 = isMpeg1Type(mux.settings.mux_type);
  mux.layout.vcd = mux.settings.mux_type == kVcd;
  mux.layout.svcd = mux.settings.mux_type == kSvcd;
  mux.sectorSize = static_cast<std::uint32_t>(mux.settings.sector_size);
}

namespace {

// The first video input of a DVD starts the navigation data; every audio and subpicture
// input gets a table of its own at the output.
std::int32_t setUpDvdNavigation(mpeg_m_muxer& mux, Input& in, bool pushed) {
  const std::int32_t type = mux.settings.mux_type;
  if (in.kind != InputKind::video) {
    if (!writesDvdVideoNavigation(mux)) return 0;
    const std::uint32_t code =
        in.kind == InputKind::audio ? kNavNoticeAudioTable : kNavNoticeSubpictureTable;
    in.navSide = true;
    in.navSideValue =
        static_cast<std::uint32_t>(mux.output->auxinfo(mux.output, 0, code, nullptr, 0));
    return 0;
  }
  if (mux.videoCount > 0 || mux.nav) return 0;
  if (writesDvdVideoNavigation(mux)) {
    if (setUpNavigation(mux) != 0) return kResultFailure;
    (void)mux.output->auxinfo(mux.output, 0, kNavNoticeStart, nullptr, 0);
    if (pushed) (void)mux.output->auxinfo(mux.output, 0, kNavNoticeCell, nullptr, 0);
    mux.navMarks = new_fifo_buf(1024, 513);
    if (!mux.navMarks) {
      releaseNavigation(mux);
      return kResultFailure;
    }
    return 0;
  }
  if ((type == kDvdVr || type == kDvdVrMpeg1) && mux.settings.private_stream_2 &&
      (mux.outputInfo.options & 1))
    return setUpNavigation(mux);
  return 0;
}

std::int32_t openAnyInput(mpeg_m_muxer& mux, const stream_settings& settings, const char* name,
                          bufstream* es, bufstream* units, std::uint32_t bitRate, bool pushed) {
  const StreamParameters params = readStreamSettings(settings);
  InputKind kind;
  if (params.kind & STREAM_KIND_VIDEO) {
    kind = InputKind::video;
    if (mux.videoCount == MuxJob::kMaxVideo) return kResultFailure;
    if ((params.kind & (kOptionSizeNotice | kOptionNoScanOffsets)) && !(params.kind & kOptionStill))
      return kResultFailure;
  } else if (params.kind & STREAM_KIND_AUDIO) {
    kind = InputKind::audio;
    if (mux.audioCount == MuxJob::kMaxAudio) return kResultFailure;
  } else if (params.kind & STREAM_KIND_SUBPICTURE) {
    kind = InputKind::subpicture;
    if (mux.subpictureCount == MuxJob::kMaxSubpicture) return kResultFailure;
  } else {
    return kResultFailure;
  }
  void* block = mux.services.allocate(sizeof(Input));
  if (!block) {
    if (kind == InputKind::audio)
      mux.services.error("Unable to allocate %d bytes for an audio stream instance", 4736);
    return kResultFailure;
  }
  auto* in = new (block) Input;
  // A refused input leaves the pools as they were.
  const PoolSnapshot pools = PoolSnapshot::of(mux);
  const auto refuse = [&](const char* message) {
    pools.restore(mux);
    return refuseInput(mux, in, message);
  };
  in->kind = kind;
  in->owner = &mux;
  in->params = params;
  in->bitRate = bitRate;
  if (in->params.delayMs == 0)
    in->params.delayMs = static_cast<std::uint32_t>(
        kind == InputKind::audio ? mux.settings.audio1_delay : mux.settings.video_delay);
  // Ids the caller names are theirs; no other input may be given them.
  in->streamId = params.streamId;
  in->subStreamId = params.subStreamId;
  if (params.streamId) withhold(mux, params.streamId);
  if (params.subStreamId) withhold(mux, params.subStreamId);

  const bool video = kind == InputKind::video;
  if (name && kind == InputKind::subpicture) {
    in->es = (params.kind & kOptionSubpictureFile)
                 ? openSubpictureFile(name, mux.services)
                 : open_file_buf_read(name, kAudioReaderBuffer, nullptr);
    if (!in->es) return refuse("M006:Unable to open subpic file");
    in->units = open_file_buf_read(name, kUnitsReaderBuffer, nullptr);
    if (!in->units) return refuse("M010:Unable to open subpic units file");
  } else if (name) {
    in->es = open_file_buf_read(name, video ? kVideoReaderBuffer : kAudioReaderBuffer, nullptr);
    if (!in->es)
      return refuse(video ? "M005:Unable to open video file" : "M006:Unable to open audio file");
    in->units = open_file_buf_read(name, kUnitsReaderBuffer, nullptr);
    if (!in->units)
      return refuse(video ? "M008:Unable to open video units file"
                          : "M010:Unable to open audio units file");
  } else if (pushed) {
    in->es = es;
    in->pushed = true;
    in->callerOwned = true;
    in->unitFifo = new_fifo_buf(unitFifoSize(*in), kUnitFifoChunk);
    if (!in->unitFifo) return refuse(nullptr);
    in->units = in->unitFifo + 1;
  } else {
    in->es = es;
    in->units = units;
    in->callerOwned = true;
  }
  // A pushed input is analysed once its first unit is there.
  if (!pushed) {
    if (video) {
      if (setUpVideo(mux, *in) != 0)
        return refuse("M009:Unable to get the first video header from file");
    } else if (kind == InputKind::subpicture) {
      if (setUpSubpicture(mux, *in) != 0)
        return refuse("M011:Unable to get the first subpic header from file");
    } else if (setUpAudio(mux, *in) != 0) {
      return refuse("M011:Unable to get the first audio header from file");
    }
    if (in->std.create(static_cast<std::int32_t>(in->bufferBytes), mux.services) != 0)
      return refuse(nullptr);
    in->analysed = true;
  }
  // A still-picture input that asks for it keeps the Super Video CD scan information off.
  if (video && (params.kind & kOptionNoScanOffsets)) mux.settings.svcd_scan_offsets = 0;
  if (video && mux.videoCount == 0 && mux.settings.mux_type == kSvcd &&
      mux.settings.svcd_scan_offsets && !mux.scan) {
    void* room = mux.services.allocate(sizeof(ScanOffsetPatcher));
    auto* patcher = room ? new (room) ScanOffsetPatcher : nullptr;
    if (!patcher || !patcher->create(mux.output, mux.services)) {
      if (patcher) {
        patcher->~ScanOffsetPatcher();
        mux.services.release(patcher);
      }
      return refuse("M032:Unable to allocate memory for SVCD offsets buffer");
    }
    mux.scan = patcher;
  }
  if (setUpDvdNavigation(mux, *in, pushed) != 0) return refuse(nullptr);
  // HDV HD2 in push mode: the rings between the notices and the auxiliary packets (a refusal
  // has printed its message).
  if (pushed && mux.settings.mux_type == kHdvHd2) {
    std::int32_t made = 0;
    if (video)
      made = in->hd2.create(static_cast<std::uint32_t>(mux.videoCount), mux.services);
    else if (kind == InputKind::audio)
      made = in->hd2AuxAudio.create(Hd2QueueKind::AuxAudio,
                                    static_cast<std::uint32_t>(mux.audioCount), mux.services);
    if (made != 0) return refuse(nullptr);
  }
  if (pushed) {
    in->savedAuxinfo = es->auxinfo;
    in->savedDriveChain = es->drive_chain;
    es->drive_chain = in;
    es->auxinfo = kind == InputKind::video   ? videoUnitCallback
                  : kind == InputKind::audio ? audioUnitCallback
                                             : subpicUnitCallback;
  }
  if (video)
    mux.videos[mux.videoCount++] = in;
  else if (kind == InputKind::subpicture)
    mux.subpictures[mux.subpictureCount++] = in;
  else
    mux.audios[mux.audioCount++] = in;
  return 0;
}

}  // namespace

std::int32_t openInput(mpeg_m_muxer& mux, const stream_settings& settings, const char* name,
                       bufstream* es, bufstream* units, std::uint32_t bitRate) {
  return openAnyInput(mux, settings, name, es, units, bitRate, false);
}

std::int32_t openPushedInput(mpeg_m_muxer& mux, const stream_settings& settings, bufstream* es) {
  return openAnyInput(mux, settings, nullptr, es, nullptr, 0, true);
}

std::int32_t initUnwrittenHd2Push(mpeg_m_muxer& mux) {
  if (mux.settings.mux_type != kHdvHd2) return kResultFailure;
  setUpOutput(mux, nullptr);
  mux.push = true;
  mux.output = nullptr;
  mux.outputOwned = false;
  return 0;
}

std::int32_t completePushedInput(mpeg_m_muxer& mux, Input& in) {
  if (in.analysed) return 0;
  return analyseInput(mux, in) == 0 ? 0 : kResultFailure;
}

void applySizeNotice(mpeg_m_muxer& mux, std::uint32_t size) {
  constexpr std::uint32_t kSector = 2048;
  for (int i = 0; i < mux.videoCount; ++i) {
    Input& in = *mux.videos[i];
    if ((in.streamId != 0xE1 && in.streamId != 0xE2) || !(in.params.kind & kOptionStill)) continue;
    const std::uint32_t sectors = size / kSector + (size % kSector ? 1 : 0);
    in.noticedSectors = sectors * 2;
    if (in.streamId == 0xE2) in.noticedKiB = size / 1024 + (size % 1024 ? 1 : 0);
    // Once the job runs its buffer models stay as they are.
    if (mux.prepared || !takesSizeNotice(in)) continue;
    in.video.vbvSize = sectors;
    setVideoBuffer(mux, in);
    (void)in.std.create(static_cast<std::int32_t>(in.bufferBytes), mux.services);
  }
}

void storeNavigationTemplate(mpeg_m_muxer& mux, const mux_navigation_template& notice) {
  if (notice.length != kNavigationTemplateSize || !notice.bytes) return;
  std::memcpy(mux.navigationTemplate, notice.bytes, kNavigationTemplateSize);
  mux.navigationTemplatePresent = true;
  mux.navigationTemplateWord = notice.word0;
  mux.navigationTemplateUses = 0;
}

void releaseScanOffsets(mpeg_m_muxer& mux) {
  if (!mux.scan) return;
  mux.scan->~ScanOffsetPatcher();
  mux.services.release(mux.scan);
  mux.scan = nullptr;
}

void closeInputs(mpeg_m_muxer& mux, bool abort) {
  while (mux.audioCount > 0) releaseInput(mux, mux.audios[--mux.audioCount], abort);
  while (mux.subpictureCount > 0) releaseInput(mux, mux.subpictures[--mux.subpictureCount], abort);
  while (mux.videoCount > 0) releaseInput(mux, mux.videos[--mux.videoCount], abort);
}

}  // namespace quillion::corvel
