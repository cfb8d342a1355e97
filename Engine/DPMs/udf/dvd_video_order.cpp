// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/udf/dvd_video_order.h"

#include <cstring>
#include <string_view>

#include "common/byte_order.h"
#include "tree/fs_node.h"

namespace quillion::udf {
namespace {

constexpr std::uint32_t kIfoSectorBytes = 2048;
constexpr std::string_view kVideoManagerId = "DVDVIDEO-VMG";
constexpr std::string_view kTitleSetId = "DVDVIDEO-VTS";

bool endsWith(std::string_view name, std::string_view tail) {
  return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
}

std::string_view nameOf(const FS_FileLoc& entry) {
  return entry.node != nullptr ? std::string_view(entry.node->Title()) : std::string_view();
}

bool hasId(std::span<const std::uint8_t> ifo, std::string_view id) {
  return ifo.size() >= kTitleSearchField + 4 && std::memcmp(ifo.data(), id.data(), id.size()) == 0;
}

void setField(std::span<std::uint8_t> ifo, std::size_t at, std::uint32_t value, bool& changed) {
  if (be::get32(ifo, at) == value) return;
  be::put32(ifo, at, value);
  changed = true;
}

NavigationResult refused(std::string why) {
  return NavigationResult{kErrProducerFormat, std::move(why), false};
}

}  // namespace

std::optional<std::vector<std::uint32_t>> dvdVideoOrder(const FS_FileLocTable& table) {
  constexpr std::uint32_t kNone = ~std::uint32_t{0};
  std::vector<std::uint32_t> order;
  std::uint32_t held = kNone;
  for (std::uint32_t i = 0; i < table.entries.size(); ++i) {
    const std::string_view name = nameOf(table.entries[i]);
    if (endsWith(name, ".BUP")) {
      if (held != kNone) order.push_back(held);
      held = i;
    } else if (endsWith(name, ".IFO") || endsWith(name, ".VOB")) {
      if (held == kNone) return std::nullopt;
      order.push_back(i);
    } else {
      if (held != kNone) order.push_back(held);
      held = kNone;
      order.push_back(i);
    }
  }
  if (held != kNone) order.push_back(held);
  return order;
}

void applyOrder(FS_FileLocTable& table, const std::vector<std::uint32_t>& order) {
  std::deque<FS_FileLoc> entries;
  std::uint32_t next = 0;
  for (const std::uint32_t i : order) {
    FS_FileLoc entry = table.entries[i];
    entry.dataStart = next;
    next += entry.dataBlocks;
    entries.push_back(entry);
  }
  table.entries = std::move(entries);
  table.index.clear();
  for (std::uint32_t i = 0; i < table.entries.size(); ++i) table.index[table.entries[i].node] = i;
}

NavigationResult patchTitleSetIfo(std::span<std::uint8_t> ifo, std::optional<std::uint32_t> menu,
                                  std::optional<std::uint32_t> title) {
  if (!hasId(ifo, kTitleSetId)) return refused("not a DVD-Video title set navigation file");
  NavigationResult r;
  if (menu) setField(ifo, kMenuObjectsField, *menu, r.changed);
  if (title) setField(ifo, kTitleObjectsField, *title, r.changed);
  return r;
}

NavigationResult patchVideoManagerIfo(std::span<std::uint8_t> ifo,
                                      std::optional<std::uint32_t> menu,
                                      std::span<const std::uint32_t> titleSets) {
  if (!hasId(ifo, kVideoManagerId)) return refused("not a DVD-Video manager navigation file");
  // The title search table: a title count, then 12-byte entries from its byte 8, each
  // naming its title set in byte 6 and that set's start in bytes 8-11. All of it is
  // checked before anything is set, so a refused file stays as it was.
  const std::uint64_t table = std::uint64_t{be::get32(ifo, kTitleSearchField)} * kIfoSectorBytes;
  std::uint32_t titles = 0;
  if (table != 0) {
    if (table + 8 > ifo.size()) return refused("its title search table lies outside the file");
    titles = be::get16(ifo, table);
    if (table + 8 + std::uint64_t{titles} * 12 > ifo.size())
      return refused("its title search table runs past the end of the file");
    for (std::uint32_t t = 0; t < titles; ++t) {
      const std::uint32_t set = ifo[table + 8 + std::size_t{t} * 12 + 6];
      if (set == 0 || set > titleSets.size())
        return refused("title " + std::to_string(t + 1) + " names title set " +
                       std::to_string(set) + " of " + std::to_string(titleSets.size()));
    }
  }
  NavigationResult r;
  if (menu) setField(ifo, kMenuObjectsField, *menu, r.changed);
  for (std::uint32_t t = 0; t < titles; ++t) {
    const std::size_t entry = table + 8 + std::size_t{t} * 12;
    setField(ifo, entry + 8, titleSets[ifo[entry + 6] - 1], r.changed);
  }
  return r;
}

namespace {

// The walk of planNavigationPatches: one title set at a time, then the video manager.
class NavigationWalk {
 public:
  NavigationWalk(const FS_FileLocTable& table, const NavigationReader& read,
                 std::vector<NavigationPatch>& patches, std::string& problem)
      : table_(table), read_(read), patches_(patches), problem_(problem) {}

  EngineStatus run() {
    for (std::uint32_t i = 0; i < table_.entries.size(); ++i)
      if (const EngineStatus s = visit(i); s != kNoErr) return s;
    if (const EngineStatus s = closeTitleSet(std::nullopt); s != kNoErr) return s;
    return videoManager();
  }

 private:
  std::uint32_t start(std::uint32_t i) const { return table_.entries[i].dataStart; }

  EngineStatus fail(EngineStatus status, std::uint32_t i, const std::string& why) {
    problem_ =
        "DVD-Video navigation file " + table_.entries[i].node->GetFullPathName() + ": " + why;
    return status;
  }

  EngineStatus load(std::uint32_t i, std::vector<std::uint8_t>& out) {
    if (table_.entries[i].node->dataActualSize > kMaxNavigationBytes)
      return fail(kErrProducerFormat, i, "too large for a navigation file");
    if (read_(table_.entries[i], out) != kNoErr) return fail(kErrFileAccess, i, "cannot be read");
    return kNoErr;
  }

  EngineStatus visit(std::uint32_t i) {
    const std::string_view name = nameOf(table_.entries[i]);
    if (name == "VIDEO_TS.IFO") {
      manager_ = i;
    } else if (name == "VIDEO_TS.BUP") {
      managerBackup_ = i;
    } else if (name == "VIDEO_TS.VOB") {
      managerMenu_ = start(i);
    } else if (endsWith(name, ".IFO")) {
      if (const EngineStatus s = closeTitleSet(std::nullopt); s != kNoErr) return s;
      if (titleSets_.size() == kMaxTitleSets)
        return fail(kErrProducerFormat, i, "more than 99 title sets");
      titleSets_.push_back(start(i));
      ifo_ = i;
      if (const EngineStatus s = load(i, contents_); s != kNoErr) return s;
    } else if (endsWith(name, ".BUP")) {
      return closeTitleSet(i);
    } else if (ifo_ && endsWith(name, "0.VOB") && !title_) {
      menu_ = start(i) - start(*ifo_);
    } else if (ifo_ && endsWith(name, ".VOB") && !title_) {
      title_ = start(i) - start(*ifo_);
    }
    return kNoErr;
  }

  EngineStatus closeTitleSet(std::optional<std::uint32_t> backup) {
    if (!ifo_) return kNoErr;
    const std::uint32_t ifo = *ifo_;
    ifo_.reset();
    const NavigationResult r = patchTitleSetIfo(contents_, menu_, title_);
    menu_.reset();
    title_.reset();
    if (r.status != kNoErr) return fail(r.status, ifo, r.problem);
    if (r.changed) substitute(ifo, backup, "fakeVTS");
    if (backup) return sameSize(ifo, *backup);
    return kNoErr;
  }

  EngineStatus sameSize(std::uint32_t ifo, std::uint32_t backup) {
    if (table_.entries[backup].node->dataActualSize == table_.entries[ifo].node->dataActualSize)
      return kNoErr;
    return fail(kErrProducerFormat, backup, "its size differs from its IFO file");
  }

  void substitute(std::uint32_t ifo, std::optional<std::uint32_t> backup, const char* title) {
    NavigationPatch patch;
    patch.entries.push_back(ifo);
    if (backup) patch.entries.push_back(*backup);
    patch.contents = std::move(contents_);
    patch.title = title;
    patches_.push_back(std::move(patch));
    contents_.clear();
  }

  EngineStatus videoManager() {
    if (!manager_) return kNoErr;
    if (const EngineStatus s = load(*manager_, contents_); s != kNoErr) return s;
    std::vector<std::uint32_t> sets;
    for (const std::uint32_t s : titleSets_) sets.push_back(s - start(*manager_));
    std::optional<std::uint32_t> menu;
    if (managerMenu_) menu = *managerMenu_ - start(*manager_);
    const NavigationResult r = patchVideoManagerIfo(contents_, menu, sets);
    if (r.status != kNoErr) return fail(r.status, *manager_, r.problem);
    if (managerBackup_)
      if (const EngineStatus s = sameSize(*manager_, *managerBackup_); s != kNoErr) return s;
    if (r.changed) substitute(*manager_, managerBackup_, "fake");
    return kNoErr;
  }

  const FS_FileLocTable& table_;
  const NavigationReader& read_;
  std::vector<NavigationPatch>& patches_;
  std::string& problem_;
  std::vector<std::uint32_t> titleSets_;
  std::optional<std::uint32_t> manager_, managerBackup_, managerMenu_;
  std::optional<std::uint32_t> ifo_, menu_, title_;
  std::vector<std::uint8_t> contents_;
};

}  // namespace

EngineStatus planNavigationPatches(const FS_FileLocTable& table, const NavigationReader& read,
                                   std::vector<NavigationPatch>& patches, std::string& problem) {
  patches.clear();
  return NavigationWalk(table, read, patches, problem).run();
}

}  // namespace quillion::udf
