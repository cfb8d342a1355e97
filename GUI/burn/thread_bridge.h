// SPDX-License-Identifier: GPL-2.0-or-later
// The interface's thread creator for burn jobs. The engine starts no threads itself: it asks
// TC_ThreadCreateCB for its reader and writers. Each thread is kept in a registry under its
// job's shared record, so that the window joins every thread of a job before BP_Delete frees
// what they use. A thread that cannot be started is answered with 0; the engine then ends
// that part of the run with an error, so the window never waits for a thread that never ran.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillion/BP.h"

namespace quillion {

std::int32_t TC_ThreadCreateCB(std::int16_t flag, BP_ThreadRoutine routine,
                               BP_RuntimeSharedData* shared, std::uint32_t userData);

namespace JobThreads {

struct Counts {
  std::size_t readers = 0;  // started with flag 1
  std::size_t writers = 0;  // started with flag 2
  std::size_t failed = 0;   // asked for but not started
  std::size_t running = 0;  // started and not yet joined
};

Counts countsOf(const BP_RuntimeSharedData* shared);
// Waits for every thread started for the job and forgets the job. Never call it from one of
// those threads.
void joinAll(const BP_RuntimeSharedData* shared);

// While alive, every thread asked for with `flag` (0: any) fails to start, as when the
// system has no threads left.
class ScopedStartFailure {
 public:
  explicit ScopedStartFailure(std::int16_t flag);
  ~ScopedStartFailure();
  ScopedStartFailure(const ScopedStartFailure&) = delete;
  ScopedStartFailure& operator=(const ScopedStartFailure&) = delete;
};

}  // namespace JobThreads

}  // namespace quillion
