// SPDX-License-Identifier: GPL-2.0-or-later
// Session import over a drive: which sessions carry a volume, and their import trees. Blocks
// are read with READ(12) on DVD and BD media and READ CD (user data only) on CDs, as the
// profile table tells them apart; each public call holds the drive exclusively.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "device/cdb.h"
#include "device/command_timeouts.h"
#include "device/gdt_support.h"
#include "device/medium_profile.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "quillion/TNC.h"
#include "tree/iso9660_import.h"
#include "tree/name_units.h"
#include "tree/udf_import.h"

using namespace quillion;

namespace quillion::import {
namespace {

constexpr std::uint32_t kBlocksPerRead = 32;
constexpr std::uint8_t kReadCdMode1 = 0x08;       // expected sector type Mode 1
constexpr std::uint8_t kReadCdMode2Form1 = 0x10;  // expected sector type Mode 2 Form 1
constexpr std::uint8_t kReadCdUserData = 0x10;
constexpr std::size_t kVolumeNameJolietBytes = 32;

// Holds the drive for the application while a call runs.
class DriveHold {
 public:
  // A medium changed since the drive was last asked is announced by unit attentions first;
  // they are taken here so that the reads answer for the disc now in the drive.
  explicit DriveHold(std::uint32_t drive) : drive_(drive), status_(DC_LockDevice(drive, true)) {
    if (status_ == kNoErr) gdt::refreshMediumView(drive);
  }
  ~DriveHold() {
    if (status_ == kNoErr) (void)DC_LockDevice(drive_, false);
  }
  DriveHold(const DriveHold&) = delete;
  DriveHold& operator=(const DriveHold&) = delete;
  EngineStatus status() const { return status_; }

 private:
  std::uint32_t drive_;
  EngineStatus status_;
};

class DriveBlockSource final : public BlockSource {
 public:
  DriveBlockSource(std::uint32_t drive, std::uint8_t dataMode)
      : drive_(drive),
        dvd_(profileOf(currentProfile(drive)).dvdOrBd()),
        sectorType_(dataMode == 2 ? kReadCdMode2Form1 : kReadCdMode1),
        mediumBlocks_(capacity(drive)) {}

  EngineStatus read(std::uint32_t lba, std::uint32_t blocks,
                    std::vector<std::uint8_t>& out) override {
    out.assign(std::size_t{blocks} * kBlockBytes, 0);
    for (std::uint32_t done = 0; done < blocks;) {
      const std::uint32_t n = std::min(kBlocksPerRead, blocks - done);
      const cdb::Block block = dvd_ ? cdb::read12(lba + done, n)
                                    : cdb::readCd(sectorType_, lba + done, n, kReadCdUserData);
      MMC_SenseData sense{};
      const EngineStatus s =
          DC_ExecuteMMCCmd_Sync(drive_, block.data(), static_cast<std::uint8_t>(block.size()),
                                out.data() + std::size_t{done} * kBlockBytes, n * kBlockBytes,
                                kDC_DataIn, timeoutMs(CommandKind::ImportRead), &sense);
      if (s != kNoErr || sense.key != 0 || sense.code != 0) {
        out.clear();
        return s != kNoErr ? s : EngineStatus{kErrCheckCondition};
      }
      done += n;
    }
    return kNoErr;
  }

  std::uint32_t mediumBlocks() const override { return mediumBlocks_; }
  bool dvd() const { return dvd_; }

 private:
  // READ CAPACITY's last block + 1; no limit of our own when the drive does not say.
  static std::uint32_t capacity(std::uint32_t drive) {
    std::uint8_t reply[8] = {};
    const cdb::Block block = cdb::readCapacity();
    if (DC_ExecuteMMCCmd_Sync(drive, block.data(), static_cast<std::uint8_t>(block.size()), reply,
                              sizeof reply, kDC_DataIn, timeoutMs(CommandKind::Ordinary),
                              nullptr) != kNoErr)
      return 0xFFFFFFFFu;
    const std::uint32_t last = be::get32(reply, 0);
    return last == 0xFFFFFFFFu ? last : last + 1;
  }

  std::uint32_t drive_;
  bool dvd_;
  std::uint8_t sectorType_;
  std::uint32_t mediumBlocks_;
};

void copyName(TNC_ISO9660Session& session, const std::string& name, std::size_t maxBytes) {
  const std::size_t n = utf8PrefixBytes(name, std::min(maxBytes, sizeof session.volumeName - 1));
  std::memcpy(session.volumeName, name.data(), n);
  session.volumeName[n] = '\0';
}

// One listed session described: its track, its volume descriptors and its name. False when
// the session carries no volume that can be read.
bool describeSession(std::uint32_t drive, TNC_ISO9660Session& session) {
  if (session.firstTrack == 0) return false;
  std::uint8_t track[64] = {};
  if (MMC_GetTrackInfo(drive, session.firstTrack, track, sizeof track, nullptr) != kNoErr)
    return false;
  session.startLBA = be::get32(track, 8);
  session.trackSize = be::get32(track, 24);
  const std::uint8_t mode = track[6] & 0x0F;
  if (mode == 1 || mode == 2) session.dataMode = mode;

  DriveBlockSource source(drive, session.dataMode);
  std::vector<std::uint8_t> blocks;
  if (source.read(session.startLBA + 16, 16, blocks) != kNoErr) return false;
  const auto is = [&](std::uint32_t i, const char* id) {
    return std::memcmp(blocks.data() + std::size_t{i} * kBlockBytes + 1, id, 5) == 0;
  };
  if (!is(0, "CD001") && !is(0, "BEA01")) return false;
  std::span<const std::uint8_t> primary, supplementary;
  for (std::uint32_t i = 0; i < 16; ++i) {
    const std::span<const std::uint8_t> b(blocks.data() + std::size_t{i} * kBlockBytes,
                                          kBlockBytes);
    if (is(i, "BEA01")) {
      session.flags |= kTNC_UDFVolume;
      break;
    }
    if (is(i, "CD001") && b[0] == 1) primary = b;
    if (is(i, "CD001") && b[0] == 2) supplementary = b;
  }
  if (!primary.empty()) session.date = isoVolumeCreationDate(primary);
  if (session.flags & kTNC_UDFVolume) {
    UdfFileSet fileSet;
    if (findUdfFileSet(source, session.startLBA, fileSet) == kNoErr) {
      session.udfPartitionStart = fileSet.partitionStart;
      copyName(session, udfVolumeName(fileSet.descriptor), sizeof session.volumeName);
      session.date = udfTimestamp(std::span(fileSet.descriptor).subspan(16, 12));
      return true;
    }
    // "BEA01" without a file set that can be read: the session is imported as ISO9660.
    session.flags &= static_cast<std::uint16_t>(~kTNC_UDFVolume);
  }
  if (!supplementary.empty()) {
    session.flags |= kTNC_ISO9660Volume;
    copyName(session, isoVolumeName(supplementary, true), kVolumeNameJolietBytes);
    return true;
  }
  if (!primary.empty()) {
    session.flags |= kTNC_ISO9660Volume;
    copyName(session, isoVolumeName(primary, false), sizeof session.volumeName);
    return true;
  }
  return false;
}

EngineStatus importFrom(std::uint32_t drive, std::uint32_t start, std::uint8_t dataMode, bool udf,
                        FS_Tree** tree, std::vector<TNC_ImportNote>* notes) {
  *tree = nullptr;
  DriveBlockSource source(drive, dataMode);
  ImportWalk walk(source, ImportLimits{});
  std::unique_ptr<FS_Tree> made;
  const EngineStatus s = udf ? importUdf(walk, start, made) : importIso9660(walk, start, made);
  if (notes != nullptr) *notes = std::move(walk.notes());
  if (s != kNoErr) return s;
  *tree = made.release();
  return kNoErr;
}

}  // namespace
}  // namespace quillion::import

using quillion::import::DriveHold;
using quillion::import::importFrom;

EngineStatus TNC_GetValidISOSessionInfo(std::uint32_t drive, TNC_ISO9660Session** sessions,
                                        std::uint16_t* count) {
  if (drive == 0 || sessions == nullptr || count == nullptr) return kErrBadArgument;
  *sessions = nullptr;
  *count = 0;
  DriveHold hold(drive);
  if (hold.status() != kNoErr) return hold.status();

  std::uint8_t discInfo[64] = {};
  EngineStatus s = MMC_GetDiscInfo(drive, discInfo, sizeof discInfo, nullptr);
  if (s != kNoErr) return s;
  const std::uint8_t sessionCount = discInfo[4];
  if (sessionCount == 0) return kNoErr;

  std::vector<TNC_ISO9660Session> found(sessionCount);
  for (std::uint8_t k = 0; k < sessionCount; ++k) {
    found[k] = TNC_ISO9660Session{};
    found[k].sessionNumber = static_cast<std::uint8_t>(k + 1);
    found[k].dataMode = 1;
    found[k].drive = drive;
  }
  const bool dvd = profileOf(currentProfile(drive)).dvdOrBd();
  if (dvd) {
    for (auto& one : found) one.firstTrack = one.sessionNumber;
  } else {
    std::vector<std::uint8_t> toc(2048, 0);
    s = MMC_GetTOC(drive, toc.data(), static_cast<std::uint32_t>(toc.size()), 2, 1, true, nullptr);
    if (s != kNoErr) return s;
    const std::size_t end = std::min<std::size_t>(2 + be::get16(toc, 0), toc.size());
    for (std::size_t at = 4; at + 11 <= end; at += 11) {
      const std::uint8_t number = toc[at];
      if (toc[at + 3] != 0xA0 || number < 1 || number > sessionCount) continue;
      found[number - 1].firstTrack = toc[at + 8];
      found[number - 1].dataMode = toc[at + 9] != 0 ? 2 : 1;
    }
  }
  std::erase_if(found, [&](TNC_ISO9660Session& one) {
    return !quillion::import::describeSession(drive, one);
  });
  if (found.empty()) return kNoErr;
  auto* array =
      static_cast<TNC_ISO9660Session*>(std::malloc(found.size() * sizeof(TNC_ISO9660Session)));
  if (array == nullptr) return kErrOutOfMemory;
  std::copy(found.begin(), found.end(), array);
  *sessions = array;
  *count = static_cast<std::uint16_t>(found.size());
  return kNoErr;
}

EngineStatus iso9660TrackToFSTree(std::uint32_t drive, std::uint32_t start, std::uint8_t dataMode,
                                  FS_Tree** tree, std::vector<TNC_ImportNote>* notes) {
  if (drive == 0 || tree == nullptr) return kErrBadArgument;
  *tree = nullptr;
  DriveHold hold(drive);
  if (hold.status() != kNoErr) return hold.status();
  return importFrom(drive, start, dataMode, false, tree, notes);
}

EngineStatus UDFTrackToFSTree(std::uint32_t drive, std::uint32_t start, std::uint8_t dataMode,
                              FS_Tree** tree, std::vector<TNC_ImportNote>* notes) {
  if (drive == 0 || tree == nullptr) return kErrBadArgument;
  *tree = nullptr;
  DriveHold hold(drive);
  if (hold.status() != kNoErr) return hold.status();
  return importFrom(drive, start, dataMode, true, tree, notes);
}

EngineStatus TNC_ISO9660SessionToFSTree(const TNC_ISO9660Session* session, FS_Tree** tree,
                                        std::vector<TNC_ImportNote>* notes) {
  if (session == nullptr || tree == nullptr) return kErrBadArgument;
  const bool udf = (session->flags & kTNC_UDFVolume) != 0;
  return udf ? UDFTrackToFSTree(session->drive, session->startLBA, session->dataMode, tree, notes)
             : iso9660TrackToFSTree(session->drive, session->startLBA, session->dataMode, tree,
                                    notes);
}

EngineStatus TNC_UDFSessionToFSTree(const TNC_ISO9660Session* session, FS_Tree** tree,
                                    std::vector<TNC_ImportNote>* notes) {
  if (session == nullptr || tree == nullptr || !(session->flags & kTNC_UDFVolume))
    return kErrBadArgument;
  return UDFTrackToFSTree(session->drive, session->startLBA, session->dataMode, tree, notes);
}
