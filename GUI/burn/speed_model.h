// SPDX-License-Identifier: GPL-2.0-or-later
// The write speeds a burn may choose from, for one drive and medium: the speeds of the
// drive's speed mask for the medium family (or every whole speed of a DVD-RAM's range),
// kept within the range the medium reports. The slider of the options sheet has one
// position per offered speed, so every position is a speed the drive takes; an empty list
// leaves the choice to the drive.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "quillion/status.h"

namespace quillion {

// What the drive reported for the loaded medium.
struct MediaSpeedReport {
  EngineStatus status = kNoErr;
  std::uint16_t profile = 0;
  std::uint16_t lowest = 0;
  std::uint16_t highest = 0;
};

// The speeds of a drive speed mask in rising order: bit 0 is 1x, bit k (1..31) is 2k x.
std::vector<std::uint32_t> speedsOfMask(std::uint32_t mask);

// Where a burn goes, as far as the speed choice cares.
enum class SpeedDestination { kDrive, kCDImageWriter, kOther };

class SpeedModel {
 public:
  // The speed handed to the engine when the list is empty: the drive's own fastest.
  static constexpr std::uint32_t kDriveDefaultSpeed = 0xFFFF;
  static constexpr std::uint16_t kProfileDVDRAM = 0x12;

  void setUp(std::uint32_t deviceSpeedMask, const MediaSpeedReport& report);

  const std::vector<std::uint32_t>& speeds() const { return speeds_; }
  bool isDVDRAM() const { return dvdRAM_; }
  bool isEmpty() const { return speeds_.empty(); }
  bool isSingle() const { return speeds_.size() == 1; }
  bool isSupportedSpeed(std::uint32_t speed) const;
  std::uint32_t lowest() const { return speeds_.empty() ? 0 : speeds_.front(); }
  std::uint32_t highest() const { return speeds_.empty() ? 0 : speeds_.back(); }

  // Slider positions 0 .. maxPosition(); -1 without speeds.
  int maxPosition() const { return static_cast<int>(speeds_.size()) - 1; }
  // The speed of a position, clamped into the list; kDriveDefaultSpeed without speeds.
  std::uint32_t speedAt(int position) const;
  int positionOf(std::uint32_t speed) const;  // -1 when not offered

  // Where the recommended setting puts the knob: on a USB drive 6x, else 4x, else the
  // fastest; on other drives and the CD image writer the fastest. The interface name is
  // compared without regard to case. -1 without speeds.
  int recommendedPosition(SpeedDestination destination, std::string_view driveInterface) const;

 private:
  std::vector<std::uint32_t> speeds_;
  bool dvdRAM_ = false;
};

}  // namespace quillion
