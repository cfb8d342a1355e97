// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

// Only the library's own family may be visible: the byte streams and the scaffolding it
// carries stay private, so two libraries in one process never bind each other's copies.
TEST(GantrelLibrary, ExportsOnlyItsPcmFunctions) {
  QUILLION_REQUIRE_TOOL("nm");
  const auto r = quillion::test::exportedNames(GANTREL_LIBRARY);
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  int exported = 0;
  for (const std::string& name : r.names) {
    EXPECT_EQ(name.rfind("pcmOutAudio", 0), 0u) << "exported: " << name;
    ++exported;
  }
  EXPECT_EQ(exported, 11);
}

}  // namespace
