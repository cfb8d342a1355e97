// SPDX-License-Identifier: GPL-2.0-or-later
// Layout records read from a document: any buffer gives a tree or a list without a crash, a
// hang or a leak, holds no more nodes than it has records, and what was read writes out to
// a buffer that reads back whole and to the same outline.
//
// Input: one byte choosing a tree map (even) or a list map (odd), then the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "quillion/FS.h"
#include "quillion/TNCMap.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"
#include "tree/layout_maps.h"

namespace {

using quillion::fuzz::check;
namespace layout = quillion::layout;

std::string outlineOf(const FS_Node& node) {
  std::string out = node.Title() + (node.IsFolder() ? "/" : "") + "\n";
  for (const auto& [key, child] : node.Children()) out += ' ' + outlineOf(*child);
  return out;
}

std::size_t countNodes(const FS_Node& node) {
  std::size_t n = 1;
  for (const auto& [key, child] : node.Children()) n += countNodes(*child);
  return n;
}

struct Written {
  void* data = nullptr;
  std::int32_t size = 0;
  ~Written() { std::free(data); }
  std::span<const std::uint8_t> span() const {
    return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
  }
};

void fuzzTree(std::span<const std::uint8_t> buffer) {
  FS_Tree* tree = nullptr;
  layout::MapReadReport report;
  check(layout::readTreeMap(buffer, &tree, &report) == kNoErr, "a tree map always reads");
  check(report.bytesRead <= buffer.size(), "reading stays inside the buffer");
  check(countNodes(*tree->Root()) <= std::max<std::size_t>(report.records, 1),
        "no more nodes than records");
  FS_Tree* whole = nullptr;
  const EngineStatus wholeStatus =
      TNC_TreeMapToFSTreeWhole(buffer.data(), static_cast<std::int32_t>(buffer.size()), &whole);
  const bool readWhole = report.stop == layout::ReadStop::kEnd && report.attached == report.records;
  check((wholeStatus == kNoErr) == readWhole, "a whole read takes exactly the undamaged maps");
  check((whole != nullptr) == readWhole, "a refused map gives no tree");
  if (whole) check(outlineOf(*whole->Root()) == outlineOf(*tree->Root()), "the same tree");
  termTree(whole);
  Written again;
  if (TNC_FSTreeToTreeMap(tree, &again.data, &again.size) == kNoErr) {
    FS_Tree* back = nullptr;
    layout::MapReadReport second;
    check(layout::readTreeMap(again.span(), &back, &second) == kNoErr, "our own map reads");
    check(second.stop == layout::ReadStop::kEnd && second.bytesRead == again.span().size(),
          "our own map reads whole");
    check(outlineOf(*back->Root()) == outlineOf(*tree->Root()), "the same outline comes back");
    termTree(back);
  }
  termTree(tree);
}

void fuzzList(std::span<const std::uint8_t> buffer) {
  FS_List* list = nullptr;
  layout::MapReadReport report;
  check(layout::readListMap(buffer, &list, &report) == kNoErr, "a list map always reads");
  check(report.bytesRead <= buffer.size(), "reading stays inside the buffer");
  check(list->SizeOfList() <= report.records, "no more entries than records");
  Written again;
  if (TNC_FSListToListMap(list, &again.data, &again.size) == kNoErr && again.size > 0) {
    FS_List* back = nullptr;
    layout::MapReadReport second;
    check(layout::readListMap(again.span(), &back, &second) == kNoErr, "our own map reads");
    check(second.stop == layout::ReadStop::kEnd, "our own map reads whole");
    check(back->SizeOfList() == list->SizeOfList(), "every entry comes back");
    for (std::uint32_t i = 0; i < list->SizeOfList(); ++i)
      check(back->NodeAtIdx(i)->Title() == list->NodeAtIdx(i)->Title(), "in the same order");
    termList(back);
  }
  termList(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const bool list = (in.u8() & 1) != 0;
  const std::span<const std::uint8_t> buffer = in.rest();
  if (buffer.empty()) return 0;
  if (list)
    fuzzList(buffer);
  else
    fuzzTree(buffer);
  return 0;
}
