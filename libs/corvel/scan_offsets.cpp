// SPDX-License-Identifier: GPL-2.0-or-later
#include "scan_offsets.h"

#include <cstring>

#include "bufstream.h"
#include "pes.h"

namespace quillion::corvel {
namespace {

constexpr std::uint64_t kFiveSeconds = 135000000;
constexpr std::size_t kPrevious = 0;
constexpr std::size_t kNext = 3;
constexpr std::size_t kBackward = 6;
constexpr std::size_t kForward = 9;

}  // namespace

void buildScanBlock(std::uint8_t* out) {
  const std::uint8_t head[6] = {0, 0, 1, 0xB2, 0x10, 0x0E};
  std::memcpy(out, head, sizeof head);
  for (std::size_t i = 0; i < 4; ++i) {
    out[6 + 3 * i] = 0x00;
    out[7 + 3 * i] = 0x80;
    out[8 + 3 * i] = 0x80;
  }
}

ScanOffsetPatcher::~ScanOffsetPatcher() {
  if (data_ && services_) services_->release(data_);
}

bool ScanOffsetPatcher::create(bufstream* output, const mpeg::Services& services,
                               std::size_t capacity) {
  output_ = output;
  services_ = &services;
  data_ = static_cast<std::uint8_t*>(services.allocate(capacity));
  capacity_ = data_ ? capacity : 0;
  fill_ = count_ = 0;
  return data_ != nullptr;
}

void ScanOffsetPatcher::field(std::size_t at, const Entry* target) {
  if (at + 3 > fill_) return;
  if (target) {
    encodeSectorTime(data_ + at, target->pack);
  } else {
    std::memset(data_ + at, 0xFF, 3);
  }
}

bool ScanOffsetPatcher::release(std::size_t upTo) {
  if (upTo == 0) return true;
  const bool ok = output_->copybytes(output_, data_, static_cast<std::uint32_t>(upTo)) == upTo;
  std::memmove(data_, data_ + upTo, fill_ - upTo);
  fill_ -= upTo;
  for (std::size_t i = 0; i < count_; ++i) entries_[i].at -= upTo;
  return ok;
}

// The oldest waiting picture gets its forward fields; what it needs but does not exist yet
// reads as absent. Everything up to the next picture's fields then leaves.
bool ScanOffsetPatcher::completeFirst(bool flushing) {
  const Entry& first = entries_[0];
  const Entry* next = count_ > 1 ? &entries_[1] : nullptr;
  const Entry* forward = nullptr;
  for (std::size_t i = 1; i < count_ && !forward; ++i)
    if (entries_[i].time > first.time + kFiveSeconds) forward = &entries_[i];
  if (!forward && flushing) forward = &entries_[count_ - 1];
  field(first.at + kNext, next);
  field(first.at + kForward, forward);
  const std::size_t upTo = next ? next->at : fill_;
  std::memmove(entries_, entries_ + 1, (count_ - 1) * sizeof(Entry));
  --count_;
  return release(upTo);
}

bool ScanOffsetPatcher::write(const std::uint8_t* data, std::size_t size) {
  bool ok = true;
  while (fill_ + size > capacity_) {
    // A long stretch without I pictures: the oldest picture goes out with what is known.
    if (count_ > 0) {
      ok = completeFirst(false) && ok;
    } else {
      ok = release(fill_) && ok;
      if (size > capacity_)
        return output_->copybytes(output_, const_cast<std::uint8_t*>(data),
                                  static_cast<std::uint32_t>(size)) == size &&
               ok;
    }
  }
  std::memcpy(data_ + fill_, data, size);
  fill_ += size;
  return ok;
}

bool ScanOffsetPatcher::addPicture(std::uint32_t pack, std::size_t back, std::uint64_t time) {
  bool ok = true;
  if (count_ == kMaxEntries) ok = completeFirst(false);
  const Entry added{pack, fill_ - back, time};
  const Entry* previous = count_ > 0 ? &entries_[count_ - 1] : nullptr;
  const Entry* backward = count_ > 0 ? &entries_[0] : nullptr;
  for (std::size_t i = count_; i-- > 0;) {
    if (entries_[i].time + kFiveSeconds < time) {
      backward = &entries_[i];
      break;
    }
  }
  field(added.at + kPrevious, previous);
  field(added.at + kBackward, backward);
  entries_[count_++] = added;
  // The oldest picture is complete once a picture more than five seconds after it is known.
  while (count_ >= 3) {
    bool later = false;
    for (std::size_t i = 1; i + 1 < count_; ++i)
      if (entries_[i].time > entries_[0].time + kFiveSeconds) later = true;
    if (!later) break;
    ok = completeFirst(false) && ok;
  }
  return ok;
}

bool ScanOffsetPatcher::flush() {
  bool ok = true;
  while (count_ > 0) ok = completeFirst(true) && ok;
  return release(fill_) && ok;
}

}  // namespace quillion::corvel
