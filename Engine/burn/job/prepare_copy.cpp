// SPDX-License-Identifier: GPL-2.0-or-later
// Copies: the sessions of a native, raw or bin/cue image, or of a source drive's disc, and
// the address adjustments track at once needs.
#include "burn/job/prepare_copy.h"

#include <algorithm>
#include <array>
#include <vector>

#include "DPMs/tracks/dpm_device_track.h"
#include "DPMs/tracks/dpm_image_file_track.h"
#include "DPMs/tracks/dpm_raw_data_file.h"
#include "burn/cue/cd_text_block.h"
#include "burn/job/burn_job.h"
#include "burn/job/job_log.h"
#include "common/byte_order.h"
#include "image/bin_cue_parser.h"
#include "image/cd_image_file.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"

namespace quillion::burn {
namespace {

constexpr std::int16_t kCopyAudio = 0, kCopyMode1 = 8, kCopyMode2 = 9, kCopyForm1 = 10,
                       kCopyForm2 = 12, kCopyMode2Cut = 13;
constexpr std::uint16_t kCopyPregap = 150;
constexpr std::uint32_t kCopyRunOut = 2;
constexpr std::uint32_t kFirstSessionGap = 11'400;  // lead-out, lead-in and pregap
constexpr std::uint32_t kLaterSessionGap = 6'900;
constexpr std::size_t kTocDescriptorBytes = 11;
constexpr std::size_t kTocBufferBytes = 2048;
constexpr std::size_t kSourceCDTextBytes = 36'724;
constexpr std::uint16_t kLastCDProfile = 0x0F;
constexpr std::uint32_t kImageNative = 1, kImageRawFirst = 2, kImageRawLast = 5, kImageBinCue = 7;

// Whether a destination needs formless Mode 2 as 2332-byte blocks when written track by track.
bool writeContinueDestination(const BurnJob& job) {
  for (std::uint16_t i = 0; i < job.dstCount; ++i)
    if (isDriveDestination(job.dst[i]) && MMC_isSONYWriteContinueDrive(job.dst[i])) return true;
  return false;
}

bool cdDestination(const BurnJob& job) {
  return job.writerRecords[0].mediaProfile <= kLastCDProfile;
}

Session& appendCopySession(BurnJob& job, std::uint8_t format) {
  Session& s = job.sessions.emplace_back();
  s.number = static_cast<std::uint16_t>(job.sessions.size());
  s.format = format;
  return s;
}

// Prepares the track's producer at `blockSize` and appends it; false when it has no blocks.
bool appendCopyTrack(Session& session, Track track, std::unique_ptr<DPM_Base> producer) {
  std::uint16_t size = track.blockSize;
  const std::uint32_t blocks = producer->PrepareAll(&size, nullptr, nullptr);
  if (blocks == 0) return false;
  track.blockSize = size;
  track.blocks = blocks;
  track.producer = std::move(producer);
  session.blocks += blocks;
  session.tracks.push_back(std::move(track));
  return true;
}

const char* copyTrackLabel(std::uint16_t type) {
  switch (type) {
    case 0:
      return "(CDDA), ";
    case 1:
      return "(Mode 1), ";
    case 3:
      return "(Mode 2 Form 1), ";
    case 4:
      return "(Mode 2 Fom 2), ";
    default:
      return "(Mode Form 1 or 2, Mode 2), ";
  }
}

std::int16_t imageTrackMode(std::uint16_t type) {
  switch (type) {
    case 0:
      return kCopyAudio;
    case 1:
      return kCopyMode1;
    case 3:
      return kCopyForm1;
    case 4:
      return kCopyForm2;
    default:
      return kCopyMode2;
  }
}

void logImageSessionType(const BurnJob& job, std::uint16_t type) {
  static constexpr const char* kTypes[] = {
      "\r  Session Type : Audio", "\r  Session Type : Mode 1 Data", "\r  Session Type : CD-ROM-XA",
      "\r  Session Type : CD-I"};
  if (type < 4) logText(job.shared, kTypes[type]);
}

EngineStatus copyNativeImage(BurnJob& job, const std::string& path) {
  auto image = std::make_unique<CDImageFile>(false);
  if (image->Open(path.c_str(), false) != kNoErr) return kErrPrepareFailed;
  CDImageFile& source = *image;
  job.srcImage = std::move(image);
  std::uint16_t sessions = 0, tracks = 0;
  (void)source.CDImageInfo(&sessions, &tracks);
  logText(job.shared, "\r prepareSessionTAODequeByImage()...");
  logFormat(job.shared, "\r Sessions : %2d, Tracks : %2d", int{sessions}, int{tracks});
  const bool sao = job.options.sao;
  const bool writeContinue = writeContinueDestination(job);
  for (std::uint16_t n = 1; n <= sessions; ++n) {
    WLTSESSION stored{};
    if (source.GetSessionInfo(n, &stored) != kNoErr) return kErrPrepareFailed;
    logFormat(job.shared, "\r Session %2d :", int{n});
    logImageSessionType(job, stored.sessionType);
    const std::uint8_t format = stored.sessionType == 2 ? 0x20 : stored.sessionType == 3 ? 0x10 : 0;
    Session& session = appendCopySession(job, format);
    logFormat(job.shared, "\r  Start LBA : %8u",
              static_cast<unsigned>(std::max(stored.startBlock, 0)));
    for (std::uint16_t k = 0; k < stored.trackCount; ++k) {
      const auto number = static_cast<std::uint16_t>(stored.firstTrack + k);
      WLTTRACK t{};
      if (source.GetTrackInfo(number, &t) != kNoErr || t.blockSize == 0) return kErrPrepareFailed;
      auto producer = std::make_unique<DPM_ImageFileTrack>(&source, number);
      Track track;
      track.number = number;
      track.mode = imageTrackMode(t.trackType);
      track.blockSize = static_cast<std::uint16_t>(t.blockSize);
      track.pregap = t.pregap;
      track.data = track.mode != kCopyAudio;
      track.start = t.startBlock;
      if (track.mode == kCopyForm1 && !sao) {
        producer->SetFilterTo2048(true);
        track.blockSize = 2048;
      } else if (track.mode == kCopyMode2 && writeContinue && !sao) {
        producer->SetFilterTo2332(true);
        track.mode = kCopyMode2Cut;
        track.blockSize = 2332;
      }
      logFormat(job.shared, "\r  Track %2d : ", int{number});
      const auto blocks = static_cast<std::uint32_t>(t.dataLength / t.blockSize);
      logFormat(job.shared, "%s%6d ~ %6d [%6d, in %4d]", copyTrackLabel(t.trackType),
                static_cast<int>(t.startBlock), static_cast<int>(t.startBlock + blocks),
                static_cast<int>(blocks), static_cast<int>(t.blockSize));
      if (!appendCopyTrack(session, std::move(track), std::move(producer)))
        return kErrPrepareFailed;
    }
    if (session.tracks.empty()) return kErrPrepareFailed;
    // A later session without a stored start, or one behind lead-in CD-Text, begins with its
    // first track.
    const bool stated = stored.startBlock > 0 || (n == 1 && stored.startBlock == 0);
    session.start =
        stated ? static_cast<std::uint32_t>(stored.startBlock) : session.tracks.front().start;
  }
  if (job.sessions.empty()) return kErrPrepareFailed;
  for (std::size_t i = 0; i + 1 < job.sessions.size(); ++i) {
    const std::uint32_t gap = i == 0 ? kFirstSessionGap : kLaterSessionGap;
    job.sessions[i].leadOut = job.sessions[i + 1].start - gap;
  }
  const Track& last = job.sessions.back().tracks.back();
  job.sessions.back().leadOut = last.start + last.blocks + kCopyRunOut;
  return kNoErr;
}

EngineStatus copyRawImage(BurnJob& job, const std::string& path) {
  const std::uint32_t blocks = job.options.srcImageBlocks;
  if (blocks == 0) return kErrPrepareFailed;
  logText(job.shared, "\r prepareSessionTAODequeByDMGFile()...");
  logFormat(job.shared, "\r   Track 1 : (Mode 1), 0 ~ %6d [%6d, in 2,048]\r",
            static_cast<int>(blocks), static_cast<int>(blocks));
  Session& session = appendCopySession(job, 0x00);
  Track track;
  track.number = 1;
  track.mode = kCopyMode1;
  track.blockSize = 2048;
  track.pregap = kCopyPregap;
  track.data = true;
  if (!appendCopyTrack(session, std::move(track),
                       std::make_unique<DPM_RawDataFile>(path, 2048, blocks, 0, 0)))
    return kErrPrepareFailed;
  session.leadOut = session.blocks + kCopyRunOut;
  return kNoErr;
}

EngineStatus copyBinCue(BurnJob& job, const std::string& path) {
  BinCue_Parser parser;
  if (parser.parse(path.c_str()) != kNoErr || !parser.info()) return kErrPrepareFailed;
  const cue::BinQ_Info& info = *parser.info();
  const bool sao = job.options.sao;
  Session& session = appendCopySession(job, info.mode2Tracks > 0 ? 0x20 : 0x00);
  for (std::size_t k = 0; k < info.tracks.size(); ++k) {
    const cue::BinQ_Track& t = info.tracks[k];
    Track track;
    track.number = static_cast<std::uint16_t>(k + 1);
    track.start = t.start;
    track.data = t.mode != 0;
    if (t.mode == 0) {
      track.mode = kCopyAudio;
      track.blockSize = 2352;
      track.pregap = kCopyPregap;
    } else if (t.mode == 1) {
      track.mode = kCopyMode1;
      track.blockSize = 2048;
    } else {
      track.mode = sao ? kCopyMode2 : kCopyMode2Cut;
      track.blockSize = sao ? 2336 : 2332;
    }
    auto producer = std::make_unique<DPM_RawDataFile>(parser.dataFilePath(), track.blockSize,
                                                      t.blocks, t.fileOffset, t.sectorBytes);
    if (!appendCopyTrack(session, std::move(track), std::move(producer))) return kErrPrepareFailed;
  }
  if (session.tracks.empty()) return kErrPrepareFailed;
  session.leadOut = info.totalBlocks + kCopyRunOut;
  return kNoErr;
}

std::uint16_t copyBlockSize(std::int16_t mode, bool sao) {
  switch (mode) {
    case kCopyAudio:
      return 2352;
    case kCopyMode1:
      return 2048;
    case kCopyMode2:
      return 2336;
    case kCopyForm1:
      return sao ? 2336 : 2048;
    case kCopyForm2:
      return 2324;
    case kCopyMode2Cut:
      return 2332;
    default:
      return 0;
  }
}

std::uint16_t currentProfile(std::uint32_t ref) {
  std::array<std::uint8_t, 8> header{};
  if (MMC_GetConfiguration(ref, 1, 0, header.data(), header.size(), nullptr) != kNoErr) return 0;
  return be::get16(header, 6);
}

std::uint32_t tocAddress(const std::uint8_t* d) {
  const std::uint32_t frames = (std::uint32_t{d[8]} * 60 + d[9]) * 75 + d[10];
  return frames >= 150 ? frames - 150 : 0;
}

std::uint32_t bcdValue(std::uint8_t b) {
  return (b >> 4) * 10u + (b & 0x0F);
}

std::uint32_t tocAddressBcd(const std::uint8_t* d) {
  const std::uint32_t frames = (bcdValue(d[8]) * 60 + bcdValue(d[9])) * 75 + bcdValue(d[10]);
  return frames >= 150 ? frames - 150 : 0;
}

}  // namespace

void applyTocLeadOuts(std::span<const std::uint8_t> toc, std::span<Session> sessions) {
  if (toc.size() < 4) return;
  const std::size_t said = std::size_t{be::get16(toc, 0)} + 2;
  const std::size_t end = std::min(said, toc.size());
  for (std::size_t at = 4; at + kTocDescriptorBytes <= end; at += kTocDescriptorBytes) {
    const std::uint8_t* d = &toc[at];
    const std::uint8_t number = d[0];
    if (number == 0 || number > sessions.size()) continue;
    Session& s = sessions[number - 1];
    if (d[3] == 0xA0) s.format = d[9];
    if (d[3] != 0xA2) continue;
    s.leadOut = tocAddress(d);
    if (s.tracks.empty()) continue;
    const Track& last = s.tracks.back();
    const std::uint32_t trackEnd = last.start + last.blocks;
    const std::uint32_t bcd = tocAddressBcd(d);
    if (bcd >= trackEnd && bcd <= trackEnd + 20) s.leadOut = bcd;
  }
}

EngineStatus prepareSessionTAODequeByImageFile(BurnJob& job) {
  if (!job.srcImagePath) return kErrPrepareFailed;
  const std::string& path = *job.srcImagePath;
  const std::uint32_t kind = job.options.srcImageKind;
  EngineStatus status = kNoErr;
  if (kind == kImageNative) {
    status = copyNativeImage(job, path);
  } else if (kind >= kImageRawFirst && kind <= kImageRawLast) {
    status = copyRawImage(job, path);
  } else if (kind == kImageBinCue) {
    status = copyBinCue(job, path);
  } else {
    return kNoErr;  // nothing is built: the job has no blocks
  }
  if (status != kNoErr) return status;
  if (!job.options.sao && cdDestination(job)) adjustToTAOCDCopy(job);
  return kNoErr;
}

EngineStatus prepareSessionTAODequeByMMC(std::uint32_t sourceDrive, BurnJob& job) {
  std::array<std::uint8_t, 34> disc{};
  if (MMC_GetDiscInfo(sourceDrive, disc.data(), disc.size(), nullptr) != kNoErr)
    return kErrPrepareFailed;
  const unsigned sessions = disc[4] | (disc[9] << 8);
  const unsigned firstTrack = disc[3];
  const unsigned lastTrack = disc[6] | (disc[11] << 8);
  if (sessions == 0 || sessions > 99 || lastTrack < firstTrack || lastTrack > 99)
    return kErrPrepareFailed;
  logText(job.shared, "\r prepareSessionTAODequeByMMC()...");
  logFormat(job.shared, "\r Sessions : %2d, Tracks : %2d", static_cast<int>(sessions),
            static_cast<int>(lastTrack - firstTrack + 1));
  for (unsigned i = 0; i < sessions; ++i) appendCopySession(job, 0x00);

  const bool sao = job.options.sao;
  const bool writeContinue = writeContinueDestination(job);
  for (unsigned n = firstTrack; n <= lastTrack; ++n) {
    auto producer = std::make_unique<DPM_DeviceTrack>(sourceDrive, static_cast<std::uint16_t>(n));
    if (producer->Init() != kNoErr) return kErrPrepareFailed;
    std::uint8_t sessionNumber = 0, blockType = 0;
    bool audio = false;
    std::uint32_t start = 0;
    (void)producer->GetTrackParams(&sessionNumber, &audio, &blockType, &start, nullptr);
    if (sessionNumber == 0 || sessionNumber > sessions) return kErrPrepareFailed;
    Session& session = job.sessions[sessionNumber - 1];
    Track track;
    track.number = static_cast<std::uint16_t>(n);
    track.mode = static_cast<std::int16_t>(audio ? kCopyAudio : blockType);
    if (track.mode == kCopyMode2 && writeContinue && !sao) track.mode = kCopyMode2Cut;
    track.blockSize = copyBlockSize(track.mode, sao);
    track.data = !audio;
    track.pregap = audio ? kCopyPregap : 0;
    track.start = start;
    if (track.mode == kCopyMode2 || track.mode == kCopyMode2Cut || track.mode == kCopyForm1)
      session.format = 0x20;
    if (session.tracks.empty()) session.start = start;
    logFormat(job.shared, "\r   Track %2d : (mode : %2d), %6d ~ %6d [%6d, in %4d]",
              static_cast<int>(n), int{track.mode}, static_cast<int>(start),
              static_cast<int>(start + producer->TotalBlocks()),
              static_cast<int>(producer->TotalBlocks()), int{track.blockSize});
    if (!appendCopyTrack(session, std::move(track), std::move(producer))) return kErrPrepareFailed;
  }
  const std::uint16_t profile = currentProfile(sourceDrive);
  if (profile < 0x10 || profile > 0x43) {
    std::vector<std::uint8_t> toc(kTocBufferBytes);
    MMC_SenseData sense{};
    if (MMC_GetTOC(sourceDrive, toc.data(), static_cast<std::uint32_t>(toc.size()), 2, 1, true,
                   &sense) != kNoErr) {
      job.shared.readSense.store(sense);
      return kErrPrepareFailed;
    }
    applyTocLeadOuts(toc, job.sessions);
  }
  if (!sao && cdDestination(job)) adjustToTAOCDCopy(job);
  return kNoErr;
}

EngineStatus prepareCopySessions(BurnJob& job, std::uint16_t& /*nextTrackNumber*/) {
  if (writeContinueDestination(job)) job.options.sao = false;
  const std::uint32_t source = job.options.srcDevice;
  const EngineStatus status = source == kBP_NativeImageWriter
                                  ? prepareSessionTAODequeByImageFile(job)
                                  : prepareSessionTAODequeByMMC(source, job);
  // A copy that cannot be described in full is no copy: whatever the step's own status.
  return status == kNoErr ? kNoErr : kErrPrepareFailed;
}

void adjustToTAOCDCopy(BurnJob& job) {
  for (Session& s : job.sessions) {
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < s.tracks.size(); ++i) {
      Track& t = s.tracks[i];
      if (i > 0 && s.tracks[i - 1].data) t.pregap = kCopyPregap;
      std::uint32_t length = t.blocks;
      if (i + 1 < s.tracks.size()) {
        const Track& next = s.tracks[i + 1];
        const std::uint32_t reserve =
            t.data ? kCopyPregap + kCopyRunOut : std::uint32_t{next.pregap} + kCopyRunOut;
        if (next.start > t.start + reserve) length = next.start - t.start - reserve;
      } else if (s.leadOut != 0xFFFFFFFFu && s.leadOut > t.start + kCopyRunOut) {
        length = s.leadOut - t.start - kCopyRunOut;
      }
      if (t.producer) t.producer->SetTotalBlocks(length);
      t.blocks = length;
      total += length;
    }
    s.blocks = total;
  }
}

void fetchSourceCDText(BurnJob& job) {
  const std::uint32_t source = job.options.srcDevice;
  std::vector<std::uint8_t> raw;
  if (source == kBP_NativeImageWriter) {
    if (job.srcImage) (void)job.srcImage->GetCDTextRawData(raw);
  } else if (isDriveDestination(source)) {
    if (!job.options.sao || !cdDestination(job)) return;
    std::vector<std::uint8_t> reply(kSourceCDTextBytes);
    const auto length = static_cast<std::uint32_t>(reply.size());
    EngineStatus status = DC_MacX_ReadTOC(source, false, 5, 0, reply.data(), length, nullptr);
    if (status == -1) status = MMC_GetTOC(source, reply.data(), length, 5, 0, false, nullptr);
    if (status != kNoErr) return;
    raw = rawCDTextFromTocReply(reply);
  } else {
    return;
  }
  if (raw.empty()) return;
  job.cdText = std::move(raw);
  job.options.writeCDText = true;
}

}  // namespace quillion::burn
