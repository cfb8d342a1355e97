// SPDX-License-Identifier: GPL-2.0-or-later
#include "tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace quillion::test {

bool toolAvailable(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

ToolResult runTool(const std::vector<std::string>& argv) {
  ToolResult result;
  if (argv.empty()) return result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillion-mp3-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

void readFloats(const std::filesystem::path& raw, std::vector<float>* samples) {
  samples->clear();
  const std::vector<std::uint8_t> bytes = readFile(raw);
  samples->resize(bytes.size() / sizeof(float));
  if (!samples->empty()) std::memcpy(samples->data(), bytes.data(), samples->size() * sizeof(float));
}

}  // namespace

ToolResult decodeToFloat(const std::filesystem::path& stream, const std::filesystem::path& raw,
                         std::vector<float>* samples) {
  ToolResult r = runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-err_detect", "explode", "-i",
                          stream.string(), "-f", "f32le", raw.string()});
  readFloats(raw, samples);
  return r;
}

ToolResult decodeToFloatMpg123(const std::filesystem::path& stream,
                               const std::filesystem::path& raw, std::vector<float>* samples) {
  ToolResult r =
      runTool({"mpg123", "--no-gapless", "-e", "f32", "-O", raw.string(), stream.string()});
  readFloats(raw, samples);
  return r;
}

std::string mp3valWarnings(const std::filesystem::path& file) {
  const ToolResult val = runTool({"mp3val", file.string()});
  std::string warnings;
  std::istringstream report(val.output);
  for (std::string line; std::getline(report, line);) {
    if (line.find("WARNING") != std::string::npos &&
        line.find("No supported tags") == std::string::npos) {
      warnings += line + "\n";
    }
  }
  return warnings;
}

}  // namespace quillion::test
