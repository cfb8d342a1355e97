// SPDX-License-Identifier: GPL-2.0-or-later
// One mode page as MODE SENSE(10) returns it and MODE SELECT(10) takes it back (SPC-3 7.4):
// the 8-byte header, the block descriptors, then the page. Fields are read and changed through
// bounds-checked accessors, so a drive's short or odd reply never reaches outside the buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "quillion/MMC.h"
#include "quillion/status.h"

namespace quillion {

enum ModePageControl : std::uint8_t { kPageCurrent = 0, kPageChangeable = 1, kPageDefault = 2 };

class ModePage {
 public:
  // MODE SENSE(10) of `code` with `length` bytes. A reply that does not hold the page (another
  // code, or too short for `minimumBytes` of it) answers -1001.
  [[nodiscard]] EngineStatus sense(std::uint32_t ref, std::uint8_t code, ModePageControl control,
                                   std::uint16_t length, std::size_t minimumBytes,
                                   MMC_SenseData* sense);
  // MODE SELECT(10) of what was read, with the parameter list length the header gives; the
  // fields SPC reserves in a MODE SELECT list (mode data length, PS) go out as zero.
  // The same for a reply already read (MODE SENSE(10) data as it arrived).
  [[nodiscard]] EngineStatus adopt(std::vector<std::uint8_t> reply, std::uint8_t code,
                                   std::size_t minimumBytes);
  [[nodiscard]] EngineStatus select(std::uint32_t ref, MMC_SenseData* sense);

  std::uint8_t get(std::size_t at) const { return at < size_ ? buffer_[start_ + at] : 0; }
  void set(std::size_t at, std::uint8_t value) {
    if (at < size_) buffer_[start_ + at] = value;
  }
  void setBits(std::size_t at, std::uint8_t mask, bool on) {
    set(at, static_cast<std::uint8_t>(on ? get(at) | mask : get(at) & ~mask));
  }
  std::uint16_t get16(std::size_t at) const {
    return static_cast<std::uint16_t>(get(at) << 8 | get(at + 1));
  }
  void set16(std::size_t at, std::uint16_t value) {
    set(at, static_cast<std::uint8_t>(value >> 8));
    set(at + 1, static_cast<std::uint8_t>(value));
  }
  void set32(std::size_t at, std::uint32_t value) {
    set16(at, static_cast<std::uint16_t>(value >> 16));
    set16(at + 2, static_cast<std::uint16_t>(value));
  }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // the page's first byte in the buffer
  std::size_t size_ = 0;   // the page's bytes present in the buffer
};

// Fields of the write parameters page (MMC-5 7.5.4).
namespace page05 {
inline constexpr std::uint8_t kCode = 0x05;
inline constexpr std::size_t kWriteTypeByte = 2;  // BUFE 40h, LS_V 20h, test write 10h, write type
inline constexpr std::uint8_t kBufe = 0x40, kLinkSizeValid = 0x20, kTestWrite = 0x10;
inline constexpr std::size_t kTrackModeByte = 3;  // multi-session C0h, FP 20h, track mode
inline constexpr std::size_t kDataBlockTypeByte = 4;
inline constexpr std::size_t kLinkSizeByte = 5;
inline constexpr std::size_t kSessionFormatByte = 8;
inline constexpr std::size_t kPacketSizeBytes = 10;
inline constexpr std::size_t kAudioPauseBytes = 14;
inline constexpr std::size_t kBytesUsed = 16;  // what the writer reads and changes
inline constexpr std::uint8_t kPacket = 0, kTrackAtOnce = 1, kSessionAtOnce = 2;
}  // namespace page05

}  // namespace quillion
