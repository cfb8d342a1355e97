// SPDX-License-Identifier: GPL-2.0-or-later
// Cue sheets: any text over a data file of any size. A sheet the parser accepts must lay out
// into tracks that each hold at least one block, lie inside the data file in order, start
// in rising order, and encode into exactly one header and one entry per track.
//
// Input: eight bytes of data file size (little-endian), then the cue text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "image/cue_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillion::fuzz::check;
  namespace cue = quillion::cue;
  quillion::fuzz::Input in(data, size);
  // Up to a little over 1 TiB, so that large cues can still fit their file.
  const std::uint64_t fileBytes = in.u64() & ((std::uint64_t{1} << 40) - 1);
  const auto rest = in.bytes(in.left());
  const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());

  std::uint32_t blocks = 0;
  const int index = cue::stringToLBA(text, &blocks);
  check(index >= -1 && index <= 99, "index number out of range");
  if (index >= 0) check(blocks <= cue::kMaxCueTime, "time beyond 99:59:74");

  cue::CueSheet sheet;
  if (cue::parseCueText(text, sheet) != kNoErr) {
    check(sheet.tracks.empty(), "a refused sheet keeps tracks");
    return 0;
  }
  check(!sheet.tracks.empty() && sheet.tracks.size() <= cue::kMaxTracks, "track count");
  check(!sheet.fileName.empty(), "accepted without a data file name");
  cue::BinQ_Info info;
  if (cue::layoutSession(sheet, fileBytes, info) != kNoErr) {
    check(info.tracks.empty(), "a refused layout keeps tracks");
    return 0;
  }
  check(info.tracks.size() == sheet.tracks.size(), "a track lost in the layout");
  check(std::size_t{info.audioTracks} + info.mode1Tracks + info.mode2Tracks == info.tracks.size(),
        "mode counters");
  std::uint64_t nextStart = 0;
  std::uint64_t fileEnd = 0;
  for (const cue::BinQ_Track& t : info.tracks) {
    check(t.blocks >= 1, "an empty track");
    check(t.sectorBytes == 2352 || t.sectorBytes == 2048, "sector size");
    check(t.start >= nextStart, "tracks overlap in the session");
    check(t.fileOffset >= fileEnd, "tracks overlap in the file");
    fileEnd = t.fileOffset + std::uint64_t{t.blocks} * t.sectorBytes;
    check(fileEnd <= fileBytes, "a track beyond the end of the data file");
    nextStart = std::uint64_t{t.start} + t.blocks;
  }
  check(info.totalBlocks >= nextStart, "total short of the last track");
  check(cue::encodeSession(info).size() ==
            cue::kBinQHeaderBytes + cue::kBinQEntryBytes * info.tracks.size(),
        "session bytes");
  return 0;
}
