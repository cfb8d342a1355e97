// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree (as the layout window does, from one listing per
// folder) and produces its ISO9660 + Joliet image into a file, timing both steps.
//
//   iso9660_bench FOLDER OUTPUT
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <cstdio>
#include <memory>

#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "bench/support/layout_tree.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER OUTPUT\n", argv[0]);
    return 2;
  }
  return quillion::bench::layOutAndProduce(argv[1], argv[2], [](FS_Tree& tree) {
    return std::make_unique<DPM_FS_ISO9660>(&tree, DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  });
}
