// SPDX-License-Identifier: GPL-2.0-or-later
// The mount table as the kernel lists it: no input may crash the reader, and every entry it
// gives has an absolute mount point.
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "shell/mount_table.h"

using quillion::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto mounts = quillion::parseMountInfo(text);
  check(mounts.size() <= static_cast<std::size_t>(text.count('\n') + 1), "more entries than lines");
  for (const auto& m : mounts) {
    check(m.mountPoint.startsWith('/'), "a mount point that is not absolute");
    (void)quillion::isPseudoFileSystem(m.fsType);
  }
  return 0;
}
