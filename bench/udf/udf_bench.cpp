// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree and produces its UDF bridge image into a file, timing
// both steps.
//
//   udf_bench FOLDER OUTPUT [102|150|dvd]
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <cstdio>
#include <memory>
#include <string>

#include "DPMs/udf/dpm_udf.h"
#include "bench/support/layout_tree.h"

namespace {

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
  const std::uint16_t mode = modeOf(argc == 4 ? argv[3] : "102");
  return quillion::bench::layOutAndProduce(argv[1], argv[2], [mode](FS_Tree& tree) {
    return std::make_unique<DPM_UDF>(&tree, 0, 0, mode);
  });
}
