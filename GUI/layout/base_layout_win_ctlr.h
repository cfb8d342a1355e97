// SPDX-License-Identifier: GPL-2.0-or-later
// The window controller under every layout document: the kind's settings, the layout views,
// the layout file handed over by the document, the document's edited state, and the burn
// road every kind shares: the drive bar, the burn options sheet, the start of a burn, its
// progress, cancel and result, and the tidy-up when the result is dismissed.
//
// Its state is grouped into panels a window has or lacks (drive bar, sheets) and plain
// records (burn settings, disc facts, the running job). The decisions live in Qt-free
// classes (SpeedModel, OptionsState, ProgressModel) that tests drive without widgets.
// Everything here runs on the main thread; the engine's threads are reached only through
// the job's shared record, which the window reads and in which it sets only the cancel flags.
#pragma once

#include <QAbstractItemView>
#include <QLayout>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "burn/burn_executor.h"
#include "burn/burn_preparation.h"
#include "burn/data_edit_rules.h"
#include "burn/layout_codes.h"
#include "burn/options_state.h"
#include "burn/progress_model.h"
#include "burn/speed_model.h"
#include "burn/verification_monitor.h"
#include "burn/verifier.h"
#include "framework/notification_center.h"
#include "framework/repeating_timer.h"
#include "framework/save_panel.h"
#include "framework/window_controller.h"
#include "framework/worker_runner.h"
#include "layout/burn_panels.h"
#include "layout/layout_file_io.h"
#include "layout/layout_kind.h"
#include "layout/layout_state.h"
#include "layout/playlist.h"
#include "quillion/BP.h"
#include "quillion/FS.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"

namespace quillion {

class DeviceListManager;
class Defaults;
class DataLayoutCtlr;
class DataFilterEditor;
class OpenPanel;
struct DataLayoutBar;
struct DataOptionsDrawer;
struct FilePropertiesSheet;
class SessionTabCtlr;

// The fields of the destination's disc description that a window decides by, copied when
// read: the device list model may replace its record at any refresh.
struct DiscFacts {
  std::uint32_t freeBlocks = 0;
  std::uint32_t usedBlocks = 0;
  std::uint8_t discStatus = 0;  // 0 blank, 1 closed, 2 appendable
  std::uint8_t erasable = 0;
  std::uint8_t isDVD = 0;  // 1 DVD or BD medium, 2 a record of an image file
  std::uint8_t dvdKind = 0;
  std::uint32_t fileSystems = 0;  // kGDT_Found* bits of a rewritable DVD or BD
  std::uint16_t trackCount = 0;
  static DiscFacts of(const GDT_DiscInfo& info);
};

// The settings a burn is made with.
struct BurnSettings {
  std::uint32_t srcDriveRef = 0;
  std::uint32_t dstDriveRef = 0;
  std::uint32_t burningSpeed = 1;
  std::uint32_t deviceSpeed = 1;  // speed mask of the drive for the medium
  std::uint32_t cacheMultiplier = 0;
  int closeDiscMethod = kCloseDiscUnset;
  bool continueOverburn = false;
  bool enoughSpace = false;
  bool threadsFinished = false;
  bool needShowDataProcessProgBar = true;
  bool cancelConvert = false;
};

// The job of the window from the sizing pass or the burn start until the result is
// dismissed.
struct RunningJob {
  BP_JobRef BPRef = 0;
  BP_RuntimeSharedData* runTimeSharedData = nullptr;  // owned by the job
  std::chrono::steady_clock::time_point burnTotalTime{};
  QString burnTime = QStringLiteral("0:00");
  QString tempLogFile;
  std::FILE* logRef = nullptr;
  int lastResult = -1;                 // the result sheet's result, -1 before it
  EngineStatus startFailure = kNoErr;  // BP_Burn refused the job
  QString errorTitle, errorMessage;
};

class BaseLayoutWinCtlr : public WindowController {
  Q_OBJECT

 public:
  enum class BurnCheck { kRefused, kOk };

  explicit BaseLayoutWinCtlr(const LayoutKind& kind);
  ~BaseLayoutWinCtlr() override;

  const LayoutKind& kind() const { return kind_; }
  int currentLayoutType() const { return kind_.layoutType; }
  QString windowFile() const { return QString::fromLatin1(kind_.windowFile); }
  unsigned formatType() const { return static_cast<unsigned>(state_.fileFormat); }
  bool useSAO() const { return options_.useSAO; }
  bool useCDXAFormat() const { return state_.writeXA; }
  bool useAppleExt() const { return state_.appendAppleExtension; }

  // The layout file the document opened; loaded by loadLayout() when the window loads.
  void setLayoutFile(const LayoutFileIO& file);
  const std::optional<LayoutFileIO>& firstLayoutFile() const { return firstLayoutFile_; }

  // Fill the window from a layout file, and a new layout file from the window.
  virtual void loadLayout(const LayoutFileIO& file);
  virtual void saveLayout(LayoutFileIO& file);

  // A data layout becomes a DVD-Video layout; only the data window does something.
  virtual void setAsVideoTSDoc() {}
  // Hands an imported playlist to the track table's model; windows without one ignore it.
  virtual void loadPlayList(const Playlist& playlist);

  // The disc image chosen as the source of a copy; a null path is ignored.
  void setImageReaderPath(const QString& path);
  QString cdImageReaderPath() const { return cdImageReaderPath_; }

  // What the window will save. Editing code changes it, then posts
  // "VUK_LayoutChangedNotification" with its view as sender.
  LayoutState& layoutState() { return state_; }
  const LayoutState& layoutState() const { return state_; }

  // Null in windows of kinds that do not have the view.
  QAbstractItemView* dataLayoutView() const { return dataLayoutView_; }
  QAbstractItemView* audioLayoutView() const { return audioLayoutView_; }
  QAbstractItemView* vcdLayoutView() const { return vcdLayoutView_; }

  QString windowTitleForDocumentDisplayName(const QString& displayName) const override;

  // Handler of "VUK_LayoutChangedNotification": marks the document edited when the sender
  // is one of this window's layout views.
  void NeedToSaveDocument(const Notification& notification);
  void UpdateDocumentTitle(const Notification&) {}

  // ---- panels (null when the window has none) ----
  DriveBar* driveBar() const { return driveBar_.get(); }
  BurnOptionsSheet* burnOptionSheet() const { return burnOptions_.get(); }
  ProgressSheet* progressSheet() const { return progress_.get(); }
  ResultSheet* alertSheet() const { return result_.get(); }
  WaitSheet* waitSheet() const { return wait_.get(); }

  // ---- state ----
  BurnSettings& burnSettings() { return settings_; }
  const BurnSettings& burnSettings() const { return settings_; }
  const std::optional<DiscFacts>& discInfo() const { return discInfo_; }
  const OptionsState& optionsState() const { return options_; }
  const SpeedModel& speedModel() const { return speeds_; }
  const RunningJob& runningJob() const { return job_; }
  QString cdImageWriterPath() const { return cdImageWriterPath_; }
  QString ISOImageWriterPath() const { return isoImageWriterPath_; }
  void setImageWriterPath(std::uint32_t writerRef, const QString& path);
  bool windowIsSmall() const { return windowIsSmall_; }
  // The size the window takes when `proposed` is asked for: while it is shrunk around the
  // progress sheet it keeps its size, otherwise it takes the proposed one. The window's size
  // limits follow this answer whenever it shrinks or returns.
  QSize windowWillResize(const QSize& proposed) const;
  bool isBurnTimerRunning() const { return burnTimer_.isRunning(); }
  bool isCancelTimerRunning() const { return cancelTimer_.isRunning(); }

  // ---- drive, speed and destination (drive bar) ----
  void deviceListDidChange();
  void deviceStatusDidChange();
  bool optionsDrawerOpenOnData() const;
  void updateSessionTabIfShown();
  void LayoutUpdateDrive();
  void updateDriveStatusField(std::uint16_t status);
  void BSeject();
  // Change Image: the save panel for the image writer's file; its end takes the chosen path
  // for `writerRef`, removing an existing file of that name.
  void LayoutChangeImage() { getDstImageFile(); }
  void getDstImageFile();
  void saveCDImagePanelDidEnd(int returnCode, const QString& path, std::uint32_t writerRef);
  // Asks where a finished temporary image goes; Cancel in a copy window deletes it, but only
  // when it really lies in a temporary folder of the application.
  void promptSaveTempImage(const QString& tempImagePath);
  void saveTempImagePanelDidEnd(int returnCode, const QString& path, const QString& tempImagePath);
  // The Erase button: the shared erase panel for the destination, placed by this window.
  void BSerase();
  static constexpr QPoint kErasePanelOffset{40, 60};
  // The save panel the window asks with: the platform's unless a test gives another.
  void setSavePanel(SavePanel* panel) { savePanel_ = panel; }
  void setupSpeedSlider(int driveIndex);
  bool isSupportedSpeed(std::uint32_t speed) const { return speeds_.isSupportedSpeed(speed); }
  void BSupdateSpeed();

  // ---- burn start ----
  // The Burn command. Subclasses call the base first and stop when it refuses.
  virtual BurnCheck BSburnDisc();
  // The burn buttons of the options sheet (tag 1: close the disc), or the wait for an image
  // destination's sizing (tag -1). Subclasses set up their job, call the base, then
  // startEngine().
  virtual void BSstartDiscBurn(int senderTag);
  bool validateBurningOptions();
  void BSToggleSmartSwitch();
  void BStoggleSimulate();
  void BStoggleBufferUnderrun();
  void BStoggleUseSAO();
  void BSToggleCDTextSwitch();
  void BSCancelSheet();
  // The end of a sizing pass for a drive: the options sheet opens with the drive's speeds.
  void openBurnOptionsSheet();

  // ---- burn progress, cancel and completion ----
  void burnProgressFunction();
  void PSburnCancel();
  void cancelBurnProgressFunction();
  // The end of a run; a subclass may go on to another disc instead of the result sheet.
  virtual void burnCompleted(int result);
  virtual void ASalertOk();
  void waitForDriveProgressFunction();
  void waitForThreadTimerFunction();
  void startWaitForDriveTimer();
  void stopWaitForDriveTimer();
  void startWaitForThreadTimer();
  void stopWaitForThreadTimer();
  // A sizing pass for an image destination ended; the wait-for-thread timer starts the burn.
  void setThreadsFinished() { settings_.threadsFinished = true; }

  // ---- preparation and verification ----
  // Where the file check and the sizing pass run their workers: the window's own runner
  // unless a test gives another.
  void setBurnExecutor(burn::BurnExecutor* executor) { executorOverride_ = executor; }
  burn::BurnPreparation* burnPreparation() const { return preparation_.get(); }
  burn::Verifier* verifier() const { return verification_ ? &verification_->verifier() : nullptr; }
  bool isVerifying() const { return verification_ && !verification_->ended(); }
  void verifyCancel();

 protected:
  std::unique_ptr<QMainWindow> makeWindow() override;
  void windowDidLoad() override;

  // Helpers of the subclasses' BSstartDiscBurn, in the order they run.
  // Steps shared by every kind before the job: the close-disc method from the pressed
  // button, then validateBurningOptions(). False: stop.
  bool beginStartDiscBurn(int senderTag);
  // The window's job, created with `code` unless it already holds one. On failure the error
  // is shown, the drive is ready again and the pop-up enabled, and 0 is answered.
  BP_JobRef jobForBurn(BP_JobCode code);
  // Destination, image path, simulation, closing, speed, cache size, thread creator and
  // buffer-underrun protection. The first refused setting's status, else kNoErr.
  EngineStatus applyCommonJobSettings();
  // BP_Burn; when the engine refuses, the run ends at once as an error.
  void startEngine();
  // Ends a burn start that failed before the engine ran: the error shown, the drive ready,
  // the pop-up enabled, the job deleted.
  void failBurnStart(EngineStatus status);
  // Between two discs of one burn: the progress sheet closes, the window returns to its
  // size, the part's log is ended and added to the burn log, and the job is deleted.
  void finishBurnPart(int result);
  // A job still held is stopped, its threads joined and the job deleted. A subclass whose
  // members the job reads calls it first in its destructor.
  void abandonJob();
  // Takes over a job that a sizing pass prepared for the burn; a job held before goes.
  void keepSizedJob(BP_JobRef job, BP_RuntimeSharedData* shared);
  // Deletes the window's job, its threads ended first; nothing without one.
  void deleteJob();

  // The file check, the missing-files sheet, the sizing pass and the overburn question for
  // `layout`, with the destination marked burning; the options sheet (drive) or the burn
  // (image) follows when the layout fits. False when a request is under way.
  bool startBurnPreparation(burn::CheckRoutine routine, const burn::CheckedLayout& layout);
  // The sizing request of the window's state for `route`; the base sizes data trees and
  // audio track lists of the layout given to startBurnPreparation().
  virtual std::optional<burn::SizingRequest> sizingRequest(burn::SizingRoute route);
  // A file check marks the models it reads busy, and frees them when the request ends.
  virtual void setLayoutModelBusy(burn::LayoutModel, bool) {}
  // The verification the job was asked for (BP_SetVerifyType): 0 none, 1 quick, 2 detailed.
  std::uint32_t chosenVerifyType() const;
  // Verification after a good burn to a real drive; answers whether it started (it then
  // ends the log and enables OK itself).
  virtual bool startVerification();
  // Joins the verification and ends the log with its verdict; nothing without one.
  void finishVerification();
  // The disc of the destination as the device list model now sees it.
  void refreshDiscInfo();
  DeviceListManager* devices() const;
  Defaults& defaults() const;
  QString guiText(const char* key) const;

 private:
  struct ObservedNotification;
  enum class SenderRole { kAny, kDataView, kAudioView, kMovieView, kDeviceList };
  void registerObservers();
  const void* senderFor(SenderRole role) const;
  void wireSheets();
  void applyOptionsState();
  void placeSpeedLabel();
  OptionsInputs optionsInputs() const;
  void setDriveStatus(std::uint32_t ref, std::uint16_t status);
  void postDeviceStatusChanged();
  void openBurnLog();
  void finishBurnLog(int result);
  void endProgress(int result);
  void restoreWindowSize();
  // Pins the window at `kept` while it is small; releaseWindowSize() lets its layout size it
  // again.
  void holdWindowSize(const QSize& kept);
  void releaseWindowSize();
  void stopBurnTimer() { burnTimer_.stop(); }
  void stopCancelTimer() { cancelTimer_.stop(); }

  const LayoutKind& kind_;
  bool m_awoke = false;
  LayoutState state_;
  std::optional<LayoutFileIO> firstLayoutFile_;
  QString cdImageReaderPath_;
  QString cdImageWriterPath_;
  QString isoImageWriterPath_;
  QPointer<QAbstractItemView> dataLayoutView_;
  QPointer<QAbstractItemView> audioLayoutView_;
  QPointer<QAbstractItemView> vcdLayoutView_;

  std::unique_ptr<DriveBar> driveBar_;
  std::unique_ptr<BurnOptionsSheet> burnOptions_;
  std::unique_ptr<ProgressSheet> progress_;
  std::unique_ptr<ResultSheet> result_;
  std::unique_ptr<WaitSheet> wait_;

  BurnSettings settings_;
  std::optional<DiscFacts> discInfo_;
  OptionsState options_;
  SpeedModel speeds_;
  int lastSliderPos_ = -1;
  int currentRecommendedSpeed_ = -1;
  EngineStatus resultCode_ = kNoErr;
  MMC_SenseData sense_{};
  ProgressModel progressModel_;
  RunningJob job_;
  bool windowIsSmall_ = false;
  QRect originalFrameSize_;
  QSize smallFrameSize_;  // the size the window keeps while it is small
  bool verifyHidden_ = false;

  RepeatingTimer burnTimer_;
  RepeatingTimer cancelTimer_;
  RepeatingTimer waitForDriveTimer_;
  RepeatingTimer waitForThreadTimer_;

  // ==== Data tree editing (base_layout_data_edit.cpp): the data outline's actions, the
  // format pop-up, the options drawer with the ISO9660 volume texts, the file-properties
  // sheet, the totals, the import offer after a drop and the data filter. Every method
  // tolerates a window without a data outline. ====
 public:
  // The outline's model, or null. installDataSource() puts `model` (the caller's) behind the
  // outline, names the outline as the sender of its notifications, gives it the filter and
  // any tree loaded before it came.
  DataLayoutCtlr* dataSource() const;
  void installDataSource(DataLayoutCtlr* model);
  DataLayoutBar* dataLayoutBar() const { return dataBar_.get(); }
  DataOptionsDrawer* optionsDrawer() const { return optionsDrawer_.get(); }
  FilePropertiesSheet* filePropertiesSheet() const { return fpSheet_.get(); }
  // The drawer's session tab; null without a drawer or a data outline's model.
  SessionTabCtlr* sessionTab() const { return sessionTab_.get(); }
  DataFilterEditor* dataFilterEditor() const { return dataFilterEditor_.get(); }
  // The open panel the add buttons ask with: the platform's unless a test gives another.
  void setOpenPanel(OpenPanel* panel) { openPanel_ = panel; }

  FS_Tree* DLgetDataTreeRef() const;
  // Installs a loaded tree (taken over); kept until the outline has a model when it has none.
  void DLloadNewDataTree(FS_Tree* tree);
  void DLnewDataItem();
  void DLaddDataItem();
  void DLaddPictureItem();
  void DLopenDataPanelDidEnd(int returnCode, const QStringList& paths);
  void DLremoveDataItem();
  void DLtoggleDataOptions();
  void DLtoggleCDXAMode();
  void DLtoggleAppleExt();
  // The end of editing of one of the four ISO9660 texts.
  void DLtextDidEndEditing(IsoNameField field);
  // Applies the format pop-up's choice (also after every refresh); windows that follow the
  // format with controls of their own add to it.
  virtual void toggleFormat();
  void DLrefreshData();
  struct DataTotals {
    std::uint64_t totalSize = 0;  // data and resource bytes as the tree counts them
    std::uint64_t totalFilesFolders = 0;
    QString totalSizeStr;
    QString totalFilesFoldersStr;
  };
  const DataTotals& dataTotals() const { return totals_; }
  // Audio time of the window's track list, which mixed-mode and CD Extra totals add.
  void setTotalTimeInSeconds(std::int32_t seconds) { totalTimeInSeconds_ = seconds; }
  void singleDataAction();
  void doubleDataAction();
  void FPOkAction();
  void FPCancelAction();
  void updateItemsInfo();
  void filesDroppedInLayout();
  void didDropFileEndSheet(int returnCode);
  void NotEnoughSpace();
  void outlineViewSelectionDidChange();
  // The filter pop-ups' choice; "Edit..." opens the filter editor.
  void dataFilterChange(const QString& title);
  void dataFilterAdd();
  void dataFilterRemove();
  void dataFilterClose();
  QString dataFilterType() const { return dataFilterType_; }
  // A DVD-Video format was chosen; the data window checks its layout.
  virtual void checkDVDMovieFormat() {}
  // The format pop-up and the options drawer show what the layout state holds.
  void syncDataControlsWithState();
  // The data filter a loaded layout saved, chosen in the pop-up and given to the model.
  void selectSavedDataFilter();

 private:
  struct TreeDeleter {
    void operator()(FS_Tree* tree) const { termTree(tree); }
  };
  void buildDataEditPanels(QMainWindow* window, QLayout* layout);
  void wireDataEditing();
  void rebuildDataFilterPopup();
  void wireSessionTab();
  FS_Node* insertionPoint() const;
  std::vector<FS_Node*> selectedDataNodes() const;
  void postFromDataView(const char* name);
  void runOpenPanel(const QStringList& types);

  std::unique_ptr<DataLayoutBar> dataBar_;
  std::unique_ptr<DataOptionsDrawer> optionsDrawer_;
  std::unique_ptr<FilePropertiesSheet> fpSheet_;
  std::unique_ptr<SessionTabCtlr> sessionTab_;
  std::unique_ptr<DataFilterEditor> dataFilterEditor_;
  std::unique_ptr<FS_Tree, TreeDeleter> firstTreeRef_;
  OpenPanel* openPanel_ = nullptr;
  QString dataFilterType_;
  QString theFilePath_;
  DataTotals totals_;
  std::int32_t totalTimeInSeconds_ = 0;
  QPersistentModelIndex lastRowSelected_;
  bool sessionListRead_ = false;  // the import offer is made once until the list is freed
  bool importToFolder_ = true;
  // ==== end of data tree editing ====

  // Declared last: their workers and threads end before anything above goes.
  burn::CheckedLayout preparedLayout_;
  WorkerRunner workers_;
  std::unique_ptr<burn::BurnExecutor> ownExecutor_;
  burn::BurnExecutor* executorOverride_ = nullptr;
  SavePanel* savePanel_ = nullptr;
  std::unique_ptr<burn::BurnPreparation> preparation_;
  std::unique_ptr<burn::VerificationMonitor> verification_;
};

}  // namespace quillion
