// SPDX-License-Identifier: GPL-2.0-or-later
// The device list as a vector, for tests.
#pragma once

#include <cstdlib>
#include <vector>

#include "quillion/DC.h"

namespace quillion::test {

inline std::vector<DC_Device> connectedDevices() {
  DC_Device* raw = nullptr;
  const std::uint16_t n = DC_GetConnectedDeviceList(&raw);
  std::vector<DC_Device> out(raw, raw + n);
  std::free(raw);
  return out;
}

}  // namespace quillion::test
