// SPDX-License-Identifier: GPL-2.0-or-later
// The runs of an instance: a whole file-mode job, a push-mode run started by a producer's
// notice, and the flush at Done that multiplexes what is still queued.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

// 0, or the first non-zero result of a step (16 after a message, or when yield cancelled).
std::int32_t runFileJob(mpeg_m_muxer& mux);
// Runs while every live input is ready. The result of a step that failed (16), else 0. A run
// asked for while one is in progress leaves the work to that run, which looks again before
// it returns.
std::int32_t runPushed(mpeg_m_muxer& mux);
// Notice 0xE0004: the input's remaining units, now that no more will come.
std::int32_t drainPushedInput(mpeg_m_muxer& mux, Input& in);
// Multiplexes what is queued and writes the end of the program (not with abort).
std::int32_t flushAtDone(mpeg_m_muxer& mux, bool abort);

}  // namespace quillion::corvel
