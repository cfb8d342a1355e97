// SPDX-License-Identifier: GPL-2.0-or-later
// The readers of a DVD information file over arbitrary bytes: the kind its head names, the
// sector of its parental table, and the level words read from the bytes taken as that
// table's sector, for a manager and for every title-set number the first byte chooses. A
// reader must stay inside the bytes it is given and change the words only when it answers
// that it read them.
//
// Input: title-set byte, then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "ifo_find.h"

using quillion::fuzz::check;
using namespace quillion::brindle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint32_t titleSet = data[0];
  // An exact-size copy, so a read past the end is caught.
  const std::vector<std::uint8_t> bytes(data + 1, data + size);
  const std::uint8_t* b = bytes.empty() ? nullptr : bytes.data();
  const std::uint32_t kind = ifo_kind_of(b, bytes.size(), (titleSet & 1u) != 0);
  check(kind <= kIfoRecordingManager, "kind in range");
  const std::uint32_t sector = ifo_level_sector(b, bytes.size());
  check(bytes.size() >= 208 || sector == 0, "no sector from a short head");
  for (std::uint32_t k : {std::uint32_t{kIfoVideoManager}, std::uint32_t{kIfoTitleSet}}) {
    std::uint16_t words[8];
    std::memset(words, 0xA5, sizeof words);
    const bool read = ifo_level_words(b, bytes.size(), k, titleSet, words);
    if (!read) {
      for (std::uint16_t w : words) check(w == 0xA5A5, "words untouched when not read");
    }
  }
  return 0;
}
