// SPDX-License-Identifier: GPL-2.0-or-later
// One UDF image per test: a source folder, a producer over its tree with a fixed clock, the
// image on disc and what the descriptor checker found in it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "DPMs/udf/dpm_udf.h"
#include "quillion/clock.h"
#include "tests/dpms/iso_fixture.h"
#include "tests/dpms/udf_checker.h"

namespace quillion::test {

// The fixture's files as the checker gives them: path -> bytes, folders with '/'.
inline std::map<std::string, std::string> checkedTree(const UdfCheckReport& report) {
  std::map<std::string, std::string> out;
  for (const auto& [path, f] : report.files)
    if (path != "/") out[path] = f.data;
  return out;
}

inline std::string udfinfoField(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return {};
}

class UdfImages : public ::testing::Test {
 public:
  // Produces the image of src/ (written from `entries` when given) and runs the checker.
  std::uint32_t produce(std::uint16_t mode, std::uint32_t start = 0,
                        DPM_UDF::Options options = {}) {
    tree = treeFromFolder(dir.file("src"), "Quillion UDF");
    if (beforePrepare) beforePrepare();
    useTemporaryFolder(options);
    producer = std::make_unique<DPM_UDF>(tree.get(), start, 0, mode, options);
    const DrainResult r = drainToFile(*producer, image());
    EXPECT_EQ(r.status, kNoErr);
    EXPECT_EQ(r.written, r.prepared) << producer->LayoutProblem();
    EXPECT_TRUE(producer->MissingData().empty());
    bytes = readFile(image());
    report = checkUdfImage(bytes, start);
    return r.prepared;
  }

  // PrepareAll makes no image; answers why.
  EngineStatus refusal(std::uint16_t mode, std::uint32_t start = 0, DPM_UDF::Options options = {}) {
    tree = treeFromFolder(dir.file("src"), "Quillion UDF");
    if (beforePrepare) beforePrepare();
    useTemporaryFolder(options);
    producer = std::make_unique<DPM_UDF>(tree.get(), start, 0, mode, options);
    std::uint16_t size = 0;
    EXPECT_EQ(producer->PrepareAll(&size, nullptr, nullptr), 0u);
    EXPECT_NE(producer->LayoutProblem(), "");
    return producer->PrepareStatus();
  }

  void useTemporaryFolder(DPM_UDF::Options& options) const {
    if (!options.temporaryFolder.empty()) return;
    options.temporaryFolder = dir.file("tmp");
    std::filesystem::create_directories(options.temporaryFolder);
  }

  // Files left in the producer's temporary folder.
  std::size_t temporaryFiles() const {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("tmp")))
      n += e.is_regular_file();
    return n;
  }

  // A file below src/, its folders made as needed.
  void source(const std::filesystem::path& relative, std::string_view content) const {
    const std::filesystem::path path = dir.file("src") / relative;
    std::filesystem::create_directories(path.parent_path());
    writeFile(path, content);
  }

  void writeSource(const std::vector<FixtureEntry>& entries) {
    writeFixture(dir.file("src"), entries);
  }

  std::string image() const { return dir.file("out.udf"); }

  std::string faults() const {
    std::string out;
    for (const std::string& f : report.faults) out += f + "\n";
    return out;
  }

  std::function<void()> beforePrepare;  // runs between making the tree and preparing
  VirtualClock clock;
  ScopedClockOverride useClock{clock};
  TempDir dir;
  TreePtr tree;
  std::unique_ptr<DPM_UDF> producer;
  std::vector<std::uint8_t> bytes;
  UdfCheckReport report;
};

}  // namespace quillion::test
