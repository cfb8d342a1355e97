// SPDX-License-Identifier: GPL-2.0-or-later
// Where the data window's burn road meets disc spanning. Until a layout is spread over
// several discs, each of these keeps the road of a single disc: the switch reads the
// layout's saved setting, and nothing else changes the burn.
#include "documents/data_win_ctlr.h"

namespace quillion {

bool DataWinCtlr::discSpanningOn() const {
  return layoutState().discSpan && formatType() != kDVDVideoFormat;
}

bool DataWinCtlr::spanningEstimateLetsBurnGoOn(std::uint32_t) {
  return true;
}

FS_Tree* DataWinCtlr::spanningTreeForSizing(std::uint32_t) {
  return nullptr;
}

FS_Tree* DataWinCtlr::spanningTreeForNextDisc() {
  return nullptr;
}

bool DataWinCtlr::spanningPastFirstDisc() const {
  return false;
}

bool DataWinCtlr::spanningTakesOverCompletion(int) {
  return false;
}

void DataWinCtlr::spanningBurnStarts() {}

void DataWinCtlr::spanningResultDismissed() {}

}  // namespace quillion
