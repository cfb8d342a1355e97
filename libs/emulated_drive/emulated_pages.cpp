// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated drive's mode pages, speeds, buffer and the commands that finish or prepare a
// medium (close, format, blank).
#include <algorithm>
#include <array>

#include "common/byte_order.h"
#include "emulated_drive.h"

namespace quillion::emu {
namespace {

using Bytes = std::vector<std::uint8_t>;

// MMC-5 7.5.4: write parameters page, as a drive's defaults (TAO, mode 1).
Bytes defaultPage05() {
  Bytes p(0x34, 0);
  p[0] = 0x05;
  p[1] = 0x32;
  p[2] = 0x01;  // write type TAO
  p[3] = 0x04;  // track mode 4 (data)
  p[4] = 0x08;  // data block type Mode 1
  be::put16(p, 14, 150);
  return p;
}

}  // namespace

// MMC-5 7.8 (page 2Ah, with write speed descriptors) and 7.5 (page 05h), SPC-3 6.10.
EmulatedDrive::Reply EmulatedDrive::modeSense(std::span<const std::uint8_t> cdb) const {
  const std::uint8_t pc = cdb[2] >> 6;
  const std::uint8_t page = cdb[2] & 0x3F;
  if (pc == 3) return check(0x05, 0x39, 0x00);  // saving parameters not supported
  Bytes pages;
  const auto addCapabilities = [&] {
    // The page length is one byte, so the page holds at most 56 speed descriptors. It is
    // built in a buffer of that largest size and only its used part is sent.
    constexpr std::size_t kMaxSpeeds = (0xFF - 30) / 4;
    const std::size_t n = std::min(config_.speeds.size(), kMaxSpeeds);
    std::array<std::uint8_t, 32 + 4 * kMaxSpeeds> buffer{};
    const std::span<std::uint8_t> p(buffer.data(), 32 + 4 * n);
    p[0] = 0x2A;
    p[1] = static_cast<std::uint8_t>(p.size() - 2);
    const auto has = [&](std::uint16_t code, const std::vector<std::uint16_t>& list) {
      return std::find(list.begin(), list.end(), code) != list.end();
    };
    p[2] = static_cast<std::uint8_t>((has(0x09, config_.readable) ? 1 : 0) |
                                     (has(0x0A, config_.readable) ? 2 : 0));
    p[3] = static_cast<std::uint8_t>((has(0x09, config_.writable) ? 1 : 0) |
                                     (has(0x0A, config_.writable) ? 2 : 0) |
                                     (has(0x11, config_.writable) ? 0x10 : 0));
    p[4] = 0x71;  // audio play, mode 2 form 1/2, multi-session
    p[5] = 0x03;  // CD-DA commands, accurate stream
    p[6] = 0x29;  // tray, eject, lock
    if (pc != 1) be::put16(p, 12, config_.bufferKB);
    if (pc != 1)
      be::put16(p, 28, writeKBps_ ? writeKBps_ : (n ? config_.speeds.front().writeKBps : 0));
    be::put16(p, 30, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n && pc != 1; ++i)
      be::put16(p, 32 + 4 * i + 2, config_.speeds[i].writeKBps);
    pages.insert(pages.end(), p.begin(), p.end());
  };
  const auto addWriteParameters = [&] {
    Bytes p = pc == 2 || page05_.empty() ? defaultPage05() : page05_;
    if (pc == 1) {
      std::fill(p.begin() + 2, p.end(), std::uint8_t{0xFF});
      if (!config_.bufe) p[2] &= 0xBF;
    }
    pages.insert(pages.end(), p.begin(), p.end());
  };
  if (page == 0x2A) {
    addCapabilities();
  } else if (page == 0x05 && !config_.writable.empty()) {
    addWriteParameters();
  } else if (page == 0x3F) {
    if (!config_.writable.empty()) addWriteParameters();
    addCapabilities();
  } else {
    return check(0x05, 0x24, 0x00);
  }
  Bytes b(8, 0);
  b.insert(b.end(), pages.begin(), pages.end());
  be::put16(b, 0, static_cast<std::uint32_t>(b.size() - 2));
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// SPC-3 6.8: only the write parameters page may be changed.
EmulatedDrive::Reply EmulatedDrive::modeSelect(std::span<const std::uint8_t> list) {
  if (list.size() < 8) return check(0x05, 0x1A, 0x00);
  const std::size_t at = 8u + be::get16(list, 6);
  if (at + 2 > list.size() || (list[at] & 0x3F) != 0x05 || config_.writable.empty())
    return check(0x05, 0x26, 0x00);
  const std::size_t length = 2u + list[at + 1];
  if (at + length > list.size() || length != 0x34) return check(0x05, 0x26, 0x00);
  const auto page = list.subspan(at, length);
  if (medium_) {
    if (const auto refused =
            checkWriteParameters(WriteParameters::parse(page), medium_->profile(), config_.bufe)) {
      return check((*refused)[0], (*refused)[1], (*refused)[2]);
    }
  } else if (page[2] & 0x40 && !config_.bufe) {
    return check(0x05, 0x26, 0x00);
  }
  page05_.assign(page.begin(), page.end());
  page05_[0] &= 0x3F;
  return Reply{};
}

// MMC-5 6.20: the buffer is always drained here, so it is all blank.
EmulatedDrive::Reply EmulatedDrive::bufferCapacity(std::span<const std::uint8_t> cdb) const {
  Bytes b(12, 0);
  be::put16(b, 0, 10);
  be::put32(b, 4, config_.bufferKB * 1024);
  be::put32(b, 8, config_.bufferKB * 1024);
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// MMC-5 6.8: type 00h (nominal performance) and 03h (write speed descriptors).
EmulatedDrive::Reply EmulatedDrive::performance(std::span<const std::uint8_t> cdb) const {
  const std::uint8_t type = cdb[10];
  const std::uint16_t maxDescriptors = be::get16(cdb, 8);
  const std::uint32_t capacity = medium_->capacity();
  Bytes b(8, 0);
  std::size_t count = 0;
  if (type == 0x03) {
    for (const auto& s : config_.speeds) {
      if (count++ == maxDescriptors) break;
      const std::size_t at = b.size();
      b.resize(at + 16);
      be::put32(b, at + 4, s.endLba);
      be::put32(b, at + 8, s.readKBps);
      be::put32(b, at + 12, s.writeKBps);
    }
  } else if (type == 0x00) {
    if (!config_.speeds.empty() && maxDescriptors) {
      const bool write = (cdb[1] & 0x04) != 0;
      const std::uint32_t kbps =
          write ? config_.speeds.front().writeKBps : config_.speeds.front().readKBps;
      b.resize(24);
      be::put32(b, 12, kbps);
      be::put32(b, 16, capacity ? capacity - 1 : 0);
      be::put32(b, 20, kbps);
    }
  } else {
    return check(0x05, 0x24, 0x00);
  }
  be::put32(b, 0, static_cast<std::uint32_t>(b.size() - 4));
  return EmulatedDrive::data(b, static_cast<std::uint32_t>(b.size()));
}

// MMC-5 6.5: FmtData with a format list (6.5.3: a 4-byte header, then one 8-byte descriptor:
// number of blocks, format type in byte 4 bits 7-2, type dependent parameter). The format
// type must be one the medium takes; a number of blocks of 0 asks for what the drive offers,
// more than it offers is refused.
EmulatedDrive::Reply EmulatedDrive::formatUnit(std::span<const std::uint8_t> cdb,
                                               std::span<const std::uint8_t> list) {
  Medium& m = *medium_;
  if (!(cdb[1] & 0x10) || list.size() < 12) return check(0x05, 0x24, 0x00);
  if (!writes(m.profile().code)) return check(0x05, 0x30, 0x05);
  const FormatType* row = formatTypeFor(m.profile().code, static_cast<std::uint8_t>(list[8] >> 2));
  if (!row) return check(0x05, 0x26, 0x00);
  const std::uint32_t blocks = be::get32(list, 4);
  const std::uint32_t offered = m.formatCapacity(*row);
  if (offered == 0 || blocks > offered) return check(0x05, 0x26, 0x00);
  m.format(*row, blocks);
  if (list[1] & 0x02) startLongOperation(0x04, config_.formatTime);  // IMMED (MMC-5 6.5.3.2)
  return Reply{};
}

// MMC-5 6.2: only rewritable media that can be blanked are (CD-RW, DVD-RW in either mode: a
// DVD-RW in restricted overwrite returns to sequential recording); of the blanking types, the
// whole disc (0) and the minimal blank (1), which leaves the disc blank as far as any reader
// can tell. With IMMED the command returns at once and the drive works on (6.2.2).
EmulatedDrive::Reply EmulatedDrive::blank(std::span<const std::uint8_t> cdb) {
  Medium& m = *medium_;
  if (!writes(m.profile().code)) return check(0x05, 0x30, 0x05);
  if (m.profile().blanksTo == 0) return check(0x05, 0x30, 0x05);
  const std::uint8_t type = cdb[1] & 0x07;
  if (type > 1) return check(0x05, 0x24, 0x00);
  m.erase();
  if (cdb[1] & 0x10) {
    startLongOperation(0x07, type == 0 ? config_.fullBlankTime : config_.minimalBlankTime);
  }
  return Reply{};
}

void EmulatedDrive::startLongOperation(std::uint8_t ascq, Clock::Duration length) {
  const auto now = engineClock().now();
  longOperation_ = LongOperation{ascq, now, now + std::max(length, Clock::Duration(1))};
}

}  // namespace quillion::emu
