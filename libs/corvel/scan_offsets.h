// SPDX-License-Identifier: GPL-2.0-or-later
// Super Video CD scan information: every I picture carries the sector addresses of the I
// pictures before and after it, and of those about five seconds away. Output is held back
// until the later addresses are known, then written with the fields filled in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "services.h"

struct bufstream;

namespace quillion::corvel {

// The user data block placed before an I picture: start code, tag, length, four fields.
inline constexpr std::size_t kScanBlockSize = 18;
inline constexpr std::size_t kScanFieldsOffset = 6;
void buildScanBlock(std::uint8_t* out);

class ScanOffsetPatcher {
 public:
  static constexpr std::size_t kDefaultCapacity = 3145728;
  static constexpr std::size_t kMaxEntries = 240;

  ScanOffsetPatcher() = default;
  ~ScanOffsetPatcher();
  ScanOffsetPatcher(const ScanOffsetPatcher&) = delete;
  ScanOffsetPatcher& operator=(const ScanOffsetPatcher&) = delete;

  // False when memory runs out.
  bool create(bufstream* output, const mpeg::Services& services,
              std::size_t capacity = kDefaultCapacity);
  // Holds `size` bytes for the output; false when the output refused a write.
  bool write(const std::uint8_t* data, std::size_t size);
  // The scan fields of an I picture lie `back` bytes before the end of what was written.
  bool addPicture(std::uint32_t pack, std::size_t back, std::uint64_t time);
  // Completes every waiting picture and writes everything held; false on a refused write.
  bool flush();
  std::size_t held() const { return fill_; }

 private:
  struct Entry {
    std::uint32_t pack;
    std::size_t at;  // first field byte in the held data
    std::uint64_t time;
  };
  void field(std::size_t at, const Entry* target);
  bool completeFirst(bool flushing);
  bool release(std::size_t upTo);

  bufstream* output_ = nullptr;
  const mpeg::Services* services_ = nullptr;
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t fill_ = 0;
  Entry entries_[kMaxEntries] = {};
  std::size_t count_ = 0;
};

}  // namespace quillion::corvel
