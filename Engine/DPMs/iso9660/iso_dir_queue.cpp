// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/iso_dir_queue.h"

#include <map>
#include <span>

#include "DPMs/base/dpm_filesystem_base.h"
#include "DPMs/hfs/catalog_keys.h"
#include "common/byte_order.h"
#include "tree/char_compare.h"
#include "tree/fs_node.h"

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

template <typename Key, typename Less, typename MakeName, typename ToIdentifier>
EngineStatus nameAll(const FS_Node& dir, MakeName makeName, ToIdentifier toIdentifier,
                     std::vector<IsoChild>& out, std::string& problem) {
  std::map<Key, FS_Node*, Less> names;
  for (const auto& [title, child] : dir.Children()) {
    bool named = false;
    for (std::uint32_t attempt = 0; attempt < kNameAttempts && !named; ++attempt) {
      Key candidate;
      if (!makeName(*child, attempt, candidate)) {
        problem = "The name of \"" + layoutPath(*child) +
                  "\" cannot be converted for the disc (it is not valid UTF-8)";
        return kErrProducerName;
      }
      if (!candidate.empty()) named = names.emplace(std::move(candidate), child.get()).second;
    }
    if (!named) {
      problem = "No unique name could be made for \"" + layoutPath(*child) + "\" in " +
                std::to_string(kNameAttempts) + " attempts";
      return kErrProducerName;
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
                          std::string& problem) {
  if (naming.joliet) {
    const auto make = [&naming](const FS_Node& child, std::uint32_t attempt, std::u16string& name) {
      CS_UniStr units;
      if (CS_UC_To_JolietStr(naming.converter, child.Title().c_str(), &units, attempt, false) !=
          kNoErr)
        return false;
      name.assign(units.unicode, units.length);
      return true;
    };
    return nameAll<std::u16string, UnicodeLess>(dir, make, bigEndianBytes, out, problem);
  }
  const auto make = [&naming](const FS_Node& child, std::uint32_t attempt, std::string& name) {
    char buffer[kCS_ISO83NameBytes];
    const std::uint16_t n = CS_To_ISO_8_3_Name(child.Title().c_str(), buffer, attempt,
                                               child.IsFolder(), naming.versionSuffix);
    name.assign(buffer, n);
    return true;
  };
  const auto same = [](const std::string& name) { return name; };
  return nameAll<std::string, CharCompareLess>(dir, make, same, out, problem);
}

EngineStatus BuildDirQueue(FS_Node* root, const IsoNaming& naming, std::uint32_t maxDirectories,
                           IsoDirQueue& queue, std::string& problem) {
  queue.clear();
  queue.dirs.push_back(isoDirData{1, 0, 0, root, std::string(), {}});
  queue.position[root] = 0;
  for (std::size_t i = 0; i < queue.dirs.size(); ++i) {
    isoDirData& dir = queue.dirs[i];
    if (const EngineStatus s = nameChildren(*dir.node, naming, dir.children, problem); s != kNoErr)
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
