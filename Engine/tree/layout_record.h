// SPDX-License-Identifier: GPL-2.0-or-later
// One node record of a saved layout: a fixed 59-byte head in little-endian, then the title
// and the full path, both UTF-8 and unterminated. Records follow each other directly, so a
// reader finds the next one only through the length field; that field is therefore checked
// against the two name lengths and against what is left of the buffer before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillion::layout {

inline constexpr std::size_t kRecordHeadBytes = 59;
// The record length is a u16 that counts the head too.
inline constexpr std::size_t kMaxNameBytes = 0xFFFF - kRecordHeadBytes;
inline constexpr std::uint16_t kRecordVersion = 2;
inline constexpr std::uint32_t kDropParent = 0xFFFFFFFF;  // the record stands for no node

inline constexpr std::uint16_t kKindFolder = 1u << 0;
inline constexpr std::uint16_t kKindSymbolic = 1u << 1;

struct NodeRecord {
  std::uint16_t version = kRecordVersion;
  std::uint16_t kind = 0;
  bool expanded = false;
  std::uint32_t parentIndex = 0;
  std::int16_t pause = -1;
  std::string title;
  std::string path;
};

// The bytes the record takes; nullopt when its title and path together are too long for the
// length field.
std::optional<std::size_t> encodedSize(const NodeRecord& record);

// Writes the record at the start of `out`, which holds at least encodedSize() bytes.
void encodeRecord(const NodeRecord& record, std::span<std::uint8_t> out);

// Why reading stopped where it did.
enum class ReadStop : std::uint8_t {
  kNone,       // a record was read
  kEnd,        // the buffer ends here
  kNoMagic,    // the bytes here are not a record
  kBadLength,  // a length that is zero, short, inconsistent or past the buffer's end
  kDropped,    // a record that stands for no node, which ends a tree map
};

struct DecodedRecord {
  NodeRecord record;
  std::size_t bytes = 0;  // how far the cursor moves on
};

// The record at `at`; nullopt with the reason when there is none to read.
std::optional<DecodedRecord> decodeRecord(std::span<const std::uint8_t> buffer, std::size_t at,
                                          ReadStop* stop);

}  // namespace quillion::layout
