// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/hfs_fixture.h"

#include <sys/xattr.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace quillion::test {
namespace {

void setAttribute(const fs::path& file, const char* name, const std::string& value) {
  if (::setxattr(file.c_str(), name, value.data(), value.size(), 0) != 0)
    throw std::runtime_error(std::string("setxattr ") + name + " failed on " + file.string());
}

// Splits an hls line into its columns, the name being the rest of the line.
std::vector<std::string> columns(const std::string& line, std::size_t count) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (out.size() + 1 < count && at < line.size()) {
    while (at < line.size() && line[at] == ' ') ++at;
    const std::size_t end = line.find(' ', at);
    out.push_back(line.substr(at, end - at));
    at = end == std::string::npos ? line.size() : end;
  }
  while (at < line.size() && line[at] == ' ') ++at;
  out.push_back(line.substr(std::min(at, line.size())));
  return out;
}

std::string fromMacRoman(const std::string& bytes, const fs::path& scratch) {
  writeFile(scratch, bytes);
  return toolOutput({"iconv", "-f", "MACINTOSH", "-t", "UTF-8", scratch.string()});
}

}  // namespace

std::vector<MacEntry> macFixture() {
  std::vector<MacEntry> e = {
      {"empty.txt", "", "", ""},
      {"one.bin", "x", "", ""},
      {"b511.bin", patternBytes(511, 2), "", ""},
      {"b2048.bin", patternBytes(2048, 3), "", ""},
      {"b2049.bin", patternBytes(2049, 4), "", ""},
      {"b4097.bin", patternBytes(4097, 5), "", ""},
      {"big.bin", patternBytes(900000, 6), "", ""},
      {"Docs/", "", "", ""},
      {"Docs/readme.txt", "Read me.\n", "TEXTttxt", ""},
      {"Docs/Deep/", "", "", ""},
      {"Docs/Deep/Deeper/", "", "", ""},
      {"Docs/Deep/Deeper/leaf.dat", patternBytes(3000, 7), "", ""},
      {"Empty/", "", "", ""},
      {"Forked.rsrc", patternBytes(1000, 8), "APPLMYAP", patternBytes(3000, 9)},
      {"Only resource", "", "rsrcRSED", patternBytes(700, 10)},
      {"A name that is far too long for HFS, number one.txt", "first long\n", "", ""},
      {"A name that is far too long for HFS, number two.txt", "second long\n", "", ""},
      {"Café crème.txt", "accents\n", "", ""},
      {"Accents/", "", "", ""},
      {"Accents/naïve.txt", "naive\n", "", ""},
      {"Ne\u0301e.txt", "decomposed\n", "", ""},
      {"N\u00e9e.txt", "composed\n", "", ""},
  };
  for (int i = 0; i < 70; ++i) {
    const std::string name = "Many/file " + std::to_string(1000 + i) + ".dat";
    e.push_back({name, patternBytes(static_cast<std::size_t>(i * 97), 20 + i), "", ""});
  }
  e.push_back({"Many/", "", "", ""});
  return e;
}

void writeMacFixture(const fs::path& root, const std::vector<MacEntry>& entries) {
  fs::create_directories(root);
  for (const MacEntry& e : entries) {
    const fs::path p = root / e.path;
    if (!e.path.empty() && e.path.back() == '/') {
      fs::create_directories(p);
      continue;
    }
    fs::create_directories(p.parent_path());
    writeFile(p, e.bytes);
    if (!e.typeCreator.empty()) {
      std::string info(32, '\0');
      info.replace(0, 8, e.typeCreator);
      setAttribute(p, "user.com.apple.FinderInfo", info);
    }
    if (!e.resource.empty()) setAttribute(p, "user.com.apple.ResourceFork", e.resource);
  }
}

std::map<std::string, std::string> dataForks(const std::vector<MacEntry>& entries) {
  std::map<std::string, std::string> out;
  for (const MacEntry& e : entries) out[e.path] = e.bytes;
  return out;
}

std::map<std::string, HlsEntry> hfsListing(const fs::path& image, const fs::path& home) {
  int status = 0;
  const std::string mounted = runReader({"hmount", image.string()}, &status, home);
  if (status != 0) throw std::runtime_error("hmount failed: " + mounted);
  ToolOptions options{.environment = {{"LC_ALL", "C"}, {"TZ", "UTC"}, {"HOME", home.string()}},
                      .separateErrors = true};
  const ToolResult listed = runTool({"hls", "-laR"}, options);
  if (listed.exitCode != 0) throw std::runtime_error("hls failed: " + listed.errors);
  std::istringstream lines(listed.output);
  std::string line, folder;  // folder: ":Docs:Deep:" in Mac Roman, ":" for the root
  folder = ":";
  std::vector<HlsEntry> entries;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.front() == ':' && line.back() == ':') {
      folder = line;
      continue;
    }
    HlsEntry entry;
    if (line[0] == 'd') {
      const auto c = columns(line, 7);  // d, count, item(s), month, day, time or year, name
      entry.folder = true;
      entry.macPath = folder + c.back();
    } else {
      const auto c = columns(line, 8);  // f, type/creator, rsrc, data, month, day, time, name
      entry.typeCreator = c[1];
      entry.rsrcBytes = std::stoull(c[2]);
      entry.dataBytes = std::stoull(c[3]);
      entry.macPath = folder + c.back();
    }
    entries.push_back(entry);
  }
  // Every path through iconv at once: the names as a Macintosh reader shows them.
  std::string raw;
  for (const HlsEntry& e : entries) raw += e.macPath.substr(1) + "\n";
  std::istringstream converted(fromMacRoman(raw, home / "names.txt"));
  std::map<std::string, HlsEntry> out;
  for (const HlsEntry& e : entries) {
    std::string path;
    std::getline(converted, path);
    for (char& c : path)
      if (c == ':') c = '/';
    out[path + (e.folder ? "/" : "")] = e;
  }
  return out;
}

std::map<std::string, std::string> hfsExtract(const std::map<std::string, HlsEntry>& listing,
                                              const fs::path& home, const fs::path& into) {
  std::map<std::string, std::string> out;
  fs::create_directories(into);
  int n = 0;
  for (const auto& [path, entry] : listing) {
    if (entry.folder) {
      out[path] = "";
      continue;
    }
    const fs::path target = into / ("f" + std::to_string(n++));
    int status = 0;
    const std::string said =
        runReader({"hcopy", "-r", entry.macPath, target.string()}, &status, home);
    out[path] = status == 0 ? readText(target) : "hcopy failed: " + said;
  }
  return out;
}

}  // namespace quillion::test
