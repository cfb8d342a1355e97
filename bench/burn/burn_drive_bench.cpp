// SPDX-License-Identifier: GPL-2.0-or-later
// Burns the folder given as a Joliet data layout to one or more emulated DVD-R writers
// through the flat burn API (one reader, one writer thread per drive, as an interface runs
// it) and prints the time, the throughput and the peak resident memory of the process. The
// drives keep their discs as sparse files below the folder given last. The engine waits on the
// real clock, as in the application.
//   burn_drive_bench <folder> <drives> <medium folder>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "emulated_bus.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace quillion::test;

namespace {

constexpr std::uint32_t kDvdMinusRBlocks = 2'295'104;

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::uint32_t refOf(const std::string& model) {
  DC_Device* raw = nullptr;
  const std::uint16_t n = DC_GetConnectedDeviceList(&raw);
  std::uint32_t ref = 0;
  for (std::uint16_t i = 0; i < n; ++i)
    if (model == raw[i].model) ref = raw[i].ref;
  std::free(raw);
  return ref;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <folder> <drives> <medium folder>\n", argv[0]);
    return 2;
  }
  const int drives = std::atoi(argv[2]);
  const fs::path media = argv[3];
  fs::create_directories(media / "definitions");
  ::setenv("QUILLION_EMULATED_DRIVES", (media / "definitions").c_str(), 1);
  ::setenv("QUILLION_SYSTEM_DRIVES", "0", 1);

  std::vector<std::shared_ptr<emu::EmulatedDrive>> plugged;
  for (int i = 0; i < drives; ++i) {
    auto config = *emu::DriveConfig::preset("dvd-writer");
    config.name = config.product = "bench" + std::to_string(i);
    auto drive = emu::EmulatedBus::instance().plug(config);
    drive->load(emu::Medium::blank(media / (config.name + ".medium"), 0x11, kDvdMinusRBlocks));
    plugged.push_back(drive);
  }
  (void)DC_Init(1000);
  auto* refs = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t) * drives));
  for (int i = 0; i < drives; ++i) {
    refs[i] = refOf("bench" + std::to_string(i));
    (void)MMC_TestUnitReady(refs[i], nullptr);  // the load's unit attention
  }

  const auto t0 = std::chrono::steady_clock::now();
  const TreePtr tree = treeFromFolder(argv[1]);
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(BP_MakeJobCode(kBP_KindData, kBP_RouteLayoutToDrives), &shared,
                                  static_cast<std::uint16_t>(drives));
  EngineStatus status = BP_SetDataTree(job, tree.get());
  if (status == kNoErr) status = BP_SetDataDiscFormat(job, 512);
  if (status == kNoErr) status = BP_SetISO9660_XA(job, false);
  if (status == kNoErr) status = BP_SetThreadCreatorCallback(job, TestThreads::create);
  if (status == kNoErr) status = BP_SetDstDriveList(job, refs, static_cast<std::uint16_t>(drives));
  const auto t1 = std::chrono::steady_clock::now();
  if (status == kNoErr) status = BP_PrepareBurn(job, nullptr, nullptr);
  const auto t2 = std::chrono::steady_clock::now();
  if (status == kNoErr) status = BP_Burn(job);
  const bool joined = TestThreads::instance().join(std::chrono::seconds(3600));
  const auto t3 = std::chrono::steady_clock::now();

  bool ok = status == kNoErr && joined && shared->readErrorCode == 0;
  for (int i = 0; i < drives; ++i) ok = ok && shared->writers[i].errorCode == 0;
  const std::uint64_t bytes = std::uint64_t{shared->totalBlocks} * 2048;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("drives %d  layout %.1f MB  cache %u KB\n", drives, bytes / 1e6,
              shared->appCacheSize.load());
  std::printf("tree %.2f s  prepare %.2f s  burn %.2f s  total %.2f s\n", seconds(t1 - t0),
              seconds(t2 - t1), seconds(t3 - t2), seconds(t3 - t0));
  std::printf("throughput %.0f MB/s per drive (total time)  peak RSS %.1f MB  %s\n",
              bytes / 1e6 / seconds(t3 - t0), usage.ru_maxrss / 1024.0, ok ? "ok" : "FAILED");
  if (!ok) std::printf("status %d read %d\n", status, shared->readErrorCode.load());
  (void)BP_Delete(job);
  DC_Term();
  emu::EmulatedBus::instance().reset();
  return ok ? 0 : 1;
}
