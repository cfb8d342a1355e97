// SPDX-License-Identifier: GPL-2.0-or-later
// Stepping from audio frame to audio frame: the next header that agrees with the first one,
// where it stands and, in a system stream, the time stamp that came with it.
#include "audio_headers.h"
#include "session.h"
#include "stream_parser.h"

namespace quillion::brindle {
namespace audio_frames_detail {

using audio_detail::parserStopped;

int flagResult(const stream_parser* s) {
  return s->error ? 1 : 2;
}

// Takes the header the parser stands on: its positions and, in a program or transport stream,
// its time stamp, which then serves this frame only.
void takeHeader(mpeg_in_info* r, stream_parser* s) {
  audio_header_state& a = r->priv->audio_header;
  const bool system = r->system_stream_type != 0;
  const std::uint64_t position = s->byte_positions[0];
  const std::uint64_t packet = system ? s->packet_positions[0] : position;
  const std::int64_t stamp = s->time_stamps[0];
  a.header_word = Read_Bits(r, s, 32);
  a.header_byte_position = position;
  a.header_packet_position = packet;
  if (system && stamp >= 0) {
    r->priv->audio_time = static_cast<double>(stamp);
    for (std::int64_t& slot : s->time_stamps) slot = -1;
  }
}

}  // namespace audio_frames_detail

using namespace audio_frames_detail;

int Next_Mpeg_Audio_Header(mpeg_in_info* r) {
  stream_parser* s = &r->priv->audio;
  for (;;) {
    Find_Start_Code(r, s, 0xFFF00000u, 0xFFF00000u);
    if (s->error) return 1;
    if (s->end_flag && (s->bit_count < 32 || (s->window >> 20) != 0xFFFu)) return 2;
    if (Match_Mpeg_Audio_Header(r, s->window) == 0) {
      takeHeader(r, s);
      return 0;
    }
    if (parserStopped(s)) return flagResult(s);
    Skip_Bits(r, s, 8);
  }
}

int Next_Ac3_Header(mpeg_in_info* r) {
  stream_parser* s = &r->priv->audio;
  const std::uint32_t sync = r->priv->audio_header.byte_swapped ? 0x770Bu : 0x0B77u;
  Skip_Bits(r, s, static_cast<std::uint32_t>(s->bit_count) & 7u);
  for (;;) {
    while ((s->window >> 16) != sync || s->bit_count < 32) {
      if (parserStopped(s)) return flagResult(s);
      Skip_Bits(r, s, 8);
    }
    const bool system = r->system_stream_type != 0;
    const std::uint64_t position = s->byte_positions[0];
    const std::uint64_t packet = system ? s->packet_positions[0] : position;
    const std::int64_t stamp = s->time_stamps[0];
    const std::uint32_t word = Read_Bits(r, s, 32);
    if (s->error) return 1;
    if (s->bit_count < 32) return flagResult(s);
    if (Match_Ac3_Header(r, s->window) != 0) continue;
    audio_header_state& a = r->priv->audio_header;
    a.header_word = word;
    a.header_byte_position = position;
    a.header_packet_position = packet;
    r->ac3_crc1 = word & 0xFFFFu;
    if (system && stamp >= 0) {
      r->priv->audio_time = static_cast<double>(stamp);
      for (std::int64_t& slot : s->time_stamps) slot = -1;
    }
    return 0;
  }
}

}  // namespace quillion::brindle
