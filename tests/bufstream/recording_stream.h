// SPDX-License-Identifier: GPL-2.0-or-later
// A test stream that keeps everything written to it and every auxinfo call in memory, and can
// be told to refuse writes or to report a byte count.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bufstream.h"

namespace quillion::test {

struct AuxCall {
  std::uint32_t offset;
  std::uint32_t id;
  std::vector<std::uint8_t> data;
  std::uint32_t size;
};

class RecordingStream {
 public:
  RecordingStream() {
    bs_.usable_bytes = [](bufstream*) -> std::uint32_t { return 4096; };
    bs_.request = [](bufstream* bs, std::uint32_t n) -> std::uint8_t* {
      auto* self = of(bs);
      self->area_.resize(n);
      return self->area_.data();
    };
    bs_.confirm = [](bufstream* bs, std::uint32_t n) -> std::uint32_t {
      auto* self = of(bs);
      self->bytes.insert(self->bytes.end(), self->area_.begin(), self->area_.begin() + n);
      return n;
    };
    bs_.copybytes = [](bufstream* bs, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
      auto* self = of(bs);
      if (self->refuse) return 0;
      self->bytes.insert(self->bytes.end(), p, p + n);
      return n;
    };
    bs_.chunksize = [](bufstream*) -> std::uint32_t { return 4096; };
    bs_.auxinfo = [](bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                     std::uint32_t size) -> std::int32_t {
      auto* self = of(bs);
      if (id == BUFSTREAM_AUX_BYTE_COUNT && self->countBytes) {
        if (!data || size < 8) return -1;
        const std::uint64_t n = self->bytes.size();
        std::memcpy(data, &n, 8);
        return 0;
      }
      const auto* p = static_cast<const std::uint8_t*>(data);
      self->calls.push_back(
          {offset, id, data ? std::vector<std::uint8_t>(p, p + size) : std::vector<std::uint8_t>(),
           size});
      return self->auxResult;
    };
    bs_.split = [](bufstream* bs) -> int {
      ++of(bs)->splits;
      return 0;
    };
    bs_.done = [](bufstream*, int) -> int { return 0; };
    bs_.implementation = this;
  }
  RecordingStream(const RecordingStream&) = delete;
  RecordingStream& operator=(const RecordingStream&) = delete;

  bufstream* get() { return &bs_; }
  std::vector<std::uint32_t> ids() const {
    std::vector<std::uint32_t> v;
    for (const auto& c : calls) v.push_back(c.id);
    return v;
  }

  std::vector<std::uint8_t> bytes;
  std::vector<AuxCall> calls;
  bool refuse = false;
  bool countBytes = true;
  std::int32_t auxResult = 0;
  int splits = 0;

 private:
  static RecordingStream* of(bufstream* bs) {
    return static_cast<RecordingStream*>(bs->implementation);
  }
  bufstream bs_{};
  std::vector<std::uint8_t> area_;
};

}  // namespace quillion::test
