// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/mount_table.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quillion {
namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescape(std::string_view field) {
  std::string out;
  const auto octal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
      i += 3;
      continue;
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> table;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const auto f = fields(text.substr(at, end - at));
    at = end + 1;
    // id parent major:minor root target options [optional...] - type source super-options
    const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
    if (f.size() < 5 || dash == f.end() || dash + 2 >= f.end()) continue;
    table.push_back({unescape(*(dash + 2)), unescape(f[4])});
  }
  return table;
}

std::vector<MountEntry> readMountTable(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return parseMountInfo(text.str());
}

std::string wholeDiskInSysfs(std::string_view name, const std::filesystem::path& sysBlock) {
  std::error_code ec;
  const auto dir = sysBlock / std::string(name);
  if (name.empty() || name.find('/') != std::string_view::npos || !std::filesystem::exists(dir, ec)) return {};
  if (!std::filesystem::exists(dir / "partition", ec)) return std::string(name);
  return std::filesystem::canonical(dir, ec).parent_path().filename().string();
}

std::vector<std::string> partitionsInSysfs(std::string_view disk, const std::filesystem::path& sysBlock) {
  std::vector<std::string> out;
  std::error_code ec;
  const auto dir = std::filesystem::canonical(sysBlock / std::string(disk), ec);
  if (ec) return out;
  for (const auto& child : std::filesystem::directory_iterator(dir, ec)) {
    if (std::filesystem::exists(child.path() / "partition", ec)) out.push_back(child.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<MountEntry> mountsOf(const std::vector<MountEntry>& table, std::string_view name,
                                 const std::vector<std::string>& also) {
  std::vector<MountEntry> out;
  const auto matches = [&](const std::string& source) {
    if (source == "/dev/" + std::string(name)) return true;
    return std::any_of(also.begin(), also.end(), [&](const std::string& p) { return source == "/dev/" + p; });
  };
  for (const auto& m : table)
    if (matches(m.source)) out.push_back(m);
  return out;
}

}  // namespace quillion
