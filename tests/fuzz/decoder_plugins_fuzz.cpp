// SPDX-License-Identifier: GPL-2.0-or-later
// The decoder plug-ins over arbitrary bytes: each frames its stream itself, so whatever it is
// fed, in chunks whose sizes the input chooses, it must take no more than it was offered,
// write no more samples than the area holds, refuse records of the wrong size, and report
// itself empty within a bounded number of flushes.
//
// Input: kind byte (mod 7: MPEG video, MPEG video in display order, MPEG audio, H.264, AAC,
// AC-3, subpictures), header length byte, chunk-size count byte (1..16 used), that many chunk
// sizes (two bytes each), then the stream; the header is the stream's first bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bufstream.h"
#include "decoder_plugin.h"
#include "fuzz_support.h"
#include "kestrin.h"
#include "lorrimer.h"
#include "ostrell.h"
#include "quenby.h"

namespace {

using quillion::fuzz::check;

bufstream* openKind(std::uint32_t kind) {
  switch (kind) {
    case 0:
    case 1:
      return open_MPEGin_Video_stream_ex(nullptr, 0, 0);
    case 2:
      return open_MPEGin_Audio_stream_ex(nullptr, 0, 0);
    case 3:
      return open_h264in_Video_stream_ex(nullptr, 0, 0);
    case 4:
      return open_AACin_Audio_stream_ex(nullptr);
    case 5:
      return open_AC3in_Audio_stream(nullptr, 0, 0);
    default:
      return open_MPEGin_Subpic_stream(nullptr, 1, 0);
  }
}

std::uint32_t status(bufstream* d) {
  std::uint32_t word = 0;
  check(d->auxinfo(d, 0, DECODER_STATUS, &word, sizeof word) == 0, "status refused");
  return word;
}

// Queries what a caller queries after a picture; copies it out when its size is sane.
void takePicture(bufstream* d, std::vector<std::uint8_t>& frame) {
  decoder_sequence_info sequence{};
  decoder_picture_info picture{};
  decoder_gop_info gop{};
  d->auxinfo(d, 0, DECODER_SEQUENCE_INFO, &sequence, sizeof sequence);
  d->auxinfo(d, 0, DECODER_GOP_INFO, &gop, sizeof gop);
  d->auxinfo(d, 0, DECODER_PICTURE_INFO, &picture, sizeof picture);
  check(d->auxinfo(d, 0, DECODER_PICTURE_INFO, &picture, sizeof picture - 1) == 1,
        "a short record was filled");
  const std::uint32_t w = sequence.width;
  const std::uint32_t h = sequence.height;
  if (w == 0 || h == 0 || w > 1024 || h > 1024) return;
  const std::size_t luma = std::size_t{w} * h;
  const std::size_t chroma = std::size_t{(w + 1) / 2} * ((h + 1) / 2);
  frame.assign(luma + 2 * chroma, 0);
  decoder_frame_record record{};
  record.width = w;
  record.height = h;
  record.fourcc = 0x30323449;  // I420
  record.planes[0] = frame.data();
  record.planes[1] = frame.data() + luma;
  record.planes[2] = frame.data() + luma + chroma;
  record.strides[0] = static_cast<std::int32_t>(w);
  record.strides[1] = record.strides[2] = static_cast<std::int32_t>((w + 1) / 2);
  d->auxinfo(d, 3, DECODER_COPY_PICTURE, &record, sizeof record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint32_t kind = in.u8() % 7;
  const std::size_t headerLength = in.u8();
  const std::size_t chunkCount = in.u8() % 16 + 1;
  std::vector<std::size_t> chunks;
  for (std::size_t i = 0; i < chunkCount; ++i) chunks.push_back(in.u16() % 8192 + 1);
  const auto rest = in.rest();
  const std::vector<std::uint8_t> stream(rest.begin(), rest.end());

  bufstream* d = openKind(kind);
  check(d != nullptr, "no decoder");
  const bool video = kind == 0 || kind == 1 || kind == 3;
  const bool audio = kind == 2 || kind == 4 || kind == 5;
  d->auxinfo(d, kind == 1 || kind == 3 ? DECODER_FLAG_EXTERNAL_FRAME_BUFFER : 0,
             DECODER_SET_FLAGS, nullptr, 0);
  d->auxinfo(d, 0, video ? DECODER_VIDEO_HEADER_NEXT : DECODER_AUDIO_HEADER_NEXT, nullptr, 0);
  std::vector<std::uint8_t> header(stream.begin(),
                                   stream.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(headerLength, stream.size())));
  const std::uint32_t headerTaken =
      d->copybytes(d, header.data(), static_cast<std::uint32_t>(header.size()));
  check(headerTaken == 0 || headerTaken == header.size(), "part of a header taken");
  d->auxinfo(d, 0, DECODER_INIT_FRAME_PARSER, nullptr, 0);

  std::vector<std::uint8_t> samples(16384);
  std::vector<std::uint8_t> frame;
  auto afterFeed = [&](std::uint32_t s) {
    if (audio) {
      std::uint32_t written = 0;
      check(d->auxinfo(d, 0, DECODER_AUDIO_WRITTEN, &written, sizeof written) == 0, "no count");
      check(written <= samples.size(), "more samples than the area holds");
    }
    if (video && (s & DECODER_STATUS_PICTURE)) takePicture(d, frame);
  };
  std::size_t at = 0;
  for (std::size_t c = 0; at < stream.size(); ++c) {
    const std::size_t n = std::min(chunks[c % chunks.size()], stream.size() - at);
    std::vector<std::uint8_t> chunk(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                    stream.begin() + static_cast<std::ptrdiff_t>(at + n));
    std::size_t off = 0;
    for (int guard = 0; off < n && guard < 4096; ++guard) {
      if (audio) {
        decoder_audio_area area{samples.data(), static_cast<std::uint32_t>(samples.size())};
        d->auxinfo(d, 0, DECODER_SET_OUTPUT, &area, sizeof area);
      }
      const std::uint32_t taken =
          d->copybytes(d, chunk.data() + off, static_cast<std::uint32_t>(n - off));
      check(taken <= n - off, "more bytes taken than offered");
      const std::uint32_t s = status(d);
      afterFeed(s);
      if (taken == 0 && !(s & DECODER_STATUS_PICTURE)) break;
      off += taken;
    }
    at += n;
  }
  bool empty = false;
  for (int i = 0; i < 512 && !empty; ++i) {
    if (audio) {
      decoder_audio_area area{samples.data(), static_cast<std::uint32_t>(samples.size())};
      d->auxinfo(d, 0, DECODER_SET_OUTPUT, &area, sizeof area);
    }
    d->copybytes(d, nullptr, 0);
    const std::uint32_t s = status(d);
    afterFeed(s);
    empty = (s & (DECODER_STATUS_DONE | DECODER_STATUS_ERROR)) != 0 && !(s & DECODER_STATUS_PICTURE);
  }
  check(empty, "the decoder never emptied");
  d->done(d, 0);
  d->free(d);
  return 0;
}
