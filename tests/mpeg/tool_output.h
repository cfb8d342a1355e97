// SPDX-License-Identifier: GPL-2.0-or-later
// Runs an outside checker through the shell and splits its "key=value|key=value" lines.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quillion::test {

// Standard output of `command`; *status gets its exit status when given.
inline std::string runTool(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

using Fields = std::map<std::string, std::string>;

// One map per line of ffprobe's "compact=p=0" output; lines without '=' are dropped.
inline std::vector<Fields> compactLines(const std::string& text) {
  std::vector<Fields> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    Fields row;
    std::istringstream parts(line);
    std::string part;
    while (std::getline(parts, part, '|')) {
      const auto eq = part.find('=');
      if (eq != std::string::npos) row[part.substr(0, eq)] = part.substr(eq + 1);
    }
    if (!row.empty()) rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace quillion::test
