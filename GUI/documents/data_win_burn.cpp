// SPDX-License-Identifier: GPL-2.0-or-later
// The data window's burn road: its checks of the layout and the medium, the sizing pass
// that prepares the data job and keeps it, and the start of the burn with that job.
#include <QComboBox>

#include "burn/thread_bridge.h"
#include "documents/data_win_ctlr.h"
#include "framework/sheet_host.h"
#include "layout/data_layout_ctlr.h"
#include "shell/device_list_manager.h"

namespace quillion {

namespace data_win_detail {

// Media rewritten in place (DVD+RW, DVD-RAM, BD-RE): accepted whatever their state.
constexpr bool rewrittenInPlace(std::uint8_t dvdKind) {
  return dvdKind == 5 || dvdKind == 7 || dvdKind == 11;
}

// Write-once DVD and BD media (DVD+R, DVD+R DL, DVD-R DL, BD-R) the burn does not append to.
constexpr bool appendNotSupported(std::uint8_t dvdKind) {
  return dvdKind == 4 || dvdKind == 6 || dvdKind == 8 || dvdKind == 10;
}

constexpr bool isUDFFormat(unsigned format) {
  return format == 16 || format == 32 || format == 48;
}

void findImportProc(FS_Node* node, bool* stop, void* context, std::uint16_t, bool*) {
  if (IsISO9660ImportItem(node)) {
    *static_cast<bool*>(context) = true;
    *stop = true;
  }
}

}  // namespace data_win_detail

using namespace data_win_detail;

bool DataWinCtlr::layoutIsEmpty() const {
  FS_Tree* tree = layoutTree();
  FS_Node* root = tree ? GetRootTreeNode(tree) : nullptr;
  return !root || NumNodeChildren(tree, root) == 0;
}

bool DataWinCtlr::hasImportedData() const {
  bool found = false;
  if (FS_Tree* tree = layoutTree()) (void)WalkWholeTree(tree, findImportProc, &found, nullptr);
  return found;
}

void DataWinCtlr::setLayoutModelBusy(burn::LayoutModel model, bool busy) {
  if (model == burn::LayoutModel::Data) model_->setLayoutIsBusy(busy);
}

BaseLayoutWinCtlr::BurnCheck DataWinCtlr::refuse(const char* titleKey, const char* messageKey) {
  (void)sheets().alert(QString::fromLatin1(titleKey), QString::fromLatin1(messageKey));
  return BurnCheck::kRefused;
}

void DataWinCtlr::startFileCheck() {
  (void)startBurnPreparation(burn::CheckRoutine::Tree, {layoutTree()});
}

void DataWinCtlr::askAppendAnyway(const char* titleKey, const char* messageKey) {
  (void)sheets().alert(QString::fromLatin1(titleKey), QString::fromLatin1(messageKey),
                       {QStringLiteral("Continue Anyway"), QStringLiteral("Cancel")},
                       [this](int button) {
                         if (button == 0) startFileCheck();
                       });
}

BaseLayoutWinCtlr::BurnCheck DataWinCtlr::BSburnDisc() {
  if (BaseLayoutWinCtlr::BSburnDisc() == BurnCheck::kRefused) return BurnCheck::kRefused;
  if (layoutIsEmpty()) return refuse("No Data Selected", "Select Data");
  const std::uint32_t ref = burnSettings().dstDriveRef;
  const std::optional<DiscFacts>& disc = discInfo();
  if (formatType() == kDVDVideoFormat) {
    if (!rootChildTitled("VIDEO_TS")) return refuse("Video_TS Not Found", "Must have Video_TS");
    if (addRootFolder("AUDIO_TS")) model_->reloadData();
    if (disc && isRealDriveRef(ref) && disc->isDVD != 1)
      return refuse("DVD Media Not Found", "DVD Media Required");
  }
  if (isImageWriterRef(ref)) {
    startFileCheck();
    return BurnCheck::kOk;
  }
  if (!disc) return BurnCheck::kRefused;
  if (!rewrittenInPlace(disc->dvdKind)) {
    const char* title = nullptr;
    const char* message = nullptr;
    if (disc->discStatus == kGDT_DiscClosed) {
      title = "Media Is Closed";
      message = "Insert Writable Media";
    } else if (disc->discStatus == kGDT_DiscAppendable &&
               (formatType() == kDVDVideoFormat || discSpanningOn())) {
      title = "Media Not Blank";
      message = "Insert Blank Media";
    }
    if (title) {
      (void)refuse(title, message);
      BSeject();
      return BurnCheck::kRefused;
    }
  }
  if (disc->discStatus == kGDT_DiscAppendable) {
    if (appendNotSupported(disc->dvdKind)) {
      askAppendAnyway("Multisession Not Supported", "DVD-/+R Append Not Yet Supported");
      return BurnCheck::kOk;
    }
    const bool cdOrDashR = disc->isDVD != 1 || disc->dvdKind == 2;
    if (isUDFFormat(formatType()) && hasImportedData() && cdOrDashR) {
      askAppendAnyway("Multisession UDF Not Supported", "UDF Append Not Supported");
      return BurnCheck::kOk;
    }
  }
  if (discSpanningOn() && !spanningEstimateLetsBurnGoOn(disc->freeBlocks))
    return BurnCheck::kRefused;
  startFileCheck();
  return BurnCheck::kOk;
}

std::optional<burn::SizingRequest> DataWinCtlr::sizingRequest(burn::SizingRoute route) {
  std::optional<burn::SizingRequest> r = BaseLayoutWinCtlr::sizingRequest(route);
  if (!r || r->kind != burn::SizingKind::Data) return r;
  // The job prepared here is the one burned.
  r->keepJob = true;
  r->discSpanning = discSpanningOn();
  const std::optional<DiscFacts>& disc = discInfo();
  if (r->discSpanning) {
    if (FS_Tree* tree = spanningTreeForSizing(disc ? disc->freeBlocks : 0)) r->tree = tree;
  }
  if (isRealDriveRef(burnSettings().dstDriveRef) && disc && rewrittenInPlace(disc->dvdKind))
    r->dvdPlusRWUsedBlocks = disc->usedBlocks;
  return r;
}

EngineStatus DataWinCtlr::applyDataJobSettings(BP_JobRef job) {
  const std::optional<DiscFacts>& disc = discInfo();
  const bool realDrive = isRealDriveRef(burnSettings().dstDriveRef);
  const bool dvd = realDrive && disc && disc->isDVD == 1;
  EngineStatus first = kNoErr;
  const auto keep = [&first](EngineStatus s) {
    if (first == kNoErr && s != kNoErr) first = s;
  };
  if (!discSpanningOn()) {
    keep(BP_SetDataTree(job, layoutTree()));
  } else if (spanningPastFirstDisc()) {
    if (FS_Tree* tree = spanningTreeForNextDisc()) keep(BP_SetDataTree(job, tree));
  }
  keep(applyCommonJobSettings());
  keep(BP_SetDataDiscFormat(job, static_cast<std::uint16_t>(formatType() & 0xFFFF)));
  // A DVD is never written in the CD-ROM XA form.
  keep(BP_SetISO9660_XA(job, useCDXAFormat() && !dvd));
  keep(BP_SetISO9660_AppendAppleExt(job, useAppleExt()));
  keep(BP_SetSAO(job, optionsState().useSAO));
  return first;
}

void DataWinCtlr::BSstartDiscBurn(int senderTag) {
  if (!beginStartDiscBurn(senderTag)) return;
  const std::uint32_t ref = burnSettings().dstDriveRef;
  const BP_JobRef job = jobForBurn(layoutJobCode(currentLayoutType(), ref, JobPurpose::kBurn));
  if (!job) return;
  if (const EngineStatus status = applyDataJobSettings(job); status != kNoErr) {
    failBurnStart(status);
    return;
  }
  spanningBurnStarts();
  BaseLayoutWinCtlr::BSstartDiscBurn(senderTag);
  const std::optional<DiscFacts>& disc = discInfo();
  if (isRealDriveRef(ref) && disc && rewrittenInPlace(disc->dvdKind))
    (void)BP_SetDVDPlusRWUsedBlocks(job, disc->usedBlocks);
  startEngine();
}

void DataWinCtlr::burnCompleted(int result) {
  if (spanningTakesOverCompletion(result)) return;
  BaseLayoutWinCtlr::burnCompleted(result);
}

void DataWinCtlr::ASalertOk() {
  spanningResultDismissed();
  BaseLayoutWinCtlr::ASalertOk();
}

}  // namespace quillion
