// SPDX-License-Identifier: GPL-2.0-or-later
// What the session-import readers share: where they read blocks from (a drive, or memory in
// tests and fuzzing), the limits that keep a hostile disc from exhausting memory or time, and
// the bookkeeping of one import (directories seen, depth, nodes made, notes).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "quillion/TNC.h"
#include "tree/fs_tree.h"

namespace quillion::import {

inline constexpr std::uint32_t kBlockBytes = 2048;

// Bounds on what a disc may make the reader do. A real directory of tens of thousands of
// entries stays far below these.
struct ImportLimits {
  std::uint32_t maxDirectoryBytes = 16u << 20;        // one directory's data
  std::uint64_t maxTotalDirectoryBytes = 256u << 20;  // every directory read in one import
  std::uint32_t maxDepth = 64;                        // folders below the root
  std::uint32_t maxNodes = 1u << 20;                  // entries made in one import
};

class BlockSource {
 public:
  virtual ~BlockSource() = default;
  // `blocks` blocks of 2048 bytes from `lba` into `out` (resized); a failed read answers its
  // status and leaves `out` empty.
  virtual EngineStatus read(std::uint32_t lba, std::uint32_t blocks,
                            std::vector<std::uint8_t>& out) = 0;
  // Blocks of the medium: no extent may reach past it.
  virtual std::uint32_t mediumBlocks() const = 0;
};

// Blocks held in memory: block n is bytes [n * 2048, (n + 1) * 2048) of the image.
class MemoryBlockSource final : public BlockSource {
 public:
  explicit MemoryBlockSource(std::span<const std::uint8_t> image) : image_(image) {}
  EngineStatus read(std::uint32_t lba, std::uint32_t blocks,
                    std::vector<std::uint8_t>& out) override;
  std::uint32_t mediumBlocks() const override;

 private:
  std::span<const std::uint8_t> image_;
};

// True when `blocks` blocks from `lba` lie on the medium.
bool onMedium(const BlockSource& source, std::uint64_t lba, std::uint64_t blocks);
inline std::uint64_t blocksFor(std::uint64_t bytes) {
  return (bytes + kBlockBytes - 1) / kBlockBytes;
}

// One import in progress.
class ImportWalk {
 public:
  ImportWalk(BlockSource& source, const ImportLimits& limits) : source_(source), limits_(limits) {}

  BlockSource& source() { return source_; }
  const ImportLimits& limits() const { return limits_; }

  // Reads a directory's data: -1361 when it is larger than a directory can be, lies off the
  // medium, was read before in this import (a directory that holds itself or an ancestor),
  // or the import has read too much already; -1363 when the read fails.
  EngineStatus readDirectory(std::uint32_t lba, std::uint64_t bytes,
                             std::vector<std::uint8_t>& out);
  // A directory key seen before (a cycle): false the second time.
  bool firstVisit(std::uint64_t key) { return visited_.insert(key).second; }
  // Counts an entry; false once the import has made too many.
  bool countNode() { return ++nodes_ <= limits_.maxNodes; }

  // Adds `node` (detached) under `parent`. A title taken by a sibling (ignoring case) is kept
  // under a free variant and noted; the node is never left outside the tree. False only when
  // no variant is free, and the node is then destroyed.
  bool attach(FS_Node* node, FS_Node* parent, const std::string& diskPath);
  void note(TNC_ImportNote::Kind kind, const std::string& path, const std::string& newName = {});

  std::vector<TNC_ImportNote>& notes() { return notes_; }

 private:
  BlockSource& source_;
  ImportLimits limits_;
  std::set<std::uint64_t> visited_;
  std::uint64_t directoryBytes_ = 0;
  std::uint32_t nodes_ = 0;
  std::vector<TNC_ImportNote> notes_;
};

// A new tree whose root is a folder titled "import" with flag bit 7.
std::unique_ptr<FS_Tree> makeImportTree();

// Texts of the disc as node titles: UTF-16 big-endian units, and bytes that are kept when
// they are UTF-8 and read as ISO 8859-1 when not. Control characters and '/' never reach a
// title: they become '_'.
std::string titleFromUtf16BE(std::span<const std::uint8_t> bytes);
std::string titleFromBytes(std::span<const std::uint8_t> bytes);
// Trailing blanks (and NULs) removed.
std::string trimTrailingBlanks(std::string text);

}  // namespace quillion::import
