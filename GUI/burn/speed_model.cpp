// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/speed_model.h"

#include <algorithm>
#include <cctype>

namespace quillion {

namespace {

// The speeds a drive that names no mask is assumed to take from a reported lowest speed
// upward; the ladder is finite, so it always ends.
constexpr std::uint32_t kFallbackLadder[] = {1, 2, 4, 8, 12, 16};

std::vector<std::uint32_t> fallbackSpeeds(std::uint32_t lowest, std::uint32_t highest) {
  std::vector<std::uint32_t> out{lowest};
  const auto* it = std::ranges::find(kFallbackLadder, lowest);
  if (it == std::end(kFallbackLadder)) return out;
  for (++it; it != std::end(kFallbackLadder) && *it <= highest; ++it) out.push_back(*it);
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

std::vector<std::uint32_t> speedsOfMask(std::uint32_t mask) {
  std::vector<std::uint32_t> out;
  if (mask & 1u) out.push_back(1);
  for (std::uint32_t bit = 1; bit < 32; ++bit)
    if (mask & (1u << bit)) out.push_back(2 * bit);
  return out;
}

void SpeedModel::setUp(std::uint32_t deviceSpeedMask, const MediaSpeedReport& report) {
  std::uint32_t low = report.lowest;
  std::uint32_t high = report.highest;
  const bool rangeUsable = low != 0 && low <= high;
  std::vector<std::uint32_t> candidates;
  dvdRAM_ = report.profile == kProfileDVDRAM;
  if (dvdRAM_) {
    if (rangeUsable)
      for (std::uint32_t s = low; s <= high; ++s) candidates.push_back(s);
  } else {
    candidates = speedsOfMask(deviceSpeedMask);
  }
  if (candidates.empty() && report.profile != 0 && rangeUsable)
    candidates = fallbackSpeeds(low, high);
  speeds_.clear();
  if (candidates.empty()) return;
  if (!rangeUsable || candidates.back() < high || candidates.front() > low) {
    low = candidates.front();
    high = candidates.back();
  }
  for (std::uint32_t s : candidates)
    if (s >= low && s <= high) speeds_.push_back(s);
}

bool SpeedModel::isSupportedSpeed(std::uint32_t speed) const {
  return std::ranges::find(speeds_, speed) != speeds_.end();
}

std::uint32_t SpeedModel::speedAt(int position) const {
  if (speeds_.empty()) return kDriveDefaultSpeed;
  return speeds_[static_cast<std::size_t>(std::clamp(position, 0, maxPosition()))];
}

int SpeedModel::positionOf(std::uint32_t speed) const {
  const auto it = std::ranges::find(speeds_, speed);
  return it == speeds_.end() ? -1 : static_cast<int>(it - speeds_.begin());
}

int SpeedModel::recommendedPosition(SpeedDestination destination,
                                    std::string_view driveInterface) const {
  if (speeds_.empty()) return -1;
  if (destination == SpeedDestination::kDrive && equalsIgnoringCase(driveInterface, "usb")) {
    for (std::uint32_t preferred : {6u, 4u})
      if (const int p = positionOf(preferred); p >= 0) return p;
  }
  return maxPosition();
}

}  // namespace quillion
