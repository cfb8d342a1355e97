// SPDX-License-Identifier: GPL-2.0-or-later
// Sense data as drives return it (SPC-3 4.5): fixed format (70h/71h) and descriptor format
// (72h/73h), reduced to key, ASC and ASCQ, plus the verdict of one command.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/device/scsi_transport.h"
#include "quillion/MMC.h"
#include "quillion/status.h"

namespace quillion {

struct ParsedSense {
  MMC_SenseData data{};
  bool deferred = false;
  std::optional<std::uint64_t> information;  // e.g. the failing LBA
  std::optional<std::uint16_t> progress;     // sense-key specific progress indication (of 65536)
};

// Empty for a buffer that holds no recognisable sense (too short, unknown response code).
std::optional<ParsedSense> parseSense(std::span<const std::uint8_t> sense);

// The status of one executed command: -1179 when it never got a verdict from the drive,
// -1177 (sense filled in) for any SCSI status other than GOOD, else 0.
EngineStatus commandStatus(const ScsiResult& result, MMC_SenseData* sense);

}  // namespace quillion
