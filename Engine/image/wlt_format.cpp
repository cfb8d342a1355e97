// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/wlt_format.h"

#include <algorithm>
#include <utility>

#include "common/byte_order.h"

namespace quillion::wlt {
namespace {

// Header layout.
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kCreatedAt = 10;
constexpr std::size_t kSessionCountAt = 1196;
constexpr std::size_t kSessionsAt = 1198;
constexpr std::size_t kSessionBytes = 90;
constexpr std::size_t kTrackCountAt = 10108;
constexpr std::size_t kTracksAt = 10110;
constexpr std::size_t kTrackBytes = 842;
constexpr std::size_t kCdTextOffsetAt = 93508;
constexpr std::size_t kCdTextLengthAt = 93512;

static_assert(kSessionsAt + kWltMaxSessions * kSessionBytes == kTrackCountAt);
static_assert(kTracksAt + kWltMaxTracks * kTrackBytes + 40 == kCdTextOffsetAt);
static_assert(kCdTextLengthAt + 4 + 258 == kWltHeaderBytes);

// WLTSESSION layout.
constexpr std::size_t kSesFirstTrack = 0, kSesTrackCount = 2, kSesSao = 4, kSesMarker = 8,
                      kSesType = 12, kSesCloseDisc = 14, kSesStart = 18;
// WLTTRACK layout.
constexpr std::size_t kTrkNumber = 0, kTrkType = 4, kTrkTypeExtra = 6, kTrkBlockSize = 282,
                      kTrkShortOffset = 286, kTrkShortLength = 290, kTrkInfo = 302,
                      kTrkPregap = 324, kTrkStart = 720, kTrkLength = 724, kTrkOffset = 732;

void encodeSession(const WLTSESSION& s, std::span<std::uint8_t> b) {
  le::put16(b, kSesFirstTrack, s.firstTrack);
  le::put16(b, kSesTrackCount, s.trackCount);
  b[kSesSao] = s.sessionAtOnce;
  b[kSesMarker] = s.marker;
  le::put16(b, kSesType, s.sessionType);
  b[kSesCloseDisc] = s.closeDisc;
  le::put32(b, kSesStart, static_cast<std::uint32_t>(s.startBlock));
}

WLTSESSION decodeSession(std::span<const std::uint8_t> b) {
  WLTSESSION s;
  s.firstTrack = le::get16(b, kSesFirstTrack);
  s.trackCount = le::get16(b, kSesTrackCount);
  s.sessionAtOnce = b[kSesSao];
  s.marker = b[kSesMarker];
  s.sessionType = le::get16(b, kSesType);
  s.closeDisc = b[kSesCloseDisc];
  s.startBlock = static_cast<std::int32_t>(le::get32(b, kSesStart));
  return s;
}

void encodeTrack(const WLTTRACK& t, std::span<std::uint8_t> b) {
  le::put16(b, kTrkNumber, t.number);
  le::put16(b, kTrkType, t.trackType);
  le::put16(b, kTrkTypeExtra, t.typeExtra);
  le::put32(b, kTrkBlockSize, t.blockSize);
  std::copy(t.info.begin(), t.info.end(), b.begin() + kTrkInfo);
  le::put16(b, kTrkPregap, t.pregap);
  le::put32(b, kTrkStart, t.startBlock);
  le::put64(b, kTrkLength, t.dataLength);
  le::put64(b, kTrkOffset, t.dataOffset);
}

WLTTRACK decodeTrack(std::span<const std::uint8_t> b) {
  WLTTRACK t;
  t.number = le::get16(b, kTrkNumber);
  t.trackType = le::get16(b, kTrkType);
  t.typeExtra = le::get16(b, kTrkTypeExtra);
  t.blockSize = le::get32(b, kTrkBlockSize);
  std::copy_n(b.begin() + kTrkInfo, t.info.size(), t.info.begin());
  t.pregap = le::get16(b, kTrkPregap);
  t.startBlock = le::get32(b, kTrkStart);
  const std::uint32_t shortLength = le::get32(b, kTrkShortLength);
  const std::uint32_t shortOffset = le::get32(b, kTrkShortOffset);
  t.dataLength = shortLength ? shortLength : le::get64(b, kTrkLength);
  t.dataOffset = shortOffset ? shortOffset : le::get64(b, kTrkOffset);
  return t;
}

// [offset, offset + length) lies in the file after the header, without wrapping.
bool insideFile(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
  return offset >= kWltHeaderBytes && offset <= fileSize && length <= fileSize - offset;
}

}  // namespace

std::vector<std::uint8_t> encode(const WltHeader& h) {
  std::vector<std::uint8_t> bytes(kWltHeaderBytes, 0);
  const std::span<std::uint8_t> b(bytes);
  le::put32(b, kMagicAt, kWltMagic);
  le::put32(b, kCreatedAt, h.created);
  le::put16(b, kSessionCountAt, h.sessionCount);
  for (std::size_t i = 0; i < h.sessionCount && i < kWltMaxSessions; ++i) {
    encodeSession(h.sessions[i], b.subspan(kSessionsAt + i * kSessionBytes, kSessionBytes));
  }
  le::put16(b, kTrackCountAt, h.trackCount);
  for (std::size_t i = 0; i < h.trackCount && i < kWltMaxTracks; ++i) {
    encodeTrack(h.tracks[i], b.subspan(kTracksAt + i * kTrackBytes, kTrackBytes));
  }
  le::put32(b, kCdTextOffsetAt, h.cdTextOffset);
  le::put32(b, kCdTextLengthAt, h.cdTextLength);
  return bytes;
}

std::optional<WltHeader> decode(std::span<const std::uint8_t> b) {
  if (b.size() < kWltHeaderBytes || le::get32(b, kMagicAt) != kWltMagic) return std::nullopt;
  WltHeader h;
  h.created = le::get32(b, kCreatedAt);
  h.sessionCount = le::get16(b, kSessionCountAt);
  h.trackCount = le::get16(b, kTrackCountAt);
  // Every record slot is read; the counts say which ones are in use.
  for (std::size_t i = 0; i < kWltMaxSessions; ++i) {
    h.sessions[i] = decodeSession(b.subspan(kSessionsAt + i * kSessionBytes, kSessionBytes));
  }
  for (std::size_t i = 0; i < kWltMaxTracks; ++i) {
    h.tracks[i] = decodeTrack(b.subspan(kTracksAt + i * kTrackBytes, kTrackBytes));
  }
  h.cdTextOffset = le::get32(b, kCdTextOffsetAt);
  h.cdTextLength = le::get32(b, kCdTextLengthAt);
  return h;
}

EngineStatus validate(const WltHeader& h, std::uint64_t fileSize) {
  if (h.sessionCount > kWltMaxSessions || h.trackCount > kWltMaxTracks) return kErrImageMagic;
  // The sessions share the tracks out in order: each begins where the one before ended (a
  // session may hold no track; its first track then names the one after the last), and
  // together they hold every track, so none belongs to no session or to two.
  std::uint32_t nextTrack = 1;
  for (std::size_t i = 0; i < h.sessionCount; ++i) {
    const WLTSESSION& s = h.sessions[i];
    if (s.firstTrack != nextTrack) return kErrImageMagic;
    nextTrack += s.trackCount;
    if (nextTrack > h.trackCount + 1u) return kErrImageMagic;
  }
  if (nextTrack != h.trackCount + 1u) return kErrImageMagic;
  // Tracks are numbered from 1 in file order, hold whole blocks of a size a disc block can
  // have, and keep their data apart from each other's and from the CD-Text block.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
  for (std::size_t i = 0; i < h.trackCount; ++i) {
    const WLTTRACK& t = h.tracks[i];
    if (t.number != i + 1 || t.blockSize == 0 || t.blockSize > kWltMaxBlockSize ||
        t.dataLength % t.blockSize != 0 || !insideFile(t.dataOffset, t.dataLength, fileSize))
      return kErrImageMagic;
    if (t.dataLength) extents.emplace_back(t.dataOffset, t.dataLength);
  }
  if (h.cdTextOffset && h.cdTextLength) {
    if (!insideFile(h.cdTextOffset, h.cdTextLength, fileSize)) return kErrImageMagic;
    extents.emplace_back(h.cdTextOffset, h.cdTextLength);
  }
  std::sort(extents.begin(), extents.end());
  for (std::size_t i = 1; i < extents.size(); ++i) {
    if (extents[i - 1].first + extents[i - 1].second > extents[i].first) return kErrImageMagic;
  }
  return kNoErr;
}

}  // namespace quillion::wlt
