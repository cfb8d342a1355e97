// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_parser.h"

#include <algorithm>
#include <cstring>

#include "bufstream.h"
#include "daskin.h"
#include "session.h"

namespace quillion::brindle {
namespace stream_parser_detail {

bool stopped(const stream_parser* p) {
  return p->error != 0 || p->end_flag != 0;
}

// Moves one byte into the history: every slot takes the next newer one, slot 3 the current
// chunk's facts; the running position counts the byte.
void shiftHistory(stream_parser* p) {
  for (int i = 0; i < 4; ++i) {
    p->time_stamps[i] = p->time_stamps[i + 1];
    p->packet_positions[i] = p->packet_positions[i + 1];
    p->byte_positions[i] = p->byte_positions[i + 1];
  }
  ++p->byte_positions[4];
}

// True when a byte is at hand, loading chunks (passing over empty ones) when the current one
// is used up.
bool byteAvailable(mpeg_in_info* session, stream_parser* p) {
  while (p->read >= p->end) {
    Load_Next_Chunk(session, p);
    if (stopped(p)) return false;
  }
  return true;
}

}  // namespace stream_parser_detail

using namespace stream_parser_detail;

void Load_Next_Chunk(mpeg_in_info* /*session*/, stream_parser* p) {
  demux_chunk_info chunk{};
  bufstream* source = p->demux_output;
  if (!source || !source->auxinfo ||
      source->auxinfo(source, 0, DEMUX_CHUNK_INFO_ID, &chunk, sizeof chunk) != 0) {
    p->error = 1;
    return;
  }
  if (chunk.end) {
    p->end_flag = 1;
    return;
  }
  if (!chunk.data) {
    p->error = 1;
    return;
  }
  p->chunk_start = chunk.data;
  p->read = chunk.data;
  p->end = chunk.data + chunk.length;
  p->packet_positions[4] = chunk.pack_position;
  p->byte_positions[4] = chunk.data_position;
  if (chunk.pts >= 0) p->time_stamps[4] = chunk.pts;
  if (chunk.flags & 1u) {
    p->chunk_tail = chunk.aes3_length;
    // The record may announce more extra bytes than the parser keeps; only what fits is
    // copied.
    const std::uint32_t count =
        std::min<std::uint32_t>({chunk.extra_count, static_cast<std::uint32_t>(sizeof p->extra),
                                 static_cast<std::uint32_t>(sizeof chunk.extra)});
    p->extra_count = count;
    std::memcpy(p->extra, chunk.extra, count);
  }
  if (chunk.flags & 2u) p->break_flag = 1;
}

void Skip_Bits(mpeg_in_info* session, stream_parser* p, std::uint32_t n) {
  p->window = n >= 32 ? 0 : p->window << n;
  p->bit_count -= static_cast<std::int32_t>(std::min<std::uint32_t>(n, 1u << 24));
  while (p->bit_count <= 24) {
    if (!byteAvailable(session, p)) return;
    shiftHistory(p);
    // Bits consumed beyond what the window held leave a negative count: their bytes lose
    // those bits (a byte consumed whole is dropped) instead of shifting out of range.
    if (p->bit_count > -8) p->window |= std::uint32_t{*p->read} << (24 - p->bit_count);
    ++p->read;
    p->bit_count += 8;
  }
}

std::uint32_t Peek_Bits(const stream_parser* p, std::uint32_t n) {
  if (n == 0) return 0;
  return p->window >> (32 - std::min<std::uint32_t>(n, 32));
}

std::uint32_t Read_Bit(mpeg_in_info* session, stream_parser* p) {
  const std::uint32_t bit = p->window >> 31;
  Skip_Bits(session, p, 1);
  return bit;
}

std::uint32_t Read_Bits(mpeg_in_info* session, stream_parser* p, std::uint32_t n) {
  const std::uint32_t value = Peek_Bits(p, n);
  Skip_Bits(session, p, n);
  return value;
}

std::uint32_t Find_Start_Code(mpeg_in_info* session, stream_parser* p, std::uint32_t mask,
                              std::uint32_t value) {
  const std::uint32_t misaligned = static_cast<std::uint32_t>(p->bit_count) & 7u;
  Skip_Bits(session, p, misaligned);
  while ((p->window & mask) != value) {
    if (p->stop_position != 0 && static_cast<std::int64_t>(p->stop_position) <
                                     static_cast<std::int64_t>(p->byte_positions[0])) {
      p->end_flag = 1;
      return 0;
    }
    if (!byteAvailable(session, p)) return 0;
    shiftHistory(p);
    p->window = p->window << 8 | *p->read++;
  }
  return p->window;
}

int Skip_Bytes(mpeg_in_info* session, stream_parser* p, std::int32_t n) {
  if (n < 0 || n > p->end - p->read) return 1;
  p->read += n;
  p->byte_positions[0] += static_cast<std::uint64_t>(static_cast<std::int64_t>(n));
  p->window = 0;
  if (p->read == p->end) Load_Next_Chunk(session, p);
  const std::uint64_t size = session && session->priv ? session->priv->stream_size : 0;
  if (size != 0 &&
      static_cast<std::int64_t>(p->byte_positions[0]) >= static_cast<std::int64_t>(size))
    p->end_flag = 1;
  return stopped(p) ? 1 : 0;
}

bool Is_Byte_Aligned(const stream_parser* p) {
  return p->bit_count % 8 == 0;
}

void Reset_Parser(mpeg_in_info* session, stream_parser* p, std::uint64_t position) {
  if (p->demux_parser == 0) {
    p->error = 1;
    return;
  }
  p->window = 0;
  p->bit_count = 0;
  for (int i = 0; i < 5; ++i) {
    p->time_stamps[i] = -1;
    p->packet_positions[i] = ~std::uint64_t{0};
    p->byte_positions[i] = ~std::uint64_t{0};
  }
  p->error = 0;
  p->end_flag = 0;
  mpeg_in_private* priv = session ? session->priv : nullptr;
  const auto low = static_cast<std::uint32_t>(position);
  const auto high = static_cast<std::uint32_t>(position >> 32);
  std::int32_t result = 1;
  if (priv && priv->demux && priv->daskin.Seek)
    result = priv->daskin.Seek(priv->demux, p->demux_parser, low, high);
  else if (priv && priv->mxf_demux && priv->varlow.Seek)
    result = priv->varlow.Seek(priv->mxf_demux, p->demux_parser, low, high);
  if (result == 1) {
    p->error = 1;
    return;
  }
  if (result == 2) {
    p->end_flag = 1;
    return;
  }
  if (result != 0) {
    p->error = 1;
    return;
  }
  p->chunk_start = nullptr;
  p->read = nullptr;
  p->end = nullptr;
  Skip_Bits(session, p, 0);
}

void Nav_Copy_First(void* context, const std::uint8_t* copy, std::int32_t length) {
  auto* p = static_cast<stream_parser*>(context);
  if (!p || !copy || length <= 0) return;
  std::memcpy(p->pci, copy, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof p->pci));
}

void Nav_Copy_Second(void* context, const std::uint8_t* copy, std::int32_t length) {
  auto* p = static_cast<stream_parser*>(context);
  if (!p || !copy || length <= 0) return;
  std::memcpy(p->dsi, copy, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof p->dsi));
}

// The H.264 reader over one NAL unit in memory.
namespace rbsp_detail {

void refill(rbsp_reader* r) {
  while (r->bit_count < 25) {
    if (r->read >= r->end) {
      r->end_flag = 1;
      return;
    }
    r->window |= std::uint32_t{*r->read++} << (24 - r->bit_count);
    r->bit_count += 8;
  }
}

// On a byte boundary, 00 00 03 in the top of the window loses its 03.
void dropEmulationPrevention(rbsp_reader* r) {
  if (r->bit_count % 8 != 0 || r->bit_count < 24) return;
  if ((r->window >> 8) != 0x000003u) return;
  r->window = (r->window & 0xFFFF00FFu) << 8;
  r->bit_count -= 8;
  refill(r);
}

}  // namespace rbsp_detail

void Rbsp_Init(rbsp_reader* r, const std::uint8_t* data, std::uint32_t size) {
  *r = rbsp_reader{};
  r->read = data;
  r->end = data + size;
  rbsp_detail::refill(r);
}

std::uint32_t Rbsp_Peek_Bits(rbsp_reader* r, std::uint32_t n) {
  rbsp_detail::dropEmulationPrevention(r);
  if (n == 0) return 0;
  return r->window >> (32 - std::min<std::uint32_t>(n, 32));
}

std::uint32_t Rbsp_Read_Bit(rbsp_reader* r) {
  rbsp_detail::dropEmulationPrevention(r);
  const std::uint32_t bit = r->window >> 31;
  r->window <<= 1;
  if (r->bit_count > 0) --r->bit_count;
  rbsp_detail::refill(r);
  return bit;
}

std::uint32_t Rbsp_Read_Bits(rbsp_reader* r, std::int32_t n) {
  std::uint32_t value = 0;
  for (std::int32_t i = 0; i < n; ++i) value = value << 1 | Rbsp_Read_Bit(r);
  return value;
}

}  // namespace quillion::brindle
