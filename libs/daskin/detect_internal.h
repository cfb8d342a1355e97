// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers the detection files share.
#pragma once

#include <cstdint>

#include "context.h"
#include "detect.h"
#include "probe_reader.h"

namespace quillion::daskin::detail {

// Appends a stream to the program; null when it holds the most streams already.
stream_info_struct* addStream(Context& ctx, int program, std::uint32_t streamType,
                              std::uint32_t kind, std::uint32_t pid, std::uint8_t id,
                              std::uint8_t sub);
bool hasKind(const Context& ctx, std::uint32_t kind);
// Whether program 0 lists the stream id and sub-stream id.
bool seenStream(const Context& ctx, std::uint8_t id, std::uint8_t sub);
// The DVD navigation copies as two streams of private stream 2 (sub-streams 0 and 1).
void addNavigationStreams(Context& ctx);
// Whether the probe stop mode lets a scan end now.
bool stopScan(const Context& ctx, bool transport);
std::uint64_t probeBudget(const Context& ctx);
// n bytes from the reader into a descriptor buffer of the context's services.
std::uint8_t* copyBytes(Context& ctx, BitReader& r, std::uint32_t n, bool& failed);
// The same from bytes at hand.
std::uint8_t* copyDescriptors(Context& ctx, const std::uint8_t* bytes, std::uint32_t n,
                              bool& failed);

// Probe results beyond found / not found.
inline constexpr int kProbeReadError = 2;

int probeProgramStream(BitReader& r, std::uint64_t budget);
int checkTsSync(BitReader& r, std::uint64_t at, std::uint64_t budget);
int probeAvStream(BitReader& r, std::uint64_t budget);

}  // namespace quillion::daskin::detail
