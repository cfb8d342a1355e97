// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux kernel's own udf driver as the reader: a QEMU guest mounts each image read-only
// from a SCSI CD-ROM and prints every file's MD5 and every folder; the host's md5sum of the
// source files must give the same list (plain 1.02, plain 1.50 and DVD-Video order).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "DPMs/udf/dpm_udf.h"
#include "quillion/clock.h"
#include "tests/dpms/producer_support.h"

using namespace quillion;
using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, std::string_view content) {
  fs::create_directories(path.parent_path());
  writeFile(path, content);
}

// What the guest printed: "./path" -> md5 for files, "./path/" -> "" for folders.
std::map<std::string, std::string> guestListing(const std::string& out) {
  std::map<std::string, std::string> listing;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("QUILLION-UDF-FILE ", 0) == 0) {
      const std::string rest = line.substr(18);
      listing[rest.substr(34)] = rest.substr(0, 32);
    } else if (line.rfind("QUILLION-UDF-DIR ", 0) == 0 && line.size() > 19) {
      listing[line.substr(17) + "/"] = "";
    }
  }
  return listing;
}

std::map<std::string, std::string> hostListing(const fs::path& root) {
  std::map<std::string, std::string> listing;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = "./" + fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      listing[rel + "/"] = "";
      continue;
    }
    const ToolResult md5 = runTool({"md5sum", e.path().string()}, ToolOptions{{}, {}, true});
    listing[rel] = md5.output.substr(0, 32);
  }
  return listing;
}

}  // namespace

TEST(UdfKernelMount, LinuxReadsEveryFileOfEveryMode) {
  QUILLION_REQUIRE_TOOL("qemu-system-x86_64");
  QUILLION_REQUIRE_TOOL("md5sum");
  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  const fs::path src = dir.file("src");
  put(src / "a.txt", "alpha\n");
  put(src / "empty.bin", "");
  put(src / "\xC3\x9Cn\xC3\xAF code \xE2\x9C\x93.txt", patternBytes(3000, 1));
  put(src / "sub" / "deeper" / "b.bin", patternBytes(100000, 2));
  for (int i = 0; i < 60; ++i)
    put(src / "many" / ("entry number " + std::to_string(i) + ".dat"), patternBytes(10 + i, 3 + i));
  std::string vmg(3 * 2048, '\0');
  vmg.replace(0, 12, "DVDVIDEO-VMG");
  put(src / "VIDEO_TS" / "VIDEO_TS.IFO", vmg);
  put(src / "VIDEO_TS" / "VIDEO_TS.BUP", vmg);
  const auto wanted = hostListing(src);

  for (const std::uint16_t mode :
       {DPM_UDF::kModeUDF102, DPM_UDF::kModeUDF150, DPM_UDF::kModeDVDVideo}) {
    SCOPED_TRACE(mode);
    TreePtr tree = treeFromFolder(src.string(), "KERNEL_TEST");
    DPM_UDF producer(tree.get(), 0, 0, mode);
    const std::string image = dir.file("image-" + std::to_string(mode) + ".udf");
    const DrainResult r = drainToFile(producer, image);
    ASSERT_GT(r.prepared, 0u) << producer.LayoutProblem();
    ASSERT_EQ(r.written, r.prepared);

    const ToolResult guest = runTool({QUILLION_UDF_MOUNT_GUEST, image, dir.file("work").string()},
                                     ToolOptions{{}, {}, true});
    if (guest.exitCode == 77) GTEST_SKIP() << guest.errors;
    ASSERT_EQ(guest.exitCode, 0) << guest.errors << guest.output;
    ASSERT_EQ(guest.output.find("mount failed"), std::string::npos) << guest.output;
    EXPECT_EQ(differences(guestListing(guest.output), wanted), "") << guest.output;
  }
}
