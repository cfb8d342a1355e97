// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/preference_controller.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "shell/notification_names.h"
#include "shell/preference_keys.h"
#include "shell/progress_views.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

struct Item {
  const char* text;
  int tag;
};

// The overburn fields' keys and upper bounds, in field order.
struct OverburnField {
  const char* key;
  int maximum;
};
constexpr OverburnField kOverburnFields[3] = {
    {VUKOverburnMinKey, 99}, {VUKOverburnSecKey, 59}, {VUKOverburnFrameKey, 74}};

constexpr int kMp3DefaultQuality = 0, kMp3DefaultBitrate = 128, kMp3DefaultChannel = 2;

QComboBox* popUp(QWidget* parent, std::initializer_list<Item> items) {
  auto* box = new QComboBox(parent);
  for (const Item& i : items) box->addItem(Msg::gui(QString::fromLatin1(i.text)), i.tag);
  return box;
}

QButtonGroup* twoRows(QWidget* parent, QLayout* into, const char* first, const char* second) {
  auto* group = new QButtonGroup(parent);
  for (int row = 0; row < 2; ++row) {
    auto* button = new QRadioButton(Msg::gui(QString::fromLatin1(row ? second : first)), parent);
    group->addButton(button, row);
    into->addWidget(button);
  }
  return group;
}

void enableGroup(QButtonGroup* group, bool on) {
  for (QAbstractButton* b : group->buttons()) b->setEnabled(on);
}

}  // namespace

PreferenceController::PreferenceController(Defaults& defaults, TempFolderMgr* tempFolders,
                                           QWidget* parent)
    : QWidget(parent, Qt::Window), defaults_(defaults), tempFolders_(tempFolders) {
  setWindowTitle(Msg::gui(QStringLiteral("Preferences")));
  tabs_ = new QTabWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);

  // General.
  auto* general = new QWidget(tabs_);
  auto* g = new QVBoxLayout(general);
  const auto check = [&](const char* text, const char* key, auto action) {
    auto* box = new QCheckBox(Msg::gui(QString::fromLatin1(text)), general);
    box->setChecked(defaults_.boolValue(key));
    connect(box, &QCheckBox::toggled, this, action);
    g->addWidget(box);
    return box;
  };
  check("Skip the splash window", VUKSkipSplashBoolKey, [this](bool on) { setSkipSplash(on); });
  check("No descriptions in the start window", VUKNoPopUpDrawerKey,
        [this](bool on) { setNoPopUpDrawer(on); });
  testSrc_ = check("Test the source drive's speed", VUKTestSrcSpeedKey,
                   [this](bool on) { setTestSrc(on); });
  srcOption_ = twoRows(general, g, "Always", "Ask each time");
  verify_ = check("Verify data after recording", VUKVerifyDataKey,
                  [this](bool on) { setVerifyData(on); });
  verifyType_ = twoRows(general, g, "Compare every byte", "Read every block");
  check("Folder icon for the disc", VUKFolderReplaceCDKey,
        [this](bool on) { setFolderReplaceCD(on); });
  useCddb_ = check("Look audio CDs up on the internet", VUKUseCDDBKey,
                   [this](bool on) { useCDDBChecking(on); });
  useCddb_->setEnabled(false);  // until the application allows it
  cacheSize_ = popUp(
      general,
      {{"1 MB cache", 1024}, {"2 MB cache", 2048}, {"4 MB cache", 4096}, {"8 MB cache", 8192}});
  dataFormat_ = popUp(general, {{"HFS Plus", 2},
                                {"ISO9660", 256},
                                {"ISO9660 with Joliet", 512},
                                {"Joliet + HFS Plus hybrid", 514},
                                {"UDF 1.02", 16},
                                {"UDF 1.50", 32}});
  g->addWidget(cacheSize_);
  g->addWidget(dataFormat_);
  srcOption_->button(defaults_.intValue(VUKTestSrcPromptKey) ? 1 : 0)->setChecked(true);
  verifyType_->button(defaults_.intValue(VUKVerifyDataTypeKey) ? 1 : 0)->setChecked(true);
  enableGroup(srcOption_, testSrc_->isChecked());
  enableGroup(verifyType_, verify_->isChecked());
  selectTag(cacheSize_, defaults_.intValue(VUKCacheSizeKey));
  selectTag(dataFormat_, defaults_.intValue(VUKDataCDFormatKey));
  connect(srcOption_, &QButtonGroup::idClicked, this, [this](int row) { setSrcOption(row); });
  connect(verifyType_, &QButtonGroup::idClicked, this,
          [this](int row) { setVerifyTypeOption(row); });
  connect(cacheSize_, &QComboBox::activated, this, [this](int i) { setCacheSize(i); });
  connect(dataFormat_, &QComboBox::activated, this, [this](int i) { setDataFormatDefault(i); });
  tabs_->addTab(general, Msg::gui(QStringLiteral("General")));

  // Overburn.
  auto* overburn = new QWidget(tabs_);
  auto* o = new QFormLayout(overburn);
  auto* overburnSwitch = new QCheckBox(Msg::gui(QStringLiteral("Allow overburning")), overburn);
  overburnSwitch->setChecked(defaults_.boolValue(VUKOverburnKey));
  o->addRow(overburnSwitch);
  const char* labels[3] = {"Minutes", "Seconds", "Frames"};
  for (int i = 0; i < 3; ++i) {
    overburnFields_[i] =
        new QLineEdit(QString::number(defaults_.intValue(kOverburnFields[i].key)), overburn);
    overburnFields_[i]->setValidator(new QIntValidator(0, 9999, overburnFields_[i]));
    overburnFields_[i]->setEnabled(overburnSwitch->isChecked());
    connect(overburnFields_[i], &QLineEdit::editingFinished, this,
            [this, field = overburnFields_[i]] { overburnFieldEdited(field); });
    o->addRow(Msg::gui(QString::fromLatin1(labels[i])), overburnFields_[i]);
  }
  connect(overburnSwitch, &QCheckBox::toggled, this, [this](bool on) { setOverburn(on); });
  tabs_->addTab(overburn, Msg::gui(QStringLiteral("Overburn")));

  // MP3.
  auto* mp3 = new QWidget(tabs_);
  auto* m = new QFormLayout(mp3);
  mp3Quality_ = popUp(mp3, {{"Best quality", 0}, {"Good quality", 2}, {"Fast", 5}, {"Fastest", 9}});
  mp3Bitrate_ = popUp(mp3, {{"96 kbit/s", 96},
                            {"128 kbit/s", 128},
                            {"160 kbit/s", 160},
                            {"192 kbit/s", 192},
                            {"256 kbit/s", 256},
                            {"320 kbit/s", 320}});
  mp3Channel_ = popUp(mp3, {{"Mono", 1}, {"Stereo", 2}, {"Joint stereo", 3}});
  auto* mp3Default = new QCheckBox(Msg::gui(QStringLiteral("Use the standard MP3 settings")), mp3);
  m->addRow(mp3Default);
  m->addRow(Msg::gui(QStringLiteral("Quality")), mp3Quality_);
  m->addRow(Msg::gui(QStringLiteral("Bit rate")), mp3Bitrate_);
  m->addRow(Msg::gui(QStringLiteral("Channels")), mp3Channel_);
  const bool standard = defaults_.boolValue(VUKMP3DefaultKey);
  mp3Default->setChecked(standard);
  selectTag(mp3Quality_, standard ? kMp3DefaultQuality : defaults_.intValue(VUKMP3QualityKey));
  selectTag(mp3Bitrate_, standard ? kMp3DefaultBitrate : defaults_.intValue(VUKMP3BitRateKey));
  selectTag(mp3Channel_, standard ? kMp3DefaultChannel : defaults_.intValue(VUKMP3ChannelKey));
  for (QComboBox* box : {mp3Quality_, mp3Bitrate_, mp3Channel_}) box->setEnabled(!standard);
  connect(mp3Default, &QCheckBox::toggled, this, [this](bool on) { setMp3EncDefault(on); });
  connect(mp3Quality_, &QComboBox::activated, this,
          [this](int i) { setMp3Choice(mp3Quality_, VUKMP3QualityKey, i); });
  connect(mp3Bitrate_, &QComboBox::activated, this,
          [this](int i) { setMp3Choice(mp3Bitrate_, VUKMP3BitRateKey, i); });
  connect(mp3Channel_, &QComboBox::activated, this,
          [this](int i) { setMp3Choice(mp3Channel_, VUKMP3ChannelKey, i); });
  tabs_->addTab(mp3, Msg::gui(QStringLiteral("MP3")));

  // Temporary folders.
  auto* temp = new QWidget(tabs_);
  auto* t = new QVBoxLayout(temp);
  useAllVolumes_ = new QCheckBox(Msg::gui(QStringLiteral("Use every volume with room")), temp);
  useAllVolumes_->setChecked(defaults_.boolValue(VUKUseAllAvailableVolumesKey));
  volumes_ = new QTableWidget(0, 2, temp);
  volumes_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  volumes_->horizontalHeader()->hide();
  volumes_->verticalHeader()->hide();
  t->addWidget(useAllVolumes_);
  t->addWidget(volumes_);
  if (tempFolders_) {
    const QStringList unselected = defaults_.stringList(VUKArrayOfUnselectedDrivesKey);
    if (!unselected.isEmpty()) tempFolders_->updateVolumesWithUnselectedArray(unselected);
    volumeIds_ = tempFolders_->availableVolumes();
  }
  loadVolumes();
  connect(useAllVolumes_, &QCheckBox::toggled, this,
          [this](bool on) { setUseAllAvailableVolumes(on); });
  connect(volumes_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (item->column() == 0) setVolumeUsed(item->row(), item->checkState() == Qt::Checked);
  });
  tabs_->addTab(temp, Msg::gui(QStringLiteral("Temporary Files")));

  // Progress bar colours.
  auto* progress = new QWidget(tabs_);
  progress->setObjectName(QStringLiteral("ProgressBar"));
  auto* pr = new QVBoxLayout(progress);
  sample_ = new BurnCustomProgress(defaults_, progress);
  pr->addWidget(sample_);
  for (const char* key : {VUKBorderColor, VUKFillColor, VUKTextColor}) {
    auto* button = new QPushButton(Msg::gui(QString::fromLatin1(key)), progress);
    connect(button, &QPushButton::clicked, this, [this, key] {
      const QColor chosen = QColorDialog::getColor(preferenceColor(defaults_, key), this);
      if (chosen.isValid()) setColor(key, chosen);
    });
    pr->addWidget(button);
  }
  auto* apply = new QPushButton(Msg::gui(QStringLiteral("Apply")), progress);
  auto* standardColors = new QPushButton(Msg::gui(QStringLiteral("Use Default Colors")), progress);
  connect(apply, &QPushButton::clicked, this, [this] { applyColors(); });
  connect(standardColors, &QPushButton::clicked, this, [this] { useDefaultColors(); });
  pr->addWidget(apply);
  pr->addWidget(standardColors);
  tabs_->addTab(progress, Msg::gui(QStringLiteral("Progress")));
  // The sample turns while its tab shows.
  connect(tabs_, &QTabWidget::currentChanged, this, [this, progress](int) {
    if (tabs_->currentWidget() != progress) {
      animation_.stop();
      return;
    }
    (void)animation_.start(std::chrono::milliseconds(100), [this] {
      sample_->setPercentage(sample_->percentage() >= 100 ? 0 : sample_->percentage() + 1);
    });
  });
}

void PreferenceController::selectTag(QComboBox* box, int tag) {
  const int index = box->findData(tag);
  if (index >= 0) box->setCurrentIndex(index);
}

void PreferenceController::setSkipSplash(bool on) {
  (void)defaults_.set(VUKSkipSplashBoolKey, on);
}

void PreferenceController::setNoPopUpDrawer(bool on) {
  (void)defaults_.set(VUKNoPopUpDrawerKey, on);
}

void PreferenceController::setTestSrc(bool on) {
  (void)defaults_.set(VUKTestSrcSpeedKey, on);
  enableGroup(srcOption_, on);
}

void PreferenceController::setSrcOption(int row) {
  (void)defaults_.set(VUKTestSrcPromptKey, row != 0 ? 1 : 0);
}

void PreferenceController::setVerifyData(bool on) {
  (void)defaults_.set(VUKVerifyDataKey, on);
  enableGroup(verifyType_, on);
}

void PreferenceController::setVerifyTypeOption(int row) {
  (void)defaults_.set(VUKVerifyDataTypeKey, row != 0 ? 1 : 0);
}

void PreferenceController::setCacheSize(int index) {
  (void)defaults_.set(VUKCacheSizeKey, cacheSize_->itemData(index).toInt());
}

void PreferenceController::setDataFormatDefault(int index) {
  (void)defaults_.set(VUKDataCDFormatKey, dataFormat_->itemData(index).toInt());
}

void PreferenceController::setMp3EncDefault(bool on) {
  (void)defaults_.set(VUKMP3DefaultKey, on);
  for (QComboBox* box : {mp3Quality_, mp3Bitrate_, mp3Channel_}) box->setEnabled(!on);
  if (!on) return;
  selectTag(mp3Quality_, kMp3DefaultQuality);
  selectTag(mp3Bitrate_, kMp3DefaultBitrate);
  selectTag(mp3Channel_, kMp3DefaultChannel);
  (void)defaults_.set(VUKMP3QualityKey, kMp3DefaultQuality);
  (void)defaults_.set(VUKMP3BitRateKey, kMp3DefaultBitrate);
  (void)defaults_.set(VUKMP3ChannelKey, kMp3DefaultChannel);
}

void PreferenceController::setMp3Choice(QComboBox* box, const char* key, int index) {
  box->setCurrentIndex(index);
  (void)defaults_.set(key, box->itemData(index).toInt());
}

void PreferenceController::useCDDBChecking(bool on) {
  (void)defaults_.set(VUKUseCDDBKey, on);
}

void PreferenceController::allowCDDBSwitch() {
  useCddb_->setEnabled(true);
}

void PreferenceController::setFolderReplaceCD(bool on) {
  (void)defaults_.set(VUKFolderReplaceCDKey, on);
}

void PreferenceController::setOverburn(bool on) {
  (void)defaults_.set(VUKOverburnKey, on);
  for (QLineEdit* field : overburnFields_) field->setEnabled(on);
}

void PreferenceController::overburnFieldEdited(QLineEdit* field) {
  for (int i = 0; i < 3; ++i) {
    if (overburnFields_[i] != field) continue;
    const int value = std::clamp(field->text().toInt(), 0, kOverburnFields[i].maximum);
    if (field->text() != QString::number(value)) field->setText(QString::number(value));
    (void)defaults_.set(kOverburnFields[i].key, value);
  }
}

void PreferenceController::setColor(const char* key, const QColor& color) {
  (void)setPreferenceColor(defaults_, key, color);
  sample_->BPcolorDidChange();
}

void PreferenceController::applyColors() {
  NotificationCenter::instance().post(QString::fromLatin1(VUK_ColorDidChangeNotification), nullptr);
}

void PreferenceController::useDefaultColors() {
  (void)setPreferenceColor(defaults_, VUKBorderColor, Qt::red);
  (void)setPreferenceColor(defaults_, VUKFillColor, Qt::blue);
  (void)setPreferenceColor(defaults_, VUKTextColor, Qt::black);
  applyColors();
}

void PreferenceController::loadVolumes() {
  const QSignalBlocker quiet(volumes_);
  const bool all = useAllVolumes_->isChecked();
  volumes_->setRowCount(static_cast<int>(volumeIds_.size()));
  for (int row = 0; row < static_cast<int>(volumeIds_.size()); ++row) {
    const int vid = volumeIds_[static_cast<std::size_t>(row)];
    auto* use = new QTableWidgetItem;
    use->setFlags(all ? Qt::ItemIsUserCheckable : Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    use->setCheckState(all || tempFolders_->isVolumeSelected(vid) ? Qt::Checked : Qt::Unchecked);
    auto* name =
        new QTableWidgetItem(tempFolders_->volumeName(vid) +
                             QStringLiteral(" (%1 %2)")
                                 .arg(ZEBUtils::bytesToString(tempFolders_->freeSpaceInBytes(vid)),
                                      Msg::gui(QStringLiteral("Free"))));
    name->setFlags(all ? Qt::NoItemFlags : Qt::ItemIsEnabled);
    volumes_->setItem(row, 0, use);
    volumes_->setItem(row, 1, name);
  }
}

bool PreferenceController::volumeUsed(int row) const {
  const QTableWidgetItem* item = volumes_->item(row, 0);
  return item && item->checkState() == Qt::Checked;
}

void PreferenceController::setVolumeUsed(int row, bool used) {
  if (!tempFolders_ || row < 0 || row >= static_cast<int>(volumeIds_.size())) return;
  tempFolders_->markVolumeWithVID(volumeIds_[static_cast<std::size_t>(row)], used);
  const bool anySelected = std::any_of(volumeIds_.begin(), volumeIds_.end(), [this](int vid) {
    return tempFolders_->isVolumeSelected(vid);
  });
  if (!anySelected) tempFolders_->markVolumeWithVID(volumeIds_.front(), true);
  // An empty list is not written, so that an earlier one is not lost by accident; ticking
  // every volume again leaves nothing unselected, and then the list goes too.
  const QStringList unselected = tempFolders_->unselectedVolumesByName();
  if (!unselected.isEmpty())
    (void)defaults_.set(VUKArrayOfUnselectedDrivesKey, unselected);
  else
    (void)defaults_.remove(VUKArrayOfUnselectedDrivesKey);
  loadVolumes();
}

void PreferenceController::setUseAllAvailableVolumes(bool on) {
  {
    const QSignalBlocker quiet(useAllVolumes_);
    useAllVolumes_->setChecked(on);
  }
  (void)defaults_.set(VUKUseAllAvailableVolumesKey, on);
  if (on && tempFolders_) {
    tempFolders_->markAllVolumes(true);
    (void)defaults_.remove(VUKArrayOfUnselectedDrivesKey);
  }
  loadVolumes();
}

void PreferenceController::closeEvent(QCloseEvent* event) {
  // A value still being typed is stored too.
  for (QLineEdit* field : overburnFields_) overburnFieldEdited(field);
  animation_.stop();
  QWidget::closeEvent(event);
}

}  // namespace quillion
