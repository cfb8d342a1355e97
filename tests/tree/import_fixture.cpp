// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/tree/import_fixture.h"

#include <cstdio>
#include <sstream>

#include "common/byte_order.h"
#include "quillion/MMC.h"
#include "tests/support/test_support.h"
#include "tree/fs_node.h"

namespace quillion::test::importfx {

namespace {

void walkInto(const FS_Node& node, const std::string& path, Listing& out) {
  for (const auto& [key, child] : node.Children()) {
    const std::string childPath = path + "/" + child->Title();
    if (child->IsFolder()) {
      out[childPath] = Entry{true, 0, 0};
      walkInto(*child, childPath, out);
    } else {
      out[childPath] = Entry{false, child->dataActualSize, child->importDataLBA};
    }
  }
}

std::string stripVersion(std::string name) {
  if (name.size() > 2 && name.compare(name.size() - 2, 2, ";1") == 0) name.resize(name.size() - 2);
  return name;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::vector<std::pair<std::string, std::string>> kReaderEnvironment = {{"TZ", "UTC"},
                                                                             {"LC_ALL", "C.UTF-8"}};

}  // namespace

Listing entriesOf(const FS_Tree& tree) {
  Listing out;
  walkInto(*tree.Root(), "", out);
  return out;
}

Listing isoinfoListing(const std::filesystem::path& iso, bool joliet) {
  std::vector<std::string> argv = {"isoinfo", "-l", "-i", iso.string()};
  if (joliet) argv.push_back("-J");
  const std::string text = toolOutput(argv, ToolOptions{.environment = kReaderEnvironment});
  Listing out;
  std::string directory;
  for (const std::string& line : linesOf(text)) {
    if (line.rfind("Directory listing of ", 0) == 0) {
      directory = line.substr(21);
      if (!directory.empty() && directory.back() == '/') directory.pop_back();
      continue;
    }
    // "----------   0    0    0     6 Mar  4 2021 [     33 00]  README.TXT;1 "
    const std::size_t open = line.find('[');
    const std::size_t close = line.find("]  ");
    if (line.empty() || (line[0] != 'd' && line[0] != '-') || open == std::string::npos ||
        close == std::string::npos)
      continue;
    std::istringstream head(line.substr(0, open));
    std::string perms, uid, gid, links;
    std::uint64_t size = 0;
    head >> perms >> uid >> gid >> links >> size;
    const std::uint32_t lba = static_cast<std::uint32_t>(std::stoul(line.substr(open + 1)));
    std::string name = line.substr(close + 3);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    name = stripVersion(name);
    if (name == "." || name == "..") continue;
    out[directory + "/" + name] = line[0] == 'd' ? Entry{true, 0, 0} : Entry{false, size, lba};
  }
  return out;
}

Listing xorrisoFiles(const std::filesystem::path& iso, std::uint32_t sbsector) {
  const std::string text =
      toolOutput({"xorriso", "-indev", iso.string(), "-load", "sbsector", std::to_string(sbsector),
                  "-find", "/", "-exec", "report_lba", "--"},
                 ToolOptions{.environment = kReaderEnvironment});
  Listing out;
  for (const std::string& line : linesOf(text)) {
    unsigned extent = 0, lba = 0, blocks = 0;
    unsigned long long size = 0;
    const std::size_t quote = line.find('\'');
    if (std::sscanf(line.c_str(), "File data lba: %u , %u , %u , %llu ,", &extent, &lba, &blocks,
                    &size) != 4 ||
        quote == std::string::npos || line.rfind('\'') <= quote)
      continue;
    out[line.substr(quote + 1, line.rfind('\'') - quote - 1)] = Entry{false, size, lba};
  }
  return out;
}

Listing sevenZipListing(const std::filesystem::path& image) {
  const std::string text = toolOutput({"7zz", "l", "-slt", image.string()},
                                      ToolOptions{.environment = kReaderEnvironment});
  Listing out;
  bool items = false;
  std::string path;
  Entry entry;
  const auto flush = [&] {
    if (!path.empty()) out["/" + path] = entry;
    path.clear();
    entry = {};
  };
  for (const std::string& line : linesOf(text)) {
    if (line == "----------") {
      items = true;
      continue;
    }
    if (!items) continue;
    if (line.empty()) flush();
    if (line.rfind("Path = ", 0) == 0) path = line.substr(7);
    if (line == "Folder = +") entry.folder = true;
    if (line.rfind("Size = ", 0) == 0 && !line.substr(7).empty())
      entry.size = std::stoull(line.substr(7));
  }
  flush();
  for (auto& [p, e] : out)
    if (e.folder) e.size = 0;
  return out;
}

Listing filesOnly(const Listing& all) {
  Listing out;
  for (const auto& [path, e] : all)
    if (!e.folder) out[path] = e;
  return out;
}

std::vector<TocSession> xorrisoToc(const std::filesystem::path& iso) {
  const std::string text = toolOutput({"xorriso", "-indev", iso.string(), "-toc"},
                                      ToolOptions{.environment = kReaderEnvironment});
  std::vector<TocSession> out;
  for (const std::string& line : linesOf(text)) {
    unsigned index = 0, sbsector = 0, blocks = 0;
    if (std::sscanf(line.c_str(), "ISO session : %u , %u , %us", &index, &sbsector, &blocks) == 3)
      out.push_back(TocSession{index, sbsector, blocks});
  }
  return out;
}

bool ServedDisc::start(emu::Medium medium) {
  drive_ = env_.plug("emu", "dvd-writer");
  drive_->load(std::move(medium));
  env_.start();
  ref_ = emu::DeviceEnvironment::refOf("emu");
  return ref_ != 0;
}

bool ServedDisc::serveImage(const std::filesystem::path& image, std::uint16_t profile) {
  auto medium = emu::Medium::fromIso(image, env_.folder() / "emu.medium", profile);
  return medium && start(std::move(*medium));
}

bool ServedDisc::serveSessions(std::uint16_t profile, const std::vector<SessionData>& sessions) {
  emu::Medium medium = env_.blankDisc("emu", profile, 400'000);
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const SessionData& s = sessions[i];
    if (s.blocks.empty() || s.blocks.size() % emu::kBlockBytes != 0) return false;
    if (!medium.write(s.lba, static_cast<std::uint32_t>(s.blocks.size() / emu::kBlockBytes),
                      s.blocks.data()))
      return false;
    medium.closeSession(i + 1 < sessions.size(), 0);
  }
  return start(std::move(medium));
}

bool ServedDisc::serveMode2Cd(const std::vector<std::uint8_t>& image) {
  emu::Medium medium = env_.blankDisc("emu", 0x09, 400'000);
  const auto blocks = static_cast<std::uint32_t>(image.size() / emu::kBlockBytes);
  std::vector<emu::RawSector> sectors(blocks);
  for (std::uint32_t i = 0; i < blocks; ++i) {
    sectors[i] =
        emu::buildSector(emu::HostBlock::Form1_2048, static_cast<std::int32_t>(i),
                         std::span<const std::uint8_t>(
                             image.data() + std::size_t{i} * emu::kBlockBytes, emu::kBlockBytes));
  }
  if (!medium.recordSectors(0, sectors)) return false;
  medium.addTrack(emu::Track{1, 1, 0, blocks, emu::SectorKind::Mode2Form1, false});
  medium.closeSession(false, 0x20);
  return start(std::move(medium));
}

std::uint32_t ServedDisc::cdSecondSessionStart(std::uint32_t firstBlocks) {
  return firstBlocks + emu::cd::kFirstLeadOut + emu::cd::kLeadIn + emu::cd::kPregap;
}

std::size_t recordOffset(const std::vector<std::uint8_t>& image, std::uint32_t directory,
                         const std::string& identifier) {
  const std::size_t begin = std::size_t{directory} * 2048;
  if (begin + 2048 > image.size()) return 0;
  const std::span<const std::uint8_t> all(image);
  const std::size_t size = be::get32(all, begin + 14);  // the "." record's data length
  for (std::size_t at = begin; at < begin + size && at < image.size();) {
    const std::size_t length = image[at];
    if (length == 0) {
      at = (at / 2048 + 1) * 2048;
      continue;
    }
    const std::size_t nameLength = image[at + 32];
    if (std::string(reinterpret_cast<const char*>(&image[at + 33]), nameLength) == identifier)
      return at;
    at += length;
  }
  return 0;
}

std::uint32_t rootDirectory(const std::vector<std::uint8_t>& image) {
  return be::get32(std::span<const std::uint8_t>(image), 16 * 2048 + 156 + 6);
}

std::vector<std::uint8_t> padToBlocks(std::vector<std::uint8_t> bytes) {
  bytes.resize((bytes.size() + 2047) / 2048 * 2048, 0);
  return bytes;
}

}  // namespace quillion::test::importfx
