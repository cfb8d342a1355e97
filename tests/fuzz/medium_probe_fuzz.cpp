// SPDX-License-Identifier: GPL-2.0-or-later
// The medium probe over a sparse medium: Apple partition maps, HFS and HFS Plus volumes,
// ISO 9660 descriptors and the UDF anchor and descriptor sequence, all from the input. The
// size it answers is never above the medium's, and it reads only inside the medium.
//
// Input: the medium's size in 2048-byte blocks (u32), then pieces of content, each a block
// number (u16), a length (u16) and that many bytes; everything else on the medium is zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "device/medium_probe.h"
#include "fuzz_support.h"

namespace {

using quillion::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint64_t mediumBlocks = in.u32();
  const std::uint64_t mediumBytes = mediumBlocks * 2048;
  std::map<std::uint64_t, std::vector<std::uint8_t>> pieces;
  while (!in.empty()) {
    const std::uint64_t at = std::uint64_t{in.u16()} * 2048;
    const auto bytes = in.bytes(in.u16());
    pieces[at].assign(bytes.begin(), bytes.end());
  }
  const quillion::MediumReader read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
    check(out.size() <= (std::uint64_t{1} << 24), "reads are bounded");
    if (offset > mediumBytes || out.size() > mediumBytes - offset) return false;
    std::memset(out.data(), 0, out.size());
    for (const auto& [at, bytes] : pieces) {
      const std::uint64_t end = at + bytes.size();
      if (bytes.empty() || end <= offset || at >= offset + out.size()) continue;
      const std::uint64_t from = at > offset ? at : offset;
      const std::uint64_t to = end < offset + out.size() ? end : offset + out.size();
      std::memcpy(out.data() + (from - offset), bytes.data() + (from - at), to - from);
    }
    return true;
  };
  const quillion::MediumProbe probe = quillion::probeMedium(read, mediumBlocks);
  check(probe.blocks <= mediumBlocks, "the size is never above the medium's");
  check((probe.found & ~std::uint32_t{0x111}) == 0, "only the known structures are found");
  if (probe.found == 0) check(probe.blocks == 0, "no size without a structure");
  return 0;
}
