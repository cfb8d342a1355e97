// SPDX-License-Identifier: GPL-2.0-or-later
// The channel element tells the encoder core how the coded channels share the bit reservoir,
// and the coupling records that quantisation holds a pair of.
#pragma once

namespace quillion::mp3enc {

inline constexpr int kElementSharedReservoir = 1;  // one reservoir for both channels
inline constexpr int kElementPerChannel = 2;       // one per channel; a stereo element

struct ChannelElement {
  int mode = 0;
  ChannelElement* link = nullptr;
  int stereo = 0;
};

// 0, or 1 when holder is null or memory runs out (holder then null).
[[nodiscard]] int CENew(ChannelElement** holder);
// Fills the element for a mode (1 or 2) and returns 1; 0 for a null element or another mode.
int InitCE(ChannelElement* element, int mode);
void CEDelete(ChannelElement* element);

// Channel coupling between the coded channels: the stream syntax offers none beyond the
// stereo tools, so the record carries nothing.
struct ChannelCoupling {};

// 0, or 1 when holder is null or memory runs out.
[[nodiscard]] int CCNew(ChannelCoupling** holder);
// Frees both records of a pair; null entries are ignored.
void CCDelete(ChannelCoupling* pair[2]);

}  // namespace quillion::mp3enc
