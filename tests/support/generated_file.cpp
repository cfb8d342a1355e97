// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/generated_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quillion::test {
namespace fs = std::filesystem;

namespace {

// The tool as found on PATH, with its size and change time: a new ffmpeg makes new files.
std::string toolIdentity(const std::string& name) {
  const fs::path tool = findTool(name);
  struct stat st {};
  if (tool.empty() || ::stat(tool.c_str(), &st) != 0) return {};
  return tool.string() + '\x1f' + std::to_string(st.st_size) + '\x1f' +
         std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

fs::path cacheFolder() {
  const char* build = std::getenv("QUILLION_BINARY_DIR");
  if (!build || !*build) return {};
  return fs::path(build) / "test-cache";
}

// Written under a name of this process's own, then renamed: processes that make the same
// file at once each finish a whole one, and a reader never sees half of one.
bool publish(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) fs::remove(from, ec);
  return !ec;
}

fs::path privateName(const fs::path& folder, const std::string& stem, const std::string& ext) {
  static std::atomic<unsigned> counter{0};
  return folder /
         (stem + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ext);
}

}  // namespace

bool generatorIsCacheable(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return false;
  bool synthetic = false;
  for (std::size_t i = 1; i + 1 < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.empty()) continue;
    if (a == "-i") {
      if (i < 3 || argv[i - 2] != "-f" || argv[i - 1] != "lavfi") return false;
      synthetic = true;
    } else if (a.front() == '/') {
      // A second output, or a file read some other way: not ours to key by text.
      return false;
    }
  }
  return synthetic && fs::path(argv.back()).is_absolute();
}

ToolResult runGenerator(const std::vector<std::string>& argv) {
  const fs::path folder = cacheFolder();
  if (folder.empty() || !generatorIsCacheable(argv)) return runTool(argv);
  const std::string identity = toolIdentity(argv.front());
  if (identity.empty()) return runTool(argv);

  const fs::path output = argv.back();
  const std::string ext = output.extension().string();
  std::string key = identity;
  for (std::size_t i = 1; i + 1 < argv.size(); ++i) key += '\x1f' + argv[i];
  key += '\x1f' + ext;
  char stem[17];
  std::snprintf(stem, sizeof stem, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
  const fs::path data = folder / (std::string(stem) + ext);
  const fs::path keyFile = folder / (std::string(stem) + ".key");

  std::error_code ec;
  if (fs::exists(data, ec) && readText(keyFile) == key) {
    fs::copy_file(data, output, fs::copy_options::overwrite_existing, ec);
    if (!ec) return ToolResult{0, {}, {}};
  }

  fs::create_directories(folder, ec);
  // The tool writes to a private name with the same extension (ffmpeg picks its format by
  // it), and the test gets a copy, so no test can change what another reads.
  const fs::path made = privateName(folder, stem, ext);
  std::vector<std::string> run = argv;
  run.back() = made.string();
  ToolResult result = runTool(run);
  if (result.exitCode != 0) {
    fs::remove(made, ec);
    return result;
  }
  fs::copy_file(made, output, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    fs::remove(made, ec);
    return ToolResult{1, "could not copy the generated file: " + ec.message(), {}};
  }
  const fs::path keyPart = privateName(folder, stem, ".key");
  writeFile(keyPart, key);
  // The data first: a key without its data is never taken, data without its key is made again.
  if (publish(made, data))
    publish(keyPart, keyFile);
  else
    fs::remove(keyPart, ec);
  return result;
}

}  // namespace quillion::test
