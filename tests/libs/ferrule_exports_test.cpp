// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "audio_oracle.h"
#include "test_files.h"

namespace {

using quillion::test::haveTool;
using quillion::test::runCommand;

// Only the library's own family may be visible: the byte streams and the scaffolding it
// carries stay private, so two libraries in one process never bind each other's copies.
TEST(FerruleLibrary, ExportsOnlyItsMpegFunctions) {
  if (!haveTool("nm")) GTEST_SKIP() << "nm is not installed";
  const auto r = runCommand(std::string("nm -D --defined-only \"") + FERRULE_LIBRARY + "\"");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::istringstream lines(r.output);
  std::string line;
  int exported = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty() || name.rfind("_", 0) == 0) continue;  // toolchain and sanitizer symbols
    EXPECT_EQ(name.rfind("mpegOutAudio", 0), 0u) << "exported: " << line;
    ++exported;
  }
  EXPECT_EQ(exported, 11);
}

}  // namespace
