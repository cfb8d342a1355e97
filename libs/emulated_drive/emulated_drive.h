// SPDX-License-Identifier: GPL-2.0-or-later
// An optical drive that answers MMC commands as the MMC-5 and SPC-3 standards describe, over
// a disc kept in files (medium.h), for tests that have no drive. It runs on the engine's
// clock, takes injected faults (faults.h) and logs every command it receives.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "faults.h"
#include "medium.h"
#include "platform/device/scsi_transport.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"
#include "write_parameters.h"

namespace quillion::emu {

struct SpeedDescriptor {
  std::uint32_t endLba;
  std::uint32_t readKBps;
  std::uint32_t writeKBps;
};

struct DriveConfig {
  std::string name = "drive0";
  std::string vendor = "QUILLION";
  std::string product = "EMULATED DRIVE";
  std::string revision = "1.00";
  std::string interfaceText = "ATAPI";
  std::vector<std::uint16_t> readable;  // profiles
  std::vector<std::uint16_t> writable;
  std::uint32_t bufferKB = 2048;
  std::vector<SpeedDescriptor> speeds;
  std::chrono::milliseconds spinUp{0};  // "becoming ready" after a medium is loaded
  bool pureReader = false;              // offered only as a block device, without a command path
  bool bufe = true;                     // buffer-underrun protection through page 05h
  // How long the drive works on after an immediate BLANK (minimal or whole disc) or FORMAT
  // UNIT before the medium is ready again.
  std::chrono::seconds minimalBlankTime{60};
  std::chrono::seconds fullBlankTime{600};
  std::chrono::seconds formatTime{60};

  // "reader", "cd-writer", "dvd-writer", "bd-writer"; empty for an unknown name.
  static std::optional<DriveConfig> preset(const std::string& name);
};

struct LoggedCommand {
  std::vector<std::uint8_t> cdb;
  bool delivered = true;
  std::uint8_t status = 0;
  MMC_SenseData sense{};
  int handle = 0;
  bool exclusive = false;  // came through an exclusive path
  std::chrono::milliseconds timeout{0};
  std::size_t transferBytes = 0;       // size of the data phase the host set up
  std::vector<std::uint8_t> dataOut;   // the first 256 bytes sent with the command
};

enum class DriveEvent { MediumChanged, Vanished };

class EmulatedDrive {
public:
  explicit EmulatedDrive(DriveConfig config);

  const DriveConfig& config() const { return config_; }

  // The medium. Loading closes the tray, starts spin-up and raises a unit attention.
  void load(Medium medium);
  // Opens the tray and takes the medium out (also one an eject left in the open tray);
  // empty when there was none.
  std::optional<Medium> unload();
  bool hasMedium() const;
  bool trayOpen() const;
  // Runs `f` on the medium under the drive's lock (false without a medium).
  bool withMedium(const std::function<void(Medium&)>& f);

  // Access paths: a handle > 0, or -EBUSY / -ENODEV.
  int open(bool exclusive);
  void close(int handle);
  void setHeldElsewhere(bool held);  // another program holds exclusive access
  void failOpens(int count);         // the next `count` opens fail with a passing error (EAGAIN)
  void setMounted(bool mounted);     // a volume of the medium is mounted
  bool mounted() const;
  void setUnmountRefused(bool refused);
  bool unmountRefused() const;

  void addFault(FaultRule rule);
  void clearFaults();
  void unplug();  // the drive is gone: every path fails from now on
  bool present() const;

  std::vector<LoggedCommand> log() const;
  void clearLog();

  ScsiResult execute(int handle, const ScsiRequest& request);

  // Side channels of the block device.
  std::uint64_t mediumBytes() const;
  [[nodiscard]] bool readMedium(std::uint64_t offset, std::uint8_t* out, std::size_t length) const;

  // Called (outside the drive's lock is not guaranteed: keep it short) on medium changes and
  // when the drive vanishes; set by the bus.
  void setEventSink(std::function<void(DriveEvent)> sink);

  // ---- internals shared by the reply builders ----
  struct Reply {
    std::uint8_t status = kScsiGood;
    std::uint8_t key = 0, asc = 0, ascq = 0;
    std::optional<std::uint32_t> information;
    std::vector<std::uint8_t> dataIn;  // whole reply; cut to the allocation length by the caller
    std::uint32_t allocation = 0;      // allocation length of the CDB
  };
  static Reply check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
  static Reply data(std::vector<std::uint8_t> bytes, std::uint32_t allocation);

private:
  Reply dispatch(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> dataOut);
  std::optional<Reply> readiness(std::uint8_t opcode);
  std::optional<Reply> unitAttention(std::uint8_t opcode);
  FaultRule* matchFault(std::span<const std::uint8_t> cdb);
  ScsiResult finish(const ScsiRequest& request, Reply reply, int handle, bool descriptorSense);
  void raise(DriveEvent event);

  // Reply builders, one per command (emulated_replies.cpp).
  Reply inquiry(std::span<const std::uint8_t> cdb) const;
  Reply requestSense(std::span<const std::uint8_t> cdb) const;
  Reply startStop(std::span<const std::uint8_t> cdb);
  Reply readFormatCapacities(std::span<const std::uint8_t> cdb) const;
  Reply readCapacity() const;
  Reply read(std::span<const std::uint8_t> cdb, std::uint32_t lba, std::uint32_t blocks) const;
  Reply readCd(std::span<const std::uint8_t> cdb) const;
  Reply readToc(std::span<const std::uint8_t> cdb) const;
  Reply atip(std::uint32_t allocation) const;
  Reply getConfiguration(std::span<const std::uint8_t> cdb) const;
  Reply eventStatus(std::span<const std::uint8_t> cdb);
  Reply discInfo(std::span<const std::uint8_t> cdb) const;
  Reply trackInfo(std::span<const std::uint8_t> cdb) const;
  Reply modeSense(std::span<const std::uint8_t> cdb) const;
  Reply modeSelect(std::span<const std::uint8_t> data);
  Reply bufferCapacity(std::span<const std::uint8_t> cdb) const;
  Reply performance(std::span<const std::uint8_t> cdb) const;
  Reply formatUnit(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> data);
  Reply blank(std::span<const std::uint8_t> cdb);
  void startLongOperation(std::uint8_t ascq, Clock::Duration length);
  bool writes(std::uint16_t profile) const;

  // Recording (emulated_recording.cpp): track at once, session at once from a cue sheet,
  // reservation, closing, and the drive's cache.
  struct SessionAtOnce {
    CueSession cue;
    std::int32_t next = 0;                  // the block the host writes next
    std::optional<std::int32_t> leadInNext; // lead-in CD-Text written up to here
  };
  WriteParameters writeParameters() const;
  Reply write(std::int32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> data);
  Reply writeSequentialBlocks(std::uint32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> data);
  Reply writeTrackAtOnce(std::int32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> data,
                         const WriteParameters& p);
  Reply writeSessionAtOnce(std::int32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> data,
                           const WriteParameters& p);
  Reply writeLeadIn(std::int32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> data, bool test);
  void passGeneratedBlocks(bool test);
  void recordSessionBlocks(std::int32_t lba, const std::vector<RawSector>& sectors);
  Reply sendCueSheet(std::span<const std::uint8_t> sheet);
  Reply reserveTrack(std::span<const std::uint8_t> cdb);
  Reply closeTrackSession(std::span<const std::uint8_t> cdb);
  Reply closeTrack(std::uint16_t number);
  Reply closeSession(std::uint8_t function);
  Reply synchronizeCache();
  void forgetWriting();

  DriveConfig config_;
  mutable std::recursive_mutex mutex_;
  std::optional<Medium> medium_;
  std::optional<Medium> parked_;  // in the open tray after an eject; a load takes it back in
  bool trayOpen_ = false;
  bool prevent_ = false;
  bool present_ = true;
  bool heldElsewhere_ = false;
  bool mounted_ = false;
  bool unmountRefused_ = false;
  int exclusiveHandle_ = 0;
  int failingOpens_ = 0;
  int nextHandle_ = 1;
  std::optional<std::array<std::uint8_t, 3>> pendingAttention_;
  std::uint8_t pendingMediaEvent_ = 0;  // GET EVENT STATUS media event code
  Clock::MonoTime readyAt_{};
  // A BLANK or FORMAT UNIT the drive carries on with after an immediate return: until `end`
  // commands that need the medium answer NOT READY with the operation's qualifier (04h
  // format, 07h blank), and REQUEST SENSE reports how far it has come.
  struct LongOperation {
    std::uint8_t ascq;
    Clock::MonoTime start;
    Clock::MonoTime end;
  };
  std::optional<LongOperation> longOperation_;
  std::array<std::uint8_t, 3> lastSense_{};
  std::vector<std::uint8_t> page05_;
  std::optional<SessionAtOnce> sessionAtOnce_;
  std::optional<std::int32_t> simulatedNext_;  // test write: where the pretended track stands
  std::uint32_t writeKBps_ = 0;
  std::vector<FaultRule> faults_;
  std::vector<LoggedCommand> log_;
  std::function<void(DriveEvent)> sink_;
};

// A path to the drive through which commands travel (the emulated counterpart of an open
// device node); closing it gives up its access.
class EmulatedTransport final : public ScsiTransport {
public:
  EmulatedTransport(std::shared_ptr<EmulatedDrive> drive, int handle) : drive_(std::move(drive)), handle_(handle) {}
  ~EmulatedTransport() override { drive_->close(handle_); }
  EmulatedTransport(const EmulatedTransport&) = delete;
  EmulatedTransport& operator=(const EmulatedTransport&) = delete;
  ScsiResult execute(const ScsiRequest& request) override { return drive_->execute(handle_, request); }

private:
  std::shared_ptr<EmulatedDrive> drive_;
  int handle_;
};

}  // namespace quillion::emu
