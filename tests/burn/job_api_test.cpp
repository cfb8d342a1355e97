// SPDX-License-Identifier: GPL-2.0-or-later
// The burn job through its flat functions: handles, defaults, every setter with its
// refusals, the destination list and the shared record, and the checks and outputs of
// preparation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/handle_table.h"
#include "device_environment.h"
#include "quillion/BP.h"
#include "quillion/FS.h"
#include "run_support.h"

using quillion::emu::DeviceEnvironment;
using quillion::test::CapturedLog;

namespace {

std::int32_t refuseThreads(std::int16_t, BP_ThreadRoutine, BP_RuntimeSharedData*, std::uint32_t) {
  return 0;
}
void storedA() {}
void storedB() {}

std::uint32_t* mallocRefs(std::initializer_list<std::uint32_t> refs) {
  auto* a = static_cast<std::uint32_t*>(std::malloc(refs.size() * sizeof(std::uint32_t)));
  std::copy(refs.begin(), refs.end(), a);
  return a;
}

BP_JobSettings settingsOf(BP_JobRef job) {
  BP_JobSettings s{};
  EXPECT_EQ(BP_GetJobSettings(job, &s), kNoErr);
  return s;
}

// A job with its record, deleted at the end of the test.
struct Job {
  explicit Job(BP_JobCode code, std::uint16_t drives = 1) : ref(BP_Create(code, &shared, drives)) {
    EXPECT_NE(ref, 0u);
  }
  ~Job() { EXPECT_EQ(BP_Delete(ref), kNoErr); }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  BP_JobSettings settings() const { return settingsOf(ref); }

  BP_RuntimeSharedData* shared = nullptr;
  BP_JobRef ref;
};

struct TreeDeleter {
  void operator()(FS_Tree* t) const { termTree(t); }
};
struct ListDeleter {
  void operator()(FS_List* l) const { termList(l); }
};

constexpr BP_JobCode kDataToImage = BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToImage);

// Everything a layout-to-image job of `kind` needs to pass the checks of preparation.
struct Inputs {
  Inputs() : tree(initTree(initNode(nullptr, "root", nullptr, false))), list(initList()) {}
  void give(BP_JobRef job, std::uint32_t destination = kBP_ISOImageWriter) const {
    EXPECT_EQ(BP_SetDataTree(job, tree.get()), kNoErr);
    EXPECT_EQ(BP_SetAudioList(job, list.get()), kNoErr);
    EXPECT_EQ(BP_SetDstImageFilePath(job, "/tmp/out.iso", kBP_DstISOImage), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(job, refuseThreads), kNoErr);
    EXPECT_EQ(BP_SetDstDevice(job, destination), kNoErr);
  }
  std::unique_ptr<FS_Tree, TreeDeleter> tree;
  std::unique_ptr<FS_List, ListDeleter> list;
};

}  // namespace

TEST(BurnJob, CreateGivesAFreshRecordAndTheDefaults) {
  Job job(kDataToImage, 3);
  EXPECT_FALSE(quillion::isReservedHandle(job.ref));
  ASSERT_NE(job.shared, nullptr);
  const BP_RuntimeSharedData& r = *job.shared;
  EXPECT_EQ(r.numDrives, 3);
  EXPECT_EQ(r.numWriters, 0);
  EXPECT_EQ(r.totalBlocks, 0u);
  EXPECT_EQ(r.appCacheSize, 0u);
  EXPECT_FALSE(r.bStop);
  EXPECT_FALSE(r.bReadDone);
  EXPECT_EQ(r.readErrorCode, 0);
  EXPECT_EQ(r.logFile, nullptr);
  EXPECT_EQ(r.fileLocList, nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.writers[i].deviceRef, 0u);
    EXPECT_EQ(r.writers[i].phase, kBP_PhaseNone);
    EXPECT_FALSE(r.writers[i].bWriteThreadDone);
  }

  const BP_JobSettings s = job.settings();
  EXPECT_EQ(s.jobCode, kDataToImage);
  EXPECT_FALSE(s.prepared);
  EXPECT_EQ(s.dstCount, 0);
  EXPECT_STREQ(s.srcImagePath, "");
  EXPECT_STREQ(s.dstImagePath, "");
  EXPECT_FALSE(s.sao);
  EXPECT_FALSE(s.closeDisc);
  EXPECT_TRUE(s.burnProof);
  EXPECT_EQ(s.burnProofType, 1);
  EXPECT_FALSE(s.simulate);
  EXPECT_FALSE(s.eraseBeforeBurn[0]);
  EXPECT_TRUE(s.eraseBeforeBurn[1]);
  EXPECT_TRUE(s.iso9660XA);
  EXPECT_TRUE(s.appleExtensions);
  EXPECT_EQ(s.dataDiscFormat, 2);
  EXPECT_FALSE(s.ejectSrcAfterRead);
  EXPECT_FALSE(s.writeImageTrackByTrack);
  EXPECT_FALSE(s.createMenu4VCD);
  EXPECT_TRUE(s.dvdPlusRWFullErase);
  EXPECT_EQ(s.dvdPlusRWEraseBlocks, 0u);
  EXPECT_EQ(s.dvdPlusRWUsedBlocks, 0u);
  EXPECT_EQ(s.threadCreator, nullptr);

  EXPECT_EQ(BP_Create(kDataToImage, nullptr, 1), 0u);
  BP_RuntimeSharedData* other = nullptr;
  const BP_JobRef second = BP_Create(kDataToImage, &other, 0);
  EXPECT_NE(second, job.ref);
  EXPECT_NE(other, job.shared) << "each job has its own record";
  EXPECT_EQ(BP_Delete(second), kNoErr);
}

TEST(BurnJob, EverySetterRefusesAMissingStaleOrReservedHandle) {
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef stale = BP_Create(kDataToImage, &shared, 1);
  ASSERT_EQ(BP_Delete(stale), kNoErr);
  ASSERT_EQ(BP_Delete(stale), kNoErr) << "deleting twice is harmless";
  std::uint8_t block800[800] = {};
  const std::uint8_t text[4] = {1, 2, 3, 4};
  struct Setter {
    const char* name;
    std::function<EngineStatus(BP_JobRef)> call;
    EngineStatus noJob;
  };
  FS_Tree* tree = reinterpret_cast<FS_Tree*>(block800);  // never looked at
  FS_List* list = reinterpret_cast<FS_List*>(block800);
  const std::vector<Setter> setters = {
      {"SetSrcImageFilePath", [](BP_JobRef j) { return BP_SetSrcImageFilePath(j, "/a.wlt", 1, 5); },
       kErrBadArgument},
      {"SetDstImageFilePath", [](BP_JobRef j) { return BP_SetDstImageFilePath(j, "/a.iso", 2); },
       kErrBadArgument},
      {"SetSrcDevice", [](BP_JobRef j) { return BP_SetSrcDevice(j, 5); }, kErrBadArgument},
      {"SetDstDriveList", [](BP_JobRef j) { return BP_SetDstDriveList(j, mallocRefs({5}), 1); },
       kErrBadArgument},
      {"SetDstDevice", [](BP_JobRef j) { return BP_SetDstDevice(j, 5); }, kErrBadArgument},
      {"SetDataTree", [&](BP_JobRef j) { return BP_SetDataTree(j, tree); }, kErrBadArgument},
      {"SetAudioList", [&](BP_JobRef j) { return BP_SetAudioList(j, list); }, kErrBadArgument},
      {"SetVideoList", [&](BP_JobRef j) { return BP_SetVideoList(j, list); }, kErrBadArgument},
      {"SetWriteSpeed", [](BP_JobRef j) { return BP_SetWriteSpeed(j, 5, 4); }, kErrBadArgument},
      {"SetBurnProof", [](BP_JobRef j) { return BP_SetBurnProof(j, false); }, kErrBadArgument},
      {"SetSimulate", [](BP_JobRef j) { return BP_SetSimulate(j, true); }, kErrBadArgument},
      {"SetEraseBeforeBurn", [](BP_JobRef j) { return BP_SetEraseBeforeBurn(j, true, false); },
       kErrBadArgument},
      {"SetCloseDisc", [](BP_JobRef j) { return BP_SetCloseDisc(j, true); }, kErrBadArgument},
      {"SetCDTextInfo", [&](BP_JobRef j) { return BP_SetCDTextInfo(j, text, 4); }, kErrBadArgument},
      {"SetDataDiscFormat", [](BP_JobRef j) { return BP_SetDataDiscFormat(j, 512); },
       kErrBadArgument},
      {"SetSAO", [](BP_JobRef j) { return BP_SetSAO(j, true); }, kErrBadArgument},
      {"SetErrorCallback", [](BP_JobRef j) { return BP_SetErrorCallback(j, storedA); }, kErrNoJob},
      {"SetProgressCallback", [](BP_JobRef j) { return BP_SetProgressCallback(j, storedA); },
       kErrNoJob},
      {"SetInsertBlankDiscCallback",
       [](BP_JobRef j) { return BP_SetInsertBlankDiscCallback(j, storedA); }, kErrNoJob},
      {"SetThreadCreatorCallback",
       [](BP_JobRef j) { return BP_SetThreadCreatorCallback(j, refuseThreads); }, kErrNoJob},
      {"SetExpectCacheSize", [](BP_JobRef j) { return BP_SetExpectCacheSize(j, 4096); }, kErrNoJob},
      {"SetISO9660_XA", [](BP_JobRef j) { return BP_SetISO9660_XA(j, false); }, kErrNoJob},
      {"SetISO9660_AppendAppleExt",
       [](BP_JobRef j) { return BP_SetISO9660_AppendAppleExt(j, false); }, kErrNoJob},
      {"SetDiscAudio_CDText", [&](BP_JobRef j) { return BP_SetDiscAudio_CDText(j, block800); },
       kErrNoJob},
      {"SetEncodeCDText", [](BP_JobRef j) { return BP_SetEncodeCDText(j, true); }, kErrNoJob},
      {"SetEjectSrcAfterFinishRead",
       [](BP_JobRef j) { return BP_SetEjectSrcAfterFinishRead(j, true); }, kErrNoJob},
      {"SetBurnProofType", [](BP_JobRef j) { return BP_SetBurnProofType(j, 0); }, kErrNoJob},
      {"SetDVDPlusRWUsedBlocks", [](BP_JobRef j) { return BP_SetDVDPlusRWUsedBlocks(j, 9); },
       kErrNoJob},
      {"SetDVDPlusRWEraseType", [](BP_JobRef j) { return BP_SetDVDPlusRWEraseType(j, false, 9); },
       kErrNoJob},
      {"SetVerifyType", [](BP_JobRef j) { return BP_SetVerifyType(j, 2); }, kErrNoJob},
      {"SetCreateMenu4VCD", [](BP_JobRef j) { return BP_SetCreateMenu4VCD(j, true); }, kErrNoJob},
  };
  for (const Setter& s : setters) {
    for (BP_JobRef bad : {BP_JobRef{0}, stale, kBP_NativeImageWriter, kBP_ISOImageWriter})
      EXPECT_EQ(s.call(bad), s.noJob) << s.name << " on " << bad;
  }
  BP_JobSettings out{};
  EXPECT_EQ(BP_GetJobSettings(stale, &out), kErrNoJob);
  EXPECT_EQ(BP_PrepareBurn(stale, nullptr, nullptr), kErrNoJob);
  EXPECT_EQ(BP_Delete(0), kNoErr);
}

TEST(BurnJob, EverySetterChangesItsOwnSettingOnly) {
  std::uint8_t block800[800];
  for (int i = 0; i < 800; ++i) block800[i] = static_cast<std::uint8_t>(i * 7);
  std::uint8_t cdText[18] = {0x80, 0x00};
  Inputs in;
  struct Change {
    const char* name;
    std::function<EngineStatus(BP_JobRef)> call;
    std::function<void(BP_JobSettings&)> expect;  // applied to the defaults
  };
  const std::vector<Change> changes = {
      {"SrcImageFilePath",
       [](BP_JobRef j) { return BP_SetSrcImageFilePath(j, "/in/disc.cue", 7, 123); },
       [](BP_JobSettings& s) {
         std::strcpy(s.srcImagePath, "/in/disc.cue");
         s.srcImageKind = 7;
         s.srcImageBlocks = 123;
       }},
      {"DstImageFilePath", [](BP_JobRef j) { return BP_SetDstImageFilePath(j, "/out/x.wlt", 1); },
       [](BP_JobSettings& s) {
         std::strcpy(s.dstImagePath, "/out/x.wlt");
         s.dstImageType = 1;
       }},
      {"DstImageFilePath empty", [](BP_JobRef j) { return BP_SetDstImageFilePath(j, "", 2); },
       [](BP_JobSettings& s) { s.dstImageType = 2; }},
      {"SrcDevice", [](BP_JobRef j) { return BP_SetSrcDevice(j, kBP_NativeImageWriter); },
       [](BP_JobSettings& s) { s.srcDevice = kBP_NativeImageWriter; }},
      {"DataTree", [&](BP_JobRef j) { return BP_SetDataTree(j, in.tree.get()); },
       [&](BP_JobSettings& s) { s.dataTree = in.tree.get(); }},
      {"AudioList", [&](BP_JobRef j) { return BP_SetAudioList(j, in.list.get()); },
       [&](BP_JobSettings& s) { s.trackList = in.list.get(); }},
      {"VideoList", [&](BP_JobRef j) { return BP_SetVideoList(j, in.list.get()); },
       [&](BP_JobSettings& s) { s.trackList = in.list.get(); }},
      {"BurnProof", [](BP_JobRef j) { return BP_SetBurnProof(j, false); },
       [](BP_JobSettings& s) { s.burnProof = false; }},
      {"Simulate", [](BP_JobRef j) { return BP_SetSimulate(j, true); },
       [](BP_JobSettings& s) { s.simulate = true; }},
      {"EraseBeforeBurn", [](BP_JobRef j) { return BP_SetEraseBeforeBurn(j, true, false); },
       [](BP_JobSettings& s) {
         s.eraseBeforeBurn[0] = true;
         s.eraseBeforeBurn[1] = false;
       }},
      {"CloseDisc", [](BP_JobRef j) { return BP_SetCloseDisc(j, true); },
       [](BP_JobSettings& s) { s.closeDisc = true; }},
      {"CDTextInfo", [&](BP_JobRef j) { return BP_SetCDTextInfo(j, cdText, sizeof cdText); },
       [](BP_JobSettings& s) { s.cdTextLength = 18; }},
      {"DataDiscFormat", [](BP_JobRef j) { return BP_SetDataDiscFormat(j, 512); },
       [](BP_JobSettings& s) { s.dataDiscFormat = 512; }},
      {"SAO", [](BP_JobRef j) { return BP_SetSAO(j, true); },
       [](BP_JobSettings& s) { s.sao = true; }},
      {"ErrorCallback", [](BP_JobRef j) { return BP_SetErrorCallback(j, storedA); },
       [](BP_JobSettings& s) { s.errorCallback = storedA; }},
      {"ProgressCallback", [](BP_JobRef j) { return BP_SetProgressCallback(j, storedB); },
       [](BP_JobSettings& s) { s.progressCallback = storedB; }},
      {"InsertBlankDiscCallback",
       [](BP_JobRef j) { return BP_SetInsertBlankDiscCallback(j, storedA); },
       [](BP_JobSettings& s) { s.insertBlankDiscCallback = storedA; }},
      {"ThreadCreatorCallback",
       [](BP_JobRef j) { return BP_SetThreadCreatorCallback(j, refuseThreads); },
       [](BP_JobSettings& s) { s.threadCreator = refuseThreads; }},
      {"ISO9660_XA", [](BP_JobRef j) { return BP_SetISO9660_XA(j, false); },
       [](BP_JobSettings& s) { s.iso9660XA = false; }},
      {"AppendAppleExt", [](BP_JobRef j) { return BP_SetISO9660_AppendAppleExt(j, false); },
       [](BP_JobSettings& s) { s.appleExtensions = false; }},
      {"DiscAudio_CDText", [&](BP_JobRef j) { return BP_SetDiscAudio_CDText(j, block800); },
       [&](BP_JobSettings& s) { std::memcpy(s.audioCDText, block800, 800); }},
      {"EncodeCDText", [](BP_JobRef j) { return BP_SetEncodeCDText(j, true); },
       [](BP_JobSettings& s) { s.writeCDText = true; }},
      {"EjectSrcAfterFinishRead",
       [](BP_JobRef j) { return BP_SetEjectSrcAfterFinishRead(j, true); },
       [](BP_JobSettings& s) { s.ejectSrcAfterRead = true; }},
      {"BurnProofType", [](BP_JobRef j) { return BP_SetBurnProofType(j, 0); },
       [](BP_JobSettings& s) { s.burnProofType = 0; }},
      {"DVDPlusRWUsedBlocks", [](BP_JobRef j) { return BP_SetDVDPlusRWUsedBlocks(j, 4711); },
       [](BP_JobSettings& s) { s.dvdPlusRWUsedBlocks = 4711; }},
      {"DVDPlusRWEraseType", [](BP_JobRef j) { return BP_SetDVDPlusRWEraseType(j, false, 99); },
       [](BP_JobSettings& s) {
         s.dvdPlusRWFullErase = false;
         s.dvdPlusRWEraseBlocks = 99;
       }},
      {"CreateMenu4VCD", [](BP_JobRef j) { return BP_SetCreateMenu4VCD(j, true); },
       [](BP_JobSettings& s) { s.createMenu4VCD = true; }},
  };
  for (const Change& c : changes) {
    Job job(kDataToImage);
    BP_JobSettings expected = job.settings();
    c.expect(expected);
    EXPECT_EQ(c.call(job.ref), kNoErr) << c.name;
    const BP_JobSettings got = job.settings();
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << c.name << " changed something else";
    cdText[0] = 0;  // the job keeps its own copy
    block800[0] ^= 0xFF;
    const BP_JobSettings later = job.settings();
    EXPECT_EQ(std::memcmp(&later, &got, sizeof got), 0) << c.name << " kept the caller's memory";
  }
}

TEST(BurnJob, SettersRefuseBadArguments) {
  Job job(kDataToImage);
  const std::uint8_t bytes[2] = {1, 2};
  const std::pair<const char*, EngineStatus> calls[] = {
      {"null source path", BP_SetSrcImageFilePath(job.ref, nullptr, 1, 1)},
      {"empty source path", BP_SetSrcImageFilePath(job.ref, "", 1, 1)},
      {"null destination path", BP_SetDstImageFilePath(job.ref, nullptr, 2)},
      {"source drive 0", BP_SetSrcDevice(job.ref, 0)},
      {"destination 0", BP_SetDstDevice(job.ref, 0)},
      {"null list array", BP_SetDstDriveList(job.ref, nullptr, 1)},
      {"null tree", BP_SetDataTree(job.ref, nullptr)},
      {"null audio list", BP_SetAudioList(job.ref, nullptr)},
      {"null video list", BP_SetVideoList(job.ref, nullptr)},
      {"speed 0", BP_SetWriteSpeed(job.ref, 5, 0)},
      {"null CD-Text", BP_SetCDTextInfo(job.ref, nullptr, 2)},
      {"empty CD-Text", BP_SetCDTextInfo(job.ref, bytes, 0)},
      {"format 0", BP_SetDataDiscFormat(job.ref, 0)},
      {"null audio CD-Text", BP_SetDiscAudio_CDText(job.ref, nullptr)},
  };
  for (const auto& [name, status] : calls) EXPECT_EQ(status, kErrBadArgument) << name;
  BP_JobSettings untouched{};
  {
    Job fresh(kDataToImage);
    untouched = fresh.settings();
  }
  const BP_JobSettings now = job.settings();
  EXPECT_EQ(std::memcmp(&now, &untouched, sizeof now), 0) << "a refused call changed nothing";
  EXPECT_EQ(BP_GetJobSettings(job.ref, nullptr), kErrBadArgument);
}

TEST(BurnJob, DestinationListFillsTheWriterRecords) {
  Job job(kDataToImage, 2);
  ASSERT_EQ(BP_SetDstDriveList(job.ref, mallocRefs({kBP_ISOImageWriter, kBP_NativeImageWriter}), 2),
            kNoErr);
  EXPECT_EQ(job.shared->numWriters, 2);
  const std::uint32_t expected[] = {kBP_ISOImageWriter, kBP_NativeImageWriter};
  for (int i = 0; i < 2; ++i) {
    const BP_WriterRTInfo& w = job.shared->writers[i];
    EXPECT_EQ(w.deviceRef, expected[i]);
    EXPECT_EQ(w.phase, kBP_PhaseSetUp);
    EXPECT_EQ(w.actualBurnSpeed, 1);
    EXPECT_EQ(w.mediaProfile, 0) << "an image has no medium";
  }
  EXPECT_EQ(BP_SetWriteSpeed(job.ref, kBP_NativeImageWriter, 16), kNoErr);
  EXPECT_EQ(BP_SetWriteSpeed(job.ref, 1234, 40), kNoErr) << "not a destination: ignored";
  EXPECT_EQ(job.shared->writers[0].actualBurnSpeed, 1);
  EXPECT_EQ(job.shared->writers[1].actualBurnSpeed, 16);

  // A second list replaces the first (which the job frees).
  ASSERT_EQ(BP_SetDstDevice(job.ref, kBP_NativeImageWriter), kNoErr);
  EXPECT_EQ(job.shared->numWriters, 1);
  EXPECT_EQ(job.settings().dstCount, 1);
  EXPECT_EQ(job.settings().firstDestination, kBP_NativeImageWriter);

  EXPECT_EQ(BP_SetExpectCacheSize(job.ref, 36'864), kNoErr);
  EXPECT_EQ(job.shared->appCacheSize, 36'864u);
  EXPECT_EQ(BP_SetVerifyType(job.ref, 0x10002), kNoErr);
  EXPECT_EQ(job.shared->verifyType, 2u) << "kept as 16 bits";
}

TEST(BurnJob, ADestinationListTooLongIsKeptButRefusedAtPreparation) {
  Inputs in;
  Job job(kDataToImage, 1);
  in.give(job.ref);
  EXPECT_EQ(BP_SetDstDriveList(job.ref, mallocRefs({kBP_ISOImageWriter, kBP_ISOImageWriter}), 2),
            kErrBadArgument);
  EXPECT_EQ(job.settings().dstCount, 2);
  EXPECT_EQ(job.shared->numWriters, 1) << "the records still describe the list that fitted";
  EXPECT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kErrJobNotRunnable);
  EXPECT_EQ(BP_SetDstDriveList(job.ref, mallocRefs({kBP_ISOImageWriter}), 0), kErrBadArgument);
  EXPECT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kErrJobNotRunnable);
  // An array given to no job at all is freed, not lost (the leak check sees it).
  EXPECT_EQ(BP_SetDstDriveList(0, mallocRefs({1, 2, 3}), 3), kErrBadArgument);
}

TEST(BurnJob, MediaProfileComesFromTheDrive) {
  DeviceEnvironment env;
  auto dvd = env.plug("dvdrw", "dvd-writer");
  dvd->load(env.blankDisc("dvdrw", 0x1A, 2'295'104));
  env.plug("empty", "dvd-writer");
  env.start();
  const std::uint32_t withDisc = DeviceEnvironment::refOf("dvdrw");
  const std::uint32_t withoutDisc = DeviceEnvironment::refOf("empty");
  ASSERT_NE(withDisc, 0u);
  ASSERT_NE(withoutDisc, 0u);
  Job job(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), 3);
  ASSERT_EQ(BP_SetDstDriveList(job.ref, mallocRefs({withDisc, withoutDisc, 0x7777}), 3), kNoErr);
  EXPECT_EQ(job.shared->writers[0].mediaProfile, 0x1A);
  EXPECT_EQ(job.shared->writers[1].mediaProfile, 0);
  EXPECT_EQ(job.shared->writers[2].mediaProfile, 0) << "no such drive";
}

TEST(BurnJob, PreparationChecksInOrder) {
  Inputs in;
  struct Case {
    const char* name;
    BP_JobCode code;
    std::function<void(BP_JobRef)> setUp;
    EngineStatus status;
  };
  const auto all = [&](BP_JobRef j) { in.give(j); };
  const auto noCreator = [&](BP_JobRef j) {
    in.give(j);
    EXPECT_EQ(BP_SetThreadCreatorCallback(j, nullptr), kNoErr);
  };
  const auto only = [&](bool tree, bool list) {
    return [&, tree, list](BP_JobRef j) {
      if (tree) {
        EXPECT_EQ(BP_SetDataTree(j, in.tree.get()), kNoErr);
      }
      if (list) {
        EXPECT_EQ(BP_SetAudioList(j, in.list.get()), kNoErr);
      }
      EXPECT_EQ(BP_SetDstImageFilePath(j, "/tmp/x.iso", 2), kNoErr);
      EXPECT_EQ(BP_SetThreadCreatorCallback(j, refuseThreads), kNoErr);
      EXPECT_EQ(BP_SetDstDevice(j, kBP_ISOImageWriter), kNoErr);
    };
  };
  const auto code = [](std::uint8_t kind, std::uint32_t route) { return BP_JobCode{route | kind}; };
  const Case cases[] = {
      {"image route without a path", kDataToImage,
       [&](BP_JobRef j) {
         in.give(j);
         EXPECT_EQ(BP_SetDstImageFilePath(j, "", 2), kNoErr);
       },
       kErrUnknownJobKind},
      {"drive route, destination list missing", code(1, 0x200),
       [&](BP_JobRef j) { EXPECT_EQ(BP_SetDataTree(j, in.tree.get()), kNoErr); },
       kErrUnknownJobKind},
      {"drive to image without a source", code(10, 0x300), all, kErrUnknownJobKind},
      {"image to drives without a source image", code(10, 0x400), all, kErrUnknownJobKind},
      {"drive to drives without a source", code(10, 0x500), all, kErrUnknownJobKind},
      {"unknown route", code(1, 0x600), all, kErrUnknownJobKind},
      {"unknown kind 13", code(13, 0x100), all, kErrUnknownJobKind},
      {"kind 0", code(0, 0x100), all, kErrUnknownJobKind},
      {"data without a tree", kDataToImage, only(false, true), kErrUnknownJobKind},
      {"audio without a list", code(2, 0x100), only(true, false), kErrUnknownJobKind},
      {"mixed mode without a list", code(3, 0x100), only(true, false), kErrUnknownJobKind},
      {"CD Extra without a tree", code(4, 0x100), only(false, true), kErrUnknownJobKind},
      {"no thread creator", kDataToImage, noCreator, kErrJobNotRunnable},
      {"image route without destinations", kDataToImage,
       [&](BP_JobRef j) {
         EXPECT_EQ(BP_SetDataTree(j, in.tree.get()), kNoErr);
         EXPECT_EQ(BP_SetDstImageFilePath(j, "/tmp/x.iso", 2), kNoErr);
         EXPECT_EQ(BP_SetThreadCreatorCallback(j, refuseThreads), kNoErr);
       },
       kErrJobNotRunnable},
      {"quick erase needs no route, tree or list", code(11, 0x700),
       [&](BP_JobRef j) {
         EXPECT_EQ(BP_SetThreadCreatorCallback(j, refuseThreads), kNoErr);
         EXPECT_EQ(BP_SetDstDevice(j, kBP_ISOImageWriter), kNoErr);
       },
       kErrPrepareFailed},
      {"Video CD slide shows are not prepared", code(7, 0x100), only(false, true),
       kErrPrepareFailed},
      {"Video CD movies are not prepared", code(6, 0x100), all, kErrPrepareFailed},
      {"Super Video CD movies are not prepared", code(8, 0x100), all, kErrPrepareFailed},
      {"Super Video CD slide shows are not prepared", code(9, 0x100), only(false, true),
       kErrPrepareFailed},
  };
  for (const Case& c : cases) {
    Job job(c.code);
    c.setUp(job.ref);
    EXPECT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), c.status) << c.name;
    EXPECT_EQ(job.settings().prepared, c.status == kNoErr) << c.name;
  }
}

TEST(BurnJob, PreparationForcesWhatTheDestinationNeeds) {
  Inputs in;
  {  // the native image is written session at once; a copy to it is closed
    Job job(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToImage));
    in.give(job.ref, kBP_NativeImageWriter);
    ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kNoErr);
    EXPECT_TRUE(job.settings().sao);
    EXPECT_FALSE(job.settings().closeDisc);
    Job copy(BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteDriveToImage));
    in.give(copy.ref, kBP_NativeImageWriter);
    EXPECT_EQ(BP_SetSrcDevice(copy.ref, 77), kNoErr);
    (void)BP_PrepareBurn(copy.ref, nullptr, nullptr);
    EXPECT_TRUE(copy.settings().sao);
    EXPECT_TRUE(copy.settings().closeDisc);
  }
  DeviceEnvironment env;
  auto drive = env.plug("plus", "dvd-writer");
  drive->load(env.blankDisc("plus", 0x1A, 2'295'104));
  env.start();
  const std::uint32_t dvdPlusRW = DeviceEnvironment::refOf("plus");
  {  // a quick erase of a DVD+RW: no SAO, no closing, a small cache at the drive's speed
    Job job(BP_MakeJobCode(kBP_KindQuickErase, kBP_RouteLayoutToDrives));
    EXPECT_EQ(BP_SetThreadCreatorCallback(job.ref, refuseThreads), kNoErr);
    EXPECT_EQ(BP_SetDstDevice(job.ref, dvdPlusRW), kNoErr);
    EXPECT_EQ(BP_SetSAO(job.ref, true), kNoErr);
    EXPECT_EQ(BP_SetCloseDisc(job.ref, true), kNoErr);
    EXPECT_EQ(BP_SetExpectCacheSize(job.ref, 20'000), kNoErr);
    (void)BP_PrepareBurn(job.ref, nullptr, nullptr);
    EXPECT_FALSE(job.settings().sao);
    EXPECT_FALSE(job.settings().closeDisc);
    EXPECT_EQ(job.shared->appCacheSize, 1024u);
    EXPECT_EQ(job.shared->writers[0].actualBurnSpeed, 0xFFFF);
  }
  {  // any DVD takes no cue sheet
    Job job(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives));
    in.give(job.ref, dvdPlusRW);
    EXPECT_EQ(BP_SetSAO(job.ref, true), kNoErr);
    ASSERT_EQ(BP_PrepareBurn(job.ref, nullptr, nullptr), kNoErr);
    EXPECT_FALSE(job.settings().sao);
  }
}

TEST(BurnJob, PreparationWritesItsLogLine) {
  Inputs in;
  struct Case {
    std::uint8_t kind;
    std::uint16_t destinations;
    const char* line;
  };
  const Case cases[] = {
      {kBP_KindVCDSlide, 1, "\r < Layout > : VCD Slide (1->1)"},
      {kBP_KindSVCDSlide, 2, "\r < Layout > : SVCD Slide (1->N)"},
      {kBP_KindAudio, 2, "\r < Layout > : Audio (1->N)"},
      {kBP_KindData, 1, "\r < Layout > : Data (1->1)"},
      {kBP_KindAudioPlain, 1, "(1->1)"},
      {kBP_KindQuickErase, 1, "\r < Layout > : DVD+RW/DVD-RAM Quick Erase(1->1)"},
  };
  for (const Case& c : cases) {
    Job job(BP_MakeJobCode(static_cast<BP_JobKind>(c.kind), kBP_RouteLayoutToImage), 2);
    CapturedLog log;
    job.shared->logFile = log.file();
    in.give(job.ref);
    if (c.destinations == 2) {
      EXPECT_EQ(
          BP_SetDstDriveList(job.ref, mallocRefs({kBP_ISOImageWriter, kBP_ISOImageWriter}), 2),
          kNoErr);
    }
    (void)BP_PrepareBurn(job.ref, nullptr, nullptr);
    EXPECT_EQ(log.text().substr(0, std::strlen(c.line)), c.line) << int{c.kind};
    job.shared->logFile = nullptr;
  }
  Job refused(kDataToImage);
  CapturedLog log;
  refused.shared->logFile = log.file();
  EXPECT_EQ(BP_PrepareBurn(refused.ref, nullptr, nullptr), kErrUnknownJobKind);
  EXPECT_EQ(log.text(), "") << "a job refused by its checks writes no line";
  refused.shared->logFile = nullptr;
}

TEST(BurnJob, SizeGoesToTheOutputOfItsDestination) {
  Inputs in;
  const BP_JobCode data = BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToImage);
  {
    Job job(data);
    in.give(job.ref, kBP_NativeImageWriter);
    std::uint32_t blocks = 0xAAAA;
    std::uint32_t bytes[2] = {0xBBBB, 0xCCCC};
    ASSERT_EQ(BP_PrepareBurn(job.ref, &blocks, bytes), kNoErr);
    EXPECT_EQ(blocks, 0xAAAAu) << "the native image reports bytes only";
    EXPECT_NE(bytes[0], 0xBBBBu);
    EXPECT_EQ(bytes[1], 0u);
  }
  {
    Job job(data);
    in.give(job.ref, kBP_ISOImageWriter);
    std::uint32_t blocks = 0xAAAA;
    std::uint32_t bytes[2] = {0xBBBB, 0xCCCC};
    ASSERT_EQ(BP_PrepareBurn(job.ref, &blocks, bytes), kNoErr);
    EXPECT_NE(blocks, 0xAAAAu);
    EXPECT_GT(blocks, 2u);
    EXPECT_EQ(bytes[0], 0xBBBBu) << "other destinations report blocks only";
    EXPECT_EQ(bytes[1], 0xCCCCu);
  }
}

TEST(BurnJob, DataLayoutsArePreparedForImageDestinations) {
  quillion::test::TempDir dir;
  {
    std::FILE* f = std::fopen((dir.path() / "file.bin").c_str(), "wb");
    std::fputs(std::string(5000, 'x').c_str(), f);
    std::fclose(f);
  }
  std::unique_ptr<FS_Tree, TreeDeleter> tree(initTree(initNode(nullptr, "root", nullptr, false)));
  FS_Node* file = initNode((dir.path() / "file.bin").c_str(), "file.bin", nullptr, false);
  ASSERT_EQ(AddTreeNode(tree.get(), file, GetRootTreeNode(tree.get())), kNoErr);

  struct Case {
    const char* name;
    std::uint32_t destination;
    std::uint16_t format;
    bool xa;
    EngineStatus status;
    const char* logged;
  };
  const Case cases[] = {
      {"Joliet to an ISO image", kBP_ISOImageWriter, 512, true, kNoErr, "Mode 2 form 1 data"},
      {"plain ISO9660, Mode 1", kBP_ISOImageWriter, 256, false, kNoErr, "Mode 1 data"},
      {"to a native image", kBP_NativeImageWriter, 512, true, kNoErr, "Mode 2 form 1 data"},
      {"UDF, never XA", kBP_ISOImageWriter, 16, true, kNoErr, "Mode 1 data"},
      {"a format without a producer", kBP_ISOImageWriter, 255, true, kErrPrepareFailed,
       "\r?? No file system is made for data disc format 255\r"},
      {"to a drive that is not there", 0x5555, 512, true, kErrNoDrive,
       "\r?? No writable address on Drive Ref: 21845 (-1171)\r"},
  };
  std::uint32_t isoBlocks = 0;
  for (const Case& c : cases) {
    Job job(kDataToImage);
    CapturedLog log;
    job.shared->logFile = log.file();
    EXPECT_EQ(BP_SetDataTree(job.ref, tree.get()), kNoErr);
    EXPECT_EQ(BP_SetDataDiscFormat(job.ref, c.format), kNoErr);
    EXPECT_EQ(BP_SetISO9660_XA(job.ref, c.xa), kNoErr);
    EXPECT_EQ(BP_SetDstImageFilePath(job.ref, "/tmp/never-written", 2), kNoErr);
    EXPECT_EQ(BP_SetThreadCreatorCallback(job.ref, refuseThreads), kNoErr);
    EXPECT_EQ(BP_SetDstDevice(job.ref, c.destination), kNoErr);
    std::uint32_t blocks = 0;
    std::uint32_t bytes[2] = {};
    EXPECT_EQ(BP_PrepareBurn(job.ref, &blocks, bytes), c.status) << c.name;
    EXPECT_NE(log.text().find(c.logged), std::string::npos) << c.name << ": " << log.text();
    job.shared->logFile = nullptr;
    if (c.status != kNoErr) continue;
    EXPECT_NE(log.text().find("\r\r ------ Append Data Track ------\r     0 ~ "), std::string::npos)
        << log.text();
    if (c.destination == kBP_ISOImageWriter && c.format == 512) isoBlocks = blocks - 2;
    if (c.destination == kBP_NativeImageWriter) {
      // Session at once on the native image: Mode 2 Form 1 blocks with their subheaders.
      EXPECT_EQ(blocks, 0u);
      EXPECT_EQ(std::uint64_t{bytes[1]} << 32 | bytes[0], 93'774 + std::uint64_t{isoBlocks} * 2336);
    }
  }
  EXPECT_GT(isoBlocks, 16u) << "a volume after the 16 system blocks";
}
