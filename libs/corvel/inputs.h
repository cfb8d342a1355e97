// SPDX-License-Identifier: GPL-2.0-or-later
// Opening and closing the inputs of a file-mode job.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

// Fills the stream-id pools and the starting values of a fresh job.
void setUpOutput(mpeg_m_muxer& mux, const mux_output_info* info);

// From a file name (both readers opened here) or from the caller's two readers. 0 or 16.
std::int32_t openInput(mpeg_m_muxer& mux, const stream_settings& settings, const char* name,
                       bufstream* es, bufstream* units, std::uint32_t bitRate);
// Push mode: the producer writes the elementary stream into `es` and announces its units
// through the stream's notices. 0 or 16.
std::int32_t openPushedInput(mpeg_m_muxer& mux, const stream_settings& settings, bufstream* es);
// Push mode for mux type 19 (HDV HD2) without an output, for the library's own tests: the
// exported set-ups refuse transport types, whose packet writers this build lacks, yet the
// notices of such an instance's producers are queued as they are for a caller's. 0, or 16
// for any other type.
std::int32_t initUnwrittenHd2Push(mpeg_m_muxer& mux);
// A pushed input's stream facts, ids and buffer model, once its first data is queued. 0 or 16.
std::int32_t completePushedInput(mpeg_m_muxer& mux, Input& in);
void closeInputs(mpeg_m_muxer& mux, bool abort);
void releaseScanOffsets(mpeg_m_muxer& mux);
// Notice 0xD0000: the size of the still pictures the caller will send.
void applySizeNotice(mpeg_m_muxer& mux, std::uint32_t size);
// Notice 0xE0010: the highlight template of the navigation packs.
void storeNavigationTemplate(mpeg_m_muxer& mux, const mux_navigation_template& notice);

}  // namespace quillion::corvel
