// SPDX-License-Identifier: GPL-2.0-or-later
// The preferences window. Every control writes its one setting at once (and the settings file
// is synced); there is no OK or Cancel.
#pragma once

#include <QWidget>

#include "framework/repeating_timer.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableWidget;
class QTabWidget;

namespace quillion {

class BurnCustomProgress;
class Defaults;
class TempFolderMgr;

class PreferenceController : public QWidget {
  Q_OBJECT

 public:
  PreferenceController(Defaults& defaults, TempFolderMgr* tempFolders, QWidget* parent = nullptr);

  // The actions, one setting each.
  void setSkipSplash(bool on);
  void setNoPopUpDrawer(bool on);
  void setTestSrc(bool on);
  void setSrcOption(int row);
  void setVerifyData(bool on);
  void setVerifyTypeOption(int row);
  void setCacheSize(int index);
  void setDataFormatDefault(int index);
  void setMp3EncDefault(bool on);
  void setMp3Choice(QComboBox* popUp, const char* key, int index);
  void useCDDBChecking(bool on);
  void setUseAllAvailableVolumes(bool on);
  void setFolderReplaceCD(bool on);
  void setOverburn(bool on);
  void setColor(const char* key, const QColor& color);
  void applyColors();
  void useDefaultColors();
  // The end of editing in one of the overburn fields: the value is clamped (99 minutes, 59
  // seconds, 74 frames), shown clamped and stored.
  void overburnFieldEdited(QLineEdit* field);
  // Volume table: ticking and unticking a volume; at least one stays ticked.
  void setVolumeUsed(int row, bool used);
  bool volumeUsed(int row) const;
  void allowCDDBSwitch();

  QLineEdit* overburnMinField() const { return overburnFields_[0]; }
  QLineEdit* overburnSecField() const { return overburnFields_[1]; }
  QLineEdit* overburnFrameField() const { return overburnFields_[2]; }
  QComboBox* mp3QualityButton() const { return mp3Quality_; }
  QComboBox* mp3BitrateButton() const { return mp3Bitrate_; }
  QComboBox* mp3ChannelButton() const { return mp3Channel_; }
  QTableWidget* volumeTable() const { return volumes_; }
  BurnCustomProgress* sampleProgressBar() const { return sample_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void loadVolumes();
  void selectTag(QComboBox* popUp, int tag);

  Defaults& defaults_;
  TempFolderMgr* tempFolders_;
  QTabWidget* tabs_ = nullptr;
  QCheckBox* testSrc_ = nullptr;
  QButtonGroup* srcOption_ = nullptr;
  QCheckBox* verify_ = nullptr;
  QButtonGroup* verifyType_ = nullptr;
  QComboBox* cacheSize_ = nullptr;
  QComboBox* dataFormat_ = nullptr;
  QComboBox* mp3Quality_ = nullptr;
  QComboBox* mp3Bitrate_ = nullptr;
  QComboBox* mp3Channel_ = nullptr;
  QCheckBox* useCddb_ = nullptr;
  QCheckBox* useAllVolumes_ = nullptr;
  QTableWidget* volumes_ = nullptr;
  QLineEdit* overburnFields_[3] = {};
  BurnCustomProgress* sample_ = nullptr;
  RepeatingTimer animation_;
  std::vector<int> volumeIds_;
};

}  // namespace quillion
