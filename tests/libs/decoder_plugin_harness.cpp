// SPDX-License-Identifier: GPL-2.0-or-later
#include "decoder_plugin_harness.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "brindle.h"
#include "tests/support/test_support.h"

namespace quillion::decoder::test {
namespace harness_detail {

struct Recipe {
  const char* name;
  std::vector<std::string> make;  // ffmpeg arguments before the output file
  const char* reference;          // "video", "audio" or "swab" (made from another fixture)
};

// Short streams of every kind the plug-ins take; B pictures to exercise reordering.
const std::vector<Recipe>& recipes() {
  static const std::vector<Recipe> r = {
      {"mpeg1.m1v",
       {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=1", "-c:v", "mpeg1video", "-bf",
        "2", "-g", "9", "-f", "mpeg1video"},
       "video"},
      {"mpeg2.m2v",
       {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=1", "-c:v", "mpeg2video", "-bf",
        "2", "-g", "12", "-f", "mpeg2video"},
       "video"},
      {"mpeg2_interlaced.m2v",
       {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25:duration=0.6", "-c:v", "mpeg2video",
        "-flags", "+ilme+ildct", "-top", "1", "-bf", "2", "-g", "6", "-f", "mpeg2video"},
       "video"},
      {"h264.264",
       {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=1", "-c:v", "libx264", "-bf",
        "2", "-g", "12", "-pix_fmt", "yuv420p", "-f", "h264"},
       "video"},
      {"stereo.mp2",
       {"-f", "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1", "-ac", "2", "-c:a", "mp2", "-b:a",
        "224k", "-f", "mp2"},
       "audio"},
      {"mono.mp3",
       {"-f", "lavfi", "-i", "sine=f=440:sample_rate=22050:d=1", "-c:a", "libmp3lame",
        "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3"},
       "audio"},
      {"stereo.aac",
       {"-f", "lavfi", "-i", "sine=f=997:sample_rate=44100:d=1", "-ac", "2", "-c:a", "aac", "-f",
        "adts"},
       "audio"},
      {"stereo.ac3",
       {"-f", "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1", "-ac", "2", "-c:a", "ac3", "-f",
        "ac3"},
       "audio"},
      {"surround.ac3",
       {"-f", "lavfi", "-i", "sine=f=997:sample_rate=48000:d=1", "-af",
        "pan=5.1|c0=c0|c1=0.5*c0|c2=0.3*c0|c3=0.1*c0|c4=0.7*c0|c5=0.2*c0", "-c:a", "ac3", "-f",
        "ac3"},
       "audio"},
  };
  return r;
}

struct Store {
  quillion::test::TempDir dir;
  std::map<std::string, std::filesystem::path> files;
  std::map<std::string, Bytes> pictures;
  std::map<std::string, Bytes> samples;
  std::map<std::string, std::vector<std::uint32_t>> types;
};

Store& store() {
  static Store s;
  return s;
}

bool ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {"ffmpeg", "-nostdin", "-v", "error", "-y"});
  return quillion::test::runTool(args).exitCode == 0;
}

std::int32_t readU32(const Decoder& d, std::uint32_t id) {
  std::uint32_t v = 0;
  return d.aux(id, &v, sizeof v) == 0 ? static_cast<std::int32_t>(v) : -1;
}

}  // namespace harness_detail

using namespace harness_detail;

const std::filesystem::path& fixture(const std::string& name) {
  Store& s = store();
  auto found = s.files.find(name);
  if (found != s.files.end()) return found->second;
  std::filesystem::path path = s.dir.file(name);
  bool made = false;
  if (name == "swapped.ac3") {
    // The same AC-3 stream with the bytes of every 16-bit word exchanged.
    Bytes bytes = quillion::test::readFile(fixture("stereo.ac3"));
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    quillion::test::writeFile(path, bytes);
    made = !bytes.empty();
  } else {
    for (const Recipe& r : recipes()) {
      if (name != r.name) continue;
      std::vector<std::string> args = r.make;
      args.push_back(path.string());
      made = ffmpeg(args);
    }
  }
  return s.files.emplace(name, made ? path : std::filesystem::path{}).first->second;
}

const Bytes& referencePictures(const std::string& name, const std::string& pixelFormat) {
  Store& s = store();
  const std::string key = name + "." + pixelFormat;
  auto found = s.pictures.find(key);
  if (found != s.pictures.end()) return found->second;
  const std::filesystem::path out = s.dir.file(key);
  Bytes bytes;
  if (!fixture(name).empty() && ffmpeg({"-i", fixture(name).string(), "-fps_mode", "passthrough",
                                        "-pix_fmt", pixelFormat, "-f", "rawvideo", out.string()}))
    bytes = quillion::test::readFile(out);
  return s.pictures.emplace(key, std::move(bytes)).first->second;
}

std::uint32_t packedBytesPerPixel(std::uint32_t fourcc) {
  switch (fourcc) {
    case MPEG_IN_FOURCC_YUY2:
    case MPEG_IN_FOURCC_UYVY:
      return 2;
    case MPEG_IN_FOURCC_BGR3:
      return 3;
    case MPEG_IN_FOURCC_BGRA:
      return 4;
    default:
      return 0;
  }
}

const Bytes& referenceSamples(const std::string& name) {
  Store& s = store();
  auto found = s.samples.find(name);
  if (found != s.samples.end()) return found->second;
  const std::string source = name == "swapped.ac3" ? "stereo.ac3" : name;
  const std::filesystem::path out = s.dir.file(name + ".raw");
  Bytes bytes;
  std::vector<std::string> args = {"-i", fixture(source).string()};
  // More than two channels are mixed down to two, as the plug-ins deliver them.
  if (name == "surround.ac3") args.insert(args.end(), {"-ac", "2"});
  args.insert(args.end(), {"-f", "s16le", out.string()});
  if (!fixture(source).empty() && ffmpeg(args)) bytes = quillion::test::readFile(out);
  return s.samples.emplace(name, std::move(bytes)).first->second;
}

const std::vector<std::uint32_t>& referenceTypes(const std::string& name) {
  Store& s = store();
  auto found = s.types.find(name);
  if (found != s.types.end()) return found->second;
  std::vector<std::uint32_t> types;
  if (!fixture(name).empty()) {
    const std::string out = quillion::test::toolOutput(
        {"ffprobe", "-v", "error", "-select_streams", "v", "-show_frames", "-show_entries",
         "frame=pict_type", "-of", "csv=p=0", fixture(name).string()});
    // One line a frame, its type first; side data (GOP time codes, pan-scan) follows on the
    // same line or on lines of its own.
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(start, end - start);
      if (!line.empty() && (line.size() == 1 || line[1] == ',')) {
        const std::size_t kind = std::string("IPB").find(line[0]);
        if (kind != std::string::npos) types.push_back(static_cast<std::uint32_t>(kind) + 1);
      }
      start = end + 1;
    }
  }
  return s.types.emplace(name, std::move(types)).first->second;
}

void useFrameworkFolder(const std::string& folder) {
  static quillion::test::TempDir home;
  ::setenv("QUILLION_FRAMEWORK_PATH", folder.c_str(), 1);
  ::setenv("HOME", home.path().c_str(), 1);
}

LoadedFramework::LoadedFramework(brindle::Framework framework)
    : framework_(framework), session_(mpegInNew(nullptr, nullptr)) {
  if (session_) result_ = brindle::load_framework(session_, framework_);
}

LoadedFramework::~LoadedFramework() {
  if (!session_) return;
  brindle::unload_framework(session_, framework_);
  mpegInFree(session_);
}

void* LoadedFramework::function(std::uint32_t index) const {
  return session_ ? brindle::framework_function(session_, framework_, index) : nullptr;
}

bufstream* openAudioDecoder(brindle::Framework framework, void* open) {
  if (!open) return nullptr;
  if (framework == brindle::Framework::Ostrell)
    return reinterpret_cast<bufstream* (*)(mpeg_get_rc)>(open)(nullptr);
  return reinterpret_cast<bufstream* (*)(mpeg_get_rc, std::int32_t, std::int32_t)>(open)(nullptr, 0,
                                                                                         0);
}

bufstream* openVideoDecoder(void* open) {
  if (!open) return nullptr;
  return reinterpret_cast<bufstream* (*)(mpeg_get_rc, std::int32_t, std::int32_t)>(open)(nullptr, 0,
                                                                                         0);
}

Decoder::~Decoder() {
  if (!stream_) return;
  stream_->done(stream_, 1);
  stream_->free(stream_);
}

std::int32_t Decoder::aux(std::uint32_t id, void* data, std::uint32_t size,
                          std::uint32_t offset) const {
  return stream_->auxinfo(stream_, offset, id, data, size);
}

std::uint32_t Decoder::feed(const std::uint8_t* data, std::uint32_t size) const {
  return stream_->copybytes(stream_, const_cast<std::uint8_t*>(data), size);
}

std::uint32_t Decoder::status() const {
  return static_cast<std::uint32_t>(readU32(*this, DECODER_STATUS));
}

int Decoder::prime(std::uint32_t flags, std::uint32_t headerCode, const Bytes& header) const {
  if (aux(DECODER_SET_FLAGS, nullptr, 0, flags) != 0 || aux(headerCode) != 0) return -1;
  if (feed(header.data(), static_cast<std::uint32_t>(header.size())) == 0) return -1;
  return aux(DECODER_INIT_FRAME_PARSER);
}

VideoRun decodeVideo(const Decoder& d, const Bytes& stream, const std::vector<std::size_t>& chunks,
                     std::uint32_t width, std::uint32_t height, bool copyOut,
                     std::uint32_t fourcc) {
  const std::size_t luma = std::size_t{width} * height;
  const std::size_t chroma = std::size_t{(width + 1) / 2} * ((height + 1) / 2);
  decoder_frame_record record{};
  record.width = width;
  record.height = height;
  record.fourcc = fourcc;
  const std::uint32_t packed = packedBytesPerPixel(fourcc);
  Bytes frame(packed ? luma * packed : luma + 2 * chroma, 0);
  record.planes[0] = frame.data();
  if (packed) {
    record.strides[0] = static_cast<std::int32_t>(width * packed);
  } else {
    record.planes[1] = frame.data() + luma;
    record.planes[2] = frame.data() + luma + chroma;
    record.strides[0] = static_cast<std::int32_t>(width);
    record.strides[1] = record.strides[2] = static_cast<std::int32_t>((width + 1) / 2);
  }

  VideoRun run;
  auto collect = [&](std::uint32_t status) {
    if (status & DECODER_STATUS_ERROR) run.error = true;
    if (!(status & DECODER_STATUS_PICTURE)) return;
    Picture p;
    p.status = status;
    if (copyOut && d.aux(DECODER_COPY_PICTURE, &record, sizeof record, 7) != 0) run.error = true;
    p.planes = frame;
    d.aux(DECODER_PICTURE_INFO, &p.info, sizeof p.info);
    d.aux(DECODER_SEQUENCE_INFO, &p.sequence, sizeof p.sequence);
    run.pictures.push_back(std::move(p));
  };
  if (!copyOut) d.aux(DECODER_SET_OUTPUT, &record, sizeof record);
  std::size_t at = 0;
  for (std::size_t c = 0; at < stream.size() && !run.stuck; ++c) {
    const std::size_t n = std::min(chunks[c % chunks.size()], stream.size() - at);
    for (std::size_t off = 0; off < n;) {
      const std::uint32_t taken =
          d.feed(stream.data() + at + off, static_cast<std::uint32_t>(n - off));
      const std::uint32_t status = d.status();
      collect(status);
      if (taken == 0 && !(status & DECODER_STATUS_PICTURE)) {
        run.stuck = true;
        break;
      }
      off += taken;
    }
    at += n;
  }
  for (int i = 0; i < 64 && !run.done; ++i) {
    d.feed(nullptr, 0);
    const std::uint32_t status = d.status();
    collect(status);
    run.done = (status & DECODER_STATUS_DONE) != 0;
  }
  return run;
}

AudioRun decodeAudio(const Decoder& d, const Bytes& stream,
                     const std::vector<std::size_t>& chunks) {
  AudioRun run;
  Bytes out(1 << 22);
  std::size_t written = 0;
  auto step = [&](const std::uint8_t* data, std::uint32_t size) {
    decoder_audio_area area{out.data() + written, static_cast<std::uint32_t>(out.size() - written)};
    d.aux(DECODER_SET_OUTPUT, &area, sizeof area);
    const std::uint32_t taken = d.feed(data, size);
    const std::uint32_t status = d.status();
    std::uint32_t bytes = 0;
    d.aux(DECODER_AUDIO_WRITTEN, &bytes, sizeof bytes);
    written += bytes;
    if (status & DECODER_STATUS_ERROR) run.error = true;
    if (status & DECODER_STATUS_DONE) run.done = true;
    if (data && taken == 0 && bytes == 0 && !(status & DECODER_STATUS_PICTURE)) run.stuck = true;
    return taken;
  };
  std::size_t at = 0;
  for (std::size_t c = 0; at < stream.size() && !run.stuck; ++c) {
    const std::size_t n = std::min(chunks[c % chunks.size()], stream.size() - at);
    for (std::size_t off = 0; off < n && !run.stuck;)
      off += step(stream.data() + at + off, static_cast<std::uint32_t>(n - off));
    at += n;
  }
  for (int i = 0; i < 64 && !run.done; ++i) step(nullptr, 0);
  out.resize(written);
  run.samples = std::move(out);
  return run;
}

Bytes videoHeader(const Bytes& s, bool h264) {
  for (std::size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const std::uint8_t code = s[i + 3];
    const bool first =
        h264 ? ((code & 0x1F) == 1 || (code & 0x1F) == 5) : (code == 0xB8 || code == 0x00);
    if (first && i > 0) return Bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return {};
}

std::vector<const Picture*> displayOrder(const std::vector<Picture>& coded) {
  std::vector<const Picture*> shown(coded.size(), nullptr);
  std::size_t base = 0;
  std::size_t inGop = 0;
  for (const Picture& p : coded) {
    if ((p.status & DECODER_STATUS_GOP) && inGop > 0) {
      base += inGop;
      inGop = 0;
    }
    ++inGop;
    const std::size_t index = base + p.info.temporal_reference;
    if (index < shown.size() && !shown[index]) shown[index] = &p;
  }
  return shown;
}

}  // namespace quillion::decoder::test
