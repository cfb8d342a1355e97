// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/burn_preparation.h"

#include <QtGlobal>
#include <chrono>

#include "framework/sheet_host.h"
#include "shell/error_manager.h"

namespace quillion::burn {
namespace {

constexpr auto kCheckProgressInterval = std::chrono::milliseconds(200);

SizingRoute routeAfterCheck(CheckRoutine routine) {
  switch (routine) {
    case CheckRoutine::Tree:
    case CheckRoutine::AudioThenTree:
      return SizingRoute::Data;
    case CheckRoutine::AudioList:
      return SizingRoute::Audio;
    case CheckRoutine::VideoList:
      return SizingRoute::Video;
  }
  return SizingRoute::None;
}

}  // namespace

BurnPreparation::BurnPreparation(QWidget* window, SheetHost& sheets, BurnExecutor& executor,
                                 BurnPreparationHooks hooks)
    : window_(window),
      sheets_(sheets),
      hooks_(std::move(hooks)),
      wait_(window),
      overburn_(window),
      check_(executor,
             {[this](LayoutModel m, bool busy) {
                if (hooks_.setBusy) hooks_.setBusy(m, busy);
              },
              [this](const FileCheckProgress& p) { showCheckProgress(p); },
              [this] { closeWaitSheet(); },
              [this](std::vector<FS_Node*> missing) { showMissingFiles(std::move(missing)); },
              [this] { size(routeAfterCheck(routine_)); },
              [this] {
                running_ = false;
                if (hooks_.abandon) hooks_.abandon();
              }}),
      sizing_(executor, {[this](std::function<void(bool)> answer) {
                           // The question takes the place of the "Processing Data" sheet.
                           closeWaitSheet();
                           askOverburn(sheets_, overburn_, std::move(answer));
                         },
                         [this](const SizingOutcome& o) { sized(o); }}) {
  wait_.setOnCancel([this] {
    if (check_.running()) check_.cancel();
  });
}

BurnPreparation::~BurnPreparation() {
  progressTimer_.stop();
}

bool BurnPreparation::start(CheckRoutine routine, const CheckedLayout& layout) {
  if (running_) return false;
  running_ = true;
  routine_ = routine;
  layout_ = layout;
  largeLayout_ = false;
  return check_.start(routine, layout);
}

void BurnPreparation::showCheckProgress(const FileCheckProgress& progress) {
  largeLayout_ = true;
  wait_.setTitleKey(QStringLiteral("Verifying Files"));
  wait_.setText({});
  wait_.setDeterminate(static_cast<int>(progress.total));
  wait_.setCancelVisible(true);
  sheets_.beginSheet(&wait_);
  // The worker counts; the sheet follows on the main thread.
  progressTimer_.start(kCheckProgressInterval, [this, &progress] {
    wait_.setValue(static_cast<int>(progress.done.load()));
    wait_.setText(QString::fromStdString(progress.currentTitle()));
  });
}

void BurnPreparation::closeWaitSheet() {
  progressTimer_.stop();
  if (sheets_.currentSheet() == &wait_) sheets_.endSheet(&wait_, 1);
}

void BurnPreparation::showMissingFiles(std::vector<FS_Node*> missing) {
  MissingFilesSheetHooks sheetHooks{hooks_.chooseFile, hooks_.relinked, hooks_.layoutChanged};
  missing_ = std::make_unique<MissingFilesSheet>(MissingFilesList(layout_, std::move(missing)),
                                                 std::move(sheetHooks), window_);
  const bool shown = sheets_.beginSheet(missing_.get(), [this](int code) {
    if (code == QDialog::Accepted)
      size(missing_->list().nextSizing());
    else
      giveUp();
  });
  if (!shown) giveUp();
}

void BurnPreparation::size(SizingRoute route) {
  std::optional<SizingRequest> request;
  if (hooks_.sizingRequest) request = hooks_.sizingRequest(route);
  if (!request) {
    giveUp();
    return;
  }
  if (largeLayout_ && request->kind == SizingKind::Data) {
    wait_.setTitleKey(QStringLiteral("Processing Data"));
    wait_.setText({});
    wait_.setBusy();
    wait_.setCancelVisible(false);
    sheets_.beginSheet(&wait_);
  }
  if (!sizing_.start(std::move(*request))) giveUp();
}

void BurnPreparation::sized(const SizingOutcome& outcome) {
  closeWaitSheet();
  check_.releaseModels();
  running_ = false;
  if (outcome.proceed) {
    if (hooks_.proceed) hooks_.proceed(outcome);
    return;
  }
  if (hooks_.abandon) hooks_.abandon();
  switch (outcome.verdict.kind) {
    case SizingVerdictKind::Refused:
      sheets_.alert(QString::fromLatin1(outcome.verdict.titleKey),
                    QString::fromLatin1(outcome.verdict.messageKey));
      break;
    case SizingVerdictKind::EngineError:
      if (hooks_.showEngineError)
        hooks_.showEngineError(outcome.verdict.status);
      else
        ErrorManager::displayError(outcome.verdict.status, sheets_, MMC_SenseData{});
      break;
    case SizingVerdictKind::NoJob:
      qWarning("BP_Create error.....");
      break;
    default:
      break;
  }
}

void BurnPreparation::giveUp() {
  closeWaitSheet();
  check_.releaseModels();
  running_ = false;
  if (hooks_.abandon) hooks_.abandon();
}

}  // namespace quillion::burn
