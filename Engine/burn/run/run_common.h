// SPDX-License-Identifier: GPL-2.0-or-later
// What the reader and the writers of a run share: the routines the thread creator runs, the
// handles that carry a writer's destination, and the flags both sides set.
#pragma once

#include <chrono>
#include <cstdint>

#include "burn/job/burn_job.h"
#include "common/handle_table.h"

namespace quillion::burn {

// The two image pseudo-drives, as against a real drive.
inline bool isImageWriter(std::uint32_t ref) {
  return ref == kBP_NativeImageWriter || ref == kBP_ISOImageWriter;
}

// The longest a reader or writer waits for the cache before it looks at the stop flags again.
inline constexpr std::chrono::milliseconds kPollInterval{100};

// The routine argument of a writer: a handle naming this record, released by the writer.
struct WriterArgument {
  BP_JobRef job = 0;
  std::uint32_t destination = 0;
  std::uint16_t index = 0;  // of the destination in the list (and of its writer record)
};
HandleTable<WriterArgument>& writerArguments();

void runReadInThread(std::uint32_t job);
void runWriteInThread(std::uint32_t writerArgument);

// The cache fill shown to the user, rounded up by `bias` hundredths of a block.
void showCacheUsage(BurnJob& job, std::uint32_t bias);
// Sets the cache-ready flag and, when it turns true, wakes a writer waiting for it.
void setCacheReady(BurnJob& job, bool ready);
// True when the run is stopped, or when every writer has quit: then nobody takes what the
// reader would read.
bool runStopped(BurnJob& job);
// A writer that stops taking blocks: its read position no longer holds the cache back, and
// when it was the last writer the job stops first, so the reader stops with it.
void dropWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t destination);
// The writer's last act: the record shows how it ended, and the last writer to end stops the
// job. Its read position no longer holds the cache back.
void finishWriter(BurnJob& job, BP_WriterRTInfo& record, std::uint32_t destination);

}  // namespace quillion::burn
