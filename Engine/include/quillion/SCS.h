// SPDX-License-Identifier: GPL-2.0-or-later
// Sense texts: one line of English for the sense of a failed drive command.
#pragma once

#include "quillion/MMC.h"

// Room the caller gives `text`.
inline constexpr unsigned kSCS_TextCapacity = 128;

// Writes "((kkh, aah, qqh), <key name>, <description>)" or "No Sense code." into `text`
// (at least kSCS_TextCapacity bytes). A null text does nothing; a null sense leaves it empty.
void SCS_GetStringFromSense(const MMC_SenseData* sense, char* text);
