// SPDX-License-Identifier: GPL-2.0-or-later
// The flat scanner calls over the pack walk. File sizes and positions are 64-bit: movie files
// beyond 4 GiB are common.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "DPMs/mpeg/mpeg_pack_walk.h"
#include "quillion/MU.h"

using quillion::mpeg::ByteView;
using quillion::mpeg::findNextMPEGMarker;
using quillion::mpeg::findNextPack;
using quillion::mpeg::PackInfo;

const double gu_Frame_Rates[16] = {
    0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60, 0, 0, 0, 0, 0, 0, 0};

struct MU_Handle {
  explicit MU_Handle(GU_SFB* r) : reader(r), view(r) {}
  ~MU_Handle() { (void)GU_SFB_Term(reader); }  // only a null reader is refused
  MU_Handle(const MU_Handle&) = delete;
  MU_Handle& operator=(const MU_Handle&) = delete;

  GU_SFB* reader;
  ByteView view;
};

namespace {

constexpr std::uint64_t kProgressStep = 51200;
constexpr std::size_t kMinTableBytes = 10240;
constexpr std::size_t kTableBytesPerSecond = 72;

// The 33-bit system clock reference of the pack at `pack`: MPEG-1 packs ('0010' after the
// start code) keep it in bytes 4 to 8, MPEG-2 packs ('01') its base in bytes 4 to 9.
// Nothing for other packs or when the bytes are not all in the file.
bool clockReference(ByteView& view, std::uint64_t pack, std::uint64_t* scr) {
  const std::uint8_t b4 = view.at(pack + 4);
  if ((b4 & 0xF0) == 0x20) {
    if (pack + 9 > view.size()) return false;
    *scr = static_cast<std::uint64_t>((b4 >> 1) & 0x07) << 30 |
           static_cast<std::uint64_t>(view.be16(pack + 5) >> 1) << 15 | view.be16(pack + 7) >> 1;
    return true;
  }
  if ((b4 & 0xC0) == 0x40) {
    if (pack + 10 > view.size()) return false;
    const std::uint64_t b5 = view.at(pack + 5), b6 = view.at(pack + 6), b7 = view.at(pack + 7),
                        b8 = view.at(pack + 8);
    *scr = static_cast<std::uint64_t>((b4 >> 3) & 0x07) << 30 |
           static_cast<std::uint64_t>(b4 & 0x03) << 28 | b5 << 20 | (b6 >> 3) << 15 |
           (b6 & 0x03) << 13 | b7 << 5 | b8 >> 3;
    return true;
  }
  *scr = 0;
  return true;
}

// Duration in whole seconds from the last pack whose clock reference lies in the file; 0
// when there is none.
double lastPackSeconds(ByteView& view) {
  if (view.size() < 6) return 0;
  std::int64_t from = static_cast<std::int64_t>(view.size()) - 6;
  while (from >= 0) {
    const std::int64_t pack =
        findNextMPEGMarker(view, from, quillion::mpeg::kPackStart, nullptr, false);
    if (pack < 0) return 0;
    std::uint64_t scr = 0;
    if (clockReference(view, static_cast<std::uint64_t>(pack), &scr))
      return static_cast<double>(scr / 90000);
    from = pack - 1;
  }
  return 0;
}

bool readSequenceHeader(ByteView& view, std::int64_t from, MU_MPEG_Info* info) {
  const std::int64_t header =
      findNextMPEGMarker(view, from, quillion::mpeg::kSequenceHeader, nullptr, true);
  if (header < 0) return false;
  const auto at = static_cast<std::uint64_t>(header);
  if (at + 8 > view.size()) return false;
  const std::uint8_t b4 = view.at(at + 4), b5 = view.at(at + 5), b6 = view.at(at + 6),
                     b7 = view.at(at + 7);
  info->width = static_cast<std::uint16_t>(b4 << 4 | b5 >> 4);
  info->height = static_cast<std::uint16_t>((b5 & 0x0F) << 8 | b6);
  info->aspectCode = static_cast<std::uint8_t>(b7 >> 4);
  info->frameRate = gu_Frame_Rates[b7 & 0x0F];
  return true;
}

// The next position of a walk: the pack's end, at most the file's end, and always past the
// pack's start.
std::int64_t afterPack(const PackInfo& pack, std::uint64_t fileSize) {
  std::uint64_t next = static_cast<std::uint64_t>(pack.start) + pack.length;
  if (next > fileSize) next = fileSize;
  if (next <= static_cast<std::uint64_t>(pack.start)) next = pack.start + 1;
  return static_cast<std::int64_t>(next);
}

class IFrameTable {
 public:
  // Room for the entries of a stream of `seconds`: 72 bytes a second, at least 10240 bytes.
  bool allocate(double seconds) {
    double whole = seconds < 0 ? 0 : seconds;
    if (whole > 4294967295.0) whole = 4294967295.0;
    const auto bytesWanted = static_cast<std::uint64_t>(whole) * kTableBytesPerSecond;
    bytes_ = bytesWanted > kMinTableBytes ? static_cast<std::size_t>(bytesWanted) : kMinTableBytes;
    buffer_ = static_cast<std::uint8_t*>(std::calloc(bytes_, 1));
    return buffer_ != nullptr;
  }
  void add(std::uint32_t packIndex, double seconds) {
    if (!buffer_ || count_ >= (bytes_ - 4) / kMU_IFrameEntryBytes) return;
    std::uint8_t* entry = buffer_ + 4 + count_ * kMU_IFrameEntryBytes;
    std::memcpy(entry, &packIndex, 4);
    std::memcpy(entry + 4, &seconds, 8);
    ++count_;
    std::memcpy(buffer_, &count_, 4);
  }
  std::uint8_t* release() {
    std::uint8_t* b = buffer_;
    buffer_ = nullptr;
    return b;
  }
  ~IFrameTable() { std::free(buffer_); }

 private:
  std::uint8_t* buffer_ = nullptr;
  std::size_t bytes_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace

MU_Handle* MU_Init(const char* path) {
  GU_SFB* reader = GU_SFB_Init(path, ByteView::kReaderWindow);
  if (!reader) return nullptr;
  auto* handle = new (std::nothrow) MU_Handle(reader);
  if (!handle) (void)GU_SFB_Term(reader);
  return handle;
}

void MU_Term(MU_Handle* handle) {
  delete handle;
}

bool MU_QuickParse(MU_Handle* handle, MU_MPEG_Info* info) {
  if (!handle || !info) return false;
  *info = MU_MPEG_Info{};
  ByteView& view = handle->view;
  // An MPEG audio stream (frame sync FFF or FFE) is no program stream.
  const std::uint8_t b0 = view.at(0), b1 = view.at(1);
  if (b0 == 0xFF && (b1 == 0xF0 || b1 == 0xE0)) return false;

  std::int64_t position = 0;
  PackInfo pack;
  for (;;) {
    if (findNextPack(view, position, false, &pack) < 0) return false;
    if (pack.systemHeader && !pack.unknown) break;
    position = afterPack(pack, view.size());
  }
  info->version = (view.at(static_cast<std::uint64_t>(pack.start) + 4) & 0xC0) == 0 ? 1 : 2;
  if (!readSequenceHeader(view, pack.start, info)) {
    *info = MU_MPEG_Info{};
    return false;
  }
  info->fileSize = view.size();
  info->duration = lastPackSeconds(view);
  info->tag = kMU_InfoTag;
  return true;
}

bool MU_FullParse(MU_Handle* handle, MU_MPEG_Info* info, MU_ProgressProc progress, void* context) {
  if (!MU_QuickParse(handle, info)) return false;
  IFrameTable table;
  if (info->version == 2 && !table.allocate(info->duration)) return false;

  ByteView& view = handle->view;
  const std::uint64_t fileSize = view.size();
  std::uint32_t audio = 0, video = 0, unknown = 0, stopped = 0;
  char cancel = 0;
  std::int64_t position = 0;
  std::uint64_t reported = 0;
  PackInfo pack;
  while (!cancel && findNextPack(view, position, info->version == 2, &pack) >= 0) {
    if (pack.iPicture) table.add(audio + video, pack.iSeconds);
    if (pack.length > kMU_MaxPackBytes) {
      stopped = 1;
      break;
    }
    if (pack.audio)
      ++audio;
    else
      ++video;
    if (pack.unknown) ++unknown;
    position = afterPack(pack, fileSize);
    const auto now = static_cast<std::uint64_t>(position);
    if (progress && now - reported > kProgressStep) {
      reported = now;
      progress(handle, fileSize, now, context, &cancel);
    }
  }
  if (progress) progress(handle, fileSize, fileSize, context, &cancel);
  // A cancelled scan keeps no partial counts and no partial table.
  if (cancel) return true;
  if (info->version == 2) info->iFrameTable = table.release();
  info->audioPacks = audio;
  info->videoPacks = video;
  info->unknownPacks = unknown;
  info->stopped = stopped;
  return true;
}

std::int64_t MU_GetNextPack(MU_Handle* handle, std::int64_t position, void* buffer,
                            unsigned* length, char* hasAudio) {
  if (!handle || !buffer || !length || *length < kMU_MaxPackBytes || position < 0) return -1;
  *length = 0;
  ByteView& view = handle->view;
  PackInfo pack;
  while (findNextPack(view, position, false, &pack) >= 0) {
    if (pack.length <= kMU_MaxPackBytes) {
      *length = view.copy(buffer, static_cast<std::uint64_t>(pack.start),
                          static_cast<std::uint32_t>(pack.length));
      if (hasAudio) *hasAudio = pack.audio ? 1 : 0;
      return pack.start;
    }
    position = afterPack(pack, view.size());
  }
  return -1;
}

std::uint32_t MU_IFrameCount(const MU_MPEG_Info* info) {
  if (!info || !info->iFrameTable) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, info->iFrameTable, 4);
  return count;
}

bool MU_IFrameAt(const MU_MPEG_Info* info, std::uint32_t index, MU_IFrameEntry* entry) {
  if (!entry || index >= MU_IFrameCount(info)) return false;
  const std::uint8_t* at = info->iFrameTable + 4 + std::size_t{index} * kMU_IFrameEntryBytes;
  std::memcpy(&entry->packIndex, at, 4);
  std::memcpy(&entry->seconds, at + 4, 8);
  return true;
}

void MU_ReleaseInfo(MU_MPEG_Info* info) {
  if (!info) return;
  std::free(info->iFrameTable);
  *info = MU_MPEG_Info{};
}
