// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning in a data window: the switch, the disc-size list and the count of discs it
// shows; the refusal of files too large for one disc; and a spanned burn, disc after disc,
// with the wait for the next blank disc between two parts and the log that says where each
// file went. The window owns one and reaches it from its controls, its notifications and its
// burn road; it answers what spanning needs of the window through DiscSpanHooks.
// Everything here runs on the main thread.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "burn/disc_span.h"
#include "framework/repeating_timer.h"
#include "layout/disc_span_sheets.h"

class FS_Tree;

namespace quillion {

class SheetHost;
class SavePanel;

// The disc-size list: before it opens, the window decides which sizes may be chosen.
class DiscSizePopUp final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> aboutToShow;
  void showPopup() override;
};

// The spanning controls of the window: the switch, the disc sizes, the count with its
// "Disc(s)" label, and the button that saves the log after a spanned burn.
struct DiscSpanControls {
  DiscSpanControls(const std::vector<span::DiscSize>& sizes, QWidget* window);
  QPointer<QWidget> widget;  // a child of the window, which places it
  QPointer<QCheckBox> discSpanSwitch;
  QPointer<QComboBox> discSpanList;
  QPointer<QLabel> discSpanNumber;
  QPointer<QLabel> discSpanText;
  QPointer<QPushButton> discSpanSaveLogButton;
};

// The disc in the destination drive as spanning needs it.
struct SpanDisc {
  std::uint8_t discStatus = 0;  // 0 blank, 1 closed, 2 appendable
  std::uint32_t freeBlocks = 0;
};

struct DiscSpanHooks {
  std::function<FS_Tree*()> layoutTree;
  std::function<unsigned()> formatType;
  // The outline shows the tree again after nodes were added or removed.
  std::function<void()> refreshOutline;
  // The layout model flags new nodes as temporary while spanning is on.
  std::function<void(bool on)> setModelSpanning;
  // The destination is an image writer: the first destination is chosen instead.
  std::function<void()> leaveImageWriter;
  // The disc in the destination drive, read afresh; none without a disc.
  std::function<std::optional<SpanDisc>()> destinationDisc;
  std::function<std::uint32_t()> destinationRef;
  // The drive's status in the device list, with its notification.
  std::function<void(std::uint32_t ref, std::uint16_t status)> setDriveStatus;
  // A refused or cancelled burn: the drive ready with its notification, the destination
  // pop-up enabled, the layout no longer busy.
  std::function<void()> endRefusedBurn;
  // A part has been burnt and another follows: the progress sheet closes, the window
  // returns to its size, the job and the part's log are finished.
  std::function<void()> finishPart;
  // The options sheet's burn, without a sender: burns the next part.
  std::function<void()> startNextBurn;
  std::function<void(std::uint32_t ref)> eject;
  std::function<void(std::uint32_t ref)> unmountAndEject;
};

class DiscSpanning {
 public:
  DiscSpanning(QWidget* window, SheetHost& sheets, DiscSpanHooks hooks,
               const std::vector<span::DiscSize>& sizes = span::standardDiscSizes());
  ~DiscSpanning();
  DiscSpanning(const DiscSpanning&) = delete;
  DiscSpanning& operator=(const DiscSpanning&) = delete;

  DiscSpanControls& controls() { return controls_; }
  LargeFilesSheet* warningPanel() const { return warning_.get(); }
  InsertDiscSheet* insertDiscPanel() const { return insertDisc_.get(); }
  void setSavePanel(SavePanel* panel) { savePanel_ = panel; }

  bool isOn() const;
  std::uint32_t numDiscsRequired() const { return numDiscsRequired_; }
  std::uint32_t curSelectedDiscSize() const { return curSelectedDiscSizeIn2kBlks_; }
  std::uint32_t lastSelectedDiscSize() const { return lastSelectedDiscSizeIn2kBlks_; }
  std::uint32_t biggestFileSize() const { return biggestFileSizeIn2kBlks_; }
  const span::LargeFiles& largeFiles() const { return largeFiles_; }
  std::uint32_t discID() const { return discID_; }
  // A spanned burn is under way: from its estimate to its last disc or its cancel.
  bool isRunning() const { return running_; }
  const span::Remainder& remainder() const { return remainder_; }
  span::InsertDiscStatus insertDiscStatus() const { return insertDiscStatus_; }
  bool isWaitTimerRunning() const { return waitForDiscSpanTimer_.isRunning(); }

  // ---- controls and the layout ----
  // The window has loaded: the controls show the switch's state, and the selected size
  // becomes the current and the last accepted one.
  void awake();
  void getSpanDiscInfo();
  // After the format pop-up changed: formats that cannot span turn the switch off.
  void toggleFormat();
  void enableDiscSpan();
  // A DVD-Video layout never spans: the switch goes off and the controls away.
  void disableForVideoTS();
  void changeDiscSpanList();
  // Whether the disc-size item of `blocks` may be chosen (estimates for that size); items
  // without a size are not disc sizes.
  bool discSizeItemEnabled(std::uint32_t blocks);
  // Enables the items of the disc-size list by discSizeItemEnabled(); run as it opens.
  void validateDiscSizeItems();
  // While spanning is on the image writers and the formats that cannot span are disabled.
  bool destinationItemEnabled(std::uint32_t ref) const;
  bool formatItemEnabled(unsigned format) const;
  // Enables the items of the window's destination pop-up (item data: the writer's reference)
  // and format pop-up (item data: the format code) by the two rules above. Either may be null.
  void validateWindowItems(QComboBox* destinations, QComboBox* formats) const;
  void itemsRemoved();
  // A drop on the outline while spanning is on; false when spanning is off (the window's
  // own handling applies).
  bool filesDroppedInLayout();
  void dismissWarningPanel();
  void removeFilesAndContinue();
  void setSwitch(bool on);

  // ---- a spanned burn ----
  // Before the file check: files too large for the disc in the drive refuse the burn with
  // the warning sheet; otherwise disc 1 is prepared. False: the burn stops.
  bool prepareSpannedBurn(std::uint32_t freeBlocks);
  // The tree to burn on disc `discID()` of a disc with `freeBlocks`: the layout's own when it
  // fits on one disc, else the part cut for this disc (titled "<title>-<disc>"), kept here
  // until the next part; null when nothing is left.
  FS_Tree* treeForDisc(std::uint32_t freeBlocks);
  // The tree cut for the disc being burnt; null before the first or for a one-disc layout.
  // The wait between two discs cuts the next disc's part before it starts its burn.
  FS_Tree* currentPart() const { return part_.get(); }
  // The end of a burn (`success`: it completed). True when another disc follows (the wait for it
  // has begun); false when the window's own end of the burn follows.
  bool burnCompleted(bool success);

  void startWaitForDiscSpanTimer();
  void stopWaitForDiscSpanTimer();
  void waitForDiscSpanProgressFunction();
  void cancelSpanDisc();
  // The save panel for the log, then the log.
  void discSpanSaveLog();
  // The log of the last spanned burn to `path`.
  EngineStatus writeLog(const QString& path) const;

 private:
  struct TreeDeleter {
    void operator()(FS_Tree* tree) const;
  };
  void showCount();
  void hideCount();
  void estimate(std::uint32_t capacity);
  void openWarning(LargeFilesSheet::Reason reason);
  void closeWarning();
  QString treeTitle() const;
  std::uint32_t selectedSize() const;

  QPointer<QWidget> window_;
  SheetHost& sheets_;
  DiscSpanHooks hooks_;
  DiscSpanControls controls_;
  std::unique_ptr<LargeFilesSheet> warning_;
  std::unique_ptr<InsertDiscSheet> insertDisc_;
  SavePanel* savePanel_ = nullptr;
  RepeatingTimer waitForDiscSpanTimer_;

  std::uint32_t numDiscsRequired_ = 0;
  std::uint32_t curSelectedDiscSizeIn2kBlks_ = 0;
  std::uint32_t lastSelectedDiscSizeIn2kBlks_ = 0;
  span::LargeFiles largeFiles_;
  std::uint32_t biggestFileSizeIn2kBlks_ = 0;
  std::uint32_t discID_ = 1;
  span::Remainder remainder_;
  span::InsertDiscStatus insertDiscStatus_ = span::InsertDiscStatus::kNoDisc;
  std::unique_ptr<FS_Tree, TreeDeleter> part_;
  bool spanned_ = false;  // the last burn went over more than one disc
  bool running_ = false;
};

}  // namespace quillion
