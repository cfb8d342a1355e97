// SPDX-License-Identifier: GPL-2.0-or-later
#include "ifo_tables.h"

#include <cstring>

namespace quillion::daskin {

namespace {

// Big-endian fields of the IFO copy; a field outside the copy reads as 0 and marks the view
// damaged, so a walk can finish and be refused at its end.
class IfoView {
 public:
  IfoView(const std::uint8_t* d, std::uint32_t size) : d_(d), size_(size) {}
  std::uint32_t u8(std::uint64_t at) { return fits(at, 1) ? d_[at] : 0; }
  std::uint32_t u16(std::uint64_t at) {
    return fits(at, 2) ? static_cast<std::uint32_t>(d_[at] << 8 | d_[at + 1]) : 0;
  }
  std::uint32_t u32(std::uint64_t at) {
    return fits(at, 4) ? std::uint32_t{d_[at]} << 24 | std::uint32_t{d_[at + 1]} << 16 |
                             std::uint32_t{d_[at + 2]} << 8 | d_[at + 3]
                       : 0;
  }
  [[nodiscard]] bool damaged() const { return damaged_; }
  bool fits(std::uint64_t at, std::uint64_t n) {
    if (at + n <= size_) return true;
    damaged_ = true;
    return false;
  }

 private:
  const std::uint8_t* d_;
  std::uint32_t size_;
  bool damaged_ = false;
};

constexpr std::uint64_t kSector = 2048;

struct KindLayout {
  std::uint32_t tablePointer;  // sector of the program chain table (or menu unit table)
  std::uint32_t vobPointer;    // sector where the VOB set begins
  std::uint32_t audioCount;    // byte whose low bits count the audio streams
  std::uint32_t subpictureCount;
  IfoStatus missing;
};

KindLayout layoutOf(int kind) {
  switch (kind) {
    case kVideoManager:
      return {200, 192, 259, 341, IfoStatus::NoVmgm};
    case kTitleSetMenu:
      return {208, 192, 259, 341, IfoStatus::NoVtsm};
    default:
      return {204, 196, 515, 597, IfoStatus::NoVtss};
  }
}

// Byte offset of the table of program chains to walk: the title table, or one language
// unit of the menu table (`unit` from 0; the first when it is out of range).
std::uint64_t chainTable(IfoView& v, int kind, std::uint32_t unit) {
  const std::uint64_t table = std::uint64_t{v.u32(layoutOf(kind).tablePointer)} * kSector;
  if (kind == kTitleSet) return table;
  const std::uint32_t units = v.u16(table);
  if (units < 2 || unit >= units) unit = 0;
  return table + v.u32(table + 8 + 8ull * unit + 4);
}

void addIfoStream(IfoFacts& out, std::uint32_t kind, std::uint32_t id, std::uint32_t sub) {
  if (out.streamCount >= static_cast<int>(sizeof out.streams / sizeof out.streams[0])) return;
  out.streams[out.streamCount++] = {kind, static_cast<std::uint8_t>(id),
                                    static_cast<std::uint8_t>(sub)};
}

// Video, then each audio attribute by its coding mode, then each subpicture stream.
void listIfoStreams(IfoView& v, const KindLayout& layout, std::uint64_t chain, IfoFacts& out) {
  addIfoStream(out, DEMUX_KIND_VIDEO, 0xE0, 0);
  const std::uint32_t audio = v.u8(layout.audioCount) & 0x0F;
  for (std::uint32_t i = 0; i < audio && i < 8; ++i) {
    const std::uint32_t mode = v.u8(layout.audioCount + 1 + 8 * i) >> 5;
    const std::uint32_t n = v.u8(chain + 12 + 2 * i) & 7;
    switch (mode) {
      case 0:
        addIfoStream(out, DEMUX_KIND_AC3, 0xBD, 0x80 + n);
        break;
      case 2:
      case 3:
        addIfoStream(out, DEMUX_KIND_MPEG_AUDIO, 0xC0 + n, 0);
        break;
      case 4:
        addIfoStream(out, DEMUX_KIND_LPCM, 0xBD, 0xA0 + n);
        break;
      case 6:
        addIfoStream(out, DEMUX_KIND_SUB_88, 0xBD, 0x88 + n);
        break;
      case 7:
        addIfoStream(out, DEMUX_KIND_SUB_90, 0xBD, 0x90 + n);
        break;
      default:
        break;  // modes 1 and 5 carry no stream Daskin delivers
    }
  }
  const std::uint32_t subpictures = v.u8(layout.subpictureCount) & 0x1F;
  for (std::uint32_t i = 0; i < subpictures; ++i) {
    std::uint32_t number = 0;
    for (std::uint32_t b = 0; b < 4 && number == 0; ++b)
      number = v.u8(chain + 28 + 4 * i + b) & 0x1F;
    addIfoStream(out, DEMUX_KIND_SUBPICTURE, 0xBD, 0x20 + number);
  }
}

std::uint32_t bcd(std::uint32_t b) {
  return (b >> 4) * 10 + (b & 0x0F);
}

// Playback time (hours, minutes, seconds, frames in BCD; the rate in the frame byte's top
// bits) in 27 MHz ticks.
std::uint64_t playbackTicks(IfoView& v, std::uint64_t at) {
  const std::uint32_t frameByte = v.u8(at + 3);
  const std::uint64_t h = bcd(v.u8(at)), m = bcd(v.u8(at + 1)), s = bcd(v.u8(at + 2));
  const std::uint64_t f = bcd(frameByte & 0x3F);
  switch (frameByte >> 6) {
    case 1:
      return (h * 90000 + m * 1500 + s * 25 + f) * 1080000;
    case 3:
      return (h * 108000 + m * 1800 + s * 30 + f) * 900900;
    default:
      return 0;
  }
}

}  // namespace

const char* ifoMessage(IfoStatus status) {
  switch (status) {
    case IfoStatus::Ok:
      return "";
    case IfoStatus::NoVmgm:
      return "No VMGM present in the IFO file";
    case IfoStatus::NoVtsm:
      return "No VTSM present in the IFO file";
    case IfoStatus::NoVtss:
      return "No VTS's present in the IFO file";
    case IfoStatus::NoVts:
      return "No VTS present in the IFO file";
    case IfoStatus::Recording:
      return "VRO not yet implemented";
    case IfoStatus::Damaged:
      return "Damaged IFO file";
    case IfoStatus::Unknown:
    default:
      return "Unknown IFO file";
  }
}

IfoStatus readIfoFacts(const std::uint8_t* ifo, std::uint32_t size, bool menu, IfoFacts& out) {
  out = IfoFacts{};
  if (size < 12) return IfoStatus::Unknown;
  if (std::memcmp(ifo, "DVDVIDEO-VMG", 12) == 0) {
    out.kind = kVideoManager;
  } else if (std::memcmp(ifo, "DVDVIDEO-VTS", 12) == 0) {
    out.kind = menu ? kTitleSetMenu : kTitleSet;
  } else if (std::memcmp(ifo, "DVD_RTR_VMG", 11) == 0 && ifo[11] >= '0' && ifo[11] <= '9') {
    return IfoStatus::Recording;
  } else {
    return IfoStatus::Unknown;
  }
  IfoView v(ifo, size);
  const KindLayout layout = layoutOf(out.kind);
  const std::uint32_t tableSector = v.u32(layout.tablePointer);
  if (tableSector == 0 || v.u32(layout.vobPointer) == 0) return layout.missing;
  const std::uint64_t table = std::uint64_t{tableSector} * kSector;
  std::uint64_t chains = table;  // the table whose first program chain names the streams
  if (out.kind == kTitleSet) {
    const std::uint32_t parts = v.u32(200);
    if (parts != 0) out.titles = static_cast<int>(v.u16(std::uint64_t{parts} * kSector));
    if (v.u16(table) == 0) return v.damaged() ? IfoStatus::Damaged : IfoStatus::NoVts;
    // The VOBU address map: its end address, then 4-byte sectors.
    const std::uint64_t map = std::uint64_t{v.u32(228)} * kSector;
    const std::uint32_t end = v.u32(map);
    if (end >= 7) out.lastVobuSector = v.u32(map + 4 + ((end - 3) / 4 - 1) * 4);
  } else {
    if (v.u16(table) == 0) return v.damaged() ? IfoStatus::Damaged : layout.missing;
    chains = table + v.u32(table + 12);
    if (v.u16(chains) == 0) return v.damaged() ? IfoStatus::Damaged : layout.missing;
  }
  out.firstChain = static_cast<std::uint32_t>(chains + v.u32(chains + 12));
  listIfoStreams(v, layout, out.firstChain, out);
  return v.damaged() ? IfoStatus::Damaged : IfoStatus::Ok;
}

int selectCells(const std::uint8_t* ifo, std::uint32_t size, const IfoFacts& facts,
                const CellChoice& choice, DvdCell* out, int capacity, int& angles) {
  IfoView v(ifo, size);
  const std::uint64_t table =
      chainTable(v, facts.kind, static_cast<std::uint32_t>(choice.unit > 0 ? choice.unit - 1 : 0));
  const std::uint32_t chains = v.u16(table);
  int count = 0;
  std::uint64_t previousLastVobu = 0;
  bool blockEnded = false;
  for (std::uint32_t c = 0; c < chains && !v.damaged(); ++c) {
    const std::uint64_t entry = table + 8 + 8ull * c;
    if (facts.kind == kTitleSet && static_cast<std::int32_t>(v.u8(entry) & 0x7F) != choice.title)
      continue;
    if ((v.u8(entry + 1) >> 6) >= 2) continue;
    const std::uint64_t chain = table + v.u32(entry + 4);
    const std::uint32_t playback = v.u16(chain + 232);
    if (playback == 0) continue;
    if (v.u16(chain + 234) == 0) return -1;
    const std::uint32_t cells = v.u8(chain + 3);
    // The whole cell table must lie in the file, not only the entries read below.
    if (!v.fits(chain + playback, 24ull * cells)) return -1;
    int angle = 0;
    for (std::uint32_t i = 0; i < cells; ++i) {
      const std::uint64_t at = chain + playback + 24ull * i;
      const std::uint32_t mode = v.u8(at) >> 6;
      bool taken = false;
      if (mode == 0) {
        taken = true;
      } else if (mode == 1) {
        angle = 1;
        taken = choice.angle == 1;
      } else {
        ++angle;
        taken = angle == choice.angle;
        if (!blockEnded) ++angles;
        if (mode == 3) blockEnded = true;
      }
      if (v.u8(at + 2) != 0) taken = false;  // a still cell is not played through
      if (!taken) continue;
      if (out && count < capacity) {
        DvdCell& cell = out[count];
        cell = DvdCell{};
        cell.duration = playbackTicks(v, at + 4);
        cell.first = std::uint64_t{v.u32(at + 8)} * kSector;
        cell.last = std::uint64_t{v.u32(at + 20)} * kSector + kSector - 1;
        cell.previousLastVobu = previousLastVobu;
        cell.chain = static_cast<std::uint32_t>(chain);
        cell.fileIndex = -1;
      }
      previousLastVobu = std::uint64_t{v.u32(at + 16)} * kSector;
      ++count;
    }
  }
  return v.damaged() ? -1 : count;
}

}  // namespace quillion::daskin
