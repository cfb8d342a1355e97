// SPDX-License-Identifier: GPL-2.0-or-later
// Push mode beside file mode on the same pair: corvel_push_bench PRESET VIDEO AUDIO
// The units of both streams are found first (not timed); then the file-mode job and the
// push-mode job (the producer's writes into its fifos included) each run into memory.
// Prints both times and their ratio; fails when the two program streams differ.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "bufstream.h"
#include "corvel.h"
#include "services.h"
#include "stream_headers.h"
#include "unit_readers.h"

namespace {

using quillion::corvel::AccessUnit;

struct Stream {
  std::vector<std::uint8_t> bytes;
  std::vector<AccessUnit> units;
  std::uint32_t frameRateCode = 0;
};

bool cut(const char* path, bool video, std::int32_t pulldown, Stream& s) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  s.bytes.resize(size);
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(s.bytes.data()), static_cast<std::streamsize>(size)))
    return false;
  bufstream* reader = open_file_buf_read(path, 1 << 20, nullptr);
  if (!reader) return false;
  const auto services = quillion::mpeg::Services::resolve(nullptr);
  quillion::corvel::VideoFacts vf;
  quillion::corvel::AudioFacts af;
  AccessUnit u;
  if (video && quillion::corvel::analyseVideoHeader(reader, 4096, 0, vf) == 0) {
    s.frameRateCode = static_cast<std::uint32_t>(vf.frameRateCode);
    quillion::corvel::VideoUnitReader r(reader, vf, pulldown, services);
    while (r.next(u) == quillion::corvel::VideoUnitReader::Result::unit) s.units.push_back(u);
  } else if (!video && quillion::corvel::analyseAudioHeader(reader, 0, af) == 0) {
    quillion::corvel::AudioUnitReader r(reader, af);
    while (r.next(u)) s.units.push_back(u);
  }
  (void)close_file_buf(reader, 0);
  return !s.units.empty();
}

struct Memory {
  Memory() {
    record.drive_chain = this;
    record.flags = 1;
    record.copybytes = [](bufstream* bs, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
      auto& kept = static_cast<Memory*>(bs->drive_chain)->bytes;
      kept.insert(kept.end(), p, p + n);
      return n;
    };
    record.auxinfo = [](bufstream*, std::uint32_t, std::uint32_t, void*, std::uint32_t) {
      return std::int32_t{0};
    };
  }
  // Touches the pages the output will take before the clock starts, so that neither mode
  // pays for the growth of the sink that stands in for a disc.
  void prepare(std::size_t size) {
    bytes.assign(size, 0);
    bytes.clear();
  }
  bufstream record{};
  std::vector<std::uint8_t> bytes;
};

std::int32_t notice(bufstream* fifo, std::uint32_t code, void* data, std::uint32_t size) {
  return fifo->auxinfo(fifo, 0, code, data, size);
}

bool pushVideo(bufstream* fifo, const Stream& s, std::size_t i, std::size_t& at) {
  const AccessUnit& u = s.units[i];
  if (fifo->copybytes(fifo, const_cast<std::uint8_t*>(s.bytes.data() + at), u.size) != u.size)
    return false;
  at += u.size;
  std::uint32_t header[6] = {0, s.frameRateCode, 0, 0, 0, 0};
  std::uint32_t picture[3] = {0, u.temporalReference, u.repeatFirstField ? 1u : 0u};
  std::uint32_t done[8] = {u.size,
                           u.pictureType,
                           0,
                           0,
                           static_cast<std::uint32_t>(u.dts),
                           static_cast<std::uint32_t>(u.dts >> 32),
                           static_cast<std::uint32_t>(u.pts),
                           static_cast<std::uint32_t>(u.pts >> 32)};
  std::int32_t r = 0;
  if (u.flags & quillion::corvel::kUnitHasSequenceHeader)
    r |= notice(fifo, 0x1B3, header, sizeof header);
  if (u.flags & quillion::corvel::kUnitHasGroup) r |= notice(fifo, 0x1B8, nullptr, 0);
  r |= notice(fifo, 0x100, picture, sizeof picture);
  if (u.endsSequence) r |= notice(fifo, 0x1B7, nullptr, 0);
  r |= notice(fifo, 0xF0001, done, sizeof done);
  return r == 0;
}

bool pushAudio(bufstream* fifo, const Stream& s, std::size_t i, std::size_t& at) {
  const AccessUnit& u = s.units[i];
  if (fifo->copybytes(fifo, const_cast<std::uint8_t*>(s.bytes.data() + at), u.size) != u.size)
    return false;
  at += u.size;
  std::uint32_t w[3] = {u.size, static_cast<std::uint32_t>(u.pts),
                        static_cast<std::uint32_t>(u.pts >> 32)};
  return notice(fifo, 0xF0002, w, sizeof w) == 0;
}

constexpr std::uint32_t kVideoFifo = 2u << 20;
constexpr std::uint32_t kAudioFifo = 256u << 10;

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PRESET VIDEO AUDIO\n", argv[0]);
    return 2;
  }
  mpeg_m_settings settings{};
  if (!mpegOutMuxDefaults(&settings, std::atoi(argv[1]))) return 2;
  Stream video, audio;
  if (!cut(argv[2], true, settings.pulldown, video) || !cut(argv[3], false, 0, audio)) return 1;
  const double input = static_cast<double>(video.bytes.size() + audio.bytes.size());

  const std::size_t outputRoom = (video.bytes.size() + audio.bytes.size()) / 4 * 5 + (1u << 20);
  Memory fileOut;
  fileOut.prepare(outputRoom);
  auto start = std::chrono::steady_clock::now();
  mpeg_m_muxer* mux = mpegOutMuxNew(nullptr, &settings);
  stream_settings vs{}, as{};
  vs.kind = STREAM_KIND_VIDEO;
  as.kind = STREAM_KIND_AUDIO;
  if (!mux || mpegOutMuxInitFileBS(mux, nullptr, &fileOut.record) != 0 ||
      mpegOutMuxAddFile(mux, &vs, argv[2], 0) != 0 ||
      mpegOutMuxAddFile(mux, &as, argv[3], 0) != 0 || mpegOutMux(mux) != 0)
    return 1;
  (void)mpegOutMuxDone(mux, 0);
  mpegOutMuxFree(mux);
  const double fileSeconds = since(start);

  Memory pushOut;
  pushOut.prepare(outputRoom);
  // Fifos of a producer's usual size: the multiplexer drains them as the notices come, so the
  // same pages serve the whole job (a fifo of the whole stream would time page faults).
  bufstream* vf = new_fifo_buf(kVideoFifo, 65537);
  bufstream* af = new_fifo_buf(kAudioFifo, 65537);
  if (!vf || !af) return 1;
  start = std::chrono::steady_clock::now();
  mux = mpegOutMuxNew(nullptr, &settings);
  if (!mux || mpegOutMuxInit(mux, &pushOut.record, af + 1, vf + 1) != 0) return 1;
  std::size_t vAt = 0, aAt = 0, a = 0;
  for (std::size_t v = 0; v < video.units.size(); ++v) {
    if (!pushVideo(vf, video, v, vAt)) return 1;
    const std::size_t due = audio.units.size() * (v + 1) / video.units.size();
    for (; a < due; ++a)
      if (!pushAudio(af, audio, a, aAt)) return 1;
  }
  (void)notice(vf, 0xF0080, nullptr, 0);
  (void)notice(af, 0xF0080, nullptr, 0);
  (void)mpegOutMuxDone(mux, 0);
  mpegOutMuxFree(mux);
  const double pushSeconds = since(start);
  free_fifo_buf(vf);
  free_fifo_buf(af);

  std::printf("file mode %.3f s  %.1f MB/s\n", fileSeconds, input / 1e6 / fileSeconds);
  std::printf("push mode %.3f s  %.1f MB/s  (%.1f%% of file mode's time)\n", pushSeconds,
              input / 1e6 / pushSeconds, 100.0 * pushSeconds / fileSeconds);
  if (pushOut.bytes != fileOut.bytes) {
    std::fprintf(stderr, "the two program streams differ\n");
    return 1;
  }
  return 0;
}
