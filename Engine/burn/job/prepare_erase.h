// SPDX-License-Identifier: GPL-2.0-or-later
// The quick-erase job: what it erases and how, prepared like every other job so that the
// interface sizes and starts it the same way.
#pragma once

#include "quillion/status.h"

namespace quillion::burn {

class BurnJob;

// One session holding one Mode 1 track of the blocks to be written over from block 0 (the
// erase block count; 0 for the whole disc, whose size only the drive knows). Every
// destination must be a drive: kErrPrepareFailed otherwise, with a log line.
[[nodiscard]] EngineStatus prepareEraseSession(BurnJob& job);

}  // namespace quillion::burn
