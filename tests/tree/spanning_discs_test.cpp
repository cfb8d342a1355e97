// SPDX-License-Identifier: GPL-2.0-or-later
// A spanning run made into real discs: every next tree is produced as an ISO9660 volume with
// Joliet names by the producer the burn job would pick, isoinfo reads each volume's size,
// xorriso and 7zz extract every disc, and together the discs hold the source exactly: every file
// once, byte for byte, and every folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "DPMs/registry/file_system_formats.h"
#include "quillion/DSPN.h"
#include "quillion/FS.h"
#include "tests/dpms/producer_support.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kJolietCode = 0x200;

std::uint32_t volumeBlocks(const std::string& image) {
  const std::string out = runReader({"isoinfo", "-d", "-i", image});
  const std::string label = "Volume size is: ";
  const auto at = out.find(label);
  if (at == std::string::npos) return 0;
  return static_cast<std::uint32_t>(std::stoul(out.substr(at + label.size())));
}

}  // namespace

TEST(SpanningDiscs, EveryDiscFitsAndTogetherTheyHoldTheSourceOnce) {
  QUILLION_REQUIRE_TOOL("isoinfo");
  QUILLION_REQUIRE_TOOL("xorriso");
  QUILLION_REQUIRE_TOOL("7zz");
  TempDir dir;
  const fs::path src = dir.file("src");
  unsigned seed = 1;
  const auto put = [&](const std::string& path, std::size_t bytes) {
    fs::create_directories((src / path).parent_path());
    writeFile(src / path, patternBytes(bytes, seed++));
  };
  for (int i = 0; i < 6; ++i)
    put("music/album " + std::to_string(i) + "/track.mp3", 90000 + i * 37000);
  for (int i = 0; i < 5; ++i) put("docs/note " + std::to_string(i) + ".txt", 1 + i * 20011);
  put("Bundle.app/Contents/Info.plist", 700);
  put("Bundle.app/Contents/MacOS/Bundle", 150000);
  put("a/b/c/d/e/f/g/h/deep.bin", 120000);
  put("top.bin", 310000);
  put("empty.txt", 0);
  fs::create_directories(src / "empty folder");

  TreePtr tree = treeFromFolder(src.string(), "Span");
  SetPackageNode(tree->Root()->FindChild("Bundle.app"), true);
  const std::uint32_t capacity = 1300;  // 1000 blocks of overhead, 300 of files at most
  dspn_Start(tree.get());
  const std::uint32_t estimate = dspn_Estimate(tree.get(), capacity, kJolietCode, nullptr);
  EXPECT_GE(estimate, 4u);

  const FileSystemFormat* format = findFileSystemFormat(kJolietCode);
  ASSERT_NE(format, nullptr);
  std::map<std::string, std::string> together;
  std::map<std::string, int> copies;
  std::uint32_t discs = 0;
  for (std::uint32_t id = 1; id < 50; ++id) {
    std::uint32_t leftFiles = 0;
    FS_Tree* next =
        dspn_NextTree(tree.get(), id, kJolietCode, capacity, &leftFiles, nullptr, nullptr);
    if (next == nullptr) {
      EXPECT_EQ(leftFiles, 0u);
      break;
    }
    ++discs;
    TreePtr disc(next);
    ASSERT_EQ(SetTreetitle(disc.get(), ("Span " + std::to_string(id)).c_str()), kNoErr);
    const std::string image = dir.file("disc" + std::to_string(id) + ".iso").string();
    auto producer = format->make(FileSystemRequest{disc.get(), 0, false, false});
    const DrainResult drained = drainToFile(*producer, image);
    ASSERT_EQ(drained.status, kNoErr);
    ASSERT_EQ(drained.written, drained.prepared);
    const std::uint32_t blocks = volumeBlocks(image);
    EXPECT_EQ(blocks, drained.prepared);
    EXPECT_LE(blocks, capacity) << "disc " << id;

    const std::string into = dir.file("out" + std::to_string(id)).string();
    const std::string into7z = dir.file("7zz" + std::to_string(id)).string();
    int status = 0;
    const std::string log =
        runReader({"xorriso", "-indev", image, "-osirrox", "on", "-extract", "/", into}, &status);
    ASSERT_EQ(status, 0) << log;
    const std::string log7z = runReader({"7zz", "x", "-y", "-o" + into7z, image}, &status);
    ASSERT_EQ(status, 0) << log7z;
    const auto extracted = filesBelow(into);
    EXPECT_EQ(differences(filesBelow(into7z), extracted), "") << "7zz and xorriso agree";
    for (const auto& [path, bytes] : extracted) {
      if (path.back() != '/') ++copies[path];
      together[path] = bytes;
    }
  }
  EXPECT_EQ(discs, estimate) << "this layout packs the same way in both passes";
  for (const auto& [path, count] : copies) EXPECT_EQ(count, 1) << path << " on several discs";
  EXPECT_EQ(differences(together, filesBelow(src.string())), "");
}
