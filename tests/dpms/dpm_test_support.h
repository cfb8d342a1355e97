// SPDX-License-Identifier: GPL-2.0-or-later
// Forwarding header for suites not yet moved to test_support.h.
#pragma once

#include <string>

#include "tests/dpms/producer_support.h"
#include "tests/platform/test_support.h"

namespace quillion::testing {

using test::differences;
using test::DrainResult;
using test::drainToFile;
using test::filesBelow;
using test::TreeDeleter;
using test::treeFromFolder;
using test::TreePtr;

inline std::string readFileBytes(const std::string& path) {
  return test::readText(path);
}

// Runs a shell command with LC_ALL=C.UTF-8 and TZ=UTC; standard output and error together.
inline std::string runTool(const std::string& command, int* status = nullptr) {
  return test::runReader({"/bin/sh", "-c", command}, status);
}

}  // namespace quillion::testing

#define QUILLION_NEED_TOOL(name) \
  if (!::quillion::testing::haveTool(name)) GTEST_SKIP() << name << " is not installed"
