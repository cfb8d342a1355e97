// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/image/wlt_format.h"

#include <algorithm>

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

std::uint64_t getLE(std::span<const std::uint8_t> b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = width; i-- > 0;) v = (v << 8) | b[at + i];
  return v;
}

void putLE(std::span<std::uint8_t> b, std::size_t at, std::size_t width, std::uint64_t v) {
  for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(getLE(b, at, 2));
}
std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(getLE(b, at, 4));
}

void encodeSession(const WLTSESSION& s, std::span<std::uint8_t> b) {
  putLE(b, kSesFirstTrack, 2, s.firstTrack);
  putLE(b, kSesTrackCount, 2, s.trackCount);
  b[kSesSao] = s.sessionAtOnce;
  b[kSesMarker] = s.marker;
  putLE(b, kSesType, 2, s.sessionType);
  b[kSesCloseDisc] = s.closeDisc;
  putLE(b, kSesStart, 4, static_cast<std::uint32_t>(s.startBlock));
}

WLTSESSION decodeSession(std::span<const std::uint8_t> b) {
  WLTSESSION s;
  s.firstTrack = get16(b, kSesFirstTrack);
  s.trackCount = get16(b, kSesTrackCount);
  s.sessionAtOnce = b[kSesSao];
  s.marker = b[kSesMarker];
  s.sessionType = get16(b, kSesType);
  s.closeDisc = b[kSesCloseDisc];
  s.startBlock = static_cast<std::int32_t>(get32(b, kSesStart));
  return s;
}

void encodeTrack(const WLTTRACK& t, std::span<std::uint8_t> b) {
  putLE(b, kTrkNumber, 2, t.number);
  putLE(b, kTrkType, 2, t.trackType);
  putLE(b, kTrkTypeExtra, 2, t.typeExtra);
  putLE(b, kTrkBlockSize, 4, t.blockSize);
  std::copy(t.info.begin(), t.info.end(), b.begin() + kTrkInfo);
  putLE(b, kTrkPregap, 2, t.pregap);
  putLE(b, kTrkStart, 4, t.startBlock);
  putLE(b, kTrkLength, 8, t.dataLength);
  putLE(b, kTrkOffset, 8, t.dataOffset);
}

WLTTRACK decodeTrack(std::span<const std::uint8_t> b) {
  WLTTRACK t;
  t.number = get16(b, kTrkNumber);
  t.trackType = get16(b, kTrkType);
  t.typeExtra = get16(b, kTrkTypeExtra);
  t.blockSize = get32(b, kTrkBlockSize);
  std::copy_n(b.begin() + kTrkInfo, t.info.size(), t.info.begin());
  t.pregap = get16(b, kTrkPregap);
  t.startBlock = get32(b, kTrkStart);
  const std::uint32_t shortLength = get32(b, kTrkShortLength);
  const std::uint32_t shortOffset = get32(b, kTrkShortOffset);
  t.dataLength = shortLength ? shortLength : getLE(b, kTrkLength, 8);
  t.dataOffset = shortOffset ? shortOffset : getLE(b, kTrkOffset, 8);
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
  putLE(b, kMagicAt, 4, kWltMagic);
  putLE(b, kCreatedAt, 4, h.created);
  putLE(b, kSessionCountAt, 2, h.sessionCount);
  for (std::size_t i = 0; i < h.sessionCount && i < kWltMaxSessions; ++i) {
    encodeSession(h.sessions[i], b.subspan(kSessionsAt + i * kSessionBytes, kSessionBytes));
  }
  putLE(b, kTrackCountAt, 2, h.trackCount);
  for (std::size_t i = 0; i < h.trackCount && i < kWltMaxTracks; ++i) {
    encodeTrack(h.tracks[i], b.subspan(kTracksAt + i * kTrackBytes, kTrackBytes));
  }
  putLE(b, kCdTextOffsetAt, 4, h.cdTextOffset);
  putLE(b, kCdTextLengthAt, 4, h.cdTextLength);
  return bytes;
}

std::optional<WltHeader> decode(std::span<const std::uint8_t> b) {
  if (b.size() < kWltHeaderBytes || get32(b, kMagicAt) != kWltMagic) return std::nullopt;
  WltHeader h;
  h.created = get32(b, kCreatedAt);
  h.sessionCount = get16(b, kSessionCountAt);
  h.trackCount = get16(b, kTrackCountAt);
  // Every record slot is read; the counts say which ones are in use.
  for (std::size_t i = 0; i < kWltMaxSessions; ++i) {
    h.sessions[i] = decodeSession(b.subspan(kSessionsAt + i * kSessionBytes, kSessionBytes));
  }
  for (std::size_t i = 0; i < kWltMaxTracks; ++i) {
    h.tracks[i] = decodeTrack(b.subspan(kTracksAt + i * kTrackBytes, kTrackBytes));
  }
  h.cdTextOffset = get32(b, kCdTextOffsetAt);
  h.cdTextLength = get32(b, kCdTextLengthAt);
  return h;
}

EngineStatus validate(const WltHeader& h, std::uint64_t fileSize) {
  if (h.sessionCount > kWltMaxSessions || h.trackCount > kWltMaxTracks) return kErrImageMagic;
  for (std::size_t i = 0; i < h.sessionCount; ++i) {
    const WLTSESSION& s = h.sessions[i];
    // A session may hold no track; its first track then names the one after the last.
    if (s.firstTrack == 0 || std::uint32_t{s.firstTrack} + s.trackCount > h.trackCount + 1u)
      return kErrImageMagic;
  }
  for (std::size_t i = 0; i < h.trackCount; ++i) {
    const WLTTRACK& t = h.tracks[i];
    if (t.blockSize == 0 || !insideFile(t.dataOffset, t.dataLength, fileSize))
      return kErrImageMagic;
  }
  if (h.cdTextOffset && h.cdTextLength && !insideFile(h.cdTextOffset, h.cdTextLength, fileSize)) {
    return kErrImageMagic;
  }
  return kNoErr;
}

}  // namespace quillion::wlt
