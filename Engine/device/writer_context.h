// SPDX-License-Identifier: GPL-2.0-or-later
// The disc writer's context: the reference it was made for and the destination it writes to.
#pragma once

#include <cstdint>
#include <memory>

#include "device/destination.h"

struct myBurnEng_Pack {
  std::uint32_t ref = 0;
  std::unique_ptr<quillion::writer::Destination> destination;
};
