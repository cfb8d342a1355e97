// SPDX-License-Identifier: GPL-2.0-or-later
// What every test suite shares: a private temporary folder, running an outside tool from
// its argument list (never through a shell), skipping a test when a tool is missing, and
// whole-file reads and writes.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillion::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object
// goes, even when a test took permissions away from what it made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path file(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct ToolResult {
  // The tool's exit code; 128 + signal when a signal ended it; 127 when it could not be
  // started; -1 when no process could be made.
  int exitCode = -1;
  std::string output;  // standard output, and standard error too unless separateErrors
  std::string errors;  // standard error when separateErrors
};

struct ToolOptions {
  std::filesystem::path workingDirectory{};  // empty: the test's own
  // Set in the tool's environment on top of the test's own.
  std::vector<std::pair<std::string, std::string>> environment{};
  bool separateErrors = false;
};

// Runs argv[0], looked up on PATH, with the given arguments and standard input from
// /dev/null; waits for it and answers its exit code and what it printed.
[[nodiscard]] ToolResult runTool(const std::vector<std::string>& argv,
                                 const ToolOptions& options = {});

// Only what the tool wrote to standard output, for callers that parse it; its standard
// error is dropped.
[[nodiscard]] std::string toolOutput(const std::vector<std::string>& argv,
                                     ToolOptions options = {});

// Where `name` is found on PATH as an executable file; empty when nowhere.
[[nodiscard]] std::filesystem::path findTool(const std::string& name);
// True when findTool finds `name`.
[[nodiscard]] bool toolAvailable(const std::string& name);

[[nodiscard]] std::vector<std::uint8_t> readFile(const std::filesystem::path& path);
[[nodiscard]] std::string readText(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// The names a shared library exports (`nm -D --defined-only`), less the toolchain's and the
// sanitizers' own, which begin with "_". exitCode and errors are nm's.
struct ExportedNames {
  int exitCode = -1;
  std::string errors;
  std::vector<std::string> names;
};
[[nodiscard]] ExportedNames exportedNames(const std::filesystem::path& library);

// Lower-case hexadecimal of `bytes`, two digits a byte.
[[nodiscard]] std::string hexOf(std::string_view bytes);

// A message a library under test formats printf-style through a callback of ours, as text.
// Checked like printf by the compiler: the format comes from the library.
[[nodiscard]] std::string formatted(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));

// `size` bytes that differ from offset to offset and from seed to seed.
[[nodiscard]] std::string patternBytes(std::size_t size, unsigned seed = 1);

}  // namespace quillion::test

// Skips the current test (reported to CTest as skipped) when `name` is not installed.
#define QUILLION_REQUIRE_TOOL(name)                                                            \
  do {                                                                                         \
    if (!::quillion::test::toolAvailable(name)) GTEST_SKIP() << (name) << " is not installed"; \
  } while (0)
