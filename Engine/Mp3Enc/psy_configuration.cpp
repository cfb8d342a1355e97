// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/psy_configuration.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {

// The rates in the order the lookup tries them; the band bounds are those of the stream.
const SfbInfoRow sfbInfoTab[kSfbInfoRows] = {
    {8000, kLongBandBounds[8], kShortBandBounds[8]},
    {11025, kLongBandBounds[6], kShortBandBounds[6]},
    {12000, kLongBandBounds[7], kShortBandBounds[7]},
    {16000, kLongBandBounds[5], kShortBandBounds[5]},
    {22050, kLongBandBounds[3], kShortBandBounds[3]},
    {24000, kLongBandBounds[4], kShortBandBounds[4]},
    {32000, kLongBandBounds[2], kShortBandBounds[2]},
    {44100, kLongBandBounds[0], kShortBandBounds[0]},
    {48000, kLongBandBounds[1], kShortBandBounds[1]},
};

int InitPsyConfiguration(std::int32_t bitrate, std::int32_t sampleRate, float bandwidth,
                         int blockKind, PsyConfiguration* config) {
  if (!config || blockKind < 0 || blockKind > 3) return 1;
  const SfbInfoRow* row = nullptr;
  for (const SfbInfoRow& r : sfbInfoTab) {
    if (r.sampleRate == sampleRate) {
      row = &r;
      break;
    }
  }
  if (!row) return 1;
  const bool isShort = blockKind == 2;
  const std::int16_t* bounds = isShort ? row->shortBounds : row->longBounds;
  const int lines = isShort ? 192 : 576;
  config->sfbCnt = isShort ? kShortBands : kLongBands;
  for (int b = 0; b <= config->sfbCnt; ++b) config->sfbOffset[b] = bounds[b];
  // Single precision, as the cut-off of every other stage is computed.
  config->cutOffLine = static_cast<int>((bandwidth + bandwidth) / static_cast<float>(sampleRate) *
                                        static_cast<float>(lines));
  config->cutOffLine = std::min(config->cutOffLine, lines);
  config->rateClass = sampleRate >= 32000 ? 0 : sampleRate >= 16000 ? 1 : 2;
  config->windows = isShort ? 3 : 1;
  config->sfbActive = config->sfbCnt;
  for (int b = 0; b < config->sfbCnt; ++b) {
    if (config->sfbOffset[b] >= config->cutOffLine) {
      config->sfbActive = b;
      break;
    }
  }
  config->isSwitch = bitrate >= 1 && bitrate <= 95999 ? 1 : 0;
  config->msSwitch = config->msSwitch != 0 && bitrate <= 192000 ? 1 : 0;
  config->msGainFlag = 0;
  config->isErrorFactor = 0.0019952622f;
  config->isFirstBand = 7;
  config->preEchoRise = 3.0f;
  config->preEchoFloor = 0.001f;
  config->thresholdCap = isShort ? 1000.0f / 9.0f : 1000.0f;
  config->snrFactor = 0.0012589254f;
  return 0;
}

namespace {

double barkOf(double f) {
  const double a = std::atan(f / 7500.0);
  return 13.3 * std::atan(0.00076 * f) + 3.5 * a * a;
}

}  // namespace

void InitBarcValues(int linesPerWindow, std::int32_t sampleRate, int bandCount,
                    const int* bandOffsets, float* upward, float* downward) {
  double bark[kMaxConfigBands] = {};
  const double lineHz = sampleRate / 2.0 / linesPerWindow;
  for (int b = 0; b < bandCount; ++b) {
    const double z = 0.5 * (barkOf(bandOffsets[b] * lineHz) + barkOf(bandOffsets[b + 1] * lineHz));
    bark[b] = std::min(z, 24.0);
  }
  upward[0] = 0.0f;
  downward[bandCount - 1] = 0.0f;
  for (int b = 0; b + 1 < bandCount; ++b) {
    const double d = bark[b + 1] - bark[b];
    upward[b + 1] = static_cast<float>(std::pow(10.0, -1.5 * d));
    downward[b] = static_cast<float>(std::pow(10.0, -3.0 * d));
  }
}

void InitMinPCMResolution(int bandCount, int pcmBits, PsyConfiguration* config) {
  const double perLine = 16887.8 * std::pow(10.0, (26.0 - 6.0 * pcmBits) / 10.0);
  for (int b = 0; b < bandCount; ++b) {
    const int width = config->sfbOffset[b + 1] - config->sfbOffset[b];
    config->quietThreshold[b] = static_cast<float>(width * perLine);
  }
}

void SpreadingMax(int bandCount, const float* downward, const float* upward, float* t) {
  for (int b = 1; b < bandCount; ++b) t[b] = std::max(t[b], upward[b] * t[b - 1]);
  for (int b = bandCount - 2; b >= 0; --b) t[b] = std::max(t[b], downward[b] * t[b + 1]);
  for (int b = 0; b + 2 < bandCount; ++b) {
    const float m = std::max(t[b], t[b + 2]);
    if (t[b + 1] > m) t[b + 1] = std::max(m, 0.2f * t[b + 1]);
  }
}

}  // namespace quillion::mp3enc
