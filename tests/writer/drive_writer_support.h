// SPDX-License-Identifier: GPL-2.0-or-later
// A drive writer fixture over one emulated recorder, what the drive received (pages, cue
// sheets, writes) read from its command log, test-side cue sheets written from the MMC entry
// layout, and the disc dumped for cd-info, cdrdao and bchunk.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "device_environment.h"
#include "quillion/CDWriterEx.h"
#include "quillion/MMC.h"
#include "writer_test_support.h"

namespace quillion::test {

// Track modes of the writer's track calls: Mode 1 data and audio.
inline constexpr std::uint8_t kMode1 = 8, kAudio = 0;

// One cue sheet entry (MMC-5 6.33.3): CTL/ADR, track, index, data form, SCMS 0, absolute MSF.
inline void cueEntry(Bytes& sheet, std::uint8_t ctlAdr, std::uint8_t track, std::uint8_t index,
                     std::uint8_t form, std::int32_t lba) {
  const auto frames = static_cast<std::uint32_t>(lba + 150);
  sheet.insert(
      sheet.end(),
      {ctlAdr, track, index, form, 0, static_cast<std::uint8_t>(frames / 4500),
       static_cast<std::uint8_t>(frames / 75 % 60), static_cast<std::uint8_t>(frames % 75)});
}

struct AudioTrack {
  std::uint32_t pregap;
  std::uint32_t blocks;
};

// An audio session written at once from block `first` (the first pregap's start).
inline Bytes audioCueSheet(std::int32_t first, std::uint8_t firstTrack,
                           const std::vector<AudioTrack>& tracks) {
  Bytes sheet;
  std::int32_t at = first;
  cueEntry(sheet, 0x01, 0x00, 0, 0x01, at);
  std::uint8_t number = firstTrack;
  for (const auto& t : tracks) {
    if (t.pregap) cueEntry(sheet, 0x01, number, 0, 0x00, at);
    at += static_cast<std::int32_t>(t.pregap);
    cueEntry(sheet, 0x01, number, 1, 0x00, at);
    at += static_cast<std::int32_t>(t.blocks);
    ++number;
  }
  cueEntry(sheet, 0x01, 0xAA, 1, 0x01, at);
  return sheet;
}

// The number in parentheses after `field` ("START", "PREGAP") in cdrdao's show-toc text for
// `track`, which gives it in blocks.
inline std::optional<long> cdrdaoField(const std::string& toc, int track, const char* field) {
  char heading[16];
  std::snprintf(heading, sizeof heading, "TRACK %2d", track);
  const auto at = toc.find(heading);
  if (at == std::string::npos) return std::nullopt;
  const auto next = toc.find("TRACK", at + 1);
  const auto where = toc.find(field, at);
  if (where == std::string::npos || where > next) return std::nullopt;
  const auto open = toc.find('(', where);
  if (open == std::string::npos) return std::nullopt;
  return std::strtol(toc.c_str() + open + 1, nullptr, 10);
}

class DriveWriterTest : public ::testing::Test {
 protected:
  // Plugs a recorder of `preset` with a blank medium of `profile` and starts device control.
  std::uint32_t start(std::uint16_t profile = 0x09, std::uint32_t capacity = 359'846,
                      const std::string& preset = "cd-writer", bool bufe = true) {
    auto config = *emu::DriveConfig::preset(preset);
    config.name = config.product = "rec";
    config.bufe = bufe;
    drive_ = emu::EmulatedBus::instance().plug(config);
    drive_->load(env_.blankDisc("rec", profile, capacity));
    env_.start();
    ref_ = emu::DeviceEnvironment::refOf("rec");
    (void)MMC_TestUnitReady(ref_, nullptr);  // the load's unit attention
    drive_->clearLog();
    return ref_;
  }

  // Takes the drive away again, so that a case of a table can start afresh.
  void restart() {
    env_.stop();
    emu::EmulatedBus::instance().reset();
  }

  // A context for one session of Mode 1 tracks at once on the disc in the drive, track 1 open.
  myBurnEng_Pack* openDataTrack(bool simulate = false) {
    myBurnEng_Pack* c =
        CDWriterEx_CreateCD(ref_, nullptr, 0, simulate, 4, true, 1, true, false, nullptr, 0);
    if (!c) return nullptr;
    if (CDWriterEx_CreateSession(c, 0, 8, 0, nullptr, 0, nullptr, 0) != kNoErr ||
        CDWriterEx_CreateTrack(c, 1, 8, 2048, 150, nullptr, 0) != kNoErr) {
      (void)CDWriterEx_CloseCD(c);
      return nullptr;
    }
    return c;
  }

  // The outside readers over the dump in the test folder.
  std::string cdInfo(const std::filesystem::path& cue) const {
    return runTool({"cd-info", "--no-device-info", "--no-disc-mode", "--cue-file", cue.string()})
        .output;
  }
  std::string cdrdaoToc() const {
    return runTool({"cdrdao", "show-toc", "dump.cue"}, {.workingDirectory = env_.folder()}).output;
  }
  // bchunk's track files t01.iso, t02.wav, ... (-w: audio tracks as WAV).
  bool bchunk(bool wav) const {
    std::vector<std::string> argv = {"bchunk"};
    if (wav) argv.emplace_back("-w");
    argv.insert(argv.end(), {"dump.bin", "dump.cue", "t"});
    return runTool(argv, {.workingDirectory = env_.folder()}).exitCode == 0;
  }

  // Every command of one opcode the drive received, oldest first.
  std::vector<emu::LoggedCommand> sent(std::uint8_t opcode) const {
    std::vector<emu::LoggedCommand> out;
    for (const auto& c : drive_->log())
      if (c.cdb[0] == opcode) out.push_back(c);
    return out;
  }

  // The write parameters page of the n-th MODE SELECT (from the end when negative).
  Bytes page05(int n) const {
    const auto selects = sent(0x55);
    const std::size_t i =
        n < 0 ? selects.size() - static_cast<std::size_t>(-n) : static_cast<std::size_t>(n);
    const Bytes& list = selects.at(i).dataOut;
    const std::size_t at = 8u + be::get16(list, 6);
    return Bytes(list.begin() + static_cast<std::ptrdiff_t>(at), list.end());
  }

  std::vector<std::int32_t> writeAddresses() const {
    std::vector<std::int32_t> out;
    for (const auto& c : sent(0x2A)) out.push_back(static_cast<std::int32_t>(be::get32(c.cdb, 2)));
    return out;
  }

  // The medium as a bin/cue pair in the test folder.
  std::filesystem::path dump() {
    const auto cue = env_.folder() / "dump.cue";
    bool ok = false;
    EXPECT_TRUE(drive_->withMedium([&](emu::Medium& m) { ok = m.dumpBinCue(cue); }));
    EXPECT_TRUE(ok);
    return cue;
  }

  emu::DiscStatus discStatus() {
    emu::DiscStatus status = emu::DiscStatus::Blank;
    EXPECT_TRUE(drive_->withMedium([&](emu::Medium& m) { status = m.status(); }));
    return status;
  }

  std::vector<emu::Track> tracks() {
    std::vector<emu::Track> out;
    EXPECT_TRUE(drive_->withMedium([&](emu::Medium& m) { out = m.tracks(); }));
    return out;
  }

  // Writes `data` in pieces of at most `piece` blocks, as the burn run hands over cache blocks.
  EngineStatus writeAll(myBurnEng_Pack* c, const Bytes& data, std::uint16_t blockSize,
                        std::size_t piece = 200) {
    const std::size_t blocks = data.size() / blockSize;
    for (std::size_t at = 0; at < blocks; at += piece) {
      const auto n = static_cast<std::uint16_t>(std::min(piece, blocks - at));
      const EngineStatus status =
          CDWriterEx_WriteCD(c, data.data() + at * blockSize, n, blockSize, &stop_);
      if (status != kNoErr) return status;
    }
    return kNoErr;
  }

  bool driveHeld() {
    const int handle = drive_->open(true);
    if (handle > 0) drive_->close(handle);
    return handle < 0;
  }

  emu::DeviceEnvironment env_;
  std::shared_ptr<emu::EmulatedDrive> drive_;
  std::uint32_t ref_ = 0;
  std::atomic<bool> stop_{false};
};

}  // namespace quillion::test
