// SPDX-License-Identifier: GPL-2.0-or-later
// What the producer benchmarks share: a folder laid out as a content tree the way the
// layout window does it (one listing per folder), a prepared producer drained into a file
// in the burn process's cache blocks, the peak memory of the process, and the whole timed
// run of one producer over one folder. The image's recording time is fixed.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "DPMs/base/dpm_base.h"
#include "DPMs/base/dpm_filesystem_base.h"
#include "platform/file/catalog_info.h"
#include "quillion/clock.h"
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

using MakeProducer = std::function<std::unique_ptr<DPM_FileSystem_Base>(FS_Tree&)>;

// Lays out `folder`, produces the image `make` sets up over it into `output`, and prints
// one line: layout and production seconds, blocks, image bytes per second, peak memory and
// the items that could not be read. The process's exit status.
inline int layOutAndProduce(const char* folder, const char* output, const MakeProducer& make) {
  using Seconds = std::chrono::duration<double>;
  // A fixed recording time, so that two runs over one tree give the same bytes and a
  // change meant only to speed things up can be checked with cmp.
  quillion::VirtualClock fixedClock;
  const quillion::ScopedClockOverride fixedNow(fixedClock);
  const auto start = std::chrono::steady_clock::now();
  FileRef root;
  if (FileRef::make(folder, LinkMode::follow, root) != kNoErr) {
    std::fprintf(stderr, "cannot open %s\n", folder);
    return 1;
  }
  FS_Tree tree(nullptr);
  (void)tree.SetTreeTitle("BENCH");
  const std::size_t nodes = addFolder(tree, root, tree.Root());
  const auto laidOut = std::chrono::steady_clock::now();

  const std::unique_ptr<DPM_FileSystem_Base> producer = make(tree);
  std::uint16_t blockSize = 0;
  const std::uint32_t blocks = producer->PrepareAll(&blockSize, nullptr, nullptr);
  if (blocks == 0) {
    std::fprintf(stderr, "cannot prepare: %s\n", producer->LayoutProblem().c_str());
    return 1;
  }
  const int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(output);
    return 1;
  }
  const std::uint32_t done = drainToFd(*producer, blocks, blockSize, fd);
  ::close(fd);
  const auto produced = std::chrono::steady_clock::now();

  const double layout = Seconds(laidOut - start).count();
  const double production = Seconds(produced - laidOut).count();
  std::printf(
      "nodes=%zu blocks=%u layout_s=%.3f produce_s=%.3f total_s=%.3f MBps=%.0f "
      "peak_rss_kb=%ld missing=%zu\n",
      nodes, blocks, layout, production, layout + production,
      double(blocks) * 2048 / 1e6 / production, peakKilobytes(), producer->MissingData().size());
  return done == blocks ? 0 : 1;
}

}  // namespace quillion::bench
