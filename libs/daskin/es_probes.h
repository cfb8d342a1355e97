// SPDX-License-Identifier: GPL-2.0-or-later
// The probes of elementary streams without a container: each looks at the data from the
// reader's position and, when two consecutive units agree, records one program with one
// stream. Results: kFound (recorded), kNotThis (the first word does not fit), kRefuted
// (it began like this kind but was not confirmed).
#pragma once

#include <cstdint>

#include "probe_reader.h"

namespace quillion::daskin {

inline constexpr int kFound = 0;
inline constexpr int kNotThis = 1;
inline constexpr int kRefuted = 3;

// Records the file as one elementary stream of this kind.
void recordElementary(Context& ctx, std::uint32_t streamType, std::uint32_t kind,
                      std::uint8_t streamId, std::uint8_t subStreamId);

// Frame length in bytes of an MPEG audio header (ISO/IEC 11172-3 2.4.3.1, 13818-3 2.4.3.1),
// 0 for free format; -1 when the header is not valid.
int mpegAudioFrameLength(std::uint32_t header);
// Frame length in bytes of an AC-3 frame (ATSC A/52 table 5.18); -1 for reserved codes.
int ac3FrameLength(unsigned fscod, unsigned frmsizecod);

int probeMpegVideo(BitReader& r, std::uint32_t first, std::uint64_t limit);
int probeH264(BitReader& r, std::uint32_t first);
int probeAdts(BitReader& r, std::uint32_t first);
int probeMpegAudio(BitReader& r, std::uint32_t first);

}  // namespace quillion::daskin
