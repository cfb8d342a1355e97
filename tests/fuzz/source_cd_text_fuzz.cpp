// SPDX-License-Identifier: GPL-2.0-or-later
// A source drive's READ TOC format 5 reply, as received: any bytes, with a data length that
// may claim more than came. The raw block made from it holds whole packs only, never more than
// the reply carried, each with a CRC that matches its bytes.
//
// Input: the reply bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "burn/cue/cd_text_block.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillion::fuzz::check;
  namespace burn = quillion::burn;
  const std::vector<std::uint8_t> raw = burn::rawCDTextFromTocReply(std::span(data, size));
  check(raw.size() % burn::kCDTextRawPackBytes == 0, "a partial raw pack");
  const std::size_t packs = raw.size() / burn::kCDTextRawPackBytes;
  check(size >= 4 || packs == 0, "packs from a reply without its header");
  if (size >= 4) check(packs * burn::kCDTextPackBytes <= size - 4, "more packs than received");
  std::vector<std::uint8_t> back;
  for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) {
    for (std::size_t k = 0; k < 4; ++k) check(raw[i + k] < 0x40, "a raw byte above 6 bits");
    back.push_back(static_cast<std::uint8_t>(raw[i] << 2 | raw[i + 1] >> 4));
    back.push_back(static_cast<std::uint8_t>((raw[i + 1] & 0x0F) << 4 | raw[i + 2] >> 2));
    back.push_back(static_cast<std::uint8_t>((raw[i + 2] & 0x03) << 6 | raw[i + 3]));
  }
  std::vector<std::uint8_t> recomputed = back;
  burn::setCDTextCrcs(recomputed);
  check(recomputed == back, "a pack whose CRC does not match");
  for (std::size_t i = 0; i < back.size(); ++i) {
    if (i % burn::kCDTextPackBytes < 16) check(back[i] == data[4 + i], "pack bytes changed");
  }
  return 0;
}
