// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

using quillion::test::runTool;

// Only the multiplexer's own family is visible: its byte streams and scaffolding stay private.
TEST(CorvelLibrary, ExportsOnlyItsMuxFunctions) {
  QUILLION_REQUIRE_TOOL("nm");
  const auto r = runTool({"nm", "-D", "--defined-only", CORVEL_LIBRARY}, {.separateErrors = true});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  std::istringstream lines(r.output);
  std::set<std::string> exported;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty() || name.rfind("_", 0) == 0) continue;  // toolchain and sanitizer symbols
    EXPECT_EQ(name.rfind("mpegOutMux", 0), 0u) << "exported: " << line;
    exported.insert(name);
  }
  const std::set<std::string> expected = {"mpegOutMuxDefaults",      "mpegOutMuxChkSettings",
                                          "mpegOutMuxCheckSettings", "mpegOutMuxCheckFirst",
                                          "mpegOutMuxCheckNext",     "mpegOutMuxGetLastErrString",
                                          "mpegOutMuxNew",           "mpegOutMuxFree",
                                          "mpegOutMuxInitFile",      "mpegOutMuxInitFileBS",
                                          "mpegOutMuxInitNames",     "mpegOutMuxAddFile",
                                          "mpegOutMuxAddFileBS",     "mpegOutMux",
                                          "mpegOutMuxDone",          "mpegOutMuxAuxinfo",
                                          "mpegOutMuxInit",          "mpegOutMuxInitStream",
                                          "mpegOutMuxAddStream"};
  EXPECT_EQ(exported, expected);
}

}  // namespace
