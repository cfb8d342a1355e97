// SPDX-License-Identifier: GPL-2.0-or-later
// A burn run that does not go to plan, through the flat API: files gone or cut short while
// the layout is produced, a preparation that fails, a destination that fills up, cancels at
// chosen points, and the thread creator's contract. Whatever happens, the record ends
// finished and never says success for a run that failed, and what reached the image is a
// prefix of the volume: no block lost, none twice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/handle_table.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

// More than one 8 MB cache of data, so that the reader has to wait for the writer once.
const std::map<std::string, std::size_t> kLayout = {
    {"a.txt", 3000},
    {"b/c.bin", 6 * 1024 * 1024 + 5},
    {"b/d.bin", 5 * 1024 * 1024},
    {"e.dat", 100'000},
};

class BurnRun : public ::testing::Test {
 protected:
  void SetUp() override {
    TestThreads::instance().reset();
    source_ = dir_.path() / "source";
    writeFiles(source_, kLayout);
    tree_ = treeFromFolder(source_);
  }
  void TearDown() override { TestThreads::instance().reset(); }

  // The volume an undisturbed run makes of the layout.
  std::string reference() {
    const fs::path iso = dir_.path() / "reference.iso";
    ImageJob job(tree_.get(), kBP_ISOImageWriter, iso);
    EXPECT_EQ(job.burnAndWait(), kNoErr);
    EXPECT_EQ(job.shared->writers[0].errorCode, 0);
    return readText(iso);
  }

  static void expectPrefix(const std::string& written, const std::string& whole) {
    ASSERT_LE(written.size(), whole.size());
    EXPECT_EQ(written.size() % 2048, 0u);
    EXPECT_TRUE(whole.compare(0, written.size(), written) == 0)
        << "what reached the image is not the start of the volume";
  }

  TempDir dir_;
  fs::path source_;
  TreePtr tree_;
};

}  // namespace

TEST_F(BurnRun, FilesGoneOrShortenedWhileProducedEndTheJobWithAnError) {
  QUILLION_REQUIRE_TOOL("xorriso");
  const fs::path iso = dir_.path() / "out.iso";
  CapturedLog log;
  ImageJob job(tree_.get(), kBP_ISOImageWriter, iso);
  job.shared->logFile = log.file();
  ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kNoErr);
  // After the layout was measured: one file goes, one is cut short.
  fs::remove(source_ / "a.txt");
  fs::resize_file(source_ / "b/d.bin", 1000);
  ASSERT_EQ(job.burnAndWait(), kNoErr);
  job.shared->logFile = nullptr;

  const BP_RuntimeSharedData& r = *job.shared;
  EXPECT_TRUE(BP_RunFinished(&r));
  EXPECT_EQ(r.readErrorCode, kErrFileAccess) << "the job must not end as successful";
  EXPECT_EQ(r.blocksRead, r.totalBlocks) << "every allotted block still went out";
  EXPECT_EQ(r.writers[0].sectorsWritten, r.totalBlocks);
  const std::string text = log.text();
  EXPECT_NE(text.find("written as zeros: " + (source_ / "a.txt").string()), std::string::npos)
      << text;
  EXPECT_NE(text.find("written as zeros: " + (source_ / "b/d.bin").string()), std::string::npos)
      << text;

  // The other files are intact and the missing data reads as zeros of the allotted size.
  const fs::path out = dir_.path() / "x";
  (void)runTool(
      {"xorriso", "-indev", iso.string(), "-osirrox", "on", "-extract", "/", out.string()});
  auto files = filesBelow(out);
  EXPECT_EQ(files["a.txt"], std::string(3000, '\0'));
  const std::string kept = readText(source_ / "b/d.bin");
  EXPECT_EQ(files["b/d.bin"], kept + std::string(5 * 1024 * 1024 - 1000, '\0'));
  EXPECT_EQ(files["b/c.bin"], readText(source_ / "b/c.bin"));
  EXPECT_EQ(files["e.dat"], readText(source_ / "e.dat"));
}

TEST_F(BurnRun, AFailedPreparationIsReturnedAndStartsNoThread) {
  struct Case {
    const char* name;
    std::uint16_t format;
    const char* path;
    EngineStatus status;
  };
  const Case cases[] = {
      {"no file system for the format", 255, "/tmp/never.iso", kErrPrepareFailed},
      {"no destination path", 512, "", kErrUnknownJobKind},
  };
  for (const Case& c : cases) {
    ImageJob job(tree_.get(), kBP_ISOImageWriter, c.path, nullptr, c.format);
    EXPECT_EQ(BP_Burn(job.ref), c.status) << c.name;
    EXPECT_TRUE(TestThreads::instance().calls().empty()) << c.name;
    EXPECT_FALSE(job.shared->bStop) << c.name;
    EXPECT_EQ(job.shared->writers[0].phase, kBP_PhaseSetUp) << c.name;
  }
  // A prepared job whose creator or destinations were changed afterwards.
  for (int change = 0; change < 3; ++change) {
    ImageJob job(tree_.get(), kBP_ISOImageWriter, dir_.path() / "late.iso");
    ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kNoErr);
    if (change == 0) {
      EXPECT_EQ(BP_SetThreadCreatorCallback(job.ref, nullptr), kNoErr);
    } else if (change == 1) {
      EXPECT_EQ(BP_SetDstDevice(job.ref, 0x4444), kNoErr) << "a drive, after preparation";
    } else {
      auto* two = static_cast<std::uint32_t*>(std::malloc(2 * sizeof(std::uint32_t)));
      two[0] = kBP_ISOImageWriter;
      two[1] = kBP_NativeImageWriter;
      EXPECT_EQ(BP_SetDstDriveList(job.ref, two, 2), kErrBadArgument);
    }
    EXPECT_EQ(BP_Burn(job.ref), kErrJobNotRunnable) << change;
    EXPECT_TRUE(TestThreads::instance().calls().empty()) << change;
  }
  // A job that prepares but has no blocks.
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef slides =
      BP_Create(BP_MakeJobCode(kBP_KindVCDSlide, kBP_RouteLayoutToImage), &shared, 1);
  FS_List* list = initList();
  EXPECT_EQ(BP_SetAudioList(slides, list), kNoErr);
  EXPECT_EQ(BP_SetDstImageFilePath(slides, "/tmp/never.iso", kBP_DstISOImage), kNoErr);
  EXPECT_EQ(BP_SetThreadCreatorCallback(slides, TestThreads::create), kNoErr);
  EXPECT_EQ(BP_SetDstDevice(slides, kBP_ISOImageWriter), kNoErr);
  EXPECT_EQ(BP_Burn(slides), kErrPrepareFailed);
  EXPECT_TRUE(TestThreads::instance().calls().empty());
  EXPECT_EQ(BP_Delete(slides), kNoErr);
  termList(list);
}

TEST_F(BurnRun, ACancelAtAnyPointEndsTheRunWithAPrefix) {
  const std::string whole = reference();
  enum class When { BeforeTheReader, CacheFullByStop, CacheFullByForceQuit, DeletedMidRun };
  struct Case {
    const char* name;
    When when;
  };
  const Case cases[] = {
      {"stopped before the reader starts", When::BeforeTheReader},
      {"stopped when the cache is first full", When::CacheFullByStop},
      {"its drive cancelled when the cache is first full", When::CacheFullByForceQuit},
      {"the job deleted while it runs", When::DeletedMidRun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestThreads::instance().reset();
    const fs::path iso = dir_.path() / "cancelled.iso";
    ActingClock clock;
    auto job = std::make_unique<ImageJob>(tree_.get(), kBP_ISOImageWriter, iso, &clock);
    BP_RuntimeSharedData* r = job->shared;
    const BP_JobRef ref = job->ref;
    // The writer is held until the reader first waits, so the cache is full by construction;
    // it is let go before the cancel, since deleting the job waits for every thread.
    TestThreads& threads = TestThreads::instance();
    const auto whenFull = [&clock, &threads](std::function<void()> cancel) {
      threads.hold(kBP_WriterThread);
      clock.actAt(kBP_ReaderThread, 1, [&threads, cancel] {
        threads.release();
        cancel();
      });
    };
    switch (c.when) {
      case When::BeforeTheReader:
        threads.beforeStart(kBP_ReaderThread, [r] { r->bStop = true; });
        break;
      case When::CacheFullByStop:
        whenFull([r] { r->bStop = true; });
        break;
      case When::CacheFullByForceQuit:
        whenFull([r] { r->writers[0].bForceQuit = true; });
        break;
      case When::DeletedMidRun:
        whenFull([ref] { EXPECT_EQ(BP_Delete(ref), kNoErr); });
        break;
    }
    ASSERT_EQ(job->burnAndWait(), kNoErr);
    expectPrefix(readText(iso), whole);
    if (c.when == When::DeletedMidRun) {
      BP_JobSettings s{};
      EXPECT_EQ(BP_GetJobSettings(ref, &s), kErrNoJob);
      job->ref = 0;  // already deleted
      job.reset();
      continue;
    }
    EXPECT_TRUE(BP_RunFinished(r));
    EXPECT_EQ(r->writers[0].errorCode, kErrCancelled) << "a cancelled run is no success";
    EXPECT_EQ(r->writers[0].phase, kBP_PhaseFailed);
    EXPECT_LT(r->writers[0].sectorsWritten, r->totalBlocks);
    EXPECT_LT(r->blocksRead, r->totalBlocks);
    EXPECT_EQ(r->readErrorCode, 0) << "the reader did not fail; it was stopped";
    EXPECT_GE(fs::file_size(iso), std::uint64_t{r->writers[0].sectorsWritten} * 2048);
    if (c.when == When::BeforeTheReader) {
      EXPECT_EQ(r->blocksRead, 0u);
    } else {
      EXPECT_TRUE(clock.acted()) << "the cache never filled: the case did not happen";
    }
  }
}

TEST_F(BurnRun, TheThreadCreatorIsAskedForOneReaderAndOneWriter) {
  ImageJob job(tree_.get(), kBP_ISOImageWriter, dir_.path() / "out.iso");
  ASSERT_EQ(job.burnAndWait(), kNoErr);
  const auto calls = TestThreads::instance().calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].flag, kBP_ReaderThread);
  EXPECT_EQ(calls[0].userData, job.ref);
  EXPECT_EQ(calls[0].shared, job.shared);
  EXPECT_EQ(calls[1].flag, kBP_WriterThread);
  EXPECT_EQ(calls[1].shared, job.shared);
  EXPECT_FALSE(quillion::isReservedHandle(calls[1].userData));
  ASSERT_TRUE(BP_RunFinished(job.shared));

  // The writer released its argument; the reader reads a job once. Calling the routines
  // again changes nothing.
  const std::uint32_t written = job.shared->writers[0].sectorsWritten;
  calls[1].routine(calls[1].userData);
  calls[0].routine(calls[0].userData);
  EXPECT_EQ(job.shared->writers[0].sectorsWritten, written);
  EXPECT_EQ(job.shared->writers[0].phase, kBP_PhaseDone);
  EXPECT_EQ(job.shared->blocksRead, job.shared->totalBlocks);

  // A started job takes no more settings, preparation or start.
  EXPECT_EQ(BP_Burn(job.ref), kErrJobNotRunnable);
  EXPECT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kErrJobNotRunnable);
  EXPECT_EQ(BP_SetSAO(job.ref, true), kErrJobNotRunnable);
  EXPECT_EQ(BP_SetDstDevice(job.ref, kBP_NativeImageWriter), kErrJobNotRunnable);
  EXPECT_EQ(TestThreads::instance().calls().size(), 2u);
}

TEST_F(BurnRun, AThreadTheCreatorCannotStartEndsAsAFailure) {
  {  // no reader: nothing runs
    TestThreads::instance().refuse(kBP_ReaderThread);
    ImageJob job(tree_.get(), kBP_ISOImageWriter, dir_.path() / "none.iso");
    EXPECT_EQ(job.burnAndWait(), kErrJobNotRunnable);
    EXPECT_EQ(TestThreads::instance().calls().size(), 1u) << "no writer is asked for";
    const BP_RuntimeSharedData& r = *job.shared;
    EXPECT_TRUE(BP_RunFinished(&r));
    EXPECT_EQ(r.readErrorCode, kErrJobNotRunnable);
    EXPECT_EQ(r.writers[0].errorCode, kErrJobNotRunnable);
    EXPECT_EQ(r.writers[0].phase, kBP_PhaseFailed);
  }
  TestThreads::instance().reset();
  {  // no writer: the reader ends when the last writer has ended
    TestThreads::instance().refuse(kBP_WriterThread);
    ImageJob job(tree_.get(), kBP_ISOImageWriter, dir_.path() / "none.iso");
    EXPECT_EQ(job.burnAndWait(), kNoErr);
    const BP_RuntimeSharedData& r = *job.shared;
    EXPECT_TRUE(BP_RunFinished(&r));
    EXPECT_EQ(r.writers[0].errorCode, kErrJobNotRunnable);
    EXPECT_EQ(r.writers[0].phase, kBP_PhaseFailed);
    EXPECT_EQ(r.writers[0].sectorsWritten, 0u);
    EXPECT_LT(r.blocksRead, r.totalBlocks);
  }
}

TEST_F(BurnRun, AnIsoImageWrittenSessionAtOnceHoldsUserDataOnly) {
  QUILLION_REQUIRE_TOOL("isoinfo");
  const fs::path iso = dir_.path() / "sao.iso";
  ImageJob job(tree_.get(), kBP_ISOImageWriter, iso);
  EXPECT_EQ(BP_SetSAO(job.ref, true), kNoErr);
  ASSERT_EQ(job.burnAndWait(), kNoErr);
  EXPECT_EQ(job.shared->writers[0].errorCode, 0);
  EXPECT_EQ(fs::file_size(iso), std::uint64_t{job.shared->totalBlocks} * 2048);
  const std::string volume = toolOutput({"isoinfo", "-d", "-i", iso.string()});
  EXPECT_NE(volume.find("Volume size is: " + std::to_string(job.shared->totalBlocks)),
            std::string::npos)
      << volume;
}
