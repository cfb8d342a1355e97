// SPDX-License-Identifier: GPL-2.0-or-later
// The partition header of a UDF volume: the file set descriptor, its terminator, then a
// file entry for every node in pre-order, each folder's file identifiers either embedded
// in its entry or in the blocks right after it. One plan serves both the sizing and the
// writing, so that what is counted is what is written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DPMs/udf/udf_volume.h"
#include "quillion/status.h"

class FS_Node;

namespace quillion::udf {

// A folder's identifiers up to this many bytes live inside its file entry (2048 - 176).
inline constexpr std::uint32_t kEmbeddedDirectoryBytes = 1872;
inline constexpr std::uint32_t kFileEntryFixedBytes = 176;
inline constexpr std::uint32_t kDvdExtendedAttributeBytes = 132;

struct UdfEntry {
  FS_Node* node = nullptr;
  std::int32_t parent = -1;  // index of the parent folder's entry; -1 for the root
  bool folder = false;
  OstaName name;               // empty for the root
  std::uint64_t dirBytes = 0;  // folders: bytes of their file identifiers
  std::uint16_t links = 1;
  std::uint32_t entryBlock = 0;         // relative to the file set descriptor
  std::vector<std::uint32_t> children;  // entry indices in the children's name order
};

struct UdfPartitionPlan {
  std::vector<UdfEntry> entries;  // pre-order; entries[0] is the root
  std::uint32_t blocks = 0;       // file set descriptor to the last directory block
};

// Makes a node's title into its identifier; a status other than kNoErr refuses the layout.
using UdfNamer = std::function<EngineStatus(const std::string& title, OstaName& out)>;

// Sizes the header of the tree below `root`. `embed` allows identifiers inside file
// entries (plain mode). kErrProducerName (with `problem`) for a child that cannot be named
// or whose identifier equals a sibling's; kErrProducerTooManyFiles when the header blocks
// or a folder's link count leave their fields' range.
[[nodiscard]] EngineStatus calculatePartitionHeaderSize(FS_Node& root, const UdfNamer& namer,
                                                        bool embed, UdfPartitionPlan& plan,
                                                        std::string& problem);

// Where a file's data lies: its partition block and byte length.
struct UdfFilePlace {
  bool found = false;
  std::uint32_t block = 0;
  std::uint64_t bytes = 0;
};

struct UdfPartitionContext {
  const UdfVolumeFacts* facts = nullptr;
  std::uint32_t base = 0;  // partition block of the file set descriptor
  std::uint64_t maxExtentBytes = 0x3FFFF800;
  std::function<UdfFilePlace(const FS_Node& node)> locate;
};

// Allocation descriptors one file entry can hold for a file of `bytes`; false when the
// file needs more than fit in the entry's block.
bool fileExtentsFit(std::uint64_t bytes, std::uint64_t maxExtentBytes, bool dvdVideo);

// The blocks of the partition header, made when asked for: the file set descriptor, its
// terminator and every entry with its directory blocks. Block 0 is the file set
// descriptor. Only the folder whose directory blocks were asked for last is kept, so a
// header of any size costs a few blocks of memory.
class UdfHeaderBlocks {
 public:
  // `plan` must outlive the writer.
  UdfHeaderBlocks(const UdfPartitionPlan& plan, const UdfPartitionContext& context);
  // Blocks [first, first + count) into `out` (count * 2048 bytes); blocks from
  // plan.blocks on are zeros.
  void write(Bytes out, std::uint32_t first, std::uint32_t count);

 private:
  void writeBlock(Bytes block, std::uint32_t at);

  const UdfPartitionPlan* plan;
  UdfPartitionContext context;
  std::vector<std::uint8_t> directory;  // the identifiers of entry `directoryOf`
  std::size_t directoryOf = static_cast<std::size_t>(-1);
};

// The 132 bytes of DVD-Video extended attributes (header, free EA space, CGMS), the
// header tagged `location`.
void SetDVDVideoExtendedAttribute(Bytes out, std::uint32_t location, std::uint16_t revision);

// A file identifier descriptor at the start of `out`; answers its size.
std::uint32_t WriteFID(Bytes out, const OstaName& name, std::uint32_t tagLocation,
                       std::uint32_t entryBlock, std::uint8_t characteristics);
std::uint32_t fidSize(const OstaName& name);

}  // namespace quillion::udf
