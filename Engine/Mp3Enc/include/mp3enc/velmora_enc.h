// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder's public face: a flat API on an opaque handle. Open chooses the output rate and
// bandwidth from the settings table, Init builds the core, EncodeFrame takes interleaved
// float samples (+-1.0) in any amounts and yields whole Layer III frames, Free releases it all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::mp3enc {

// Result codes shared by every function.
inline constexpr int kEncOk = 0;
inline constexpr int kEncNoMemory = 1;
inline constexpr int kEncBadParameter = 2;
inline constexpr int kEncInitFailed = 3;
inline constexpr int kEncInvalid = 4;
inline constexpr int kEncUnsupported = 5;

struct VelmoraEnc;  // the handle
struct OflRecord;

// One row of the settings table: which output rate range and bandwidth a channel count and
// bit-rate range get.
struct EncSettingsRow {
  std::int32_t channels;
  std::int32_t bitrateLow, bitrateHigh;  // bit/s, inclusive
  std::int32_t mode0Low;
  std::int32_t preferred;  // also the lower bound of rate mode 1
  std::int32_t mode1High;
  std::int32_t mode0High;
  std::int32_t bandwidth;  // Hz
};
inline constexpr int kEncSettingsRows = 43;
extern const EncSettingsRow encSettings[kEncSettingsRows];
extern const std::int32_t mp3SampleRates[9];

// A variable-rate quality (1 best .. 5): the bit rate that picks its settings row for one
// channel and for more, and the quality the core is configured with (0..100).
struct VbrQualityBitrate {
  int quality;
  std::int32_t mono, other;
  int coreQuality;
};
// The row of a quality 1..5, or null.
[[nodiscard]] const VbrQualityBitrate* vbrQualityBitrate(int quality);

// The row for a channel count and bit rate, or -1.
[[nodiscard]] int findSettingsRow(int channels, std::int32_t bitrate);
// Output rate for an input rate in a rate mode (0 widest range, 1 preferred range), or 0.
[[nodiscard]] std::int32_t chooseOutputRate(const EncSettingsRow& row, std::int32_t inputRate,
                                            int rateMode);

struct EncoderStreamInfo {
  float bandwidth;
  std::int32_t outputRate;
  std::int32_t totalDelay;  // output samples: converter and core
  std::int32_t inputChannels;
  std::int32_t outputChannels;
  std::int32_t maxOutputBytes;  // largest output of one core call
};

struct EncoderLibraryInfo {
  char date[20];
  char version[20];
};

int TESK_VelmoraEnc_Open(VelmoraEnc** handle, std::int32_t inputRate, std::int32_t bitrate,
                         int channels, int rateMode, int vbrQuality);
int TESK_VelmoraEnc_SetAncRate(VelmoraEnc* handle, std::int32_t ancBitrate);
int TESK_VelmoraEnc_SetNuansdro(VelmoraEnc* handle, int mode);
int TESK_VelmoraEnc_SetPCMResolution(VelmoraEnc* handle, int bits);
int TESK_VelmoraEnc_Init(VelmoraEnc* handle, int* blockSize);
// The stream facts; all zero for a handle that is not valid or not initialised.
EncoderStreamInfo TESK_VelmoraEnc_GetInfo(const VelmoraEnc* handle);
int TESK_VelmoraEnc_GetMaxAncDataSize(const VelmoraEnc* handle);
int TESK_VelmoraEnc_FeedAncData(VelmoraEnc* handle, const std::uint8_t* bytes, int* count);
// count in/out: samples offered, reduced by those taken (which are scaled in place by
// 32768); wanted: samples the next block still needs; produced: bytes written to output.
int TESK_VelmoraEnc_EncodeFrame(VelmoraEnc* handle, float* samples, int* count, int* wanted,
                                int outputSize, std::uint8_t* output, int* produced);
int TESK_VelmoraEnc_Free(VelmoraEnc* handle);
// Writes the VBRI header frame into buffer (length out: its bytes). 4 for a handle that is not
// valid; 2 when nothing was written: null arguments, a handle without a seek-table builder
// (constant bit rate), no frame seen yet or a buffer below the header frame's length.
int TESK_VelmoraEnc_GetVBRIndexTable(VelmoraEnc* handle, std::uint8_t* buffer, int size,
                                     int* length);
EncoderLibraryInfo TESK_VelmoraEnc_GetLibraryInfo(EncoderLibraryInfo* out);

int TESK_VelmoraEnc_OflOn(VelmoraEnc* handle, int on);
int TESK_VelmoraEnc_GetOflHandle(VelmoraEnc* handle, OflRecord** record);
int TESK_VelmoraEnc_GetOflDelay(const OflRecord* record, std::int32_t* delay);
int TESK_VelmoraEnc_SetOflDelay(OflRecord* record, std::int32_t delay);
int TESK_VelmoraEnc_GetOflSamples(const OflRecord* record, std::int32_t* samples);
int TESK_VelmoraEnc_SetOflSamples(OflRecord* record, std::int32_t samples);
int TESK_VelmoraEnc_GetOflLength(int* length);
int TESK_VelmoraEnc_GetOflOffset(const OflRecord* record, std::int32_t* offset);
int TESK_VelmoraEnc_GetOflData(const OflRecord* record, const std::uint8_t** data);
int TESK_VelmoraEnc_OflFree(OflRecord* record);

// CRC-8 of the Ofl data: register 0xFF, polynomial 0x45, most significant bit first.
[[nodiscard]] std::uint8_t oflCrc8(const std::uint8_t* bytes, std::size_t count);

}  // namespace quillion::mp3enc
