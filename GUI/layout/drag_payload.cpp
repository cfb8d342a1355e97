// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/drag_payload.h"

#include <QtEndian>

namespace quillion {

namespace {

// "QDRG" and a version byte, so that bytes of another program under our type are refused.
constexpr std::uint32_t kPayloadMagic = 0x51445247u;
constexpr std::uint8_t kPayloadVersion = 1;
// magic, version, process id, source id, token count
constexpr qsizetype kPayloadHeaderSize = 4 + 1 + 8 + 8 + 4;

template <typename T>
void appendBigEndian(QByteArray& out, T value) {
  char bytes[sizeof(T)];
  qToBigEndian(value, bytes);
  out.append(bytes, sizeof(T));
}

template <typename T>
T readBigEndian(const QByteArray& in, qsizetype at) {
  return qFromBigEndian<T>(in.constData() + at);
}

}  // namespace

QByteArray encodeDragPayload(const DragPayload& payload) {
  QByteArray out;
  out.reserve(kPayloadHeaderSize + static_cast<qsizetype>(payload.tokens.size()) * 8);
  appendBigEndian<std::uint32_t>(out, kPayloadMagic);
  out.append(static_cast<char>(kPayloadVersion));
  appendBigEndian<std::int64_t>(out, payload.processId);
  appendBigEndian<std::uint64_t>(out, payload.sourceId);
  appendBigEndian<std::uint32_t>(out, static_cast<std::uint32_t>(payload.tokens.size()));
  for (const std::uint64_t token : payload.tokens) appendBigEndian<std::uint64_t>(out, token);
  return out;
}

std::optional<DragPayload> decodeDragPayload(const QByteArray& bytes) {
  if (bytes.size() < kPayloadHeaderSize) return std::nullopt;
  if (readBigEndian<std::uint32_t>(bytes, 0) != kPayloadMagic) return std::nullopt;
  if (static_cast<std::uint8_t>(bytes[4]) != kPayloadVersion) return std::nullopt;
  DragPayload payload;
  payload.processId = readBigEndian<std::int64_t>(bytes, 5);
  payload.sourceId = readBigEndian<std::uint64_t>(bytes, 13);
  const auto count = readBigEndian<std::uint32_t>(bytes, 21);
  if (count > kMaxDragTokens) return std::nullopt;
  // The count must account for every byte that follows, no more and no less.
  if (bytes.size() - kPayloadHeaderSize != static_cast<qsizetype>(count) * 8) return std::nullopt;
  payload.tokens.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i)
    payload.tokens.push_back(readBigEndian<std::uint64_t>(bytes, kPayloadHeaderSize + i * 8));
  return payload;
}

}  // namespace quillion
