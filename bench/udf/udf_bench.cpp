// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree and produces its UDF bridge image into a file, timing
// both steps.
//
//   udf_bench FOLDER OUTPUT [102|150|dvd]
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "DPMs/udf/dpm_udf.h"
#include "platform/file/catalog_info.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

namespace {

using Seconds = std::chrono::duration<double>;

// One listing per folder, as the layout window reads a dropped folder.
std::size_t layOutFolder(FS_Tree& tree, const quillion::FileRef& folder, FS_Node* parent) {
  std::vector<quillion::FolderEntry> entries;
  if (quillion::listFolder(folder, entries) != kNoErr) return 0;
  std::size_t nodes = 0;
  for (const quillion::FolderEntry& e : entries) {
    if (e.status != kNoErr) continue;
    FS_Node* node = FS_Node::MakeForFSRef(&e.ref, e.name.c_str(), nullptr, &e.info);
    if (tree.Add(node, parent) != kNoErr) {
      delete node;
      continue;
    }
    ++nodes;
    if (node->IsFolder()) nodes += layOutFolder(tree, e.ref, node);
  }
  return nodes;
}

std::uint16_t modeOf(const std::string& name) {
  if (name == "150") return DPM_UDF::kModeUDF150;
  if (name == "dvd") return DPM_UDF::kModeDVDVideo;
  return DPM_UDF::kModeUDF102;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER OUTPUT [102|150|dvd]\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  quillion::FileRef root;
  if (quillion::FileRef::make(argv[1], quillion::LinkMode::follow, root) != kNoErr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  FS_Tree tree(nullptr);
  (void)tree.SetTreeTitle("BENCH");
  const std::size_t nodes = layOutFolder(tree, root, tree.Root());
  const auto laidOut = std::chrono::steady_clock::now();

  DPM_UDF producer(&tree, 0, 0, modeOf(argc == 4 ? argv[3] : "102"));
  std::uint16_t blockSize = 0;
  const std::uint32_t blocks = producer.PrepareAll(&blockSize, nullptr, nullptr);
  if (blocks == 0) {
    std::fprintf(stderr, "cannot prepare: %s\n", producer.LayoutProblem().c_str());
    return 1;
  }
  const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(argv[2]);
    return 1;
  }
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
        return 1;
      }
      written += static_cast<std::size_t>(n);
    }
    done += got;
  }
  ::close(fd);
  const auto produced = std::chrono::steady_clock::now();

  const double layout = Seconds(laidOut - start).count();
  const double production = Seconds(produced - laidOut).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "nodes=%zu blocks=%u layout_s=%.3f produce_s=%.3f total_s=%.3f MBps=%.0f "
      "peak_rss_kb=%ld missing=%zu\n",
      nodes, blocks, layout, production, layout + production,
      double(blocks) * 2048 / 1e6 / production, usage.ru_maxrss, producer.MissingData().size());
  return done == blocks ? 0 : 1;
}
