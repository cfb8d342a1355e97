// SPDX-License-Identifier: GPL-2.0-or-later
// The used-size probe over real volume images made by outside tools (genisoimage, mkudffs),
// and over hand-made headers whose sizes would overflow 32-bit arithmetic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/byte_order.h"
#include "device/medium_probe.h"
#include "tests/support/test_support.h"

using namespace quillion;
namespace fs = std::filesystem;
using quillion::test::readFile;
using quillion::test::runTool;
using quillion::test::TempDir;

namespace {

MediumReader readerOver(const std::vector<std::uint8_t>& image, int* reads = nullptr) {
  return [&image, reads](std::uint64_t offset, std::span<std::uint8_t> out) {
    if (reads) ++*reads;
    if (offset + out.size() > image.size()) return false;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  };
}

// Volume space size as isoinfo reports it, the independent reading of the same image.
std::uint64_t isoinfoVolumeBlocks(const fs::path& iso) {
  const std::string report =
      runTool({"isoinfo", "-d", "-i", iso.string()}, {.separateErrors = true}).output;
  const std::string label = "\nVolume size is: ";
  const auto at = report.find(label);
  return at == std::string::npos ? 0
                                 : std::strtoull(report.c_str() + at + label.size(), nullptr, 10);
}

void makeTree(const fs::path& root) {
  fs::create_directories(root / "sub");
  std::ofstream(root / "a.txt") << std::string(300000, 'a');
  std::ofstream(root / "sub" / "b.bin") << std::string(70000, 'b');
}

}  // namespace

TEST(MediumProbe, IsoVolumeSizeMatchesIsoinfo) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  QUILLION_REQUIRE_TOOL("isoinfo");
  TempDir tmp;
  makeTree(tmp.path() / "src");
  const auto iso = tmp.path() / "v.iso";
  ASSERT_EQ(
      runTool({"genisoimage", "-quiet", "-J", "-o", iso.string(), (tmp.path() / "src").string()})
          .exitCode,
      0);
  auto image = readFile(iso);
  const std::uint64_t expected = isoinfoVolumeBlocks(iso);
  ASSERT_GT(expected, 16u);
  image.resize(image.size() + 100 * 2048);  // the medium is larger than its volume
  EXPECT_EQ(probeUsedBlocks(readerOver(image), image.size() / 2048), expected);
}

TEST(MediumProbe, UdfBridgeTakesThePartitionEnd) {
  QUILLION_REQUIRE_TOOL("genisoimage");
  TempDir tmp;
  makeTree(tmp.path() / "src");
  const auto iso = tmp.path() / "bridge.iso";
  ASSERT_EQ(
      runTool({"genisoimage", "-quiet", "-udf", "-o", iso.string(), (tmp.path() / "src").string()})
          .exitCode,
      0);
  auto image = readFile(iso);
  image.resize(image.size() + 64 * 2048);
  const std::uint64_t used = probeUsedBlocks(readerOver(image), image.size() / 2048);
  // The UDF partition of an ISO/UDF bridge ends inside the image, past the file data.
  EXPECT_GT(used, 300000u / 2048);
  EXPECT_LE(used, image.size() / 2048 - 64);
}

TEST(MediumProbe, DiscSizesUseSixtyFourBitsAndStayWithinTheMedium) {
  std::vector<std::uint8_t> image(65536, 0);
  image[1024] = 'H';
  image[1025] = '+';
  be::put32(image, 1064, 0x00010000);  // 64 KiB blocks
  be::put32(image, 1068, 0x00100000);  // x 1 Mi blocks = 64 GiB: 32-bit arithmetic would give 0
  EXPECT_EQ(probeUsedBlocks(readerOver(image), 0xFFFFFFFFull), 0x2000000u);
  EXPECT_EQ(probeUsedBlocks(readerOver(image), 2'295'104), 2'295'104u) << "clamped to the medium";

  std::vector<std::uint8_t> hfs(65536, 0);
  hfs[1024] = 'B';
  hfs[1025] = 'D';
  be::put16(hfs, 1042, 1000);
  be::put32(hfs, 1044, 4096);
  std::vector<std::uint8_t> map(65536, 0);
  map[0] = 'E';
  map[1] = 'R';
  be::put16(map, 2, 512);
  be::put32(map, 4, 4001);  // 2,048,512 bytes: rounded up to whole 2048-byte blocks
  EXPECT_EQ(probeUsedBlocks(readerOver(hfs), 1u << 30), 2000u);
  EXPECT_EQ(probeUsedBlocks(readerOver(map), 1u << 30), 1001u);
}

TEST(MediumProbe, HostileUdfSequenceIsReadOnlyAsFarAsTheBound) {
  // An ISO descriptor, then "BEA01", then an anchor whose descriptor sequence claims 4 GiB.
  std::vector<std::uint8_t> image(300 * 2048, 0);
  image[32768] = 1;
  std::memcpy(&image[32769], "CD001", 5);
  be::put32(image, 32768 + 84, 20);
  be::put16(image, 32768 + 130, 2048);
  std::memcpy(&image[34816 + 1], "BEA01", 5);
  image[256 * 2048] = 2;  // anchor tag
  const std::size_t anchor = 256 * 2048;
  image[anchor + 16] = 0xFF;
  image[anchor + 17] = 0xFF;
  image[anchor + 18] = 0xFF;
  image[anchor + 19] = 0xFF;  // length
  image[anchor + 20] = 32;    // location
  int reads = 0;
  EXPECT_EQ(probeUsedBlocks(readerOver(image, &reads), image.size() / 2048), 20u);
  EXPECT_LE(reads, 2 + static_cast<int>(kProbeMaxDescriptorSectors));
  EXPECT_EQ(probeUsedBlocks([](std::uint64_t, std::span<std::uint8_t>) { return false; }, 1000), 0u);
}
