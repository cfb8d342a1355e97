// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree and produces the image of one data disc format (HFS
// Plus, or an HFS or HFS Plus hybrid with ISO9660) into a file, timing both steps.
//
//   hfs_bench CODE FOLDER OUTPUT        (CODE: 1, 2, 257, 258, 513 or 514)
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "DPMs/registry/file_system_formats.h"
#include "bench/support/layout_tree.h"

namespace {

using Seconds = std::chrono::duration<double>;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s CODE FOLDER OUTPUT\n", argv[0]);
    return 2;
  }
  const quillion::FileSystemFormat* format =
      quillion::findFileSystemFormat(static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)));
  if (format == nullptr) {
    std::fprintf(stderr, "no producer for format %s\n", argv[1]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  quillion::FileRef root;
  if (quillion::FileRef::make(argv[2], quillion::LinkMode::follow, root) != kNoErr) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  FS_Tree tree(nullptr);
  (void)tree.SetTreeTitle("BENCH");
  const std::size_t nodes = quillion::bench::addFolder(tree, root, tree.Root());
  const auto laidOut = std::chrono::steady_clock::now();

  const auto producer = format->make(quillion::FileSystemRequest{&tree, 0, true, false});
  std::uint16_t blockSize = 0;
  const std::uint32_t blocks = producer->PrepareAll(&blockSize, nullptr, nullptr);
  if (blocks == 0) {
    std::fprintf(stderr, "cannot prepare: %s\n", producer->LayoutProblem().c_str());
    return 1;
  }
  const int fd = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(argv[3]);
    return 1;
  }
  const std::uint32_t done = quillion::bench::drainToFd(*producer, blocks, blockSize, fd);
  ::close(fd);
  const auto produced = std::chrono::steady_clock::now();

  const double layout = Seconds(laidOut - start).count();
  const double production = Seconds(produced - laidOut).count();
  std::printf(
      "format=%s nodes=%zu blocks=%u layout_s=%.3f produce_s=%.3f total_s=%.3f MBps=%.0f "
      "peak_rss_kb=%ld missing=%zu\n",
      argv[1], nodes, blocks, layout, production, layout + production,
      double(blocks) * 2048 / 1e6 / production, quillion::bench::peakKilobytes(),
      producer->MissingData().size());
  return done == blocks ? 0 : 1;
}
