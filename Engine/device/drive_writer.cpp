// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer over a drive: write parameters per session and track, the cue sheet of a
// session written at once, the next writable address, reservation and the close commands.
// Every refusal is reported with its sense kept in the context: a track or session the drive
// did not close is a failed recording, never a quiet success.
#include <array>

#include "common/byte_order.h"
#include "device/drive_destination.h"
#include "device/mode_page.h"
#include "quillion/MMC.h"

namespace quillion::writer {
namespace {

constexpr std::uint16_t kSessionPageBytes = 72;
constexpr std::uint16_t kTrackPageBytes = 68;
constexpr int kSessionWaitSeconds = 120;
constexpr int kAddressWaitSeconds = 180;
constexpr int kCloseReadyTries = 300;
constexpr std::uint8_t kInvisibleTrack = 0xFF;
constexpr std::uint8_t kCloseTrack = 1, kCloseSession = 2;
constexpr std::int32_t kPregapBlocks = 150;

// Keeps the sense of a refused command in the context and passes the status on.
EngineStatus kept(DriveState& c, EngineStatus status, const MMC_SenseData& sense) {
  if (status != kNoErr) c.sense = sense;
  return status;
}

bool isWritableBlockType(std::uint8_t type) {
  return type == 0 || type == 8 || type == 9 || type == 10 || type == 12 || type == 13;
}

bool isSessionFormat(std::uint8_t format) {
  return format == 0x00 || format == 0x10 || format == 0x20;
}

void applyProtectionAndTest(const DriveState& c, ModePage& page) {
  page.setBits(page05::kWriteTypeByte, page05::kTestWrite, c.testWrite);
  if (c.underrunKind == kCDWriterEx_UnderrunBUFE)
    page.setBits(page05::kWriteTypeByte, page05::kBufe, c.underrunOn);
}

void setWriteType(ModePage& page, std::uint8_t type) {
  page.set(page05::kWriteTypeByte,
           static_cast<std::uint8_t>((page.get(page05::kWriteTypeByte) & 0xF0) | type));
}

// The write parameters page as the drive holds it (`control`), for the context's drive.
EngineStatus readWriteParameters(DriveState& c, ModePageControl control, std::uint16_t length,
                                 ModePage& page) {
  MMC_SenseData sense{};
  return kept(c, page.sense(c.ref, page05::kCode, control, length, page05::kBytesUsed, &sense),
              sense);
}

EngineStatus selectWriteParameters(DriveState& c, ModePage& page) {
  MMC_SenseData sense{};
  return kept(c, page.select(c.ref, &sense), sense);
}

// The track of the medium that takes the next data: the invisible track of a CD, the one
// after the last of an appendable DVD-R or DVD+R, else the first.
EngineStatus trackToAsk(DriveState& c, std::uint8_t& track) {
  if (!c.dvd()) {
    track = kInvisibleTrack;
    return kNoErr;
  }
  track = 1;
  if (!c.medium().appendsAfterLastTrack) return kNoErr;
  std::array<std::uint8_t, 64> info{};
  MMC_SenseData sense{};
  const EngineStatus status = MMC_GetDiscInfo(c.ref, info.data(), info.size(), &sense);
  if (status != kNoErr) return kept(c, status, sense);
  // MMC-5 6.22.3.1: disc status in bits 1-0 of byte 2; first track 3; last track in the last
  // session 6 (LSB) and 11 (MSB).
  const std::uint8_t discStatus = info[2] & 0x03;
  if (discStatus == 2) return kErrNoWritableAddress;
  if (discStatus == 0) return kNoErr;
  const unsigned last = info[11] << 8 | info[6];
  track = static_cast<std::uint8_t>(last - info[3] + 1);
  return kNoErr;
}

// The address the drive writes next. A failed question fails the caller: guessing an address
// (0, say) would write over what the medium already holds.
EngineStatus nextWritableAddress(DriveState& c, std::int32_t& address) {
  // A drive still busy shows in the question below.
  (void)MMC_Util_WaitDiscInfoReady(c.ref, kAddressWaitSeconds, 1);
  std::uint8_t track = 0;
  if (const EngineStatus status = trackToAsk(c, track); status != kNoErr) return status;
  std::array<std::uint8_t, 28> info{};
  MMC_SenseData sense{};
  const EngineStatus status = MMC_GetTrackInfo(c.ref, track, info.data(), info.size(), &sense);
  if (status != kNoErr) return kept(c, status, sense);
  // MMC-5 6.27.3: NWA_V (byte 7 bit 0) says whether the track takes data at all.
  if (!(info[7] & 0x01)) return kErrNoWritableAddress;
  address = static_cast<std::int32_t>(be::get32(info, c.dvd() ? 12 : 8));
  return kNoErr;
}

// Session at once on a CD begins with the first track's pregap, or before it with the lead-in
// CD-Text when the start address is negative.
std::int32_t firstSessionAtOnceAddress(std::int32_t start) {
  if (start >= 0 && start <= 105) return -kPregapBlocks;
  return start - kPregapBlocks;
}

EngineStatus driveSession(DriveState& c, std::uint8_t format, std::uint8_t firstTrackMode,
                          std::int32_t start, const std::uint8_t* cueSheet,
                          std::uint32_t cueLength) {
  ++c.sessionCounter;
  // A drive still busy shows in MODE SENSE below.
  (void)MMC_Util_WaitDiscInfoReady(c.ref, kSessionWaitSeconds, 1);
  ModePage page;
  if (const EngineStatus status = readWriteParameters(c, kPageDefault, kSessionPageBytes, page);
      status != kNoErr) {
    return status;
  }
  applyProtectionAndTest(c, page);
  if (isSessionFormat(format)) page.set(page05::kSessionFormatByte, format);
  const bool data = firstTrackMode != 0;
  if (c.sessionAtOnce) {
    setWriteType(page, page05::kSessionAtOnce);
    std::uint8_t trackMode = c.lastSession() ? 0x04 : 0xC4;
    // That vendor's drives end the session by themselves after a data track written at once.
    if (c.writeContinue && data) trackMode &= 0x3F;
    page.set(page05::kTrackModeByte, trackMode);
  } else {
    setWriteType(page, page05::kTrackAtOnce);
    page.set(page05::kTrackModeByte,
             static_cast<std::uint8_t>((data ? 0x04 : 0x00) | (c.lastSession() ? 0x00 : 0xC0)));
    if (isWritableBlockType(firstTrackMode)) page.set(page05::kDataBlockTypeByte, firstTrackMode);
    if (!data) page.set(page05::kAudioPauseBytes + 1, kPregapBlocks);
  }
  if (const EngineStatus status = selectWriteParameters(c, page); status != kNoErr) return status;
  c.nextWriteAddress = start;
  if (!c.sessionAtOnce) return kNoErr;
  if (c.dvd()) {
    c.nextWriteAddress = 0;
    return kNoErr;
  }
  if (!cueSheet || cueLength == 0) return kErrBadArgument;
  MMC_SenseData sense{};
  if (MMC_SendCueSheet(c.ref, cueSheet, cueLength, &sense) != kNoErr) {
    c.sense = sense;
    return kErrDataRefused;
  }
  c.nextWriteAddress = firstSessionAtOnceAddress(start);
  return kNoErr;
}

EngineStatus driveTrack(DriveState& c, std::uint8_t number, std::uint8_t dataBlockType,
                        std::uint16_t pause) {
  ModePage page;
  if (const EngineStatus status = readWriteParameters(c, kPageCurrent, kTrackPageBytes, page);
      status != kNoErr) {
    return status;
  }
  const bool audio = dataBlockType == 0;
  page.set(
      page05::kTrackModeByte,
      static_cast<std::uint8_t>((page.get(page05::kTrackModeByte) & 0xF0) | (audio ? 0x00 : 0x04)));
  if (isWritableBlockType(dataBlockType)) page.set(page05::kDataBlockTypeByte, dataBlockType);
  page.set16(page05::kAudioPauseBytes, audio ? pause : 0);
  if (c.medium().fixedPackets) {
    setWriteType(page, page05::kPacket);
    page.setBits(page05::kWriteTypeByte, page05::kLinkSizeValid, true);
    page.set(page05::kLinkSizeByte, 16);
    page.set32(page05::kPacketSizeBytes, 32);
    // Fixed packets, track mode 5.
    page.set(page05::kTrackModeByte, page.get(page05::kTrackModeByte) | 0x25);
  }
  if (const EngineStatus status = selectWriteParameters(c, page); status != kNoErr) return status;
  if (!c.medium().callerAddressed) {
    std::int32_t address = 0;
    if (const EngineStatus status = nextWritableAddress(c, address); status != kNoErr)
      return status;
    c.nextWriteAddress = address;
  }
  c.currentTrack = number;
  return kNoErr;
}

EngineStatus driveReserveTrack(DriveState& c, std::uint32_t blocks) {
  MMC_SenseData sense{};
  return kept(c, MMC_ReserveTrack(c.ref, blocks, &sense), sense);
}

EngineStatus driveCloseTrack(DriveState& c) {
  if (c.sessionAtOnce) return kNoErr;
  MMC_SenseData sense{};
  if (const EngineStatus status = MMC_SynchronizeCache(c.ref, &sense); status != kNoErr)
    return kept(c, status, sense);
  if (!c.medium().closesTracks) return kNoErr;
  return kept(c, MMC_CloseSessionTrack(c.ref, kCloseTrack, c.currentTrack, false, &sense), sense);
}

EngineStatus driveCloseSession(DriveState& c) {
  MMC_SenseData sense{};
  if (c.sessionAtOnce) {
    if (const EngineStatus status = MMC_SynchronizeCache(c.ref, &sense); status != kNoErr) {
      return kept(c, status, sense);
    }
  }
  // A drive that stays busy shows in CLOSE below.
  (void)MMC_WaitTestUnitReady(c.ref, kCloseReadyTries);
  const std::uint8_t function = c.lastSession() ? c.medium().finalCloseFunction : kCloseSession;
  const EngineStatus status = MMC_CloseSessionTrack(c.ref, function, 0, true, &sense);
  // The close goes on in the drive after an immediate answer.
  (void)MMC_WaitTestUnitReady(c.ref, kCloseReadyTries);
  return kept(c, status, sense);
}

EngineStatus driveRestoreDefaults(DriveState& c) {
  ModePage page;
  if (const EngineStatus status = readWriteParameters(c, kPageDefault, kSessionPageBytes, page);
      status != kNoErr) {
    return status;
  }
  return selectWriteParameters(c, page);
}

class DriveDestination final : public Destination {
 public:
  explicit DriveDestination(const DriveState& state) : s_(state) {}

  EngineStatus createSession(const SessionRequest& r) override {
    return driveSession(s_, r.format, r.firstTrackMode, r.start, r.cueSheet, r.cueSheetLength);
  }
  EngineStatus createTrack(const TrackRequest& r) override {
    return driveTrack(s_, r.number, r.dataBlockType, r.pause);
  }
  EngineStatus write(const void* buffer, std::uint16_t blocks, std::uint16_t blockSize,
                     const std::atomic<bool>* stop) override {
    if (!stop || !buffer) return kErrBadArgument;
    return driveWrite(s_, static_cast<const std::uint8_t*>(buffer), blocks, blockSize, *stop);
  }
  EngineStatus reserve(std::uint32_t blocks) override { return driveReserveTrack(s_, blocks); }
  EngineStatus closeTrack() override { return driveCloseTrack(s_); }
  EngineStatus closeSession() override { return driveCloseSession(s_); }
  EngineStatus finish() override { return driveRestoreDefaults(s_); }
  MMC_SenseData sense() const override { return s_.sense; }

 private:
  DriveState s_;
};

}  // namespace

std::unique_ptr<Destination> makeDriveDestination(const DriveState& state) {
  return std::make_unique<DriveDestination>(state);
}

}  // namespace quillion::writer
