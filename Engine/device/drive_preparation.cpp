// SPDX-License-Identifier: GPL-2.0-or-later
// Making a writer context for a drive: exclusive access, the current profile, buffer-underrun
// protection, speed and the first write parameters. Whatever fails gives back the exclusive
// access this call took, so a failed start never leaves the drive held.
#include <array>

#include "common/byte_order.h"
#include "device/command_runner.h"
#include "device/device_registry.h"
#include "device/dvd_format.h"
#include "device/mode_page.h"
#include "device/writer_context.h"
#include "quillion/DC.h"

namespace quillion::writer {
namespace {

constexpr int kReadyTries = 60;
constexpr std::uint16_t kModeSenseBytes = 72;
constexpr std::uint16_t kVendorPageBytes = 68;
constexpr std::uint8_t kVendorUnderrunPage = 0x30;
constexpr std::uint16_t kMaximumSpeed = 0xFFFF;
constexpr std::uint16_t kDvdPlusRw = 0x1A;

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

std::uint16_t currentProfile(std::uint32_t ref) {
  std::array<std::uint8_t, 1024> config{};
  MMC_SenseData sense{};
  if (MMC_GetConfiguration(ref, 0, 0, config.data(), config.size(), &sense) != kNoErr) return 0;
  return be::get16(config, 6);  // MMC-5 6.6.2.1 feature header
}

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

// The writer tells DVD media apart by their profile and treats every other medium as a CD.
std::uint16_t writerProfile(std::uint16_t profile) {
  return profile >= 0x11 && profile <= 0x2B ? profile : 0;
}

}  // namespace

std::unique_ptr<myBurnEng_Pack> createDrive(const DriveRequest& r) {
  auto c = std::make_unique<myBurnEng_Pack>();
  c->ref = r.ref;
  c->closeDisc = r.closeDisc;
  c->sessionTotal = r.sessions;
  c->underrunOn = r.underrunProtection;
  c->underrunKind = r.underrunKind;
  c->sessionAtOnce = !r.trackAtOnce;
  c->testWrite = r.simulate;

  DriveHold hold(r.ref);
  if (!hold.take()) return nullptr;
  // A drive that stays busy shows in the commands below.
  (void)MMC_WaitTestUnitReady(r.ref, kReadyTries);
  const std::uint16_t rawProfile = currentProfile(r.ref);
  c->profile = writerProfile(rawProfile);

  if (r.underrunKind != kCDWriterEx_UnderrunNone) {
    c->underrunKind = findUnderrunKind(r.ref, r.underrunKind);
    if (c->underrunKind == kCDWriterEx_UnderrunNone) c->underrunOn = false;
  }

  std::uint16_t speedSet = r.speedX;
  // A speed the drive does not take is advice missed, never a reason to stop.
  (void)MMC_Util_SetReadWriteSpeed(r.ref, kMaximumSpeed, r.speedX, &speedSet);
  if (c->profile == 0) {
    if (const std::uint16_t reported = currentWriteSpeed(r.ref, false)) speedSet = reported;
  }
  if (r.speedSet) *r.speedSet = speedSet;
  c->speed = speedSet;

  MMC_SenseData sense{};
  ModePage page;
  if (page.sense(r.ref, page05::kCode, kPageDefault, kModeSenseBytes, page05::kBytesUsed, &sense) !=
      kNoErr) {
    return nullptr;
  }
  const std::uint8_t writeType = r.trackAtOnce ? page05::kTrackAtOnce : page05::kSessionAtOnce;
  page.set(page05::kWriteTypeByte,
           static_cast<std::uint8_t>(writeType | (r.simulate ? page05::kTestWrite : 0)));
  if (c->underrunKind == kCDWriterEx_UnderrunBUFE) {
    page.setBits(page05::kWriteTypeByte, page05::kBufe, c->underrunOn);
  } else if (c->underrunKind == kCDWriterEx_UnderrunVendorPage) {
    // Found switchable a moment ago; should it fail now, the drive merely writes unprotected.
    (void)setVendorUnderrun(r.ref, c->underrunOn);
  }
  page.set(page05::kTrackModeByte, 0xC4);  // next session allowed, data track

  if (rawProfile == kDvdPlusRw) {
    // A DVD+RW is formatted before it takes write parameters for writing.
    const std::uint8_t byte2 = page.get(page05::kWriteTypeByte);
    page.set(page05::kWriteTypeByte, 0);
    // Neither answer stops the start: a disc left unformatted refuses the writes that follow.
    (void)page.select(r.ref, &sense);
    (void)formatDvdPlusRw(r.ref, false);
    page.set(page05::kWriteTypeByte, byte2);
  }
  if (page.select(r.ref, &sense) != kNoErr) return nullptr;
  c->writeContinue = MMC_isSONYWriteContinueDrive(r.ref);
  hold.keep();
  return c;
}

}  // namespace quillion::writer
