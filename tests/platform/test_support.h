// SPDX-License-Identifier: GPL-2.0-or-later
// Forwarding header for suites not yet moved to test_support.h.
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace quillion::testing {

// The folder with its path as a string, as these suites used it.
class TempDir {
 public:
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& leaf) const { return path_ + "/" + leaf; }

 private:
  test::TempDir dir_;
  std::string path_ = dir_.path().string();
};

using test::hexOf;
using test::patternBytes;
using test::writeFile;

// Runs a shell command; the standard output, and the exit code through `status`.
inline std::string run(const std::string& command, int* status = nullptr) {
  const test::ToolResult r = test::runTool({"/bin/sh", "-c", command}, {.separateErrors = true});
  if (status) *status = r.exitCode;
  return r.output;
}

inline bool haveTool(const std::string& name) {
  return test::toolAvailable(name);
}

// Single-quoted for the shell.
inline std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace quillion::testing
