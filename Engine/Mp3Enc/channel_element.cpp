// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/channel_element.h"

#include <new>

namespace quillion::mp3enc {

int CENew(ChannelElement** holder) {
  if (!holder) return 1;
  *holder = new (std::nothrow) ChannelElement;
  return *holder ? 0 : 1;
}

int InitCE(ChannelElement* element, int mode) {
  if (!element || (mode != kElementSharedReservoir && mode != kElementPerChannel)) return 0;
  element->mode = mode;
  element->link = nullptr;
  element->stereo = mode == kElementPerChannel ? 1 : 0;
  return 1;
}

void CEDelete(ChannelElement* element) {
  delete element;
}

int CCNew(ChannelCoupling** holder) {
  if (!holder) return 1;
  *holder = new (std::nothrow) ChannelCoupling;
  return *holder ? 0 : 1;
}

void CCDelete(ChannelCoupling* pair[2]) {
  if (!pair) return;
  for (int i = 0; i < 2; ++i) {
    delete pair[i];
    pair[i] = nullptr;
  }
}

}  // namespace quillion::mp3enc
