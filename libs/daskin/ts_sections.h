// SPDX-License-Identifier: GPL-2.0-or-later
// Transport packets as the probes read them: the next payload of a PID, and whole PSI
// sections (13818-1 2.4.4) gathered across as many packets as they span.
#pragma once

#include <cstdint>

#include "probe_reader.h"

namespace quillion::daskin::detail {

inline constexpr std::uint32_t kTsPacket = 188;
inline constexpr std::uint32_t kAnyPid = 0x10000;

struct TsPayload {
  std::int32_t bytes = -1;  // payload bytes left in the packet, -1 at the budget or end
  bool unitStart = false;
  std::uint32_t pid = 0;
  std::uint64_t packetEnd = 0;
};

// The next packet of `pid` (any PID for kAnyPid) with a payload; the reader stands at its
// first payload byte (past the pointer field of a unit start when `pointer` is set).
TsPayload nextTsPayload(BitReader& r, std::uint64_t budget, std::uint32_t pid, bool pointer);
// Moves the reader to the next packet's sync byte.
void skipRestOf(BitReader& r, const TsPayload& at);

// One PSI section: header, body and CRC as they stood in the packets.
struct PsiSection {
  static constexpr std::uint32_t kMaxBytes = 1024;  // 3 + the largest section_length, 1021
  std::uint8_t bytes[kMaxBytes] = {};
  std::uint32_t size = 0;
  [[nodiscard]] std::uint32_t tableId() const { return bytes[0]; }
  [[nodiscard]] std::uint32_t sectionLength() const {
    return static_cast<std::uint32_t>((bytes[1] & 0x0F) << 8 | bytes[2]);
  }
  // The CRC_32 over the whole section leaves 0 (13818-1 Annex A).
  [[nodiscard]] bool crcHolds() const;
};

// Reads the sections of one PID in the order they come. A section that a unit start cuts
// short, that claims more than 1,021 bytes, or that the data end before completing is
// dropped; the caller checks the CRC.
class SectionReader {
 public:
  SectionReader(BitReader& r, std::uint64_t budget, std::uint32_t pid)
      : r_(r), budget_(budget), pid_(pid) {}
  // The next whole section; false at the budget or the end of the data.
  bool next(PsiSection& out);

 private:
  bool loadPacket();
  BitReader& r_;
  std::uint64_t budget_;
  std::uint32_t pid_;
  std::uint8_t payload_[kTsPacket] = {};
  std::uint32_t have_ = 0;  // payload bytes of the current packet
  std::uint32_t at_ = 0;    // next unread one
  std::uint32_t cut_ = 0;   // where the section being gathered must end in this packet
  bool synced_ = false;     // the packet has a unit start: a section may begin in it
  bool collecting_ = false;
  std::uint32_t need_ = 0;  // section bytes wanted so far (3 until the length is known)
};

}  // namespace quillion::daskin::detail
