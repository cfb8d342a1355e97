// SPDX-License-Identifier: GPL-2.0-or-later
// The volume descriptors: the primary, the Joliet supplementary one and the set
// terminator, each one 2048-byte block.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "DPMs/iso9660/iso_records.h"
#include "quillion/CS.h"

namespace quillion::iso {

struct IsoVolumeTexts {
  std::string system;
  std::string volume;
  std::string volumeSet;
  std::string publisher;
  std::string preparer;
};

struct IsoVolumeDates {
  std::tm creation{};
  std::tm modification{};
  std::optional<std::tm> expiration;  // none: "not specified"
  std::optional<std::tm> effective;
  std::int8_t gmtOffset = 0;  // 15-minute units
};

// What a descriptor says of one tree (the ISO9660 tree or the Joliet tree).
struct IsoTreeFields {
  std::uint32_t volumeSpaceBlocks = 0;
  std::uint32_t pathTableBytes = 0;
  std::uint32_t lPathTableLBA = 0;
  std::uint32_t mPathTableLBA = 0;
  IsoRecord root;  // the "." record of the root
};

// 16 digits (year, month, day, hour, minute, second, hundredths) and the offset byte; a
// date not given is sixteen '0' digits and offset 0, "not specified".
void Date2MyString(const std::tm* date, std::int8_t gmtOffset, std::span<std::uint8_t, 17> out);

using IsoBlock = std::span<std::uint8_t, kSectorBytes>;

// `withSystem` false leaves the system identifier as spaces (UDF bridge).
void CreatePVD(IsoBlock block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa);
void CreateSVD(IsoBlock block, const IsoVolumeTexts& texts, const IsoVolumeDates& dates,
               const IsoTreeFields& tree, bool withSystem, bool xa, CS_UCRef converter);
void CreateVDT(IsoBlock block);

}  // namespace quillion::iso
