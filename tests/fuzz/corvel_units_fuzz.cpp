// SPDX-License-Identifier: GPL-2.0-or-later
// Corvel's readers of outside data: the stream-header analysers and the file-mode unit
// readers over any bytes, and the H.264-style bit reader. Whatever they are given, the
// units they hand out must lie inside the data and their times must not run backwards.
//
// Input: one selector byte (bit 0: audio, else video; bit 1: field mode 3 instead of 0;
// bit 2: subpictures instead, bit 3 with their time stamps, also through the subpicture file
// reader; bit 4: video I pictures tell where their Super Video CD scan information lies),
// then the elementary stream.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bit_reader.h"
#include "bufstream.h"
#include "fuzz_support.h"
#include "services.h"
#include "stream_headers.h"
#include "subpicture_file.h"
#include "unit_readers.h"

namespace {

using quillion::fuzz::check;
namespace corvel = quillion::corvel;

// A fifo holding the whole stream.
struct Feed {
  explicit Feed(const std::uint8_t* data, std::size_t size)
      : writer(new_fifo_buf(static_cast<std::uint32_t>(size + 70000), 65537)) {
    check(writer != nullptr, "the fifo is made");
    reader = writer + 1;
    if (size > 0)
      check(writer->copybytes(writer, const_cast<std::uint8_t*>(data),
                              static_cast<std::uint32_t>(size)) == size,
            "the fifo takes the stream");
  }
  ~Feed() { free_fifo_buf(writer); }
  bufstream* writer;
  bufstream* reader;
};

void readVideo(const std::uint8_t* data, std::size_t size, std::int32_t fieldMode,
               bool scanBlocks) {
  Feed es(data, size);
  Feed units(data, size);
  corvel::VideoFacts facts;
  if (corvel::analyseVideoHeader(es.reader, 512, 1000000, facts) != 0) return;
  check(facts.framePeriod > 0, "an accepted stream has a frame period");
  const auto services = quillion::mpeg::Services::resolve(nullptr);
  corvel::VideoUnitReader reader(units.reader, facts, fieldMode, services);
  reader.findScanBlocks(scanBlocks);
  std::uint64_t total = 0;
  corvel::AccessUnit u;
  for (int i = 0; i < 100000 && reader.next(u) == corvel::VideoUnitReader::Result::unit; ++i) {
    check(u.size > 0, "a picture has bytes");
    if (u.scanOffset >= 0) {
      check(scanBlocks && u.pictureType == 1, "only I pictures carry scan information");
      check(static_cast<std::uint64_t>(u.scanOffset) + 18 <= u.size,
            "scan information lies whole inside its picture");
    }
    total += u.size;
    check(total <= size, "units lie inside the data");
  }
}

void readAudio(const std::uint8_t* data, std::size_t size) {
  Feed es(data, size);
  Feed units(data, size);
  corvel::AudioFacts facts;
  if (corvel::analyseAudioHeader(es.reader, 128000, facts) != 0) return;
  check(facts.firstBytesSize <= sizeof facts.firstBytes && facts.firstBytesSize <= size,
        "the kept header lies inside the data");
  const bool framesSayTheirSize =
      facts.coding == corvel::kAudioAacId1 || facts.coding == corvel::kAudioAacId0;
  check((facts.frameSize > 0 || framesSayTheirSize) && facts.frameDuration > 0,
        "an accepted stream has frames");
  corvel::AudioUnitReader reader(units.reader, facts);
  std::uint64_t total = facts.headerBytes;
  std::uint64_t last = 0;
  corvel::AccessUnit u;
  for (int i = 0; i < 100000 && reader.next(u); ++i) {
    total += u.size;
    check(total <= size, "frames lie inside the data");
    check(i == 0 || u.pts > last, "frame times rise");
    last = u.pts;
  }
}

void readSubpictures(const std::uint8_t* data, std::size_t size, bool timed) {
  Feed units(data, size);
  corvel::SubpictureUnitReader reader(units.reader, timed);
  reader.setPeriod(1080000);
  std::uint64_t total = 0;
  corvel::AccessUnit u;
  for (int i = 0; i < 100000 && reader.next(u); ++i) {
    check(u.size >= 2, "a unit holds its length");
    total += u.size + (timed ? 8 : 0);
    check(total <= size, "units lie inside the data");
  }
  if (!timed) return;
  char name[] = "/tmp/corvel_fuzz_XXXXXX";
  const int fd = ::mkstemp(name);
  check(fd >= 0, "a scratch file is made");
  check(::write(fd, data, size) == static_cast<ssize_t>(size), "the scratch file takes the data");
  ::close(fd);
  const auto services = quillion::mpeg::Services::resolve(nullptr);
  if (bufstream* file = corvel::openSubpictureFile(name, services)) {
    std::uint64_t read = 0;
    for (int i = 0; i < 100000; ++i) {
      const std::uint32_t left = file->usable_bytes(file);
      std::uint8_t* p = file->request(file, left ? left : 2);
      if (!p) break;
      const std::uint32_t n = left ? left : 2;
      check(file->confirm(file, n) == n, "a requested area can be taken");
      read += n;
      check(read <= size, "units lie inside the file");
    }
    file->free(file);
  }
  ::unlink(name);
}

void readBits(const std::uint8_t* data, std::size_t size) {
  corvel::BitReader bits(data, size);
  for (std::size_t i = 0; i < 8 * size + 8 && !bits.ended(); ++i) {
    (void)bits.ue();
    (void)bits.se();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  ++data;
  --size;
  if (size > 1 << 20) return 0;
  if (selector & 4)
    readSubpictures(data, size, (selector & 8) != 0);
  else if (selector & 1)
    readAudio(data, size);
  else
    readVideo(data, size, (selector & 2) ? 3 : 0, (selector & 16) != 0);
  readBits(data, size);
  return 0;
}
