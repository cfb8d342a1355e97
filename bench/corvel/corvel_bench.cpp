// SPDX-License-Identifier: GPL-2.0-or-later
// One file-mode job: corvel_bench PRESET OUT VIDEO VIDEO_BIT_RATE AUDIO...
// Prints the seconds the job took and the bytes of input per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "corvel.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s PRESET OUT VIDEO VIDEO_BIT_RATE [AUDIO...]\n", argv[0]);
    return 2;
  }
  mpeg_m_settings settings{};
  if (!mpegOutMuxDefaults(&settings, std::atoi(argv[1]))) return 2;
  std::uintmax_t inputBytes = 0;
  const auto start = std::chrono::steady_clock::now();
  mpeg_m_muxer* mux = mpegOutMuxNew(nullptr, &settings);
  if (!mux || mpegOutMuxInitFile(mux, nullptr, argv[2]) != 0) return 1;
  stream_settings video{};
  video.kind = STREAM_KIND_VIDEO;
  if (mpegOutMuxAddFile(mux, &video, argv[3], std::atoi(argv[4])) != 0) return 1;
  inputBytes += std::filesystem::file_size(argv[3]);
  for (int i = 5; i < argc; ++i) {
    stream_settings audio{};
    audio.kind = STREAM_KIND_AUDIO;
    if (mpegOutMuxAddFile(mux, &audio, argv[i], 0) != 0) return 1;
    inputBytes += std::filesystem::file_size(argv[i]);
  }
  const int run = mpegOutMux(mux);
  const int done = mpegOutMuxDone(mux, run != 0);
  mpegOutMuxFree(mux);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f s  %.1f MB/s\n", seconds, static_cast<double>(inputBytes) / 1e6 / seconds);
  return run == 0 && done == 0 ? 0 : 1;
}
