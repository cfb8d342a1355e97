// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/udf/udf_volume.h"

#include <algorithm>
#include <cstring>

#include "DPMs/iso9660/iso_descriptors.h"
#include "DPMs/iso9660/iso_records.h"
#include "common/byte_order.h"

namespace quillion::udf {
namespace {

Bytes sectorOf(Bytes header, std::uint32_t sector) {
  return header.subspan(std::size_t{sector} * kSectorBytes, kSectorBytes);
}

void putAscii(Bytes out, std::size_t at, std::string_view text, std::size_t width) {
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), width, std::uint8_t{' '});
  std::memcpy(out.data() + at, text.data(), std::min(text.size(), width));
}

void putName(Bytes field, const OstaName& name) {
  SetDstring(field, name.compression, name.bytes);
}

// Structure type, "CD001" or a recognition identifier, version 1 (ECMA-119 8.1,
// ECMA-167 2/9.1).
void volumeStructure(Bytes sector, std::uint8_t type, std::string_view identifier) {
  std::fill(sector.begin(), sector.end(), std::uint8_t{0});
  sector[0] = type;
  std::memcpy(sector.data() + 1, identifier.data(), 5);
  sector[6] = 1;
}

void isoDirectoryRecord(Bytes out, std::size_t& at, std::string_view name, std::uint32_t extent,
                        std::uint32_t length, bool folder, const UdfVolumeFacts& facts) {
  iso::IsoRecord record;
  record.kind = name.empty()                        ? iso::kDotRecord
                : name == std::string_view("\1", 1) ? iso::kDotDotRecord
                                                    : iso::kFileRecord;
  if (folder && !name.empty() && record.kind == iso::kFileRecord)
    record.kind = iso::kSubDirectoryRecord;
  record.extent = extent;
  record.length = length;
  record.date = facts.now;
  record.gmtOffset = facts.gmtOffsetQuarters;
  record.identifier = name;
  at += iso::WriteDirectory(out, at, record, iso::IsoRecordOptions{}, true);
}

}  // namespace

std::array<std::uint8_t, 8> udfSuffix(std::uint16_t revision, std::uint8_t byte26) {
  return {static_cast<std::uint8_t>(revision),
          static_cast<std::uint8_t>(revision >> 8),
          byte26,
          0,
          0,
          0,
          0,
          0};
}

std::array<std::uint8_t, 8> implementationSuffix(const UdfVolumeFacts& facts) {
  if (facts.dvdVideo) return {};
  // Operating system class 5 (UNIX), and the revision in the implementation use bytes.
  return {5,
          0,
          0,
          0,
          0,
          0,
          static_cast<std::uint8_t>(facts.revision),
          static_cast<std::uint8_t>(facts.revision >> 8)};
}

void writeIsoStub(Bytes header, const UdfVolumeFacts& facts) {
  const std::uint32_t s = facts.start;
  const std::uint32_t rootSector = 23, readmeSector = 24;
  Bytes pvd = sectorOf(header, 16);
  volumeStructure(pvd, 1, "CD001");
  putAscii(pvd, 8, "CD-RTOS CD-BRIDGE", 32);
  putAscii(pvd, 40, facts.isoTitle, 32);
  both::put32(pvd, 80, s + 28);
  pvd[88] = 0x25;  // escape sequence "%/@": the same as a Joliet level 1 descriptor
  pvd[89] = 0x2F;
  pvd[90] = 0x40;
  both::put16(pvd, 120, 1);
  both::put16(pvd, 124, 1);
  both::put16(pvd, 128, kSectorBytes);
  both::put32(pvd, 132, 10);
  le::put32(pvd, 140, s + 21);
  be::put32(pvd, 148, s + 22);
  std::size_t at = 156;
  isoDirectoryRecord(pvd, at, {}, s + rootSector, kSectorBytes, true, facts);
  putAscii(pvd, 190, "", 128 * 4);
  putAscii(pvd, 702, "", 37 * 3);
  iso::Date2MyString(&facts.now, facts.gmtOffsetQuarters, pvd.subspan<813, 17>());
  iso::Date2MyString(&facts.now, facts.gmtOffsetQuarters, pvd.subspan<830, 17>());
  iso::Date2MyString(nullptr, 0, pvd.subspan<847, 17>());
  iso::Date2MyString(nullptr, 0, pvd.subspan<864, 17>());
  pvd[881] = 1;

  volumeStructure(sectorOf(header, 17), 255, "CD001");
  writeVRS(header, 18);

  // One path table record each way: the root, its own parent.
  Bytes lTable = sectorOf(header, 21);
  Bytes mTable = sectorOf(header, 22);
  std::fill(lTable.begin(), lTable.end(), std::uint8_t{0});
  std::fill(mTable.begin(), mTable.end(), std::uint8_t{0});
  lTable[0] = mTable[0] = 1;
  le::put32(lTable, 2, s + rootSector);
  be::put32(mTable, 2, s + rootSector);
  le::put16(lTable, 6, 1);
  be::put16(mTable, 6, 1);

  Bytes root = sectorOf(header, rootSector);
  std::fill(root.begin(), root.end(), std::uint8_t{0});
  at = 0;
  isoDirectoryRecord(root, at, {}, s + rootSector, kSectorBytes, true, facts);
  isoDirectoryRecord(root, at, std::string_view("\1", 1), s + rootSector, kSectorBytes, true,
                     facts);
  isoDirectoryRecord(root, at, kReadmeName, s + readmeSector,
                     static_cast<std::uint32_t>(kReadmeText.size()), false, facts);

  Bytes readme = sectorOf(header, readmeSector);
  std::fill(readme.begin(), readme.end(), std::uint8_t{0});
  std::memcpy(readme.data(), kReadmeText.data(), kReadmeText.size());
}

void writeVRS(Bytes header, std::uint32_t firstSector) {
  volumeStructure(sectorOf(header, firstSector), 0, "BEA01");
  volumeStructure(sectorOf(header, firstSector + 1), 0, "NSR02");
  volumeStructure(sectorOf(header, firstSector + 2), 0, "TEA01");
}

void writeVDSE(Bytes header, std::uint32_t sector, const UdfVolumeFacts& facts) {
  const std::uint32_t s = facts.start;
  const auto implId = implementationSuffix(facts);
  const auto descriptor = [&](std::uint32_t n) {
    Bytes d = sectorOf(header, sector + n);
    std::fill(d.begin(), d.end(), std::uint8_t{0});
    return d;
  };

  Bytes pvd = descriptor(0);  // ECMA-167 3/10.1
  InitSetTag(pvd, kTagPrimaryVolume, 496, s + sector);
  putName(pvd.subspan(24, 32), facts.title);
  le::put16(pvd, 56, 1);
  le::put16(pvd, 58, 1);
  le::put16(pvd, 60, 2);
  le::put16(pvd, 62, facts.dvdVideo ? 2 : 3);
  le::put32(pvd, 64, 1);
  le::put32(pvd, 68, 1);
  putName(pvd.subspan(72, 128), facts.volumeSet);
  SetCharspec(pvd.subspan(200, 64));
  SetCharspec(pvd.subspan(264, 64));
  std::copy(facts.recorded.begin(), facts.recorded.end(), pvd.begin() + 376);
  SetEntityID(pvd.subspan(388, 32), kImplementationId, implId);
  SetCrcTag(pvd);

  Bytes iuvd = descriptor(1);  // ECMA-167 3/10.4 with the UDF logical volume information
  InitSetTag(iuvd, kTagImplementationUse, 496, s + sector + 1);
  le::put32(iuvd, 16, 1);
  SetEntityID(iuvd.subspan(20, 32), "*UDF LV Info",
              udfSuffix(facts.revision, facts.dvdVideo ? 0 : 5));
  SetCharspec(iuvd.subspan(52, 64));
  putName(iuvd.subspan(116, 128), facts.title);
  SetEntityID(iuvd.subspan(352, 32), kImplementationId, implId);
  SetCrcTag(iuvd);

  Bytes pd = descriptor(2);  // ECMA-167 3/10.5
  InitSetTag(pd, kTagPartition, 496, s + sector + 2);
  le::put32(pd, 16, 2);
  le::put16(pd, 20, 1);  // allocated
  le::put16(pd, 22, 0);
  SetEntityID(pd.subspan(24, 32), "+NSR02", udfSuffix(facts.revision, facts.dvdVideo ? 0 : 5));
  if (facts.dvdVideo) pd[24] = 2;
  le::put32(pd, 184, 1);  // read-only
  le::put32(pd, 188, facts.partitionStart);
  le::put32(pd, 192, facts.partitionLength);
  SetEntityID(pd.subspan(196, 32), kImplementationId, implId);
  SetCrcTag(pd);

  Bytes lvd = descriptor(3);  // ECMA-167 3/10.6
  InitSetTag(lvd, kTagLogicalVolume, 430, s + sector + 3);
  le::put32(lvd, 16, 3);
  SetCharspec(lvd.subspan(20, 64));
  putName(lvd.subspan(84, 128), facts.title);
  le::put32(lvd, 212, kSectorBytes);
  SetEntityID(lvd.subspan(216, 32), kDomainId, udfSuffix(facts.revision, 3));
  SetLongAd(lvd.subspan(248, 16), 2 * kSectorBytes, facts.fileSetBlock, 0);
  le::put32(lvd, 264, 6);
  le::put32(lvd, 268, 1);
  SetEntityID(lvd.subspan(272, 32), kImplementationId, implId);
  SetExtentAd(lvd.subspan(432, 8), 2 * kSectorBytes, s + kIntegritySector);
  lvd[440] = 1;  // type 1 partition map of 6 bytes
  lvd[441] = 6;
  le::put16(lvd, 442, 1);
  le::put16(lvd, 444, 0);
  SetCrcTag(lvd);

  Bytes usd = descriptor(4);  // ECMA-167 3/10.8
  InitSetTag(usd, kTagUnallocatedSpace, 8, s + sector + 4);
  le::put32(usd, 16, 4);
  SetCrcTag(usd);

  Bytes td = descriptor(5);
  InitSetTag(td, kTagTerminating, 496, s + sector + 5);
  SetCrcTag(td);
}

void writeLVIS(Bytes header, const UdfVolumeFacts& facts) {
  Bytes lvid = sectorOf(header, kIntegritySector);  // ECMA-167 3/10.10
  std::fill(lvid.begin(), lvid.end(), std::uint8_t{0});
  InitSetTag(lvid, kTagIntegrity, 120, facts.start + kIntegritySector);
  std::copy(facts.recorded.begin(), facts.recorded.end(), lvid.begin() + 16);
  le::put32(lvid, 28, 1);  // closed
  // The next unique ID: the root has 0, the other entries count from 18 on.
  le::put64(lvid, 40, std::uint64_t{facts.folders} + facts.files + 18);
  le::put32(lvid, 72, 1);
  le::put32(lvid, 76, 48);
  le::put32(lvid, 80, 0);
  le::put32(lvid, 84, facts.partitionLength);
  SetEntityID(lvid.subspan(88, 32), kImplementationId, implementationSuffix(facts));
  le::put32(lvid, 120, facts.files);
  le::put32(lvid, 124, facts.folders + 1);
  le::put16(lvid, 128, facts.revision);
  le::put16(lvid, 130, facts.revision);
  le::put16(lvid, 132, facts.revision);
  SetCrcTag(lvid);

  Bytes td = sectorOf(header, kIntegritySector + 1);
  std::fill(td.begin(), td.end(), std::uint8_t{0});
  InitSetTag(td, kTagTerminating, 496, facts.start + kIntegritySector + 1);
  SetCrcTag(td);
}

void writeAVDP(Bytes sector, std::uint32_t location, const UdfVolumeFacts& facts) {
  std::fill(sector.begin(), sector.begin() + kSectorBytes, std::uint8_t{0});
  InitSetTag(sector, kTagAnchor, 496, location);  // ECMA-167 3/10.2
  SetExtentAd(sector.subspan(16, 8), 16 * kSectorBytes, facts.start + kMainSequenceSector);
  SetExtentAd(sector.subspan(24, 8), 16 * kSectorBytes, facts.start + kReserveSequenceSector);
  SetCrcTag(sector.first(kSectorBytes));
}

}  // namespace quillion::udf
