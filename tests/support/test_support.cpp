// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quillion::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillion-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a folder in " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have taken permissions away; give them back so everything can go.
  ::chmod(path_.c_str(), 0700);
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored))
    if (!it->is_symlink(ignored) && it->is_directory(ignored)) ::chmod(it->path().c_str(), 0700);
  fs::remove_all(path_, ignored);
}

namespace {

// Closes what it holds when it goes.
struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (::pipe2(fds, O_CLOEXEC) != 0) fds[0] = fds[1] = -1;
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return fds[0] >= 0; }
  void closeRead() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
  }
  void closeWrite() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
  }
};

// Reads both pipes to their ends together, so neither can fill up and stall the tool.
void drain(Pipe& out, Pipe* err, std::string& output, std::string& errors) {
  std::array<pollfd, 2> fds{pollfd{out.fds[0], POLLIN, 0},
                            pollfd{err ? err->fds[0] : -1, POLLIN, 0}};
  std::array<std::string*, 2> sinks{&output, &errors};
  char buffer[8192];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0)
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        fds[i].fd = -1;
    }
  }
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv, const ToolOptions& options) {
  ToolResult result;
  if (argv.empty()) return result;
  Pipe out;
  Pipe err;
  if (!out.ok() || (options.separateErrors && !err.ok())) return result;

  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : options.environment)
      replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) environment.push_back(entry);
  }
  for (const auto& [name, value] : options.environment) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, options.separateErrors ? err.fds[1] : out.fds[1],
                                   STDERR_FILENO);
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  out.closeWrite();
  err.closeWrite();
  if (spawned != 0) {
    result.exitCode = 127;
    return result;
  }
  drain(out, options.separateErrors ? &err : nullptr, result.output, result.errors);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string toolOutput(const std::vector<std::string>& argv, ToolOptions options) {
  options.separateErrors = true;
  return runTool(argv, options).output;
}

fs::path findTool(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty()) {
      const fs::path candidate = fs::path(dir) / name;
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

bool toolAvailable(const std::string& name) {
  return !findTool(name).empty();
}

ExportedNames exportedNames(const fs::path& library) {
  const ToolResult r =
      runTool({"nm", "-D", "--defined-only", library.string()}, {.separateErrors = true});
  ExportedNames out{r.exitCode, r.errors, {}};
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (!name.empty() && name.front() != '_') out.names.push_back(name);
  }
  return out;
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string hexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string patternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

}  // namespace quillion::test
