// SPDX-License-Identifier: GPL-2.0-or-later
// Drives a decoder plug-in the way the input library does: loaded by name through the
// library's framework loader, primed, then fed a stream in chunks of the test's choosing
// until it reports itself empty. Streams and their references come from ffmpeg, made once
// per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "brindle.h"
#include "bufstream.h"
#include "decoder_plugin.h"
#include "frameworks.h"

struct mpeg_in_info;

namespace quillion::decoder::test {

using Bytes = std::vector<std::uint8_t>;

// Chunk sizes to feed a stream in: all at once, and sizes that split every kind of unit.
inline const std::vector<std::size_t> kWhole = {std::size_t{1} << 30};
inline const std::vector<std::size_t> kAwkward = {1, 3, 17, 4096, 2, 333};

// A stream made by ffmpeg for the tests, by name ("mpeg2.m2v", "stereo.ac3", ...), and the
// references decoded from it. Made on first use; empty when ffmpeg failed.
const std::filesystem::path& fixture(const std::string& name);
// ffmpeg's decoding of a fixture: 4:2:0 planar pictures in display order, or 16-bit samples.
const Bytes& referencePictures(const std::string& name, const std::string& pixelFormat = "yuv420p");
const Bytes& referenceSamples(const std::string& name);

// ffprobe's picture types of a video fixture in display order (1 I, 2 P, 3 B).
const std::vector<std::uint32_t>& referenceTypes(const std::string& name);

// Points the framework search at one folder for the rest of the process.
void useFrameworkFolder(const std::string& folder);

// A session whose framework is loaded through the input library's loader.
class LoadedFramework {
 public:
  explicit LoadedFramework(brindle::Framework framework);
  ~LoadedFramework();
  LoadedFramework(const LoadedFramework&) = delete;
  LoadedFramework& operator=(const LoadedFramework&) = delete;

  int loadResult() const { return result_; }
  void* function(std::uint32_t index) const;

 private:
  brindle::Framework framework_;
  mpeg_in_info* session_;
  int result_ = 1;
};

// Calls an audio decoder's open function (Ostrell's takes the service lookup alone).
bufstream* openAudioDecoder(brindle::Framework framework, void* open);
// Calls a video decoder's open function.
bufstream* openVideoDecoder(void* open);

// A decoder object, finished and freed when the holder goes.
class Decoder {
 public:
  explicit Decoder(bufstream* stream) : stream_(stream) {}
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  bufstream* get() const { return stream_; }
  std::int32_t aux(std::uint32_t id, void* data = nullptr, std::uint32_t size = 0,
                   std::uint32_t offset = 0) const;
  std::uint32_t feed(const std::uint8_t* data, std::uint32_t size) const;
  std::uint32_t status() const;
  // The priming sequence: flags, the header code, the header bytes, the frame parser check.
  // Answers the frame parser check's result (0: ready), or -1 when the header was refused.
  int prime(std::uint32_t flags, std::uint32_t headerCode, const Bytes& header) const;

 private:
  bufstream* stream_;
};

struct Picture {
  Bytes planes;  // Y, U, V one after the other, rows without padding
  decoder_picture_info info{};
  decoder_sequence_info sequence{};
  std::uint32_t status = 0;
};

struct VideoRun {
  std::vector<Picture> pictures;
  bool error = false;  // a status carried the error bit
  bool done = false;   // the decoder reported itself empty at the end
  bool stuck = false;  // a feed took nothing and gave nothing
};

// Feeds the stream in chunks of the given sizes (used in turn) and flushes at the end. In
// coded-order mode each picture is written into the output frame given beforehand; with
// copyOut it is copied out of the decoder instead.
VideoRun decodeVideo(const Decoder& decoder, const Bytes& stream,
                     const std::vector<std::size_t>& chunks, std::uint32_t width,
                     std::uint32_t height, bool copyOut,
                     std::uint32_t fourcc = MPEG_IN_FOURCC_I420);
// Bytes per pixel of a packed fourcc; 0 for the planar ones.
std::uint32_t packedBytesPerPixel(std::uint32_t fourcc);

struct AudioRun {
  Bytes samples;
  bool error = false;
  bool done = false;
  bool stuck = false;
};

AudioRun decodeAudio(const Decoder& decoder, const Bytes& stream,
                     const std::vector<std::size_t>& chunks);

// The bytes of an MPEG video stream before its first GOP or picture, or of an H.264 stream
// before its first slice: what the library primes a decoder with.
Bytes videoHeader(const Bytes& stream, bool h264);

// Coded-order pictures put in display order by their GOPs and temporal references.
std::vector<const Picture*> displayOrder(const std::vector<Picture>& codedOrder);

}  // namespace quillion::decoder::test
