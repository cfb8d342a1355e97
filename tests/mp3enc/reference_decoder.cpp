// SPDX-License-Identifier: GPL-2.0-or-later
#include "reference_decoder.h"

#include <cmath>
#include <numbers>
#include <cstdlib>

#include "mp3enc/filter_bank.h"
#include "mp3enc/stream_tables.h"

namespace quillion::test {
namespace {

constexpr int kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// |q|^(4/3) with q's sign, times 2^(exponent / 4).
double requantise(std::int32_t q, double quarterSteps) {
  const double magnitude =
      std::pow(std::abs(static_cast<double>(q)), 4.0 / 3.0) * std::pow(2.0, quarterSteps / 4.0);
  return q < 0 ? -magnitude : magnitude;
}

double window(int blockType, int i) {
  const double longSin = std::sin(std::numbers::pi / 36 * (i + 0.5));
  switch (blockType) {
    case 1:
      return i < 18 ? longSin : i < 24 ? 1.0 : i < 30 ? std::sin(std::numbers::pi / 12 * (i - 18 + 0.5)) : 0.0;
    case 3:
      return i < 6 ? 0.0 : i < 12 ? std::sin(std::numbers::pi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : longSin;
    default:
      return longSin;
  }
}

void aliasReduce(double* xr, int boundaries) {
  static constexpr double kCoefficients[8] = {-0.6,   -0.535, -0.33,   -0.185,
                                              -0.095, -0.041, -0.0142, -0.0037};
  for (int sb = 0; sb < boundaries; ++sb) {
    for (int i = 0; i < 8; ++i) {
      const double ci = kCoefficients[i];
      const double cs = 1 / std::sqrt(1 + ci * ci), ca = ci / std::sqrt(1 + ci * ci);
      const double lower = xr[18 * sb + 17 - i], upper = xr[18 * sb + 18 + i];
      xr[18 * sb + 17 - i] = lower * cs - upper * ca;
      xr[18 * sb + 18 + i] = upper * cs + lower * ca;
    }
  }
}

}  // namespace

int mixedLongLines(int rateSlot) {
  return mp3enc::kLongBandBounds[rateSlot][rateSlot < 3 ? 8 : 6];
}

ReferenceDecoder::ReferenceDecoder(int rateSlot) : rateSlot_(rateSlot) {}

void ReferenceDecoder::decode(const RefGranule& g, std::vector<double>* pcm) {
  const std::int16_t* longBounds = mp3enc::kLongBandBounds[rateSlot_];
  const std::int16_t* shortBounds = mp3enc::kShortBandBounds[rateSlot_];
  const double multiplier = g.scalefacScale ? 4.0 : 2.0;  // quarter steps per scalefactor step
  const bool isShort = g.blockType == 2;
  const int longLines = !isShort ? 576 : g.mixed ? mixedLongLines(rateSlot_) : 0;

  // Requantisation in stream order: long bands up to longLines, then short bands window by
  // window. The short lines go straight to their place in each window.
  double xr[576] = {};
  double win[3][192] = {};
  for (int band = 0; longBounds[band] < longLines; ++band) {
    const int scale =
        g.scalefacLong[static_cast<std::size_t>(band)] + (g.preflag ? kPretab[band] : 0);
    for (int i = longBounds[band]; i < longBounds[band + 1] && i < longLines; ++i) {
      xr[i] =
          requantise(g.lines[static_cast<std::size_t>(i)], g.globalGain - 210 - multiplier * scale);
    }
  }
  if (isShort) {
    int index = longLines;
    int firstBand = 0;
    while (3 * shortBounds[firstBand] < longLines) ++firstBand;
    for (int band = firstBand; band < 13; ++band) {
      const int width = shortBounds[band + 1] - shortBounds[band];
      for (int w = 0; w < 3; ++w) {
        const double steps =
            g.globalGain - 210 - 8 * g.subblockGain[static_cast<std::size_t>(w)] -
            multiplier *
                g.scalefacShort[static_cast<std::size_t>(band)][static_cast<std::size_t>(w)];
        for (int k = 0; k < width; ++k) {
          win[w][shortBounds[band] + k] =
              requantise(g.lines[static_cast<std::size_t>(index++)], steps);
        }
      }
    }
  }

  // Alias reduction between long subbands only: none for pure short blocks, the first
  // boundary for mixed ones.
  aliasReduce(xr, !isShort ? 31 : g.mixed ? 1 : 0);

  // The standard transforms the lowest two subbands of a mixed block as long ones.
  const int longSubbands = !isShort ? 32 : g.mixed ? 2 : 0;
  const int longWindow = isShort ? 0 : g.blockType;
  double subband[32][18];
  for (int sb = 0; sb < 32; ++sb) {
    double z[36] = {};
    if (sb < longSubbands) {
      for (int i = 0; i < 36; ++i) {
        double y = 0;
        for (int k = 0; k < 18; ++k)
          y += xr[18 * sb + k] * std::cos(std::numbers::pi / 72 * (2 * i + 19) * (2 * k + 1));
        z[i] = y * window(longWindow, i);
      }
    } else {
      for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 12; ++i) {
          double y = 0;
          for (int k = 0; k < 6; ++k)
            y += win[w][6 * sb + k] * std::cos(std::numbers::pi / 24 * (2 * i + 7) * (2 * k + 1));
          z[6 + 6 * w + i] += y * std::sin(std::numbers::pi / 12 * (i + 0.5));
        }
      }
    }
    for (int i = 0; i < 18; ++i) {
      subband[sb][i] = z[i] + overlap_[sb][i];
      overlap_[sb][i] = z[18 + i];
    }
  }

  const double(&c)[512] = mp3enc::anaWindowTable();
  for (int slot = 0; slot < 18; ++slot) {
    double s[32];
    for (int sb = 0; sb < 32; ++sb)
      s[sb] = ((sb & 1) && (slot & 1)) ? -subband[sb][slot] : subband[sb][slot];
    for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64) * s[k];
      v_[i] = sum;
    }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 8; ++i) {
        sum += 32 * c[64 * i + j] * v_[128 * i + j];
        sum += 32 * c[64 * i + 32 + j] * v_[128 * i + 96 + j];
      }
      pcm->push_back(sum);
    }
  }
}

}  // namespace quillion::test
