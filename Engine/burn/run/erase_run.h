// SPDX-License-Identifier: GPL-2.0-or-later
// The run of a quick-erase job: no reader and no cache, one thread per destination drive that
// erases its disc with the drive layer's erase routine and reports through its writer record
// (blocks written over against the job's total, status and sense) like any writer.
#pragma once

#include "burn/job/burn_job.h"

namespace quillion::burn {

// Everything but the threads; call with the job's lock held.
[[nodiscard]] EngineStatus setUpEraseRun(BurnJob& job);
// Asks the thread creator for one erasing thread per destination. A destination whose thread
// cannot be started ends at once with kErrJobNotRunnable.
[[nodiscard]] EngineStatus startEraseThreads(BurnJob& job, BP_JobRef ref);

}  // namespace quillion::burn
