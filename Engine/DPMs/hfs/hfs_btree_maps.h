// SPDX-License-Identifier: GPL-2.0-or-later
// The header node of a B-tree and the map nodes that follow it when its own map record
// cannot mark every node: the same shape in HFS (512-byte nodes) and HFS Plus (4096).
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "DPMs/hfs/hfs_structures.h"

namespace quillion::hfs {

// Bits of the header node's map record and of one map node's record, for a node size.
std::uint32_t headerMapBits(std::uint32_t nodeSize);
std::uint32_t mapNodeBits(std::uint32_t nodeSize);

// The map nodes a tree of `nodes` other nodes needs so that every node, the map nodes
// included, has its bit.
std::uint32_t mapNodesFor(std::uint64_t nodes, std::uint32_t nodeSize);

// Writes node 0 (the header node, `header` with its node size) and map nodes 1 ..
// `mapNodes`, linked forward, with the first `usedNodes` bits set. `nodeAt(n)` is node n's
// bytes. False when a node does not fit.
[[nodiscard]] bool writeHeaderAndMapNodes(
    const BTHeaderRec& header, std::uint64_t usedNodes, std::uint32_t mapNodes,
    const std::function<std::span<std::uint8_t>(std::uint64_t)>& nodeAt);

}  // namespace quillion::hfs
