// SPDX-License-Identifier: GPL-2.0-or-later
// For each file: open it with Daskin, pull every chunk of its first video stream, and time
// that (best of three) beside `ffprobe -count_packets` on the same stream.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bufstream.h"
#include "daskin.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
  double seconds = -1;
  std::uint64_t chunks = 0;
  std::uint64_t bytes = 0;
};

Outcome pullVideo(const char* path) {
  Outcome out;
  const demux_settings settings{};
  const auto start = Clock::now();
  demux_context* ctx = mpegDemuxNew(nullptr, nullptr, &settings);
  if (!ctx || mpegDemuxOpen(ctx, 0, path) != 0) {
    if (ctx) mpegDemuxFree(ctx);
    return out;
  }
  file_info_struct info{};
  (void)mpegDemuxGetFileInfo(ctx, &info);
  int program = -1, stream = -1;
  for (int p = 0; p < info.programs && program < 0; ++p) {
    program_info_struct pi{};
    (void)mpegDemuxGetProgramInfo(ctx, &pi, p);
    for (int s = 0; s < pi.streams && program < 0; ++s) {
      stream_info_struct si{};
      (void)mpegDemuxGetStreamInfo(ctx, &si, p, s);
      if (si.kind == DEMUX_KIND_VIDEO) {
        program = p;
        stream = s;
      }
    }
  }
  if (program >= 0) {
    bufstream bs{};
    bs.chunksize = [](bufstream*) { return 0u; };
    const demux_parser_settings ps{};
    const int parser = mpegDemuxNewParser(ctx, &ps);
    demux_stream_settings ss{};
    ss.program = program;
    ss.stream = stream;
    ss.output = &bs;
    if (parser > 0 && mpegDemuxAddStream(ctx, parser, &ss) == 0 &&
        mpegDemuxSeek(ctx, parser, 0, 0) == 0) {
      for (;;) {
        demux_chunk_info c{};
        if (bs.auxinfo(&bs, 0, DEMUX_CHUNK_INFO_ID, &c, sizeof c) != 0 || c.end) break;
        ++out.chunks;
        out.bytes += c.length;
      }
    }
  }
  mpegDemuxFree(ctx);
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return out;
}

double timeCommand(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("%-40s %10s %12s %10s %10s %8s\n", "file", "chunks", "bytes", "daskin s", "ffprobe s",
              "ratio");
  for (int i = 1; i < argc; ++i) {
    Outcome best;
    double probe = -1;
    for (int run = 0; run < 3; ++run) {
      const Outcome o = pullVideo(argv[i]);
      if (best.seconds < 0 || o.seconds < best.seconds) best = o;
      const double t =
          timeCommand(std::string("ffprobe -v error -select_streams v:0 -count_packets "
                                  "-show_entries stream=nb_read_packets -of csv=p=0 '") +
                      argv[i] + "' > /dev/null");
      if (probe < 0 || (t >= 0 && t < probe)) probe = t;
    }
    std::printf("%-40s %10llu %12llu %10.3f %10.3f %8.2f\n", argv[i],
                static_cast<unsigned long long>(best.chunks),
                static_cast<unsigned long long>(best.bytes), best.seconds, probe,
                probe > 0 ? best.seconds / probe : 0.0);
  }
  return 0;
}
