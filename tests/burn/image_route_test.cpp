// SPDX-License-Identifier: GPL-2.0-or-later
// A data layout to an image file, end to end through the flat API: the ISO image read back
// by isoinfo, xorriso and bsdtar with every file compared with its source, the native
// image's track compared with the ISO, and what the shared record and the burn log say.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "DPMs/base/fs_file_loc_list.h"
#include "image/cd_image_file.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

// Sizes around block and cache-block boundaries, empty files and folders, and a tree a few
// levels deep; more than one cache of data so the cache goes round.
const std::map<std::string, std::size_t> kLayout = {
    {"empty.txt", 0},
    {"one.bin", 1},
    {"block.bin", 2048},
    {"block+1.bin", 2049},
    {"docs/readme.txt", 2047},
    {"docs/deep/er/still.dat", 70'000},
    {"media/big.dat", 9 * 1024 * 1024 + 17},
    {"media/cache-block.dat", 524'288},
    {"media/odd.dat", 524'289},
};

class ImageRoute : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"isoinfo", "xorriso", "bsdtar"}) QUILLION_REQUIRE_TOOL(tool);
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    writeFiles(source_, kLayout);
    fs::create_directories(source_ / "empty-folder");
    tree_ = treeFromFolder(source_);
  }
  void TearDown() override { TestThreads::instance().reset(); }

  // Extracts `image` with `command` (which names the output folder last) and compares every
  // file with the source.
  void expectSameFiles(const std::string& what, const fs::path& out) {
    EXPECT_EQ(filesBelow(out), filesBelow(source_)) << what;
  }

  TempDir dir_;
  fs::path source_;
  TreePtr tree_;
};

}  // namespace

TEST_F(ImageRoute, IsoImageReadsBackWithEveryReader) {
  const fs::path iso = dir_.path() / "out.iso";
  CapturedLog log;
  std::uint32_t blocks = 0;
  {
    ImageJob job(tree_.get(), kBP_ISOImageWriter, iso);
    job.shared->logFile = log.file();
    ASSERT_EQ(BP_PrepareBurn(job.ref, &blocks, nullptr), kNoErr);
    ASSERT_EQ(job.burnAndWait(), kNoErr);
    const BP_RuntimeSharedData& r = *job.shared;
    ASSERT_TRUE(BP_RunFinished(&r));
    const std::uint32_t imageBlocks = static_cast<std::uint32_t>(fs::file_size(iso) / 2048);
    EXPECT_EQ(fs::file_size(iso) % 2048, 0u);
    EXPECT_EQ(blocks, imageBlocks + 2) << "the destination's size counts the run-out";
    EXPECT_EQ(r.totalBlocks, imageBlocks);
    EXPECT_EQ(r.blocksRead, imageBlocks);
    EXPECT_EQ(r.readErrorCode, 0);
    EXPECT_TRUE(r.bReadDone);
    EXPECT_TRUE(r.bStop) << "the last writer to end stops the job";
    EXPECT_LE(r.appCacheUsage, 100);
    const BP_WriterRTInfo& w = r.writers[0];
    EXPECT_EQ(w.errorCode, 0);
    EXPECT_EQ(w.phase, kBP_PhaseDone);
    EXPECT_EQ(w.sectorsWritten, imageBlocks);
    EXPECT_TRUE(w.bWriteThreadDone);
    job.shared->logFile = nullptr;
  }
  const std::string volume = toolOutput({"isoinfo", "-d", "-i", iso.string()});
  EXPECT_NE(volume.find("Volume size is: " + std::to_string(blocks - 2)), std::string::npos)
      << volume;
  EXPECT_NE(volume.find("Joliet with UCS level"), std::string::npos) << volume;

  // Every file, one by one, through isoinfo's Joliet view.
  for (const auto& [path, bytes] : filesBelow(source_)) {
    const std::string got = toolOutput({"isoinfo", "-J", "-i", iso.string(), "-x", "/" + path});
    EXPECT_EQ(got.size(), bytes.size()) << "isoinfo: " << path;
    EXPECT_TRUE(got == bytes) << "isoinfo: " << path;
  }
  const fs::path byXorriso = dir_.path() / "xorriso";
  (void)runTool(
      {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", byXorriso.string()});
  expectSameFiles("xorriso", byXorriso);
  EXPECT_TRUE(fs::is_directory(byXorriso / "empty-folder"));
  const fs::path byBsdtar = dir_.path() / "bsdtar";
  fs::create_directories(byBsdtar);
  (void)runTool({"bsdtar", "-xf", iso.string(), "-C", byBsdtar.string()});
  expectSameFiles("bsdtar", byBsdtar);

  const std::string text = log.text();
  for (const char* line :
       {"\r < Layout > : Data (1->1)", "\r\r ------ Append Data Track ------", "Mode 2 form 1 data",
        "\r\r=> Read thread start @ ", "\r\r=> Read thread finished @ ",
        "\r=> Write thread start @ ", "   Drive Ref : 4294967294\r", "   Burn Type : TAO\r",
        "   Media     : ISO image file\r", "   Write     : Real Write\r", "   BUP Status: ON\r",
        "\r=> Write thread finished @ "})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
}

// The native image holds the same volume as an ISO image of the same layout: block for block
// when the track is written in 2048-byte blocks, user data for user data when its blocks
// carry Mode 2 Form 1 subheaders.
TEST_F(ImageRoute, NativeImageTrackHoldsTheIsoVolume) {
  struct Case {
    bool xa;
    std::uint32_t blockSize;
    std::uint32_t userDataAt;
    std::uint16_t trackType;
  };
  for (const Case& c : {Case{false, 2048, 0, 1}, Case{true, 2336, 8, 3}}) {
    SCOPED_TRACE(c.xa ? "XA" : "Mode 1");
    const fs::path iso = dir_.path() / "reference.iso";
    {
      ImageJob job(tree_.get(), kBP_ISOImageWriter, iso);
      EXPECT_EQ(BP_SetISO9660_XA(job.ref, c.xa), kNoErr);
      ASSERT_EQ(job.burnAndWait(), kNoErr);
    }
    const std::string reference = readText(iso);
    ASSERT_GT(reference.size(), 0u);
    const fs::path image = dir_.path() / "image.wlt";
    std::uint32_t bytes[2] = {};
    {
      ImageJob job(tree_.get(), kBP_NativeImageWriter, image);
      EXPECT_EQ(BP_SetISO9660_XA(job.ref, c.xa), kNoErr);
      ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, bytes), kNoErr);
      ASSERT_EQ(job.burnAndWait(), kNoErr);
      EXPECT_EQ(job.shared->writers[0].errorCode, 0);
      EXPECT_EQ(job.shared->writers[0].phase, kBP_PhaseDone);
      BP_JobSettings settings{};
      EXPECT_EQ(BP_GetJobSettings(job.ref, &settings), kNoErr);
      EXPECT_TRUE(settings.writeImageTrackByTrack);
      EXPECT_FALSE(settings.sao);
    }
    EXPECT_EQ(fs::file_size(image), std::uint64_t{bytes[1]} << 32 | bytes[0])
        << "the size preparation reported is the file's";

    CDImageFile reader(false);
    ASSERT_EQ(reader.Open(image.c_str(), false), kNoErr);
    std::uint16_t sessions = 0, tracks = 0;
    ASSERT_EQ(reader.CDImageInfo(&sessions, &tracks), kNoErr);
    EXPECT_EQ(sessions, 1);
    ASSERT_EQ(tracks, 1);
    WLTTRACK track;
    ASSERT_EQ(reader.GetTrackInfo(1, &track), kNoErr);
    EXPECT_EQ(track.trackType, c.trackType);
    std::uint32_t blockSize = 0;
    const std::uint32_t count = reader.OpenTrack(1, &blockSize);
    ASSERT_EQ(blockSize, c.blockSize);
    ASSERT_EQ(std::uint64_t{count} * 2048, reference.size());
    std::string block(blockSize, '\0');
    std::uint32_t differing = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(reader.ReadData(block.data(), 1), 1u) << "block " << i;
      if (block.compare(c.userDataAt, 2048, reference, std::size_t{i} * 2048, 2048) != 0)
        ++differing;
    }
    EXPECT_EQ(differing, 0u);
  }
}

TEST_F(ImageRoute, CacheSizeFollowsTheDestinationAndTheJob) {
  // A sparse file makes a large job without writing its bytes to the source.
  const fs::path bigSource = dir_.path() / "big";
  fs::create_directories(bigSource);
  {
    std::ofstream(bigSource / "sparse.bin").close();
    fs::resize_file(bigSource / "sparse.bin", 120 * 1024 * 1024);
  }
  const TreePtr bigTree = treeFromFolder(bigSource);
  struct Case {
    const char* name;
    FS_Tree* tree;
    std::uint32_t destination;
    std::uint32_t wishKB;
    std::uint32_t cacheKB;
  };
  const Case cases[] = {
      {"a large wish for a large job is capped", bigTree.get(), kBP_ISOImageWriter, 100'000,
       36'864},
      {"never below 8 MB", tree_.get(), kBP_ISOImageWriter, 1'000, 8'192},
      {"a native image always has 8 MB", bigTree.get(), kBP_NativeImageWriter, 100'000, 8'192},
      {"a large wish for a small job takes about the job's size", tree_.get(), kBP_ISOImageWriter,
       100'000, 0},
  };
  for (const Case& c : cases) {
    ImageJob job(c.tree, c.destination, dir_.path() / "sized.img");
    EXPECT_EQ(BP_SetExpectCacheSize(job.ref, c.wishKB), kNoErr);
    ASSERT_EQ(job.burnAndWait(), kNoErr) << c.name;
    const std::uint32_t size = job.shared->appCacheSize;
    if (c.cacheKB != 0) {
      EXPECT_EQ(size, c.cacheKB) << c.name;
    } else {
      const std::uint32_t jobKB = job.shared->totalBlocks * 2;
      EXPECT_GE(size, jobKB) << c.name;
      EXPECT_LE(size, jobKB + 1024) << c.name;
    }
    EXPECT_EQ(job.shared->writers[0].errorCode, 0) << c.name;
  }
}

// A destination that fills up part way: the file size limit makes writes fail as a full
// disk does. It is set in a child process, which reports the record through a pipe (the
// limit must not reach the test program, and the destination is never a device: the image
// writer replaces what is at its path).
struct LimitedRun {
  std::int32_t burnStatus = 1;
  std::int32_t errorCode = 0;
  std::int32_t phase = 0;
  std::int32_t sectorsWritten = 0;
  std::int32_t totalBlocks = 0;
  std::int32_t finished = 0;
};

LimitedRun runWithFileSizeLimit(FS_Tree* tree, std::uint32_t destination, const fs::path& image,
                                off_t limit) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    ::setrlimit(RLIMIT_FSIZE, &r);
    LimitedRun report;
    {
      ImageJob job(tree, destination, image);
      report.burnStatus = job.burnAndWait();
      const BP_WriterRTInfo& w = job.shared->writers[0];
      report.errorCode = w.errorCode;
      report.phase = w.phase;
      report.sectorsWritten = static_cast<std::int32_t>(w.sectorsWritten);
      report.totalBlocks = static_cast<std::int32_t>(job.shared->totalBlocks.load());
      report.finished = BP_RunFinished(job.shared) ? 1 : 0;
    }
    const bool sent = ::write(fds[1], &report, sizeof report) == sizeof report;
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  LimitedRun report;
  const bool received = child > 0 && ::read(fds[0], &report, sizeof report) == sizeof report;
  ::close(fds[0]);
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) report.burnStatus = 1;
  return report;
}

TEST_F(ImageRoute, ADestinationFullPartWayFailsAndKeepsWhatWasWrittenInOrder) {
  const fs::path reference = dir_.path() / "reference.iso";
  {
    ImageJob job(tree_.get(), kBP_ISOImageWriter, reference);
    ASSERT_EQ(job.burnAndWait(), kNoErr);
  }
  const std::string whole = readText(reference);
  const off_t limit = 3 * 1024 * 1024 + 4096;
  for (std::uint32_t destination : {kBP_ISOImageWriter, kBP_NativeImageWriter}) {
    SCOPED_TRACE(destination);
    const fs::path image = dir_.path() / "limited.img";
    const LimitedRun r = runWithFileSizeLimit(tree_.get(), destination, image, limit);
    ASSERT_EQ(r.burnStatus, kNoErr) << "the child did not report";
    EXPECT_EQ(r.finished, 1);
    EXPECT_EQ(r.errorCode, kErrImageWrite) << "a full destination is no success";
    EXPECT_EQ(r.phase, kBP_PhaseFailed);
    EXPECT_LT(r.sectorsWritten, r.totalBlocks);
    const std::string written = readText(image);
    EXPECT_LE(written.size(), static_cast<std::size_t>(limit));
    if (destination == kBP_ISOImageWriter) {
      EXPECT_GE(written.size(), static_cast<std::size_t>(r.sectorsWritten) * 2048);
      EXPECT_EQ(written.size() % 2048, 0u);
      EXPECT_TRUE(whole.compare(0, written.size(), written) == 0)
          << "what reached the image is not the start of the volume";
    }
  }
}

// With one destination, the verification pass learns the range written and, file by file,
// where each file lies.
TEST_F(ImageRoute, VerificationIsToldWhatWasWritten) {
  for (std::uint32_t type : {0u, 1u, 2u}) {
    SCOPED_TRACE(type);
    ImageJob job(tree_.get(), kBP_ISOImageWriter, dir_.path() / "verify.iso");
    EXPECT_EQ(BP_SetVerifyType(job.ref, type), kNoErr);
    std::uint32_t blocks = 0;
    ASSERT_EQ(BP_PrepareBurn(job.ref, &blocks, nullptr), kNoErr);
    const BP_WriterRTInfo& w = job.shared->writers[0];
    EXPECT_EQ(w.startVerifyLBA, 0u);
    EXPECT_EQ(w.totalVerifyBlks, type == 0 ? 0u : blocks - 2);
    const FS_FileLocList* list = job.shared->fileLocList;
    if (type == 2) {
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->count, kLayout.size()) << "one entry per file";
      EXPECT_EQ(list->blockSize, 2048u);
    } else {
      EXPECT_EQ(list, nullptr);
    }
  }
}
