// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree and produces its UDF bridge image into a file, timing
// both steps.
//
//   udf_bench FOLDER OUTPUT [102|150|dvd]
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "DPMs/udf/dpm_udf.h"
#include "bench/support/layout_tree.h"

namespace {

using Seconds = std::chrono::duration<double>;

using quillion::bench::addFolder;
using quillion::bench::peakKilobytes;

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
  const std::size_t nodes = addFolder(tree, root, tree.Root());
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
  const std::uint32_t done = quillion::bench::drainToFd(producer, blocks, blockSize, fd);
  ::close(fd);
  const auto produced = std::chrono::steady_clock::now();

  const double layout = Seconds(laidOut - start).count();
  const double production = Seconds(produced - laidOut).count();
  std::printf(
      "nodes=%zu blocks=%u layout_s=%.3f produce_s=%.3f total_s=%.3f MBps=%.0f "
      "peak_rss_kb=%ld missing=%zu\n",
      nodes, blocks, layout, production, layout + production,
      double(blocks) * 2048 / 1e6 / production, peakKilobytes(), producer.MissingData().size());
  return done == blocks ? 0 : 1;
}
