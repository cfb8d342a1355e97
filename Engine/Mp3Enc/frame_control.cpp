// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/frame_control.h"

#include <new>

#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {
namespace {

std::int64_t magnitude(std::int64_t v) { return v < 0 ? -v : v; }

// A controller that never leaves one index: its average is that frame, padding included.
int fixOnIndex(FrameControl* fc, int index, std::int32_t pad) {
  if (RCInit(&fc->rc, fc->sizes[index] + pad, 1, fc->indexCount, fc->sizes, fc->mode) != 0) return 1;
  fc->rc.lowerIndex = fc->rc.upperIndex = index;
  fc->rc.lowerSize = fc->rc.upperSize = fc->sizes[index];
  return 0;
}

}  // namespace

int RCNew(RateControl** rc) {
  if (!rc) return 1;
  *rc = new (std::nothrow) RateControl;
  return *rc ? 0 : 1;
}

void RCDelete(RateControl* rc) { delete rc; }

void RCCancelFraction(std::int64_t* a, std::int64_t* b) {
  static constexpr int kPrimes[] = {2, 3, 5, 7, 11, 13, 17, 19, 31, 61, 89, 107, 127};
  for (int p : kPrimes) {
    while (*a % p == 0 && *b % p == 0 && *b != 0) {
      *a /= p;
      *b /= p;
    }
  }
}

int RCInit(RateControl* rc, std::int64_t numerator, std::int64_t denominator, int count,
           const std::int32_t* sizes, int mode) {
  if (!rc || !sizes || count < 2 || denominator <= 0) return 1;
  RCCancelFraction(&numerator, &denominator);
  if (numerator < denominator * sizes[1] || numerator > denominator * (sizes[count - 1] + 8)) return 1;
  *rc = RateControl{};
  rc->numerator = numerator;
  rc->denominator = denominator;
  rc->mode = mode;
  int lower = 1;
  for (int i = 1; i < count; ++i) {
    if (denominator * sizes[i] <= numerator) lower = i;
  }
  const int upper = (denominator * sizes[lower] == numerator || lower == count - 1) ? lower : lower + 1;
  rc->lowerIndex = lower;
  rc->upperIndex = upper;
  rc->lowerSize = sizes[lower];
  rc->upperSize = sizes[upper];
  return 0;
}

void RCAdvance(RateControl* rc) {
  if (!rc) return;
  struct Candidate {
    int upper, padding;
  };
  static constexpr Candidate kOrder[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  std::int64_t bestCost = -1;
  Candidate best{0, rc->mode == kPaddingAlways ? 1 : 0};
  for (const Candidate& c : kOrder) {
    if (rc->mode == kPaddingNever && c.padding) continue;
    if (rc->mode == kPaddingAlways && !c.padding) continue;
    const std::int64_t size = (c.upper ? rc->upperSize : rc->lowerSize) + 8 * c.padding;
    const std::int64_t cost = magnitude(rc->error - rc->numerator + rc->denominator * size);
    if (bestCost < 0 || cost < bestCost) {
      bestCost = cost;
      best = c;
    }
  }
  rc->upperFlag = best.upper;
  rc->paddingFlag = best.padding;
  const std::int64_t size = (best.upper ? rc->upperSize : rc->lowerSize) + 8 * best.padding;
  rc->error += rc->denominator * size - rc->numerator;
}

int RCBitrateIdx(const RateControl* rc) { return rc ? (rc->upperFlag ? rc->upperIndex : rc->lowerIndex) : 0; }
int RCNuansdroByte(const RateControl* rc) { return rc ? rc->paddingFlag : 0; }
int RCNuansdroMode(const RateControl* rc) { return rc ? rc->mode : 0; }

int FCNew(FrameControl** fc) {
  if (!fc) return 1;
  *fc = new (std::nothrow) FrameControl;
  return *fc ? 0 : 1;
}

void FCDelete(FrameControl* fc) { delete fc; }

int FCInit(FrameControl* fc, std::int32_t bitrate, std::int32_t sampleRate, int mode) {
  if (!fc || bitrate <= 0 || rateSlot(sampleRate) < 0) return 1;
  *fc = FrameControl{};
  fc->version = versionForRate(sampleRate);
  fc->indexCount = fc->version == kMpeg25 ? 9 : 15;
  const std::int64_t bitsPerSecondTimesFrame =
      static_cast<std::int64_t>(bitrate) * 576 * granulesPerFrame(fc->version);
  for (int i = 1; i < fc->indexCount; ++i) {
    const std::int64_t bits = static_cast<std::int64_t>(mpegBitrates[fc->version][i]) * 576 *
                              granulesPerFrame(fc->version) / sampleRate;
    fc->sizes[i] = static_cast<std::int32_t>(bits / 8 * 8);
  }
  const std::int64_t average = bitsPerSecondTimesFrame / sampleRate;
  if (fc->sizes[fc->indexCount - 1] < average / 8 * 8) return 1;
  fc->framesPerMeta = 1;
  fc->metaframeBytes = 1;
  fc->mode = mode;
  if (mode == kPaddingPerFrame) {
    return RCInit(&fc->rc, bitsPerSecondTimesFrame, sampleRate, fc->indexCount, fc->sizes, kPaddingPerFrame);
  }

  // Padding fixed for the whole stream.
  const bool padded = mode == kPaddingAlways ||
                      (mode == kPaddingByRemainder && bitsPerSecondTimesFrame % sampleRate > sampleRate / 2);
  fc->mode = padded ? kPaddingAlways : kPaddingNever;
  const std::int32_t pad = padded ? 8 : 0;
  for (int i = 1; i < fc->indexCount; ++i) {
    if (mpegBitrates[fc->version][i] == bitrate) {
      fc->metaframeBytes = (fc->sizes[i] + pad) / 8;
      return fixOnIndex(fc, i, pad);
    }
  }

  // Between two table rates: mix the neighbouring indices in a repeating metaframe.
  int lower = 1;
  for (int i = 1; i < fc->indexCount; ++i) {
    if (static_cast<std::int64_t>(fc->sizes[i] + pad) * sampleRate <= bitsPerSecondTimesFrame) lower = i;
  }
  const int top = fc->indexCount - 1;
  const std::int64_t lowerPadded = fc->sizes[lower] + pad;
  if (static_cast<std::int64_t>(fc->sizes[1] + pad) * sampleRate > bitsPerSecondTimesFrame || lower == top) {
    const int only = lower == top ? top : 1;
    fc->metaframeBytes = (fc->sizes[only] + pad) / 8;
    return fixOnIndex(fc, only, pad);
  }
  const int upper = lower + 1;
  const std::int64_t upperPadded = fc->sizes[upper] + pad;
  std::int64_t upperCount = bitsPerSecondTimesFrame - sampleRate * lowerPadded;
  std::int64_t lowerCount = sampleRate * upperPadded - bitsPerSecondTimesFrame;
  RCCancelFraction(&upperCount, &lowerCount);
  fc->framesPerMeta = static_cast<int>(upperCount + lowerCount);
  fc->metaframeBytes = upperCount * upperPadded / 8 + lowerCount * lowerPadded / 8;
  // The neighbours are chosen on unpadded sizes; the error then counts whole frames with
  // their fixed padding against the exact average.
  if (RCInit(&fc->rc, bitsPerSecondTimesFrame - pad * static_cast<std::int64_t>(sampleRate), sampleRate,
             fc->indexCount, fc->sizes, fc->mode) != 0) {
    return 1;
  }
  std::int64_t numerator = bitsPerSecondTimesFrame;
  std::int64_t denominator = sampleRate;
  RCCancelFraction(&numerator, &denominator);
  fc->rc.numerator = numerator;
  fc->rc.denominator = denominator;
  return 0;
}

void FCAdvance(FrameControl* fc) {
  if (fc) RCAdvance(&fc->rc);
}
int FCBitrateIdx(const FrameControl* fc) { return fc ? RCBitrateIdx(&fc->rc) : 0; }
int FCNuansdroByte(const FrameControl* fc) { return fc ? RCNuansdroByte(&fc->rc) : 0; }

std::int32_t FCSize(const FrameControl* fc, int index) {
  if (!fc || index < 0 || index >= fc->indexCount) return 0;
  return fc->sizes[index];
}

int FCFindFit(const FrameControl* fc, std::int32_t bits, std::int32_t anc, int flag) {
  if (!fc) return -1;
  const int last = fc->indexCount - 1 - (flag ? 1 : 0);
  const std::int32_t pad = fc->mode == kPaddingNever ? 0 : 8;
  for (int i = 1; i <= last; ++i) {
    if (fc->sizes[i] + pad >= bits + anc) return i;
  }
  return -1;
}

int FCFramesInMeta(const FrameControl* fc) { return fc ? fc->framesPerMeta : 0; }
std::int64_t FCMetaframeSize(const FrameControl* fc) { return fc ? fc->metaframeBytes : 0; }

}  // namespace quillion::mp3enc
