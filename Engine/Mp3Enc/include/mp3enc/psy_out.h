// SPDX-License-Identifier: GPL-2.0-or-later
// What the psychoacoustic model hands to quantisation for one granule: per channel the
// spectrum in stream order with its band energies, masking thresholds and the inputs of the
// perceptual-entropy estimate. Short blocks store every per-band quantity band-major and
// window-minor: entry 3b + w is band b of window w.
#pragma once

namespace quillion::mp3enc {

inline constexpr int kMaxSfbEntries = 39;  // 13 short bands x 3 windows
inline constexpr int kPsyLines = 576;

// Perceptual entropy of one channel's bands.
struct PeChannelData {
  float sfbLdEnergy[kMaxSfbEntries] = {};
  int sfbNLines[kMaxSfbEntries] = {};  // estimated lines that will be coded
  float sfbPe[kMaxSfbEntries] = {};
  float sfbConstPart[kMaxSfbEntries] = {};
  int sfbNActiveLines[kMaxSfbEntries] = {};
  float pe = 0.0f;
  float constPart = 0.0f;
  int nActiveLines = 0;
  float start = 0.0f;  // 125 for a short block: its side information costs more
};

struct PeData {
  PeChannelData channel[2];
  float pe = 0.0f;
  float constPart = 0.0f;
  int nActiveLines = 0;
};

struct PsyOutChannel {
  int blockType = 0;
  int windows = 1;
  int sfbCnt = 0;     // 22 long, 39 short
  int sfbActive = 0;  // bands below the cut-off (three times the window count for short)
  int sfbOffset[kMaxSfbEntries + 1] = {};
  float spectrum[kPsyLines] = {};
  float energy[kMaxSfbEntries] = {};
  float msEnergy[kMaxSfbEntries] = {};
  float threshold[kMaxSfbEntries] = {};
  float formFactor[kMaxSfbEntries] = {};
  float maxSpec[kMaxSfbEntries] = {};  // largest magnitude of each band
  float pe = 0.0f;
};

struct PsyOut {
  int msUsed = 0;
  int isUsed = 0;
  int shortPresent = 0;  // 2 when any channel has a short block
  int sfbActiveWindow[3] = {};
  int isStartWindow[3] = {};
  int isPosition[kMaxSfbEntries] = {};
  int channels = 1;
  PsyOutChannel channel[2];
  PeData peData;
  float totalPe = 0.0f;
  float totalPeForRate = 0.0f;
};

}  // namespace quillion::mp3enc
