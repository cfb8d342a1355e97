// SPDX-License-Identifier: GPL-2.0-or-later
// The two GOP buffers of a session that decodes from whole GOPs: each holds the coded bytes of
// one GOP in decode order and a table of its pictures by display slot; finished GOPs travel
// whole through the GOP fifo.
#pragma once

#include <cstdint>

#include "brindle.h"

struct bufstream;

namespace quillion::brindle {

constexpr std::uint32_t kGopSlots = 1024;

// One picture of a GOP by display slot; all zero is an empty slot.
struct gop_picture {
  std::uint8_t picture_coding_type;  // 1 I, 2 P, 3 B; 0 empty
  std::uint8_t picture_structure;
  std::uint8_t top_field_first;
  std::uint8_t repeat_first_field;
  std::uint8_t progressive_frame;
  std::uint8_t skip;  // filler entry, or a picture that cannot be decoded
  std::uint16_t temporal_reference;
  std::int32_t anchor_slot;  // -1 for I
  std::uint32_t decode_number;
  std::int64_t time_stamp;  // 27 MHz, -1 none
  std::uint32_t offset;     // of the picture's bytes in the GOP data
  std::uint32_t length;
  std::uint64_t byte_position;
  std::uint64_t packet_position;
};
static_assert(sizeof(gop_picture) == 48);

struct gop_record {
  std::uint8_t* data;
  std::int32_t capacity;
  std::int32_t used;
  std::int32_t picture_count;
  std::int32_t highest_slot;
  std::int32_t i_slot;
  std::int32_t last_anchor_slot;
  std::uint32_t last_anchor_decodable;
  std::uint32_t feed_offset;
  std::int32_t first_repeat_slot;
  std::uint32_t gop_number;
  std::uint8_t substituted;
  std::uint8_t has_sequence_header;
  std::uint8_t has_gop_header;
  std::uint8_t closed_gop;
  std::uint8_t broken_link;
  std::uint8_t hours;
  std::uint8_t minutes;
  std::uint8_t seconds;
  std::uint8_t pictures;
  std::uint8_t drop_frame_flag;
  std::uint64_t start_position;
  std::uint64_t start_time;
  std::uint64_t end_time;
  std::uint64_t time_code_time;
  gop_picture slots[kGopSlots];
};

// The size both buffers start with, from the stream's bit rate, display rate and GOP length;
// 1,048,576 when those give no usable size.
std::int32_t gop_buffer_size(const mpeg_in_info* record);

// Allocates both GOP buffers and the GOP fifo unless they exist; 0, or 1 after a message
// (what was allocated is released).
int Alloc_Gop_Buffers(mpeg_in_info* record);
void Free_Gop_Buffers(mpeg_in_info* record);

}  // namespace quillion::brindle
