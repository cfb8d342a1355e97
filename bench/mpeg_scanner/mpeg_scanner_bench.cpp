// SPDX-License-Identifier: GPL-2.0-or-later
// Times MU_FullParse over each file named on the command line: prints the median seconds of
// RUNS runs (default 5), the packs counted and the bytes per second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "quillion/MU.h"

int main(int argc, char** argv) {
  const char* runsText = std::getenv("RUNS");
  const int runs = runsText ? std::max(1, std::atoi(runsText)) : 5;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<double> seconds;
    MU_MPEG_Info info{};
    for (int r = 0; r < runs; ++r) {
      const auto start = std::chrono::steady_clock::now();
      MU_Handle* handle = MU_Init(argv[i]);
      const bool ok = handle && MU_FullParse(handle, &info, nullptr, nullptr);
      MU_Term(handle);
      seconds.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      if (!ok) {
        std::fprintf(stderr, "%s: not a usable program stream\n", argv[i]);
        status = 1;
        break;
      }
      if (r + 1 < runs) MU_ReleaseInfo(&info);
    }
    if (seconds.size() < static_cast<std::size_t>(runs)) continue;
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("%s\t%.4f s\t%u packs\t%u I frames\t%.0f MB/s\n", argv[i], median,
                info.audioPacks + info.videoPacks, MU_IFrameCount(&info),
                static_cast<double>(info.fileSize) / median / 1e6);
    MU_ReleaseInfo(&info);
  }
  return status;
}
