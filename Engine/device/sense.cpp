// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/sense.h"

#include "common/byte_order.h"
#include "device/sense_table.h"

namespace quillion {
namespace {

// SPC-3 4.5.3: fixed format. ASC/ASCQ exist only when the additional length reaches them.
ParsedSense parseFixed(std::span<const std::uint8_t> s) {
  ParsedSense p;
  p.deferred = (s[0] & 0x7F) == 0x71;
  p.data.key = s.size() > 2 ? (s[2] & 0x0F) : 0;
  const std::size_t end = s.size() > 7 ? std::min<std::size_t>(s.size(), 8u + s[7]) : s.size();
  if (end > 12) p.data.code = s[12];
  if (end > 13) p.data.qualifier = s[13];
  if ((s[0] & 0x80) && end > 6) p.information = be::get32(s, 3);
  if (end > 17 && (s[15] & 0x80) &&
      (p.data.key == sense_key::kNoSense || p.data.key == sense_key::kNotReady)) {
    p.progress = be::get16(s, 16);
  }
  return p;
}

// SPC-3 4.5.2: descriptor format; information (type 00h) and progress (type 02h, sense-key
// specific) descriptors follow the 8-byte header.
ParsedSense parseDescriptor(std::span<const std::uint8_t> s) {
  ParsedSense p;
  p.deferred = (s[0] & 0x7F) == 0x73;
  p.data.key = s.size() > 1 ? (s[1] & 0x0F) : 0;
  p.data.code = s.size() > 2 ? s[2] : 0;
  p.data.qualifier = s.size() > 3 ? s[3] : 0;
  const std::size_t end = s.size() > 7 ? std::min<std::size_t>(s.size(), 8u + s[7]) : s.size();
  for (std::size_t at = 8; at + 2 <= end;) {
    const std::uint8_t type = s[at];
    const std::size_t length = 2u + s[at + 1];
    if (at + length > end) break;
    if (type == 0x00 && length >= 12) {
      p.information = (std::uint64_t{be::get32(s, at + 4)} << 32) | be::get32(s, at + 8);
    } else if (type == 0x02 && length >= 8 && (s[at + 4] & 0x80)) {
      p.progress = be::get16(s, at + 5);
    }
    at += length;
  }
  return p;
}

}  // namespace

std::optional<ParsedSense> parseSense(std::span<const std::uint8_t> sense) {
  if (sense.size() < 2) return std::nullopt;
  switch (sense[0] & 0x7F) {
    case 0x70:
    case 0x71:
      return parseFixed(sense);
    case 0x72:
    case 0x73:
      return parseDescriptor(sense);
    default:
      return std::nullopt;
  }
}

EngineStatus commandStatus(const ScsiResult& result, MMC_SenseData* sense) {
  if (!result.delivered) return kErrTransport;
  if (result.scsiStatus == kScsiGood) return kNoErr;
  if (sense) {
    const auto parsed = parseSense(std::span(result.sense).first(result.senseLength));
    *sense = parsed ? parsed->data : MMC_SenseData{};
  }
  return kErrCheckCondition;
}

}  // namespace quillion
