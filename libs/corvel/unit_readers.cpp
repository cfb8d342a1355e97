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

}  // namespace

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

void VideoUnitReader::stamp(AccessUnit& unit, bool firstOfGroup) {
  (void)firstOfGroup;
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

VideoUnitReader::Result VideoUnitReader::next(AccessUnit& unit) {
  unit = AccessUnit{};
  std::uint64_t taken = 0;
  bool havePicture = false;
  bool firstOfGroup = false;
  bool ended = false;
  for (;;) {
    if (!scanner_.toStartCode(taken)) {
      ended = true;
      break;
    }
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
      firstOfGroup = true;
    } else if (code == kPictureStart) {
      const std::uint8_t* h = scanner_.peek(6);
      if (!h) return Result::broken;
      unit.temporalReference = (std::uint32_t{h[4]} << 2) | (h[5] >> 6);
      unit.pictureType = (h[5] >> 3) & 7;
      unit.pictureOffset = static_cast<std::uint32_t>(taken);
      havePicture = true;
      if (!scanner_.skip(4)) return Result::broken;
      taken += 4;
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
  stamp(unit, firstOfGroup);
  (void)ended;
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

}  // namespace quillion::corvel
