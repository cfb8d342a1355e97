// SPDX-License-Identifier: GPL-2.0-or-later
// What the producer benchmarks share: a folder laid out as a content tree the way the
// layout window does it (one listing per folder), a prepared producer drained into a file
// in the burn process's cache blocks, and the peak memory of the process.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include <cstddef>
#include <vector>

#include "DPMs/base/dpm_base.h"
#include "platform/file/catalog_info.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

namespace quillion::bench {

inline std::size_t addFolder(FS_Tree& tree, const FileRef& folder, FS_Node* parent) {
  std::vector<FolderEntry> entries;
  if (listFolder(folder, entries) != kNoErr) return 0;
  std::size_t nodes = 0;
  for (const FolderEntry& e : entries) {
    if (e.status != kNoErr) continue;
    FS_Node* node = FS_Node::MakeForFSRef(&e.ref, e.name.c_str(), nullptr, &e.info);
    if (tree.Add(node, parent) != kNoErr) {
      delete node;
      continue;
    }
    ++nodes;
    if (node->IsFolder()) nodes += addFolder(tree, e.ref, node);
  }
  return nodes;
}

// Writes the `blocks` blocks of a prepared producer to `fd`; the blocks written.
inline std::uint32_t drainToFd(DPM_Base& producer, std::uint32_t blocks, std::uint16_t blockSize,
                               int fd) {
  // The burn process hands producers cache blocks of 512 KB.
  constexpr std::uint32_t kBufferBytes = 512 * 1024;
  std::vector<char> buffer(kBufferBytes);
  std::uint32_t done = 0;
  while (done < blocks) {
    std::uint32_t got = 0;
    if (producer.NextBlocks(buffer.data(), kBufferBytes, blocks - done, &got) != kNoErr || got == 0)
      break;
    const std::size_t bytes = std::size_t{got} * blockSize;
    for (std::size_t written = 0; written < bytes;) {
      const ssize_t n = ::write(fd, buffer.data() + written, bytes - written);
      if (n <= 0) {
        std::perror("write");
        return done;
      }
      written += static_cast<std::size_t>(n);
    }
    done += got;
  }
  return done;
}

inline long peakKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace quillion::bench
