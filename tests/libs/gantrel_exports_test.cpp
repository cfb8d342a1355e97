// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

using quillion::test::runTool;

// Only the library's own family may be visible: the byte streams and the scaffolding it
// carries stay private, so two libraries in one process never bind each other's copies.
TEST(GantrelLibrary, ExportsOnlyItsPcmFunctions) {
  QUILLION_REQUIRE_TOOL("nm");
  const auto r = runTool({"nm", "-D", "--defined-only", GANTREL_LIBRARY}, {.separateErrors = true});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  std::istringstream lines(r.output);
  std::string line;
  int exported = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty() || name.rfind("_", 0) == 0) continue;  // toolchain and sanitizer symbols
    EXPECT_EQ(name.rfind("pcmOutAudio", 0), 0u) << "exported: " << line;
    ++exported;
  }
  EXPECT_EQ(exported, 11);
}

}  // namespace
