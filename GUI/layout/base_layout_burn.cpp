// SPDX-License-Identifier: GPL-2.0-or-later
// The burn road every layout window shares: the checks of the Burn command, the options
// sheet, the base half of starting a burn, following it to its end, and the tidy-up when
// the user dismisses the result.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <algorithm>

#include "burn/thread_bridge.h"
#include "framework/cfmt.h"
#include "framework/defaults.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/GDT.h"
#include "quillion/GU.h"
#include "shell/burn_log.h"
#include "shell/device_list_manager.h"
#include "shell/error_manager.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/progress_views.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

using namespace std::chrono_literals;
constexpr auto kBurnPoll = 200ms;
constexpr auto kSlowPoll = 1s;

void applySwitch(QCheckBox* box, const SwitchState& s) {
  const QSignalBlocker block(box);
  box->setChecked(s.on);
  box->setEnabled(s.enabled);
  // A hidden switch keeps its place in the sheet, as a transparent control does.
  QSizePolicy policy = box->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  box->setSizePolicy(policy);
  box->setVisible(s.shown);
}

void applyButton(QPushButton* button, const ButtonState& s) {
  button->setEnabled(s.enabled);
  button->setDefault(s.key == ButtonKey::kReturn);
  switch (s.key) {
    case ButtonKey::kCommandS:
      button->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
      break;
    case ButtonKey::kCommandD:
      button->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
      break;
    default:
      button->setShortcut(QKeySequence());
      break;
  }
}

BurnLogFacts logFacts() {
  const auto& facts = layoutServices().logFacts;
  return facts ? facts() : BurnLogFacts::fromSystem(0);
}

QString burnLogPath() {
  const QString& path = layoutServices().burnLogPath;
  return path.isEmpty() ? BurnLog::burnLogPath() : path;
}

}  // namespace

// ---- wiring ----

void BaseLayoutWinCtlr::wireSheets() {
  BurnOptionsSheet& s = *burnOptions_;
  connect(s.BSsmartSwitch, &QCheckBox::toggled, this, [this] { BSToggleSmartSwitch(); });
  connect(s.BSsimulateSwitch, &QCheckBox::toggled, this, [this] { BStoggleSimulate(); });
  connect(s.BSbufferUnderrunSwitch, &QCheckBox::toggled, this,
          [this] { BStoggleBufferUnderrun(); });
  connect(s.BSsaoSwitch, &QCheckBox::toggled, this, [this] { BStoggleUseSAO(); });
  connect(s.BScdTextSwitch, &QCheckBox::toggled, this, [this] { BSToggleCDTextSwitch(); });
  connect(s.BSverifyDataSwitch, &QCheckBox::toggled, this,
          [this](bool on) { options_.verify.on = on; });
  connect(s.BSspeedSlider, &QSlider::valueChanged, this, [this] { BSupdateSpeed(); });
  connect(s.BSrecommendedSwitch, &QCheckBox::toggled, this, [this] { BSupdateSpeed(); });
  connect(s.BSburnDiscButton, &QPushButton::clicked, this, [this] { BSstartDiscBurn(1); });
  connect(s.BSburnSessionButton, &QPushButton::clicked, this, [this] { BSstartDiscBurn(0); });
  connect(s.BScancelBurnOptionsButton, &QPushButton::clicked, this, [this] { BSCancelSheet(); });
  connect(progress_->PSburnProgressCancelButton, &QPushButton::clicked, this,
          [this] { PSburnCancel(); });
  connect(result_->ASOkButton, &QPushButton::clicked, this, [this] { ASalertOk(); });
  connect(result_->verifyCancelButton, &QPushButton::clicked, this, [this] { verifyCancel(); });
  connect(driveBar_->layoutDstDriveButton, &QComboBox::currentIndexChanged, this,
          [this] { LayoutUpdateDrive(); });
  connect(driveBar_->layoutEjectButton, &QPushButton::clicked, this, [this] { BSeject(); });
  connect(driveBar_->layoutEraseButton, &QPushButton::clicked, this, [this] { BSerase(); });
  connect(driveBar_->layoutChangeImageButton, &QPushButton::clicked, this,
          [this] { LayoutChangeImage(); });
  connect(driveBar_->layoutBurnOptionsButton, &QPushButton::clicked, this,
          [this] { (void)BSburnDisc(); });
  // Closing a sheet by its window button is its Cancel.
  for (QDialog* d : {s.dialog.get(), progress_->dialog.get(), result_->dialog.get()})
    d->setModal(false);
}

void BaseLayoutWinCtlr::refreshDiscInfo() {
  DeviceListManager* list = devices();
  discInfo_.reset();
  if (!list || !isRealDriveRef(settings_.dstDriveRef)) return;
  if (const GDT_DiscInfo* info = list->DDI_getDiscInfo(settings_.dstDriveRef))
    discInfo_ = DiscFacts::of(*info);
}

void BaseLayoutWinCtlr::setDriveStatus(std::uint32_t ref, std::uint16_t status) {
  if (DeviceListManager* list = devices(); list && isRealDriveRef(ref))
    list->updateStatus(ref, status);
}

void BaseLayoutWinCtlr::postDeviceStatusChanged() {
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
}

// ---- burn start ----

BaseLayoutWinCtlr::BurnCheck BaseLayoutWinCtlr::BSburnDisc() {
  settings_.cancelConvert = false;
  settings_.needShowDataProcessProgBar = true;
  DeviceListManager* list = devices();
  const auto refuse = [this](const char* title, const char* message) {
    (void)sheets().alert(QString::fromLatin1(title), QString::fromLatin1(message));
    return BurnCheck::kRefused;
  };
  if (!list || !burnOptions_ || settings_.dstDriveRef == kNoDestination)
    return refuse("Media Not Found", "Insert Media");
  if (list->statusOfDevice(settings_.dstDriveRef) != kDriveReady)
    return refuse("Drive Busy", "Device In Use");
  if (currentLayoutType() == kLayoutCopy) {
    const std::uint32_t src = settings_.srcDriveRef;
    if (src != kCDImageWriterRef && src != kNoDestination &&
        list->statusOfDevice(src) != kDriveReady)
      return refuse("Drive Busy", "Source Device In Use");
    if (src == kCDImageWriterRef && cdImageReaderPath_.isEmpty())
      return refuse("Choose Source Image", "Select Image");
  }
  if (isRealDriveRef(settings_.dstDriveRef)) {
    refreshDiscInfo();
    if (!discInfo_) return refuse("Media Not Found", "Insert Media");
  } else {
    discInfo_.reset();
  }
  options_.simulate.on = burnOptions_->BSsimulateSwitch->isChecked();
  options_.setUpVerify(kindOffersVerification(currentLayoutType(), formatType()),
                       defaults().boolValue(QString::fromLatin1(VUKVerifyDataKey)));
  applySwitch(burnOptions_->BSverifyDataSwitch, options_.verify);
  if (isRealDriveRef(settings_.dstDriveRef))
    (void)ZEBUtils::unmountDiskWithRef(settings_.dstDriveRef, false);
  return BurnCheck::kOk;
}

bool BaseLayoutWinCtlr::validateBurningOptions() {
  progressModel_.reset(false, false);
  settings_.cacheMultiplier = static_cast<std::uint32_t>(
      std::max(0, defaults().intValue(QString::fromLatin1(VUKCacheSizeKey))));
  return true;
}

OptionsInputs BaseLayoutWinCtlr::optionsInputs() const {
  OptionsInputs in;
  const std::uint32_t ref = settings_.dstDriveRef;
  DeviceListManager* list = devices();
  const int index = list ? list->getIndexOfDeviceByRef(ref) : -1;
  in.smart = burnOptions_->BSsmartSwitch->isChecked();
  in.realDrive = isRealDriveRef(ref);
  in.driveHasBurnProof = in.realDrive ? list && list->driveSupportBurnProof(index) : true;
  in.cdTextPossible = !in.realDrive || (list && list->driveSupportCDText(index));
  in.wantsCDText = false;  // no kind with a track list writes CD-Text yet
  in.isDVD = discInfo_ && discInfo_->isDVD == 1;
  in.dvdKind = discInfo_ ? discInfo_->dvdKind : 0;
  in.blankDisc = !discInfo_ || discInfo_->discStatus == 0;
  in.writeContinueDrive = in.realDrive && list && list->isSONYWriteContinueDrive(ref);
  in.continueOverburn = settings_.continueOverburn;
  in.formatType = formatType();
  return in;
}

void BaseLayoutWinCtlr::applyOptionsState() {
  BurnOptionsSheet& s = *burnOptions_;
  applySwitch(s.BSbufferUnderrunSwitch, options_.underrun);
  applySwitch(s.BSsaoSwitch, options_.sao);
  applySwitch(s.BSsimulateSwitch, options_.simulate);
  applySwitch(s.BScdTextSwitch, options_.cdText);
  applySwitch(s.BSverifyDataSwitch, options_.verify);
  applyButton(s.BSburnDiscButton, options_.burnDisc);
  applyButton(s.BSburnSessionButton, options_.burnSession);
}

void BaseLayoutWinCtlr::BSToggleSmartSwitch() {
  if (!burnOptions_) return;
  options_.toggleSmart(optionsInputs());
  applyOptionsState();
}

void BaseLayoutWinCtlr::BStoggleSimulate() {
  options_.toggleSimulate(burnOptions_->BSsimulateSwitch->isChecked());
  applyOptionsState();
}

void BaseLayoutWinCtlr::BStoggleBufferUnderrun() {
  options_.toggleBufferUnderrun(burnOptions_->BSbufferUnderrunSwitch->isChecked());
  applyOptionsState();
}

void BaseLayoutWinCtlr::BStoggleUseSAO() {
  options_.toggleSAO(burnOptions_->BSsaoSwitch->isChecked(), discInfo_ ? discInfo_->dvdKind : 0,
                     !discInfo_ || discInfo_->discStatus == 0);
  applyOptionsState();
}

void BaseLayoutWinCtlr::BSToggleCDTextSwitch() {
  options_.toggleCDText(burnOptions_->BScdTextSwitch->isChecked());
  applyOptionsState();
}

void BaseLayoutWinCtlr::openBurnOptionsSheet() {
  DeviceListManager* list = devices();
  if (!burnOptions_ || !list) return;
  const std::uint32_t ref = settings_.dstDriveRef;
  const int index = list->getIndexOfDeviceByRef(ref);
  if (isRealDriveRef(ref)) {
    refreshDiscInfo();
    const bool rewritable = discInfo_ && discInfo_->erasable;
    const bool dvd = discInfo_ && discInfo_->isDVD == 1;
    settings_.deviceSpeed =
        dvd ? (rewritable ? list->driveDVDRWSpeed(index) : list->driveDVDRSpeed(index))
            : (rewritable ? list->driveCDRWSpeed(index) : list->driveCDRSpeed(index));
  }
  setupSpeedSlider(index);
  options_.sao.on = true;
  options_.useSAO = true;
  if (isRealDriveRef(ref)) {
    setDriveStatus(ref, kDriveBurning);
    driveBar_->layoutDstDriveButton->setEnabled(false);
    postDeviceStatusChanged();
  }
  BSToggleSmartSwitch();
  sheets().beginSheet(burnOptions_->dialog.get());
}

void BaseLayoutWinCtlr::BSCancelSheet() {
  DeviceListManager* list = devices();
  driveBar_->layoutDstDriveButton->setEnabled(true);
  setDriveStatus(settings_.dstDriveRef, kDriveReady);
  setDriveStatus(settings_.srcDriveRef, kDriveReady);
  postDeviceStatusChanged();
  if (isRealDriveRef(settings_.srcDriveRef))
    (void)ZEBUtils::mountDiskWithRef(settings_.srcDriveRef);
  if (list && isRealDriveRef(settings_.dstDriveRef) && discInfo_ && discInfo_->discStatus != 0)
    (void)ZEBUtils::mountDiskWithRef(settings_.dstDriveRef);
  for (QAbstractItemView* view : {dataLayoutView(), audioLayoutView(), vcdLayoutView()})
    if (view) view->clearSelection();
  // The job a sizing pass left for the burn is not needed any more.
  deleteJob();
  sheets().endSheet(burnOptions_->dialog.get(), 1);
}

bool BaseLayoutWinCtlr::beginStartDiscBurn(int senderTag) {
  if (senderTag >= 0 && isRealDriveRef(settings_.dstDriveRef))
    settings_.closeDiscMethod = closeDiscMethodForTag(senderTag);
  return validateBurningOptions();
}

BP_JobRef BaseLayoutWinCtlr::jobForBurn(BP_JobCode code) {
  if (job_.BPRef) return job_.BPRef;
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(code, &shared, 1);
  if (job == 0 || !shared) {
    failBurnStart(kErrOutOfMemory);
    return 0;
  }
  job_.BPRef = job;
  job_.runTimeSharedData = shared;
  return job;
}

EngineStatus BaseLayoutWinCtlr::applyCommonJobSettings() {
  const BP_JobRef job = job_.BPRef;
  const std::uint32_t ref = settings_.dstDriveRef;
  DeviceListManager* list = devices();
  EngineStatus first = kNoErr;
  const auto keep = [&first](EngineStatus s) {
    if (first == kNoErr && s != kNoErr) first = s;
  };
  keep(BP_SetDstDevice(job, ref));
  if (isImageWriterRef(ref)) {
    const bool native = ref == kCDImageWriterRef;
    const QByteArray path = (native ? cdImageWriterPath_ : isoImageWriterPath_).toUtf8();
    keep(BP_SetDstImageFilePath(job, path.constData(),
                                native ? kBP_DstNativeImage : kBP_DstISOImage));
    keep(BP_SetSimulate(job, false));
  } else {
    keep(BP_SetSimulate(job, options_.simulateWrite));
    if (settings_.closeDiscMethod == kCloseDisc) keep(BP_SetCloseDisc(job, true));
  }
  const auto speed =
      static_cast<std::uint16_t>(std::min<std::uint32_t>(settings_.burningSpeed, 0xFFFF));
  keep(BP_SetWriteSpeed(job, ref, speed));
  std::uint64_t cacheKB = std::uint64_t{settings_.cacheMultiplier} * settings_.burningSpeed;
  if (discInfo_ && discInfo_->isDVD == 1) cacheKB *= 8;
  keep(BP_SetExpectCacheSize(
      job, static_cast<std::uint32_t>(std::min<std::uint64_t>(cacheKB, 0xFFFFFFFFu))));
  keep(BP_SetThreadCreatorCallback(job, TC_ThreadCreateCB));
  if (const std::uint32_t verify = chosenVerifyType(); verify != 0)
    keep(BP_SetVerifyType(job, verify));
  keep(BP_SetBurnProof(job, options_.bufferUnderRunOn));
  if (isRealDriveRef(ref) && list && !list->driveSupportBurnProof(list->getIndexOfDeviceByRef(ref)))
    keep(BP_SetBurnProofType(job, 0));
  return first;
}

void BaseLayoutWinCtlr::failBurnStart(EngineStatus status) {
  deleteJob();
  if (burnOptions_ && sheets().currentSheet() == burnOptions_->dialog.get())
    sheets().endSheet(burnOptions_->dialog.get(), 1);
  setDriveStatus(settings_.dstDriveRef, kDriveReady);
  if (driveBar_) driveBar_->layoutDstDriveButton->setEnabled(true);
  postDeviceStatusChanged();
  ErrorManager::displayError(status, sheets(), MMC_SenseData{});
}

void BaseLayoutWinCtlr::BSstartDiscBurn(int) {
  if (!progress_) return;
  QMainWindow* w = window();
  originalFrameSize_ = w->geometry();
  windowIsSmall_ = true;
  if (sheets().currentSheet() == burnOptions_->dialog.get())
    sheets().endSheet(burnOptions_->dialog.get(), 1);
  ProgressSheet& p = *progress_;
  const std::uint32_t ref = settings_.dstDriveRef;
  DeviceListManager* list = devices();
  const QString notAvailable = cfmt(QStringLiteral("(%@)"), guiText("Not Available"));
  if (isImageWriterRef(ref)) {
    p.PSburnSpeedField->setText(guiText("Max Speed"));
    p.PSappCacheSizeField->setText(notAvailable);
    p.PSburnDstDriveField->setText(
        guiText(ref == kCDImageWriterRef ? "CD Image Writer" : "ISO Image Writer"));
    p.PSrecorderCacheSizeField->setText(notAvailable);
  } else {
    p.PSburnSpeedField->setText(
        settings_.burningSpeed == SpeedModel::kDriveDefaultSpeed
            ? guiText("Max Speed")
            : cfmt(QStringLiteral("%dx"), static_cast<int>(settings_.burningSpeed)));
    p.PSappCacheSizeField->setText(cfmt(QStringLiteral("(%dMB)"), 0));
    const int index = list ? list->getIndexOfDeviceByRef(ref) : -1;
    p.PSburnDstDriveField->setText(list ? list->titleOfDrive(ref, true) : QString());
    p.PSrecorderCacheSizeField->setText(
        cfmt(QStringLiteral("(%@)"), list ? list->driveCacheSize(index) : notAvailable));
  }
  p.PSburnModeField->setText(guiText("Phase Preparing"));
  p.PSburnTimeLapsedField->setText(QStringLiteral("0:00"));
  p.PSburnProgBar->resetPercentage();
  p.PSappCacheProgBar->setValue(0);
  p.PSrecorderCacheProgBar->setValue(0);
  progressModel_.reset(options_.simulateWrite && isRealDriveRef(ref), ref == kISOImageWriterRef);
  job_.lastResult = -1;
  burnTimer_.start(kBurnPoll, [this] { burnProgressFunction(); });
  sheets().beginSheet(p.dialog.get());
  // The window shrinks around the progress sheet, keeping its top edge.
  const QSize small = p.dialog->sizeHint() + QSize(20, 30);
  w->setGeometry(QRect(originalFrameSize_.topLeft(), small));
  smallFrameSize_ = small;
  holdWindowSize(small);
  job_.burnTotalTime = std::chrono::steady_clock::now();
  job_.burnTime = QStringLiteral("0:00");
  if (job_.BPRef) openBurnLog();
  setDriveStatus(ref, kDriveBurning);
  postDeviceStatusChanged();
}

void BaseLayoutWinCtlr::openBurnLog() {
  job_.tempLogFile.clear();
  TempFolderMgr* temp = layoutServices().tempFolders;
  if (!temp) return;
  job_.tempLogFile = temp->getTempFilePathBySize(4096);
  if (job_.tempLogFile.isEmpty()) return;
  job_.logRef = GU_Log_Open(job_.tempLogFile.toUtf8().constData());
  if (!job_.logRef) return;
  job_.runTimeSharedData->logFile = job_.logRef;
  BurnLog::writeLogFileHeader(job_.logRef, devices(), settings_.dstDriveRef, logFacts());
}

void BaseLayoutWinCtlr::startEngine() {
  if (!job_.BPRef) return;
  const EngineStatus status = BP_Burn(job_.BPRef);
  if (status == kNoErr) return;
  // The engine started nothing: the run ends here as a failure with the engine's texts.
  job_.startFailure = status;
  burnCompleted(kResultError);
}

// ---- progress, cancel and completion ----

void BaseLayoutWinCtlr::burnProgressFunction() {
  if (!job_.runTimeSharedData) return;
  const RunSnapshot snapshot = snapshotOf(*job_.runTimeSharedData);
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - job_.burnTotalTime)
                           .count();
  const ProgressUpdate u = progressModel_.tick(snapshot, elapsed);
  if (u.completed) {
    burnCompleted(*u.completed);
    return;
  }
  ProgressSheet& p = *progress_;
  if (u.phaseText) p.PSburnModeField->setText(guiText(u.phaseText));
  if (u.cacheMB)
    p.PSappCacheSizeField->setText(cfmt(QStringLiteral("(%d MB)"), static_cast<int>(*u.cacheMB)));
  if (u.driveCacheBar) p.PSrecorderCacheProgBar->setValue(*u.driveCacheBar);
  if (u.appCacheBar) p.PSappCacheProgBar->setValue(*u.appCacheBar);
  if (u.elapsedSeconds) {
    job_.burnTime = QString::fromStdString(secondsToTimeString(*u.elapsedSeconds));
    p.PSburnTimeLapsedField->setText(job_.burnTime);
  }
  if (u.percent) p.PSburnProgBar->setPercentage(*u.percent);
  if (u.speed) p.PSburnSpeedField->setText(cfmt(QStringLiteral("%dx"), static_cast<int>(*u.speed)));
}

void BaseLayoutWinCtlr::PSburnCancel() {
  if (BP_RuntimeSharedData* shared = job_.runTimeSharedData) {
    shared->bStop = true;
    const std::uint16_t n = std::max<std::uint16_t>(shared->numDrives, 1);
    for (std::uint16_t i = 0; i < n; ++i) shared->writers[i].bForceQuit = true;
  }
  burnTimer_.stop();
  progress_->PSburnModeField->setText(guiText("Burn Cancelling"));
  cancelTimer_.start(kSlowPoll, [this] { cancelBurnProgressFunction(); });
}

void BaseLayoutWinCtlr::cancelBurnProgressFunction() {
  if (!job_.runTimeSharedData || !snapshotOf(*job_.runTimeSharedData).finished()) return;
  cancelTimer_.stop();
  burnCompleted(kResultCancelled);
}

void BaseLayoutWinCtlr::endProgress(int result) {
  burnTimer_.stop();
  ProgressSheet& p = *progress_;
  p.PSburnProgBar->resetPercentage();
  p.PSappCacheProgBar->setValue(0);
  p.PSrecorderCacheProgBar->setValue(0);
  if (window()->isMinimized()) window()->showNormal();
  if (sheets().currentSheet() == p.dialog.get()) sheets().endSheet(p.dialog.get(), 1);
  job_.lastResult = result;
  // The time of the whole run, also when it ended between two polls.
  if (job_.BPRef)
    job_.burnTime = QString::fromStdString(
        secondsToTimeString(std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now() - job_.burnTotalTime)
                                .count()));
}

void BaseLayoutWinCtlr::restoreWindowSize() {
  if (!windowIsSmall_) return;
  QMainWindow* w = window();
  releaseWindowSize();
  const QRect now = w->geometry();
  w->setGeometry(QRect(QPoint(now.x(), now.y()), originalFrameSize_.size()));
  windowIsSmall_ = false;
}

QSize BaseLayoutWinCtlr::windowWillResize(const QSize& proposed) const {
  return windowIsSmall_ ? smallFrameSize_ : proposed;
}

void BaseLayoutWinCtlr::holdWindowSize(const QSize& kept) {
  // No resize may undo the shrinking while the burn runs: the window's limits become the
  // one size it keeps.
  QMainWindow* w = window();
  w->setMinimumSize(kept);
  w->setMaximumSize(kept);
}

void BaseLayoutWinCtlr::releaseWindowSize() {
  // A minimum of nothing hands the minimum back to the window's layout.
  QMainWindow* w = window();
  w->setMinimumSize(0, 0);
  w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void BaseLayoutWinCtlr::finishBurnPart(int result) {
  endProgress(result);
  restoreWindowSize();
  finishBurnLog(result);
  deleteJob();
  if (!job_.tempLogFile.isEmpty()) (void)BurnLog::appendLogFile(job_.tempLogFile, burnLogPath());
  job_.tempLogFile.clear();
}

void BaseLayoutWinCtlr::burnCompleted(int result) {
  endProgress(result);
  ResultSheet& r = *result_;
  switch (result) {
    case kResultCompleted:
      r.ASMsgField->setText(cfmt(QStringLiteral("%@ %@: %@"), guiText("Burn Complete"),
                                 guiText("Time Elapsed"), job_.burnTime));
      break;
    case kResultCancelled:
      r.ASMsgField->setText(guiText("Burn Cancelled"));
      break;
    case kResultError:
      r.ASMsgField->setText(guiText("Burn Error"));
      break;
    default:
      r.ASMsgField->setText(guiText("Burn Complete"));
      break;
  }
  // The first failure of the run, the reader's included, or a start the engine refused.
  std::int32_t code = job_.startFailure;
  MMC_SenseData sense{};
  if (code == kNoErr && job_.runTimeSharedData) {
    const RunSnapshot s = snapshotOf(*job_.runTimeSharedData);
    code = s.failureCode();
    sense = s.failureSense();
  }
  job_.errorTitle.clear();
  job_.errorMessage.clear();
  if (code != kNoErr) {
    ErrorManager::returnErrorStrings(code, sense, &job_.errorTitle, &job_.errorMessage);
    r.ASErrorTitleField->setText(job_.errorTitle);
    r.ASErrorMsgField->setText(job_.errorMessage);
  } else {
    r.ASErrorTitleField->setText(guiText("No Errors"));
    r.ASErrorMsgField->clear();
  }
  const bool realDrive = isRealDriveRef(settings_.dstDriveRef);
  r.ASLabelSoftwareButton->setVisible(result == kResultCompleted && realDrive);
  bool verifying = false;
  if (burnOptions_->BSverifyDataSwitch->isChecked() && result == kResultCompleted && realDrive &&
      kindOffersVerification(currentLayoutType(), formatType())) {
    r.ASErrorTitleField->setText(guiText(
        defaults().intValue(QString::fromLatin1(VUKVerifyDataTypeKey)) == 0 ? "Quick Verify"
                                                                            : "Detailed Verify"));
    r.verifyProgress->show();
    verifyHidden_ = false;
    r.verifyCancelButton->setEnabled(true);
    r.verifyCancelButton->show();
    r.ASOkButton->setEnabled(false);
    r.verifyProgress->setRange(0, static_cast<int>(std::min<std::uint32_t>(
                                      job_.runTimeSharedData->totalBlocks, 0x7FFFFFFF)));
    r.verifyProgress->setValue(0);
    verifying = startVerification();
  }
  if (!verifying) {
    r.ASOkButton->setEnabled(true);
    r.verifyProgress->hide();
    verifyHidden_ = true;
    r.verifyCancelButton->setEnabled(false);
    r.verifyCancelButton->hide();
    if (code == kNoErr) r.ASErrorTitleField->setText(guiText("No Errors"));
    finishBurnLog(result);
  }
  r.ASLabelSoftwareButton->setEnabled(false);
  sheets().beginSheet(r.dialog.get());
  if (!verifying) {
    r.ASOkButton->setEnabled(true);
    r.ASLabelSoftwareButton->setEnabled(realDrive);
  }
}

void BaseLayoutWinCtlr::finishBurnLog(int result) {
  if (!job_.logRef) return;
  // The engine's threads have ended; the record lets go of the log before it closes.
  if (job_.runTimeSharedData) job_.runTimeSharedData->logFile = nullptr;
  BurnLog::writeLogFileEnd(job_.logRef, result, job_.burnTime,
                           result == kResultError ? job_.errorTitle : QString(),
                           result == kResultError ? job_.errorMessage : QString(), logFacts());
  GU_Log_Close(job_.logRef);
  job_.logRef = nullptr;
}

void BaseLayoutWinCtlr::keepSizedJob(BP_JobRef job, BP_RuntimeSharedData* shared) {
  deleteJob();
  job_.BPRef = job;
  job_.runTimeSharedData = shared;
}

void BaseLayoutWinCtlr::deleteJob() {
  if (!job_.BPRef) return;
  // Every thread of the job ends before the job frees what they use.
  JobThreads::joinAll(job_.runTimeSharedData);
  if (job_.runTimeSharedData) job_.runTimeSharedData->logFile = nullptr;
  (void)BP_Delete(job_.BPRef);
  job_.BPRef = 0;
  job_.runTimeSharedData = nullptr;
  job_.startFailure = kNoErr;
}

void BaseLayoutWinCtlr::ASalertOk() {
  ResultSheet& r = *result_;
  if (sheets().currentSheet() == r.dialog.get()) sheets().endSheet(r.dialog.get(), 1);
  driveBar_->layoutDstDriveButton->setEnabled(true);
  restoreWindowSize();
  const std::uint32_t ref = settings_.dstDriveRef;
  if (isRealDriveRef(ref)) {
    setDriveStatus(ref, kDriveReady);
    (void)GDT_Eject(ref, nullptr, true);
  }
  if (isRealDriveRef(settings_.srcDriveRef)) setDriveStatus(settings_.srcDriveRef, kDriveReady);
  // The verifier reads through the job: it ends, and ends the log, before the job goes.
  finishVerification();
  // A verification that was cancelled leaves its log to be ended here.
  finishBurnLog(job_.lastResult < 0 ? kResultCancelled : job_.lastResult);
  deleteJob();
  if (!job_.tempLogFile.isEmpty()) (void)BurnLog::appendLogFile(job_.tempLogFile, burnLogPath());
  job_.tempLogFile.clear();
  postDeviceStatusChanged();
  driveBar_->layoutDstDriveButton->setEnabled(true);
  r.ASErrorTitleField->setText(guiText("No Errors"));
  r.ASErrorMsgField->clear();
  // New media are mounted by the desktop's own automounter.
}

// ---- waits ----

void BaseLayoutWinCtlr::startWaitForDriveTimer() {
  waitForDriveTimer_.start(kSlowPoll, [this] { waitForDriveProgressFunction(); });
}

void BaseLayoutWinCtlr::stopWaitForDriveTimer() {
  waitForDriveTimer_.stop();
}

void BaseLayoutWinCtlr::startWaitForThreadTimer() {
  settings_.threadsFinished = false;
  waitForThreadTimer_.start(kSlowPoll, [this] { waitForThreadTimerFunction(); });
}

void BaseLayoutWinCtlr::stopWaitForThreadTimer() {
  waitForThreadTimer_.stop();
  settings_.threadsFinished = false;
}

void BaseLayoutWinCtlr::waitForDriveProgressFunction() {
  WaitSheet& w = *wait_;
  if (settings_.dstDriveRef != kCDImageWriterRef) refreshDiscInfo();
  if (!discInfo_) {
    if (w.PSWaitOKButton->isEnabled())
      w.PSWaitTextField->setText(guiText("Waiting For Blank Disc"));
    return;
  }
  if (discInfo_->discStatus != 0) {
    (void)ZEBUtils::unmountDiskWithRef(settings_.dstDriveRef, true);
    w.PSWaitTextField->setText(guiText("Insert Blank Media"));
    w.PSWaitOKButton->setEnabled(true);
    return;
  }
  stopWaitForDriveTimer();
  if (sheets().currentSheet() == w.dialog.get()) sheets().endSheet(w.dialog.get(), 1);
  w.PSWaitOKButton->setEnabled(true);
  openBurnOptionsSheet();
}

void BaseLayoutWinCtlr::waitForThreadTimerFunction() {
  if (!settings_.threadsFinished) return;
  stopWaitForThreadTimer();
  BSstartDiscBurn(-1);
}

}  // namespace quillion
