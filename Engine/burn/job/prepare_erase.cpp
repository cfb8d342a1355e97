// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/job/prepare_erase.h"

#include <algorithm>

#include "burn/job/burn_job.h"
#include "burn/job/job_log.h"

namespace quillion::burn {
namespace {

constexpr std::uint16_t kEraseBlockSize = 2048;
constexpr std::int16_t kEraseTrackMode = 8;  // Mode 1

}  // namespace

EngineStatus prepareEraseSession(BurnJob& job) {
  if (!std::all_of(job.dst.get(), job.dst.get() + job.dstCount, isDriveDestination)) {
    logText(job.shared, "\r?? Only a disc in a drive can be erased\r");
    return kErrPrepareFailed;
  }
  const std::uint32_t blocks = job.options.dvdPlusRWEraseBlocks;
  Session& session = job.sessions.emplace_back();
  session.number = 1;
  session.start = 0;
  session.blocks = blocks;
  Track& track = session.tracks.emplace_back();
  track.number = 1;
  track.mode = kEraseTrackMode;
  track.blockSize = kEraseBlockSize;
  track.data = true;
  track.start = 0;
  track.blocks = blocks;
  return kNoErr;
}

}  // namespace quillion::burn
