// SPDX-License-Identifier: GPL-2.0-or-later
// Tree maps and list maps: writing runs of node records from a tree or list, and building a
// tree or list again from them.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "quillion/TNCMap.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"
#include "tree/layout_maps.h"

namespace quillion::layout {
namespace {

constexpr std::size_t kTreeBytesPerNode = 84;
constexpr std::size_t kListBytesPerEntry = 132;
constexpr std::size_t kGrowStep = 131072;
// The caller learns the size through an i32.
constexpr std::size_t kMaxMapBytes = std::numeric_limits<std::int32_t>::max();
constexpr const char* kNoPath = "-";
// Layout documents know a tree map that could not grow by the code it shares with session
// import's failures.
constexpr EngineStatus kTreeMapCannotGrow = kErrImportConverter;

// A buffer from malloc, since the caller releases it with free().
class MapBuffer {
 public:
  MapBuffer(const MapBuffer&) = delete;
  MapBuffer& operator=(const MapBuffer&) = delete;
  explicit MapBuffer(std::size_t initial) {
    capacity_ = std::min(initial, kMaxMapBytes);
    data_ = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(capacity_, 1)));
  }
  ~MapBuffer() { std::free(data_); }

  bool allocated() const { return data_ != nullptr; }

  enum class Append : std::uint8_t { kDone, kTooLong, kCannotGrow };
  Append append(const NodeRecord& record) {
    const auto bytes = encodedSize(record);
    if (!bytes) return Append::kTooLong;
    while (used_ + *bytes > capacity_) {
      if (capacity_ >= kMaxMapBytes) return Append::kCannotGrow;
      const std::size_t grown = std::min(capacity_ + kGrowStep, kMaxMapBytes);
      auto* more = static_cast<std::uint8_t*>(std::realloc(data_, grown));
      if (more == nullptr) return Append::kCannotGrow;
      data_ = more;
      capacity_ = grown;
    }
    encodeRecord(record, std::span<std::uint8_t>(data_ + used_, *bytes));
    used_ += *bytes;
    return Append::kDone;
  }

  void handOver(void** buffer, std::int32_t* size) {
    *buffer = data_;
    *size = static_cast<std::int32_t>(used_);
    data_ = nullptr;
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

NodeRecord recordOf(FS_Node& node, std::uint32_t parentIndex) {
  NodeRecord r;
  r.kind = static_cast<std::uint16_t>((node.IsFolder() ? kKindFolder : 0) |
                                      (node.HasFlag(kFSNodeSymbolic) ? kKindSymbolic : 0));
  r.expanded = node.HasFlag(kFSNodeExpanded);
  r.parentIndex = parentIndex;
  r.pause = node.pauseLength;
  r.title = node.Title();
  // Built whole rather than assigned over an empty string: GCC 12 at -O3 takes the
  // assignment for an overlapping copy.
  std::string path = node.GetFullPathName();
  r.path = path.empty() ? std::string(kNoPath) : std::move(path);
  return r;
}

// Writes the descendants of `folder` (record `folderIndex`) in pre-order, title order.
MapBuffer::Append writeBelow(const FS_Node& folder, std::uint32_t folderIndex,
                             std::uint32_t& nextIndex, MapBuffer& out) {
  for (const auto& [key, child] : folder.Children()) {
    const std::uint32_t index = nextIndex++;
    if (const auto a = out.append(recordOf(*child, folderIndex)); a != MapBuffer::Append::kDone)
      return a;
    if (child->IsFolder())
      if (const auto a = writeBelow(*child, index, nextIndex, out); a != MapBuffer::Append::kDone)
        return a;
  }
  return MapBuffer::Append::kDone;
}

EngineStatus statusOf(MapBuffer::Append a, EngineStatus cannotGrow) {
  switch (a) {
    case MapBuffer::Append::kDone:
      return kNoErr;
    case MapBuffer::Append::kTooLong:
      return kErrNotSupported;
    case MapBuffer::Append::kCannotGrow:
      return cannotGrow;
  }
  return cannotGrow;
}

bool hasPath(const std::string& path) {
  return !path.empty() && path != kNoPath;
}

// The node a record stands for, with its file read again; null for a dropped record.
std::unique_ptr<FS_Node> nodeOf(const NodeRecord& r) {
  if (r.parentIndex == kDropParent) return nullptr;
  std::unique_ptr<FS_Node> node(FS_Node::MakeFolder("Untitled", nullptr, false));
  if ((r.kind & kKindFolder) != 0) {
    if (hasPath(r.path)) (void)node->SetFullPathName(r.path.c_str(), false);
    node->SetFolder(true);
    node->SetExpanded(r.expanded);
  } else {
    // A file that is gone stays in the layout, marked not valid by the re-read.
    if (hasPath(r.path)) (void)node->SetFullPathName(r.path.c_str(), (r.kind & kKindSymbolic) != 0);
    node->SetFolder(false);
    node->pauseLength = r.pause;
  }
  if (!r.title.empty()) (void)node->SetTitle(r.title.c_str(), false);
  return node;
}

// Reads records from the start until the buffer ends or a record cannot be read; `each` gets
// every record and answers whether to go on.
template <typename Each>
void readRecords(std::span<const std::uint8_t> buffer, MapReadReport& report, Each&& each) {
  std::size_t at = 0;
  for (;;) {
    ReadStop stop = ReadStop::kNone;
    const auto decoded = decodeRecord(buffer, at, &stop);
    if (!decoded) {
      report.stop = stop;
      return;
    }
    at += decoded->bytes;
    ++report.records;
    report.bytesRead = at;
    if (!each(decoded->record)) {
      report.stop = ReadStop::kDropped;
      return;
    }
  }
}

}  // namespace

EngineStatus readTreeMap(std::span<const std::uint8_t> buffer, FS_Tree** tree,
                         MapReadReport* report) {
  if (tree == nullptr || buffer.empty()) return kErrBadArgument;
  *tree = nullptr;
  try {
    MapReadReport local;
    std::vector<std::unique_ptr<FS_Node>> owned;  // the nodes that no other node holds
    std::vector<FS_Node*> nodes;
    std::vector<std::uint32_t> parents;
    readRecords(buffer, report ? *report : local, [&](const NodeRecord& r) {
      std::unique_ptr<FS_Node> node = nodeOf(r);
      if (!node) return false;
      nodes.push_back(node.get());
      parents.push_back(r.parentIndex);
      owned.push_back(std::move(node));
      return true;
    });
    std::size_t attached = nodes.empty() ? 0 : 1;
    // The root is a folder; a map whose first record is a file gets a fresh one instead.
    if (!nodes.empty() && !nodes[0]->IsFolder()) {
      owned[0].reset(FS_Node::MakeFolder("Untitled", nullptr, false));
      nodes[0] = owned[0].get();
      attached = 0;
    }
    for (std::size_t k = 1; k < nodes.size(); ++k) {
      const std::uint32_t p = parents[k];
      if (p >= nodes.size() || p == k) continue;
      // Refused: a parent that is a file, a title taken by a sibling, or a parent that lies
      // inside this node (so no index loop can form).
      if (nodes[p]->AddChild(nodes[k]) == kNoErr) {
        (void)owned[k].release();
        ++attached;
      }
    }
    (report ? *report : local).attached = attached;
    auto made = std::make_unique<FS_Tree>(nodes.empty() ? nullptr : nodes[0]);
    if (!nodes.empty()) (void)owned[0].release();
    (void)made->Root()->CollectAndSetFolderSize(made->BlockSize());
    // What is still owned here hangs from no node the root reaches: each such node goes with
    // its subtree, exactly once, when `owned` does.
    *tree = made.release();
    return kNoErr;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

EngineStatus readListMap(std::span<const std::uint8_t> buffer, FS_List** list,
                         MapReadReport* report) {
  if (list == nullptr || buffer.empty()) return kErrBadArgument;
  *list = nullptr;
  try {
    MapReadReport local;
    auto made = std::make_unique<FS_List>();
    readRecords(buffer, report ? *report : local, [&](const NodeRecord& r) {
      if (std::unique_ptr<FS_Node> node = nodeOf(r); node && made->Append(node.get()) == kNoErr)
        (void)node.release();
      return true;
    });
    *list = made.release();
    return kNoErr;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

EngineStatus writeTreeMap(FS_Tree& tree, void** buffer, std::int32_t* size) {
  std::uint32_t folders = 0, files = 0;
  (void)tree.TreeInfo(&folders, &files, nullptr, nullptr, false);
  MapBuffer out((std::size_t{folders} + files) * kTreeBytesPerNode + kTreeBytesPerNode);
  if (!out.allocated()) return kErrOutOfMemory;
  FS_Node& root = *tree.Root();
  auto step = out.append(recordOf(root, 0));
  std::uint32_t nextIndex = 1;
  if (step == MapBuffer::Append::kDone) step = writeBelow(root, 0, nextIndex, out);
  if (step != MapBuffer::Append::kDone) return statusOf(step, kTreeMapCannotGrow);
  out.handOver(buffer, size);
  return kNoErr;
}

EngineStatus writeListMap(FS_List& list, void** buffer, std::int32_t* size) {
  MapBuffer out(std::size_t{list.SizeOfList()} * kListBytesPerEntry);
  if (!out.allocated()) return kErrOutOfMemory;
  for (std::uint32_t i = 0; i < list.SizeOfList(); ++i) {
    FS_Node* node = list.NodeAtIdx(i);
    if (node == nullptr) continue;
    if (const auto a = out.append(recordOf(*node, 0)); a != MapBuffer::Append::kDone)
      return statusOf(a, kErrOutOfMemory);
  }
  out.handOver(buffer, size);
  return kNoErr;
}

}  // namespace quillion::layout

EngineStatus TNC_FSTreeToTreeMap(FS_Tree* tree, void** buffer, std::int32_t* size) {
  if (tree == nullptr || buffer == nullptr || size == nullptr || tree->Root() == nullptr)
    return kErrBadArgument;
  *buffer = nullptr;
  *size = 0;
  try {
    return quillion::layout::writeTreeMap(*tree, buffer, size);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

EngineStatus TNC_TreeMapToFSTree(const void* buffer, std::int32_t size, FS_Tree** tree) {
  if (buffer == nullptr || size <= 0 || tree == nullptr) return kErrBadArgument;
  return quillion::layout::readTreeMap(
      {static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(size)}, tree, nullptr);
}

EngineStatus TNC_TreeMapToFSTreeWhole(const void* buffer, std::int32_t size, FS_Tree** tree) {
  if (buffer == nullptr || size <= 0 || tree == nullptr) return kErrBadArgument;
  *tree = nullptr;
  FS_Tree* read = nullptr;
  quillion::layout::MapReadReport report;
  const EngineStatus status = quillion::layout::readTreeMap(
      {static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(size)}, &read, &report);
  if (status != kNoErr) return status;
  if (report.stop != quillion::layout::ReadStop::kEnd || report.attached != report.records) {
    delete read;
    return kErrNotSupported;
  }
  *tree = read;
  return kNoErr;
}

EngineStatus TNC_FSListToListMap(FS_List* list, void** buffer, std::int32_t* size) {
  if (list == nullptr || buffer == nullptr || size == nullptr) return kErrBadArgument;
  *buffer = nullptr;
  *size = 0;
  if (list->SizeOfList() == 0) return kNoErr;
  try {
    return quillion::layout::writeListMap(*list, buffer, size);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

EngineStatus TNC_ListMapToFSList(const void* buffer, std::int32_t size, FS_List** list) {
  if (buffer == nullptr || size <= 0 || list == nullptr) return kErrBadArgument;
  return quillion::layout::readListMap(
      {static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(size)}, list, nullptr);
}
