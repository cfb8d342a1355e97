// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/cue_sheet.h"

#include <array>
#include <cctype>
#include <span>
#include <utility>

#include "common/byte_order.h"

namespace quillion::cue {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

char cueUpper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (cueUpper(a[i]) != cueUpper(b[i])) return false;
  }
  return true;
}

// A cursor over one line of the cue.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : text_(line) {}

  void skipBlanks() {
    while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
  }
  bool atEnd() {
    skipBlanks();
    return at_ == text_.size();
  }
  // The next run of non-blank characters.
  std::string_view word() {
    skipBlanks();
    const std::size_t from = at_;
    while (at_ < text_.size() && !isBlank(text_[at_])) ++at_;
    return text_.substr(from, at_ - from);
  }
  // A quoted string (without its quotes) or a word; nullopt for an unclosed quote.
  std::optional<std::string_view> name() {
    skipBlanks();
    if (at_ < text_.size() && text_[at_] == '"') {
      const std::size_t close = text_.find('"', at_ + 1);
      if (close == std::string_view::npos) return std::nullopt;
      const std::string_view n = text_.substr(at_ + 1, close - at_ - 1);
      at_ = close + 1;
      return n;
    }
    return word();
  }
  std::optional<unsigned> digits(std::size_t count) {
    if (at_ + count > text_.size()) return std::nullopt;
    unsigned v = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text_[at_ + i];
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    at_ += count;
    return v;
  }
  bool take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  // Blanks and then mm:ss:ff, as blocks; there must be at least one blank before it.
  std::optional<std::uint32_t> time() {
    if (at_ >= text_.size() || !isBlank(text_[at_])) return std::nullopt;
    skipBlanks();
    const auto m = digits(2);
    if (!m || !take(':')) return std::nullopt;
    const auto s = digits(2);
    if (!s || *s >= 60 || !take(':')) return std::nullopt;
    const auto f = digits(2);
    if (!f || *f >= 75) return std::nullopt;
    return *m * 4500u + *s * 75u + *f;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

struct TimedItem {
  int index = -1;  // index number, 0 for the gaps, -1 when malformed
  std::uint32_t blocks = 0;
};

// "INDEX nn mm:ss:ff", "PREGAP mm:ss:ff" or "POSTGAP mm:ss:ff" at the start of the reader.
TimedItem readTimedItem(LineReader& r) {
  const std::string_view keyword = r.word();
  int number = 0;
  if (equalsIgnoringCase(keyword, "INDEX")) {
    r.skipBlanks();
    const auto n = r.digits(2);
    if (!n) return {};
    number = static_cast<int>(*n);
  } else if (!equalsIgnoringCase(keyword, "PREGAP") && !equalsIgnoringCase(keyword, "POSTGAP")) {
    return {};
  }
  const auto t = r.time();
  if (!t) return {};
  return {number, *t};
}

struct TrackType {
  std::string_view name;
  std::uint16_t mode;
  std::uint16_t sectorBytes;
};

// The track types a single binary data file can carry for our copy route.
constexpr std::array kTrackTypes = {
    TrackType{"AUDIO", 0, 2352},      TrackType{"MODE1/2048", 1, 2048},
    TrackType{"MODE1/2352", 1, 2352}, TrackType{"MODE2/2048", 2, 2048},
    TrackType{"MODE2/2352", 2, 2352},
};

// Lines that describe the disc or a track's texts and flags, which a copy does not need.
constexpr std::array<std::string_view, 9> kIgnoredKeywords = {"REM",        "TITLE",   "PERFORMER",
                                                              "SONGWRITER", "CATALOG", "CDTEXTFILE",
                                                              "FLAGS",      "ISRC",    "ARRANGER"};

bool ignored(std::string_view keyword) {
  for (const std::string_view k : kIgnoredKeywords) {
    if (equalsIgnoringCase(keyword, k)) return true;
  }
  return false;
}

class SheetBuilder {
 public:
  explicit SheetBuilder(CueSheet& out) : out_(out) {}

  bool line(std::string_view text) {
    LineReader r(text);
    if (r.atEnd()) return true;
    LineReader peek = r;
    const std::string_view keyword = peek.word();
    if (equalsIgnoringCase(keyword, "FILE")) return file(peek);
    if (equalsIgnoringCase(keyword, "TRACK")) return track(peek);
    if (equalsIgnoringCase(keyword, "INDEX") || equalsIgnoringCase(keyword, "PREGAP") ||
        equalsIgnoringCase(keyword, "POSTGAP")) {
      return timed(keyword, r);
    }
    return ignored(keyword);
  }

  bool finish() {
    if (!haveFile_ || out_.tracks.empty()) return false;
    for (const CueTrack& t : out_.tracks) {
      if (!t.index1) return false;
    }
    return true;
  }

 private:
  bool file(LineReader& r) {
    if (haveFile_) return false;  // one data file per image
    const auto name = r.name();
    if (!name || name->empty() || name->find('\0') != std::string_view::npos) return false;
    const std::string_view type = r.word();
    // Audio files and byte-swapped data would need decoding; the image is copied as it is.
    if (!type.empty() && !equalsIgnoringCase(type, "BINARY")) return false;
    if (!r.atEnd()) return false;
    out_.fileName.assign(*name);
    haveFile_ = true;
    return true;
  }

  bool track(LineReader& r) {
    if (!haveFile_ || out_.tracks.size() == kMaxTracks) return false;
    r.skipBlanks();
    std::optional<unsigned> number = r.digits(2);
    if (!number) number = r.digits(1);
    if (!number || *number < 1 || *number > 99) return false;
    if (!out_.tracks.empty() && *number != out_.tracks.back().number + 1u) return false;
    const std::string_view type = r.word();
    if (!r.atEnd()) return false;
    for (const TrackType& t : kTrackTypes) {
      if (equalsIgnoringCase(type, t.name)) {
        CueTrack track;
        track.number = static_cast<std::uint16_t>(*number);
        track.mode = t.mode;
        track.sectorBytes = t.sectorBytes;
        out_.tracks.push_back(track);
        lastIndex_ = -1;
        return true;
      }
    }
    return false;
  }

  bool timed(std::string_view keyword, LineReader& r) {
    if (out_.tracks.empty()) return false;
    CueTrack& t = out_.tracks.back();
    const TimedItem item = readTimedItem(r);
    if (item.index < 0 || !r.atEnd()) return false;
    if (!equalsIgnoringCase(keyword, "INDEX")) {
      std::uint32_t& gap = equalsIgnoringCase(keyword, "PREGAP") ? t.pregap : t.postgap;
      if (gap != 0 || item.blocks == 0) return false;
      gap = item.blocks;
      return true;
    }
    // Index numbers rise within a track, and so do their times; INDEX 01 comes before 02.
    if (item.index <= lastIndex_) return false;
    if (lastIndex_ >= 0 && item.blocks <= lastIndexTime_) return false;
    if (item.index > 1 && !t.index1) return false;
    lastIndex_ = item.index;
    lastIndexTime_ = item.blocks;
    if (item.index == 0) t.index0 = item.blocks;
    if (item.index == 1) t.index1 = item.blocks;
    return true;
  }

  CueSheet& out_;
  bool haveFile_ = false;
  int lastIndex_ = -1;  // in the current track
  std::uint32_t lastIndexTime_ = 0;
};

}  // namespace

int stringToLBA(std::string_view text, std::uint32_t* blocks) {
  LineReader r(text);
  const TimedItem item = readTimedItem(r);
  if (item.index < 0) return -1;
  if (blocks != nullptr) *blocks = item.blocks;
  return item.index;
}

EngineStatus parseCueText(std::string_view text, CueSheet& out) {
  out = CueSheet{};
  if (text.size() > kMaxCueBytes) return kErrCueParse;
  SheetBuilder builder(out);
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string_view::npos) end = text.size();
    if (!builder.line(text.substr(from, end - from))) {
      out = CueSheet{};
      return kErrCueParse;
    }
    from = end + 1;
  }
  if (!builder.finish()) {
    out = CueSheet{};
    return kErrCueParse;
  }
  return kNoErr;
}

EngineStatus layoutSession(const CueSheet& sheet, std::uint64_t dataFileBytes, BinQ_Info& out) {
  out = BinQ_Info{};
  const std::vector<CueTrack>& tracks = sheet.tracks;
  if (tracks.empty() || tracks.size() > kMaxTracks) return kErrCueParse;
  BinQ_Info info;
  std::uint64_t offset = 0;
  std::uint64_t start = 0;
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    const CueTrack& t = tracks[k];
    if (!t.index1 || (t.sectorBytes != 2352 && t.sectorBytes != 2048)) return kErrCueParse;
    // The byte offset of INDEX 01: each stretch of the file is in its own track's sectors.
    if (k == 0) {
      offset = std::uint64_t{*t.index1} * t.sectorBytes;
    } else {
      const CueTrack& p = tracks[k - 1];
      if (*t.index1 <= *p.index1) return kErrCueParse;
      offset += std::uint64_t{*t.index1 - *p.index1} * p.sectorBytes;
    }
    if (offset > dataFileBytes) return kErrCueData;
    std::uint64_t blocks = 0;
    if (k + 1 < tracks.size()) {
      const CueTrack& n = tracks[k + 1];
      const std::uint32_t end = n.index0 ? *n.index0 : *n.index1;
      if (end <= *t.index1) return kErrCueParse;
      blocks = end - *t.index1;
      if (offset + blocks * t.sectorBytes > dataFileBytes) return kErrCueData;
    } else {
      blocks = (dataFileBytes - offset) / t.sectorBytes;
      if (blocks == 0) return kErrCueData;
    }
    if (t.index0) start += *t.index1 - *t.index0;
    if (k > 0) start += t.pregap;
    BinQ_Track entry;
    entry.mode = t.mode;
    entry.sectorBytes = t.sectorBytes;
    entry.start = static_cast<std::uint32_t>(start);
    entry.blocks = static_cast<std::uint32_t>(blocks);
    entry.fileOffset = offset;
    start += blocks + t.postgap;
    // A CD holds well under 2^32 blocks; a data file claiming more is no disc image.
    if (start > 0xFFFFFFFFu) return kErrCueData;
    info.tracks.push_back(entry);
    if (t.mode == 0) ++info.audioTracks;
    if (t.mode == 1) ++info.mode1Tracks;
    if (t.mode == 2) ++info.mode2Tracks;
  }
  info.totalBlocks = static_cast<std::uint32_t>(start);
  out = std::move(info);
  return kNoErr;
}

std::vector<std::uint8_t> encodeSession(const BinQ_Info& info) {
  std::vector<std::uint8_t> bytes(kBinQHeaderBytes + kBinQEntryBytes * info.tracks.size());
  std::span<std::uint8_t> b(bytes);
  le::put16(b, 0, info.tracks.size());
  le::put16(b, 2, info.audioTracks);
  le::put16(b, 4, info.mode1Tracks);
  le::put16(b, 6, info.mode2Tracks);
  le::put32(b, 12, info.totalBlocks);
  for (std::size_t i = 0; i < info.tracks.size(); ++i) {
    const BinQ_Track& t = info.tracks[i];
    const std::size_t at = kBinQHeaderBytes + i * kBinQEntryBytes;
    le::put16(b, at, t.mode);
    le::put16(b, at + 2, t.sectorBytes);
    le::put32(b, at + 4, t.start);
    le::put32(b, at + 8, t.blocks);
    le::put64(b, at + 12, t.fileOffset);
  }
  return bytes;
}

}  // namespace quillion::cue
