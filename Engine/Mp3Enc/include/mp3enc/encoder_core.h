// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder core: granules of 576 samples per channel in, Layer III frames out, at a
// constant bit rate or, with a quality, at a variable one where each frame takes the smallest
// size that holds what its granules needed. Per granule it runs the psychoacoustic model (window
// choice, hybrid filter bank, masking thresholds), the quantisation loop within the budget of the
// bit reservoir, and at the end of each frame the frame writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::mp3enc {

inline constexpr std::int32_t kCoreInterfaceVersion = 0x630011;

struct EncoderConfig {
  std::int32_t sampleRate = 0;
  std::int32_t bitrate = 0;
  std::int32_t inputChannels = 0;
  std::int32_t outputChannels = 0;
  float bandwidth = 0.0f;
  std::int32_t vbrOn = 0;
  std::int32_t vbrQuality = 0;
  std::int32_t jointStereo = 0;
  std::int32_t nuansdroMode = 1;
  std::int32_t pcmResolution = 16;
  std::int32_t ancillaryBitrate = 0;
  // Narrows the stereo image of the input when the bit demand is high (two channels only).
  std::int32_t stereoPreProcessing = 0;
};

// What the handle reads from the core after Open.
struct CoreInfo {
  float bandwidth = 0.0f;
  std::int32_t delay = 0;           // samples
  std::int32_t maxOutputBytes = 0;  // largest output of one call
  std::int32_t framesPerMeta = 1;
  std::int64_t metaframeBytes = 1;
  std::int32_t granulesPerFrame = 2;
  std::int32_t ancillaryBitsPerFrame = 0;
};

struct EncoderCore;

// Results of mp3encEncode besides 0.
inline constexpr int kCoreFlushed = -2;
inline constexpr int kCoreBadCount = 1;
inline constexpr int kCoreSmallOutput = 2;
inline constexpr int kCoreOverflow = 4;
inline constexpr int kCoreBadAncillary = 5;

// The interface handshake: writes the core's version and answers 0 when they agree, else 3.
int mp3encInit(std::int32_t version, std::int32_t* versionOut);
int mp3encInitDefaultConfig(EncoderConfig* config);
// 0, or 1 for a configuration the core cannot encode or no memory (the slot then holds null).
[[nodiscard]] int mp3encOpen(EncoderCore** slot, const EncoderConfig* config);
int mp3encGetInfo(const EncoderCore* core, CoreInfo* info);
// One granule: count interleaved samples (at most 576 per channel; fewer are padded with
// zeros; 0 ends the input). Ancillary bytes up to *ancCount are carried in the frame this
// granule completes; *ancCount is reduced by what was taken.
[[nodiscard]] int mp3encEncode(EncoderCore* core, const float* samples, int count,
                               std::uint8_t* output, std::size_t outputSize, std::size_t* produced,
                               const std::uint8_t* anc, int* ancCount, int ofl);
void mp3encClose(EncoderCore* core);
// Byte position of the Ofl record in the stream, or -1 before it is written.
[[nodiscard]] long long mp3encGetOflOffset(const EncoderCore* core);

}  // namespace quillion::mp3enc
