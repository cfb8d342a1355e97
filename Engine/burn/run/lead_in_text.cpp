// SPDX-License-Identifier: GPL-2.0-or-later
// The lead-in CD-Text track: its length from the disc, and its blocks to the writer.
#include "burn/run/lead_in_text.h"

#include <array>
#include <vector>

#include "quillion/MMC.h"

namespace quillion::burn {
namespace {

// MSF 100:00:00, where the lead-in's addresses wrap to the program area's 00:00:00.
constexpr std::int32_t kLeadInWrapFrames = 450'000;
constexpr std::size_t kLeadInChunkBytes = 64 * 1024;

}  // namespace

std::unique_ptr<DPM_CDText> makeLeadInTextTrack(std::uint32_t ref,
                                                std::span<const std::uint8_t> rawPacks) {
  if (rawPacks.empty()) return nullptr;
  std::array<std::uint8_t, 34> info{};
  if (MMC_GetDiscInfo(ref, info.data(), info.size(), nullptr) != kNoErr) return nullptr;
  if ((info[2] & 0x03) != 0) return nullptr;  // only an empty disc has its lead-in to write
  // MMC-5 6.22.3.1: bytes 17-19 give the start of the last session's lead-in as M:S:F.
  const std::int32_t start = (info[17] * 60 + info[18]) * 75 + info[19];
  const std::int32_t blocks = kLeadInWrapFrames - start;
  if (blocks <= 0) return nullptr;
  auto track = std::make_unique<DPM_CDText>(static_cast<std::uint32_t>(blocks), rawPacks.data(),
                                            static_cast<std::uint32_t>(rawPacks.size()));
  std::uint16_t size = 0;
  if (track->PrepareAll(&size, nullptr, nullptr) == 0) return nullptr;
  return track;
}

EngineStatus writeLeadInText(myBurnEng_Pack* context, DPM_CDText& track,
                             const std::atomic<bool>& stop) {
  std::vector<std::uint8_t> buffer(kLeadInChunkBytes);
  const std::uint32_t perChunk = kLeadInChunkBytes / DPM_CDText::kBlockBytes;
  std::uint32_t remaining = track.TotalBlocks();
  while (remaining > 0 && !stop) {
    std::uint32_t got = 0;
    const EngineStatus read =
        track.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                         std::min(perChunk, remaining), &got);
    if (read != kNoErr) return read;
    if (got == 0) return kErrSourceRead;
    const EngineStatus written =
        CDWriterEx_WriteCD(context, buffer.data(), static_cast<std::uint16_t>(got),
                           static_cast<std::uint16_t>(DPM_CDText::kBlockBytes), &stop);
    if (written != kNoErr) return written;
    remaining -= got;
  }
  return kNoErr;
}

}  // namespace quillion::burn
