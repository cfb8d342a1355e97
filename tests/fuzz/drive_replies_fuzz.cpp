// SPDX-License-Identifier: GPL-2.0-or-later
// Drive replies: disc and track information, the TOC in both forms, media events, capacity,
// sense data in both formats, CD-Text packs and mode pages. The first byte picks the reply;
// the rest is the reply, in a buffer of exactly its size so any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/cd_text.h"
#include "device/disc_replies.h"
#include "device/mode_page.h"
#include "device/sense.h"
#include "fuzz_support.h"
#include "quillion/GDT.h"

namespace {

using quillion::fuzz::check;

void toc(const std::optional<quillion::Toc>& t) {
  if (!t) return;
  for (const quillion::TocTrack& track : t->tracks) {
    check(track.start <= track.end, "a track ends after it starts");
    bool inSession = false;
    for (const quillion::TocSession& s : t->sessions) inSession |= s.number == track.session;
    check(inSession || t->sessions.empty(), "a track belongs to a session of the TOC");
  }
}

void cdText(std::span<const std::uint8_t> reply, std::uint32_t entries) {
  const auto table = quillion::cdTextTable(reply, entries);
  if (!table) return;
  check(table->size() == std::size_t{entries} * kGDT_CDTextEntryBytes, "one entry per track");
  for (std::size_t slot = 0; slot < table->size(); slot += kGDT_CDTextStringBytes)
    check(std::memchr(table->data() + slot, '\0', kGDT_CDTextStringBytes) != nullptr,
          "every string ends inside its slot");
}

void modePage(quillion::fuzz::Input& in) {
  const std::uint8_t code = in.u8() & 0x3F;
  const std::size_t minimum = in.u8();
  const auto rest = in.rest();
  quillion::ModePage page;
  const EngineStatus status =
      page.adopt(std::vector<std::uint8_t>(rest.begin(), rest.end()), code, minimum);
  if (status != kNoErr) {
    check(status == kErrBadArgument, "a reply without the page is a bad argument");
    check(page.get(0) == 0, "a refused page reads as zeros");
    return;
  }
  check((page.get(0) & 0x3F) == code, "the page found is the page asked for");
  // Every accessor stays inside the page, however far it reaches.
  for (std::size_t at :
       {std::size_t{0}, std::size_t{1}, minimum, std::size_t{255}, std::size_t{4096}}) {
    page.set16(at, 0xA55A);
    page.set32(at + 1, 0x01020304);
    page.setBits(at, 0x40, true);
    (void)page.get16(at);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint8_t which = in.u8();
  if (which % 10 == 8) {
    const std::uint32_t entries = in.u8() % 100 + 1;
    const auto rest = in.rest();
    const std::vector<std::uint8_t> reply(rest.begin(), rest.end());
    cdText(reply, entries);
    return 0;
  }
  if (which % 10 == 9) {
    modePage(in);
    return 0;
  }
  const auto rest = in.rest();
  const std::vector<std::uint8_t> reply(rest.begin(), rest.end());
  switch (which % 10) {
    case 0:
      if (const auto d = quillion::parseDiscInformation(reply))
        check(d->discStatus <= 3 && d->lastSessionState <= 3, "two-bit states");
      break;
    case 1:
      if (const auto t = quillion::parseTrackInformation(reply))
        check(t->dataMode <= 15, "a four-bit data mode");
      break;
    case 2:
      toc(quillion::parseFullToc(reply));
      break;
    case 3:
      toc(quillion::parseTrackToc(reply));
      break;
    case 4:
      if (const auto m = quillion::parseMediaEvent(reply))
        check(m->event <= 15, "a four-bit event");
      break;
    case 5:
      (void)quillion::parseCapacity(reply);
      break;
    default:
      if (const auto s = quillion::parseSense(reply))
        check(s->data.key <= 15, "a four-bit sense key");
      break;
  }
  return 0;
}
