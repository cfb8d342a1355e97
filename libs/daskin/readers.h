// SPDX-License-Identifier: GPL-2.0-or-later
// The packet readers, one per container, and what they share: the start-code search, the
// PES header, and delivery of payload to a bound stream (pulled chunk records or bytes
// copied into the stream). One reader call delivers at most one chunk.
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

Step readElementary(Context& ctx, Parser& p, demux_chunk_info* chunk);
Step readMpeg1System(Context& ctx, Parser& p, demux_chunk_info* chunk);
Step readProgramStream(Context& ctx, Parser& p, demux_chunk_info* chunk);
Step readTransportStream(Context& ctx, Parser& p, demux_chunk_info* chunk);
Step readAvPackets(Context& ctx, Parser& p, demux_chunk_info* chunk);

// Delivers up to p.bytesLeft payload bytes at the read position to stream (program, stream).
// With `withHeader`, a private stream's header bytes are taken off the front first.
Step sendDownstream(Context& ctx, Parser& p, int program, int stream, bool withHeader,
                    demux_chunk_info* chunk);

// Delivers a DVD navigation copy (`count` bytes kept in the parser) to its bound stream.
Step sendNavCopy(Context& ctx, Parser& p, const Route& route, const std::uint8_t* bytes,
                 std::uint32_t count, std::uint64_t dataPosition, demux_chunk_info* chunk);

// DVD sets: before each start-code search, moves on to the next file, the next cell or the
// next interleaved unit when the read position has passed the current one.
Step checkBoundaries(Context& ctx, Parser& p);

// Delivers a PES of length 0 up to the next start code of its own stream.
Step sendUntilStartCode(Context& ctx, Parser& p, demux_chunk_info* chunk);

// Finds the next 00 00 01 xx at or after the read position and steps past it.
Step findStartCode(Parser& p, std::uint32_t& code);

// A PES header after its start code, fitted to the bytes at hand. MPEG-2 form.
struct PesHeader {
  std::uint32_t length = 0;       // the PES_packet_length field
  std::uint32_t headerBytes = 0;  // from the length field to the first payload byte
  std::int64_t pts = kNoTime;     // 27 MHz
};
enum class PesParse { Ok, NotPes, Short };
// `p` points at the PES_packet_length field; `have` bytes are readable there.
PesParse parseMpeg2Pes(const std::uint8_t* p, std::uint32_t have, PesHeader& out);
PesParse parseMpeg1Pes(const std::uint8_t* p, std::uint32_t have, PesHeader& out);

}  // namespace quillion::daskin
