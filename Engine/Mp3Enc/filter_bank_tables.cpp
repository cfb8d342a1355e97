// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/filter_bank.h"
namespace quillion::mp3enc {
const double anaWindow[512] = {};
}
