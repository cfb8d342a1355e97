// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning in the data window: the controls placed above the drive bar, the answers the
// spanning asks of the window, and the outline's notifications that change the count.
#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QVBoxLayout>

#include "documents/data_win_ctlr.h"
#include "framework/notification_center.h"
#include "framework/sheet_host.h"
#include "layout/data_edit_panels.h"
#include "layout/data_layout_ctlr.h"
#include "quillion/GDT.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"
#include "shell/zeb_utils.h"

namespace quillion {

void DataWinCtlr::setUpDiscSpanning() {
  if (span_) return;
  QMainWindow* w = window();
  span_ = std::make_unique<DiscSpanning>(w, sheets(), discSpanHooks());
  span_->setSwitch(layoutState().discSpan && formatType() != kDVDVideoFormat);
  QWidget* central = w->centralWidget();
  auto* layout = central ? qobject_cast<QVBoxLayout*>(central->layout()) : nullptr;
  if (layout) {
    const int bar = driveBar() ? layout->indexOf(driveBar()->box) : -1;
    layout->insertWidget(bar < 0 ? layout->count() : bar, span_->controls().widget);
  }
  // The pop-ups' items follow the switch, however it changes, and a rebuilt destination
  // list (a drive plugged in) is checked again.
  QObject::connect(span_->controls().discSpanSwitch, &QCheckBox::toggled, span_->controls().widget,
                   [this] { validateSpanningItems(); });
  if (DriveBar* bar = driveBar())
    QObject::connect(bar->layoutDstDriveButton->model(), &QAbstractItemModel::rowsInserted,
                     span_->controls().widget, [this] { validateSpanningItems(); });
  validateSpanningItems();
  NotificationCenter& center = NotificationCenter::instance();
  if (const void* outline = dataLayoutView()) {
    center.observe(this, QString::fromLatin1(VUK_FilesRemovedNotification), outline,
                   [this](const Notification&) { span_->itemsRemoved(); });
    center.observe(this, QString::fromLatin1(VUK_FilesDroppedNotification), outline,
                   [this](const Notification&) { (void)span_->filesDroppedInLayout(); });
  }
}

void DataWinCtlr::setDestinationStatus(std::uint16_t status) {
  const std::uint32_t ref = burnSettings().dstDriveRef;
  if (DeviceListManager* list = devices(); list && isRealDriveRef(ref))
    list->updateStatus(ref, status);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceStatusChangedNotification));
}

DiscSpanHooks DataWinCtlr::discSpanHooks() {
  DiscSpanHooks h;
  h.layoutTree = [this] { return layoutTree(); };
  h.formatType = [this] { return formatType(); };
  h.refreshOutline = [this] { model_->reloadData(); };
  h.setModelSpanning = [this](bool on) {
    layoutState().discSpan = on;
    model_->setDiscSpanningOn(on);
  };
  h.leaveImageWriter = [this] {
    if (DriveBar* bar = driveBar()) bar->layoutDstDriveButton->setCurrentIndex(0);
    LayoutUpdateDrive();
  };
  h.destinationDisc = [this]() -> std::optional<SpanDisc> {
    refreshDiscInfo();
    if (!discInfo()) return std::nullopt;
    return SpanDisc{discInfo()->discStatus, discInfo()->freeBlocks};
  };
  h.destinationRef = [this] { return burnSettings().dstDriveRef; };
  h.setDriveStatus = [this](std::uint32_t, std::uint16_t status) { setDestinationStatus(status); };
  h.endRefusedBurn = [this] {
    setDestinationStatus(kDriveReady);
    if (DriveBar* bar = driveBar()) bar->layoutDstDriveButton->setEnabled(true);
    model_->setLayoutIsBusy(false);
  };
  h.finishPart = [this] { finishBurnPart(kResultCompleted); };
  h.startNextBurn = [this] { BSstartDiscBurn(-1); };
  h.eject = [](std::uint32_t ref) { (void)GDT_Eject(ref, nullptr, true); };
  h.unmountAndEject = [](std::uint32_t ref) {
    if (isRealDriveRef(ref)) (void)ZEBUtils::unmountDiskWithRef(ref, true);
  };
  return h;
}

void DataWinCtlr::spanningWindowLoaded() {
  if (videoTS_ || formatType() == kDVDVideoFormat) {
    span_->disableForVideoTS();
    return;
  }
  span_->toggleFormat();
  span_->awake();
}

void DataWinCtlr::spanningLayoutLoaded() {
  if (!span_) return;
  // A format that cannot span keeps the switch off, whatever the file says.
  span_->setSwitch(layoutState().discSpan && span::formatAllowsSpanning(formatType()));
  span_->enableDiscSpan();
}

void DataWinCtlr::toggleFormat() {
  BaseLayoutWinCtlr::toggleFormat();
  spanningFormatChanged();
}

void DataWinCtlr::validateSpanningItems() {
  if (!span_) return;
  DriveBar* drives = driveBar();
  DataLayoutBar* data = dataLayoutBar();
  span_->validateWindowItems(drives ? drives->layoutDstDriveButton : nullptr,
                             data ? data->formatButton : nullptr);
}

void DataWinCtlr::spanningFormatChanged() {
  if (span_) span_->toggleFormat();
}

}  // namespace quillion
