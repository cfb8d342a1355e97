// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

// Only the multiplexer's own family is visible: its byte streams and scaffolding stay private.
TEST(CorvelLibrary, ExportsOnlyItsMuxFunctions) {
  QUILLION_REQUIRE_TOOL("nm");
  const auto r = quillion::test::exportedNames(CORVEL_LIBRARY);
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  std::set<std::string> exported;
  for (const std::string& name : r.names) {
    EXPECT_EQ(name.rfind("mpegOutMux", 0), 0u) << "exported: " << name;
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
