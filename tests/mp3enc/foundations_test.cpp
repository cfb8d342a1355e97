// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "mp3enc/aligned_memory.h"
