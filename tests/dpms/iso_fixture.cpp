// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/iso_fixture.h"

#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace quillion::testing {

std::vector<FixtureEntry> richFixture() {
  std::vector<FixtureEntry> e;
  unsigned seed = 1;
  const auto same = [&](const std::string& path, std::size_t size) {
    e.push_back({path, path, patternBytes(size, seed++)});
  };
  const auto renamed = [&](const std::string& path, const std::string& joliet, std::size_t size) {
    e.push_back({path, joliet, patternBytes(size, seed++)});
  };
  same("empty.txt", 0);
  same("docs/guides/Readme.md", 300);
  same("docs/also empty", 0);
  e.push_back({"empty folder/", "empty folder/", ""});
  for (const std::size_t size : {1, 2047, 2048, 2049, 4095, 4096, 4097, 10000})
    same("sizes/size_" + std::to_string(size) + ".bin", size);
  for (int i = 0; i < 130; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "many/file_%03d.dat", i);
    same(name, 40 + i);
  }
  // One 8.3 name for three titles; Joliet keeps them apart.
  same("clash/Report 2023.txt", 11);
  same("clash/Report_2023.txt", 12);
  same("clash/Report-2023.txt", 13);
  // One Joliet name for two titles each: ':' becomes '_', and case is folded.
  renamed("clash/a:b.txt", "clash/a_b.txt", 14);
  renamed("clash/a_b.txt", "clash/a_b1.txt", 15);
  renamed("clash/\xC3\x89t\xC3\xA9.txt", "clash/\xC3\x89t\xC3\xA9.txt", 16);  // Été
  renamed("clash/\xC3\xA9t\xC3\xA9.txt",
          "clash/\xC3\xA9t\xC3\xA9"
          "1.txt",
          17);                                                                    // été
  same("\xE5\x90\x8D\xE5\x89\x8D/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 18);  // 名前/日本語
  same("\xF0\x9F\x8E\xB5 music.mp3", 19);                                         // 🎵
  renamed(std::string(70, 'L') + ".txt", std::string(60, 'L') + ".txt", 20);
  renamed(std::string(66, 'x') + "A.txt", std::string(60, 'x') + ".txt", 21);
  renamed(std::string(66, 'x') + "B.txt", std::string(59, 'x') + "1.txt", 22);
  same("d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/deep.txt", 23);
  return e;
}

void writeFixture(const std::string& root, const std::vector<FixtureEntry>& entries) {
  for (const FixtureEntry& entry : entries) {
    const fs::path path = fs::path(root) / entry.source;
    if (entry.source.back() == '/') {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    writeFile(path.string(), entry.bytes);
  }
}

namespace {

void addFolders(std::map<std::string, std::string>& tree, const std::string& path) {
  for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
    tree[path.substr(0, at + 1)] = "";
}

}  // namespace

std::map<std::string, std::string> expectedJolietTree(const std::vector<FixtureEntry>& entries) {
  std::map<std::string, std::string> tree;
  for (const FixtureEntry& entry : entries) {
    addFolders(tree, entry.joliet);
    tree[entry.joliet] = entry.bytes;
  }
  return tree;
}

Listing expectedListing(const std::vector<FixtureEntry>& entries) {
  Listing listing;
  for (const auto& [path, bytes] : expectedJolietTree(entries))
    listing[path] = path.back() == '/' ? 0 : bytes.size();
  return listing;
}

Listing xorrisoListing(const std::string& image, const std::string& load) {
  const std::string out =
      runTool("xorriso -indev " + quoted(image) + " " + load + " -find / -exec lsdl --");
  Listing listing;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 12 || (line[0] != 'd' && line[0] != '-') || line[1] == '-') continue;
    const auto open = line.find('\''), close = line.rfind('\'');
    if (open == std::string::npos || close <= open) continue;
    std::string path = line.substr(open + 2, close - open - 2);  // without the leading '/'
    std::istringstream fields(line.substr(0, open));
    std::string f;
    std::vector<std::string> parts;
    while (fields >> f) parts.push_back(f);
    if (path.empty() || parts.size() < 5) continue;
    if (line[0] == 'd') path += '/';
    listing[path] = line[0] == 'd' ? 0 : std::stoull(parts[4]);
  }
  return listing;
}

Listing bsdtarListing(const std::string& image) {
  const std::string out = runTool("bsdtar -tvf " + quoted(image));
  static const std::regex row(R"(^(\S)\S+\s+\d+\s+\S+\s+\S+\s+(\d+)\s+\S+\s+\d+\s+\S+\s(.*)$)");
  Listing listing;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row) || m[3] == ".") continue;
    const bool folder = m[1] == "d";
    listing[m[3].str() + (folder ? "/" : "")] = folder ? 0 : std::stoull(m[2]);
  }
  return listing;
}

std::map<std::string, std::vector<IsoinfoEntry>> isoinfoListing(const std::string& image,
                                                                const std::string& options) {
  const std::string out = runTool("isoinfo " + options + " -l -i " + quoted(image));
  static const std::regex header(R"(^Directory listing of (.*)$)");
  static const std::regex row(
      R"(^[d-]\S+\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\S+\s+\d+\s+\d+\s+\[\s*(\d+)\s+([0-9A-F]+)\]?\s+(.*?) ?$)");
  std::map<std::string, std::vector<IsoinfoEntry>> dirs;
  std::string current;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, header)) {
      current = m[1];
      dirs[current];
    } else if (std::regex_match(line, m, row) && m[4] != "." && m[4] != "..") {
      dirs[current].push_back({m[4], std::stoull(m[1]),
                               static_cast<std::uint32_t>(std::stoul(m[2])),
                               static_cast<unsigned>(std::stoul(m[3], nullptr, 16))});
    }
  }
  return dirs;
}

std::multiset<std::string> contentsWithDepth(const std::map<std::string, std::string>& tree) {
  std::multiset<std::string> out;
  for (const auto& [path, bytes] : tree) {
    if (path.back() == '/') continue;
    const auto depth = std::count(path.begin(), path.end(), '/');
    out.insert(std::to_string(depth) + ":" + bytes);
  }
  return out;
}

}  // namespace quillion::testing
