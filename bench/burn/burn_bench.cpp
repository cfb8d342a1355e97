// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the folder given as a Joliet data layout to an image file through the flat burn API
// (one reader and one writer thread, as an interface runs it) and prints the time, the
// throughput and the peak resident memory of the process.
//   burn_bench <folder> <image> [iso|native] [cache wish in KB, default 36864]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "run_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;

namespace {

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <folder> <image> [iso|native] [cache KB]\n", argv[0]);
    return 2;
  }
  const bool native = argc > 3 && std::string(argv[3]) == "native";
  const auto wishKB =
      static_cast<std::uint32_t>(argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 36'864);
  const auto t0 = std::chrono::steady_clock::now();
  const TreePtr tree = treeFromFolder(argv[1]);
  std::uint32_t folders = 0, files = 0;
  std::uint64_t dataBytes = 0, rsrcBytes = 0;
  if (const EngineStatus status =
          TreeInfo(tree.get(), &folders, &files, &dataBytes, &rsrcBytes, false);
      status != kNoErr) {
    std::fprintf(stderr, "no tree from %s (status %d)\n", argv[1], status);
    return 1;
  }

  // The engine waits on the real clock here, as in the application.
  ImageJob job(tree.get(), native ? kBP_NativeImageWriter : kBP_ISOImageWriter, argv[2],
               &quillion::engineClock());
  EngineStatus status = BP_SetExpectCacheSize(job.ref, wishKB);
  const auto t1 = std::chrono::steady_clock::now();
  if (status == kNoErr) status = BP_PrepareBurn(job.ref, nullptr, nullptr);
  const auto t2 = std::chrono::steady_clock::now();
  if (status == kNoErr) status = job.burnAndWait();
  const auto t3 = std::chrono::steady_clock::now();

  const std::uint64_t bytes = fs::exists(argv[2]) ? fs::file_size(argv[2]) : 0;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const BP_RuntimeSharedData& r = *job.shared;
  const bool ok = status == kNoErr && r.readErrorCode == 0 && r.writers[0].errorCode == 0;
  std::printf("files %u  image %.1f MB  cache %u KB\n", files, bytes / 1e6, r.appCacheSize.load());
  std::printf("tree %.2f s  prepare %.2f s  burn %.2f s  total %.2f s\n", seconds(t1 - t0),
              seconds(t2 - t1), seconds(t3 - t2), seconds(t3 - t0));
  std::printf("throughput %.0f MB/s (total time)  peak RSS %.1f MB  %s\n",
              bytes / 1e6 / seconds(t3 - t0), usage.ru_maxrss / 1024.0, ok ? "ok" : "FAILED");
  if (!ok)
    std::printf("status %d read %d write %d\n", status, r.readErrorCode.load(),
                r.writers[0].errorCode.load());
  return ok ? 0 : 1;
}
