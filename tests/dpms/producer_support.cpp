// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/producer_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tree/fs_node.h"

namespace fs = std::filesystem;

namespace quillion::test {
namespace {

void addBelow(FS_Tree& tree, const fs::path& folder, FS_Node* parent) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& p : entries) {
    FS_Node* node = FS_Node::MakeForPath(p.c_str(), p.filename().c_str(), nullptr, false);
    if (tree.Add(node, parent) != kNoErr) {
      termNode(node);
      continue;
    }
    if (node->IsFolder()) addBelow(tree, p, node);
  }
}

}  // namespace

TreePtr treeFromFolder(const std::string& folder, const std::string& title) {
  TreePtr tree(new FS_Tree(nullptr));
  (void)tree->SetTreeTitle(title.c_str());
  addBelow(*tree, folder, tree->Root());
  return tree;
}

std::map<std::string, std::string> filesBelow(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string rel = fs::relative(e.path(), folder).string();
    if (e.is_directory())
      out[rel + "/"] = "";
    else
      out[rel] = readText(e.path().string());
  }
  return out;
}

DrainResult drainToFile(DPM_Base& producer, const std::string& path, std::uint16_t blockSize,
                        std::uint32_t chunkBlocks) {
  DrainResult r;
  r.blockSize = blockSize;
  r.prepared = producer.PrepareAll(&r.blockSize, nullptr, nullptr);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (r.prepared == 0) return r;
  std::vector<char> buffer(std::size_t{chunkBlocks} * r.blockSize);
  while (r.written < r.prepared) {
    std::uint32_t got = 0;
    const std::uint32_t want = std::min(chunkBlocks, r.prepared - r.written);
    r.status =
        producer.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), want, &got);
    if (r.status != kNoErr || got == 0) break;
    out.write(buffer.data(), std::streamsize{got} * r.blockSize);
    r.written += got;
  }
  return r;
}

std::string runReader(const std::vector<std::string>& argv, int* status, const fs::path& home) {
  ToolOptions options{.environment = {{"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"}}};
  if (!home.empty()) options.environment.emplace_back("HOME", home.string());
  ToolResult r = runTool(argv, options);
  if (status) *status = r.exitCode;
  return std::move(r.output);
}

}  // namespace quillion::test
