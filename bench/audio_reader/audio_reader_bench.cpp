// SPDX-License-Identifier: GPL-2.0-or-later
// Times the audio file reader over each file named on the command line: opening (which counts
// the frames) and decoding every CD block, 16 blocks a call as the interface asks. Prints the
// median seconds of RUNS runs (default 5), the blocks and the blocks per second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DPMs/audio/mp3_reader.h"

int main(int argc, char** argv) {
  const char* runsText = std::getenv("RUNS");
  const int runs = runsText ? std::max(1, std::atoi(runsText)) : 5;
  int status = 0;
  std::vector<unsigned char> buffer(16 * 2352);
  for (int i = 1; i < argc; ++i) {
    std::vector<double> seconds;
    std::uint64_t blocks = 0;
    for (int r = 0; r < runs; ++r) {
      const auto start = std::chrono::steady_clock::now();
      MP3Reader* reader = initAudio(argv[i]);
      if (!isValidAudioFile(reader)) {
        std::fprintf(stderr, "%s: no audio (%d)\n", argv[i], reader->openStatus());
        termAudio(reader);
        status = 1;
        break;
      }
      std::uint64_t bytes = 0;
      while (!isEndOfFile(reader)) {
        std::int32_t got = 0;
        if (GetNextCDDABlock(reader, 16, buffer.data(), &got, false) != kNoErr || got <= 0) break;
        bytes += static_cast<std::uint64_t>(got);
      }
      termAudio(reader);
      seconds.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      blocks = (bytes + 2351) / 2352;
    }
    if (seconds.size() < static_cast<std::size_t>(runs)) continue;
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("%s\t%.4f s\t%llu blocks\t%.0f blocks/s\n", argv[i], median,
                static_cast<unsigned long long>(blocks), static_cast<double>(blocks) / median);
  }
  return status;
}
