// SPDX-License-Identifier: GPL-2.0-or-later
// The drive's own account of its CD writing speeds, for drives without a drive database
// record: the maximum write speed of the capabilities page (MMC-5 7.8) turned into the speed
// masks of DC_DeviceCap through one table.
#include <algorithm>
#include <array>
#include <cstring>

#include "device/gdt_support.h"
#include "quillion/GDT.h"

using namespace quillion;

namespace {

// One row per speed a drive reports, in x (176 KB/s); the masks differ when an erasable disc
// is in the drive, because the speeds that disc takes are another set.
struct SpeedMasks {
  std::uint32_t speed;
  std::uint32_t cdr;
  std::uint32_t cdrErasable;
  std::uint32_t rw;
  std::uint32_t rwErasable;
};

constexpr std::array<SpeedMasks, 18> kSpeedMasks{{
    {1, 0x1, 0x3, 0x1, 0x1},
    {2, 0x3, 0x7, 0x2, 0x3},
    {4, 0x7, 0x16, 0x2, 0x7},
    {6, 0xF, 0x56, 0x6, 0xF},
    {8, 0x16, 0x56, 0x6, 0x16},
    {10, 0x36, 0x1550, 0x36, 0x36},
    {12, 0x56, 0x51154, 0x16, 0x56},
    {16, 0x156, 0x1111154, 0x26, 0x156},
    {20, 0x554, 0x1111154, 0x36, 0x554},
    {24, 0x1554, 0x1111154, 0x36, 0x1554},
    {28, 0x5550, 0x5111154, 0x36, 0x5550},
    {32, 0x11554, 0x5111154, 0x76, 0x11554},
    {36, 0x51154, 0x5111154, 0x76, 0x51154},
    {40, 0x111154, 0x5111154, 0x74, 0x111514},
    {48, 0x1111154, 0x5111154, 0x1574, 0x1111154},
    {50, 0x3111154, 0x5111154, 0x11574, 0x2111154},
    {52, 0x5111154, 0x5111154, 0x11574, 0x5111154},
    {54, 0x9110110, 0x9110110, 0x11574, 0x9110110},
}};
constexpr SpeedMasks kOtherSpeed{0, 0x56, 0x11550, 0x16, 0x56};

const SpeedMasks& masksFor(std::uint32_t speed) {
  for (const auto& row : kSpeedMasks)
    if (row.speed == speed) return row;
  return kOtherSpeed;
}

constexpr std::uint32_t kKBpsPerX = 176;

// READ DISC INFORMATION byte 2 bit 4; a drive that cannot tell has no erasable disc.
bool erasableDiscIn(std::uint32_t ref) {
  std::array<std::uint8_t, 34> info{};
  MMC_SenseData sense{};
  return gdt::readDiscInformation(ref, info, &sense) == kNoErr && (info[2] & 0x10) != 0;
}

}  // namespace

EngineStatus GDT_GetDriveInfoByDDS(std::uint32_t ref, GDT_DriveSpeedRecord* record) {
  if (!record || !gdt::namesDrive(ref)) return kErrBadArgument;
  std::memset(record, 0, sizeof *record);
  const bool erasable = erasableDiscIn(ref);

  std::array<std::uint8_t, 64> reply{};
  MMC_SenseData sense{};
  if (gdt::modeSense(ref, 0x2A, reply, &sense) != kNoErr) return kNoErr;
  // The page follows the 8-byte header and the block descriptors the header announces.
  const std::size_t start = 8 + (static_cast<std::size_t>(reply[6]) << 8 | reply[7]);
  if (start + 30 > reply.size()) return kNoErr;
  const std::uint8_t* page = reply.data() + start;
  if ((page[0] & 0x3F) != 0x2A) return kNoErr;

  const auto word = [page](std::size_t at) {
    return static_cast<std::uint32_t>(page[at] << 8 | page[at + 1]);
  };
  std::uint32_t speed = word(18) / kKBpsPerX;
  if (page[1] > 27) speed = std::max(speed, word(28) / kKBpsPerX);
  const bool writesRw = (page[3] & 0x02) != 0;

  const SpeedMasks& row = masksFor(speed);
  record->cdrSpeedMask = erasable ? row.cdrErasable : row.cdr;
  if (writesRw) record->rwSpeedMask = speed == 1 ? 1 : (erasable ? row.rwErasable : row.rw);
  record->highSpeed = (speed > 23 || (erasable && speed > 7)) ? 1 : 0;
  return kNoErr;
}
