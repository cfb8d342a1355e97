// SPDX-License-Identifier: GPL-2.0-or-later
// The structures of a UDF bridge volume outside its partition: the ISO9660 stub with its
// README.TXT (plain mode), the volume recognition sequence, the main and reserve volume
// descriptor sequences, the integrity sequence and the anchor. Each writer fills sectors
// of a buffer that starts at sector 0 of the image; tag locations are absolute sectors.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "DPMs/udf/udf_structures.h"

namespace quillion::udf {

// A name or title in the form a dstring or file identifier holds it.
struct OstaName {
  std::uint8_t compression = 8;     // 8: one byte per character; 16: big-endian UTF-16
  std::vector<std::uint8_t> bytes;  // without the compression byte
};

// Everything the volume structures say about one image.
struct UdfVolumeFacts {
  std::uint32_t start = 0;  // absolute sector of the image's sector 0
  std::uint16_t revision = 0x0102;
  bool dvdVideo = false;
  OstaName title;                           // volume and logical volume identifiers
  OstaName volumeSet;                       // volume set identifier (8-bit)
  std::string isoTitle;                     // d-characters for the ISO9660 stub
  std::array<std::uint8_t, 12> recorded{};  // recording timestamp
  std::tm now{};                            // local time of the recording, for the stub
  std::int8_t gmtOffsetQuarters = 0;        // its offset from UTC in 15-minute units
  std::uint32_t partitionStart = 0;         // absolute sector
  std::uint32_t partitionLength = 0;        // blocks
  std::uint32_t fileSetBlock = 0;           // partition block of the file set descriptor
  std::uint32_t files = 0;                  // below the root
  std::uint32_t folders = 0;                // below the root
};

// Relative sectors of the fixed structures.
inline constexpr std::uint32_t kMainSequenceSector = 32;
inline constexpr std::uint32_t kReserveSequenceSector = 48;
inline constexpr std::uint32_t kIntegritySector = 64;
inline constexpr std::uint32_t kAnchorSector = 256;
inline constexpr std::uint32_t kHeaderSectors = 66;  // sectors 0-65 kept in memory

inline constexpr std::string_view kReadmeName = "README.TXT";
inline constexpr std::string_view kReadmeText =
    "Please read this CD in a system with UDF reader driver.";

// Sectors 16-24 of plain mode: the ISO9660 stub around "BEA01", "NSR02", "TEA01".
// `header` holds at least sectors 0-24.
void writeIsoStub(Bytes header, const UdfVolumeFacts& facts);
// "BEA01", "NSR02", "TEA01" from `firstSector` on.
void writeVRS(Bytes header, std::uint32_t firstSector);
// One volume descriptor sequence (six sectors) at relative sector `sector`.
void writeVDSE(Bytes header, std::uint32_t sector, const UdfVolumeFacts& facts);
// The integrity descriptor and a terminating descriptor at relative sectors 64 and 65.
void writeLVIS(Bytes header, const UdfVolumeFacts& facts);
// An anchor volume descriptor pointer in the 2048 bytes of `sector`, tagged `location`.
void writeAVDP(Bytes sector, std::uint32_t location, const UdfVolumeFacts& facts);

// The entity identifier suffixes each structure carries.
std::array<std::uint8_t, 8> implementationSuffix(const UdfVolumeFacts& facts);
std::array<std::uint8_t, 8> udfSuffix(std::uint16_t revision, std::uint8_t byte26);
inline constexpr std::string_view kImplementationId = "*ZEB UDF CD";
inline constexpr std::string_view kDomainId = "*OSTA UDF Compliant";

}  // namespace quillion::udf
