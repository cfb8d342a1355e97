// SPDX-License-Identifier: GPL-2.0-or-later
// What the Gantrel tests share: an output stream in memory that cuts the bytes into the
// frames the library announces, and settings made in one line.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "bufstream.h"
#include "gantrel.h"

namespace quillion::test::gantrel {

inline pcm_a_settings pcmSettings(std::int32_t layer, std::int32_t channelCode,
                                  std::int32_t quantization = 0) {
  pcm_a_settings s{};
  s.channel_count_code = channelCode;
  s.audio_layer = layer;
  s.quantization = quantization;
  s.dynamic_range = 128;
  return s;
}

// Lends chunks, keeps what is confirmed and cuts it at every frame notice. `refuseFrom`
// makes every request from that one on (counted from 0) fail.
class PcmSink {
 public:
  struct Frame {
    std::uint32_t length = 0;
    std::int64_t timestamp = 0;
    std::vector<std::uint8_t> bytes;  // what was confirmed since the previous notice
  };

  explicit PcmSink(std::uint32_t chunkSize = 0x10000) : chunkSize_(chunkSize) {
    record_.drive_chain = this;
    record_.flags = 1;
    record_.chunksize = [](bufstream* bs) { return self(bs).chunkSize_; };
    record_.request = [](bufstream* bs, std::uint32_t n) -> std::uint8_t* {
      PcmSink& s = self(bs);
      if (s.refuseFrom >= 0 && s.requests_++ >= s.refuseFrom) return nullptr;
      s.chunk_.assign(n, 0xEE);
      return s.chunk_.data();
    };
    record_.confirm = [](bufstream* bs, std::uint32_t n) -> std::uint32_t {
      PcmSink& s = self(bs);
      s.bytes.insert(s.bytes.end(), s.chunk_.begin(), s.chunk_.begin() + n);
      return n;
    };
    record_.auxinfo = [](bufstream* bs, std::uint32_t, std::uint32_t id, void* data,
                         std::uint32_t size) -> std::int32_t {
      PcmSink& s = self(bs);
      if (id != 0xF0002 || size != 12) return 0;
      Frame f;
      std::memcpy(&f.length, data, 4);
      std::memcpy(&f.timestamp, static_cast<std::uint8_t*>(data) + 4, 8);
      f.bytes.assign(s.bytes.begin() + static_cast<std::ptrdiff_t>(s.cut_), s.bytes.end());
      s.cut_ = s.bytes.size();
      s.frames.push_back(std::move(f));
      return 0;
    };
  }
  PcmSink(const PcmSink&) = delete;
  PcmSink& operator=(const PcmSink&) = delete;

  bufstream* stream() { return &record_; }

  int refuseFrom = -1;
  std::vector<std::uint8_t> bytes;
  std::vector<Frame> frames;  // the stream header first

 private:
  static PcmSink& self(bufstream* bs) { return *static_cast<PcmSink*>(bs->drive_chain); }

  bufstream record_{};
  std::uint32_t chunkSize_;
  std::vector<std::uint8_t> chunk_;
  std::size_t cut_ = 0;
  int requests_ = 0;
};

// New, Init, one PutBytes per piece, Done (not aborted) and Free; the results of the last
// PutBytes and of Done.
struct PackResult {
  std::int32_t put = -1;
  std::int32_t done = -1;
};

inline PackResult packPcm(const pcm_a_settings& s, std::int32_t flags, std::int32_t frameRateCode,
                          std::int32_t rate, const std::vector<std::vector<std::uint8_t>>& pieces,
                          PcmSink& sink, mpeg_get_rc getRc = nullptr) {
  PackResult r;
  pcm_a_output* o = pcmOutAudioNew(getRc, &s, flags, frameRateCode, rate);
  if (!o) return r;
  if (pcmOutAudioInit(o, sink.stream()) == 0) {
    for (const auto& piece : pieces)
      r.put = pcmOutAudioPutBytes(o, piece.data(), static_cast<std::uint32_t>(piece.size()));
    r.done = pcmOutAudioDone(o, 0);
  }
  pcmOutAudioFree(o);
  return r;
}

// Deterministic samples that reach every bit: a mixing sequence, bytes as they come.
inline std::vector<std::uint8_t> patternBytes(std::size_t n, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 11);
  }
  return v;
}

}  // namespace quillion::test::gantrel
