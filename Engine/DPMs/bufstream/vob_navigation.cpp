// SPDX-License-Identifier: GPL-2.0-or-later
#include "vob_navigation.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "file_io.h"

namespace quillion::bufstream_detail {
namespace {

enum : std::uint32_t {
  kNavStart = 0xF1000,
  kNavUnit = 0xF2000,
  kNavVobEnd = 0xF4000,
  kNavAbort = 0xF8000,
  kNavHighlightEnds = 0xE0020,
  kNavCell = 0xE0080,
  kNavAudioTable = 0xE0101,
  kNavAudioValue = 0xE0102,
  kNavSubpictureTable = 0xE0201,
  kNavSubpictureValue = 0xE0202,
  kNavLastPack = 0xE0203,
};

constexpr std::size_t kSector = 2048;
constexpr std::uint32_t kNone = 0x3FFFFFFF;
constexpr std::uint32_t kNoMoreVideo = 0x7FFFFFFF;
constexpr std::uint32_t kVideo = 0x80000000;
constexpr std::uint32_t kVideoBetween = 0x40000000;
constexpr std::uint32_t kNoVideo = 0xBFFFFFFF;
constexpr std::uint32_t kSteps = 19;
// Half seconds of the search entries: forward in the order the pack stores them, backward
// the reverse.
constexpr std::uint32_t kForwardSteps[kSteps] = {240, 120, 60, 20, 15, 14, 13, 12, 11, 10,
                                                 9,   8,   7,  6,  5,  4,  3,  2,  1};

// Offsets inside the navigation pack.
constexpr std::size_t kHighlightEnd = 147;
constexpr std::size_t kButtonSelectEnd = 151;
constexpr std::size_t kVobVideoEnd = 1079;
constexpr std::size_t kNextVideo = 1265;
constexpr std::size_t kForward = 1269;
constexpr std::size_t kNextVobu = 1345;
constexpr std::size_t kPreviousVobu = 1349;
constexpr std::size_t kBackward = 1353;
constexpr std::size_t kPreviousVideo = 1429;
constexpr std::size_t kAudioSync = 1433;
constexpr std::size_t kSubpictureSync = 1449;

void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t word(const void* data, std::size_t i) {
  std::uint32_t v = 0;
  std::memcpy(&v, static_cast<const std::uint8_t*>(data) + 4 * i, 4);
  return v;
}

// The units of one cell of a part: [begin, end) in table indexes.
struct Cell {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

Cell cellOf(const VobNavigation& nav, const VobPart& part, std::uint32_t i) {
  // The part's first unit always starts a cell, whether or not it was announced.
  Cell c{part.firstVobu, part.firstVobu + part.vobuCount};
  for (std::uint32_t start : nav.cells) {
    if (start <= part.firstVobu || start >= c.end) continue;
    if (start <= i)
      c.begin = std::max(c.begin, start);
    else
      c.end = std::min(c.end, start);
  }
  return c;
}

class Searcher {
 public:
  Searcher(const VobNavigation& nav, Cell cell, std::uint32_t i) : v_(nav.vobus), c_(cell), i_(i) {}

  std::uint32_t distance(std::uint32_t j) const {
    const std::uint32_t a = v_[i_].sector, b = v_[j].sector;
    return (a > b ? a - b : b - a) & 0x3FFFFFFF;
  }
  bool video(std::uint32_t j) const { return (v_[j].flags & 1) != 0; }
  bool videoIn(std::uint32_t from, std::uint32_t to) const {  // [from, to)
    for (std::uint32_t j = from; j < to; ++j)
      if (video(j)) return true;
    return false;
  }
  std::uint32_t pointer(std::uint32_t j) const { return distance(j) | (video(j) ? kVideo : 0); }

  // The unit playing `steps` half seconds after the current one begins (a step always leaves
  // the current unit); none when that moment lies past the cell's end.
  bool forward(std::uint32_t steps, std::uint32_t& target) const {
    const std::uint64_t want = std::uint64_t{steps} * 45000;
    std::uint64_t sum = v_[i_].duration;
    for (std::uint32_t j = i_ + 1; j < c_.end; ++j) {
      sum += v_[j].duration;
      if (sum > want) {
        target = j;
        return true;
      }
    }
    return false;
  }
  // The unit playing `steps` half seconds before the current one begins.
  bool backward(std::uint32_t steps, std::uint32_t& target) const {
    const std::uint64_t want = std::uint64_t{steps} * 45000;
    std::uint64_t sum = 0;
    for (std::uint32_t j = i_; j > c_.begin; --j) {
      sum += v_[j - 1].duration;
      if (sum >= want) {
        target = j - 1;
        return true;
      }
    }
    return false;
  }

  // One direction's 19 entries, in the order of kForwardSteps.
  void entries(bool ahead, std::uint32_t* out) const {
    bool shorterFound = false;
    std::uint32_t shorter = 0;
    for (std::uint32_t k = kSteps; k-- > 0;) {
      const std::uint32_t steps = kForwardSteps[k];
      std::uint32_t t = 0;
      const bool found = ahead ? forward(steps, t) : backward(steps, t);
      std::uint32_t value = kNone;
      if (found) {
        value = pointer(t);
        const bool between = ahead ? videoIn(i_ + 1, t) : videoIn(t + 1, i_);
        if (steps >= 20 && between) value |= kVideoBetween;
      } else if (steps >= 20 && shorterFound &&
                 (ahead ? videoIn(shorter + 1, c_.end) : videoIn(c_.begin, shorter))) {
        value = kNoMoreVideo;
      }
      out[k] = value;
      shorterFound = found;
      shorter = t;
    }
  }

  std::uint32_t nextVideo() const {
    for (std::uint32_t j = i_ + 1; j < c_.end; ++j)
      if (video(j)) return kVideo + distance(j);
    return kNoVideo;
  }
  std::uint32_t previousVideo() const {
    for (std::uint32_t j = i_; j > c_.begin; --j)
      if (video(j - 1)) return kVideo + distance(j - 1);
    return kNoVideo;
  }
  std::uint32_t next() const { return i_ + 1 < c_.end ? pointer(i_ + 1) : kNone; }
  std::uint32_t previous() const { return i_ > c_.begin ? pointer(i_ - 1) : kNone; }

 private:
  const std::vector<VobuEntry>& v_;
  Cell c_;
  std::uint32_t i_;
};

std::uint16_t audioSync(std::int32_t value) {
  const bool negative = value < 0;
  const std::uint32_t magnitude =
      negative ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(value))
               : static_cast<std::uint32_t>(value);
  if (magnitude == 0 || magnitude > 0x7FFF) return 0x7FFF;
  // The offset names the audio packet itself, also in the last unit: taking one off when the
  // packet lies past the last navigation pack would point the last unit one pack short.
  return static_cast<std::uint16_t>((negative ? 0x8000 : 0) | magnitude);
}

std::uint32_t subpictureSync(const VobNavigation& nav, const VobPart& part, std::int32_t value,
                             std::uint32_t i, const Searcher& search) {
  const std::uint32_t sector = nav.vobus[i].sector;
  if (value < 0 || static_cast<std::uint32_t>(value) >= sector) return kNoMoreVideo;
  for (std::uint32_t j = part.firstVobu; j < part.firstVobu + part.vobuCount; ++j)
    if (nav.vobus[j].sector > static_cast<std::uint32_t>(value))
      return 0x80000000u + search.distance(j);
  return kNoMoreVideo;
}

template <typename T>
bool append(std::vector<T>& table, const T& value, std::size_t limit) {
  if (table.size() >= limit) return false;
  try {
    table.push_back(value);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::int32_t newTable(std::vector<std::vector<std::int32_t>>& tables, std::size_t limit) {
  if (tables.size() >= limit) return -1;
  try {
    tables.emplace_back();
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return static_cast<std::int32_t>(tables.size() - 1);
}

void appendValue(std::vector<std::vector<std::int32_t>>& tables, const void* data,
                 std::uint32_t size) {
  if (!data || size < 8) return;
  const std::uint32_t table = word(data, 0);
  if (table >= tables.size()) return;
  (void)append(tables[table], static_cast<std::int32_t>(word(data, 1)), VobNavigation::kMaxVobus);
}

bool patchPart(const VobNavigation& nav, std::uint32_t p) {
  const VobPart& part = nav.parts[p];
  const int fd = ::open(part.name.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::uint8_t pack[kSector];
  bool ok = true;
  for (std::uint32_t i = part.firstVobu; ok && i < part.firstVobu + part.vobuCount; ++i) {
    const off_t at = static_cast<off_t>(nav.vobus[i].sector) * static_cast<off_t>(kSector);
    ok = ::pread(fd, pack, kSector, at) == static_cast<ssize_t>(kSector);
    if (!ok) break;
    fillSearchInfo(nav, p, i, pack);
    ok = ::pwrite(fd, pack, kSector, at) == static_cast<ssize_t>(kSector);
  }
  ::close(fd);
  return ok;
}

}  // namespace

void fillSearchInfo(const VobNavigation& nav, std::uint32_t p, std::uint32_t i,
                    std::uint8_t* pack) {
  const VobPart& part = nav.parts[p];
  const Searcher search(nav, cellOf(nav, part, i), i);
  if (nav.highlightEnds) {
    put32(pack + kHighlightEnd, part.endValue);
    put32(pack + kButtonSelectEnd, part.endValue);
  }
  put32(pack + kVobVideoEnd, part.endValue);
  put32(pack + kNextVideo, search.nextVideo());
  std::uint32_t entries[kSteps];
  search.entries(true, entries);
  for (std::uint32_t k = 0; k < kSteps; ++k) put32(pack + kForward + 4 * k, entries[k]);
  put32(pack + kNextVobu, search.next());
  put32(pack + kPreviousVobu, search.previous());
  search.entries(false, entries);
  // Backward entries run from the shortest step to the longest.
  for (std::uint32_t k = 0; k < kSteps; ++k)
    put32(pack + kBackward + 4 * k, entries[kSteps - 1 - k]);
  put32(pack + kPreviousVideo, search.previousVideo());
  // The side tables hold one value per unit, counted over all parts.
  for (std::size_t k = 0; k < nav.audio.size(); ++k) {
    if (i >= nav.audio[k].size()) continue;
    const std::uint16_t v = audioSync(nav.audio[k][i]);
    pack[kAudioSync + 2 * k] = static_cast<std::uint8_t>(v >> 8);
    pack[kAudioSync + 2 * k + 1] = static_cast<std::uint8_t>(v);
  }
  for (std::size_t k = 0; k < nav.subpicture.size(); ++k) {
    const bool has = i < nav.subpicture[k].size();
    put32(pack + kSubpictureSync + 4 * k,
          has ? subpictureSync(nav, part, nav.subpicture[k][i], i, search) : kNoMoreVideo);
  }
}

std::int32_t vobNavigationNotice(VobNavigation*& nav, const std::string& fileName,
                                 std::uint32_t offset, std::uint32_t id, const void* data,
                                 std::uint32_t size, bool& handled) {
  handled = true;
  if (id == kNavStart) {
    if (nav) return 0;
    auto* made = new (std::nothrow) VobNavigation;
    if (!made) return -1;
    try {
      made->vobus.reserve(1024);
      made->parts.push_back(VobPart{fileName, 0, 0, 0});
    } catch (const std::bad_alloc&) {
      delete made;
      return -1;
    }
    nav = made;
    return 0;
  }
  const bool known = id == kNavUnit || id == kNavVobEnd || id == kNavAbort ||
                     id == kNavHighlightEnds || id == kNavCell || id == kNavAudioTable ||
                     id == kNavAudioValue || id == kNavSubpictureTable ||
                     id == kNavSubpictureValue || id == kNavLastPack;
  handled = known;
  if (!known || !nav) return 0;
  switch (id) {
    case kNavUnit:
      if (data && size >= 12 &&
          append(nav->vobus, VobuEntry{word(data, 0), word(data, 1), word(data, 2)},
                 VobNavigation::kMaxVobus))
        ++nav->parts.back().vobuCount;
      return 0;
    case kNavVobEnd:
      if (data && size >= 4) nav->parts.back().endValue = word(data, 0);
      return 0;
    case kNavAbort:
      nav->skip = true;
      return 0;
    case kNavHighlightEnds:
      nav->highlightEnds = true;
      return 0;
    case kNavCell:
      (void)append(nav->cells, static_cast<std::uint32_t>(nav->vobus.size()),
                   VobNavigation::kMaxVobus);
      return 0;
    case kNavAudioTable:
      return newTable(nav->audio, VobNavigation::kMaxAudioTables);
    case kNavSubpictureTable:
      return newTable(nav->subpicture, VobNavigation::kMaxSubpictureTables);
    case kNavAudioValue:
      appendValue(nav->audio, data, size);
      return 0;
    case kNavSubpictureValue:
      appendValue(nav->subpicture, data, size);
      return 0;
    default:  // kNavLastPack
      nav->lastPack = offset;
      nav->lastPackKnown = true;
      return 0;
  }
}

void vobNavigationSplit(VobNavigation* nav, const std::string& fileName) {
  if (!nav) return;
  try {
    nav->parts.push_back(VobPart{fileName, static_cast<std::uint32_t>(nav->vobus.size()), 0, 0});
  } catch (const std::bad_alloc&) {
    // Units of the new part are then counted in the previous one's file: skip patching.
    nav->skip = true;
  }
}

void doVOBNavInfo(const VobNavigation& nav) {
  if (nav.skip) return;
  for (std::uint32_t p = 0; p < nav.parts.size(); ++p) (void)patchPart(nav, p);
}

}  // namespace quillion::bufstream_detail
