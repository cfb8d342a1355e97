// SPDX-License-Identifier: GPL-2.0-or-later
// Making a writer context for a drive: exclusive access, the current profile, buffer-underrun
// protection, speed and the first write parameters. Whatever fails gives back the exclusive
// access this call took, so a failed start never leaves the drive held.
#include <array>

#include "common/byte_order.h"
#include "device/command_timeouts.h"
#include "device/command_runner.h"
#include "device/device_registry.h"
#include "device/drive_destination.h"
#include "device/dvd_format.h"
#include "device/mode_page.h"
#include "quillion/DC.h"

namespace quillion::writer {
namespace {

constexpr std::uint16_t kModeSenseBytes = 72;
constexpr std::uint16_t kVendorPageBytes = 68;
constexpr std::uint8_t kVendorUnderrunPage = 0x30;
constexpr std::uint16_t kMaximumSpeed = 0xFFFF;

// Holds the drive for the writer; gives the hold back at the end of the scope unless the
// context took it over, and never drops a hold someone else had before.
class DriveHold {
 public:
  explicit DriveHold(std::uint32_t ref) : ref_(ref) {}
  ~DriveHold() {
    if (release_) (void)DC_LockDevice(ref_, false);  // nothing more to do if that fails
  }
  DriveHold(const DriveHold&) = delete;
  DriveHold& operator=(const DriveHold&) = delete;

  [[nodiscard]] bool take() {
    auto entry = findCommandDrive(ref_);
    const bool heldBefore = entry && isLocked(*entry);
    if (DC_LockDevice(ref_, true) != kNoErr) return false;
    release_ = !heldBefore;
    return true;
  }
  void keep() { release_ = false; }

 private:
  std::uint32_t ref_;
  bool release_ = false;
};

// The vendor underrun page: byte 2 bit 0 says the function exists, byte 3 bit 0 switches it.
bool setVendorUnderrun(std::uint32_t ref, bool on) {
  ModePage page;
  MMC_SenseData sense{};
  if (page.sense(ref, kVendorUnderrunPage, kPageCurrent, kVendorPageBytes, 4, &sense) != kNoErr)
    return false;
  const bool supported = (page.get(2) & 0x01) != 0;
  if (!supported) return !on;
  page.setBits(3, 0x01, on);
  return page.select(ref, &sense) == kNoErr;
}

// Which protection the drive offers: BUFE when the bit stays set once selected, else the
// vendor page, else none. A drive that refuses the bit has no BUFE; one whose pages cannot be
// read at all keeps the caller's request.
std::uint32_t findUnderrunKind(std::uint32_t ref, std::uint32_t requested) {
  MMC_SenseData sense{};
  ModePage defaults;
  if (defaults.sense(ref, page05::kCode, kPageDefault, kModeSenseBytes, page05::kBytesUsed,
                     &sense) != kNoErr) {
    return requested;
  }
  defaults.setBits(page05::kWriteTypeByte, page05::kBufe, true);
  if (defaults.select(ref, &sense) == kNoErr) {
    ModePage current;
    if (current.sense(ref, page05::kCode, kPageCurrent, kModeSenseBytes, page05::kBytesUsed,
                      &sense) != kNoErr) {
      return requested;
    }
    if (current.get(page05::kWriteTypeByte) & page05::kBufe) return kCDWriterEx_UnderrunBUFE;
  }
  if (setVendorUnderrun(ref, true)) return kCDWriterEx_UnderrunVendorPage;
  return kCDWriterEx_UnderrunNone;
}

// The write speed the drive reports in its capabilities page (MMC-5 7.8), in x; 0 when it
// cannot be read.
std::uint16_t currentWriteSpeed(std::uint32_t ref, bool dvd) {
  std::array<std::uint8_t, 64> reply{};
  MMC_SenseData sense{};
  EngineStatus status =
      DC_MacX_ModeSense10(ref, 0x2A, kPageCurrent, reply.size(), reply.data(), &sense);
  if (status == kErrPlatformCannotServe) {
    status = MMC_ModeSense10(ref, 0x2A, kPageCurrent, reply.size(), reply.data(), &sense);
  }
  if (status != kNoErr) return 0;
  const std::size_t at = 8u + be::get16(reply, 6);
  if (at + 2 > reply.size() || (reply[at] & 0x3F) != 0x2A) return 0;
  // The current write speed moved from bytes 20-21 to 28-29 when the page grew.
  const std::uint16_t kbps = be::get16(reply, at + (reply[at + 1] > 27 ? 28 : 20));
  return static_cast<std::uint16_t>(kbps / (dvd ? 1385 : 176));
}

}  // namespace

std::unique_ptr<Destination> openDrive(const DriveRequest& r) {
  DriveState state;
  state.ref = r.ref;
  state.closeDisc = r.closeDisc;
  state.sessionTotal = r.sessions;
  state.underrunOn = r.underrunProtection;
  state.underrunKind = r.underrunKind;
  state.sessionAtOnce = !r.trackAtOnce;
  state.testWrite = r.simulate;

  DriveHold hold(r.ref);
  if (!hold.take()) return nullptr;
  // A drive that stays busy shows in the commands below.
  (void)MMC_WaitTestUnitReady(r.ref, kReadyTriesBeforeWriting);
  const std::uint16_t rawProfile = currentProfile(r.ref);
  state.profile = writtenAsDvd(rawProfile) ? rawProfile : kNoProfile;

  if (r.underrunKind != kCDWriterEx_UnderrunNone) {
    state.underrunKind = findUnderrunKind(r.ref, r.underrunKind);
    if (state.underrunKind == kCDWriterEx_UnderrunNone) state.underrunOn = false;
  }

  std::uint16_t speedSet = r.speedX;
  // A speed the drive does not take is advice missed, never a reason to stop.
  (void)MMC_Util_SetReadWriteSpeed(r.ref, kMaximumSpeed, r.speedX, &speedSet);
  if (!state.dvd()) {
    if (const std::uint16_t reported = currentWriteSpeed(r.ref, false)) speedSet = reported;
  }
  if (r.speedSet) *r.speedSet = speedSet;
  state.speed = speedSet;

  MMC_SenseData sense{};
  ModePage page;
  if (page.sense(r.ref, page05::kCode, kPageDefault, kModeSenseBytes, page05::kBytesUsed, &sense) !=
      kNoErr) {
    return nullptr;
  }
  const std::uint8_t writeType = r.trackAtOnce ? page05::kTrackAtOnce : page05::kSessionAtOnce;
  page.set(page05::kWriteTypeByte,
           static_cast<std::uint8_t>(writeType | (r.simulate ? page05::kTestWrite : 0)));
  if (state.underrunKind == kCDWriterEx_UnderrunBUFE) {
    page.setBits(page05::kWriteTypeByte, page05::kBufe, state.underrunOn);
  } else if (state.underrunKind == kCDWriterEx_UnderrunVendorPage) {
    // Found switchable a moment ago; should it fail now, the drive merely writes unprotected.
    (void)setVendorUnderrun(r.ref, state.underrunOn);
  }
  page.set(page05::kTrackModeByte, 0xC4);  // next session allowed, data track

  if (const MediumProfile& medium = profileOf(rawProfile); medium.plus && medium.rewritable) {
    // A DVD+RW is formatted before it takes write parameters for writing.
    const std::uint8_t byte2 = page.get(page05::kWriteTypeByte);
    page.set(page05::kWriteTypeByte, 0);
    // Neither answer stops the start: a disc left unformatted refuses the writes that follow.
    (void)page.select(r.ref, &sense);
    (void)formatDvdPlusRw(r.ref, false);
    page.set(page05::kWriteTypeByte, byte2);
  }
  if (page.select(r.ref, &sense) != kNoErr) return nullptr;
  state.writeContinue = MMC_isSONYWriteContinueDrive(r.ref);
  auto destination = makeDriveDestination(state);
  hold.keep();
  return destination;
}

}  // namespace quillion::writer
