// SPDX-License-Identifier: GPL-2.0-or-later
// ECMA-167 building blocks shared by every UDF structure this producer writes: descriptor
// tags with their CRC and checksum, entity identifiers, character set specifications,
// dstrings, timestamps and allocation descriptors. Each writes little-endian fields into
// a span through the checked byte-order helpers; nothing is cast onto a buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string_view>

namespace quillion::udf {

inline constexpr std::uint32_t kSectorBytes = 2048;
using Bytes = std::span<std::uint8_t>;

// Descriptor tag identifiers (ECMA-167 3/7.2.1 and 4/7.2.1).
enum TagId : std::uint16_t {
  kTagPrimaryVolume = 1,
  kTagAnchor = 2,
  kTagImplementationUse = 4,
  kTagPartition = 5,
  kTagLogicalVolume = 6,
  kTagUnallocatedSpace = 7,
  kTagTerminating = 8,
  kTagIntegrity = 9,
  kTagFileSet = 256,
  kTagFileIdentifier = 257,
  kTagFileEntry = 261,
  kTagExtendedAttributeHeader = 262,
};

// CRC-16 with polynomial 0x1021, initial value 0, most significant bit first (ECMA-167
// 1/7.2.6), over `bytes`.
std::uint16_t UdfCrc(std::span<const std::uint8_t> bytes);

// Writes the 16-byte tag at the start of `descriptor`: identifier, version 2, serial 1,
// CRC length and location; CRC and checksum are left for SetCrcTag.
void InitSetTag(Bytes descriptor, std::uint16_t identifier, std::uint16_t crcLength,
                std::uint32_t location);
// Computes the CRC over the `crcLength` bytes after the tag, then the tag checksum (sum of
// tag bytes 0-3 and 5-15 modulo 256, ECMA-167 3/7.2.3). Call once the descriptor is final.
void SetCrcTag(Bytes descriptor);
std::uint8_t tagChecksum(std::span<const std::uint8_t> tag);

// A 32-byte entity identifier (regid, ECMA-167 1/7.4): flags 0, the text from byte 1 and
// the eight suffix bytes.
void SetEntityID(Bytes regid, std::string_view identifier,
                 const std::array<std::uint8_t, 8>& suffix);
// "OSTA Compressed Unicode" character set specification (64 bytes, type 0).
void SetCharspec(Bytes charspec);

// A dstring (ECMA-167 1/7.2.12): compression byte, the name bytes (at most the field
// length - 2) and the used length in the last byte. `name` is already in the form of its
// compression (8: one byte per character; 16: big-endian UTF-16). Empty: all zero.
void SetDstring(Bytes field, std::uint8_t compression, std::span<const std::uint8_t> name);

// A 12-byte timestamp (ECMA-167 1/7.3) of local time `t`, with its offset from UTC in
// minutes as the 12-bit time zone of type 1.
void LocalTimeToTimeStamp(Bytes out, const std::tm& t, std::int32_t utcOffsetMinutes);

void SetExtentAd(Bytes ad, std::uint32_t length, std::uint32_t location);
void SetShortAd(Bytes ad, std::uint32_t length, std::uint32_t position);
void SetLongAd(Bytes ad, std::uint32_t length, std::uint32_t block, std::uint16_t partition);

// The ICB tag of a file entry (ECMA-167 4/14.6): strategy 4, one entry, the file type and
// the allocation flags.
void SetICB(Bytes icbtag, std::uint8_t fileType, std::uint16_t flags);

}  // namespace quillion::udf
