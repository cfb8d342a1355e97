// SPDX-License-Identifier: GPL-2.0-or-later
// The drive bar and the burn sheets of a layout window, built in code. A window holds each
// panel only when its kind has it; every field names the control it holds, so the window's
// code reads like the sheet it drives.
#pragma once

#include <QDialog>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

namespace quillion {

class BurnCustomProgress;
class Defaults;

struct DriveBar {
  QWidget* box = nullptr;
  QComboBox* layoutDstDriveButton = nullptr;
  QLabel* layoutDeviceInterfaceImage = nullptr;
  QLabel* layoutDeviceStatusField = nullptr;
  QLabel* layoutDiscTypeField = nullptr;
  QPushButton* layoutEjectButton = nullptr;
  QPushButton* layoutEraseButton = nullptr;
  QPushButton* layoutBurnOptionsButton = nullptr;
  QPushButton* layoutChangeImageButton = nullptr;

  static std::unique_ptr<DriveBar> build(QWidget* parent);
};

struct BurnOptionsSheet {
  std::unique_ptr<QDialog> dialog;
  QCheckBox* BSsmartSwitch = nullptr;
  QCheckBox* BSsimulateSwitch = nullptr;
  QCheckBox* BSbufferUnderrunSwitch = nullptr;
  QCheckBox* BSsaoSwitch = nullptr;
  QCheckBox* BScdTextSwitch = nullptr;
  QCheckBox* BSverifyDataSwitch = nullptr;
  QCheckBox* BSrecommendedSwitch = nullptr;
  QSlider* BSspeedSlider = nullptr;
  QLabel* BSminSpeedField = nullptr;
  QLabel* BSmaxSpeedField = nullptr;
  QLabel* BScurSpeedField = nullptr;
  QPushButton* BSburnDiscButton = nullptr;  // tag 1: write and close the disc
  QPushButton* BSburnSessionButton = nullptr;
  QPushButton* BScancelBurnOptionsButton = nullptr;

  static std::unique_ptr<BurnOptionsSheet> build(QWidget* parent);
};

struct ProgressSheet {
  std::unique_ptr<QDialog> dialog;
  BurnCustomProgress* PSburnProgBar = nullptr;
  QLabel* PSburnDstDriveField = nullptr;
  QLabel* PSburnModeField = nullptr;
  QLabel* PSburnSpeedField = nullptr;
  QLabel* PSburnTimeLapsedField = nullptr;
  QLabel* PSappCacheSizeField = nullptr;
  QLabel* PSrecorderCacheSizeField = nullptr;
  QProgressBar* PSrecorderCacheProgBar = nullptr;
  QProgressBar* PSappCacheProgBar = nullptr;
  QPushButton* PSburnProgressCancelButton = nullptr;

  static std::unique_ptr<ProgressSheet> build(QWidget* parent, Defaults& defaults);
};

struct ResultSheet {
  std::unique_ptr<QDialog> dialog;
  QLabel* ASMsgField = nullptr;
  QLabel* ASErrorTitleField = nullptr;
  QLabel* ASErrorMsgField = nullptr;
  QProgressBar* verifyProgress = nullptr;
  QPushButton* verifyCancelButton = nullptr;
  QPushButton* ASOkButton = nullptr;
  QPushButton* ASLabelSoftwareButton = nullptr;

  static std::unique_ptr<ResultSheet> build(QWidget* parent);
};

// The sheet that asks for a blank disc.
struct WaitSheet {
  std::unique_ptr<QDialog> dialog;
  QLabel* PSWaitTextField = nullptr;
  QPushButton* PSWaitOKButton = nullptr;
  QPushButton* PSWaitCancelButton = nullptr;

  static std::unique_ptr<WaitSheet> build(QWidget* parent);
};

}  // namespace quillion
