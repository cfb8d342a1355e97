// SPDX-License-Identifier: GPL-2.0-or-later
// The window controller of a data disc layout. Beside the base's burn road it has the
// outline's model, the DVD-Video mode with its fixed "VIDEO_TS" and "AUDIO_TS" folders, its
// own checks of the medium before a burn, and a sizing pass whose job is kept and burned as
// it was prepared. The layout's tree is saved and loaded as a tree map that must read back
// whole: a damaged one is refused rather than opened in part.
//
// Disc spanning hooks in where the burn road asks for it: the calls named spanning* below,
// which with spanning switched off leave the road as it is for a single disc.
#pragma once

#include <cstdint>
#include <memory>

#include "layout/base_layout_win_ctlr.h"
#include "layout/disc_spanning.h"
#include "quillion/FS.h"

namespace quillion {

class DataLayoutCtlr;

class DataWinCtlr final : public BaseLayoutWinCtlr {
  Q_OBJECT

 public:
  // Data-disc format of a DVD-Video layout: UDF in DVD-Video order.
  static constexpr int kDVDVideoFormat = 64;

  explicit DataWinCtlr(const LayoutKind& kind);
  ~DataWinCtlr() override;

  // The outline's model, which owns the layout's tree.
  DataLayoutCtlr& dataLayoutModel() const { return *model_; }
  FS_Tree* layoutTree() const;
  void setFormatType(unsigned format);

  // DVD-Video order is its own format and cannot be spread over several discs.
  void setAsVideoTSDoc() override;
  bool isVideoTS() const { return videoTS_; }
  // With the DVD-Video format, an empty "VIDEO_TS" and "AUDIO_TS" under the disc when missing.
  void checkDVDMovieFormat() override;
  // The base's choice of format, then the spanning controls follow it.
  void toggleFormat() override;

  void loadLayout(const LayoutFileIO& file) override;
  void saveLayout(LayoutFileIO& file) override;
  // False after loadLayout() refused a damaged tree map (the layout stayed empty).
  bool lastLayoutLoaded() const { return layoutLoaded_; }

  BurnCheck BSburnDisc() override;
  void BSstartDiscBurn(int senderTag) override;
  void burnCompleted(int result) override;
  void ASalertOk() override;

  QString windowTitleForDocumentDisplayName(const QString& displayName) const override;

 protected:
  std::unique_ptr<QMainWindow> makeWindow() override;
  void windowDidLoad() override;
  std::optional<burn::SizingRequest> sizingRequest(burn::SizingRoute route) override;
  void setLayoutModelBusy(burn::LayoutModel model, bool busy) override;

 private:
  bool layoutIsEmpty() const;
  bool hasImportedData() const;
  FS_Node* rootChildTitled(const char* title) const;
  // Adds an empty, expanded folder under the disc; answers whether it was added.
  bool addRootFolder(const char* title);
  BurnCheck refuse(const char* titleKey, const char* messageKey);
  // Asks before appending to a disc the format cannot append to; "Continue Anyway" goes on.
  void askAppendAnyway(const char* titleKey, const char* messageKey);
  void startFileCheck();
  EngineStatus applyDataJobSettings(BP_JobRef job);
  void selectSavedDestination();

  // ---- disc spanning (data_win_span.cpp: the controls and their wiring;
  // data_win_span_hooks.cpp: where the burn road hands over) ----
 public:
  // The spanning switch, sizes, sheets and the spanned burn; null until the window loaded.
  DiscSpanning* discSpanning() const { return span_.get(); }

 private:
  void setUpDiscSpanning();
  DiscSpanHooks discSpanHooks();
  void setDestinationStatus(std::uint16_t status);
  // The window has loaded (the layout file included): the controls show its state.
  void spanningWindowLoaded();
  // A layout file set the switch: spanning is switched as the user would.
  void spanningLayoutLoaded();
  void spanningFormatChanged();
  // While spanning is on the destination and format pop-ups offer no choice it cannot burn.
  void validateSpanningItems();
  bool discSpanningOn() const;
  // Before the file check of a drive: the estimate for the disc's free blocks; false stops
  // the burn (the large-files warning).
  bool spanningEstimateLetsBurnGoOn(std::uint32_t freeBlocks);
  // The tree the sizing pass sizes, or null for the layout's own tree.
  FS_Tree* spanningTreeForSizing(std::uint32_t freeBlocks);
  // The tree of the next disc when a burn starts after the first disc, or null.
  FS_Tree* spanningTreeForNextDisc();
  bool spanningPastFirstDisc() const;
  // A burn ended: true when spanning goes on with another disc and the base's end waits.
  bool spanningTakesOverCompletion(int result);
  void spanningBurnStarts();
  void spanningResultDismissed();
  std::unique_ptr<DiscSpanning> span_;

  std::unique_ptr<DataLayoutCtlr> model_;
  bool videoTS_ = false;
  bool layoutLoaded_ = true;
};

}  // namespace quillion
