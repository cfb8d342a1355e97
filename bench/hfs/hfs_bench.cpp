// SPDX-License-Identifier: GPL-2.0-or-later
// Lays out a folder as a content tree and produces the image of one data disc format (HFS
// Plus, or an HFS or HFS Plus hybrid with ISO9660) into a file, timing both steps.
//
//   hfs_bench CODE FOLDER OUTPUT        (CODE: 1, 2, 257, 258, 513 or 514)
//
// Prints one line: layout and production seconds, blocks, image bytes per second and the
// peak resident memory of the process.
#include <cstdio>
#include <cstdlib>

#include "DPMs/registry/file_system_formats.h"
#include "bench/support/layout_tree.h"

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
  std::printf("format=%s ", argv[1]);
  return quillion::bench::layOutAndProduce(argv[2], argv[3], [format](FS_Tree& tree) {
    return format->make(quillion::FileSystemRequest{&tree, 0, true, false});
  });
}
