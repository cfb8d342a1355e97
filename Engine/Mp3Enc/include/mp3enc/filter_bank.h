// SPDX-License-Identifier: GPL-2.0-or-later
// The hybrid analysis filter bank: the standard's 32-band polyphase filter followed by the
// MDCT (long blocks of 36 subband samples, short blocks of 12) and, for long blocks, the
// encoder-side alias-reduction butterflies. Single precision throughout.
#pragma once

#include <cstdint>
#include <memory>

#include "mp3enc/aligned_memory.h"

namespace quillion::mp3enc {

inline constexpr int kSubbands = 32;
inline constexpr int kSlotsPerGranule = 18;
inline constexpr int kTransformFloats = kSubbands * 36;  // previous and current 18 samples per subband
inline constexpr int kShortWindowLines = 192;

struct PolyPhaseState {
  AlignedArray<float> history;  // the last 512 samples; sample k back from the newest at (writePos + k) mod 512
  AlignedArray<float> window;   // the analysis window C[0..511]
  int writePos = 0;             // a multiple of 32; steps down by 32 after every subband slot
};

// 0, or 1 when state is null or memory runs out.
[[nodiscard]] int PolyPhaseNew(PolyPhaseState** state);
void PolyPhaseDelete(PolyPhaseState* state);
int PolyPhaseInit(PolyPhaseState* state);

// One granule of one channel: 576 samples read from input[0], input[2], ... (the encoder's
// input interleaves two channels), written as subband samples into the second half of each
// subband of the transform buffer, odd slots of odd subbands negated. Returns 1.
using PolyAnalyseFunc = int (*)(PolyPhaseState* state, const float* input, float* transform);
int PolyAnalyse_NoOpt(PolyPhaseState* state, const float* input, float* transform);
extern const PolyAnalyseFunc PolyAnalyse;

int InitTransform(float* transform);
int ShiftTransformBuffer(float* transform);
// Long blocks (types 0, 1, 3): 576 lines, subband-major, scaled by 1/9. Any other type
// leaves the spectrum untouched.
int MdctTransform_LONG(const float* transform, float* spectrum, int blockType);
// One short window (0..2): 192 lines, subband-major, scaled by 1/3.
int MdctTransform_SHORT(const float* transform, float* spectrum, int window);
int AliasReduction(float* spectrum);

// In-place complex DFTs of 3 and 9 points, X_k = sum of x_n e^(-2 pi i n k / N), unscaled and
// in natural order, on interleaved (real, imaginary) floats.
int cfft_3(float* data);
int cfft_9(float* data);
// In-place 32-point DCT-III: S_i = sum over n of x_n cos((2i + 1) n pi / 64), x_0 with weight 1.
int fct_iii(float* data);

// The analysis window of the standard (Annex C), 512 coefficients C[0..511].
[[nodiscard]] const double (&anaWindowTable())[512];
// The standard's four MDCT windows, by block type (row 2 uses its first 12 entries).
[[nodiscard]] const float* mdctWindow(int blockType);
// Alias-reduction coefficients cs_i and ca_i.
extern const float c_signal[8];
extern const float c_alias[8];

struct PolyPhaseDeleter {
  void operator()(PolyPhaseState* s) const noexcept { PolyPhaseDelete(s); }
};
using PolyPhasePtr = std::unique_ptr<PolyPhaseState, PolyPhaseDeleter>;

}  // namespace quillion::mp3enc
