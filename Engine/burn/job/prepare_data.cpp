// SPDX-License-Identifier: GPL-2.0-or-later
// The one session of a data (or MP3 data) layout: where it starts on the destination and
// its file-system track.
#include "burn/job/burn_job.h"
#include "burn/job/drive_start.h"
#include "burn/job/job_log.h"
#include "burn/job/sessions.h"

namespace quillion::burn {

EngineStatus prepareDataSession(BurnJob& job, std::uint16_t& nextTrackNumber) {
  std::uint32_t start = 0;
  if (const EngineStatus s = dataSessionStart(job, start); s != kNoErr) {
    logFormat(job.shared, "\r?? No writable address on Drive Ref: %u (%d)\r",
              job.firstDestination(), int{s});
    return s;
  }
  appendNewSession(job, 0x00);
  return appendDataDPM(job, start, nextTrackNumber);
}

}  // namespace quillion::burn
