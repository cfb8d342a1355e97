// SPDX-License-Identifier: GPL-2.0-or-later
// Video index records (vau_info, 32 bytes) leave in display order. Pictures arrive in coding
// order, so records wait in a reorder buffer until every picture shown before them has gone;
// the buffer is deep enough for any reordering a stream can have, so none is lost.
#pragma once

#include <cstddef>
#include <cstdint>

struct bufstream;

namespace quillion::corvel {

inline constexpr std::uint32_t kVideoIndexHeaderNotice = 0xF0100;
inline constexpr std::uint32_t kVideoIndexEntryNotice = 0xF0200;
inline constexpr std::uint32_t kAudioIndexHeaderNotice = 0xF0400;
inline constexpr std::uint32_t kAudioIndexEntryNotice = 0xF0800;
inline constexpr std::uint32_t kVideoExtendedHeaderNotice = 0xF0810;
inline constexpr std::uint32_t kVideoExtendedUnitNotice = 0xF0811;
inline constexpr std::uint32_t kAudioExtendedHeaderNotice = 0xF0812;
inline constexpr std::uint32_t kAudioExtendedUnitNotice = 0xF0813;
inline constexpr std::size_t kVauInfoSize = 32;
inline constexpr std::size_t kAauInfoSize = 20;
inline constexpr std::size_t kVideoIndexHeaderSize = 254;
inline constexpr std::size_t kAudioIndexHeaderSize = 208;
inline constexpr std::size_t kExtendedRecordSize = 64;
inline constexpr std::size_t kIndexSequenceBytes = 150;
inline constexpr std::size_t kIndexAudioHeaderBytes = 84;
inline constexpr std::size_t kIndexAudioExtraBytes = 8;

// "VINF": what a reader of the index needs to know of the video stream before its entries.
struct VideoIndexHeader {
  std::uint32_t systemType = 0;  // 1 MPEG-1 system stream, 2 program stream
  std::uint32_t streamId = 0;
  std::uint32_t pid = 0;
  std::uint32_t pulldownCode = 0;
  const std::uint8_t* sequence = nullptr;  // the sequence header as it opens the stream
  std::uint32_t sequenceSize = 0;          // at most 150 are kept
};
// "AINF".
struct AudioIndexHeader {
  std::uint32_t systemType = 0;
  std::uint32_t streamId = 0;  // private stream 1 given as 0x1BD
  std::uint32_t subStreamId = 0;
  std::uint32_t pid = 0;
  std::uint32_t formatCode = 0;
  const std::uint8_t* header = nullptr;  // the first frame's opening bytes (at most 84)
  std::uint32_t headerSize = 0;
  const std::uint8_t* extra = nullptr;  // the private stream header (at most 8)
  std::uint32_t extraSize = 0;
};
void encodeVideoIndexHeader(const VideoIndexHeader& header, std::uint8_t* out);
void encodeAudioIndexHeader(const AudioIndexHeader& header, std::uint8_t* out);

// aau_info: one audio frame that begins in a pack.
struct AauInfo {
  std::uint64_t position = 0;  // of the pack in the current output file
  std::uint32_t frame = 0;     // among the frames that begin in the pack, from 1
  std::uint64_t time = 0;      // 27 MHz
};
void encodeAauInfo(const AauInfo& info, std::uint8_t* out);

// The 64-byte extended record of a stream (after its header) or of one unit. The bytes that
// `start` points at are valid only while the notice is being handled.
struct ExtendedRecord {
  std::uint64_t time = 0;  // 27 MHz
  std::uint32_t size = 0;  // the unit's bytes, or the stored header's
  std::uint32_t word = 0;  // unit: picture type | flags << 16; header: frame-rate or format code
  std::uint64_t position = 0;     // of the pack in the current output file
  std::uint32_t repeat = 0;       // the picture repeats its first field
  std::uint32_t startLength = 0;  // bytes at `start`, at most 512
  const std::uint8_t* start = nullptr;
};
void encodeExtendedRecord(const ExtendedRecord& record, std::uint8_t* out);

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
