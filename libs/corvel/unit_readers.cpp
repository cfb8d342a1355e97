// SPDX-License-Identifier: GPL-2.0-or-later
#include "unit_readers.h"

#include <cmath>

namespace quillion::corvel {
namespace {

constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kUserData = 0xB2;
constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kExtension = 0xB5;
constexpr std::uint8_t kSequenceEnd = 0xB7;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kFirstSlice = 0x01;
constexpr std::uint8_t kLastSlice = 0xAF;
constexpr std::uint32_t kScanInformationSize = 18;

}  // namespace

std::uint32_t primaryPicTypeOf(std::uint32_t sliceTypes) {
  // The slice types each primary_pic_type allows (bits: 0 P, 1 B, 2 I, 3 SP, 4 SI); a
  // picture takes the first value that allows every type it has.
  constexpr std::uint32_t kAllowed[8] = {0x04, 0x05, 0x07, 0x10, 0x18, 0x14, 0x1D, 0x1F};
  for (std::uint32_t type = 0; type < 8; ++type)
    if ((sliceTypes & ~kAllowed[type]) == 0) return type;
  return 7;
}

VideoUnitReader::VideoUnitReader(bufstream* units, const VideoFacts& facts, std::int32_t pulldown,
                                 const mpeg::Services& services)
    : scanner_(units), facts_(facts), services_(services), fieldMode_(pulldown) {
  mpeg2_ = facts.coding == VideoCoding::mpeg2;
  progressive_ = facts.progressive;
}

// The extension that must follow an MPEG-2 picture header: picture structure and the field
// flags that decide how long the picture is shown.
bool VideoUnitReader::pictureCodingExtension(AccessUnit& unit, std::uint64_t& taken, bool& ended) {
  for (;;) {
    if (!scanner_.toStartCode(taken)) {
      ended = true;
      return false;
    }
    const std::uint8_t* p = scanner_.peek(9);
    if (!p) return false;
    if (p[3] == kUserData) {  // user data may sit between the picture header and its extension
      if (!scanner_.skip(4)) return false;
      taken += 4;
      continue;
    }
    if (p[3] != kExtension || (p[4] >> 4) != 8) return false;
    unit.repeatFirstField = ((p[7] >> 1) & 1) != 0;
    const bool topFieldFirst = (p[7] >> 7) != 0;
    if (fieldMode_ == 3 && unit.repeatFirstField) {
      const std::int64_t display =
          std::int64_t{unit.temporalReference} - std::int64_t{picturesSinceGroup_} + picturesSoFar_;
      fieldMode_ =
          progressive_ ? (topFieldFirst ? 5 : 4) : static_cast<std::int32_t>(2 - (display & 1));
    }
    if (!scanner_.skip(4)) return false;
    taken += 4;
    return true;
  }
}

void VideoUnitReader::stamp(AccessUnit& unit) {
  const std::uint64_t n = picturesSoFar_;
  const std::int64_t signedDisplay =
      std::int64_t{unit.temporalReference} - std::int64_t{picturesSinceGroup_} + std::int64_t(n);
  // A temporal reference out of step with the group cannot move a picture before the start.
  const std::uint64_t d = signedDisplay < 0 ? 0 : static_cast<std::uint64_t>(signedDisplay);
  const std::uint64_t f = facts_.framePeriod;
  unit.decodeIndex = static_cast<std::uint32_t>(n);
  unit.displayIndex = static_cast<std::uint32_t>(d);
  if (fieldMode_ == 0 || fieldMode_ == 3) {
    unit.dts = f * n;
    unit.pts = f * (d + 1);
  } else {
    const std::uint64_t a = progressive_ ? f : facts_.halfPeriod;
    const std::uint64_t b = progressive_ ? 2 * f : f;
    const std::uint64_t c = progressive_ ? 3 * f : facts_.periodAndHalf;
    const bool phase = fieldMode_ == 2 || fieldMode_ == 5;
    unit.dts = (n / 2) * (b + c) + ((n & 1) ? (phase ? b : c) : 0);
    if (!phase && n != 0) unit.dts -= a;
    unit.pts = b + (d / 2) * (b + c) + ((d & 1) ? (phase ? c : b) : 0);
  }
  ++picturesSoFar_;
  ++picturesSinceGroup_;
}

const std::uint8_t* VideoUnitReader::peekUpTo(std::uint32_t wanted, std::uint32_t& got) {
  if (const std::uint8_t* p = scanner_.peek(wanted)) {
    got = wanted;
    return p;
  }
  for (std::uint32_t n = wanted / 2; n >= 4; n /= 2) {
    if (const std::uint8_t* p = scanner_.peek(n)) {
      got = n;
      return p;
    }
  }
  got = 0;
  return nullptr;
}

// An H.264 access unit: from the first NAL unit that may begin one to the next picture's.
VideoUnitReader::Result VideoUnitReader::nextH264(AccessUnit& unit) {
  constexpr std::uint32_t kParameterSetWindow = 4096;
  constexpr std::uint32_t kSliceWindow = 64;
  unit = AccessUnit{};
  std::uint64_t taken = 0;
  bool havePicture = false;
  H264Slice first;
  std::uint32_t sliceTypes = 0;
  for (;;) {
    if (!scanner_.toStartCode(taken)) break;
    const std::uint8_t* p = scanner_.peek(4);
    if (!p) return Result::broken;
    const std::uint8_t header = p[3];
    const std::uint32_t type = header & 31;
    const bool usable = (header & 0x80) == 0 && type != 0 && type <= 18;
    if (usable && havePicture &&
        (type == 6 || type == 7 || type == 8 || type == 9 || (type >= 13 && type <= 18)))
      break;
    if (usable && type == 10) {
      if (!scanner_.skip(4)) return Result::broken;
      taken += 4;
      sequenceEnd_ = true;
      unit.endsSequence = true;
      break;
    }
    if (usable && (type == 7 || type == 8)) {
      std::uint32_t got = 0;
      const std::uint8_t* nal = peekUpTo(kParameterSetWindow, got);
      if (!nal) return Result::broken;
      // The set runs to the next start code; parse all of it.
      std::uint32_t end = 4;
      while (end + 2 < got && !(nal[end] == 0 && nal[end + 1] == 0 && nal[end + 2] <= 1)) ++end;
      if (end + 2 >= got) end = got;
      if (type == 7) {
        if (!parseSps(nal + 4, end - 4, sps_)) return Result::broken;
        haveSps_ = true;
        unit.flags |= kUnitHasSequenceHeader;
      } else if (!parsePpsPicOrderPresent(nal + 4, end - 4, picOrderPresent_)) {
        return Result::broken;
      }
      picturesSinceGroup_ = 0;
    }
    if (usable && type == 9) unit.flags |= kUnitHasAccessUnitDelimiter;
    if (usable && (type == 1 || type == 2 || type == 5)) {
      if (!haveSps_) return Result::broken;
      std::uint32_t got = 0;
      const std::uint8_t* nal = peekUpTo(kSliceWindow, got);
      H264Slice slice;
      if (!nal || !parseSliceHeader(nal + 4, got - 4, header, sps_, picOrderPresent_, slice))
        return Result::broken;
      if (havePicture && startsNewPicture(first, slice, sps_)) break;
      if (!havePicture) {
        havePicture = true;
        first = slice;
        unit.pictureOffset = static_cast<std::uint32_t>(taken);
      }
      sliceTypes |= 1u << slice.sliceType;
    }
    if (!scanner_.skip(3)) return Result::broken;
    taken += 3;
  }
  if (!havePicture) return Result::end;
  if (taken > 0xFFFFFFFFu) return Result::broken;
  unit.size = static_cast<std::uint32_t>(taken);
  // Slices of several types: a B slice makes it a B picture, else a P or SP slice a P picture.
  unit.pictureType = (sliceTypes & 2) ? 3 : (sliceTypes & 9) ? 2 : 1;
  unit.primaryPicType = primaryPicTypeOf(sliceTypes);
  if (first.idr()) picturesSinceGroup_ = 0;
  const std::int32_t poc = poc_.next(first, sps_);
  unit.temporalReference = poc > 0 ? static_cast<std::uint32_t>(poc / 2) : 0;
  stamp(unit);
  return Result::unit;
}

VideoUnitReader::Result VideoUnitReader::next(AccessUnit& unit) {
  if (facts_.coding == VideoCoding::h264) return nextH264(unit);
  unit = AccessUnit{};
  std::uint64_t taken = 0;
  bool havePicture = false;
  bool ended = false;
  // Scan information lies before an I picture's first slice: in front of its header, or
  // between its header and its slices.
  bool lookForScan = scanBlocks_;
  std::int32_t scanBefore = -1;
  for (;;) {
    if (!scanner_.toStartCode(taken)) break;
    const std::uint8_t* p = scanner_.peek(4);
    if (!p) return Result::broken;
    const std::uint8_t code = p[3];
    if (havePicture && (code == kPictureStart || code == kSequenceHeader || code == kGroupStart))
      break;
    if (code == kSequenceEnd) {
      if (!scanner_.skip(4)) return Result::broken;
      taken += 4;
      sequenceEnd_ = true;
      unit.endsSequence = true;
      break;
    }
    if (lookForScan && code == kUserData) {
      // Scan information: user data tagged 0x10, length 0x0E, four 3-byte fields.
      const std::uint8_t* u = scanner_.peek(kScanInformationSize);
      if (u && (u[4] == 0x10 || u[5] == 0x0E) && taken < 0x7FFFFFFF) {
        if (havePicture)
          unit.scanOffset = static_cast<std::int32_t>(taken);
        else
          scanBefore = static_cast<std::int32_t>(taken);
        lookForScan = havePicture ? false : lookForScan;
      }
    } else if (code >= kFirstSlice && code <= kLastSlice) {
      lookForScan = false;
    }
    if (code == kSequenceHeader) {
      unit.flags |= kUnitHasSequenceHeader;
    } else if (code == kExtension) {
      const std::uint8_t* e = scanner_.peek(6);
      if (e && (e[4] >> 4) == 1) {
        mpeg2_ = true;
        progressive_ = (e[5] & 0x08) != 0;
      }
    } else if (code == kGroupStart) {
      picturesSinceGroup_ = 0;
      unit.flags |= kUnitHasGroup;
    } else if (code == kPictureStart) {
      const std::uint8_t* h = scanner_.peek(6);
      if (!h) return Result::broken;
      unit.temporalReference = (std::uint32_t{h[4]} << 2) | (h[5] >> 6);
      unit.pictureType = (h[5] >> 3) & 7;
      unit.pictureOffset = static_cast<std::uint32_t>(taken);
      havePicture = true;
      lookForScan = scanBlocks_ && unit.pictureType == 1 && scanBefore < 0;
      if (scanBlocks_ && unit.pictureType == 1) unit.scanOffset = scanBefore;
      if (!scanner_.skip(4)) return Result::broken;
      taken += 4;
      // A stream that ends right after a picture header keeps that picture.
      if (mpeg2_ && !pictureCodingExtension(unit, taken, ended)) {
        if (ended) break;
        services_.error("M020:Invalid MPEG2 Video stream, no picture coding extension present");
        return Result::broken;
      }
      continue;
    }
    if (!scanner_.skip(4)) return Result::broken;
    taken += 4;
  }
  if (!havePicture) return Result::end;
  if (taken > 0xFFFFFFFFu) return Result::broken;
  unit.size = static_cast<std::uint32_t>(taken);
  // Scan information cut short by the next start code or the end of the stream is not a
  // block to fill in place: filling it would write over what follows. The picture gets a
  // block of its own instead.
  if (unit.scanOffset >= 0 &&
      static_cast<std::uint64_t>(unit.scanOffset) + kScanInformationSize > unit.size)
    unit.scanOffset = -1;
  stamp(unit);
  return Result::unit;
}

AudioUnitReader::AudioUnitReader(bufstream* units, const AudioFacts& facts)
    : scanner_(units), facts_(facts) {}

bool AudioUnitReader::next(AccessUnit& unit) {
  unit = AccessUnit{};
  if (!started_) {
    if (facts_.headerBytes > 0 && !scanner_.skip(facts_.headerBytes)) return false;
    started_ = true;
  }
  std::uint32_t size = 0;
  switch (facts_.coding) {
    case kAudioLayer1:
    case kAudioLayer2:
    case kAudioLayer3: {
      const std::uint8_t* p = scanner_.peek(3);
      if (!p || p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) return false;
      size = (p[2] & 0x02) ? facts_.frameSizeAlt : facts_.frameSize;
      break;
    }
    case kAudioLpcm:
      size = facts_.frameSize;
      break;
    case kAudioAacId1:
    case kAudioAacId0: {
      const std::uint8_t* p = scanner_.peek(6);
      if (!p || p[0] != 0xFF || (p[1] & 0xF0) != 0xF0) return false;
      size = ((std::uint32_t{p[3]} & 3) << 11) | (std::uint32_t{p[4]} << 3) | (p[5] >> 5);
      // A frame shorter than its own header would make the next read start inside it.
      const std::uint32_t header = (p[1] & 1) ? 7 : 9;
      if (size < header) return false;
      break;
    }
    case kAudioAc3: {
      const std::uint8_t* p = scanner_.peek(6);
      if (!p) return false;
      const bool sync =
          facts_.byteSwapped ? (p[0] == 0x77 && p[1] == 0x0B) : (p[0] == 0x0B && p[1] == 0x77);
      if (!sync) return false;
      const std::uint8_t code = facts_.byteSwapped ? p[5] : p[4];
      size = ((code & 1) && facts_.samplingIndex == 1) ? facts_.frameSizeAlt : facts_.frameSize;
      break;
    }
    default:
      return false;
  }
  if (size == 0 || !scanner_.peek(size)) return false;
  if (!scanner_.skip(size)) return false;
  unit.size = size;
  unit.pts = unit.dts =
      static_cast<std::uint64_t>(std::ceil(static_cast<double>(frames_) * facts_.frameDuration));
  unit.decodeIndex = unit.displayIndex = static_cast<std::uint32_t>(frames_);
  ++frames_;
  return true;
}

bool SubpictureUnitReader::next(AccessUnit& unit) {
  unit = AccessUnit{};
  std::uint64_t time = (count_ + 1) * period_;
  if (timed_) {
    const std::uint8_t* h = scanner_.peek(8);
    if (!h) return false;
    time = 0;
    for (int i = 0; i < 8; ++i) time = (time << 8) | h[i];
    if (!scanner_.skip(8)) return false;
  }
  const std::uint8_t* p = scanner_.peek(2);
  if (!p) return false;
  const std::uint32_t length = (std::uint32_t{p[0]} << 8) | p[1];
  if (length < 2 || !scanner_.skip(length)) return false;
  ++count_;
  unit.size = length;
  unit.pts = unit.dts = time;
  unit.decodeIndex = unit.displayIndex = static_cast<std::uint32_t>(count_ - 1);
  return true;
}

}  // namespace quillion::corvel
