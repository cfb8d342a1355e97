// SPDX-License-Identifier: GPL-2.0-or-later
// The controls of a window that shows a data tree, built in code: the bar under the outline
// (new folder, add, remove, the format and filter pop-ups and the totals), the options
// drawer with the ISO9660 volume texts and the file-properties sheet. Every field names the
// control it holds.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QCheckBox;
class QComboBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QTabWidget;
class QWidget;

namespace quillion {

struct DataLayoutBar {
  QWidget* box = nullptr;
  QPushButton* newButton = nullptr;
  QPushButton* addDataTrackButton = nullptr;
  QPushButton* removeDataTrackButton = nullptr;
  QPushButton* dataOptionsButton = nullptr;
  QComboBox* formatButton = nullptr;  // item data: the format code; null without formats
  QComboBox* dataFilterButton = nullptr;
  QLabel* totalFilesField = nullptr;
  QLabel* totalSizeField = nullptr;
  QLabel* totalSizeTextField = nullptr;  // mixed-mode and CD Extra windows: data and audio

  // `withFormats`: the kind chooses its data-disc format (MP3 layouts have a fixed one).
  static std::unique_ptr<DataLayoutBar> build(QWidget* parent, bool withFormats);
};

// The drawer on the window's right edge. Its second tab is the session tab, which the
// session import fills.
struct DataOptionsDrawer {
  QDockWidget* drawer = nullptr;
  QTabWidget* ISO9660_iso9660TabView = nullptr;
  QWidget* sessionTab = nullptr;
  QLineEdit* ISO9660_volumeSetNameField = nullptr;
  QLineEdit* ISO9660_systemNameField = nullptr;
  QLineEdit* ISO9660_publisherNameField = nullptr;
  QLineEdit* ISO9660_preparerNameField = nullptr;
  QCheckBox* ISO9660_cdromXASwitch = nullptr;
  QCheckBox* ISO9660_addAppleExtSwitch = nullptr;

  bool isOpen() const;
  void open();
  void close();
  // The identifier of the selected tab: "1" the ISO9660 texts, "2" the sessions.
  QString selectedTabIdentifier() const;

  static std::unique_ptr<DataOptionsDrawer> build(QMainWindow* window);
};

struct FilePropertiesSheet {
  std::unique_ptr<QDialog> dialog;
  QLineEdit* FPTitleField = nullptr;
  QLabel* FPIconView = nullptr;
  QLabel* FPKindField = nullptr;
  QLabel* FPSizeField = nullptr;
  QLabel* FPCreatedField = nullptr;
  QLabel* FPModifiedField = nullptr;
  QLabel* FPOriginalField = nullptr;
  QPushButton* FPOkButton = nullptr;
  QPushButton* FPCancelButton = nullptr;

  static std::unique_ptr<FilePropertiesSheet> build(QWidget* parent);
};

}  // namespace quillion
