// SPDX-License-Identifier: GPL-2.0-or-later
// The shared test helpers themselves: tools run from an argument list with their exit code
// and output, PATH lookup, and temporary folders that go away whatever a test left in them.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

TEST(RunTool, ExitCodeAndOutputComeBackWithoutAShell) {
  // The argument reaches the tool as one word: no shell splits or expands it.
  const ToolResult echo = runTool({"printf", "%s|", "a b", "$HOME", "*"});
  EXPECT_EQ(echo.exitCode, 0);
  EXPECT_EQ(echo.output, "a b|$HOME|*|");
  EXPECT_EQ(runTool({"false"}).exitCode, 1);
  EXPECT_EQ(runTool({"sh", "-c", "exit 7"}).exitCode, 7);
  EXPECT_EQ(runTool({"sh", "-c", "kill -TERM $$"}).exitCode, 128 + 15);
  EXPECT_EQ(runTool({"quillion-no-such-tool"}).exitCode, 127);
  EXPECT_EQ(runTool({}).exitCode, -1);
}

TEST(RunTool, StandardErrorTogetherOrApart) {
  const std::vector<std::string> both = {"sh", "-c", "echo out; echo err >&2; echo more"};
  EXPECT_EQ(runTool(both).output, "out\nerr\nmore\n");
  const ToolResult apart = runTool(both, {.separateErrors = true});
  EXPECT_EQ(apart.output, "out\nmore\n");
  EXPECT_EQ(apart.errors, "err\n");
  EXPECT_EQ(toolOutput(both), "out\nmore\n");
}

TEST(RunTool, LargeOutputOnBothStreamsDoesNotStall) {
  // More than a pipe holds on each stream at once.
  const ToolResult r =
      runTool({"sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"},
              {.separateErrors = true});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output.size(), 300000u);
  EXPECT_EQ(r.errors.size(), 300000u);
}

TEST(RunTool, StandardInputIsEmpty) {
  EXPECT_EQ(runTool({"cat"}).output, "");
}

TEST(RunTool, WorkingDirectoryAndEnvironment) {
  TempDir dir;
  const ToolResult where = runTool({"pwd", "-P"}, {.workingDirectory = dir.path()});
  EXPECT_EQ(where.output, fs::canonical(dir.path()).string() + "\n");
  ::setenv("QUILLION_SUPPORT_PROBE", "outer", 1);
  EXPECT_EQ(toolOutput({"printenv", "QUILLION_SUPPORT_PROBE"}), "outer\n");
  EXPECT_EQ(toolOutput({"printenv", "QUILLION_SUPPORT_PROBE"},
                       {.environment = {{"QUILLION_SUPPORT_PROBE", "inner"}}}),
            "inner\n");
  EXPECT_EQ(toolOutput({"printenv", "QUILLION_SUPPORT_EXTRA"},
                       {.environment = {{"QUILLION_SUPPORT_EXTRA", "x"}}}),
            "x\n");
  ::unsetenv("QUILLION_SUPPORT_PROBE");
}

TEST(ToolAvailable, LooksOnPathOnly) {
  EXPECT_TRUE(toolAvailable("sh"));
  EXPECT_FALSE(findTool("sh").empty());
  EXPECT_FALSE(toolAvailable("quillion-no-such-tool"));
  EXPECT_FALSE(toolAvailable("/bin/sh")) << "a path is not a tool name";
  EXPECT_FALSE(toolAvailable(""));
}

TEST(ToolAvailable, RequireToolSkips) {
  QUILLION_REQUIRE_TOOL("quillion-no-such-tool");
  ADD_FAILURE() << "the test should have been skipped";
}

TEST(TempDir, GoesWithEverythingInItEvenWhenLockedUp) {
  fs::path kept;
  {
    TempDir dir;
    kept = dir.path();
    ASSERT_TRUE(fs::is_directory(kept));
    fs::create_directories(dir.file("a/b"));
    writeFile(dir.file("a/b/f.bin"), std::vector<std::uint8_t>{1, 2, 3});
    writeFile(dir.file("a/g.txt"), "text");
    ASSERT_EQ(::chmod(dir.file("a/b").c_str(), 0500), 0);
    ASSERT_EQ(::chmod(dir.file("a").c_str(), 0000), 0);
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(TempDir, MadeUnderTmpdir) {
  TempDir outer;
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before ? before : "";
  ::setenv("TMPDIR", outer.path().c_str(), 1);
  {
    TempDir inner;
    EXPECT_EQ(inner.path().parent_path(), outer.path());
  }
  if (before)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

TEST(Files, BytesAndTextRoundTrip) {
  TempDir dir;
  const std::string text("a\0b\xff", 4);
  writeFile(dir.file("t"), text);
  EXPECT_EQ(readText(dir.file("t")), text);
  EXPECT_EQ(readFile(dir.file("t")), (std::vector<std::uint8_t>{'a', 0, 'b', 0xff}));
  writeFile(dir.file("t"), std::vector<std::uint8_t>{9});
  EXPECT_EQ(readText(dir.file("t")), "\x09") << "a write replaces the whole file";
  EXPECT_TRUE(readFile(dir.file("missing")).empty());
  EXPECT_EQ(hexOf(text), "610062ff");
  EXPECT_EQ(patternBytes(300, 1).size(), 300u);
  EXPECT_NE(patternBytes(300, 1), patternBytes(300, 2));
}

}  // namespace
