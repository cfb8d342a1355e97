// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_dir_queue.h"

#include <limits>
#include <map>
#include <span>

#include "DPMs/base/dpm_filesystem_base.h"
#include "DPMs/hfs/catalog_keys.h"
#include "common/byte_order.h"
#include "tree/char_compare.h"
#include "tree/fs_node.h"
#include "tree/name_units.h"

namespace quillion::iso {
namespace {

// Joliet names are kept in the order of the HFS Plus comparison, which folds case and
// skips ignorable units; a name is unique only when no sibling's name compares equal
// under it, so no two records can stand for one key.
struct UnicodeLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return hfs::FastUnicodeCompare(a, b) < 0;
  }
};

std::string bigEndianBytes(const std::u16string& units) {
  std::string bytes(units.size() * 2, '\0');
  const std::span<std::uint8_t> out(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  for (std::size_t i = 0; i < units.size(); ++i) be::put16(out, 2 * i, units[i]);
  return bytes;
}

// What a naming knows of one child: a stem from which its candidate names are made, or a
// title that cannot be converted at all.
template <typename Stem>
struct StemResult {
  bool convertible = true;
  Stem stem;
};

// Gives every child the first candidate name no sibling holds yet. Candidates that were
// found taken stay taken, so each stem remembers the number after the last one it used and
// the next child of that stem starts there: a folder of thousands of look-alike names costs
// little more than a pass over it. `makeName` answers false when a stem has no name with
// that number.
template <typename Key, typename Less, typename Stem, typename StemOf, typename MakeName,
          typename ToIdentifier>
EngineStatus nameAll(const FS_Node& dir, StemOf stemOf, MakeName makeName,
                     ToIdentifier toIdentifier, std::vector<IsoChild>& out, std::string& problem) {
  std::map<Key, FS_Node*, Less> names;
  std::map<Stem, std::uint32_t> nextNumber;
  for (const auto& [title, child] : dir.Children()) {
    const StemResult<Stem> stem = stemOf(*child);
    if (!stem.convertible) {
      problem = "The name of \"" + layoutPath(*child) + "\" cannot be converted for the disc";
      return kErrProducerName;
    }
    std::uint32_t& number = nextNumber[stem.stem];
    bool named = false;
    while (!named) {
      Key candidate;
      if (!makeName(stem.stem, number, candidate)) {
        problem = "No unique name could be made for \"" + layoutPath(*child) + "\"";
        return kErrProducerName;
      }
      named = !candidate.empty() && names.emplace(std::move(candidate), child.get()).second;
      if (number == std::numeric_limits<std::uint32_t>::max() && !named) {
        problem = "No unique name could be made for \"" + layoutPath(*child) + "\"";
        return kErrProducerName;
      }
      ++number;
    }
  }
  out.clear();
  out.reserve(names.size());
  for (const auto& [key, node] : names) out.push_back({node, toIdentifier(key)});
  return kNoErr;
}

}  // namespace

void IsoDirQueue::clear() {
  dirs.clear();
  position.clear();
}

const isoDirData* IsoDirQueue::find(const FS_Node* node) const {
  const auto it = position.find(node);
  return it == position.end() ? nullptr : &dirs[it->second];
}

EngineStatus nameChildren(const FS_Node& dir, const IsoNaming& naming, std::vector<IsoChild>& out,
                          std::string& problem, std::vector<IsoNameNote>* notes) {
  if (naming.joliet) {
    // A title that is not valid UTF-8 (names on Linux are bytes) is read as Latin-1.
    const auto stemOf = [notes](FS_Node& child) {
      StemResult<std::string> result;
      const std::string& title = child.Title();
      if (isValidUtf8(title)) {
        result.stem = title;
        return result;
      }
      result.stem = utf8FromLatin1(title);
      if (notes != nullptr) notes->push_back({&child, result.stem});
      return result;
    };
    const auto make = [&naming](const std::string& stem, std::uint32_t number,
                                std::u16string& name) {
      if (number >= kJolietNumbers) return false;
      CS_UniStr units;
      if (CS_UC_To_JolietStr(naming.converter, stem.c_str(), &units, number, false) != kNoErr)
        return false;
      name.assign(units.unicode, units.length);
      return true;
    };
    return nameAll<std::u16string, UnicodeLess, std::string>(dir, stemOf, make, bigEndianBytes, out,
                                                             problem);
  }
  const auto stemOf = [](FS_Node& child) {
    StemResult<Iso83Stem> result;
    result.convertible = !child.Title().empty();
    if (result.convertible) result.stem = iso83Stem(child.Title(), child.IsFolder());
    return result;
  };
  const auto make = [&naming](const Iso83Stem& stem, std::uint32_t number, std::string& name) {
    name = number < kDecimalNames
               ? iso83Name(stem, number == 0 ? std::string() : std::to_string(number))
               : iso83SerialName(stem, number - kDecimalNames);
    if (naming.versionSuffix && stem.kind != Iso83Stem::Kind::folder) name += ";1";
    return true;
  };
  const auto same = [](const std::string& name) { return name; };
  return nameAll<std::string, CharCompareLess, Iso83Stem>(dir, stemOf, make, same, out, problem);
}

EngineStatus BuildDirQueue(FS_Node* root, const IsoNaming& naming, std::uint32_t maxDirectories,
                           IsoDirQueue& queue, std::string& problem,
                           std::vector<IsoNameNote>* notes) {
  queue.clear();
  queue.dirs.push_back(isoDirData{1, 0, 0, root, std::string(), {}});
  queue.position[root] = 0;
  for (std::size_t i = 0; i < queue.dirs.size(); ++i) {
    isoDirData& dir = queue.dirs[i];
    if (const EngineStatus s = nameChildren(*dir.node, naming, dir.children, problem, notes);
        s != kNoErr)
      return s;
    for (const IsoChild& child : dir.children) {
      if (!child.node->IsFolder()) continue;
      if (queue.dirs.size() >= maxDirectories) {
        problem = "The layout has more than " + std::to_string(maxDirectories) +
                  " folders, more than an ISO9660 path table can number";
        return kErrProducerTooManyFiles;
      }
      queue.position[child.node] = static_cast<std::uint32_t>(queue.dirs.size());
      queue.dirs.push_back(
          isoDirData{static_cast<std::uint32_t>(i + 1), 0, 0, child.node, child.identifier, {}});
    }
  }
  return kNoErr;
}

}  // namespace quillion::iso
