// SPDX-License-Identifier: GPL-2.0-or-later
// What a drive's sense means to the engine, beside the texts that name it (sense_table.cpp):
// the sense keys by name and one classification of key, ASC and ASCQ. Code asks for the class,
// never compares sense codes.
#pragma once

#include <cstdint>

#include "quillion/MMC.h"

namespace quillion {

// SPC-3 4.5.6, table 27.
namespace sense_key {
inline constexpr std::uint8_t kNoSense = 0x00;
inline constexpr std::uint8_t kRecoveredError = 0x01;
inline constexpr std::uint8_t kNotReady = 0x02;
inline constexpr std::uint8_t kMediumError = 0x03;
inline constexpr std::uint8_t kHardwareError = 0x04;
inline constexpr std::uint8_t kIllegalRequest = 0x05;
inline constexpr std::uint8_t kUnitAttention = 0x06;
inline constexpr std::uint8_t kDataProtect = 0x07;
inline constexpr std::uint8_t kAbortedCommand = 0x0B;
}  // namespace sense_key

enum class SenseClass : std::uint8_t {
  None,                 // no sense, or an error the drive recovered from
  NoMedium,             // ASC 3Ah, whatever the key
  BecomingReady,        // the drive is spinning up or loading
  MediumChanged,        // the medium may have changed, or the drive was reset
  LongWriteInProgress,  // busy with an earlier immediate command (close, sync, long write)
  Retry,                // a passing refusal: the same command sent again may succeed
  Fail,                 // the drive's verdict on the command
};

[[nodiscard]] SenseClass classifySense(const MMC_SenseData& sense);

// True for the classes after which the same command is simply sent again.
constexpr bool sendAgain(SenseClass c) {
  return c == SenseClass::MediumChanged || c == SenseClass::Retry;
}

// True when the sense reports a medium that may differ from the one seen before.
constexpr bool mediumMayHaveChanged(SenseClass c) {
  return c == SenseClass::MediumChanged || c == SenseClass::NoMedium;
}

}  // namespace quillion
