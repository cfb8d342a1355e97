// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/dvd_format.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/byte_order.h"
#include "quillion/MMC.h"

namespace quillion {
namespace {

constexpr std::uint8_t kBasicFormat = 0x26;
constexpr std::uint8_t kNoMedium = 3, kFormatted = 2;
constexpr int kFormatWaitSeconds = 1200;

}  // namespace

EngineStatus formatDvdPlusRw(std::uint32_t ref, bool force) {
  MMC_SenseData sense{};
  std::vector<std::uint8_t> list(12, 0);
  if (const EngineStatus status = MMC_ReadFormatCapacities(ref, list.data(), list.size(), &sense);
      status != kNoErr) {
    return status;
  }
  const std::uint8_t current = list[8] & 0x03;  // MMC-5 6.24.3.2 descriptor type
  if (current == kNoMedium || (current == kFormatted && !force)) return kNoErr;
  list.assign(4u + list[3], 0);
  if (const EngineStatus status = MMC_ReadFormatCapacities(ref, list.data(), list.size(), &sense);
      status != kNoErr) {
    return status;
  }
  // Formattable capacity descriptors follow the current one, 8 bytes each (MMC-5 6.24.3.3).
  const std::size_t end = std::min<std::size_t>(list.size(), 4u + list[3]);
  std::size_t found = 0;
  for (std::size_t at = 12; at + 8 <= end && !found; at += 8) {
    if ((list[at + 4] >> 2) == kBasicFormat) found = at;
  }
  if (!found) return kNoErr;
  // Format list header (FOV, IMMED) and the descriptor as the drive offered it (6.5.3).
  std::array<std::uint8_t, 12> parameters{0x00, 0x82, 0x00, 0x08};
  std::copy_n(list.begin() + static_cast<std::ptrdiff_t>(found), 8, parameters.begin() + 4);
  if (force) {
    be::put32(parameters, 4, 0);
    parameters[11] = 1;  // restart the format from the beginning
  }
  const EngineStatus status = MMC_FormatUnit(ref, parameters.data(), parameters.size(), &sense);
  // The format runs on in the drive; closing ends its foreground part (MMC-5 6.3.2.3). The
  // format's own status is the answer: a close the drive refuses leaves the format as it was.
  (void)MMC_Util_WaitDiscInfoReady(ref, kFormatWaitSeconds, 1);
  (void)MMC_CloseSessionTrack(ref, 0, 0, false, &sense);
  (void)MMC_Util_WaitDiscInfoReady(ref, kFormatWaitSeconds, 1);
  (void)MMC_CloseSessionTrack(ref, 2, 0, false, &sense);
  (void)MMC_Util_WaitDiscInfoReady(ref, kFormatWaitSeconds, 1);
  return status;
}

}  // namespace quillion
