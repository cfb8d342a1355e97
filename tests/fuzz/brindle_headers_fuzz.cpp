// SPDX-License-Identifier: GPL-2.0-or-later
// Brindle's stream parser and MPEG-1/2 video header parsers over arbitrary data, delivered in
// chunks whose sizes (empty ones too) and time stamps the input chooses. Every read must stay
// inside the delivered chunk, the window must never claim more than 32 bits, positions must
// stay inside the data, and a header accepted as read must describe a usable stream. With
// mode bit 3 the data are also read as one H.264 NAL unit. With an audio kind the same data
// are also read as the first audio frame of that kind: a header accepted must describe a
// usable stream and agree with itself.
//
// Input: mode byte (bits 0-1 header mode, bit 2 resize, bit 3 NAL reader, bit 4 from a
// system stream, bit 5 not quiet, bit 6 then capture the sequence header, bit 7 as H.264),
// chunk-size count byte (bits 0-3: 1..16 sizes used; bits 4-6 the audio kind: 0 none, 1 MPEG
// audio or ADTS, 2 LPCM, 3 AC-3, 4 to 7 AES3 of kind 10, 11, 12 and 9), that many chunk sizes
// (one byte each), then the data. The first chunk of the audio source brings the first eight
// data bytes as its private header and the byte after them as its AES3 payload size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "audio_headers.h"
#include "bufstream.h"
#include "daskin.h"
#include "fuzz_support.h"
#include "sequence_capture.h"
#include "session.h"
#include "stream_parser.h"
#include "video_headers.h"

namespace {

using quillion::fuzz::check;

struct FuzzChunks {
  bufstream stream{};
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::vector<std::size_t> sizes;
  std::size_t at = 0;  // next byte to deliver
  std::size_t chunk = 0;
  const std::uint8_t* lastStart = nullptr;
  const std::uint8_t* lastEnd = nullptr;
  // What the first chunk brings besides its bytes (the audio source only).
  std::uint32_t firstFlags = 0;
  std::uint8_t firstExtra[8] = {};
  std::uint64_t firstAes3Length = 0;
};

std::int32_t fuzzAuxinfo(bufstream* bs, std::uint32_t /*offset*/, std::uint32_t id, void* out,
                         std::uint32_t bytes) {
  auto* c = static_cast<FuzzChunks*>(bs->drive_chain);
  check(id == DEMUX_CHUNK_INFO_ID && bytes == sizeof(demux_chunk_info), "an unknown chunk request");
  demux_chunk_info info{};
  if (c->at >= c->size) {
    info.end = 1;
  } else {
    const std::size_t n = std::min(c->sizes[c->chunk % c->sizes.size()], c->size - c->at);
    info.data = c->data + c->at;
    info.length = static_cast<std::uint32_t>(n);
    info.data_position = c->at;
    info.pack_position = c->at / 2048 * 2048;
    info.pts = (c->chunk % 3 == 0) ? static_cast<std::int64_t>(c->chunk) * 3600 : -1;
    if (c->at == 0 && c->firstFlags) {
      info.flags = c->firstFlags;
      std::memcpy(info.extra, c->firstExtra, sizeof c->firstExtra);
      info.extra_count = sizeof c->firstExtra;
      info.aes3_length = c->firstAes3Length;
    }
    c->lastStart = info.data;
    c->lastEnd = info.data + n;
    c->at += n;
    ++c->chunk;
  }
  std::memcpy(out, &info, sizeof info);
  return 0;
}

std::int32_t fuzzSeek(demux_context* context, std::int32_t /*parser*/, std::uint32_t low,
                      std::uint32_t high) {
  auto* c = reinterpret_cast<FuzzChunks*>(context);
  const std::uint64_t to = std::uint64_t{high} << 32 | low;
  if (to >= c->size) return 2;
  c->at = static_cast<std::size_t>(to);
  return 0;
}

void checkParser(const stream_parser* p, const FuzzChunks& c) {
  check(p->bit_count <= 32, "the window claims more than 32 bits");
  if (p->read) {
    check(p->read >= c.lastStart && p->read <= c.lastEnd, "a read pointer outside its chunk");
  }
  if (p->byte_positions[0] != ~std::uint64_t{0}) {
    check(p->byte_positions[0] <= c.size + 8, "a position beyond the data");
  }
}

// Reads the data as the first frame of one audio kind and checks what an accepted header says.
void fuzzAudioHeader(std::uint32_t kind, const std::vector<std::size_t>& sizes,
                     std::span<const std::uint8_t> rest) {
  using namespace quillion::brindle;
  FuzzChunks chunks;
  chunks.sizes = sizes;
  chunks.data = rest.data();
  chunks.size = rest.size();
  chunks.stream.auxinfo = &fuzzAuxinfo;
  chunks.stream.drive_chain = &chunks;
  chunks.firstFlags = kind == 2 ? 3u : kind >= 4 ? 1u : 0u;
  std::memcpy(chunks.firstExtra, rest.data(), std::min(rest.size(), sizeof chunks.firstExtra));
  chunks.firstAes3Length = rest.size() > 8 ? rest[8] : 0;

  mpeg_in_info* record = mpegInNew(nullptr, nullptr);
  if (!record) return;
  mpeg_in_private* priv = record->priv;
  priv->demux = reinterpret_cast<demux_context*>(&chunks);
  priv->daskin.Seek = &fuzzSeek;
  stream_parser* p = &priv->audio;
  p->demux_output = &chunks.stream;
  p->demux_parser = 1;
  switch (kind) {
    case 1:
      record->audio_stream_count = 1;
      break;
    case 2:
      record->lpcm_stream_count = 1;
      break;
    case 3:
      record->ac3_stream_count = 1;
      break;
    default:
      record->aes3_stream_count = 1;
      record->audio_format = kind == 7 ? 9 : kind + 6;
      record->audio_channels = rest.size() > 9 ? rest[9] % 9 : 0;
      record->bits_per_sample = rest.size() > 10 ? rest[10] : 0;
      record->sample_rate = 48000;
      break;
  }
  Reset_Parser(record, p, 0);
  const int result = Parse_Audio_Header(record);
  checkParser(p, chunks);
  check(result == 0 || result == 1, "an audio result other than 0 or 1");
  check(record->audio_header_length <= sizeof record->audio_header, "a captured header too long");
  if (result == 0) {
    check(record->sample_rate > 0, "an audio header accepted without a sample rate");
    check(record->audio_channels > 0 && record->bytes_per_sample_frame > 0,
          "an audio header accepted without channels");
    check(record->samples_per_frame > 0, "an audio header accepted without samples");
    check(priv->audio_header.frame_ready == 1, "an accepted header without its frame");
    const std::uint8_t* h = record->audio_header;
    if (kind == 1) {
      const std::uint32_t word = std::uint32_t{h[0]} << 24 | h[1] << 16 | h[2] << 8 | h[3];
      check(record->coded_frame_size > 0, "an MPEG audio frame without a size");
      check(Match_Mpeg_Audio_Header(record, word) == 0, "the first header refuses itself");
    } else if (kind == 3) {
      // The captured bytes stand in the stream's order, as the matcher reads them.
      const std::uint32_t next = std::uint32_t{h[4]} << 24 | h[5] << 16 | h[6] << 8 | h[7];
      check(Match_Ac3_Header(record, next) == 0, "the first AC-3 frame refuses itself");
    } else {
      check(record->private_header_count == 6 && record->audio_header_length == 20,
            "a PCM header without its records");
    }
  }
  mpegInFree(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillion::brindle;
  quillion::fuzz::Input in(data, size);
  const std::uint8_t mode = in.u8();
  const std::uint8_t countByte = in.u8();
  const std::size_t count = (countByte & 15u) + 1;
  FuzzChunks chunks;
  for (std::size_t i = 0; i < count; ++i) chunks.sizes.push_back(in.u8());
  if (chunks.sizes == std::vector<std::size_t>(count, 0)) chunks.sizes.push_back(1);
  const auto rest = in.bytes(in.left());
  chunks.data = rest.data();
  chunks.size = rest.size();
  chunks.stream.auxinfo = &fuzzAuxinfo;
  chunks.stream.drive_chain = &chunks;

  if (const std::uint32_t audioKind = countByte >> 4 & 7u; audioKind != 0)
    fuzzAudioHeader(audioKind, chunks.sizes, rest);

  if (mode & 8u) {
    rbsp_reader r{};
    Rbsp_Init(&r, rest.data(), static_cast<std::uint32_t>(rest.size()));
    for (std::size_t i = 0; i < rest.size() * 8 + 64 && !(r.end_flag && r.bit_count == 0); ++i)
      Rbsp_Read_Bits(&r, 1 + static_cast<std::int32_t>(i % 7));
    check(r.end_flag == 1u, "the NAL reader did not reach the end");
  }

  mpeg_in_info* record = mpegInNew(nullptr, nullptr);
  if (!record) return 0;
  record->quiet = (mode & 32u) ? 0 : 1;
  mpeg_in_private* priv = record->priv;
  priv->resize = (mode & 4u) ? 1 : 0;
  priv->demux = reinterpret_cast<demux_context*>(&chunks);
  priv->daskin.Seek = &fuzzSeek;
  stream_parser* p = &priv->video;
  p->demux_output = &chunks.stream;
  p->demux_parser = 1;
  p->system_stream_type = (mode & 16u) ? 2 : 0;
  Reset_Parser(record, p, 0);
  const auto headerMode = static_cast<HeaderMode>((mode & 3u) % 3u);
  for (int calls = 0; calls < 256; ++calls) {
    const int result = Get_Next_Header(record, headerMode);
    checkParser(p, chunks);
    check(result == 0 || result == 1, "a result other than 0 or 1");
    if (result != 0) {
      check(p->error || p->end_flag, "a failure without a flag");
      break;
    }
    if (headerMode == HeaderMode::Sequence || record->sequence_header_seen) {
      check(record->frame_rate > 0.0, "a sequence accepted without a frame rate");
    }
    check(record->width <= 0x3FFF && record->height <= 0x3FFF, "a size beyond 14 bits");
  }
  if (mode & 64u) {
    record->h264 = (mode & 128u) ? 1 : 0;
    priv->kinds.vro = priv->resize;
    const int result = read_sequence_header(record);
    checkParser(p, chunks);
    check(result == 0 || result == 1, "a capture result other than 0 or 1");
    check(result == 0 ? record->sequence_header_length == 150 : record->sequence_header_length == 0,
          "a captured length that does not match the result");
    if (result == 0 && record->h264) {
      check(record->sequence_header[3] == 1 && (record->sequence_header[4] & 0x1Fu) == 7,
            "a captured parameter set that is not one");
    }
    if (start_video_search(record) == 0)
      check(record->frame_rate > 0.0, "a search accepted a sequence without a frame rate");
    check(p->stop_position == 0, "the search limit stayed in place");
  }
  mpegInFree(record);
  return 0;
}
