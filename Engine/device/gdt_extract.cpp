// SPDX-License-Identifier: GPL-2.0-or-later
// Track extraction handles: a track producer over one track of the disc in a drive (READ CD
// through the command path), or over the device node of a pure reader, handed out blocks at a
// time to the interface's extraction worker.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "DPMs/tracks/dpm_device_file_track.h"
#include "DPMs/tracks/dpm_device_track.h"
#include "device/gdt_support.h"
#include "device/medium_profile.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"

struct GDT_TrackExtraction {
  std::uint32_t ref = 0;
  bool pureReader = false;
  std::unique_ptr<DPM_Base> producer;
};

namespace {

constexpr std::uint16_t kDvdRam = 0x12;
constexpr std::uint32_t kDevicePathBytes = 256;

struct DiscInfoFree {
  void operator()(GDT_DiscInfo* p) const { std::free(p); }
};
using DiscInfoPtr = std::unique_ptr<GDT_DiscInfo, DiscInfoFree>;

DiscInfoPtr describeDisc(std::uint32_t ref) {
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  if (GDT_GetDiscInfo(ref, &info, &sense) != kNoErr) return nullptr;
  return DiscInfoPtr(info);
}

// A pure reader's track is read from its device node: data tracks as cooked 2048-byte blocks,
// the only kind a device node gives.
std::unique_ptr<DPM_Base> extractionReaderTrack(std::uint32_t ref, std::uint16_t track) {
  const DiscInfoPtr info = describeDisc(ref);
  if (!info) return nullptr;
  const GDT_OneTrack* found = nullptr;
  for (std::uint16_t i = 0; i < info->trackCount; ++i)
    if (GDT_Tracks(info.get())[i].track == track) found = &GDT_Tracks(info.get())[i];
  if (!found) return nullptr;
  char path[kDevicePathBytes] = {};
  if (GDT_GetBSDPath(ref, path, sizeof path, true) != kNoErr || !*path) return nullptr;
  return std::make_unique<DPM_DeviceFileTrack>(path, found->start, found->length,
                                               found->mode != kGDT_ModeAudio);
}

// A drive's track; on DVD-RAM, only as far as the file systems on it reach.
std::unique_ptr<DPM_Base> extractionDriveTrack(std::uint32_t ref, std::uint16_t track) {
  std::uint32_t blocks = DPM_DeviceTrack::kWholeTrack;
  if (quillion::currentProfile(ref) == kDvdRam) {
    if (const DiscInfoPtr info = describeDisc(ref)) blocks = info->usedBlocks;
  }
  return std::make_unique<DPM_DeviceTrack>(ref, track, blocks);
}

}  // namespace

GDT_TrackExtraction* GDT_ExtractTrack_Start(std::uint32_t ref, std::uint16_t track,
                                            std::uint32_t* blockSize, std::uint32_t* blockCount) {
  if (ref == 0 || track == 0 || !blockSize || !blockCount) return nullptr;
  try {
    auto handle = std::make_unique<GDT_TrackExtraction>();
    handle->ref = ref;
    handle->pureReader = DC_MacX_IsPureReader(ref);
    handle->producer =
        handle->pureReader ? extractionReaderTrack(ref, track) : extractionDriveTrack(ref, track);
    if (!handle->producer || handle->producer->Init() != kNoErr) return nullptr;
    std::uint16_t size = 0;
    const std::uint32_t count = handle->producer->PrepareAll(&size, nullptr, nullptr);
    if (size == 0 || count == 0) return nullptr;
    // The drive stays with the extraction until it ends.
    if (!handle->pureReader && GDT_ReserveDrive(ref, true) != kNoErr) return nullptr;
    *blockSize = size;
    *blockCount = count;
    return handle.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

EngineStatus GDT_ExtractTrack_Continue(GDT_TrackExtraction* handle, void* buffer,
                                       std::uint32_t blocks, std::uint32_t length,
                                       std::uint32_t* got) {
  if (got) *got = 0;
  if (!handle || !buffer || blocks == 0 || !got) return kErrBadArgument;
  return handle->producer->NextBlocks(buffer, length, blocks, got);
}

EngineStatus GDT_ExtractTrack_End(GDT_TrackExtraction* handle, bool release) {
  if (!handle) return kNoErr;
  const std::unique_ptr<GDT_TrackExtraction> owned(handle);
  owned->producer.reset();
  if (release && !owned->pureReader) (void)GDT_ReserveDrive(owned->ref, false);
  return kNoErr;
}
