// SPDX-License-Identifier: GPL-2.0-or-later
// The drive information panel: for one chosen writer, its status, eleven rows of its
// properties from the device list, whether its speeds came from the drive itself, and the
// version of the installed drive database.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

namespace quillion {

class DeviceListManager;

class DeviceInfoController : public QWidget {
  Q_OBJECT

 public:
  DeviceInfoController(DeviceListManager& devices, std::uint32_t databaseVersion,
                       QWidget* parent = nullptr);

  // The eleven row keys, in order.
  static QStringList rowKeys();

  void setCurrentBDBVersion(std::uint32_t version);
  std::uint32_t getCurrentBDBVersion() const { return bdbVersion_; }
  void deviceListDidChange();
  void deviceStatusDidChange();

  // What the panel shows, for tests and the burn log.
  QString valueForKey(const QString& key) const;
  QString statusText() const;
  QString databaseVersionText() const;
  QString ddsText() const;
  QStringList driveTitles() const;
  std::uint32_t deviceRef() const { return deviceRef_; }
  void chooseDrive(int popupIndex);

 private:
  void setupDeviceInfoFields();

  DeviceListManager& devices_;
  QComboBox* drives_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* dds_ = nullptr;
  QTableView* table_ = nullptr;
  QStandardItemModel* rows_ = nullptr;
  QPushButton* close_ = nullptr;
  std::uint32_t deviceRef_ = 0;
  std::uint32_t bdbVersion_ = 0;
};

}  // namespace quillion
