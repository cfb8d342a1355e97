// SPDX-License-Identifier: GPL-2.0-or-later
// The drive bar of a layout window and the speed slider of its options sheet: the
// destinations offered, the drive's state, and the speeds the drive takes for its medium.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "burn/layout_codes.h"
#include "framework/cfmt.h"
#include "framework/document.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/data_edit_panels.h"
#include "layout/session_tab.h"
#include "quillion/GDT.h"
#include "shell/device_list_manager.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

// The disc-type line of each disc type code of the device list.
const char* discTypeKey(std::uint32_t code) {
  static constexpr const char* kKeys[] = {
      "No Disc",     "Data Disc",    "Audio Disc", "Mixed Mode Disc", "CD Extra Disc",
      "CDI Disc",    "CDXA Disc",    "Blank Disc", "Unknown Disc",    "DVD-ROM Disc",
      "DVD-R Disc",  "DVD-RW Disc",  "DVD+R Disc", "DVD+R DL Disc",   "DVD-RAM Disc",
      "DVD+RW Disc", "Unknown Disc", "Blank DVD",  nullptr,           "Unknown Disc",
      "BD-ROM Disc", "BD-R Disc",    "BD-RE Disc"};
  return code < std::size(kKeys) ? kKeys[code] : "Unknown Disc";
}

// The name of a blank DVD or BD by its disc kind.
const char* blankDvdKey(std::uint8_t dvdKind) {
  static constexpr const char* kKeys[] = {"Unknown DVD Disc", "DVD-ROM Disc", "DVD-R Disc",
                                          "DVD-RW Disc",      "DVD+R Disc",   "DVD+RW Disc",
                                          "DVD+R DL Disc",    "DVD-RAM Disc", "DVD-R DL Disc",
                                          "BD-ROM Disc",      "BD-R Disc",    "BD-RE Disc"};
  return dvdKind < std::size(kKeys) ? kKeys[dvdKind] : "Unknown DVD Disc";
}

QString tildePath(const QString& path) {
  const QString home = QDir::homePath();
  if (!home.isEmpty() && path.startsWith(home + QLatin1Char('/')))
    return QLatin1Char('~') + path.mid(home.size());
  return path;
}

}  // namespace

void BaseLayoutWinCtlr::setImageWriterPath(std::uint32_t writerRef, const QString& path) {
  if (writerRef == kCDImageWriterRef) cdImageWriterPath_ = path;
  if (writerRef == kISOImageWriterRef) isoImageWriterPath_ = path;
  if (driveBar_) updateDriveStatusField(0);
}

void BaseLayoutWinCtlr::deviceListDidChange() {
  DeviceListManager* list = devices();
  if (!driveBar_ || !list) return;
  QComboBox* popup = driveBar_->layoutDstDriveButton;
  const std::uint32_t remembered = settings_.dstDriveRef;
  const QSignalBlocker block(popup);
  popup->clear();
  for (int i = 0; i < list->numberOfAllDrives(); ++i) {
    const std::uint32_t ref = list->getDeviceRefByIndex(i);
    // The pseudo-drives count as supported entries: they are told apart first.
    if (list->isCDImageWriter(i)) {
      popup->addItem(guiText("CD Image Writer"), kCDImageWriterRef);
    } else if (list->isISOImageWriter(i)) {
      if (currentLayoutType() == kLayoutData)
        popup->addItem(guiText("ISO Image Writer"), kISOImageWriterRef);
    } else if (list->isSupportedDrive(i) && isRealDriveRef(ref)) {
      popup->addItem(list->titleOfDriveByIndex(i, true), ref);
    }
  }
  // The same destination again when it is still offered.
  const int again = popup->findData(remembered);
  if (remembered != kNoDestination && again >= 0) popup->setCurrentIndex(again);
  settings_.dstDriveRef = popup->count() > 0 ? popup->currentData().toUInt() : kNoDestination;
  LayoutUpdateDrive();
}

void BaseLayoutWinCtlr::LayoutUpdateDrive() {
  DeviceListManager* list = devices();
  if (!driveBar_ || !list) return;
  QComboBox* popup = driveBar_->layoutDstDriveButton;
  if (popup->count() > 0) settings_.dstDriveRef = popup->currentData().toUInt();
  const QString name = document() ? document()->displayName() : guiText("Untitled");
  const QString documents = ZEBUtils::getUserDocumentDirectoryPath();
  if (settings_.dstDriveRef == kCDImageWriterRef && cdImageWriterPath_.isEmpty())
    cdImageWriterPath_ = documents + cfmt(QStringLiteral("%@.%@"), name, QStringLiteral("wlt"));
  if (settings_.dstDriveRef == kISOImageWriterRef && isoImageWriterPath_.isEmpty())
    isoImageWriterPath_ = documents + cfmt(QStringLiteral("%@.%@"), name, QStringLiteral("iso"));
  updateDriveStatusField(list->statusOfDevice(settings_.dstDriveRef));
  if (optionsDrawerOpenOnData()) {
    if (isRealDriveRef(settings_.dstDriveRef)) refreshDiscInfo();
    updateSessionTabIfShown();
  }
}

void BaseLayoutWinCtlr::deviceStatusDidChange() {
  if (DeviceListManager* list = devices())
    updateDriveStatusField(list->statusOfDevice(settings_.dstDriveRef));
  if (optionsDrawerOpenOnData()) updateSessionTabIfShown();
}

bool BaseLayoutWinCtlr::optionsDrawerOpenOnData() const {
  return currentLayoutType() == kLayoutData && optionsDrawer_ && optionsDrawer_->isOpen();
}

// The session list shown follows the disc in the destination, so a disc taken out or put
// in is seen without the user going back to the tab.
void BaseLayoutWinCtlr::updateSessionTabIfShown() {
  if (sessionTab_ && optionsDrawer_->selectedTabIdentifier() == QLatin1String("2"))
    sessionTab_->updateISO9660SessionInfo();
}

void BaseLayoutWinCtlr::updateDriveStatusField(std::uint16_t status) {
  DeviceListManager* list = devices();
  if (!driveBar_ || !list) return;
  DriveBar& bar = *driveBar_;
  const std::uint32_t ref = settings_.dstDriveRef;
  const QString statusWord = guiText("Drive Status");
  if (isImageWriterRef(ref)) {
    bar.layoutDeviceInterfaceImage->setText(QStringLiteral("cdimage"));
    bar.layoutEjectButton->hide();
    bar.layoutEjectButton->setEnabled(false);
    bar.layoutEraseButton->hide();
    bar.layoutChangeImageButton->show();
    const QString path = ref == kCDImageWriterRef ? cdImageWriterPath_ : isoImageWriterPath_;
    if (path.isEmpty()) {
      bar.layoutDeviceStatusField->clear();
      bar.layoutDiscTypeField->setText(guiText("Choose Image"));
    } else {
      bar.layoutDeviceStatusField->setText(
          cfmt(QStringLiteral("%@: %@"), statusWord, guiText("Drive Ready")));
      bar.layoutDiscTypeField->setText(tildePath(path));
    }
    bar.layoutBurnOptionsButton->setEnabled(true);
    return;
  }
  if (ref == kNoDestination) {
    bar.layoutDeviceStatusField->setText(
        cfmt(QStringLiteral("%@: %@"), statusWord, guiText("N/A")));
    bar.layoutDiscTypeField->setText(guiText("N/A"));
    bar.layoutEjectButton->setEnabled(false);
    bar.layoutBurnOptionsButton->setEnabled(false);
    return;
  }
  const int index = list->getIndexOfDeviceByRef(ref);
  bar.layoutDeviceInterfaceImage->setText(list->driveInterface(index).toLower());
  bar.layoutEjectButton->show();
  bar.layoutEraseButton->show();
  bar.layoutChangeImageButton->hide();
  const bool ready = status == kDriveReady;
  bar.layoutDeviceStatusField->setText(
      ready ? cfmt(QStringLiteral("%@: %@"), statusWord, guiText("Drive Ready"))
            : guiText("Drive Busy"));
  bar.layoutEjectButton->setEnabled(ready);
  bar.layoutEraseButton->setEnabled(ready);
  bar.layoutBurnOptionsButton->setEnabled(ready);
  // The disc line.
  if (list->statusOfDevice(ref) != kDriveReady) {
    bar.layoutDiscTypeField->clear();
    return;
  }
  if (GDT_TrayStatus(ref) == 1) {
    bar.layoutDiscTypeField->setText(guiText("Tray Opened"));
    return;
  }
  const std::uint32_t code = list->DDI_getDiscTypeEnum(ref);
  const QString free = cfmt(QStringLiteral("%@ %@"), guiText("Free"),
                            ZEBUtils::bytesToString(list->DDI_getFreeSpace(ref)));
  if (code == kDiscCDBlank) {
    bar.layoutDiscTypeField->setText(free);
  } else if (code == kDiscDVDBlank) {
    bar.layoutDiscTypeField->setText(cfmt(QStringLiteral("%@ %@"),
                                          guiText(blankDvdKey(list->DDI_getDVDSpec(ref))),
                                          guiText("Blank Disc")) +
                                     cfmt(QStringLiteral(", %@"), free));
  } else if (code == kDiscNone) {
    bar.layoutDiscTypeField->setText(guiText("No Disc"));
  } else if (const char* key = discTypeKey(code)) {
    QString line = guiText(key) + cfmt(QStringLiteral(", %@ %@"), guiText("Used"),
                                       ZEBUtils::bytesToString(list->DDI_getUsedSpace(ref)));
    if (list->DDI_getDiscStatus(ref) == 1)
      line += cfmt(QStringLiteral(" - %@"), guiText("Closed Disc"));
    bar.layoutDiscTypeField->setText(line);
  }
}

void BaseLayoutWinCtlr::BSeject() {
  const std::uint32_t ref = settings_.dstDriveRef;
  if (!isRealDriveRef(ref)) return;
  // An open tray closes; a closed one (or one whose state cannot be read) opens.
  const EngineStatus tray = GDT_TrayStatus(ref);
  if (tray == 1) {
    (void)GDT_Load(ref, nullptr);
  } else {
    (void)ZEBUtils::unmountDiskWithRef(ref, true);
  }
}

void BaseLayoutWinCtlr::setupSpeedSlider(int driveIndex) {
  if (!burnOptions_) return;
  BurnOptionsSheet& s = *burnOptions_;
  MediaSpeedReport report;
  if (isRealDriveRef(settings_.dstDriveRef)) {
    bool isCDR = false;
    report.status = GDT_GetMediaSpeed(settings_.dstDriveRef, &isCDR, &report.profile,
                                      &report.lowest, &report.highest, &sense_);
  }
  resultCode_ = report.status;
  (void)driveIndex;
  speeds_.setUp(settings_.deviceSpeed, report);
  const QSignalBlocker block(s.BSspeedSlider);
  if (speeds_.isEmpty()) {
    // Nothing to choose from: the drive writes at its own speed.
    s.BSspeedSlider->setRange(0, 0);
    s.BSspeedSlider->setEnabled(false);
    s.BSrecommendedSwitch->setChecked(true);
    s.BSrecommendedSwitch->setEnabled(false);
    s.BSminSpeedField->clear();
    s.BSmaxSpeedField->clear();
    s.BScurSpeedField->setText(guiText("Max Speed"));
    lastSliderPos_ = -1;
    settings_.burningSpeed = SpeedModel::kDriveDefaultSpeed;
    return;
  }
  s.BSspeedSlider->setRange(0, speeds_.maxPosition());
  lastSliderPos_ = speeds_.maxPosition();
  if (speeds_.isSingle()) {
    settings_.burningSpeed = speeds_.highest();
    s.BSspeedSlider->setValue(0);
    placeSpeedLabel();
    s.BSmaxSpeedField->setText(QStringLiteral("-"));
    s.BSspeedSlider->setEnabled(false);
    s.BSrecommendedSwitch->setChecked(true);
    s.BSrecommendedSwitch->setEnabled(false);
    return;
  }
  s.BSspeedSlider->setEnabled(true);
  s.BSrecommendedSwitch->setEnabled(true);
  s.BSminSpeedField->setText(cfmt(QStringLiteral("%dx"), static_cast<int>(speeds_.lowest())));
  s.BSmaxSpeedField->setText(cfmt(QStringLiteral("%dx"), static_cast<int>(speeds_.highest())));
  currentRecommendedSpeed_ = static_cast<int>(speeds_.highest());
  s.BSspeedSlider->setValue(lastSliderPos_);
  BSupdateSpeed();
}

void BaseLayoutWinCtlr::BSupdateSpeed() {
  if (!burnOptions_ || speeds_.isEmpty()) return;
  BurnOptionsSheet& s = *burnOptions_;
  const QSignalBlocker block(s.BSspeedSlider);
  if (s.BSspeedSlider->value() != lastSliderPos_) s.BSrecommendedSwitch->setChecked(false);
  if (s.BSrecommendedSwitch->isChecked()) {
    const std::uint32_t ref = settings_.dstDriveRef;
    SpeedDestination where = SpeedDestination::kOther;
    std::string interface;
    if (isRealDriveRef(ref)) {
      where = SpeedDestination::kDrive;
      if (DeviceListManager* list = devices())
        interface = list->driveInterface(list->getIndexOfDeviceByRef(ref)).toStdString();
    } else if (ref == kCDImageWriterRef) {
      where = SpeedDestination::kCDImageWriter;
    }
    if (where != SpeedDestination::kOther) {
      const int position = speeds_.recommendedPosition(where, interface);
      s.BSspeedSlider->setValue(position);
      currentRecommendedSpeed_ = static_cast<int>(speeds_.speedAt(position));
    }
  }
  lastSliderPos_ = s.BSspeedSlider->value();
  placeSpeedLabel();
  settings_.burningSpeed = speeds_.speedAt(s.BSspeedSlider->value());
}

void BaseLayoutWinCtlr::placeSpeedLabel() {
  BurnOptionsSheet& s = *burnOptions_;
  const int position = s.BSspeedSlider->value();
  const auto speedText = [](std::uint32_t x) {
    return cfmt(QStringLiteral("%dx"), static_cast<int>(x));
  };
  s.BSminSpeedField->setText(position == 0 ? QString() : speedText(speeds_.lowest()));
  s.BSmaxSpeedField->setText(position == speeds_.maxPosition() ? QString()
                                                               : speedText(speeds_.highest()));
  if (speeds_.isSingle()) s.BSmaxSpeedField->setText(QStringLiteral("-"));
  s.BScurSpeedField->setText(speedText(speeds_.speedAt(position)));
}

}  // namespace quillion
