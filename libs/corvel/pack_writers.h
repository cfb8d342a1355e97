// SPDX-License-Identifier: GPL-2.0-or-later
// Writers of the packs of a program stream: each assembles one pack in the instance's sector
// buffer and hands it to the output in one write.
#pragma once

#include <cstdint>

#include "muxer.h"

namespace quillion::corvel {

// Payload of a full packet of this input without time stamps, and with them.
std::int32_t packetPayloadPlain(const mpeg_m_muxer& mux, const Input& in);
std::int32_t packetPayloadStamped(const mpeg_m_muxer& mux, const Input& in);

std::int32_t writeVideoPack(mpeg_m_muxer& mux, Input& in, std::uint64_t scr);
// Audio inputs, and subpicture inputs, which travel the same way in private stream 1.
std::int32_t writeAudioPack(mpeg_m_muxer& mux, Input& in, std::uint64_t scr);
// Also carries the system headers of the first packs.
std::int32_t writePaddingPack(mpeg_m_muxer& mux, std::uint64_t scr);
// First pack of an MPEG-2 program stream: system header, stream map and padding.
std::int32_t writeStreamMapPack(mpeg_m_muxer& mux, std::uint64_t scr);
// DVD navigation pack: system header, then presentation and search information, a DVD-VR
// data packet or padding.
std::int32_t writeNavPack(mpeg_m_muxer& mux, std::uint64_t scr);
std::int32_t writeLastPack(mpeg_m_muxer& mux, std::uint64_t scr);

// The program stream map of the instance's inputs, CRC included; its size.
std::size_t buildStreamMap(const mpeg_m_muxer& mux, std::uint8_t* out);

}  // namespace quillion::corvel
