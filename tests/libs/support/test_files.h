// SPDX-License-Identifier: GPL-2.0-or-later
// Forwarding header for suites not yet moved to test_support.h.
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace quillion::test {

inline bool haveTool(const std::string& tool) {
  return toolAvailable(tool);
}

}  // namespace quillion::test
