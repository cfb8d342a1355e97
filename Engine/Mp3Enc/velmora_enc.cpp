// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/velmora_enc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>

#include "mp3enc/encoder_core.h"
#include "mp3enc/resampler.h"
#include "mp3enc/vbri.h"

namespace quillion::mp3enc {

const EncSettingsRow encSettings[kEncSettingsRows] = {
    {1, 8000, 15999, 8000, 8000, 8000, 11025, 3266},
    {1, 16000, 17999, 11025, 11025, 11025, 16000, 4722},
    {1, 18000, 19999, 11025, 12000, 12000, 16000, 5086},
    {1, 20000, 23999, 11025, 12000, 12000, 16000, 5450},
    {1, 24000, 31999, 16000, 16000, 16000, 24000, 6178},
    {1, 32000, 39999, 16000, 22050, 22050, 24000, 7634},
    {1, 40000, 47999, 22050, 22050, 22050, 32000, 9090},
    {1, 48000, 55999, 22050, 24000, 24000, 32000, 10546},
    {1, 56000, 63999, 32000, 32000, 32000, 48000, 12002},
    {1, 64000, 79999, 32000, 44100, 44100, 48000, 13458},
    {1, 80000, 95999, 32000, 44100, 44100, 48000, 16370},
    {1, 96000, 111999, 32000, 44100, 44100, 48000, 19282},
    {1, 112000, 127999, 32000, 44100, 44100, 48000, 22194},
    {1, 128000, 159999, 32000, 44100, 44100, 48000, 24000},
    {1, 160000, 191999, 32000, 44100, 44100, 48000, 24000},
    {1, 192000, 223999, 32000, 44100, 44100, 48000, 24000},
    {1, 224000, 255999, 32000, 44100, 44100, 48000, 24000},
    {1, 256000, 319999, 32000, 44100, 44100, 48000, 24000},
    {1, 320000, 320000, 32000, 44100, 44100, 48000, 24000},
    {2, 16000, 17999, 8000, 8000, 8000, 12000, 3400},
    {2, 18000, 19999, 8000, 8000, 8000, 12000, 3625},
    {2, 20000, 23999, 8000, 11025, 11025, 12000, 3850},
    {2, 24000, 31999, 11025, 11025, 11025, 16000, 4300},
    {2, 32000, 39999, 11025, 16000, 16000, 16000, 5174},
    {2, 40000, 47999, 16000, 16000, 16000, 24000, 6031},
    {2, 48000, 55999, 16000, 22050, 22050, 24000, 7470},
    {2, 56000, 63999, 22050, 22050, 22050, 24000, 8909},
    {2, 64000, 79999, 22050, 24000, 24000, 24000, 10348},
    {2, 80000, 95999, 22050, 24000, 24000, 32000, 11025},
    {2, 96000, 111999, 32000, 32000, 32000, 44100, 11892},
    {2, 112000, 127999, 32000, 44100, 44100, 48000, 13642},
    {2, 128000, 159999, 32000, 44100, 44100, 48000, 15804},
    {2, 160000, 191999, 32000, 44100, 44100, 48000, 20192},
    {2, 192000, 223999, 32000, 44100, 44100, 48000, 24000},
    {2, 224000, 255999, 32000, 44100, 44100, 48000, 24000},
    {2, 256000, 319999, 32000, 44100, 44100, 48000, 24000},
    {2, 320000, 320000, 32000, 44100, 48000, 48000, 24000},
    {6, 128000, 159999, 44100, 44100, 44100, 48000, 14800},
    {6, 160000, 191999, 44100, 44100, 44100, 48000, 16000},
    {6, 192000, 223999, 44100, 44100, 48000, 48000, 16000},
    {6, 224000, 255999, 44100, 44100, 48000, 48000, 18500},
    {6, 256000, 319999, 44100, 44100, 48000, 48000, 20000},
    {6, 320000, 320000, 44100, 44100, 48000, 48000, 24000},
};

const std::int32_t mp3SampleRates[9] = {8000,  11025, 12000, 16000, 22050,
                                        24000, 32000, 44100, 48000};

struct OflRecord {
  std::int32_t offset = 0;
  std::int32_t delay = 0;
  std::int32_t samples = -1;
  std::uint8_t data[10] = {};
};

struct VelmoraEnc {
  EncoderCore* core = nullptr;
  CoreInfo coreInfo;
  EncoderConfig config;
  EncoderStreamInfo streamInfo = {};
  bool hasLowPass = false;
  LowPassSpec lowPass;
  Resampler resampler;
  int blockSize = 0;
  int fill = 0;
  int flushState = 0;
  bool finished = false;
  int ancPending = 0;
  std::uint8_t ancBuffer[1024] = {};
  int oflOn = 0;
  std::uint32_t oflSamples = 0;
  bool oflOverflow = false;
  float rateRatio = 1.0f;
  bool initFailed = false;
  // The seek-table builder of a variable-bit-rate stream; constant-rate handles have none.
  std::unique_ptr<CVbri, decltype(&VbriDelete)> vbri{nullptr, &VbriDelete};
  const VelmoraEnc* self = nullptr;
};

namespace {

constexpr int kOflLength = 10;

bool valid(const VelmoraEnc* h) {
  return h && h->self == h;
}
bool running(const VelmoraEnc* h) {
  return valid(h) && h->core && !h->initFailed;
}

}  // namespace

const VbrQualityBitrate* vbrQualityBitrate(int quality) {
  static constexpr VbrQualityBitrate rows[] = {{1, 96000, 192000, 100},
                                               {2, 80000, 160000, 80},
                                               {3, 70000, 140000, 60},
                                               {4, 64000, 128000, 50},
                                               {5, 64000, 96000, 40}};
  for (const VbrQualityBitrate& r : rows) {
    if (r.quality == quality) return &r;
  }
  return nullptr;
}

int findSettingsRow(int channels, std::int32_t bitrate) {
  for (int i = 0; i < kEncSettingsRows; ++i) {
    const EncSettingsRow& r = encSettings[i];
    if (r.channels == channels && bitrate >= r.bitrateLow && bitrate <= r.bitrateHigh) return i;
  }
  return -1;
}

std::int32_t chooseOutputRate(const EncSettingsRow& row, std::int32_t inputRate, int rateMode) {
  if (inputRate <= 0) return 0;
  std::int32_t low = 0, high = 0;
  if (rateMode == 0) {
    low = row.mode0Low;
    high = row.mode0High;
  } else if (rateMode == 1) {
    if (row.preferred == row.mode1High) return row.preferred;
    low = row.preferred;
    high = row.mode1High;
  } else {
    return 0;
  }
  std::int32_t best = 0, bestDivisor = 0;
  for (std::int32_t rate : mp3SampleRates) {
    if (rate < low || rate > high) continue;
    const std::int32_t divisor = std::gcd(rate, inputRate);
    if (divisor > bestDivisor) {  // ascending order: on equal divisors the lower rate stays
      best = rate;
      bestDivisor = divisor;
    }
  }
  return best;
}

std::uint8_t oflCrc8(const std::uint8_t* bytes, std::size_t count) {
  unsigned reg = 0xFF;
  for (std::size_t i = 0; i < count; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const unsigned feedback = ((reg >> 7) ^ (bytes[i] >> bit)) & 1u;
      reg = (reg << 1) & 0xFFu;
      if (feedback) reg ^= 0x45u;
    }
  }
  return static_cast<std::uint8_t>(reg);
}

int TESK_VelmoraEnc_Open(VelmoraEnc** handle, std::int32_t inputRate, std::int32_t bitrate,
                         int channels, int rateMode, int vbrQuality) {
  if (!handle) return kEncBadParameter;
  *handle = nullptr;
  if (channels != 1 && channels != 2 && channels != 6) return kEncBadParameter;
  // Qualities run from 1 (best) to 5; a quality names its own rate, so a bit rate beside it
  // is a contradiction. Above 5 no settings row would fit: refused before anything is made.
  if (vbrQuality < 0 || vbrQuality > 5 || (vbrQuality != 0 && bitrate != 0) ||
      (channels == 6 && vbrQuality == 5))
    return kEncBadParameter;
  VelmoraEnc* h = new (std::nothrow) VelmoraEnc;
  if (!h) return kEncNoMemory;
  *handle = h;
  h->self = h;
  // A quality chooses its settings row by the constant rate it resembles.
  const VbrQualityBitrate* q = vbrQualityBitrate(vbrQuality);
  if (q) bitrate = channels == 1 ? q->mono : q->other;
  const int row = findSettingsRow(channels, bitrate);
  if (row < 0) return kEncBadParameter;
  const EncSettingsRow& s = encSettings[row];
  const std::int32_t outputRate = chooseOutputRate(s, inputRate, rateMode);
  const std::int32_t cutoff = std::min({s.bandwidth, outputRate / 2, inputRate / 2});
  if (outputRate != inputRate || (rateMode == 1 && cutoff < outputRate / 2)) {
    h->hasLowPass = true;
    h->lowPass = {static_cast<float>(cutoff), FILTER_TBW * static_cast<float>(cutoff),
                  FILTER_ATTENUATION};
  }
  const int perCall = channels * (outputRate < 32000 ? 576 : 1152);
  if (outputRate <= 0 ||
      smpl_resampler_fo_construct(&h->resampler, h->hasLowPass ? &h->lowPass : nullptr, inputRate,
                                  outputRate, channels, perCall) != 0) {
    return kEncInitFailed;
  }
  h->blockSize = smpl_resampler_fo_block_size(&h->resampler);
  if (outputRate != inputRate)
    h->rateRatio = static_cast<float>(inputRate) / static_cast<float>(outputRate);
  if (channels == 6) {
    // No multichannel link exists: six channels are refused after the table accepted them.
    TESK_VelmoraEnc_Free(h);
    *handle = nullptr;
    return kEncUnsupported;
  }
  std::int32_t version = 0;
  if (mp3encInit(kCoreInterfaceVersion, &version) != 0) {
    TESK_VelmoraEnc_Free(h);
    *handle = nullptr;
    return kEncInitFailed;
  }
  mp3encInitDefaultConfig(&h->config);
  h->config.sampleRate = outputRate;
  h->config.bandwidth = static_cast<float>(cutoff);
  h->config.inputChannels = h->config.outputChannels = std::min(channels, 2);
  h->config.nuansdroMode = 1;
  h->config.pcmResolution = 16;
  if (q) {
    h->config.vbrOn = 1;
    h->config.vbrQuality = q->coreQuality;
    // The best quality keeps left and right apart.
    h->config.jointStereo = vbrQuality == 1 ? 0 : 1;
    // Without the builder the stream simply has no seek table.
    h->vbri.reset(Vbri());
    if (h->vbri) VbriSetInfo(h->vbri.get(), 0, 0);
  } else {
    h->config.bitrate = bitrate;
    h->config.jointStereo = 1;
  }
  return kEncOk;
}

int TESK_VelmoraEnc_SetAncRate(VelmoraEnc* handle, std::int32_t ancBitrate) {
  if (!valid(handle) || handle->core || ancBitrate < 0) return kEncBadParameter;
  if (ancBitrate > 19200) return kEncBadParameter;
  if (!handle->config.vbrOn && 20u * static_cast<std::uint32_t>(ancBitrate) >
                                   3u * static_cast<std::uint32_t>(handle->config.bitrate)) {
    return kEncBadParameter;
  }
  handle->config.ancillaryBitrate += ancBitrate;
  return kEncOk;
}

int TESK_VelmoraEnc_SetNuansdro(VelmoraEnc* handle, int mode) {
  if (!valid(handle) || mode < 0 || mode > 3) return kEncBadParameter;
  handle->config.nuansdroMode = mode;
  return kEncOk;
}

int TESK_VelmoraEnc_SetPCMResolution(VelmoraEnc* handle, int bits) {
  if (!valid(handle)) return kEncBadParameter;
  if (bits == 0) bits = 16;
  const bool wide = bits >= 17 && bits <= 24 && handle->config.bitrate >= 192000 &&
                    handle->config.sampleRate >= 44100;
  if (!(bits >= 8 && bits <= 16) && !wide) return kEncBadParameter;
  handle->config.pcmResolution = bits;
  return kEncOk;
}

int TESK_VelmoraEnc_Init(VelmoraEnc* handle, int* blockSize) {
  if (!valid(handle) || !blockSize || handle->core || handle->initFailed) return kEncBadParameter;
  if (mp3encOpen(&handle->core, &handle->config) != 0) {
    // The handle stays for Free to release; every later call on it is refused.
    handle->initFailed = true;
    return kEncBadParameter;
  }
  mp3encGetInfo(handle->core, &handle->coreInfo);
  *blockSize = handle->blockSize;
  EncoderStreamInfo& s = handle->streamInfo;
  s.bandwidth = handle->coreInfo.bandwidth;
  s.outputRate = handle->config.sampleRate;
  s.totalDelay = smpl_resampler_fo_get_delay(&handle->resampler) + handle->coreInfo.delay;
  s.inputChannels = handle->config.inputChannels;
  s.outputChannels = handle->config.outputChannels;
  s.maxOutputBytes = handle->coreInfo.maxOutputBytes;
  handle->fill = 0;
  handle->flushState = 0;
  return kEncOk;
}

EncoderStreamInfo TESK_VelmoraEnc_GetInfo(const VelmoraEnc* handle) {
  return running(handle) ? handle->streamInfo : EncoderStreamInfo{};
}

int TESK_VelmoraEnc_GetMaxAncDataSize(const VelmoraEnc* handle) {
  return running(handle) ? handle->coreInfo.ancillaryBitsPerFrame / 8 : 0;
}

int TESK_VelmoraEnc_FeedAncData(VelmoraEnc* handle, const std::uint8_t* bytes, int* count) {
  if (!running(handle) || !count || *count < 0 || (*count > 0 && !bytes)) return kEncInvalid;
  const int n = std::min({TESK_VelmoraEnc_GetMaxAncDataSize(handle), *count,
                          static_cast<int>(sizeof handle->ancBuffer)});
  if (n > 0) std::memcpy(handle->ancBuffer, bytes, static_cast<std::size_t>(n));
  handle->ancPending = n;
  *count -= n;
  return kEncOk;
}

namespace {

// Core calls for one converted block: one per granule of the frame.
int encodeConverted(VelmoraEnc* h, const float* converted, std::uint8_t* output, int outputSize,
                    int* produced) {
  const int granules = h->config.sampleRate < 32000 ? 1 : 2;
  const int perGranule = 576 * h->config.inputChannels;
  for (int gr = 0; gr < granules; ++gr) {
    std::size_t made = 0;
    const int status =
        mp3encEncode(h->core, converted + gr * perGranule, perGranule, output + *produced,
                     static_cast<std::size_t>(outputSize - *produced), &made, h->ancBuffer,
                     &h->ancPending, h->oflOn);
    if (status != 0) return kEncInvalid;
    *produced += static_cast<int>(made);
  }
  if (h->ancPending != 0) return kEncInvalid;
  return kEncOk;
}

// Zero input after the end, so the converter and the core give out what they hold.
int drain(VelmoraEnc* h, std::uint8_t* output, int outputSize, int* produced) {
  for (;;) {
    // Stop before a call could overflow; the next EncodeFrame continues.
    if (outputSize - *produced < h->coreInfo.maxOutputBytes) return kEncOk;
    std::size_t made = 0;
    int none = 0;
    const int status =
        mp3encEncode(h->core, nullptr, 0, output + *produced,
                     static_cast<std::size_t>(outputSize - *produced), &made, nullptr, &none, 0);
    *produced += static_cast<int>(made);
    if (status == kCoreFlushed) {
      h->finished = true;
      return kEncOk;
    }
    if (status != 0) return kEncInvalid;
  }
}

// Hands every produced frame's header to the seek-table builder, frame by frame.
void feedVbri(CVbri* builder, const std::uint8_t* output, int produced) {
  for (int at = 0; at + 4 <= produced;) {
    const std::uint32_t word = static_cast<std::uint32_t>(output[at]) << 24 |
                               static_cast<std::uint32_t>(output[at + 1]) << 16 |
                               static_cast<std::uint32_t>(output[at + 2]) << 8 | output[at + 3];
    int length = 0;
    if (VbriProcessOneHeader(builder, word, &length) != 1 || length <= 0) {
      std::fputs("Processing Header failed!\n", stdout);
      return;
    }
    at += length;
  }
}

}  // namespace

int TESK_VelmoraEnc_EncodeFrame(VelmoraEnc* handle, float* samples, int* count, int* wanted,
                                int outputSize, std::uint8_t* output, int* produced) {
  if (!running(handle) || !count || !wanted || !produced || !output || outputSize < 0 ||
      *count < 0 || (*count > 0 && !samples)) {
    return kEncInvalid;
  }
  VelmoraEnc* h = handle;
  *produced = 0;
  if (outputSize < h->streamInfo.maxOutputBytes) return kEncInvalid;
  for (;;) {
    const bool endCall = h->flushState > 0 || (h->flushState == 0 && *count == 0);
    float* block = smpl_resampler_fo_input(&h->resampler);
    if (h->flushState < 0) {
      if (h->finished) break;
      const int status = drain(h, output, outputSize, produced);
      if (status != kEncOk) return status;
      break;
    }
    if (h->flushState == 0 && *count == 0) {
      const double delay =
          h->streamInfo.totalDelay * static_cast<double>(h->rateRatio) * h->config.inputChannels;
      const int tail = static_cast<int>(std::ceil(delay / h->blockSize)) * h->blockSize;
      std::fill(block + h->fill, block + h->blockSize, 0.0f);
      const int remaining = tail + h->fill - h->blockSize;
      h->flushState = remaining > 0 ? remaining : -1;
      h->fill = 0;
    } else if (h->flushState > 0) {
      std::fill(block, block + h->blockSize, 0.0f);
      h->flushState -= h->blockSize;
      if (h->flushState <= 0) h->flushState = -1;
    } else {
      const int n = std::min(*count, h->blockSize - h->fill);
      for (int i = 0; i < n; ++i) samples[i] *= 32768.0f;
      std::copy(samples, samples + n, block + h->fill);
      if (h->oflOn && !h->oflOverflow) {
        const std::uint32_t add = static_cast<std::uint32_t>(n / h->config.inputChannels);
        if (h->oflSamples > UINT32_MAX - add)
          h->oflOverflow = true;
        else
          h->oflSamples += add;
      }
      if (h->fill + n < h->blockSize) {
        h->fill += n;
        *count = 0;
        *wanted = h->blockSize - h->fill;
        return kEncOk;
      }
      h->fill = 0;
      *count -= n;
    }
    const float* converted = smpl_resampler_fo_advance(&h->resampler);
    h->blockSize = smpl_resampler_fo_block_size(&h->resampler);
    const int status = encodeConverted(h, converted, output, outputSize, produced);
    if (status != kEncOk) return status;
    if (*produced != 0 || !endCall) break;
  }
  if (h->vbri) feedVbri(h->vbri.get(), output, *produced);
  h->ancPending = 0;
  *wanted = h->blockSize - h->fill;
  return kEncOk;
}

int TESK_VelmoraEnc_Free(VelmoraEnc* handle) {
  if (!valid(handle)) return kEncOk;
  mp3encClose(handle->core);
  smpl_resampler_fo_destruct(&handle->resampler);
  handle->self = nullptr;
  delete handle;
  return kEncOk;
}

int TESK_VelmoraEnc_GetVBRIndexTable(VelmoraEnc* handle, std::uint8_t* buffer, int size,
                                     int* length) {
  if (!valid(handle)) return kEncInvalid;
  if (!buffer || !length || size <= 0) return kEncBadParameter;
  *length = 0;
  // Nothing written (no builder, no frame seen, too small a buffer) is a failure, never 0.
  if (!handle->vbri ||
      VbriGetIndexTable(handle->vbri.get(), buffer, static_cast<std::size_t>(size), length) != 1) {
    *length = 0;
    return kEncBadParameter;
  }
  return kEncOk;
}

EncoderLibraryInfo TESK_VelmoraEnc_GetLibraryInfo(EncoderLibraryInfo* out) {
  EncoderLibraryInfo info = {};
  std::snprintf(info.date, sizeof info.date, "%s", "2010-11-11");
  std::snprintf(info.version, sizeof info.version, "%s", "04.01.02");
  if (out) *out = info;
  return info;
}

int TESK_VelmoraEnc_OflOn(VelmoraEnc* handle, int on) {
  if (!valid(handle) || (on != 0 && on != 1)) return kEncInvalid;
  if (on == 1) handle->oflOn = 1;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflHandle(VelmoraEnc* handle, OflRecord** record) {
  if (!record) return kEncInvalid;
  *record = nullptr;
  if (!running(handle) || !handle->oflOn) return kEncInvalid;
  OflRecord* r = new (std::nothrow) OflRecord;
  if (!r) return kEncInvalid;
  r->delay = handle->streamInfo.totalDelay;
  r->offset = static_cast<std::int32_t>(mp3encGetOflOffset(handle->core));
  r->samples = handle->oflOverflow
                   ? -1
                   : static_cast<std::int32_t>(
                         static_cast<float>(handle->oflSamples) / handle->rateRatio + 0.5f);
  const auto d = static_cast<std::uint32_t>(r->delay);
  const auto s = static_cast<std::uint32_t>(r->samples);
  const std::uint8_t bytes[9] = {0xB4,
                                 static_cast<std::uint8_t>(d >> 8),
                                 static_cast<std::uint8_t>(d),
                                 static_cast<std::uint8_t>(s >> 24),
                                 static_cast<std::uint8_t>(s >> 16),
                                 static_cast<std::uint8_t>(s >> 8),
                                 static_cast<std::uint8_t>(s),
                                 0,
                                 0};
  std::memcpy(r->data, bytes, sizeof bytes);
  r->data[9] = oflCrc8(bytes, sizeof bytes);
  *record = r;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflDelay(const OflRecord* record, std::int32_t* delay) {
  if (!record || !delay) return kEncInvalid;
  *delay = record->delay;
  return kEncOk;
}

int TESK_VelmoraEnc_SetOflDelay(OflRecord* record, std::int32_t delay) {
  if (!record) return kEncInvalid;
  record->delay = delay;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflSamples(const OflRecord* record, std::int32_t* samples) {
  if (!record || !samples) return kEncInvalid;
  *samples = record->samples;
  return kEncOk;
}

int TESK_VelmoraEnc_SetOflSamples(OflRecord* record, std::int32_t samples) {
  if (!record) return kEncInvalid;
  record->samples = samples;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflLength(int* length) {
  if (!length) return kEncInvalid;
  *length = kOflLength;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflOffset(const OflRecord* record, std::int32_t* offset) {
  if (!record || !offset) return kEncInvalid;
  *offset = record->offset;
  return kEncOk;
}

int TESK_VelmoraEnc_GetOflData(const OflRecord* record, const std::uint8_t** data) {
  if (!record || !data) return kEncInvalid;
  *data = record->data;
  return kEncOk;
}

int TESK_VelmoraEnc_OflFree(OflRecord* record) {
  if (!record) return kEncInvalid;
  delete record;
  return kEncOk;
}

}  // namespace quillion::mp3enc
