// SPDX-License-Identifier: GPL-2.0-or-later
// What the device and disc queries share: waiting for a drive, the drive query family tried
// first with the raw command behind it, and reading the capacity and TOC again after a medium
// change.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "quillion/MMC.h"
#include "quillion/status.h"

namespace quillion::gdt {

// A reference that may name a real drive (not 0 and not an image pseudo-drive).
bool namesDrive(std::uint32_t ref);

// Up to `tries` TEST UNIT READY one second apart: 0 once the unit is ready, or reports no
// medium (ASC 3Ah, any qualifier) when `noMediumIsReady`; else the last status. 0 at once for
// pure readers.
EngineStatus waitDeviceReady(std::uint32_t ref, int tries, bool noMediumIsReady);

// Each asks the drive query family first and sends the raw command when it answers -1.
EngineStatus readDiscInformation(std::uint32_t ref, std::span<std::uint8_t> reply,
                                 MMC_SenseData* sense);
EngineStatus readTrackInformation(std::uint32_t ref, std::uint8_t track,
                                  std::span<std::uint8_t> reply, MMC_SenseData* sense);
EngineStatus readToc(std::uint32_t ref, std::uint8_t format, bool msf, std::uint8_t trackOrSession,
                     std::vector<std::uint8_t>& reply, MMC_SenseData* sense);
EngineStatus modeSense(std::uint32_t ref, std::uint8_t page, std::span<std::uint8_t> reply,
                       MMC_SenseData* sense);

// After a signal that the medium may have changed, READ CAPACITY and READ TOC are sent again
// before the disc is read or described, so that the drive answers for the disc now in it.
void refreshMediumView(std::uint32_t ref);

}  // namespace quillion::gdt
