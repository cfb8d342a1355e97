// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/hfs_btree_maps.h"

#include <vector>

#include "DPMs/hfs/hfs_byte_order.h"

namespace quillion::hfs {

std::uint32_t headerMapBits(std::uint32_t nodeSize) {
  // Descriptor, header record, user data record, four offsets.
  return (nodeSize - static_cast<std::uint32_t>(kBTNodeDescriptorBytes + kBTHeaderRecBytes +
                                                kBTUserDataBytes + 8)) *
         8;
}

std::uint32_t mapNodeBits(std::uint32_t nodeSize) {
  return (nodeSize - static_cast<std::uint32_t>(kBTNodeDescriptorBytes) - 4) * 8;
}

std::uint32_t mapNodesFor(std::uint64_t nodes, std::uint32_t nodeSize) {
  std::uint64_t mapNodes = 0;
  while (headerMapBits(nodeSize) + mapNodes * mapNodeBits(nodeSize) < nodes + mapNodes) ++mapNodes;
  return static_cast<std::uint32_t>(mapNodes);
}

bool writeHeaderAndMapNodes(const BTHeaderRec& header, std::uint64_t usedNodes,
                            std::uint32_t mapNodes,
                            const std::function<std::span<std::uint8_t>(std::uint64_t)>& nodeAt) {
  const std::uint32_t nodeSize = header.nodeSize;
  const std::size_t headerBytes = headerMapBits(nodeSize) / 8;
  const std::size_t mapBytes = mapNodeBits(nodeSize) / 8;
  std::vector<std::uint8_t> bits(headerBytes + std::size_t{mapNodes} * mapBytes, 0);
  for (std::uint64_t bit = 0; bit < usedNodes && bit / 8 < bits.size(); ++bit)
    bits[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
  BTNodeDescriptor descriptor;
  descriptor.kind = kBTHeaderNode;
  descriptor.fLink = mapNodes > 0 ? 1 : 0;
  if (!SwapHFSPlus_BTHeaderNode(descriptor, header, std::span(bits).first(headerBytes), nodeAt(0)))
    return false;
  for (std::uint32_t m = 0; m < mapNodes; ++m) {
    BTNode node;
    node.descriptor.kind = kBTMapNode;
    node.descriptor.fLink = m + 1 < mapNodes ? m + 2 : 0;
    node.append(std::span(bits).subspan(headerBytes + std::size_t{m} * mapBytes, mapBytes));
    if (!SwapBTNode(node, nodeAt(m + 1))) return false;
  }
  return true;
}

}  // namespace quillion::hfs
