// SPDX-License-Identifier: GPL-2.0-or-later
// Forwarding header for suites not yet moved to test_support.h.
#pragma once

#include "float_decoders.h"
#include "tests/support/test_support.h"
