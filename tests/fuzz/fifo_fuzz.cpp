// SPDX-License-Identifier: GPL-2.0-or-later
// The byte-stream fifo against a plain queue: every mix of writer requests and confirms,
// copies and 8-to-16 puts, and reader requests, confirms and copies, over small rings so the
// wrap point is crossed often. Each answer and every element read must be the queue's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "bufstream.h"
#include "fuzz_support.h"

namespace {

using quillion::fuzz::check;

class Run {
 public:
  Run(std::uint32_t size, std::uint32_t chunk, std::uint32_t element)
      : writer_(new_fifo_buf_elements(size, chunk, element)),
        element_(element),
        capacity_(size - 1) {
    check(writer_ != nullptr, "a valid fifo is made");
    reader_ = writer_ + 1;
    chunk_ = writer_->chunksize(writer_);
  }
  ~Run() { free_fifo_buf(writer_); }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void step(quillion::fuzz::Input& in) {
    switch (in.u8() % 8) {
      case 0:
        writerRequest(in.u8() % (chunk_ + 3));
        break;
      case 1:
        writerConfirm(in.u8());
        break;
      case 2:
        writerCopy(in.u8() % (capacity_ + 3));
        break;
      case 3:
        put8to16(in);
        break;
      case 4:
        readerRequest(in.u8() % (chunk_ + 3));
        break;
      case 5:
        readerConfirm(in.u8() % (capacity_ + 3));
        break;
      case 6:
        readerCopy(in.u8() % (capacity_ + 3));
        break;
      default:
        counts();
        break;
    }
  }

 private:
  std::uint32_t fill() const { return static_cast<std::uint32_t>(queue_.size() / element_); }
  std::uint32_t room() const { return capacity_ - fill(); }

  std::vector<std::uint8_t> fresh(std::uint32_t elements) {
    std::vector<std::uint8_t> v(std::size_t{elements} * element_);
    for (auto& b : v) b = next_++;
    return v;
  }

  void writerRequest(std::uint32_t n) {
    pending_.clear();
    std::uint8_t* area = writer_->request(writer_, n);
    if (n > room()) check(area == nullptr, "a writer request beyond the room is refused");
    if (n <= room() && n <= chunk_) check(area != nullptr, "a request up to the chunk size is met");
    if (!area) return;
    pending_ = fresh(n);
    if (!pending_.empty()) std::memcpy(area, pending_.data(), pending_.size());
  }

  void writerConfirm(std::uint32_t n) {
    const std::uint32_t open = static_cast<std::uint32_t>(pending_.size() / element_);
    const std::uint32_t expected = n < open ? n : open;
    check(writer_->confirm(writer_, n) == expected, "a confirm commits what the request opened");
    queue_.insert(queue_.end(), pending_.begin(), pending_.begin() + expected * element_);
    pending_.clear();
  }

  void writerCopy(std::uint32_t n) {
    std::vector<std::uint8_t> v = fresh(n);
    const std::uint32_t expected = n < room() ? n : room();
    check(writer_->copybytes(writer_, v.data(), n) == expected, "a copy takes what fits");
    queue_.insert(queue_.end(), v.begin(), v.begin() + expected * element_);
    pending_.clear();
  }

  void put8to16(quillion::fuzz::Input& in) {
    const auto samples = in.bytes(in.u8() % (capacity_ + 3));
    const auto count = static_cast<std::uint32_t>(samples.size());
    const std::uint32_t got = fifo_w_audio_put_8to16(writer_, samples.data(), count);
    if (element_ != 2) {
      check(got == 0, "8-to-16 needs 2-byte elements");
      return;
    }
    const std::uint32_t expected = count < room() ? count : room();
    check(got == expected, "a put takes what fits");
    for (std::uint32_t i = 0; i < expected; ++i) {
      const auto value = static_cast<std::int16_t>((samples[i] - 128) * 256);
      std::uint8_t b[2];
      std::memcpy(b, &value, 2);
      queue_.insert(queue_.end(), b, b + 2);
    }
    pending_.clear();
  }

  bool front(const std::uint8_t* p, std::uint32_t n) const {
    return std::equal(queue_.begin(), queue_.begin() + n * element_, p);
  }

  void readerRequest(std::uint32_t n) {
    const std::uint8_t* area = reader_->request(reader_, n);
    if (n > fill()) check(area == nullptr, "a reader request beyond the fill is refused");
    if (n <= fill() && n <= chunk_) check(area != nullptr, "a request up to the chunk size is met");
    if (area) check(front(area, n), "a reader request shows the oldest elements");
  }

  void readerConfirm(std::uint32_t n) {
    const std::uint32_t expected = n < fill() ? n : fill();
    check(reader_->confirm(reader_, n) == expected, "a reader confirm consumes what is there");
    queue_.erase(queue_.begin(), queue_.begin() + expected * element_);
  }

  void readerCopy(std::uint32_t n) {
    std::vector<std::uint8_t> out(std::size_t{n} * element_ + 1);
    const std::uint32_t got = reader_->copybytes(reader_, out.data(), n);
    if (n == 0 || n > fill()) {
      check(got == 0, "a reader copy beyond the fill copies nothing");
      return;
    }
    check(got == n, "a reader copy within the fill copies all");
    check(front(out.data(), n), "a reader copy delivers the oldest elements");
    queue_.erase(queue_.begin(), queue_.begin() + n * element_);
  }

  void counts() const {
    check(writer_->usable_bytes(writer_) == room(), "the writer's usable count is the room");
    check(reader_->usable_bytes(reader_) == fill(), "the reader's usable count is the fill");
  }

  bufstream* writer_;
  bufstream* reader_ = nullptr;
  std::uint32_t element_;
  std::uint32_t capacity_;
  std::uint32_t chunk_ = 0;
  std::deque<std::uint8_t> queue_;
  std::vector<std::uint8_t> pending_;  // what the open writer request was filled with
  std::uint8_t next_ = 1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint32_t element = in.u8() % 4 + 1;
  const std::uint32_t ringSize = in.u8() % 40 + 2;
  const std::uint32_t chunk = in.u8() % (ringSize + 1);
  Run run(ringSize, chunk, element);
  while (!in.empty()) run.step(in);
  return 0;
}
