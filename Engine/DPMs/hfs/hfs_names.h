// SPDX-License-Identifier: GPL-2.0-or-later
// Catalog names of the two Macintosh file systems. HFS keeps at most 31 Mac Roman bytes
// and compares them in the Macintosh order (case-insensitive, diacritical-sensitive); HFS Plus
// keeps at most 255 UTF-16 units, decomposed, and compares them through its case-folding table.
// Titles become names in their target form first, and only then are they cut and made unique among
// their siblings, so two children never end up with keys a reader takes as equal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_encoding.h"
#include "quillion/status.h"

namespace quillion::hfs {

// How many numbered candidates a clashing name gets before the layout is refused.
inline constexpr std::uint32_t kMaxNameCandidates = 1000;

// `name` with "~number" put before its extension (a '.' among its last five characters,
// never the first) and its head shortened so that the whole holds at most `maxUnits`
// units; number 0 only cuts. Works on bytes and on UTF-16 alike; a UTF-16 cut never
// splits a surrogate pair.
std::string numberedName(std::string_view name, std::uint32_t number, std::size_t maxUnits);
std::u16string numberedName(std::u16string_view name, std::uint32_t number, std::size_t maxUnits);

// A title as HFS stores it: composed, then Mac Roman (a character it lacks becomes '?').
// A title that is not UTF-8 is read as Latin-1; `readAsLatin1` tells.
class HFSNameConverter {
 public:
  [[nodiscard]] EngineStatus init();
  [[nodiscard]] EngineStatus toMacRoman(std::string_view title, std::string& out,
                                        bool* readAsLatin1 = nullptr);

 private:
  std::unique_ptr<TextConverter> toMac_;
};

// A title as HFS Plus stores it: UTF-16 decomposed as the format asks (characters in
// U+2000-U+2FFF and U+F900-U+FAFF stay as they are), at most 255 units.
[[nodiscard]] EngineStatus hfsPlusName(std::string_view title, std::u16string& out,
                                       bool* readAsLatin1 = nullptr);

// Unique names for the children of one folder, in the given order. Names that are short
// enough and clash with no earlier one are kept; every other one gets the first numbered
// candidate free under the format's equality. False when a name found no free candidate
// in kMaxNameCandidates tries; `failed` is then its position.
bool uniqueHFSNames(std::vector<std::string>& names, std::size_t* failed);
bool uniqueHFSPlusNames(std::vector<std::u16string>& names, std::size_t* failed);

}  // namespace quillion::hfs
