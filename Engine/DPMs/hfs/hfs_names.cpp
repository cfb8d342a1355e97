// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/hfs_names.h"

#include <algorithm>
#include <set>

#include "DPMs/hfs/catalog_keys.h"
#include "DPMs/hfs/hfs_structures.h"
#include "platform/text/normalization.h"
#include "tree/name_units.h"

namespace quillion::hfs {
namespace {

template <typename Char>
std::basic_string<Char> numbered(std::basic_string_view<Char> name, std::uint32_t number,
                                 std::size_t maxUnits) {
  std::basic_string<Char> suffix;
  if (number != 0) {
    const std::string digits = '~' + std::to_string(number);
    suffix.assign(digits.begin(), digits.end());
  }
  std::size_t extension = 0;
  for (std::size_t k = 1; k <= 5 && k < name.size(); ++k) {
    if (name[name.size() - k] == Char('.')) {
      extension = k;
      break;
    }
  }
  if (extension + suffix.size() > maxUnits) extension = 0;
  if (suffix.size() > maxUnits) return {};
  std::basic_string<Char> head(name.substr(0, name.size() - extension));
  const std::size_t room = maxUnits - extension - suffix.size();
  if (head.size() > room) {
    if constexpr (sizeof(Char) == 2) {
      std::u16string units(head);
      cutUnits(units, room);
      head = units;
    } else {
      head.resize(room);
    }
  }
  return head + suffix + std::basic_string<Char>(name.substr(name.size() - extension));
}

// Folded forms for the uniqueness test: equal exactly when the format's comparison says so.
std::string hfsFolded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(hfsNameRank(static_cast<std::uint8_t>(c)));
  return folded;
}

struct PlusLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return FastUnicodeCompare(a, b) < 0;
  }
};

template <typename Str, typename Key, typename Set>
bool makeUnique(std::vector<Str>& names, std::size_t maxUnits, Key key, Set used,
                std::size_t* failed) {
  std::vector<bool> settled(names.size(), false);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].size() > maxUnits || names[i].empty()) continue;
    settled[i] = used.insert(key(names[i])).second;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (settled[i]) continue;
    bool found = false;
    for (std::uint32_t n = names[i].size() > maxUnits ? 0 : 1; n < kMaxNameCandidates; ++n) {
      Str candidate = numberedName(names[i], n, maxUnits);
      if (candidate.empty() || !used.insert(key(candidate)).second) continue;
      names[i] = std::move(candidate);
      found = true;
      break;
    }
    if (!found) {
      if (failed != nullptr) *failed = i;
      return false;
    }
  }
  return true;
}

bool excludedFromDecomposition(char32_t c) {
  return (c >= 0x2000 && c <= 0x2FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0x2F800 && c <= 0x2FAFF);
}

// Decomposes the runs of `units` outside the excluded ranges; excluded characters pass.
EngineStatus decomposeForHFSPlus(const std::u16string& units, std::u16string& out) {
  out.clear();
  std::u16string run, normal;
  const auto flush = [&]() -> EngineStatus {
    if (run.empty()) return kNoErr;
    if (const EngineStatus s = normalizeUtf16(run, NormalForm::decomposed, normal); s != kNoErr)
      return s;
    out += normal;
    run.clear();
    return kNoErr;
  };
  for (std::size_t i = 0; i < units.size();) {
    char32_t c = units[i];
    std::size_t width = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00), width = 2;
    if (excludedFromDecomposition(c)) {
      if (const EngineStatus s = flush(); s != kNoErr) return s;
      out.append(units, i, width);
    } else {
      run.append(units, i, width);
    }
    i += width;
  }
  return flush();
}

}  // namespace

std::string numberedName(std::string_view name, std::uint32_t number, std::size_t maxUnits) {
  return numbered<char>(name, number, maxUnits);
}

std::u16string numberedName(std::u16string_view name, std::uint32_t number, std::size_t maxUnits) {
  return numbered<char16_t>(name, number, maxUnits);
}

EngineStatus HFSNameConverter::init() {
  return TextConverter::create(TextEncoding::utf8, TextEncoding::macRoman, toMac_);
}

EngineStatus HFSNameConverter::toMacRoman(std::string_view title, std::string& out,
                                          bool* readAsLatin1) {
  if (readAsLatin1 != nullptr) *readAsLatin1 = false;
  std::string text(title);
  if (!isValidUtf8(text)) {
    text = utf8FromLatin1(title);
    if (readAsLatin1 != nullptr) *readAsLatin1 = true;
  }
  std::u16string units, composed;
  std::string utf8;
  if (utf8ToUtf16(text, units) == kNoErr &&
      normalizeUtf16(units, NormalForm::composed, composed) == kNoErr &&
      utf16ToUtf8(composed, utf8) == kNoErr)
    text = std::move(utf8);
  if (!toMac_) return kErrOutOfMemory;
  return toMac_->convert(text, out);
}

EngineStatus hfsPlusName(std::string_view title, std::u16string& out, bool* readAsLatin1) {
  if (readAsLatin1 != nullptr) *readAsLatin1 = false;
  std::string text(title);
  if (!isValidUtf8(text)) {
    text = utf8FromLatin1(title);
    if (readAsLatin1 != nullptr) *readAsLatin1 = true;
  }
  std::u16string units;
  if (const EngineStatus s = utf8ToUtf16(text, units); s != kNoErr) return s;
  return decomposeForHFSPlus(units, out);
}

bool uniqueHFSNames(std::vector<std::string>& names, std::size_t* failed) {
  return makeUnique(names, kHFSMaxNameBytes, hfsFolded, std::set<std::string>{}, failed);
}

bool uniqueHFSPlusNames(std::vector<std::u16string>& names, std::size_t* failed) {
  return makeUnique(
      names, kHFSPlusMaxNameUnits, [](const std::u16string& s) { return s; },
      std::set<std::u16string, PlusLess>{}, failed);
}

}  // namespace quillion::hfs
