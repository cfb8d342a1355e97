// SPDX-License-Identifier: GPL-2.0-or-later
// The Layer III bitstream writer: header, side information and main data of each frame,
// with the bit reservoir, stuffing, the Ofl record and ancillary bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mp3enc/bit_buffer.h"
#include "mp3enc/bit_mux.h"
#include "mp3enc/granule_info.h"

namespace quillion::mp3enc {

// Channel modes of the header.
inline constexpr int kModeStereo = 0;
inline constexpr int kModeJointStereo = 1;
inline constexpr int kModeDualChannel = 2;
inline constexpr int kModeSingleChannel = 3;

struct BitstreamSettings {
  int channelMode = kModeStereo;
  std::int32_t bitrate = 128000;
  std::int32_t sampleRate = 44100;
  bool errorProtection = false;
  bool privateBit = false;
  bool copyright = false;
  bool original = false;
  // Ancillary bytes travel as one packet per frame: 0xA5, the payload length (one byte),
  // the payload and the low byte of the payload's sum, then zeros to the end of the room.
  bool ancillaryPackets = false;
};

struct FrameStats {
  std::uint64_t frames = 0;
  const std::uint32_t* lengths = nullptr;  // bytes of each emitted frame
};

struct BitstreamWriter {
  BitstreamSettings settings;
  int version = 0;
  int sampleRateIndex = 0;
  int granules = 2;
  int channels = 2;  // channels in side information
  std::uint32_t sideBits = 0;
  std::uint32_t hdsiBits = 0;
  std::uint32_t crcBits = 0;
  int mainDataBegin = 0;  // bytes
  BitBufferPtr hdsi;      // headers and side information
  BitBufferPtr main;      // main data
  BitMux mux;
};

struct FrameInput {
  const GranuleChannel* granules[2][2] = {};  // [granule][channel]
  int bitrateIndex = 0;
  int padding = 0;        // 1 when the frame carries the padding byte
  int modeExtension = 0;
  int ancillaryBits = 0;  // reserved by quantisation for this frame, the Ofl record included
  const std::uint8_t* ancillary = nullptr;
  std::size_t ancillaryAvailable = 0;
  bool ofl = false;       // write the Ofl record into this frame
};

struct FrameResult {
  std::uint32_t bitsWritten = 0;        // main bits + header-and-side bits
  std::size_t ancillaryConsumed = 0;    // bytes taken from FrameInput::ancillary
  long long oflOffset = -1;             // byte position of the Ofl record, when written
  long long ancillaryOffset = -1;       // byte position of the ancillary room
  int part2_3_length[2][2] = {};        // after stuffing
  int mainDataBegin = 0;                // the value written into this frame
};

[[nodiscard]] int BSNew(BitstreamWriter** bs);
void BSDelete(BitstreamWriter* bs);
// 0, or 1 for a sample rate outside the nine or a bit buffer that could not be made.
[[nodiscard]] int BSInit(BitstreamWriter* bs, const BitstreamSettings& settings);
// Writes one frame and emits, into out, every frame whose main data is complete. Returns 0,
// or 1 when the granules' bits do not fit the frame and its reservoir, a granule's side
// information disagrees with its lines, or the writer's buffers are full.
[[nodiscard]] int BSWrite(BitstreamWriter* bs, const FrameInput& frame, FrameResult* result,
                          std::uint8_t* out, std::size_t outCapacity, std::size_t* produced);
// Emits every frame still held.
[[nodiscard]] int BSFlush(BitstreamWriter* bs, std::uint8_t* out, std::size_t outCapacity,
                          std::size_t* produced);
[[nodiscard]] std::uint32_t GetHdSiBits(const BitstreamWriter* bs);
[[nodiscard]] FrameStats mp3GetFrameStats(const BitstreamWriter* bs);

struct BitstreamWriterDelete {
  void operator()(BitstreamWriter* bs) const noexcept { BSDelete(bs); }
};
using BitstreamWriterPtr = std::unique_ptr<BitstreamWriter, BitstreamWriterDelete>;

// Frame length in bytes for a bit-rate index, a rate and padding (0 for a bad index or rate).
[[nodiscard]] std::uint32_t frameBytes(std::int32_t sampleRate, int bitrateIndex, int padding);

}  // namespace quillion::mp3enc
