// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning's decisions without widgets: the search for a disc size, one tick of the wait
// for the next disc, the large-files list of an estimate and the spanning log, written after
// a real three-disc run of the engine's spanning functions.
#include "burn/disc_span.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quillion/DSPN.h"
#include "quillion/FS.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::span;

namespace {

constexpr std::uint32_t kJoliet = 512;

// ---- disc-size search ----

struct SearchCase {
  const char* name;
  std::size_t selected;
  std::uint32_t biggest;  // a size holds the layout when it is at least this
  std::optional<std::size_t> found;
};

class DiscSizeSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(DiscSizeSearch, KeepsTheSelectionOrTakesTheFirstSizeThatHolds) {
  const SearchCase& c = GetParam();
  const std::vector<std::uint32_t> sizes = {400, 100, 900, 250};
  std::vector<std::uint32_t> asked;
  const auto holds = [&](std::uint32_t blocks) {
    asked.push_back(blocks);
    return blocks >= c.biggest;
  };
  EXPECT_EQ(searchDiscSize(sizes, c.selected, holds), c.found);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), sizes[c.selected]) << "the selected size is estimated first";
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiscSizeSearch,
    testing::Values(SearchCase{"SelectedHolds", 1, 100, 1},
                    // The list is tried from its first item, not from the selection on.
                    SearchCase{"FirstThatHoldsInListOrder", 1, 300, 0},
                    SearchCase{"OnlyTheBiggest", 3, 500, 2},
                    SearchCase{"ExactlyTheBiggestFileHolds", 3, 250, 3},
                    SearchCase{"NoneHolds", 0, 901, std::nullopt}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(DiscSizes, TheStandardListIsOfDiscSizesOnlySmallestFirst) {
  const auto& sizes = standardDiscSizes();
  ASSERT_GE(sizes.size(), 4u);
  EXPECT_EQ(sizes.front().blocks, kSmallestDiscSizeBlocks);
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    EXPECT_GT(sizes[i].blocks, sizes[i - 1].blocks) << sizes[i].title;
    EXPECT_FALSE(sizes[i].title.empty());
  }
}

TEST(DiscSizes, HfsFormatsAndDvdVideoAreNeverSpanned) {
  for (std::uint32_t whole : {1u, 257u, 513u, 64u}) EXPECT_FALSE(formatAllowsSpanning(whole));
  for (std::uint32_t split : {2u, 256u, 258u, 512u, 514u, 16u, 32u})
    EXPECT_TRUE(formatAllowsSpanning(split)) << split;
}

// ---- the wait for the next disc ----

struct TickCase {
  const char* name;
  std::optional<WaitingDisc> disc;
  InsertDiscStatus shown;
  NextDiscAction action;
  InsertDiscStatus status;
  std::optional<StatusText> text;
};

constexpr std::uint32_t kBiggestLeft = 5120;  // 10 MB

class NextDiscTick : public testing::TestWithParam<TickCase> {};

TEST_P(NextDiscTick, DecidesByTheDiscInTheDrive) {
  const TickCase& c = GetParam();
  const NextDiscStep step = nextDiscStep(c.disc, kBiggestLeft, c.shown);
  EXPECT_EQ(step.action, c.action);
  EXPECT_EQ(step.status, c.status);
  EXPECT_EQ(step.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NextDiscTick,
    testing::Values(
        TickCase{"NoDiscAsksForBlankMedia", std::nullopt, InsertDiscStatus::kNoDisc,
                 NextDiscAction::kKeepWaiting, InsertDiscStatus::kNoDisc,
                 StatusText{"Insert Blank Media", {}}},
        // The reason a disc was refused stays in view once the tray is empty.
        TickCase{"EmptyTrayKeepsNotBlank", std::nullopt, InsertDiscStatus::kNotBlank,
                 NextDiscAction::kKeepWaiting, InsertDiscStatus::kNotBlank, std::nullopt},
        TickCase{"EmptyTrayKeepsTooSmall", std::nullopt, InsertDiscStatus::kTooSmall,
                 NextDiscAction::kKeepWaiting, InsertDiscStatus::kTooSmall, std::nullopt},
        TickCase{"AppendableIsEjected", WaitingDisc{2, 300'000}, InsertDiscStatus::kNoDisc,
                 NextDiscAction::kEject, InsertDiscStatus::kNotBlank,
                 StatusText{"Inserted Media Not Blank", {}}},
        TickCase{"ClosedIsEjected", WaitingDisc{1, 0}, InsertDiscStatus::kTooSmall,
                 NextDiscAction::kEject, InsertDiscStatus::kNotBlank,
                 StatusText{"Inserted Media Not Blank", {}}},
        TickCase{"BlankAndLargeEnoughBurns", WaitingDisc{0, kBiggestLeft + 1},
                 InsertDiscStatus::kNotBlank, NextDiscAction::kBurn, InsertDiscStatus::kNotBlank,
                 std::nullopt},
        // A disc whose free blocks equal the biggest file holds it.
        TickCase{"BlankWithExactlyTheBiggestFileBurns", WaitingDisc{0, kBiggestLeft},
                 InsertDiscStatus::kNoDisc, NextDiscAction::kBurn, InsertDiscStatus::kNoDisc,
                 std::nullopt},
        TickCase{"BlankButTooSmallIsEjected", WaitingDisc{0, kBiggestLeft - 1},
                 InsertDiscStatus::kNoDisc, NextDiscAction::kEject, InsertDiscStatus::kTooSmall,
                 StatusText{"Please Insert Size Disc", 10u}}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- estimate and the spanning log ----

class SpanTree : public testing::Test {
 protected:
  SpanTree() {
    test::writeFiles(dir_.path() / "src", kFiles);
    tree_ = test::treeFromFolder(dir_.path() / "src");
  }

  // Sizes picked so that a disc of kCapacity blocks (about 1,030 of them the file system's)
  // takes one of the larger files with some small ones: three discs.
  static constexpr std::uint32_t kCapacity = 1130;
  inline static const std::map<std::string, std::size_t> kFiles = {
      {"one.bin", 60 * 2048},
      {"sub/two.bin", 60 * 2048},
      {"sub/deeper/\xC3\x9Cn\xC3\xAF three.bin", 55 * 2048},
      {"tiny.txt", 10},
      {"sub/note.txt", 3000},
  };

  test::TempDir dir_;
  test::TreePtr tree_;
};

TEST_F(SpanTree, AnEstimateListsTheFilesThatFitNoDiscWithTheirSizes) {
  Estimate fits = estimateDiscs(tree_.get(), kCapacity, kJoliet);
  EXPECT_EQ(fits.discs, 3u);
  EXPECT_TRUE(fits.tooBig.empty());
  EXPECT_EQ(biggestFileBlocks(tree_.get(), kJoliet), 60u);

  Estimate small = estimateDiscs(tree_.get(), 1050, kJoliet);
  const auto rows = small.tooBig.rows();
  std::set<std::string> titles;
  for (const auto& row : rows) {
    titles.insert(row.title);
    EXPECT_EQ(row.bytes, row.title == "\xC3\x9Cn\xC3\xAF three.bin" ? 55u * 2048 : 60u * 2048);
  }
  EXPECT_EQ(titles, (std::set<std::string>{"one.bin", "two.bin", "\xC3\x9Cn\xC3\xAF three.bin"}));
  EXPECT_EQ(small.tooBig.nodes().size(), 3u);
  small.tooBig.reset();
  EXPECT_TRUE(small.tooBig.empty());
  EXPECT_EQ(estimateDiscs(nullptr, kCapacity, kJoliet).discs, 0u);
}

// What each disc's tree holds: file paths (as the layout names them) by disc number.
void collectFiles(FS_Node* node, bool*, void* context, std::uint16_t, bool*) {
  if (IsFolderNode(node)) return;
  static_cast<std::vector<std::string>*>(context)->push_back(RelativePathToMe(node));
}

TEST_F(SpanTree, TheLogReplacesAnOldOneWithOneUtf8LinePerFileOnItsDisc) {
  dspn_Start(tree_.get());
  std::map<std::string, std::uint32_t> discOf;
  std::uint32_t discs = 0;
  for (std::uint32_t id = 1; id < 10; ++id) {
    Remainder left;
    FS_Tree* part = dspn_NextTree(tree_.get(), id, kJoliet, kCapacity, &left.files, &left.blocks,
                                  &left.biggestBlocks);
    if (part == nullptr) break;
    ++discs;
    std::vector<std::string> files;
    ASSERT_EQ(WalkWholeTree(part, collectFiles, &files, nullptr), kNoErr);
    termTree(part);
    for (const std::string& f : files) EXPECT_TRUE(discOf.emplace(f, id).second) << f << " twice";
  }
  ASSERT_EQ(discs, 3u);
  ASSERT_EQ(discOf.size(), kFiles.size());

  const fs::path log = dir_.path() / "span.txt";
  test::writeFile(log, std::string(20000, '#'));  // longer than the new log
  ASSERT_EQ(writeSpanLog(tree_.get(), log, "Backup \xE2\x82\xAC"), kNoErr);
  const std::string bytes = test::readText(log);

  std::set<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\r', start);
    ASSERT_NE(end, std::string::npos) << "every line ends with a carriage return";
    lines.insert(bytes.substr(start, end - start));
    start = end + 1;
  }
  std::set<std::string> expected;
  for (const auto& [path, id] : discOf)
    expected.insert(path + " (Backup \xE2\x82\xAC-" + std::to_string(id) + ")");
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(bytes.find('\n'), std::string::npos);
  EXPECT_EQ(bytes.find('#'), std::string::npos) << "nothing of the old file is left";
  EXPECT_EQ(bytes.find(std::string("\0", 1)), std::string::npos) << "no UTF-16";
  EXPECT_NE(bytes.find("\xC3\x9Cn\xC3\xAF three.bin"), std::string::npos) << "UTF-8 names";
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

TEST_F(SpanTree, ALogThatCannotBeWrittenSaysWhy) {
  EXPECT_EQ(writeSpanLog(tree_.get(), dir_.path() / "no such folder" / "log.txt", "T"),
            kErrFileAccess);
  EXPECT_EQ(writeSpanLog(nullptr, dir_.path() / "log.txt", "T"), kErrBadArgument);
  EXPECT_EQ(writeSpanLog(tree_.get(), fs::path(), "T"), kErrBadArgument);
  EXPECT_FALSE(fs::exists(dir_.path() / "log.txt"));
}

TEST(SpanText, PartTitlesAndLogLinesJoinTitleAndDiscByADash) {
  EXPECT_EQ(partTitle("Photos", 3), "Photos-3");
  EXPECT_EQ(spanLogLine("a\\b.txt", "Photos", 12), "a\\b.txt (Photos-12)\r");
  EXPECT_EQ(blocksToMegabytes(1023), 1u);
  EXPECT_EQ(blocksToMegabytes(511), 0u);
}

}  // namespace
