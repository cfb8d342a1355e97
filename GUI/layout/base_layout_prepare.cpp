// SPDX-License-Identifier: GPL-2.0-or-later
// Before and after the burn: the file check and sizing pass that lead to the options sheet,
// and the verification of the written disc that ends the burn log.
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>

#include "burn/qt_burn_executor.h"
#include "burn/thread_bridge.h"
#include "burn/verification_log.h"
#include "framework/defaults.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/GU.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

BurnLogFacts verifyLogFacts() {
  const auto& facts = layoutServices().logFacts;
  return facts ? facts() : BurnLogFacts::fromSystem(0);
}

}  // namespace

bool BaseLayoutWinCtlr::startBurnPreparation(burn::CheckRoutine routine,
                                             const burn::CheckedLayout& layout) {
  if (!driveBar_) return false;
  if (!preparation_) {
    if (!executorOverride_) ownExecutor_ = std::make_unique<burn::WorkerRunnerExecutor>(workers_);
    burn::BurnExecutor& executor = executorOverride_ ? *executorOverride_ : *ownExecutor_;
    burn::BurnPreparationHooks hooks;
    hooks.setBusy = [this](burn::LayoutModel m, bool busy) { setLayoutModelBusy(m, busy); };
    hooks.abandon = [this] {
      setDriveStatus(settings_.dstDriveRef, kDriveReady);
      driveBar_->layoutDstDriveButton->setEnabled(true);
      postDeviceStatusChanged();
    };
    hooks.sizingRequest = [this](burn::SizingRoute route) { return sizingRequest(route); };
    hooks.proceed = [this](const burn::SizingOutcome& outcome) {
      settings_.enoughSpace = outcome.enoughSpace;
      settings_.continueOverburn = outcome.continueOverburn;
      resultCode_ = outcome.resultCode;
      if (outcome.keptJob) {
        const auto [job, shared] = outcome.keptJob->take();
        keepSizedJob(job, shared);
      }
      if (isImageWriterRef(settings_.dstDriveRef)) {
        startWaitForThreadTimer();
        setThreadsFinished();
      } else {
        openBurnOptionsSheet();
      }
    };
    hooks.layoutChanged = [this] {
      NotificationCenter::instance().post(
          QString::fromLatin1(VUK_LayoutChangedNotification),
          dataLayoutView() ? static_cast<const void*>(dataLayoutView()) : audioLayoutView());
    };
    preparation_ =
        std::make_unique<burn::BurnPreparation>(window(), sheets(), executor, std::move(hooks));
  }
  if (preparation_->running()) return false;
  preparedLayout_ = layout;
  settings_.enoughSpace = false;
  settings_.continueOverburn = false;
  if (isRealDriveRef(settings_.dstDriveRef)) {
    setDriveStatus(settings_.dstDriveRef, kDriveBurning);
    driveBar_->layoutDstDriveButton->setEnabled(false);
    postDeviceStatusChanged();
  }
  return preparation_->start(routine, layout);
}

std::optional<burn::SizingRequest> BaseLayoutWinCtlr::sizingRequest(burn::SizingRoute route) {
  if (route != burn::SizingRoute::Data && route != burn::SizingRoute::Audio) return std::nullopt;
  burn::SizingRequest r;
  r.kind = route == burn::SizingRoute::Data ? burn::SizingKind::Data : burn::SizingKind::Audio;
  r.layoutType = static_cast<int>(
      layoutJobCode(currentLayoutType(), settings_.dstDriveRef, JobPurpose::kSizing) & 0xFF);
  r.formatType = formatType();
  r.verifyFileByFile = chosenVerifyType() == burn::kVerifyDetailed;
  r.iso9660XA = useCDXAFormat();
  r.appleExtensions = useAppleExt();
  r.sao = options_.useSAO;
  r.tree = preparedLayout_.tree;
  r.audioList = preparedLayout_.audioList;
  r.destination = settings_.dstDriveRef;
  r.cdImageWriterPath = cdImageWriterPath_.toStdString();
  r.isoImageWriterPath = isoImageWriterPath_.toStdString();
  r.threadCreator = TC_ThreadCreateCB;
  if (isRealDriveRef(settings_.dstDriveRef)) {
    refreshDiscInfo();
    if (discInfo_) r.disc = burn::DiscSpace{discInfo_->freeBlocks, discInfo_->isDVD == 1};
    DeviceListManager* list = devices();
    const Defaults& d = defaults();
    if (list && d.boolValue(QString::fromLatin1(VUKOverburnKey)) &&
        list->driveSupportOverburn(list->getIndexOfDeviceByRef(settings_.dstDriveRef))) {
      const auto field = [&d](const char* key) {
        return static_cast<std::uint32_t>(std::max(0, d.intValue(QString::fromLatin1(key))));
      };
      r.overburnMarginBlocks = ZEBUtils::MSFToSectors(
          field(VUKOverburnMinKey), field(VUKOverburnSecKey), field(VUKOverburnFrameKey));
    }
  }
  return r;
}

std::uint32_t BaseLayoutWinCtlr::chosenVerifyType() const {
  if (!burnOptions_ || !options_.verify.on || !isRealDriveRef(settings_.dstDriveRef) ||
      !kindOffersVerification(currentLayoutType(), formatType()))
    return 0;
  return defaults().intValue(QString::fromLatin1(VUKVerifyDataTypeKey)) == 0
             ? burn::kVerifyQuick
             : burn::kVerifyDetailed;
}

bool BaseLayoutWinCtlr::startVerification() {
  BP_RuntimeSharedData* shared = job_.runTimeSharedData;
  if (!shared || shared->verifyType == 0) return false;
  ResultSheet& r = *result_;
  burn::VerificationDisplay display;
  display.progress = [&r](std::uint32_t done, std::uint32_t total, const QString& text) {
    r.verifyProgress->setMaximum(static_cast<int>(std::min<std::uint32_t>(total, 0x7FFFFFFF)));
    r.verifyProgress->setValue(static_cast<int>(std::min(done, total)));
    r.ASErrorMsgField->setText(text);
  };
  display.ended = [&r](const QString& verdict) {
    r.verifyProgress->setValue(r.verifyProgress->maximum());
    r.ASErrorTitleField->setText(verdict);
    r.ASErrorMsgField->clear();
    r.verifyCancelButton->setEnabled(false);
    r.verifyCancelButton->hide();
    r.ASOkButton->setEnabled(true);
    r.ASLabelSoftwareButton->setEnabled(true);
  };
  verification_ = std::make_unique<burn::VerificationMonitor>(
      shared, chosenVerifyType() == burn::kVerifyDetailed, std::move(display));
  verification_->start();
  return true;
}

void BaseLayoutWinCtlr::verifyCancel() {
  if (verification_) verification_->verifyCancel();
}

void BaseLayoutWinCtlr::finishVerification() {
  if (!verification_) return;
  // The verifier's thread ends before the log takes its verdict and end block and closes.
  if (job_.runTimeSharedData) job_.runTimeSharedData->logFile = nullptr;
  job_.lastResult = verification_->finish(job_.logRef, job_.burnTime, verifyLogFacts());
  GU_Log_Close(job_.logRef);
  job_.logRef = nullptr;
  verification_.reset();
}

}  // namespace quillion
