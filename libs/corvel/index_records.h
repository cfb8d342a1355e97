// SPDX-License-Identifier: GPL-2.0-or-later
// Video index records (vau_info, 32 bytes) leave in display order. Pictures arrive in coding
// order, so records wait in a reorder buffer until every picture shown before them has gone;
// the buffer is deep enough for any reordering a stream can have, so none is lost.
#pragma once

#include <cstddef>
#include <cstdint>

struct bufstream;

namespace quillion::corvel {

inline constexpr std::uint32_t kVideoIndexEntryNotice = 0xF0200;
inline constexpr std::size_t kVauInfoSize = 32;

struct VauInfo {
  std::uint64_t position = 0;
  std::uint8_t ordinal = 0;
  std::uint8_t pictureType = 0;
  std::uint16_t temporalReference = 0;
  std::int32_t reference = -1;
  std::uint32_t decodeNumber = 0;
  std::uint32_t displayNumber = 0;
  std::uint64_t time = 0;
};

void encodeVauInfo(const VauInfo& info, std::uint8_t* out);
VauInfo decodeVauInfo(const std::uint8_t* in);

class IndexReorder {
 public:
  static constexpr int kDepth = 64;

  // Fills the reference entry from the anchors seen so far, then queues the record; sends
  // every record now due. False when the output refused a record.
  bool add(VauInfo info, bufstream* output);
  // Sends every waiting record in display order.
  bool flush(bufstream* output);
  void reset();

 private:
  bool send(const VauInfo& info, bufstream* output);
  bool sendDue(bufstream* output);

  VauInfo waiting_[kDepth];
  int count_ = 0;
  std::uint32_t nextDisplay_ = 0;
  std::int64_t lastAnchor_ = -1;
  std::int64_t anchorBefore_ = -1;
};

}  // namespace quillion::corvel
