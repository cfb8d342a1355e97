// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the movie scanner over arbitrary bytes. The scanner reads files, so the input
// becomes an anonymous in-memory file reached through /proc/self/fd.
// Seeds: the first packs of ffmpeg's pal-svcd and pal-vcd streams, the last two packs of a
// pal-dvd stream, and hand-written packs (a tiny MPEG-2 stream, the same behind an audio
// sync word, and packets whose lengths run past the file or are zero).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "DPMs/mpeg/mpeg_pack_walk.h"
#include "quillion/MU.h"

namespace {

void scan(const char* path) {
  MU_Handle* handle = MU_Init(path);
  if (!handle) return;
  MU_MPEG_Info info{};
  MU_FullParse(handle, &info, nullptr, nullptr);
  MU_ReleaseInfo(&info);
  std::vector<std::uint8_t> buffer(kMU_MaxPackBytes);
  std::int64_t position = 0;
  for (;;) {
    unsigned length = kMU_MaxPackBytes;
    char audio = 0;
    const std::int64_t at = MU_GetNextPack(handle, position, buffer.data(), &length, &audio);
    if (at < 0) break;
    if (at < position || length > kMU_MaxPackBytes) __builtin_trap();
    position = at + (length > 0 ? length : 1);
  }
  MU_Term(handle);

  GU_SFB* reader = GU_SFB_Init(path, quillion::mpeg::ByteView::kReaderWindow);
  if (!reader) return;
  {
    quillion::mpeg::ByteView view(reader);
    quillion::mpeg::PackInfo pack;
    std::int64_t from = 0;
    while (quillion::mpeg::findNextPack(view, from, true, &pack) >= 0) {
      if (pack.start < from || pack.length == 0) __builtin_trap();
      from = pack.start + 4;
    }
    std::int64_t back = static_cast<std::int64_t>(view.size());
    while ((back = quillion::mpeg::findNextMPEGMarker(view, back - 1, 0xFF, nullptr, false)) > 0) {
    }
  }
  (void)GU_SFB_Term(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("mpeg_scanner", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  if (written == size) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    scan(path);
  }
  ::close(fd);
  return 0;
}
