// SPDX-License-Identifier: GPL-2.0-or-later
// Where the data window's burn road meets disc spanning. With spanning off each of these
// keeps the road of a single disc.
#include <QCheckBox>
#include <QComboBox>

#include "documents/data_win_ctlr.h"

namespace quillion {

bool DataWinCtlr::discSpanningOn() const {
  // HFS, its hybrids and DVD-Video are never spread over discs.
  return layoutState().discSpan && span::formatAllowsSpanning(formatType());
}

bool DataWinCtlr::spanningEstimateLetsBurnGoOn(std::uint32_t freeBlocks) {
  return !span_ || span_->prepareSpannedBurn(freeBlocks);
}

FS_Tree* DataWinCtlr::spanningTreeForSizing(std::uint32_t freeBlocks) {
  // An image holds the whole layout; only a disc in a drive is cut into parts.
  if (!span_ || !span_->isRunning() || !isRealDriveRef(burnSettings().dstDriveRef)) return nullptr;
  // A spanned burn is not verified: each disc holds only a part of the layout.
  if (BurnOptionsSheet* options = burnOptionSheet()) {
    options->BSverifyDataSwitch->setChecked(false);
    options->BSverifyDataSwitch->setEnabled(false);
    options->BSverifyDataSwitch->hide();
  }
  FS_Tree* tree = span_->treeForDisc(freeBlocks);
  return tree == layoutTree() ? nullptr : tree;
}

FS_Tree* DataWinCtlr::spanningTreeForNextDisc() {
  return span_ ? span_->currentPart() : nullptr;
}

bool DataWinCtlr::spanningPastFirstDisc() const {
  return span_ && span_->isRunning() && span_->discID() > 1;
}

bool DataWinCtlr::spanningTakesOverCompletion(int result) {
  if (!span_) return false;
  // Only a drive goes on to another disc; an image run ends whatever spanning was set up.
  const bool drive = isRealDriveRef(burnSettings().dstDriveRef);
  return span_->burnCompleted(drive && result == kResultCompleted) && drive;
}

void DataWinCtlr::spanningBurnStarts() {
  if (span_) span_->controls().discSpanList->hide();
}

void DataWinCtlr::spanningResultDismissed() {
  if (span_) span_->controls().discSpanList->show();
}

}  // namespace quillion
