// SPDX-License-Identifier: GPL-2.0-or-later
// The bit reader over one elementary stream that the demultiplexer delivers chunk by chunk,
// and the reader over one H.264 NAL unit in memory. Besides bits, the stream reader keeps for
// each of the four bytes in its window the time stamp, packet position and byte position of
// the chunk that byte came from, so a start code found in the window carries the facts of its
// first byte. No operation prints: failures are the error and end flags, which stay set until
// the next Reset_Parser.
#pragma once

#include <cstdint>

struct bufstream;
struct mpeg_in_info;

struct stream_parser {
  const std::uint8_t* chunk_start;
  const std::uint8_t* read;
  const std::uint8_t* end;
  std::uint32_t window;  // the next bit is bit 31
  std::int32_t bit_count;
  std::uint64_t stop_position;  // 0: none
  std::uint32_t error;
  std::uint32_t end_flag;
  // Slots 0..3 describe the window's bytes, slot 0 the oldest (top) one; slot 4 the current
  // chunk (for byte positions: the running position of the next byte).
  std::int64_t time_stamps[5];
  std::uint64_t packet_positions[5];
  std::uint64_t byte_positions[5];
  std::uint32_t extra_count;
  std::uint8_t extra[20];
  std::uint32_t break_flag;
  std::uint64_t chunk_tail;  // the chunk record's last word, kept with its extra bytes
  std::uint32_t h264;
  std::uint32_t program;
  std::uint32_t stream;
  std::uint32_t system_stream_type;
  std::uint8_t pci[60];
  std::uint8_t dsi[560];
  bufstream* demux_output;
  std::int32_t demux_parser;
};

struct rbsp_reader {
  const std::uint8_t* read;
  const std::uint8_t* end;
  std::uint32_t window;
  std::uint32_t end_flag;
  std::int32_t bit_count;
};

namespace quillion::brindle {

constexpr std::uint32_t kAnyStartCodeMask = 0xFFFFFF00u;
constexpr std::uint32_t kAnyStartCode = 0x00000100u;

void Load_Next_Chunk(mpeg_in_info* session, stream_parser* parser);
void Skip_Bits(mpeg_in_info* session, stream_parser* parser, std::uint32_t n);
std::uint32_t Peek_Bits(const stream_parser* parser, std::uint32_t n);
std::uint32_t Read_Bit(mpeg_in_info* session, stream_parser* parser);
std::uint32_t Read_Bits(mpeg_in_info* session, stream_parser* parser, std::uint32_t n);
std::uint32_t Find_Start_Code(mpeg_in_info* session, stream_parser* parser, std::uint32_t mask,
                              std::uint32_t value);
int Skip_Bytes(mpeg_in_info* session, stream_parser* parser, std::int32_t n);
bool Is_Byte_Aligned(const stream_parser* parser);
void Reset_Parser(mpeg_in_info* session, stream_parser* parser, std::uint64_t position);

// Copies of the last DVD navigation pack's PCI and DSI data; `context` is the stream_parser.
void Nav_Copy_First(void* context, const std::uint8_t* copy, std::int32_t length);
void Nav_Copy_Second(void* context, const std::uint8_t* copy, std::int32_t length);

void Rbsp_Init(rbsp_reader* reader, const std::uint8_t* data, std::uint32_t size);
std::uint32_t Rbsp_Peek_Bits(rbsp_reader* reader, std::uint32_t n);
std::uint32_t Rbsp_Read_Bit(rbsp_reader* reader);
std::uint32_t Rbsp_Read_Bits(rbsp_reader* reader, std::int32_t n);

}  // namespace quillion::brindle
