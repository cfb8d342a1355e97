// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/hfs_fixture.h"

#include <sys/xattr.h>

#include <fstream>
#include <sstream>

#include "DPMs/hfs/catalog_keys.h"
#include "common/byte_order.h"

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

std::vector<MacEntry> macRomanNamesFixture(const fs::path& scratch) {
  std::vector<int> codes;
  std::string raw;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == ':' || b == '/') continue;
    codes.push_back(b);
    raw += static_cast<char>(b);
    raw += '\n';
  }
  std::istringstream utf8(fromMacRoman(raw, scratch));
  std::vector<MacEntry> out = {{"Roman/", "", "", ""}};
  for (const int b : codes) {
    std::string character;
    std::getline(utf8, character);
    const std::string name = character + "-" + hexOf(std::string(1, static_cast<char>(b)));
    out.push_back({"Roman/" + name, name + "\n", "", ""});
  }
  return out;
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

namespace {

using Bytes = std::vector<std::uint8_t>;
using Span = std::span<const std::uint8_t>;

std::string utf8Of(Span units) {
  std::string out;
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const std::uint32_t u = be::get16(units, i);
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | u >> 12);
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

}  // namespace

PlusVolume checkPlusVolume(const Bytes& image) {
  PlusVolume v;
  std::ostringstream bad;
  const Span img(image);
  if (image.size() < 18432 + 2048 || be::get16(img, 0) != 0x4552 || be::get16(img, 512) != 0x504D ||
      be::get32(img, 1024 + 8) != 36) {
    v.problems = "no partition map with a volume at sector 36\n";
    return v;
  }
  const Span volume = img.subspan(18432);
  const Span vh = volume.subspan(1024, 512);
  if (be::get16(vh, 0) != 0x482B || be::get16(vh, 2) != 4) bad << "volume header signature\n";
  if (be::get32(vh, 8) != 0x31302E30) bad << "last mounted version is not 10.0\n";
  v.fileCount = be::get32(vh, 32);
  v.folderCount = be::get32(vh, 36);
  v.blockSize = be::get32(vh, 40);
  v.totalBlocks = be::get32(vh, 44);
  v.nextCatalogID = be::get32(vh, 64);
  if (v.blockSize != 4096) {
    bad << "block size " << v.blockSize << "\n";
    v.problems = bad.str();
    return v;
  }
  if (std::uint64_t{v.totalBlocks} * 4096 != volume.size()) bad << "total blocks != volume size\n";
  if (!std::equal(vh.begin(), vh.end(), volume.end() - 1024)) bad << "alternate header differs\n";
  const auto fork = [&](std::size_t at) {
    return std::pair<std::uint32_t, std::uint32_t>{be::get32(vh, at + 16), be::get32(vh, at + 20)};
  };
  const auto [allocStart, allocBlocks] = fork(112);
  const auto [catStart, catBlocks] = fork(272);
  const Span bitmap =
      volume.subspan(std::size_t{allocStart} * 4096, std::size_t{allocBlocks} * 4096);
  for (std::uint32_t b = 0; b < v.totalBlocks + 8 && b / 8 < bitmap.size(); ++b) {
    const bool set = (bitmap[b / 8] >> (7 - b % 8)) & 1;
    if (set != (b < v.totalBlocks)) {
      bad << "allocation bit " << b << "\n";
      break;
    }
  }
  const Span catalog = volume.subspan(std::size_t{catStart} * 4096, std::size_t{catBlocks} * 4096);
  const Span header = catalog.subspan(0, 4096);
  if (static_cast<std::int8_t>(header[8]) != 1) bad << "catalog header node kind\n";
  const std::uint32_t root = be::get32(header, 16), leafRecords = be::get32(header, 20);
  const std::uint32_t firstLeaf = be::get32(header, 24), lastLeaf = be::get32(header, 28);
  const std::uint32_t nodeSize = be::get16(header, 32), totalNodes = be::get32(header, 36);
  const std::uint32_t attributes = be::get32(header, 14 + 38);
  if (nodeSize != 4096 || totalNodes != catBlocks) bad << "catalog node size or count\n";
  if ((attributes & 6) != 6) bad << "catalog attributes lack big or variable index keys\n";
  const auto node = [&](std::uint32_t n) { return catalog.subspan(std::size_t{n} * 4096, 4096); };
  const auto record = [&](Span nd, std::size_t i) {
    const std::size_t start = be::get16(nd, 4094 - 2 * i), end = be::get16(nd, 4092 - 2 * i);
    return nd.subspan(start, end - start);
  };
  const auto keyOf = [](Span rec) { return rec.subspan(0, 2 + be::get16(rec, 0)); };
  const auto less = [](Span a, Span b) { return hfs::UnicodeKey_Compare{}(a, b); };
  // Leaves in order, keys strictly increasing across the whole chain.
  std::map<std::uint32_t, std::pair<std::uint32_t, std::string>> threads;  // id -> parent, name
  std::vector<std::tuple<std::uint32_t, std::string, Span>> items;         // parent, name, data
  Bytes previous;
  std::uint32_t seen = 0, n = firstLeaf, last = 0, maxID = 0;
  while (n != 0 && n < totalNodes) {
    const Span nd = node(n);
    if (static_cast<std::int8_t>(nd[8]) != -1 || nd[9] != 1) bad << "node " << n << " is no leaf\n";
    const std::uint16_t count = be::get16(nd, 10);
    for (std::size_t i = 0; i < count; ++i) {
      const Span rec = record(nd, i);
      const Span key = keyOf(rec);
      if (!previous.empty() && !less(previous, key))
        bad << "keys out of order in node " << n << "\n";
      previous.assign(key.begin(), key.end());
      const Span data = rec.subspan(key.size());
      const std::uint32_t parent = be::get32(key, 2);
      const std::string name = utf8Of(key.subspan(8, 2 * be::get16(key, 6)));
      const std::int16_t type = static_cast<std::int16_t>(be::get16(data, 0));
      if (type == 3 || type == 4) {
        threads[parent] = {be::get32(data, 4), utf8Of(data.subspan(10, 2 * be::get16(data, 8)))};
      } else {
        items.emplace_back(parent, name, data);
        maxID = std::max(maxID, be::get32(data, 8));
      }
      ++seen;
    }
    last = n;
    n = be::get32(nd, 0);
  }
  if (seen != leafRecords) bad << "leaf records " << seen << " != " << leafRecords << "\n";
  if (last != lastLeaf) bad << "last leaf\n";
  if (v.nextCatalogID <= maxID) bad << "next catalog ID " << v.nextCatalogID << " in use\n";
  // Index nodes from the root: each record's key is its child's first key.
  std::vector<std::uint32_t> stack{root};
  while (!stack.empty()) {
    const std::uint32_t at = stack.back();
    stack.pop_back();
    const Span nd = node(at);
    if (static_cast<std::int8_t>(nd[8]) != 0) continue;
    for (std::size_t i = 0; i < be::get16(nd, 10); ++i) {
      const Span rec = record(nd, i);
      const Span key = keyOf(rec);
      const std::uint32_t child = be::get32(rec, key.size());
      const Span first = keyOf(record(node(child), 0));
      if (!std::equal(key.begin(), key.end(), first.begin(), first.end()))
        bad << "index key of node " << at << " differs from child " << child << "\n";
      stack.push_back(child);
    }
  }
  // Paths from the thread records; every fork inside the volume, no block twice.
  const auto pathOf = [&](std::uint32_t parent, const std::string& name) {
    std::string path = name;
    for (std::uint32_t p = parent; p != 2 && threads.count(p); p = threads[p].first)
      path = threads[p].second + "/" + path;
    return path;
  };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
  std::uint32_t files = 0, folders = 0;
  for (const auto& [parent, name, data] : items) {
    if (parent == 1) continue;  // the root folder
    const std::int16_t type = static_cast<std::int16_t>(be::get16(data, 0));
    if (type == 1) {
      ++folders;
      v.folderIDs.insert(be::get32(data, 8));
      continue;
    }
    ++files;
    PlusVolume::File f;
    f.id = be::get32(data, 8);
    f.type = be::get32(data, 48);
    f.creator = be::get32(data, 52);
    f.dataBytes = be::get64(data, 88);
    f.dataStart = be::get32(data, 88 + 16);
    f.dataBlocks = be::get32(data, 88 + 20);
    f.rsrcBytes = be::get64(data, 168);
    f.rsrcStart = be::get32(data, 168 + 16);
    f.rsrcBlocks = be::get32(data, 168 + 20);
    for (const auto& [start, blocks] :
         {std::pair{f.dataStart, f.dataBlocks}, {f.rsrcStart, f.rsrcBlocks}})
      if (blocks != 0) extents.emplace_back(start, blocks);
    v.files[pathOf(parent, name)] = f;
  }
  std::sort(extents.begin(), extents.end());
  for (std::size_t i = 0; i < extents.size(); ++i) {
    if (extents[i].first + extents[i].second > v.totalBlocks) bad << "extent past the end\n";
    if (i > 0 && extents[i - 1].first + extents[i - 1].second > extents[i].first)
      bad << "extents overlap\n";
  }
  if (files != v.fileCount || folders != v.folderCount) bad << "file or folder count\n";
  v.problems = bad.str();
  return v;
}

}  // namespace quillion::test
