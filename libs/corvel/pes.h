// SPDX-License-Identifier: GPL-2.0-or-later
// Byte builders of program streams: time fields, pack and system headers, padding packets
// and the PES headers of video, audio and subpicture packets. Each writes into a buffer the
// caller sized for it and answers the bytes written.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::corvel {

// The layout family of a multiplex: MPEG-1 packs (system streams and Video CD) or MPEG-2.
struct PackLayout {
  bool mpeg1 = false;
  bool vcd = false;   // MPEG-1 headers padded to the size of one with PTS and DTS
  bool svcd = false;  // original_or_copy set in every PES header
};

enum class Stamps { none, pts, ptsDts };

// Marker prefixes of the 5-byte time field.
enum TimeMarker : std::uint8_t { kMarkerDts = 1, kMarkerPts = 2, kMarkerPtsBeforeDts = 3 };

// 5-byte time field; MPEG-1 layouts round the 90 kHz value to nearest.
void encodeTime(std::uint8_t* out, std::uint64_t ticks27, std::uint8_t marker, bool mpeg1);
// Decodes a 5-byte time field back to 90 kHz units.
std::uint64_t decodeTime(const std::uint8_t* in);
void encodeScrMpeg2(std::uint8_t* out, std::uint64_t ticks27);

std::size_t packHeaderSize(const PackLayout& layout);
std::size_t buildPackHeader(std::uint8_t* out, const PackLayout& layout, std::uint64_t scr,
                            std::uint32_t muxRate);

struct SystemStream {
  std::uint8_t streamId;
  std::uint8_t scale;  // 1: units of 1,024 bytes, 0: units of 128
  std::uint16_t size;  // 13 bits
};

struct SystemHeaderFields {
  std::uint32_t rateBound = 0;
  std::uint8_t fixedAndCsps = 0;  // two bits: fixed_flag, CSPS_flag
  bool audioLock = false;
  bool videoLock = false;
  std::uint8_t audioBound = 0;
  std::uint8_t videoBound = 0;
  const SystemStream* streams = nullptr;  // video first, then subpictures, then audio
  std::size_t streamCount = 0;
};

std::size_t systemHeaderSize(std::size_t streamCount);
std::size_t buildSystemHeader(std::uint8_t* out, const PackLayout& layout,
                              const SystemHeaderFields& fields);

// A padding packet of `total` bytes (at least 6) and `zeroTail` zero bytes after it.
std::size_t buildPadding(std::uint8_t* out, const PackLayout& layout, std::size_t total,
                         std::size_t zeroTail = 0);

struct PesHeader {
  std::uint8_t streamId = 0;
  Stamps stamps = Stamps::none;
  std::uint64_t pts = 0;  // 27 MHz
  std::uint64_t dts = 0;
  bool stdFields = false;
  std::uint8_t stdScale = 0;
  std::uint16_t stdSize = 0;
};

// Bytes of the PES header with no stuffing.
std::size_t pesHeaderSize(const PackLayout& layout, const PesHeader& header);
// `bodyBytes` counts everything after the header (private header, payload, padding that
// belongs to this packet's length); `stuffing` 0xFF bytes go into the header.
std::size_t buildPesHeader(std::uint8_t* out, const PackLayout& layout, const PesHeader& header,
                           std::size_t stuffing, std::size_t bodyBytes);

// Pack number as BCD minutes, seconds and frames at 75 packs a second (scan information).
void encodeSectorTime(std::uint8_t* out, std::uint32_t pack);

}  // namespace quillion::corvel
