// SPDX-License-Identifier: GPL-2.0-or-later
// The sample-rate converter in front of the encoder core: a polyphase FIR filter designed
// with a Kaiser window, for any ratio of two integer rates, or a plain low-pass at equal
// rates, or a copy. Each call turns one input block into a fixed number of output samples;
// the converter names the size of the next block after every call.
#pragma once

#include <cstdint>
#include <vector>

namespace quillion::mp3enc {

// Low-pass requirements: pass-band edge and transition width in Hz, stop-band attenuation
// in dB.
struct LowPassSpec {
  float cutoff = 0.0f;
  float transition = 0.0f;
  float attenuation = 0.0f;
};

inline constexpr float FILTER_TBW = 0.1f;
inline constexpr float FILTER_ATTENUATION = 75.0f;

enum class ResampleMethod { Copy, LowPass, Polyphase };

// Kaiser window shape for a stop-band attenuation in dB.
[[nodiscard]] double kaiserBeta(double attenuation);
// Filter length (taps) for an attenuation and a transition width relative to the rate.
[[nodiscard]] int kaiserLength(double attenuation, double transitionOverRate);
// The zeroth-order modified Bessel function of the first kind.
[[nodiscard]] double besselI0(double x);

struct Resampler {
  ResampleMethod method = ResampleMethod::Copy;
  int channels = 1;
  int outFrames = 0;                // output sample frames per call
  std::int64_t up = 1, down = 1;    // output rate / input rate = up / down, reduced
  int half = 0;                     // taps either side of the centre, in input samples
  std::int64_t delay = 0;           // output frames between an input instant and its output
  std::vector<float> coefficients;  // up phases x (2 half + 1) taps
  std::vector<float> history;       // the last 2 half input frames, then the block
  std::vector<float> output;        // outFrames x channels
  std::int64_t framesIn = 0;        // input frames received
  std::int64_t framesOut = 0;       // output frames produced
  int blockFrames = 0;              // input frames wanted next
};

// 0; 1 for bad arguments (no rates, no channels, no spec when the rates differ, a ratio
// that needs more phases than the converter keeps) or no memory.
[[nodiscard]] int smpl_resampler_fo_construct(Resampler* r, const LowPassSpec* spec,
                                              std::int32_t inRate, std::int32_t outRate,
                                              int channels, int outSamplesPerCall);
// Where the next block goes (block size values, interleaved).
[[nodiscard]] float* smpl_resampler_fo_input(Resampler* r);
[[nodiscard]] int smpl_resampler_fo_block_size(const Resampler* r);
// Converts the block written at the input and returns the output samples (outSamplesPerCall).
[[nodiscard]] const float* smpl_resampler_fo_advance(Resampler* r);
// Delay of the converter in output samples.
[[nodiscard]] int smpl_resampler_fo_get_delay(const Resampler* r);
void smpl_resampler_fo_destruct(Resampler* r);

}  // namespace quillion::mp3enc
