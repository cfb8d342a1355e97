// SPDX-License-Identifier: GPL-2.0-or-later
// DVD-Video navigation files patched in memory: any bytes, as a title set IFO or as the
// video manager's IFO with any number of title sets. A patch never changes the file's
// size, never touches a byte outside the fields it may set, and a refused file is left
// exactly as it was.
//
// Input: a byte choosing the manager (odd) or a title set; a flag byte and a 32-bit menu
// start; a flag byte and a 32-bit title start; a title set count byte and that many 32-bit
// starts; the file. The seeds are a title set IFO, a manager IFO with one good title, one
// naming a missing set, one cut inside its title table, and bytes that are no IFO at all.
#include <cstdint>
#include <vector>

#include "DPMs/udf/dvd_video_order.h"
#include "fuzz_support.h"

using quillion::fuzz::check;
using namespace quillion::udf;

namespace {

std::optional<std::uint32_t> maybe(quillion::fuzz::Input& in) {
  if (!in.flag()) return std::nullopt;
  return in.u32();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const bool manager = in.flag();
  const auto menu = maybe(in);
  const auto title = maybe(in);
  std::vector<std::uint32_t> sets(in.u8() % 101);
  for (std::uint32_t& s : sets) s = in.u32();
  const auto body = in.rest();
  std::vector<std::uint8_t> ifo(body.begin(), body.end());
  // Give the identifier a chance: most inputs then reach the field checks.
  if (ifo.size() >= 12 && (ifo[0] & 1)) {
    const char* id = manager ? "DVDVIDEO-VMG" : "DVDVIDEO-VTS";
    std::copy(id, id + 12, ifo.begin());
  }
  const std::vector<std::uint8_t> before = ifo;
  const NavigationResult r =
      manager ? patchVideoManagerIfo(ifo, menu, sets) : patchTitleSetIfo(ifo, menu, title);
  check(ifo.size() == before.size(), "the size stays");
  check(r.status == kNoErr || r.status == kErrProducerFormat, "a known status");
  check(r.status == kNoErr || !r.problem.empty(), "a refusal says why");
  check(r.status == kNoErr || ifo == before, "a refused file stays as it was");
  check(r.changed == (ifo != before), "changed means changed");
  // Only the two object fields and title entries' start fields may change.
  for (std::size_t i = 0; i < ifo.size(); ++i) {
    if (ifo[i] == before[i]) continue;
    const bool objectField = i >= 0xC0 && i < 0xC8;
    check(objectField || manager, "a title set changes only its object fields");
    check(!manager || objectField || i >= 0x800, "the manager's title table lies past its header");
  }
  return 0;
}
