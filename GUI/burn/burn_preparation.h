// SPDX-License-Identifier: GPL-2.0-or-later
// The road of a burn request from Burn to the burn options: the file check with its wait
// sheet, the missing-files sheet, the sizing pass with its wait sheet and the overburn
// question. A refused request always ends the same way: every model the check marked busy
// is freed, the window's abandon hook puts the drive back to ready, and an alert or the
// engine's error explains why (a declined overburn question and a cancel explain nothing).
//
// The window supplies the hooks; workers run on its executor and never reach a widget.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "burn/burn_prompts.h"
#include "burn/file_check.h"
#include "burn/missing_files_sheet.h"
#include "burn/sizing_pass.h"
#include "burn/wait_sheet.h"
#include "framework/repeating_timer.h"

namespace quillion {
class SheetHost;
}

namespace quillion::burn {

struct BurnPreparationHooks {
  std::function<void(LayoutModel, bool busy)> setBusy;
  // The burn does not take place: drive status back to ready with its notification, the
  // destination pop-up enabled again.
  std::function<void()> abandon;
  // The sizing request of the window's current state for `route`; none when the window has
  // no pass for it (the request is then given up).
  std::function<std::optional<SizingRequest>(SizingRoute route)> sizingRequest;
  // The layout fits: open the burn options (drive) or let the burn start (image file).
  std::function<void(const SizingOutcome& outcome)> proceed;
  // The missing-files sheet's services (see MissingFilesSheetHooks).
  std::function<QString(const QString& missingPath)> chooseFile;
  std::function<void(FS_Node* node, LayoutModel owner)> relinked;
  std::function<void()> layoutChanged;
  // The engine refused to size the layout; the default shows the engine's error text.
  std::function<void(EngineStatus status)> showEngineError;
};

class BurnPreparation {
 public:
  BurnPreparation(QWidget* window, SheetHost& sheets, BurnExecutor& executor,
                  BurnPreparationHooks hooks);
  ~BurnPreparation();
  BurnPreparation(const BurnPreparation&) = delete;
  BurnPreparation& operator=(const BurnPreparation&) = delete;

  // Main thread. False while a request is under way.
  bool start(CheckRoutine routine, const CheckedLayout& layout);
  bool running() const { return running_; }

  // The sheets, for the window and for tests.
  WaitSheet& waitSheet() { return wait_; }
  MissingFilesSheet* missingFilesSheet() const { return missing_.get(); }
  OverburnPrompt& overburnPrompt() { return overburn_; }

 private:
  void showCheckProgress(const FileCheckProgress& progress);
  void closeWaitSheet();
  void showMissingFiles(std::vector<FS_Node*> missing);
  void size(SizingRoute route);
  void sized(const SizingOutcome& outcome);
  void giveUp();

  QPointer<QWidget> window_;
  SheetHost& sheets_;
  BurnPreparationHooks hooks_;
  CheckedLayout layout_;
  CheckRoutine routine_ = CheckRoutine::Tree;
  WaitSheet wait_;
  OverburnPrompt overburn_;
  std::unique_ptr<MissingFilesSheet> missing_;
  RepeatingTimer progressTimer_;
  FileCheck check_;
  SizingPass sizing_;
  bool running_ = false;
  bool largeLayout_ = false;
};

}  // namespace quillion::burn
