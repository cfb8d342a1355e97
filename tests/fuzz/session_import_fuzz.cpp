// SPDX-License-Identifier: GPL-2.0-or-later
// The ISO9660 and UDF directory readers of session import over any disc: the blocks of the
// disc come from the input, served by an injected block source, so no drive is needed. Every
// run ends with a known status, a tree only on success, every imported file inside the
// medium, and never more reading or nodes than the limits allow.
//
// Input: a flag byte (bit 0: read as UDF), the medium's size in blocks (u32; blocks the input
// does not give read as zeros), then records of a block number (u16), a length (u16, at most
// 2048) and that many bytes of the block. The seeds are a plain and a Joliet ISO9660 volume,
// a UDF bridge, and the same with a folder that holds itself.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tree/import_source.h"
#include "tree/iso9660_import.h"
#include "tree/udf_import.h"

using quillion::fuzz::check;
using namespace quillion::import;

namespace {

class SparseSource final : public BlockSource {
 public:
  EngineStatus read(std::uint32_t lba, std::uint32_t blocks,
                    std::vector<std::uint8_t>& out) override {
    check(blocks <= kLimits.maxDirectoryBytes / kBlockBytes + 1, "a read within the size cap");
    asked += blocks;
    out.clear();
    if (!onMedium(*this, lba, blocks)) return kErrCheckCondition;
    out.assign(std::size_t{blocks} * kBlockBytes, 0);
    for (std::uint32_t i = 0; i < blocks; ++i) {
      const auto it = blocks_.find(std::uint64_t{lba} + i);
      if (it != blocks_.end())
        std::copy(it->second.begin(), it->second.end(), out.begin() + std::size_t{i} * kBlockBytes);
    }
    return kNoErr;
  }
  std::uint32_t mediumBlocks() const override { return medium; }

  static constexpr ImportLimits kLimits{.maxDirectoryBytes = 64 * 2048,
                                        .maxTotalDirectoryBytes = 1024 * 2048,
                                        .maxDepth = 16,
                                        .maxNodes = 4096};
  std::map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
  std::uint32_t medium = 0;
  std::uint64_t asked = 0;
};

struct Survey {
  std::uint32_t nodes = 0;
  std::uint32_t depth = 0;
};

void survey(const FS_Node& node, std::uint32_t depth, std::uint32_t medium, Survey& s) {
  check(node.IsISO9660ImportItem(), "every node is an import item");
  s.depth = std::max(s.depth, depth);
  for (const auto& [key, child] : node.Children()) {
    ++s.nodes;
    check(!child->Title().empty(), "every entry has a name");
    check(std::none_of(child->Title().begin(), child->Title().end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
          "no name holds a control character");
    if (child->IsFolder()) {
      survey(*child, depth + 1, medium, s);
      continue;
    }
    const auto inside = [&](std::uint64_t lba, std::uint64_t bytes) {
      return bytes == 0 || lba + blocksFor(bytes) <= medium;
    };
    check(inside(child->importDataLBA, child->dataActualSize), "data fork on the medium");
    check(inside(child->importRsrcLBA, child->rsrcActualSize), "resource fork on the medium");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const bool udf = in.flag();
  SparseSource source;
  source.medium = in.u32();
  while (!in.empty()) {
    const std::uint16_t block = in.u16();
    const auto bytes = in.bytes(std::min<std::size_t>(in.u16(), kBlockBytes));
    source.blocks_[block].assign(bytes.begin(), bytes.end());
  }

  ImportWalk walk(source, SparseSource::kLimits);
  std::unique_ptr<FS_Tree> tree;
  const EngineStatus s = udf ? importUdf(walk, 0, tree) : importIso9660(walk, 0, tree);
  check(s == kNoErr || s == kErrImportNoVolume || s == kErrImportConverter, "a known status");
  check(s == kNoErr || !tree, "no tree after a failure");
  check(udf || s != kNoErr || tree, "an ISO9660 import that succeeds gives a tree");
  // Directories within their budget, one file entry per node, and the volume descriptors.
  check(source.asked <= SparseSource::kLimits.maxTotalDirectoryBytes / kBlockBytes +
                            SparseSource::kLimits.maxNodes + 256,
        "bounded reading");
  for (const TNC_ImportNote& n : walk.notes()) check(!n.path.empty(), "a note names its entry");
  if (tree) {
    Survey s2;
    survey(*tree->Root(), 0, source.medium, s2);
    check(s2.nodes <= SparseSource::kLimits.maxNodes, "bounded nodes");
    check(s2.depth <= SparseSource::kLimits.maxDepth + 1, "bounded depth");
  }

  // The session-listing side reads the same descriptors for names and dates.
  IsoVolumeDescriptors descriptors;
  if (readIsoDescriptors(source, 0, descriptors) == kNoErr) {
    if (!descriptors.primary.empty()) {
      (void)isoVolumeName(descriptors.primary, false);
      (void)isoVolumeCreationDate(descriptors.primary);
    }
    if (!descriptors.supplementary.empty()) (void)isoVolumeName(descriptors.supplementary, true);
  }
  UdfFileSet fileSet;
  if (findUdfFileSet(source, 0, fileSet) == kNoErr) {
    (void)udfVolumeName(fileSet.descriptor);
    (void)udfTimestamp(std::span<const std::uint8_t>(fileSet.descriptor).subspan(16, 12));
  }
  return 0;
}
