// SPDX-License-Identifier: GPL-2.0-or-later
// The one way the engine asks a drive for its current profile. The order: an image pseudo-drive
// has no medium to ask; a drive is asked through the query path, which serves a drive this
// process holds through its held access; only when that path cannot serve (another program
// holds the drive, say) is the raw command sent, which waits for access as any command does.
#include "device/medium_profile.h"

#include <algorithm>
#include <array>

#include "common/byte_order.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "common/handle_table.h"

namespace quillion {
namespace {

// Request type 0 from feature 0: every drive answers it, also those that refuse a starting
// feature or send only the profile list; the header alone is what is read of the reply.
constexpr std::uint8_t kAllFeatures = 0;
constexpr std::size_t kReplyBytes = 1024;
constexpr std::size_t kHeaderBytes = 8;

static_assert(std::ranges::is_sorted(kMediumProfiles, {}, &MediumProfile::code));

}  // namespace

std::optional<std::uint16_t> readCurrentProfile(std::uint32_t ref) {
  if (isReservedHandle(ref)) return std::nullopt;
  std::array<std::uint8_t, kReplyBytes> reply{};
  MMC_SenseData sense{};
  EngineStatus status =
      DC_MacX_GetConfiguration(ref, kAllFeatures, 0, reply.data(), reply.size(), &sense);
  if (status == kErrPlatformCannotServe)
    status = MMC_GetConfiguration(ref, kAllFeatures, 0, reply.data(), reply.size(), &sense);
  // MMC-5 6.6.2.1: the data length (bytes 0-3) counts from byte 4; the current profile is
  // there only when it reaches bytes 6-7.
  if (status != kNoErr || be::get32(reply, 0) < kHeaderBytes - 4) return std::nullopt;
  return be::get16(reply, 6);
}

std::uint16_t currentProfile(std::uint32_t ref) {
  return readCurrentProfile(ref).value_or(kNoProfile);
}

}  // namespace quillion
