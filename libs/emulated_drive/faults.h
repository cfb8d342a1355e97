// SPDX-License-Identifier: GPL-2.0-or-later
// Faults a test injects into an emulated drive. Rules are matched in order against each
// command; a rule fires on the occurrences it names and then stays quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillion::emu {

enum class FaultAction {
  CheckCondition,    // sense key/ASC/ASCQ (fixed or descriptor form), information = the LBA
  TransportFailure,  // the host adapter reports `hostStatus`: no verdict from the drive
  Busy,              // SCSI status BUSY
  NeverAnswers,      // the command runs into its timeout
  RemoveMedium,      // the medium is taken out just before the command
  Reset,             // a power-on reset just before the command: unit attention 06/29/00
  Vanish,            // the drive is unplugged while the command runs
  ShortTransfer,     // `residual` bytes of the data phase are not moved
  Hook,              // answers normally (after `hook`, which any rule may carry, has run)
};

struct FaultRule {
  std::optional<std::uint8_t> opcode{};  // any command when empty
  std::optional<std::uint32_t> lbaFirst{};  // for commands with an LBA in bytes 2-5
  std::optional<std::uint32_t> lbaLast{};
  std::uint32_t fromCall = 1;                   // occurrences (1-based) of matching commands
  std::uint32_t toCall = UINT32_MAX;
  FaultAction action = FaultAction::CheckCondition;
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool descriptorSense = false;
  std::uint16_t hostStatus = 0x03;  // time-out
  std::uint32_t residual = 0;
  std::function<void()> hook{};  // runs while the command is in the drive, whatever the action

  std::uint32_t seen = 0;  // matching commands so far
};

}  // namespace quillion::emu
