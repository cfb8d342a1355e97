// SPDX-License-Identifier: GPL-2.0-or-later
// Bit allocation: how many quantiser steps each subband gets within the frame's budget, and
// in joint stereo from which subband on the channels share their samples.
#pragma once

#include "frame.h"

namespace quillion::ferrule {

// Fills data.allocation for `layout` (whose bound is final). Returns the bits spent,
// header and CRC included.
int allocateBits(const FrameLayout& layout, FrameData& data, int budgetBits);

// Bits a frame needs so that no subband's noise is audible, for this layout.
int bitsForInaudibleNoise(const FrameLayout& layout, const FrameData& data);

// Layer II: the selection information of every subband and channel, and the scale factor
// each part is then coded with.
void chooseScaleFactorSelection(const FrameLayout& layout, FrameData& data);

}  // namespace quillion::ferrule
