// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/disc_replies.h"

#include <algorithm>
#include <map>

#include "common/byte_order.h"

namespace quillion {
namespace {

// The bytes the drive says it sent (its length field plus the field itself), cut to what
// arrived.
std::span<const std::uint8_t> sent(std::span<const std::uint8_t> reply, std::size_t lengthBytes) {
  if (reply.size() < lengthBytes) return {};
  const std::size_t said = lengthBytes + be::get(reply, 0, lengthBytes);
  return reply.first(std::min(reply.size(), said));
}

}  // namespace

std::int64_t msfToLba(std::uint8_t m, std::uint8_t s, std::uint8_t f) {
  return (std::int64_t{m} * 60 + s) * 75 + f - 150;
}

std::optional<DiscInformation> parseDiscInformation(std::span<const std::uint8_t> reply) {
  const auto r = sent(reply, 2);
  // Bytes 0-11 hold everything but the lead-out; a shorter block is no disc information.
  if (r.size() < 12 || ((r[2] >> 5) & 0x07) != 0) return std::nullopt;
  DiscInformation d;
  d.discStatus = r[2] & 0x03;
  d.lastSessionState = (r[2] >> 2) & 0x03;
  d.erasable = (r[2] & 0x10) != 0;
  d.firstTrack = r[3];
  d.sessions = static_cast<std::uint16_t>(r[9] << 8 | r[4]);
  d.firstTrackInLastSession = static_cast<std::uint16_t>(r[10] << 8 | r[5]);
  d.lastTrackInLastSession = static_cast<std::uint16_t>(r[11] << 8 | r[6]);
  d.discType = r[8];
  if (r.size() >= 24) d.leadOutBlocks = std::uint32_t{r[21]} * 4500 + std::uint32_t{r[22]} * 75 + r[23];
  return d;
}

std::optional<TrackInformation> parseTrackInformation(std::span<const std::uint8_t> reply) {
  const auto r = sent(reply, 2);
  if (r.size() < 28) return std::nullopt;  // start and size are the least a caller needs
  TrackInformation t;
  t.track = static_cast<std::uint16_t>((r.size() > 32 ? r[32] << 8 : 0) | r[2]);
  t.session = static_cast<std::uint16_t>((r.size() > 33 ? r[33] << 8 : 0) | r[3]);
  t.data = (r[5] & 0x04) != 0;
  t.dataMode = r[6] & 0x0F;
  t.start = be::get32(r, 8);
  t.freeBlocks = be::get32(r, 16);
  t.size = be::get32(r, 24);
  return t;
}

std::optional<Toc> parseFullToc(std::span<const std::uint8_t> reply) {
  const auto r = sent(reply, 2);
  if (r.size() < 4 || (r.size() - 4) % 11 != 0) return std::nullopt;
  std::map<std::uint8_t, TocSession> sessions;
  std::vector<TocTrack> tracks;
  for (std::size_t at = 4; at + 11 <= r.size(); at += 11) {
    const std::uint8_t session = r[at];
    const std::uint8_t adr = r[at + 1] >> 4;
    const std::uint8_t control = r[at + 1] & 0x0F;
    const std::uint8_t point = r[at + 3];
    if (adr != 1 || session == 0) continue;  // other ADR values carry no positions
    const std::int64_t lba = msfToLba(r[at + 8], r[at + 9], r[at + 10]);
    TocSession& s = sessions[session];
    s.number = session;
    if (point == 0xA0) {
      if (s.discType == 0xFF) s.discType = r[at + 9];
    } else if (point == 0xA2) {
      if (lba < 0) return std::nullopt;
      s.leadOut = static_cast<std::uint32_t>(lba);
    } else if (point >= 1 && point <= 99) {
      if (lba < 0) return std::nullopt;
      tracks.push_back({session, point, (control & 0x04) != 0, static_cast<std::uint32_t>(lba), 0});
    }
  }
  if (sessions.empty()) return std::nullopt;
  for (const auto& [number, s] : sessions)
    if (s.leadOut == 0) return std::nullopt;
  std::sort(tracks.begin(), tracks.end(), [](const TocTrack& a, const TocTrack& b) { return a.start < b.start; });
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const std::uint32_t leadOut = sessions[tracks[i].session].leadOut;
    const bool lastOfSession = i + 1 == tracks.size() || tracks[i + 1].session != tracks[i].session;
    tracks[i].end = lastOfSession ? leadOut : tracks[i + 1].start;
    if (tracks[i].end < tracks[i].start || tracks[i].end > leadOut) return std::nullopt;
  }
  Toc toc;
  for (const auto& [number, s] : sessions) toc.sessions.push_back(s);
  toc.tracks = std::move(tracks);
  return toc;
}

std::optional<Toc> parseTrackToc(std::span<const std::uint8_t> reply) {
  const auto r = sent(reply, 2);
  if (r.size() < 4 || (r.size() - 4) % 8 != 0) return std::nullopt;
  Toc toc;
  std::optional<std::uint32_t> leadOut;
  for (std::size_t at = 4; at + 8 <= r.size(); at += 8) {
    const std::uint8_t point = r[at + 2];
    const std::uint32_t lba = be::get32(r, at + 4);
    if (point == 0xAA) {
      leadOut = lba;
    } else if (point >= 1 && point <= 99) {
      toc.tracks.push_back({1, point, (r[at + 1] & 0x04) != 0, lba, 0});
    }
  }
  if (!leadOut) return std::nullopt;
  for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
    toc.tracks[i].end = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].start : *leadOut;
    if (toc.tracks[i].end < toc.tracks[i].start) return std::nullopt;
  }
  toc.sessions.push_back({1, 0xFF, *leadOut});
  return toc;
}

std::optional<MediaStatus> parseMediaEvent(std::span<const std::uint8_t> reply) {
  // Unlike most replies, the length counts the bytes after the whole 4-byte header.
  if (reply.size() < 4) return std::nullopt;
  const auto r = reply.first(std::min<std::size_t>(reply.size(), 4u + be::get16(reply, 0)));
  // NEA set, or a class other than media (4): no media event in this reply.
  if (r.size() < 8 || (r[2] & 0x80) || (r[2] & 0x07) != 4) return std::nullopt;
  MediaStatus m;
  m.event = r[4] & 0x0F;
  m.trayOpen = (r[5] & 0x01) != 0;
  m.present = (r[5] & 0x02) != 0;
  return m;
}

std::optional<Capacity> parseCapacity(std::span<const std::uint8_t> reply) {
  if (reply.size() < 8) return std::nullopt;
  const std::uint32_t last = be::get32(reply, 0);
  // FFFFFFFFh asks for READ CAPACITY(16), which no disc this engine reads needs.
  if (last == 0xFFFFFFFFu) return std::nullopt;
  return Capacity{last + 1, be::get32(reply, 4)};
}

}  // namespace quillion
