// SPDX-License-Identifier: GPL-2.0-or-later
// Ordinary Linux folders through the flat API (initNode, AddTreeNode, BP_*) to an ISO image,
// read back by the outside readers: whatever a folder holds, every file reaches the disc
// whole, or the client or the burn log is told. Each row is one kind of folder a user
// really has: many look-alike long names, links that lead nowhere, special files, a file
// that changes between preparation and burn, a name that is not UTF-8.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "run_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

using Files = std::map<std::string, std::string>;

std::string bytesOf(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

void writeBytes(const fs::path& path, const std::string& bytes,
                std::ios::openmode mode = std::ios::trunc) {
  std::ofstream(path, std::ios::binary | std::ios::out | mode)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Plain files below `folder`, by relative path; links, FIFOs and sockets are not files.
Files plainFilesBelow(const fs::path& folder) {
  Files out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (fs::is_regular_file(e.symlink_status()))
      out[fs::relative(e.path(), folder).string()] = readText(e.path());
  return out;
}

// A socket file at `path`; the descriptor is closed at once, the file stays.
void makeSocket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

enum class Outcome {
  writtenWhole,        // every file on the disc as it is, nothing reported
  refusedWhenAdded,    // AddTreeNode refuses the item; the rest is written whole
  reportedAsChanged,   // written from what was measured; -1322 and the file in the log
  writtenWithLogNote,  // written whole; the log says what was read otherwise
};

struct ChangeRow {
  const char* name;
  std::function<void(const fs::path& source)> make;
  std::function<void(const fs::path& source)> betweenPreparationAndBurn;
  Outcome outcome;
  std::map<std::string, EngineStatus> refused;  // item name -> AddTreeNode status
  std::string logLine;                          // what the log must hold ("" nothing)
  // The files the disc holds, by name as the readers show them; null: the plain files of
  // the source folder as it is after the burn.
  std::function<Files(const fs::path& source)> expected;
};

const std::string kGrowing = bytesOf(100'000, 7);

std::vector<ChangeRow> rows() {
  std::vector<ChangeRow> r;
  r.push_back({"a folder of 1001 long look-alike names",
               [](const fs::path& s) {
                 for (int i = 1; i <= 1001; ++i) {
                   char name[32];
                   std::snprintf(name, sizeof name, "file_%04d.dat", i);
                   writeBytes(s / name, std::string(name) + bytesOf(100, i));
                 }
               },
               nullptr,
               Outcome::writtenWhole,
               {},
               "",
               nullptr});
  r.push_back({"a dangling link and a link to itself",
               [](const fs::path& s) {
                 writeBytes(s / "kept.txt", bytesOf(5000, 1));
                 fs::create_symlink(s / "nowhere", s / "dangling");
                 fs::create_symlink(s / "loop", s / "loop");
               },
               nullptr,
               Outcome::refusedWhenAdded,
               {{"dangling", kErrFileAccess}, {"loop", kErrFileAccess}},
               "",
               nullptr});
  r.push_back({"a FIFO and a socket",
               [](const fs::path& s) {
                 writeBytes(s / "kept.txt", bytesOf(3000, 2));
                 ASSERT_EQ(::mkfifo((s / "fifo").c_str(), 0600), 0);
                 makeSocket(s / "socket");
               },
               nullptr,
               Outcome::refusedWhenAdded,
               {{"fifo", kErrTreeNotAFile}, {"socket", kErrTreeNotAFile}},
               "",
               nullptr});
  r.push_back(
      {"a file that grows between preparation and burn",
       [](const fs::path& s) {
         writeBytes(s / "kept.txt", bytesOf(3000, 3));
         writeBytes(s / "growing.log", kGrowing);
       },
       [](const fs::path& s) { writeBytes(s / "growing.log", bytesOf(50'000, 8), std::ios::app); },
       Outcome::reportedAsChanged,
       {},
       "File changed since the layout was made, its first 100000 bytes written: ",
       [](const fs::path& s) {
         return Files{{"kept.txt", readText(s / "kept.txt")}, {"growing.log", kGrowing}};
       }});
  r.push_back({"a file rewritten in place, same size, new date",
               [](const fs::path& s) { writeBytes(s / "same.bin", bytesOf(9000, 4)); },
               [](const fs::path& s) {
                 const auto before = fs::last_write_time(s / "same.bin");
                 writeBytes(s / "same.bin", bytesOf(9000, 5));
                 fs::last_write_time(s / "same.bin", before + std::chrono::seconds(2));
               },
               Outcome::reportedAsChanged,
               {},
               "File changed since the layout was made, its first 9000 bytes written: ",
               nullptr});
  r.push_back({"a name that is not UTF-8",
               [](const fs::path& s) {
                 writeBytes(s / "plain.txt", bytesOf(700, 6));
                 writeBytes(s / "caf\xE9.txt", bytesOf(1200, 9));
               },
               nullptr,
               Outcome::writtenWithLogNote,
               {},
               "Name is not valid UTF-8, read as Latin-1 \"caf\xC3\xA9.txt\": ",
               [](const fs::path& s) {
                 return Files{{"plain.txt", readText(s / "plain.txt")},
                              {"caf\xC3\xA9.txt", readText(s / "caf\xE9.txt")}};
               }});
  return r;
}

// The item of the source folder the log line names, for the rows whose log names one.
std::string loggedPath(const ChangeRow& row, const fs::path& source) {
  switch (row.outcome) {
    case Outcome::reportedAsChanged:
      return (source / (row.expected ? "growing.log" : "same.bin")).string();
    case Outcome::writtenWithLogNote:
      return (source / "caf\xE9.txt").string();
    default:
      return std::string();
  }
}

// The readers that extract a whole image, each into its own folder.
struct Reader {
  const char* tool;
  std::function<std::vector<std::string>(const fs::path& iso, const fs::path& out)> argv;
};

const std::vector<Reader>& readers() {
  static const std::vector<Reader> all = {
      {"xorriso",
       [](const fs::path& iso, const fs::path& out) {
         return std::vector<std::string>{"xorriso", "-indev",   iso.string(), "-osirrox",
                                         "on",      "-extract", "/",          out.string()};
       }},
      {"bsdtar",
       [](const fs::path& iso, const fs::path& out) {
         return std::vector<std::string>{"bsdtar", "-xf", iso.string(), "-C", out.string()};
       }},
      {"7zz",
       [](const fs::path& iso, const fs::path& out) {
         return std::vector<std::string>{"7zz", "x", "-y", "-o" + out.string(), iso.string()};
       }},
  };
  return all;
}

class DataDisc : public ::testing::TestWithParam<ChangeRow> {
 protected:
  void SetUp() override { TestThreads::instance().reset(); }
  void TearDown() override { TestThreads::instance().reset(); }
  TempDir dir_;
};

TEST_P(DataDisc, EveryFileIsWrittenWholeOrReported) {
  std::vector<const Reader*> present;
  for (const Reader& reader : readers())
    if (toolAvailable(reader.tool)) present.push_back(&reader);
  if (present.size() < 2) GTEST_SKIP() << "fewer than two of xorriso, bsdtar and 7zz";

  const ChangeRow& row = GetParam();
  const fs::path source = dir_.path() / "source";
  fs::create_directories(source);
  row.make(source);

  TreePtr tree(initTree(initNode(nullptr, "DISC", nullptr, false)));
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(source)) entries.push_back(e.path());
  std::sort(entries.begin(), entries.end());
  std::map<std::string, EngineStatus> refused;
  for (const fs::path& p : entries) {
    FS_Node* node = initNode(p.c_str(), p.filename().c_str(), nullptr, false);
    ASSERT_NE(node, nullptr);
    if (const EngineStatus s = AddTreeNode(tree.get(), node, GetRootTreeNode(tree.get()));
        s != kNoErr) {
      refused[p.filename().string()] = s;
      termNode(node);
    }
  }
  EXPECT_EQ(refused, row.refused);

  const fs::path iso = dir_.path() / "out.iso";
  CapturedLog log;
  ImageJob job(tree.get(), kBP_ISOImageWriter, iso);
  ASSERT_EQ(job.setUp, kNoErr);
  job.shared->logFile = log.file();
  ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kNoErr);
  if (row.betweenPreparationAndBurn) row.betweenPreparationAndBurn(source);
  ASSERT_EQ(job.burnAndWait(), kNoErr);
  job.shared->logFile = nullptr;

  const BP_RuntimeSharedData& r = *job.shared;
  EXPECT_TRUE(BP_RunFinished(&r));
  EXPECT_EQ(r.writers[0].errorCode, 0);
  const std::string text = log.text();
  if (row.outcome == Outcome::reportedAsChanged) {
    EXPECT_EQ(r.readErrorCode, kErrFileAccess) << "a changed file must not end as success";
  } else {
    EXPECT_EQ(r.readErrorCode, 0) << text;
  }
  if (row.logLine.empty()) {
    EXPECT_EQ(text.find("??"), std::string::npos) << text;
  } else {
    EXPECT_NE(text.find(row.logLine + loggedPath(row, source)), std::string::npos) << text;
  }

  const Files expected = row.expected ? row.expected(source) : plainFilesBelow(source);
  for (const Reader* reader : present) {
    const fs::path out = dir_.path() / reader->tool;
    fs::create_directories(out);
    const ToolResult extracted = runTool(reader->argv(iso, out));
    EXPECT_EQ(extracted.exitCode, 0) << reader->tool << ": " << extracted.output;
    const Files got = plainFilesBelow(out);
    EXPECT_EQ(got.size(), expected.size()) << reader->tool;
    for (const auto& [name, bytes] : expected) {
      const auto it = got.find(name);
      if (it == got.end()) {
        ADD_FAILURE() << reader->tool << " finds no " << name;
        continue;
      }
      EXPECT_TRUE(it->second == bytes) << reader->tool << ": " << name << " differs";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, DataDisc, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<ChangeRow>& param) {
                           std::string name;
                           for (const char c : std::string(param.param.name))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// The level-1 names of a folder of 1001 look-alike names are all distinct; the readers
// above read the Joliet tree, so the ISO9660 tree is listed on its own.
TEST(DataDiscNames, TheLevelOneTreeOfALargeFolderHasDistinctNames) {
  if (!toolAvailable("isoinfo")) GTEST_SKIP() << "isoinfo is not installed";
  TestThreads::instance().reset();
  TempDir dir;
  const fs::path source = dir.path() / "source";
  fs::create_directories(source);
  rows()[0].make(source);
  TreePtr tree(initTree(initNode(nullptr, "DISC", nullptr, false)));
  for (const auto& e : fs::directory_iterator(source)) {
    FS_Node* node = initNode(e.path().c_str(), e.path().filename().c_str(), nullptr, false);
    ASSERT_EQ(AddTreeNode(tree.get(), node, GetRootTreeNode(tree.get())), kNoErr);
  }
  const fs::path iso = dir.path() / "out.iso";
  {
    ImageJob job(tree.get(), kBP_ISOImageWriter, iso);
    ASSERT_EQ(job.burnAndWait(), kNoErr);
    EXPECT_EQ(job.shared->readErrorCode, 0);
  }
  TestThreads::instance().reset();
  const std::string listing = toolOutput({"isoinfo", "-f", "-i", iso.string()});
  std::set<std::string> names;
  std::size_t lines = 0;
  for (std::size_t at = 0, end; (end = listing.find('\n', at)) != std::string::npos;
       at = end + 1, ++lines)
    names.insert(listing.substr(at, end - at));
  EXPECT_EQ(lines, 1001u);
  EXPECT_EQ(names.size(), 1001u);
  EXPECT_NE(listing.find("/FILE_~~0.DAT"), std::string::npos)
      << "the name after the 999 decimal ones\n"
      << listing;
}

}  // namespace
