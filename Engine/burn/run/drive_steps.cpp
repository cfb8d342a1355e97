// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/run/drive_steps.h"

#include <array>
#include <chrono>
#include <cstring>
#include <vector>

#include "DPMs/hfs/dpm_fs_hybrid.h"
#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "DPMs/udf/dpm_udf.h"
#include "common/byte_order.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"
#include "quillion/clock.h"

namespace quillion::burn {
// Named rather than anonymous: the engine is built in unity batches.
namespace drive_steps_detail {

using namespace std::chrono_literals;
using namespace profiles;

constexpr std::uint32_t kBlockBytes = 2048;
constexpr std::uint32_t kPatchBlocks = 32;
constexpr std::uint32_t kFirstDescriptor = 16;
constexpr std::uint32_t kMostDescriptors = 9;
constexpr std::uint32_t kAnchorBlock = 256;
constexpr int kReadAttempts = 50;
constexpr int kFormatReadySeconds = 1200;
constexpr std::uint8_t kGrowFormat = 0x13, kQuickFormat = 0x15;
constexpr std::uint32_t kIsoFormatBits = 0xF00;

std::uint32_t roundUp(std::uint32_t blocks, std::uint32_t unit) {
  return (blocks + unit - 1) / unit * unit;
}

using Blocks = std::vector<std::uint8_t>;

bool isDescriptor(const std::uint8_t* block, const char* identifier) {
  return std::memcmp(block + 1, identifier, 5) == 0;
}

// 32 blocks from `lba`, the drive spun up and given the time it needs.
EngineStatus readPatchBlocks(std::uint32_t ref, std::uint32_t lba, Blocks& out) {
  out.assign(std::size_t{kPatchBlocks} * kBlockBytes, 0);
  (void)MMC_Util_SetReadWriteSpeed(ref, 0xFFFF, 0xFFFF, nullptr);
  (void)MMC_StartUnit(ref, false, nullptr);
  EngineStatus status = kErrSourceRead;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0) (void)engineClock().sleepFor(1s);
    (void)MMC_WaitTestUnitReady(ref, 120);
    status = GDT_Get2048DataBlocks(ref, out.data(), lba, kPatchBlocks, true, nullptr);
    if (status == kNoErr) return kNoErr;
  }
  return status;
}

EngineStatus writePatchBlocks(std::uint32_t ref, std::uint32_t lba, const Blocks& blocks) {
  return MMC_WriteSectors(ref, lba, blocks.data(), kBlockBytes, kPatchBlocks, nullptr);
}

struct OldVolume {
  bool hfs = false;
  bool partitionMap = false;
  bool iso = false;
  bool udf = false;
};

OldVolume classify(const Blocks& start) {
  OldVolume v;
  const std::uint16_t signature = be::get16(start, 1024);
  v.partitionMap = start[0] == 'E' && start[1] == 'R';
  v.hfs = v.partitionMap || signature == 0x482B /* H+ */ || signature == 0x4244 /* BD */;
  const std::uint8_t* first = start.data() + std::size_t{kFirstDescriptor} * kBlockBytes;
  if (first[0] != 1 || !isDescriptor(first, "CD001")) return v;
  std::uint32_t block = kFirstDescriptor + 1;
  std::uint32_t run = 1;
  while (block < kPatchBlocks && run < kMostDescriptors &&
         isDescriptor(start.data() + std::size_t{block} * kBlockBytes, "CD001")) {
    ++block;
    ++run;
  }
  const std::uint8_t* next = start.data() + std::size_t{block} * kBlockBytes;
  const bool extended =
      block < kPatchBlocks && run < kMostDescriptors && next[0] == 0 && isDescriptor(next, "BEA01");
  (extended ? v.udf : v.iso) = true;
  return v;
}

// The driver descriptor and partition map of an Apple partitioned disc (512-byte units) grow
// over the new session: the last partition becomes one more that holds it.
void patchPartitionMap(Blocks& start, std::uint32_t sessionStart, std::uint32_t sessionBlocks) {
  constexpr std::size_t kEntryBytes = 512, kMapEnd = 18'432;
  be::put32(start, 4, (sessionStart + sessionBlocks) * 4);
  const std::size_t first = kEntryBytes;
  be::put32(start, first + 4, be::get32(start, first + 4) + 1);    // map entries
  be::put32(start, first + 12, be::get32(start, first + 12) + 1);  // partition blocks
  be::put32(start, first + 84, be::get32(start, first + 84) + 1);  // data blocks
  for (std::size_t at = first + kEntryBytes; at + kEntryBytes <= kMapEnd; at += kEntryBytes) {
    if (start[at] == 'P' && start[at + 1] == 'M') {
      be::put32(start, at + 4, be::get32(start, at + 4) + 1);
      continue;
    }
    std::memcpy(start.data() + at, start.data() + at - kEntryBytes, kEntryBytes);
    be::put32(start, at + 8, sessionStart * 4 + 36);
    be::put32(start, at + 12, sessionBlocks * 4 - 36);
    be::put32(start, at + 84, sessionBlocks * 4 - 36);
    break;
  }
}

// The new session's ISO9660 volume descriptors take the place of the old ones.
void replaceDescriptors(Blocks& start, const DPM_Base& producer) {
  const std::uint8_t* descriptors = nullptr;
  if (const auto* hybrid = dynamic_cast<const DPM_FS_Hybrid*>(&producer))
    descriptors = hybrid->GetISO9660AllHeaders();
  else if (const auto* iso = dynamic_cast<const DPM_FS_ISO9660*>(&producer))
    descriptors = iso->HeaderBuffer();
  if (!descriptors) return;
  for (std::uint32_t i = 0; i < kMostDescriptors; ++i) {
    const std::uint8_t* from = descriptors + std::size_t{i} * kBlockBytes;
    if (!isDescriptor(from, "CD001")) break;
    std::memcpy(start.data() + std::size_t{kFirstDescriptor + i} * kBlockBytes, from, kBlockBytes);
    if (from[0] == 0xFF) break;  // the set terminator is the last descriptor
  }
}

// The new session's anchor, recorded where a reader looks for it; false when the producer
// has none.
bool replaceAnchor(Blocks& anchor, const DPM_Base& producer) {
  const auto* udf = dynamic_cast<const DPM_UDF*>(&producer);
  if (!udf || udf->GetAVDP(anchor.data()) != 1) return false;
  le::put32(anchor, 12, kAnchorBlock);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<std::uint8_t>(sum + anchor[i]);
  anchor[4] = sum;
  return true;
}

}  // namespace drive_steps_detail

using namespace drive_steps_detail;

std::uint32_t reservedBlocks(std::uint16_t profile, std::uint32_t blocks) {
  return roundUp(blocks, profile == kDvdPlusRDl ? 32 : 16);
}

bool reservesTracks(std::uint16_t profile, bool closeDisc) {
  switch (profile) {
    case kDvdMinusR:
    case kDvdMinusRDl:
    case kDvdPlusR:
      return true;
    case kSequentialRw:
      return closeDisc;
    default:
      // Restricted overwrite among them: a disc written in place has no track to reserve, and
      // a drive refuses RESERVE TRACK on it.
      return false;
  }
}

bool reservesSessions(std::uint16_t profile, bool closeDisc) {
  switch (profile) {
    case kSequentialRw:
      return true;
    case kDvdMinusR:
    case kDvdMinusRDl:
    case kDvdPlusR:
    case kDvdPlusRDl:
      return closeDisc;
    default:
      return false;
  }
}

bool padsTracks(std::uint16_t profile) {
  return profile == kDvdMinusR || profile == kDvdMinusRDl || profile == kRestrictedOverwrite ||
         profile == kSequentialRw;
}

EngineStatus quickFormatForTrack(std::uint32_t ref, std::uint16_t profile, std::uint32_t blocks,
                                 MMC_SenseData* sense) {
  std::uint8_t type = 0;
  if (profile == kRestrictedOverwrite) type = kGrowFormat;
  if (profile == kSequentialRw) type = kQuickFormat;
  if (type == 0) return kNoErr;
  std::uint32_t capacity[2] = {};
  const EngineStatus offered = MMC_Util_SearchFormatCapacity(ref, type, capacity, false);
  // A drive that does not offer the format has nothing to add (a disc formatted to its end):
  // the writes find out whether the track fits. Asking for it anyway would be refused and
  // fail a burn that can succeed.
  if (offered == kErrUtilNoOutput) return kNoErr;
  if (offered == kNoErr && capacity[0] != 0 && capacity[0] < roundUp(blocks, 16)) return kNoErr;
  // MMC-5 6.5: a list header (FOV off, IMMED) and one descriptor: block count 0, the type in
  // bits 7-2 of byte 8, type parameter 16.
  std::array<std::uint8_t, 12> list{};
  list[1] = 0x80;
  list[3] = 8;
  list[8] = static_cast<std::uint8_t>(type << 2);
  list[11] = 16;
  MMC_SenseData refused{};
  if (const EngineStatus s = MMC_FormatUnit(ref, list.data(), list.size(), &refused); s != kNoErr) {
    if (sense) *sense = refused;
    return s;
  }
  (void)engineClock().sleepFor(15s);
  (void)MMC_Util_WaitDiscInfoReady(ref, kFormatReadySeconds, 1);
  (void)MMC_TestUnitReady(ref, nullptr);
  return kNoErr;
}

EngineStatus growFileSystem(std::uint32_t ref, const DPM_Base& producer, std::uint32_t format,
                            std::uint32_t sessionStart, std::uint32_t sessionBlocks) {
  Blocks start;
  if (const EngineStatus s = readPatchBlocks(ref, 0, start); s != kNoErr) return s;
  const OldVolume old = classify(start);
  if (!old.hfs && !old.iso && !old.udf) return kNoErr;
  if (old.partitionMap) patchPartitionMap(start, sessionStart, sessionBlocks);
  bool startChanged = old.hfs;
  if (old.iso && (format & kIsoFormatBits) != 0) {
    replaceDescriptors(start, producer);
    startChanged = true;
  }
  if (startChanged) {
    if (const EngineStatus s = writePatchBlocks(ref, 0, start); s != kNoErr) return s;
  }
  if (old.udf) {
    // A buffer of its own: the start of the disc may have been patched above.
    Blocks anchor;
    if (const EngineStatus s = readPatchBlocks(ref, kAnchorBlock, anchor); s != kNoErr) return s;
    if (replaceAnchor(anchor, producer)) return writePatchBlocks(ref, kAnchorBlock, anchor);
  }
  return kNoErr;
}

}  // namespace quillion::burn
