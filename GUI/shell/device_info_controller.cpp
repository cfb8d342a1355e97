// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/device_info_controller.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "framework/messages.h"
#include "framework/notification_center.h"
#include "shell/device_list_manager.h"
#include "shell/notification_names.h"

namespace quillion {

namespace {

QString yesNoText(bool on) {
  return Msg::gui(on ? QStringLiteral("Yes String") : QStringLiteral("No String"));
}

QString driveStatusText(std::uint16_t status) {
  switch (status) {
    case kDriveReady:
      return Msg::gui(QStringLiteral("Drive Ready"));
    case kDriveErasing:
      return Msg::gui(QStringLiteral("Drive Erasing"));
    case kDriveBurning:
      return Msg::gui(QStringLiteral("Drive Burning"));
    case kDriveBusy:
      return Msg::gui(QStringLiteral("Drive Busy"));
    default:
      return {};
  }
}

}  // namespace

QStringList DeviceInfoController::rowKeys() {
  return {"Model Name",
          "Interface",
          "Firmware Version",
          "Cache Size",
          "Buffer Underrun Protection",
          "Overburn Support",
          "CD-R Speed",
          "CD-RW Speed",
          "DVD-/+R Speed",
          "DVD-/+RW Speed",
          "BD-R/RE Support"};
}

DeviceInfoController::DeviceInfoController(DeviceListManager& devices,
                                           std::uint32_t databaseVersion, QWidget* parent)
    : QWidget(parent, Qt::Window), devices_(devices), bdbVersion_(databaseVersion) {
  setWindowTitle(Msg::gui(QStringLiteral("Drive Information")));
  drives_ = new QComboBox(this);
  status_ = new QLabel(this);
  version_ = new QLabel(QString::number(bdbVersion_), this);
  dds_ = new QLabel(this);
  rows_ = new QStandardItemModel(0, 2, this);
  rows_->setHorizontalHeaderLabels(
      {Msg::gui(QStringLiteral("DeviceInfo")), Msg::gui(QStringLiteral("Supported"))});
  table_ = new QTableView(this);
  table_->setModel(rows_);
  table_->setSelectionMode(QAbstractItemView::NoSelection);  // rows are never selected
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setFocusPolicy(Qt::NoFocus);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  close_ = new QPushButton(Msg::gui(QStringLiteral("Close")), this);
  connect(close_, &QPushButton::clicked, this, &QWidget::hide);

  auto* form = new QFormLayout;
  form->addRow(Msg::gui(QStringLiteral("Drive:")), drives_);
  form->addRow(Msg::gui(QStringLiteral("Status:")), status_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(table_);
  auto* footer = new QFormLayout;
  footer->addRow(Msg::gui(QStringLiteral("Drive Database Version:")), version_);
  footer->addRow(Msg::gui(QStringLiteral("Speeds From Drive:")), dds_);
  layout->addLayout(footer);
  layout->addWidget(close_, 0, Qt::AlignRight);
  resize(460, 420);

  connect(drives_, &QComboBox::activated, this, [this](int index) { chooseDrive(index); });
  auto& center = NotificationCenter::instance();
  center.observe(this, QString::fromLatin1(VUK_DeviceListUpdated), NotificationCenter::AnySender,
                 [this](const Notification&) { deviceListDidChange(); });
  center.observe(this, QString::fromLatin1(VUK_DeviceStatusChangedNotification),
                 NotificationCenter::AnySender,
                 [this](const Notification&) { deviceStatusDidChange(); });
  deviceListDidChange();
}

void DeviceInfoController::setCurrentBDBVersion(std::uint32_t version) {
  bdbVersion_ = version;
  version_->setText(QString::number(version));
}

void DeviceInfoController::deviceListDidChange() {
  drives_->clear();
  for (int i = 0; i < devices_.numberOfAllDrives(); ++i) {
    if (!devices_.isSupportedDrive(i) || devices_.isCDImageWriter(i) ||
        devices_.isISOImageWriter(i))
      continue;
    drives_->addItem(devices_.titleOfDriveByIndex(i, false));
  }
  // Keep the chosen drive when it is still there.
  if (deviceRef_ != 0) {
    const int writer = devices_.getIndexOfWriterByRef(deviceRef_);
    if (writer >= 0 && writer < drives_->count()) drives_->setCurrentIndex(writer);
  }
  chooseDrive(drives_->currentIndex());
}

void DeviceInfoController::chooseDrive(int popupIndex) {
  if (popupIndex >= 0 && popupIndex < drives_->count()) {
    drives_->setCurrentIndex(popupIndex);
    deviceRef_ = devices_.getWriterRefByIndex(popupIndex);
  } else {
    deviceRef_ = 0;
  }
  setupDeviceInfoFields();
}

void DeviceInfoController::deviceStatusDidChange() {
  const QString text = driveStatusText(devices_.statusOfDevice(deviceRef_));
  if (!text.isEmpty()) status_->setText(text);
}

void DeviceInfoController::setupDeviceInfoFields() {
  const int index = devices_.getIndexOfDeviceByRef(deviceRef_);
  deviceStatusDidChange();
  const QStringList values = index < 0
                                 ? QStringList()
                                 : QStringList{devices_.titleOfDriveByIndex(index, false),
                                               devices_.driveInterface(index),
                                               devices_.driveFirmware(index),
                                               devices_.driveCacheSize(index),
                                               yesNoText(devices_.driveSupportBurnProof(index)),
                                               yesNoText(devices_.driveSupportOverburn(index)),
                                               devices_.driveCDRSpeedString(index),
                                               devices_.driveCDRWSpeedString(index),
                                               devices_.driveDVDRSpeedString(index),
                                               devices_.driveDVDRWSpeedString(index),
                                               yesNoText(devices_.driveSupportBD(index))};
  rows_->setRowCount(0);
  const QStringList keys = rowKeys();
  for (int row = 0; row < values.size(); ++row) {
    auto* key = new QStandardItem(keys[row]);
    auto* value = new QStandardItem(values[row]);
    value->setForeground(QColor(0x80, 0x40, 0x00));  // brown: a value, not an editable field
    for (QStandardItem* item : {key, value}) item->setFlags(Qt::ItemIsEnabled);
    rows_->appendRow({key, value});
  }
  dds_->setText(index < 0 ? QString() : devices_.driveDDSSupportString(index));
}

QString DeviceInfoController::valueForKey(const QString& key) const {
  for (int row = 0; row < rows_->rowCount(); ++row)
    if (rows_->item(row, 0)->text() == key) return rows_->item(row, 1)->text();
  return {};
}

QString DeviceInfoController::statusText() const {
  return status_->text();
}

QString DeviceInfoController::databaseVersionText() const {
  return version_->text();
}

QString DeviceInfoController::ddsText() const {
  return dds_->text();
}

QStringList DeviceInfoController::driveTitles() const {
  QStringList out;
  for (int i = 0; i < drives_->count(); ++i) out << drives_->itemText(i);
  return out;
}

}  // namespace quillion
