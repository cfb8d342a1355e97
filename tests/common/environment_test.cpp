// SPDX-License-Identifier: GPL-2.0-or-later
// Tests find fixtures and built helpers through these two variables; both must arrive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(TestEnvironment, SourceAndBinaryFoldersReachEveryTest) {
  const char* source = std::getenv("QUILLION_SOURCE_DIR");
  const char* binary = std::getenv("QUILLION_BINARY_DIR");
  ASSERT_NE(source, nullptr);
  ASSERT_NE(binary, nullptr);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(source) / "CMakeLists.txt"));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(binary) / "CMakeCache.txt"));
}
