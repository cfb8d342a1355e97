// SPDX-License-Identifier: GPL-2.0-or-later
// Attack detection that chooses each granule's window (long, start, short, stop), the
// agreement of both channels on one window, and the delayed input ring that lets the
// detector look ahead of the filter bank.
#pragma once

#include <cstdint>
#include <memory>

namespace quillion::mp3enc {

inline constexpr int kBlockLong = 0;
inline constexpr int kBlockStart = 1;
inline constexpr int kBlockShort = 2;
inline constexpr int kBlockStop = 3;

// Samples the detector reads ahead of the filter bank.
inline constexpr int kBlockSwitchingOffset = 144;
[[nodiscard]] constexpr int GetBlockSwitchingOffset() {
  return kBlockSwitchingOffset;
}

// Segment energy above which a rise can be an attack (16-bit scale, after the high-pass).
inline constexpr float kAttackEnergyFloor = 23555000.0f;

struct BlockSwitchingState {
  int emitType = kBlockLong;  // the window of this granule
  int nextType = kBlockLong;  // tentative window of the next granule
  int attack = 0;
  int lastAttack = 0;
  float lastEnergy[3] = {};
  float energy[3] = {};
  float filterIn = 0.0f;   // the high-pass filter's last input
  float filterOut = 0.0f;  // and its last output
};

[[nodiscard]] int mp3BlockSwitchingNew(BlockSwitchingState** state);
void mp3BlockSwitchingDelete(BlockSwitchingState* state);
int mp3BlockSwitchingInit(BlockSwitchingState* state);
// One granule of 576 samples read from input[0], input[stride], ...; returns 1.
int mp3BlockSwitching_NoOpt(BlockSwitchingState* state, const float* input, int stride);
using BlockSwitchingFunc = int (*)(BlockSwitchingState*, const float*, int);
extern BlockSwitchingFunc mp3BlockSwitching;
// The attack tests and window transitions on the segment energies already in the state
// (lastEnergy holding the previous granule's); every variant ends with it, so that block
// decisions never depend on the processor.
void mp3BlockSwitchingDecide(BlockSwitchingState* state);

// The window each channel takes. With two channels and synchronise set both take the
// window of the table, and their tentative next windows follow it (a start window is
// always followed by a short one). Returns 1.
int mp3SyncBlockSwitching(BlockSwitchingState* state0, BlockSwitchingState* state1, int channels,
                          int synchronise, int* blockType0, int* blockType1);
extern const int synchronizedBlockTypeTable[4][4];

struct BlockSwitchingDeleter {
  void operator()(BlockSwitchingState* s) const noexcept { mp3BlockSwitchingDelete(s); }
};
using BlockSwitchingPtr = std::unique_ptr<BlockSwitchingState, BlockSwitchingDeleter>;

// Interleaved sample pairs (mono stores pairs too) in a ring of delay + 1728 pairs, followed
// by a mirror of delay + 576 pairs so that any read of that many pairs needs no wrap test.
struct InputBuffer {
  int delay = 0;
  int ringPairs = 0;
  int mirrorPairs = 0;
  int writePos = 0;
  int readPos = 0;
  std::unique_ptr<float[]> data;
};

[[nodiscard]] int InputBufferNew(InputBuffer** buffer, int delay);
void InputBufferDelete(InputBuffer* buffer);
int InitInputBuffer(InputBuffer* buffer);
int FeedInputBuffer(InputBuffer* buffer, const float* pairs, int count);
[[nodiscard]] float* AccessInputBuffer(InputBuffer* buffer, int offset, int channel);
int InvalidateInputBuffer(InputBuffer* buffer, int count);

struct InputBufferDeleter {
  void operator()(InputBuffer* b) const noexcept { InputBufferDelete(b); }
};
using InputBufferPtr = std::unique_ptr<InputBuffer, InputBufferDeleter>;

}  // namespace quillion::mp3enc
