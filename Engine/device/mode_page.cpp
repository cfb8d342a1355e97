// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/mode_page.h"

#include <algorithm>
#include <utility>

#include "common/byte_order.h"

namespace quillion {

EngineStatus ModePage::sense(std::uint32_t ref, std::uint8_t code, ModePageControl control,
                             std::uint16_t length, std::size_t minimumBytes, MMC_SenseData* sense) {
  std::vector<std::uint8_t> reply(length, 0);
  buffer_.clear();
  start_ = size_ = 0;
  const EngineStatus status = MMC_ModeSense10(ref, code, control, length, reply.data(), sense);
  if (status != kNoErr) return status;
  return adopt(std::move(reply), code, minimumBytes);
}

EngineStatus ModePage::adopt(std::vector<std::uint8_t> reply, std::uint8_t code,
                             std::size_t minimumBytes) {
  buffer_ = std::move(reply);
  start_ = size_ = 0;
  // The mode data length counts the bytes after itself; the page follows the block
  // descriptors (SPC-3 7.4.3).
  if (buffer_.size() < 8) return kErrBadArgument;
  const std::size_t available = std::min<std::size_t>(buffer_.size(), 2u + be::get16(buffer_, 0));
  const std::size_t start = 8u + be::get16(buffer_, 6);
  if (start + 2 > available || (buffer_[start] & 0x3F) != code) return kErrBadArgument;
  const std::size_t size = std::min<std::size_t>(available - start, 2u + buffer_[start + 1]);
  if (size < minimumBytes) return kErrBadArgument;
  buffer_.resize(start + size);
  start_ = start;
  size_ = size;
  return kNoErr;
}

EngineStatus ModePage::select(std::uint32_t ref, MMC_SenseData* sense) {
  if (size_ == 0) return kErrBadArgument;
  std::vector<std::uint8_t> list = buffer_;
  be::put16(list, 0, 0);
  list[start_] &= 0x3F;
  return MMC_ModeSelect10(ref, static_cast<std::uint32_t>(list.size()), list.data(), sense);
}

}  // namespace quillion
