// SPDX-License-Identifier: GPL-2.0-or-later
// The native image file: a valid image (two sessions, three tracks, a CD-Text block) is
// changed field by field as the input says, then opened and read like any image. A header the
// reader accepts must describe the file soundly (checked here on its own terms), and every
// track must read back exactly its bytes of the file, never more.
//
// Input: a series of operations, one byte each choosing a header field (or the file size)
// followed by its new value in little-endian; patching fields rather than raw bytes keeps a
// mutation on the few bytes of the 93,774 that mean something.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "image/cd_image_file.h"
#include "image/wlt_format.h"

namespace {

using quillion::fuzz::check;

struct Field {
  std::size_t at;
  int width;
};

// The header's layout, as the file format fixes it.
constexpr std::size_t kSessionCountAt = 1196, kSessionsAt = 1198, kSessionBytes = 90;
constexpr std::size_t kTrackCountAt = 10108, kTracksAt = 10110, kTrackBytes = 842;

std::vector<Field> fields() {
  std::vector<Field> f = {{0, 4}, {kSessionCountAt, 2}, {kTrackCountAt, 2}, {93508, 4}, {93512, 4}};
  for (std::size_t s = 0; s < 4; ++s) {
    const std::size_t base = kSessionsAt + s * kSessionBytes;
    for (const Field field : {Field{0, 2}, Field{2, 2}, Field{18, 4}})
      f.push_back({base + field.at, field.width});
  }
  for (std::size_t t = 0; t < 4; ++t) {
    const std::size_t base = kTracksAt + t * kTrackBytes;
    for (const Field field : {Field{0, 2}, Field{4, 2}, Field{282, 4}, Field{286, 4}, Field{290, 4},
                              Field{724, 8}, Field{732, 8}})
      f.push_back({base + field.at, field.width});
  }
  return f;
}

std::vector<std::uint8_t> templateImage() {
  WltHeader h;
  h.sessionCount = 2;
  h.sessions[0] = {1, 2, 1, 1, 0, 0, 0};
  h.sessions[1] = {3, 1, 0, 1, 1, 1, 11'400};
  h.trackCount = 3;
  const std::array<std::pair<std::uint32_t, std::uint64_t>, 3> tracks = {
      {{2352, 3}, {2048, 2}, {2336, 1}}};
  std::uint64_t offset = kWltHeaderBytes;
  h.cdTextOffset = static_cast<std::uint32_t>(offset);
  h.cdTextLength = 36;
  offset += h.cdTextLength;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    WLTTRACK& t = h.tracks[i];
    t.number = static_cast<std::uint16_t>(i + 1);
    t.blockSize = tracks[i].first;
    t.dataLength = tracks[i].first * tracks[i].second;
    t.dataOffset = offset;
    offset += t.dataLength;
  }
  std::vector<std::uint8_t> file = quillion::wlt::encode(h);
  file.resize(offset);
  for (std::size_t i = kWltHeaderBytes; i < file.size(); ++i)
    file[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return file;
}

// The accepted header, checked on its own terms: every track numbered in order and in
// exactly one session, whole blocks of a real size, data apart from all other data.
void checkSound(const WltHeader& h, std::uint64_t fileSize) {
  std::array<int, kWltMaxTracks + 2> owners{};
  for (std::size_t s = 0; s < h.sessionCount; ++s)
    for (std::uint32_t k = 0; k < h.sessions[s].trackCount; ++k) {
      const std::uint32_t track = h.sessions[s].firstTrack + k;
      check(track >= 1 && track <= h.trackCount, "sessions name only tracks that exist");
      ++owners[track];
    }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
  for (std::size_t i = 0; i < h.trackCount; ++i) {
    const WLTTRACK& t = h.tracks[i];
    check(owners[i + 1] == 1, "every track is in exactly one session");
    check(t.number == i + 1, "tracks are numbered from 1 in order");
    check(t.blockSize >= 1 && t.blockSize <= kWltMaxBlockSize, "a block size a disc block has");
    check(t.dataLength % t.blockSize == 0, "a track holds whole blocks");
    check(t.dataOffset >= kWltHeaderBytes && t.dataOffset <= fileSize &&
              t.dataLength <= fileSize - t.dataOffset,
          "track data inside the file after the header");
    if (t.dataLength) extents.emplace_back(t.dataOffset, t.dataLength);
  }
  if (h.cdTextOffset && h.cdTextLength) extents.emplace_back(h.cdTextOffset, h.cdTextLength);
  std::sort(extents.begin(), extents.end());
  for (std::size_t i = 1; i < extents.size(); ++i)
    check(extents[i - 1].first + extents[i - 1].second <= extents[i].first,
          "no two tracks or a track and the CD-Text share bytes");
}

void readBack(const std::vector<std::uint8_t>& file, const char* path) {
  const auto header = quillion::wlt::decode(file);
  EngineStatus verdict = kErrImageMagic;
  if (header) verdict = quillion::wlt::validate(*header, file.size());
  if (file.size() < kWltHeaderBytes) verdict = kErrImageOpen;
  CDImageFile image(false);
  const EngineStatus opened = image.Open(path, false);
  check(opened == verdict, "opening answers what the header check says");
  std::uint16_t sessions = 0, tracks = 0;
  (void)image.CDImageInfo(&sessions, &tracks);
  if (opened != kNoErr) {
    check(sessions == 0 && tracks == 0, "nothing of a refused header is kept");
    return;
  }
  checkSound(*header, file.size());
  for (std::uint16_t n = 1; n <= tracks; ++n) {
    std::uint32_t blockSize = 0;
    const std::uint32_t blocks = image.OpenTrack(n, &blockSize);
    const WLTTRACK& t = header->tracks[n - 1u];
    check(blockSize == t.blockSize && blocks == t.dataLength / t.blockSize, "track geometry");
    std::vector<std::uint8_t> buffer(std::size_t{blockSize} * 3);
    std::uint64_t position = 0;
    for (std::uint32_t got; (got = image.ReadData(buffer.data(), 3)) != 0;) {
      check(got <= 3, "never more blocks than asked");
      const std::size_t bytes = std::size_t{got} * blockSize;
      check(position + bytes <= t.dataLength, "never past the track's end");
      check(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(bytes),
                       file.begin() + static_cast<std::ptrdiff_t>(t.dataOffset + position)),
            "a track reads back its own bytes");
      position += bytes;
    }
    check(position == t.dataLength, "every block of the track is read");
  }
  std::vector<std::uint8_t> text;
  check(image.GetCDTextRawData(text) == kNoErr, "the CD-Text block reads");
  if (header->cdTextOffset && header->cdTextLength)
    check(text.size() == header->cdTextLength, "the whole CD-Text block");
}

// One in-memory file for the whole process, reached by path like a file on disk.
const std::string& scratchPath() {
  static const std::string path = [] {
    const int fd = ::memfd_create("wlt-fuzz", 0);
    check(fd >= 0, "memfd_create");
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<Field> table = fields();
  static const std::vector<std::uint8_t> base = templateImage();
  std::vector<std::uint8_t> file = base;
  quillion::fuzz::Input in(data, size);
  while (!in.empty()) {
    const std::size_t pick = in.u8() % (table.size() + 1);
    if (pick == table.size()) {
      // The file's size, within a little of the template's.
      file.resize(kWltHeaderBytes - 16 + in.u16() % (base.size() - kWltHeaderBytes + 64));
      continue;
    }
    const Field f = table[pick];
    const std::uint64_t value = in.u64();
    if (f.at + static_cast<std::size_t>(f.width) > file.size()) continue;
    for (int i = 0; i < f.width; ++i)
      file[f.at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  const std::string& path = scratchPath();
  const int fd = ::open(path.c_str(), O_RDWR);
  check(fd >= 0 && ::ftruncate(fd, 0) == 0 &&
            ::pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()),
        "the image is written");
  ::close(fd);
  readBack(file, path.c_str());
  return 0;
}
