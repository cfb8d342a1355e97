// SPDX-License-Identifier: GPL-2.0-or-later
// A small writer of program-stream pieces for fixtures that no tool makes on purpose:
// oversized or truncated packs, chosen clock references, empty packets, many I pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace quillion::test {

class PsBuilder {
 public:
  std::vector<std::uint8_t> bytes;

  PsBuilder& code(std::uint8_t id) {
    put({0x00, 0x00, 0x01, id});
    return *this;
  }
  // An MPEG-2 pack header (14 bytes) with the clock reference base `scr`.
  PsBuilder& pack2(std::uint64_t scr) {
    code(0xBA);
    put({static_cast<std::uint8_t>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3)),
         static_cast<std::uint8_t>(scr >> 20),
         static_cast<std::uint8_t>(((scr >> 15) & 0x1F) << 3 | 0x04 | ((scr >> 13) & 3)),
         static_cast<std::uint8_t>(scr >> 5), static_cast<std::uint8_t>((scr & 0x1F) << 3 | 0x04),
         0x01, 0x01, 0x89, 0xC3, 0xF8});
    return *this;
  }
  // An MPEG-1 pack header (12 bytes).
  PsBuilder& pack1(std::uint64_t scr) {
    code(0xBA);
    put({static_cast<std::uint8_t>(0x21 | ((scr >> 30) & 7) << 1),
         static_cast<std::uint8_t>(scr >> 22),
         static_cast<std::uint8_t>(((scr >> 15) & 0x7F) << 1 | 1),
         static_cast<std::uint8_t>(scr >> 7), static_cast<std::uint8_t>((scr & 0x7F) << 1 | 1),
         0x80, 0x1B, 0x91});
    return *this;
  }
  PsBuilder& systemHeader() {
    code(0xBB);
    put({0x00, 0x09, 0x80, 0x1B, 0x91, 0x01, 0xE1, 0xFF, 0xE0, 0xE0, 0x2E});
    return *this;
  }
  // A packet of `id` whose length field says `length` and which holds `payload` (the two may
  // disagree on purpose).
  PsBuilder& packet(std::uint8_t id, std::uint16_t length,
                    const std::vector<std::uint8_t>& payload) {
    code(id);
    put({static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
  }
  PsBuilder& packet(std::uint8_t id, const std::vector<std::uint8_t>& payload) {
    return packet(id, static_cast<std::uint16_t>(payload.size()), payload);
  }
  PsBuilder& padding(std::uint16_t n) { return packet(0xBE, std::vector<std::uint8_t>(n, 0xFF)); }
  PsBuilder& fill(std::size_t n, std::uint8_t value) {
    bytes.insert(bytes.end(), n, value);
    return *this;
  }

  // The payload of an MPEG-2 video packet: header with a presentation time stamp, then
  // `body`.
  static std::vector<std::uint8_t> pesWithPts(std::uint64_t pts,
                                              const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> p = {0x81,
                                   0x80,
                                   0x05,
                                   static_cast<std::uint8_t>(0x21 | ((pts >> 30) & 7) << 1),
                                   static_cast<std::uint8_t>(pts >> 22),
                                   static_cast<std::uint8_t>(((pts >> 15) & 0x7F) << 1 | 1),
                                   static_cast<std::uint8_t>(pts >> 7),
                                   static_cast<std::uint8_t>((pts & 0x7F) << 1 | 1)};
    p.insert(p.end(), body.begin(), body.end());
    return p;
  }
  // A sequence header (12 bytes).
  static std::vector<std::uint8_t> sequenceHeader(unsigned width, unsigned height, unsigned aspect,
                                                  unsigned rateCode) {
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>((width & 0x0F) << 4 | height >> 8),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(aspect << 4 | rateCode),
            0xFF,
            0xFF,
            0xE0,
            0x00};
  }
  // A picture header of coding type `type` (1 I, 2 P, 3 B), 8 bytes.
  static std::vector<std::uint8_t> pictureHeader(unsigned type) {
    return {0x00, 0x00, 0x01, 0x00, 0x00, static_cast<std::uint8_t>(type << 3), 0xFF, 0xF8};
  }
  static std::vector<std::uint8_t> join(std::vector<std::uint8_t> a,
                                        const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

 private:
  void put(std::initializer_list<std::uint8_t> list) { bytes.insert(bytes.end(), list); }
};

}  // namespace quillion::test
