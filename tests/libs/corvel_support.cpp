// SPDX-License-Identifier: GPL-2.0-or-later
#include "corvel_support.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/generated_file.h"

namespace quillion::test::corvel {
namespace {

__attribute__((format(printf, 1, 2))) void collectError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().errors.push_back(formatted(format, args));
  va_end(args);
}

__attribute__((format(printf, 1, 2))) void collectWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().warnings.push_back(formatted(format, args));
  va_end(args);
}

__attribute__((format(printf, 1, 2))) void collectInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().infos.push_back(formatted(format, args));
  va_end(args);
}

__attribute__((format(printf, 2, 3))) void collectProgress(int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().progress.push_back(formatted(format, args));
  va_end(args);
}

int scriptedYield() {
  Printed& p = printed();
  ++p.yields;
  return p.stopAtYield != 0 && p.yields >= p.stopAtYield ? 1 : 0;
}

double number(const std::string& field) {
  if (field.empty() || field == "N/A") return -1;
  return std::stod(field);
}

}  // namespace

Printed& printed() {
  static Printed p;
  return p;
}

void* collectingRc(const char* name) {
  const std::string n = name;
  if (n == "err_printf") return reinterpret_cast<void*>(collectError);
  if (n == "wrn_printf") return reinterpret_cast<void*>(collectWarning);
  if (n == "inf_printf") return reinterpret_cast<void*>(collectInfo);
  if (n == "prg_printf") return reinterpret_cast<void*>(collectProgress);
  if (n == "yield") return reinterpret_cast<void*>(scriptedYield);
  return nullptr;
}

bool anyStartsWith(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

std::filesystem::path makeEs(const TempDir& dir, const std::string& name,
                             const std::vector<std::string>& args) {
  // Many tests ask for the same short streams, and ffmpeg is most of their time: each
  // distinct stream is encoded once for all the suites' processes.
  const std::filesystem::path out = dir.file(name);
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  // One encoder thread: the encoders cut their pictures by thread count, so the same
  // fixture must not come out differently on a machine with fewer cores.
  argv.insert(argv.end(), {"-threads", "1"});
  argv.push_back(out.string());
  const ToolResult r = runGenerator(argv);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return out;
}

MuxOutcome muxFiles(const mpeg_m_settings& settings, const std::vector<EsInput>& inputs,
                    const std::filesystem::path& out, mpeg_get_rc getRc) {
  MuxOutcome o;
  mpeg_m_muxer* mux = mpegOutMuxNew(getRc, &settings);
  o.created = mux != nullptr;
  if (!mux) return o;
  o.init = mpegOutMuxInitFile(mux, nullptr, out.c_str());
  for (const EsInput& in : inputs) {
    stream_settings s{};
    s.kind = in.kind;
    s.stream_id = in.streamId;
    o.added.push_back(mpegOutMuxAddFile(mux, &s, in.path.c_str(), in.bitRate));
  }
  o.run = mpegOutMux(mux);
  o.done = mpegOutMuxDone(mux, o.run != 0 ? 1 : 0);
  mpegOutMuxFree(mux);
  return o;
}

MemoryOutput::MemoryOutput() {
  record.drive_chain = this;
  record.flags = 1;
  record.copybytes = [](bufstream* bs, std::uint8_t* p, std::uint32_t n) -> std::uint32_t {
    auto* self = static_cast<MemoryOutput*>(bs->drive_chain);
    if (self->refuse && self->refuse(p, n)) return 0;
    self->bytes.insert(self->bytes.end(), p, p + n);
    return n;
  };
  record.auxinfo = [](bufstream* bs, std::uint32_t, std::uint32_t code, void* data,
                      std::uint32_t size) -> std::int32_t {
    const auto* d = static_cast<const std::uint8_t*>(data);
    auto* self = static_cast<MemoryOutput*>(bs->drive_chain);
    if (self->onNotice) self->onNotice(code, d, size);
    self->notices.push_back(
        {code, d ? std::vector<std::uint8_t>(d, d + size) : std::vector<std::uint8_t>{}});
    return 0;
  };
}

std::vector<ProbedPacket> probePackets(const std::filesystem::path& file) {
  const std::string csv = toolOutput({"ffprobe", "-v", "error", "-show_entries",
                                      "packet=codec_type,stream_index,pts_time,dts_time,size",
                                      "-of", "csv=p=0", file.string()});
  std::vector<ProbedPacket> packets;
  std::istringstream lines(csv);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, ',')) f.push_back(x);
    if (f.size() < 5) continue;
    ProbedPacket p;
    p.mediaType = f[0];
    p.streamIndex = std::stoi(f[1]);
    p.pts = number(f[2]);
    p.dts = number(f[3]);
    p.size = std::stoll(f[4]);
    packets.push_back(p);
  }
  return packets;
}

}  // namespace quillion::test::corvel
