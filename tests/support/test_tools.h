// SPDX-License-Identifier: GPL-2.0-or-later
// Forwarding header for suites not yet moved to test_support.h.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace quillion::test {

inline bool haveTool(const char* tool) {
  return toolAvailable(tool);
}

// Standard output of `command`, run by the shell.
inline std::string run(const std::string& command) {
  return toolOutput({"/bin/sh", "-c", command});
}

inline std::string slurp(const std::filesystem::path& file) {
  return readText(file);
}

}  // namespace quillion::test
