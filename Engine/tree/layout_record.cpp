// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/layout_record.h"

#include <algorithm>

#include "common/byte_order.h"

namespace quillion::layout {
namespace {

constexpr std::uint8_t kMagic[4] = {'T', 'M', 'N', 'D'};

// Head layout.
constexpr std::size_t kMagicAt = 0, kVersionAt = 4, kLengthAt = 6, kTitleLengthAt = 8,
                      kPathLengthAt = 10, kKindAt = 12, kExpandedAt = 14, kParentAt = 16,
                      kPauseAt = 20;
static_assert(kPauseAt + 2 + 37 == kRecordHeadBytes, "37 reserved bytes end the head");

}  // namespace

std::optional<std::size_t> encodedSize(const NodeRecord& record) {
  const std::size_t names = record.title.size() + record.path.size();
  if (record.title.size() > kMaxNameBytes || names > kMaxNameBytes) return std::nullopt;
  return kRecordHeadBytes + names;
}

void encodeRecord(const NodeRecord& record, std::span<std::uint8_t> out) {
  const std::size_t length = kRecordHeadBytes + record.title.size() + record.path.size();
  std::fill_n(out.begin(), kRecordHeadBytes, std::uint8_t{0});
  std::copy(std::begin(kMagic), std::end(kMagic), out.begin() + kMagicAt);
  le::put16(out, kVersionAt, record.version);
  le::put16(out, kLengthAt, length);
  le::put16(out, kTitleLengthAt, record.title.size());
  le::put16(out, kPathLengthAt, record.path.size());
  le::put16(out, kKindAt, record.kind);
  le::put16(out, kExpandedAt, record.expanded ? 1 : 0);
  le::put32(out, kParentAt, record.parentIndex);
  le::put16(out, kPauseAt, static_cast<std::uint16_t>(record.pause));
  auto at = out.begin() + kRecordHeadBytes;
  at = std::copy(record.title.begin(), record.title.end(), at);
  std::copy(record.path.begin(), record.path.end(), at);
}

std::optional<DecodedRecord> decodeRecord(std::span<const std::uint8_t> buffer, std::size_t at,
                                          ReadStop* stop) {
  const auto stopWith = [stop](ReadStop why) -> std::optional<DecodedRecord> {
    if (stop) *stop = why;
    return std::nullopt;
  };
  if (at >= buffer.size()) return stopWith(ReadStop::kEnd);
  const std::span<const std::uint8_t> rest = buffer.subspan(at);
  if (rest.size() < sizeof kMagic ||
      !std::equal(std::begin(kMagic), std::end(kMagic), rest.begin()))
    return stopWith(ReadStop::kNoMagic);
  if (rest.size() < kRecordHeadBytes) return stopWith(ReadStop::kBadLength);
  const std::size_t length = le::get16(rest, kLengthAt);
  const std::size_t titleLength = le::get16(rest, kTitleLengthAt);
  const std::size_t pathLength = le::get16(rest, kPathLengthAt);
  // A length of zero would never move the cursor on; one that disagrees with the names
  // would put the next record inside this one's text.
  if (length != kRecordHeadBytes + titleLength + pathLength || length > rest.size())
    return stopWith(ReadStop::kBadLength);

  DecodedRecord out;
  NodeRecord& r = out.record;
  r.version = le::get16(rest, kVersionAt);
  r.kind = le::get16(rest, kKindAt);
  r.expanded = le::get16(rest, kExpandedAt) == 1;
  r.parentIndex = le::get32(rest, kParentAt);
  r.pause = static_cast<std::int16_t>(le::get16(rest, kPauseAt));
  const auto text = [&rest](std::size_t from, std::size_t count) {
    return std::string(reinterpret_cast<const char*>(rest.data()) + from, count);
  };
  r.title = text(kRecordHeadBytes, titleLength);
  r.path = text(kRecordHeadBytes + titleLength, pathLength);
  out.bytes = length;
  if (stop) *stop = ReadStop::kNone;
  return out;
}

}  // namespace quillion::layout
