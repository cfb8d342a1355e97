// SPDX-License-Identifier: GPL-2.0-or-later
// UDF bridge images read back by independent readers: udfinfo for the descriptor layout,
// 7zz for the tree and the data, isoinfo for the ISO9660 side, and a descriptor checker of
// the tests' own (written from ECMA-167) for every tag, CRC and location.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "DPMs/registry/file_system_formats.h"
#include "DPMs/udf/dpm_udf.h"
#include "DPMs/udf/udf_structures.h"
#include "quillion/clock.h"
#include "tests/dpms/iso_fixture.h"
#include "tests/dpms/udf_checker.h"
#include "tests/dpms/udf_fixture.h"
#include "tree/fs_node.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

// The descriptor CRC is CRC-16/CCITT with initial value 0 (the published check value of
// "123456789" is 0x31C3), and it agrees with the checker's bit-by-bit CRC on any bytes.
TEST(UdfStructures, CrcMatchesTheStandardsCheckValue) {
  const std::string check = "123456789";
  const auto* p = reinterpret_cast<const std::uint8_t*>(check.data());
  EXPECT_EQ(udf::UdfCrc({p, check.size()}), 0x31C3);
  EXPECT_EQ(udf::UdfCrc({}), 0);
  const std::string pattern = patternBytes(4096, 7);
  const auto* q = reinterpret_cast<const std::uint8_t*>(pattern.data());
  for (const std::size_t n : {1u, 15u, 496u, 2032u, 4096u})
    EXPECT_EQ(udf::UdfCrc({q, n}), ecmaCrc(q, n)) << n;
}

// Plain UDF 1.02 and 1.50 of the rich fixture: every tag verifies, the checker, 7zz and
// udfinfo find every file and folder with its bytes, the integrity descriptor counts them
// and is closed, and the ISO9660 side is the stub with README.TXT.
TEST_F(UdfImages, PlainRevisionsReadBackEverywhere) {
  for (const char* tool : {"udfinfo", "7zz", "isoinfo"}) QUILLION_REQUIRE_TOOL(tool);
  writeSource(richFixture());
  const auto wanted = filesBelow(dir.file("src"));
  std::uint32_t folders = 0, files = 0;
  for (const auto& [path, data] : wanted) (path.back() == '/' ? folders : files) += 1;

  for (const std::uint16_t mode : {DPM_UDF::kModeUDF102, DPM_UDF::kModeUDF150}) {
    SCOPED_TRACE(mode);
    const std::uint32_t blocks = produce(mode);
    ASSERT_GT(blocks, 512u);
    EXPECT_EQ(faults(), "");
    EXPECT_GT(report.tagsChecked, 300u);
    EXPECT_EQ(differences(checkedTree(report), wanted), "");
    EXPECT_EQ(report.revision, mode);
    EXPECT_EQ(report.integrityFiles, files);
    EXPECT_EQ(report.integrityDirs, folders + 1);

    const std::string info = runReader({"udfinfo", image()});
    EXPECT_EQ(udfinfoField(info, "udfrev"), mode == 0x150 ? "1.50" : "1.02") << info;
    EXPECT_EQ(udfinfoField(info, "numfiles"), std::to_string(files));
    EXPECT_EQ(udfinfoField(info, "numdirs"), std::to_string(folders + 1));
    EXPECT_EQ(udfinfoField(info, "integrity"), "closed");
    EXPECT_EQ(udfinfoField(info, "lvid"), "Quillion UDF");
    EXPECT_EQ(udfinfoField(info, "blocks"), std::to_string(blocks));
    // udfinfo counts the stub's two ISO9660 descriptors into the recognition sequence.
    for (const char* line : {"start=16, blocks=5, type=VRS", "start=32, blocks=16, type=MVDS",
                             "start=48, blocks=16, type=RVDS", "start=64, blocks=1, type=LVID",
                             "start=256, blocks=1, type=ANCHOR"})
      EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    EXPECT_EQ(report.partitionStart, 261u) << "the anchor and four zero sectors before it";
    EXPECT_NE(
        info.find("start=261, blocks=" + std::to_string(report.partitionLength) + ", type=PSPACE"),
        std::string::npos)
        << info;
    EXPECT_NE(info.find("start=" + std::to_string(blocks - 1) + ", blocks=1, type=ANCHOR"),
              std::string::npos)
        << info;

    int status = -1;
    const std::string test = runReader({"7zz", "t", image()}, &status);
    EXPECT_EQ(status, 0) << test;
    const std::string out = dir.file("x" + std::to_string(mode));
    runReader({"7zz", "x", "-y", "-o" + out, image()}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(differences(filesBelow(out), wanted), "");

    const std::string listing = runReader({"isoinfo", "-l", "-i", image()});
    EXPECT_NE(listing.find("README.TXT"), std::string::npos) << listing;
    EXPECT_EQ(runReader({"isoinfo", "-i", image(), "-x", "/README.TXT"}),
              "Please read this CD in a system with UDF reader driver.");
  }
}
