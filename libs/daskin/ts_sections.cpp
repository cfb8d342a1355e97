// SPDX-License-Identifier: GPL-2.0-or-later
#include "ts_sections.h"

#include <algorithm>
#include <cstring>

#include "mpeg_crc32.h"

namespace quillion::daskin::detail {

TsPayload nextTsPayload(BitReader& r, std::uint64_t budget, std::uint32_t pid, bool pointer) {
  TsPayload out;
  while (!r.end() && r.position() < budget) {
    if (r.show(8) != 0x47) {
      r.skipBits(8);
      continue;
    }
    const std::uint64_t start = r.position();
    const std::uint32_t header = r.get(32);
    out.packetEnd = start + kTsPacket;
    const std::uint32_t packetPid = (header >> 8) & 0x1FFF;
    const std::uint32_t control = (header >> 4) & 3;
    auto toNext = [&] {
      if (r.position() < out.packetEnd) r.skipBytes(out.packetEnd - r.position());
      r.skipBytes(static_cast<std::uint64_t>(r.context().tsPrefix));
    };
    if ((pid != kAnyPid && packetPid != pid) || !(control & 1)) {
      toNext();
      continue;
    }
    std::int32_t left = 184;
    if (control & 2) {
      const std::uint32_t length = r.get(8);
      if (length > 183) {
        toNext();
        continue;
      }
      r.skipBytes(length);
      left -= static_cast<std::int32_t>(length) + 1;
    }
    if (left <= 0) {
      toNext();
      continue;
    }
    out.unitStart = (header & 0x400000) != 0;
    out.pid = packetPid;
    if (out.unitStart && pointer) {
      const std::int32_t skip = static_cast<std::int32_t>(r.get(8));
      if (skip + 1 > left) {
        toNext();
        continue;
      }
      r.skipBytes(static_cast<std::uint32_t>(skip));
      left -= skip + 1;
    }
    out.bytes = left;
    return out;
  }
  out.bytes = -1;
  return out;
}

void skipRestOf(BitReader& r, const TsPayload& at) {
  if (r.position() < at.packetEnd) r.skipBytes(at.packetEnd - r.position());
  r.skipBytes(static_cast<std::uint64_t>(r.context().tsPrefix));
}

bool PsiSection::crcHolds() const {
  return size >= 4 && mpeg::mpegCrc32(bytes, size) == 0;
}

bool SectionReader::loadPacket() {
  const TsPayload p = nextTsPayload(r_, budget_, pid_, false);
  if (p.bytes < 0 || r_.end()) return false;
  have_ = static_cast<std::uint32_t>(p.bytes);
  for (std::uint32_t i = 0; i < have_; ++i) payload_[i] = static_cast<std::uint8_t>(r_.get(8));
  skipRestOf(r_, p);
  // A payload that the data cut off is not a packet.
  if (r_.failed() || (r_.end() && r_.position() < p.packetEnd)) return false;
  at_ = 0;
  cut_ = have_;
  synced_ = p.unitStart;
  if (!p.unitStart) return true;
  // The pointer field says where the first new section begins; the bytes before it end the
  // section being gathered.
  const std::uint32_t begin = 1u + payload_[0];
  if (begin > have_) {
    collecting_ = false;
    synced_ = false;
    at_ = have_;
    return true;
  }
  if (collecting_) {
    at_ = 1;
    cut_ = begin;
  } else {
    at_ = begin;
  }
  return true;
}

bool SectionReader::next(PsiSection& out) {
  for (;;) {
    if (at_ >= have_ && !loadPacket()) {
      collecting_ = false;
      return false;
    }
    if (collecting_ && at_ >= cut_) {
      // A new section begins where this one should have gone on: it was cut short.
      collecting_ = false;
      at_ = cut_;
      cut_ = have_;
      continue;
    }
    if (!collecting_) {
      // Outside a section only a packet with a unit start can begin one; 0xFF fills the rest.
      if (at_ >= have_ || !synced_ || payload_[at_] == 0xFF) {
        at_ = have_;
        continue;
      }
      collecting_ = true;
      out.size = 0;
      need_ = 3;
    }
    const std::uint32_t n = std::min(need_ - out.size, cut_ - at_);
    std::memcpy(out.bytes + out.size, payload_ + at_, n);
    out.size += n;
    at_ += n;
    if (out.size < need_) continue;
    if (need_ == 3) {
      need_ = 3 + out.sectionLength();
      if (need_ > PsiSection::kMaxBytes) {
        collecting_ = false;
        at_ = have_;
        continue;
      }
      if (out.size < need_) continue;
    }
    collecting_ = false;
    return true;
  }
}

}  // namespace quillion::daskin::detail
