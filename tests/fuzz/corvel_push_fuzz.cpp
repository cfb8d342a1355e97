// SPDX-License-Identifier: GPL-2.0-or-later
// Corvel in push mode: a producer's byte streams and notices are outside input. Whatever
// bytes and notices arrive, in whatever order, the multiplexer answers every notice with 0
// or -1, and Done and Free release everything.
//
// Input: one byte (bits 0-1: preset 0 to 3, bit 3: the DVD preset instead, bit 4: an HDV HD2
// instance, whose pictures are held and whose auxiliary records are queued, set up without
// an output; bit 2: an audio input beside the video), then
// commands: 0 and 1 write stream bytes (video, audio), 2 and 3 send a video or audio notice,
// 4 runs the multiplexer; finally Done, with abort when the last byte asks for it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bufstream.h"
#include "corvel.h"
#include "fuzz_support.h"
#include "inputs.h"
#include "muxer.h"

namespace {

using quillion::fuzz::check;
using quillion::fuzz::Input;

constexpr std::uint32_t kVideoCodes[] = {0x100,   0x1B3,   0x1B7,   0x1B8,   0xF0001, 0xE0004,
                                         0xF0080, 0xF0040, 0xE0001, 0xD0000, 0xE0040};
constexpr std::uint32_t kAudioCodes[] = {0xF0002, 0xF0080, 0xFFF00000};

// An output that takes everything.
struct Sink {
  Sink() {
    record.flags = 1;
    record.copybytes = [](bufstream*, std::uint8_t*, std::uint32_t n) { return n; };
    record.auxinfo = [](bufstream*, std::uint32_t, std::uint32_t, void*, std::uint32_t) {
      return std::int32_t{0};
    };
  }
  bufstream record{};
};

void writeBytes(Input& in, bufstream* fifo) {
  const auto bytes = in.bytes(std::size_t{in.u8()} * 8);
  if (!bytes.empty())
    (void)fifo->copybytes(fifo, const_cast<std::uint8_t*>(bytes.data()),
                          static_cast<std::uint32_t>(bytes.size()));
}

// Times stay within a few hours: a producer's clock, not an arbitrary 64-bit value.
void putTime(std::uint32_t* words, std::uint64_t t) {
  words[0] = static_cast<std::uint32_t>(t);
  words[1] = static_cast<std::uint32_t>(t >> 32);
}

std::int32_t sendNotice(Input& in, bufstream* fifo, std::uint32_t code) {
  std::uint32_t words[8];
  for (std::uint32_t& w : words) w = in.u32();
  if (code == 0xF0001 || code == 0xF0002) {
    words[0] = in.u16();
    if (code == 0xF0001) {
      words[1] &= 3;
      putTime(words + 4, std::uint64_t{in.u16()} * 3600);
      putTime(words + 6, std::uint64_t{in.u16()} * 3600);
    } else {
      putTime(words + 1, std::uint64_t{in.u16()} * 3600);
    }
  }
  if (code == 0x1B3) words[1] &= 15;
  const std::uint32_t size = in.flag() ? sizeof words : in.u8() % 33;
  return fifo->auxinfo(fifo, in.u32(), code, words, size);
}

// The HDV HD2 instance: its set-up is the library's own, as callers cannot make one yet.
bool initHd2(mpeg_m_muxer& mux, bufstream* video, bufstream* audio) {
  if (quillion::corvel::initUnwrittenHd2Push(mux) != 0) return false;
  stream_settings s{};
  s.kind = STREAM_KIND_VIDEO;
  if (mpegOutMuxAddStream(&mux, &s, video + 1) != 0) return false;
  s.kind = STREAM_KIND_AUDIO;
  return !audio || mpegOutMuxAddStream(&mux, &s, audio + 1) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1 << 16)) return 0;
  Input in(data, size);
  const std::uint8_t selector = in.u8();
  mpeg_m_settings settings{};
  const bool hd2 = (selector & 16) != 0;
  if (!mpegOutMuxDefaults(&settings, hd2 ? 19 : (selector & 8) ? 4 : selector & 3)) return 0;
  mpeg_m_muxer* mux = mpegOutMuxNew(nullptr, &settings);
  check(mux != nullptr, "a preset makes an instance");
  bufstream* video = new_fifo_buf(1 << 18, 4097);
  bufstream* audio = new_fifo_buf(1 << 18, 4097);
  check(video && audio, "the fifos are made");
  Sink output;
  if (hd2 ? initHd2(*mux, video, (selector & 4) ? audio : nullptr)
          : mpegOutMuxInit(mux, &output.record, (selector & 4) ? audio + 1 : nullptr, video + 1) ==
                0) {
    for (int i = 0; i < 2000 && !in.empty(); ++i) {
      std::int32_t answer = 0;
      switch (in.u8() % 5) {
        case 0:
          writeBytes(in, video);
          break;
        case 1:
          writeBytes(in, audio);
          break;
        case 2:
          answer = sendNotice(in, video, kVideoCodes[in.u8() % std::size(kVideoCodes)]);
          break;
        case 3:
          answer = sendNotice(in, audio, kAudioCodes[in.u8() % std::size(kAudioCodes)]);
          break;
        default:
          (void)mpegOutMux(mux);
          break;
      }
      check(answer == 0 || answer == -1, "a notice answers 0 or -1");
    }
  }
  check(mpegOutMuxDone(mux, in.flag() ? 1 : 0) == 0, "Done answers 0");
  mpegOutMuxFree(mux);
  free_fifo_buf(video);
  free_fifo_buf(audio);
  return 0;
}
