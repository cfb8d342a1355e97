// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/block_switching.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quillion::mp3enc {

const int synchronizedBlockTypeTable[4][4] = {
    {0, 1, 2, 3},
    {1, 1, 2, 2},
    {2, 2, 2, 2},
    {3, 2, 2, 3},
};

int mp3BlockSwitchingNew(BlockSwitchingState** state) {
  if (!state) return 1;
  *state = new (std::nothrow) BlockSwitchingState;
  return *state ? 0 : 1;
}

void mp3BlockSwitchingDelete(BlockSwitchingState* state) {
  delete state;
}

int mp3BlockSwitchingInit(BlockSwitchingState* state) {
  if (!state) return 1;
  *state = BlockSwitchingState{};
  return 0;
}

int mp3BlockSwitching_NoOpt(BlockSwitchingState* s, const float* input, int stride) {
  for (int i = 0; i < 3; ++i) s->lastEnergy[i] = s->energy[i];
  float xPrev = s->filterIn, yPrev = s->filterOut;
  for (int seg = 0; seg < 3; ++seg) {
    float sum = 0.0f;
    for (int n = 0; n < 192; ++n) {
      const float x = input[(192 * seg + n) * stride];
      const float y = 0.7548f * (x - xPrev) + 0.5095f * yPrev;
      xPrev = x;
      yPrev = y;
      sum += y * y;
    }
    s->energy[seg] = sum;
  }
  s->filterIn = xPrev;
  s->filterOut = yPrev;
  mp3BlockSwitchingDecide(s);
  return 1;
}

void mp3BlockSwitchingDecide(BlockSwitchingState* s) {
  constexpr float kRise = 0.25f;  // a segment four times louder than what came before
  const float e0 = s->energy[0], e1 = s->energy[1], e2 = s->energy[2];
  const float p1 = s->lastEnergy[1], p2 = s->lastEnergy[2];
  const float t = kAttackEnergyFloor;
  bool attack = (e1 < kRise * e2 && e0 < kRise * e2 && e2 > t) ||
                (e0 < kRise * e1 && p2 < kRise * e1 && e1 > t) ||
                (p2 < kRise * e0 && p1 < kRise * e0 && e0 > t);
  if (attack) {
    s->lastAttack = 1;
  } else if (s->lastAttack) {
    attack = (e0 > t && e1 < kRise * e0) || (p2 > t && e0 < kRise * p2);
    s->lastAttack = 0;
  }
  s->attack = attack ? 1 : 0;
  const int n = s->nextType;
  if (attack) {
    s->nextType = kBlockShort;
    s->emitType = n == kBlockLong ? kBlockStart : n == kBlockStop ? kBlockShort : n;
  } else {
    s->emitType = n;
    s->nextType = n == kBlockShort ? kBlockStop : kBlockLong;
  }
}

int mp3SyncBlockSwitching(BlockSwitchingState* s0, BlockSwitchingState* s1, int channels,
                          int synchronise, int* blockType0, int* blockType1) {
  if (channels < 2) {
    *blockType0 = s0->emitType;
    return 1;
  }
  if (!synchronise) {
    *blockType0 = s0->emitType;
    *blockType1 = s1->emitType;
    return 1;
  }
  const int t = synchronizedBlockTypeTable[s0->emitType][s1->emitType];
  // The next window must continue this one: after a start window comes a short one; after a
  // short one another short one while either channel still wants it, else a stop window.
  int next = kBlockLong;
  if (t == kBlockStart) {
    next = kBlockShort;
  } else if (t == kBlockShort) {
    next = s0->nextType == kBlockShort || s1->nextType == kBlockShort ? kBlockShort : kBlockStop;
  }
  s0->emitType = s1->emitType = t;
  s0->nextType = s1->nextType = next;
  *blockType0 = *blockType1 = t;
  return 1;
}

int InputBufferNew(InputBuffer** buffer, int delay) {
  if (!buffer || delay < 0) return 1;
  *buffer = nullptr;
  auto* b = new (std::nothrow) InputBuffer;
  if (!b) return 1;
  b->delay = delay;
  b->ringPairs = delay + 1728;
  b->mirrorPairs = delay + 576;
  b->data.reset(
      new (std::nothrow) float[2 * static_cast<std::size_t>(b->ringPairs + b->mirrorPairs)]);
  if (!b->data) {
    delete b;
    return 1;
  }
  InitInputBuffer(b);
  *buffer = b;
  return 0;
}

void InputBufferDelete(InputBuffer* buffer) {
  delete buffer;
}

int InitInputBuffer(InputBuffer* b) {
  std::fill_n(b->data.get(), 2 * static_cast<std::size_t>(b->ringPairs + b->mirrorPairs), 0.0f);
  b->readPos = 0;
  b->writePos = b->delay;
  return 0;
}

int FeedInputBuffer(InputBuffer* b, const float* pairs, int count) {
  float* d = b->data.get();
  const int L = b->ringPairs, M = b->mirrorPairs;
  // Longer feeds than the ring would overwrite what the filter bank has not read yet.
  count = std::min(count, L);
  const int w = b->writePos;
  const int first = std::min(L - w, count);
  std::memcpy(d + 2 * w, pairs, sizeof(float) * 2 * static_cast<std::size_t>(first));
  const int rest = count - first;
  if (rest > 0) {
    std::memcpy(d, pairs + 2 * first, sizeof(float) * 2 * static_cast<std::size_t>(rest));
  }
  // Keep the mirror equal to the ring's first M pairs.
  if (rest > 0) {
    const int n = std::min(rest, M);
    std::memcpy(d + 2 * L, d, sizeof(float) * 2 * static_cast<std::size_t>(n));
  }
  if (w < M) {
    const int end = std::min(M, w + first);
    std::memcpy(d + 2 * (L + w), d + 2 * w, sizeof(float) * 2 * static_cast<std::size_t>(end - w));
  }
  b->writePos = (w + count) % L;
  return 0;
}

float* AccessInputBuffer(InputBuffer* b, int offset, int channel) {
  return b->data.get() + 2 * ((b->readPos + offset) % b->ringPairs) + channel;
}

int InvalidateInputBuffer(InputBuffer* b, int count) {
  b->readPos = (b->readPos + count) % b->ringPairs;
  return 0;
}

}  // namespace quillion::mp3enc
