// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/iso_fixture.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace quillion::test {

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

Listing xorrisoListing(const std::string& image, const std::vector<std::string>& load) {
  std::vector<std::string> argv = {"xorriso", "-indev", image};
  argv.insert(argv.end(), load.begin(), load.end());
  argv.insert(argv.end(), {"-find", "/", "-exec", "lsdl", "--"});
  const std::string out = runReader(argv);
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

namespace {

// The first `count` fields of `line` separated by blanks, and what follows the last of them
// after one blank. False when the line has fewer fields.
bool splitFields(const std::string& line, std::size_t count, std::vector<std::string>& fields,
                 std::string& rest) {
  fields.clear();
  std::size_t at = 0;
  while (fields.size() < count) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) return false;
    const std::size_t end = std::min(line.find(' ', at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  rest = at < line.size() ? line.substr(at + 1) : std::string();
  return true;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

// "drwx------  4 0  0  2048 Dec 10 14:05 name"
Listing bsdtarListing(const std::string& image) {
  const std::string out = runReader({"bsdtar", "-tvf", image});
  Listing listing;
  std::istringstream lines(out);
  std::string line, name;
  std::vector<std::string> f;
  while (std::getline(lines, line)) {
    if (!splitFields(line, 8, f, name) || !allDigits(f[4]) || name.empty() || name == ".") continue;
    const bool folder = f[0][0] == 'd';
    listing[name + (folder ? "/" : "")] = folder ? 0 : std::stoull(f[4]);
  }
  return listing;
}

// "----------   0    0    0     8192 Dec 10 2026 [     48 00]  NAME.EXT;1 "
std::map<std::string, std::vector<IsoinfoEntry>> isoinfoListing(
    const std::string& image, const std::vector<std::string>& options) {
  std::vector<std::string> argv = {"isoinfo"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"-l", "-i", image});
  const std::string out = runReader(argv);
  const std::string header = "Directory listing of ";
  std::map<std::string, std::vector<IsoinfoEntry>> dirs;
  std::string current, line, after;
  std::istringstream lines(out);
  std::vector<std::string> f, g;
  while (std::getline(lines, line)) {
    if (line.rfind(header, 0) == 0) {
      current = line.substr(header.size());
      dirs[current];
      continue;
    }
    const auto bracket = line.find('[');
    if (bracket == std::string::npos || !splitFields(line.substr(0, bracket), 8, f, after) ||
        !allDigits(f[4]) || !splitFields(line.substr(bracket + 1), 2, g, after))
      continue;
    const std::string name = trimmed(after);
    if (name == "." || name == "..") continue;
    std::string flags = g[1];
    if (!flags.empty() && flags.back() == ']') flags.pop_back();
    dirs[current].push_back({name, std::stoull(f[4]), static_cast<std::uint32_t>(std::stoul(g[0])),
                             static_cast<unsigned>(std::stoul(flags, nullptr, 16))});
  }
  return dirs;
}

std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> reportedExtents(
    const std::string& report) {
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> reported;
  const std::string label = "File data lba:";
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(label, 0) != 0) continue;
    std::vector<std::string> parts;
    std::istringstream fields(line.substr(label.size()));
    for (std::string part; parts.size() < 4 && std::getline(fields, part, ',');)
      parts.push_back(trimmed(part));
    const auto open = line.find("'/"), close = line.rfind('\'');
    if (parts.size() < 4 || open == std::string::npos || close <= open) continue;
    auto& entry = reported[line.substr(open + 2, close - open - 2)];
    if (parts[0] == "0") entry.first = static_cast<std::uint32_t>(std::stoul(parts[1]));
    entry.second += static_cast<std::uint32_t>(std::stoul(parts[2]));
  }
  return reported;
}

bool isLevel1Identifier(const std::string& name, bool folder) {
  const auto dChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '~';
  };
  const auto span = [&](const std::string& part, std::size_t min, std::size_t max) {
    return part.size() >= min && part.size() <= max && std::all_of(part.begin(), part.end(), dChar);
  };
  if (folder) return span(name, 1, 8);
  const auto dot = name.find('.');
  const auto version = name.rfind(";1");
  if (dot == std::string::npos || version == std::string::npos || version + 2 != name.size())
    return false;
  return span(name.substr(0, dot), 1, 8) && span(name.substr(dot + 1, version - dot - 1), 0, 3);
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

}  // namespace quillion::test
