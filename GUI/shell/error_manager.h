// SPDX-License-Identifier: GPL-2.0-or-later
// The two texts the user sees for a failed engine call: a title from the engine status and a
// message from the sense data of the drive command that failed.
#pragma once

#include <QString>

#include "quillion/MMC.h"

namespace quillion {

class SheetHost;

namespace ErrorManager {

// Only the low 16 bits of `status` count, read as a signed number. Fills both texts, or
// nothing when either is missing.
void returnErrorStrings(int status, const MMC_SenseData& sense, QString* title, QString* message);
// Shows both texts as a message sheet on the host's window with one "OK" button.
void displayError(int status, SheetHost& host, const MMC_SenseData& sense);

}  // namespace ErrorManager
}  // namespace quillion
