// SPDX-License-Identifier: GPL-2.0-or-later
// CD sectors as ECMA-130 lays them out: the 2352-byte Mode 1 sector a drive records for 2048
// bytes of user data, with its error detection code (EDC, 14.3) and the Reed-Solomon product
// code (RSPC, Annex A) over header, data and EDC.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quillion::emu {

inline constexpr std::size_t kRawSectorBytes = 2352;
using RawSector = std::array<std::uint8_t, kRawSectorBytes>;

// The 32-bit EDC of `bytes` (stored least significant byte first).
std::uint32_t cdEdc(std::span<const std::uint8_t> bytes);

// Fills the P and Q parity (bytes 2076-2351) of a sector from bytes 12-2075. For Mode 2
// Form 1 the caller zeroes the header first and puts it back afterwards (ECMA-130 14.5).
void cdEcc(RawSector& sector);

// Sync, header (MSF of the block address), user data, EDC, zero area and parity.
RawSector mode1Sector(std::int32_t lba, std::span<const std::uint8_t, 2048> userData);

// What a recorded sector holds (ECMA-130 14, CD-ROM XA for the two Mode 2 forms).
enum class SectorKind : std::uint8_t { Audio, Mode1, Mode2, Mode2Form1, Mode2Form2 };

// How the host hands a block over: the data block types of the write parameters page and the
// main data forms of a cue sheet (MMC-5 7.5.4.9, 6.33.3.17).
enum class HostBlock : std::uint8_t {
  Audio2352,  // PCM as recorded
  Raw2352,    // the whole sector, sync to parity
  Mode1_2048, // user data; the drive adds sync, header, EDC and parity
  Mode2_2336, // Mode 2 data area as it stands, formless: no EDC
  Form1_2048, // user data; the drive adds a data subheader, EDC and parity
  Form1_2056, // subheader and user data
  Form2_2324, // user data; the drive adds a Form 2 subheader and the EDC
  Mixed_2332, // subheader and 2324 bytes; the subheader's Form 2 bit chooses the form
  Xa_2336,    // subheader and the rest of the data area; the form as above
};

std::size_t hostBytes(HostBlock block);
// The kind a host block records (for the two XA layouts that carry a subheader, the form is
// known per sector only: they answer Mode2Form1, the track's kind).
SectorKind recordedKind(HostBlock block);

// The sector the drive records at `lba` from `host` (hostBytes(block) bytes).
RawSector buildSector(HostBlock block, std::int32_t lba, std::span<const std::uint8_t> host);
// A sector of `kind` whose user data are zero: pregaps, run-outs and padding the drive makes.
RawSector emptySector(SectorKind kind, std::int32_t lba);

// Byte ranges of a recorded sector (ECMA-130 14.3 and CD-ROM XA); for audio the whole sector
// is user data and the other fields are empty. A Mode 2 sector's form is read from its
// subheader.
struct SectorFields {
  std::size_t syncEnd, headerEnd, subheaderEnd, userEnd, edcEnd;  // each begins where the one before ends
};
SectorFields sectorFields(SectorKind trackKind, const RawSector& sector);

}  // namespace quillion::emu
