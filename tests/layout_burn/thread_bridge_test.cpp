// SPDX-License-Identifier: GPL-2.0-or-later
// The interface's thread creator under a real burn: the engine asks it for one reader and a
// writer per destination, the window joins them all before the job goes, and a thread that
// cannot start ends the run with an error instead of leaving the window waiting.
#include "burn/thread_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "burn/progress_model.h"
#include "device_environment.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;
using quillion::emu::DeviceEnvironment;

namespace {

const std::map<std::string, std::size_t> kFiles = {{"a.txt", 3000}, {"dir/b.bin", 70'000}};

std::uint32_t* mallocRefs(const std::vector<std::uint32_t>& refs) {
  auto* list = static_cast<std::uint32_t*>(std::malloc(refs.size() * sizeof(std::uint32_t)));
  std::ranges::copy(refs, list);
  return list;
}

class ThreadBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFiles(dir_.path() / "source", kFiles);
    tree_ = treeFromFolder(dir_.path() / "source");
  }

  void plugBlankCDR(const std::string& name) {
    auto drive = env_.plug(name, "cd-writer");
    drive->load(env_.blankDisc(name, 0x09, 359'846));
  }

  BP_JobRef job(BP_JobCode code, std::uint16_t drives, BP_RuntimeSharedData** shared) {
    const BP_JobRef j = BP_Create(code, shared, drives);
    EXPECT_NE(j, 0u);
    EXPECT_EQ(BP_SetDataTree(j, tree_.get()), kNoErr);
    EXPECT_EQ(BP_SetDataDiscFormat(j, 512), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(j, TC_ThreadCreateCB), kNoErr);
    return j;
  }

  TempDir dir_;
  DeviceEnvironment env_;
  TreePtr tree_;
};

TEST_F(ThreadBridge, ThreeDestinationsAskFourThreadsAllJoined) {
  for (const char* name : {"one", "two", "three"}) plugBlankCDR(name);
  env_.start();
  std::vector<std::uint32_t> refs;
  for (const char* name : {"one", "two", "three"}) {
    refs.push_back(DeviceEnvironment::refOf(name));
    (void)MMC_TestUnitReady(refs.back(), nullptr);  // the load's unit attention
  }
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef j = job(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), 3, &shared);
  ASSERT_EQ(BP_SetDstDriveList(j, mallocRefs(refs), 3), kNoErr);
  ASSERT_EQ(BP_Burn(j), kNoErr);
  // BP_Burn asked for every thread before it returned.
  const JobThreads::Counts asked = JobThreads::countsOf(shared);
  EXPECT_EQ(asked.readers, 1u);
  EXPECT_EQ(asked.writers, 3u);
  EXPECT_EQ(asked.failed, 0u);
  JobThreads::joinAll(shared);
  EXPECT_EQ(JobThreads::countsOf(shared).running, 0u) << "every thread joined and forgotten";
  EXPECT_TRUE(BP_RunFinished(shared));
  const RunSnapshot s = snapshotOf(*shared);
  EXPECT_TRUE(s.finished());
  ASSERT_EQ(s.writers.size(), 3u);
  for (const RunSnapshot::Writer& w : s.writers) {
    EXPECT_EQ(w.errorCode, 0);
    EXPECT_EQ(w.sectorsWritten, s.totalBlocks);
  }
  EXPECT_EQ(s.failureCode(), 0);
  EXPECT_EQ(BP_Delete(j), kNoErr);
  env_.stop();
}

struct FailureCase {
  const char* name;
  std::int16_t flag;
};

class ThreadStartFailure : public ThreadBridge,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ThreadStartFailure, EndsTheRunWithAnError) {
  env_.start();
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef j = job(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToImage), 1, &shared);
  ASSERT_EQ(BP_SetDstDevice(j, kBP_ISOImageWriter), kNoErr);
  const std::string iso = (dir_.path() / "out.iso").string();
  ASSERT_EQ(BP_SetDstImageFilePath(j, iso.c_str(), kBP_DstISOImage), kNoErr);
  {
    JobThreads::ScopedStartFailure refuse(GetParam().flag);
    (void)BP_Burn(j);
  }
  EXPECT_GE(JobThreads::countsOf(shared).failed, 1u);
  JobThreads::joinAll(shared);
  // The record shows the run over, as a failure: the window's done test ends it.
  const RunSnapshot s = snapshotOf(*shared);
  EXPECT_TRUE(s.finished());
  EXPECT_NE(s.failureCode(), 0);
  ProgressModel m;
  m.reset(false, false);
  const ProgressUpdate u = m.tick(s, 0);
  ASSERT_TRUE(u.completed);
  EXPECT_EQ(*u.completed, kResultError);
  EXPECT_EQ(BP_Delete(j), kNoErr);
}

INSTANTIATE_TEST_SUITE_P(Table, ThreadStartFailure,
                         ::testing::Values(FailureCase{"reader", kBP_ReaderThread},
                                           FailureCase{"writer", kBP_WriterThread}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
