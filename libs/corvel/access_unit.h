// SPDX-License-Identifier: GPL-2.0-or-later
// What the unit readers find in an elementary stream: one access unit (a picture, an audio
// frame, a subpicture unit) with its place in time, and the stream facts they need.
#pragma once

#include <cstdint>

namespace quillion::corvel {

struct AccessUnit {
  std::uint32_t size = 0;
  std::uint32_t pictureType = 0;  // video: 1 I, 2 P, 3 B
  std::uint32_t flags = 0;        // video: kUnitHasSequenceHeader, kUnitHasGroup
  std::uint64_t dts = 0;          // 27 MHz
  std::uint64_t pts = 0;
  std::uint32_t displayIndex = 0;
  std::uint32_t decodeIndex = 0;
  std::uint32_t temporalReference = 0;
  bool repeatFirstField = false;
  bool endsSequence = false;         // the unit carries the sequence end code
  std::uint32_t pictureOffset = 0;   // where the picture start code lies in the unit
  std::uint32_t primaryPicType = 0;  // H.264
  std::int32_t scanOffset = -1;      // where the unit's own scan information lies, or -1
};

inline constexpr std::uint32_t kUnitHasSequenceHeader = 1;
inline constexpr std::uint32_t kUnitHasGroup = 2;
inline constexpr std::uint32_t kUnitHasAccessUnitDelimiter = 0x40;

// primary_pic_type of an access unit delimiter for the set of slice types in a picture
// (bits: 0 P, 1 B, 2 I, 3 SP, 4 SI): the first type that allows them all.
std::uint32_t primaryPicTypeOf(std::uint32_t sliceTypes);

enum class VideoCoding { none, mpeg1, mpeg2, h264 };

// Audio codings, as the stream headers number them.
enum AudioCoding : std::int32_t {
  kAudioNone = 0,
  kAudioLayer1 = 1,
  kAudioLayer2 = 2,
  kAudioLayer3 = 3,
  kAudioLpcm = 4,
  kAudioAc3 = 5,
  kAudioAacId1 = 6,
  kAudioAacId0 = 7,
};

struct VideoFacts {
  VideoCoding coding = VideoCoding::none;
  std::int32_t frameRateCode = 0;
  double frameRate = 0;
  std::uint64_t framePeriod = 0;  // 27 MHz
  std::uint64_t halfPeriod = 0;
  std::uint64_t periodAndHalf = 0;
  std::uint32_t bitRate400 = 0;  // units of 400 bit/s
  std::uint32_t vbvSize = 0;     // units of 2,048 bytes
  std::uint32_t horizontalSize = 0;
  std::uint32_t profileAndLevel = 0;
  std::uint64_t cpbBytes = 0;  // H.264: the HRD's coded picture buffer
  bool progressive = false;
  bool constrained = false;
  std::uint8_t sequenceHeader[256] = {};
  std::uint32_t sequenceHeaderSize = 0;
};

struct AudioFacts {
  std::int32_t coding = kAudioNone;
  bool byteSwapped = false;
  std::uint32_t frameSize = 0;     // bytes; without padding
  std::uint32_t frameSizeAlt = 0;  // with padding (MPEG audio) or the odd-code size (AC-3)
  std::uint32_t maxFrameSize = 0;
  std::uint32_t bitRate = 0;  // bit/s
  std::int32_t samplingIndex = 0;
  double frameDuration = 0;  // 27 MHz ticks
  std::uint8_t lpcmHeader[7] = {};
  std::uint32_t headerBytes = 0;     // bytes at the stream's start that are not payload
  std::uint8_t firstBytes[84] = {};  // of the first frame, from its sync word on
  std::uint32_t firstBytesSize = 0;
};

}  // namespace quillion::corvel
