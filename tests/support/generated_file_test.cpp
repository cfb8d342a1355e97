// SPDX-License-Identifier: GPL-2.0-or-later
// The fixture cache shared by test processes: a command made of synthetic sources runs once
// per build and tool, every caller gets its own copy, and anything else always runs.
#include "tests/support/generated_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

// A stand-in generator on PATH: writes its arguments to the last one and counts its runs in
// the file that GEN_RUNS names; "-fail" makes it fail without writing.
class FakeGenerator : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path bin = tools_.file("bin");
    fs::create_directory(bin);
    writeFile(bin / "qgen",
              "#!/bin/sh\n"
              "echo run >> \"$GEN_RUNS\"\n"
              "for last; do :; done\n"
              "case \" $* \" in *' -fail '*) exit 3;; esac\n"
              "echo \"$*\" > \"$last\"\n");
    ::chmod((bin / "qgen").c_str(), 0755);
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    ::setenv("PATH", (bin.string() + ":" + oldPath_).c_str(), 1);
    ::setenv("GEN_RUNS", tools_.file("runs").c_str(), 1);
    ::setenv("QUILLION_BINARY_DIR", build_.path().c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    ::unsetenv("GEN_RUNS");
    ::unsetenv("QUILLION_BINARY_DIR");
  }
  std::size_t runs() const {
    const std::string text = readText(tools_.file("runs"));
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }
  std::vector<std::string> synthetic(const std::string& source, const fs::path& out) const {
    return {"qgen", "-f", "lavfi", "-i", source, "-r", "30000/1001", out.string()};
  }

  TempDir tools_, build_, work_;
  std::string oldPath_;
};

TEST_F(FakeGenerator, ASyntheticCommandRunsOnceAndEveryCallerGetsItsOwnCopy) {
  const fs::path a = work_.file("a.mpg"), b = work_.file("b.mpg");
  ASSERT_EQ(runGenerator(synthetic("testsrc", a)).exitCode, 0);
  ASSERT_EQ(runGenerator(synthetic("testsrc", b)).exitCode, 0);
  EXPECT_EQ(runs(), 1u);
  EXPECT_EQ(readText(b), readText(a));
  EXPECT_NE(readText(a).find("testsrc"), std::string::npos);

  // A copy, not a link: what one test does to its file reaches no other.
  writeFile(a, "changed");
  const fs::path c = work_.file("c.mpg");
  ASSERT_EQ(runGenerator(synthetic("testsrc", c)).exitCode, 0);
  EXPECT_EQ(readText(c), readText(b));
  EXPECT_EQ(runs(), 1u);
}

TEST_F(FakeGenerator, AnotherSourceOrExtensionRunsAgain) {
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("a.mpg"))).exitCode, 0);
  ASSERT_EQ(runGenerator(synthetic("sine", work_.file("b.mpg"))).exitCode, 0);
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("c.ts"))).exitCode, 0);
  EXPECT_EQ(runs(), 3u);
}

TEST_F(FakeGenerator, AFailureIsAnsweredAndNotKept) {
  std::vector<std::string> argv = synthetic("testsrc", work_.file("a.mpg"));
  argv.insert(argv.end() - 1, "-fail");
  EXPECT_EQ(runGenerator(argv).exitCode, 3);
  EXPECT_EQ(runGenerator(argv).exitCode, 3);
  EXPECT_EQ(runs(), 2u);
  EXPECT_FALSE(fs::exists(work_.file("a.mpg")));
}

TEST_F(FakeGenerator, WithoutABuildFolderEveryCallRuns) {
  ::unsetenv("QUILLION_BINARY_DIR");
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("a.mpg"))).exitCode, 0);
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("b.mpg"))).exitCode, 0);
  EXPECT_EQ(runs(), 2u);
}

TEST_F(FakeGenerator, ADamagedKeyMakesTheFileAgain) {
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("a.mpg"))).exitCode, 0);
  for (const auto& entry : fs::directory_iterator(build_.path() / "test-cache"))
    if (entry.path().extension() == ".key") writeFile(entry.path(), "something else");
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("b.mpg"))).exitCode, 0);
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(readText(work_.file("b.mpg")).rfind("-f lavfi -i testsrc", 0), 0u);
  // The file made again is kept under the right key this time.
  ASSERT_EQ(runGenerator(synthetic("testsrc", work_.file("c.mpg"))).exitCode, 0);
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(readText(work_.file("c.mpg")), readText(work_.file("b.mpg")));
}

TEST(GeneratorIsCacheable, OnlySyntheticSourcesAndOneOutput) {
  struct Case {
    std::vector<std::string> argv;
    bool cacheable;
  };
  const Case cases[] = {
      {{"ffmpeg", "-f", "lavfi", "-i", "sine=r=48000", "-c:a", "mp2", "/t/a.mp2"}, true},
      {{"ffmpeg", "-f", "lavfi", "-i", "testsrc=rate=30000/1001", "-f", "lavfi", "-i", "sine",
        "-target", "ntsc-dvd", "/t/a.mpg"},
       true},
      {{"ffmpeg", "-i", "/t/in.wav", "/t/a.mp2"}, false},               // a file read
      {{"ffmpeg", "-f", "wav", "-i", "/t/in.wav", "/t/a.mp2"}, false},  // not lavfi
      {{"ffmpeg", "-f", "lavfi", "-i", "sine", "/t/a.mp2", "-map", "0", "/t/b.mp2"}, false},
      {{"ffmpeg", "-c:a", "mp2", "/t/a.mp2"}, false},  // nothing synthetic
      {{"ffmpeg", "-f", "lavfi", "-i", "sine", "relative.mp2"}, false},
      {{"ffmpeg"}, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.argv) shown += a + ' ';
    EXPECT_EQ(generatorIsCacheable(c.argv), c.cacheable) << shown;
  }
}

}  // namespace
