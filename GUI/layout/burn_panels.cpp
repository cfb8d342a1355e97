// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/burn_panels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "framework/messages.h"
#include "layout/layout_services.h"
#include "shell/progress_views.h"

namespace quillion {

namespace {

template <typename W, typename... Args>
W* named(const char* name, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)...);
  w->setObjectName(QLatin1String(name));
  return w;
}

QString txt(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

std::unique_ptr<QDialog> sheetDialog(QWidget* parent, const char* name) {
  auto dialog = std::make_unique<QDialog>(parent);
  dialog->setObjectName(QLatin1String(name));
  return dialog;
}

QProgressBar* cacheBar(const char* name) {
  auto* bar = named<QProgressBar>(name);
  bar->setRange(0, 100);
  bar->setValue(0);
  return bar;
}

}  // namespace

LayoutServices& layoutServices() {
  static LayoutServices services;
  return services;
}

std::unique_ptr<DriveBar> DriveBar::build(QWidget* parent) {
  auto bar = std::make_unique<DriveBar>();
  bar->box = new QWidget(parent);
  bar->box->setObjectName(QStringLiteral("driveBar"));
  auto* row = new QHBoxLayout(bar->box);
  bar->layoutDstDriveButton = named<QComboBox>("layoutDstDriveButton");
  bar->layoutDeviceInterfaceImage = named<QLabel>("layoutDeviceInterfaceImage");
  auto* texts = new QVBoxLayout;
  bar->layoutDeviceStatusField = named<QLabel>("layoutDeviceStatusField");
  bar->layoutDiscTypeField = named<QLabel>("layoutDiscTypeField");
  texts->addWidget(bar->layoutDeviceStatusField);
  texts->addWidget(bar->layoutDiscTypeField);
  bar->layoutEjectButton = named<QPushButton>("layoutEjectButton", txt("Eject"));
  bar->layoutEraseButton = named<QPushButton>("layoutEraseButton", txt("Erase"));
  bar->layoutChangeImageButton = named<QPushButton>("layoutChangeImageButton", txt("Change Image"));
  bar->layoutBurnOptionsButton = named<QPushButton>("layoutBurnOptionsButton", txt("Burn"));
  row->addWidget(bar->layoutDeviceInterfaceImage);
  row->addWidget(bar->layoutDstDriveButton, 1);
  row->addLayout(texts, 2);
  for (QPushButton* b : {bar->layoutEjectButton, bar->layoutEraseButton,
                         bar->layoutChangeImageButton, bar->layoutBurnOptionsButton})
    row->addWidget(b);
  bar->layoutChangeImageButton->hide();
  return bar;
}

std::unique_ptr<BurnOptionsSheet> BurnOptionsSheet::build(QWidget* parent) {
  auto s = std::make_unique<BurnOptionsSheet>();
  s->dialog = sheetDialog(parent, "burnOptionSheet");
  auto* grid = new QGridLayout(s->dialog.get());
  s->BSsmartSwitch = named<QCheckBox>("BSsmartSwitch", txt("Recommended Settings"));
  s->BSsimulateSwitch = named<QCheckBox>("BSsimulateSwitch", txt("Simulate"));
  s->BSbufferUnderrunSwitch =
      named<QCheckBox>("BSbufferUnderrunSwitch", txt("Buffer Underrun Protection"));
  s->BSsaoSwitch = named<QCheckBox>("BSsaoSwitch", txt("Disc At Once"));
  s->BScdTextSwitch = named<QCheckBox>("BScdTextSwitch", txt("CD-Text"));
  s->BSverifyDataSwitch = named<QCheckBox>("BSverifyDataSwitch", txt("Verify Data"));
  s->BSrecommendedSwitch = named<QCheckBox>("BSrecommendedSwitch", txt("Recommended Speed"));
  // Recommended settings and speed until the user chooses otherwise.
  s->BSsmartSwitch->setChecked(true);
  s->BSrecommendedSwitch->setChecked(true);
  s->BSspeedSlider = named<QSlider>("BSspeedSlider", Qt::Horizontal);
  s->BSspeedSlider->setTickPosition(QSlider::TicksBelow);
  s->BSspeedSlider->setTickInterval(1);
  s->BSspeedSlider->setPageStep(1);
  s->BSminSpeedField = named<QLabel>("BSminSpeedField");
  s->BSmaxSpeedField = named<QLabel>("BSmaxSpeedField");
  s->BScurSpeedField = named<QLabel>("BScurSpeedField");
  s->BSburnDiscButton = named<QPushButton>("BSburnDiscButton", txt("Burn Disc"));
  s->BSburnDiscButton->setProperty("tag", 1);
  s->BSburnSessionButton = named<QPushButton>("BSburnSessionButton", txt("Burn Session"));
  s->BSburnSessionButton->setProperty("tag", 0);
  s->BScancelBurnOptionsButton = named<QPushButton>("BScancelBurnOptionsButton", txt("Cancel"));
  int r = 0;
  for (QCheckBox* c : {s->BSsmartSwitch, s->BSsimulateSwitch, s->BSbufferUnderrunSwitch,
                       s->BSsaoSwitch, s->BScdTextSwitch, s->BSverifyDataSwitch})
    grid->addWidget(c, r++, 0, 1, 3);
  grid->addWidget(s->BScurSpeedField, r++, 1, Qt::AlignHCenter);
  grid->addWidget(s->BSminSpeedField, r, 0);
  grid->addWidget(s->BSspeedSlider, r, 1);
  grid->addWidget(s->BSmaxSpeedField, r++, 2);
  grid->addWidget(s->BSrecommendedSwitch, r++, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(s->BScancelBurnOptionsButton);
  buttons->addStretch(1);
  buttons->addWidget(s->BSburnSessionButton);
  buttons->addWidget(s->BSburnDiscButton);
  grid->addLayout(buttons, r, 0, 1, 3);
  return s;
}

std::unique_ptr<ProgressSheet> ProgressSheet::build(QWidget* parent, Defaults& defaults) {
  auto s = std::make_unique<ProgressSheet>();
  s->dialog = sheetDialog(parent, "progressSheet");
  auto* grid = new QGridLayout(s->dialog.get());
  s->PSburnDstDriveField = named<QLabel>("PSburnDstDriveField");
  s->PSburnModeField = named<QLabel>("PSburnModeField");
  s->PSburnProgBar = named<BurnCustomProgress>("PSburnProgBar", defaults);
  s->PSburnProgBar->setMinimumSize(360, 22);
  s->PSburnSpeedField = named<QLabel>("PSburnSpeedField");
  s->PSburnTimeLapsedField = named<QLabel>("PSburnTimeLapsedField");
  s->PSappCacheSizeField = named<QLabel>("PSappCacheSizeField");
  s->PSrecorderCacheSizeField = named<QLabel>("PSrecorderCacheSizeField");
  s->PSappCacheProgBar = cacheBar("PSappCacheProgBar");
  s->PSrecorderCacheProgBar = cacheBar("PSrecorderCacheProgBar");
  s->PSburnProgressCancelButton = named<QPushButton>("PSburnProgressCancelButton", txt("Cancel"));
  grid->addWidget(s->PSburnDstDriveField, 0, 0, 1, 3);
  grid->addWidget(s->PSburnModeField, 1, 0, 1, 3);
  grid->addWidget(s->PSburnProgBar, 2, 0, 1, 3);
  grid->addWidget(new QLabel(txt("Speed")), 3, 0);
  grid->addWidget(s->PSburnSpeedField, 3, 1);
  grid->addWidget(new QLabel(txt("Time Elapsed")), 4, 0);
  grid->addWidget(s->PSburnTimeLapsedField, 4, 1);
  grid->addWidget(new QLabel(txt("Application Cache")), 5, 0);
  grid->addWidget(s->PSappCacheProgBar, 5, 1);
  grid->addWidget(s->PSappCacheSizeField, 5, 2);
  grid->addWidget(new QLabel(txt("Recorder Cache")), 6, 0);
  grid->addWidget(s->PSrecorderCacheProgBar, 6, 1);
  grid->addWidget(s->PSrecorderCacheSizeField, 6, 2);
  grid->addWidget(s->PSburnProgressCancelButton, 7, 2);
  return s;
}

std::unique_ptr<ResultSheet> ResultSheet::build(QWidget* parent) {
  auto s = std::make_unique<ResultSheet>();
  s->dialog = sheetDialog(parent, "alertSheet");
  auto* box = new QVBoxLayout(s->dialog.get());
  s->ASMsgField = named<QLabel>("ASMsgField");
  s->ASErrorTitleField = named<QLabel>("ASErrorTitleField");
  s->ASErrorMsgField = named<QLabel>("ASErrorMsgField");
  s->ASErrorMsgField->setWordWrap(true);
  s->verifyProgress = named<QProgressBar>("verifyProgress");
  s->verifyCancelButton = named<QPushButton>("verifyCancelButton", txt("Cancel"));
  s->ASLabelSoftwareButton = named<QPushButton>("ASLabelSoftwareButton", txt("Label"));
  s->ASOkButton = named<QPushButton>("ASOkButton", txt("OK"));
  QFont bold = s->ASMsgField->font();
  bold.setBold(true);
  s->ASMsgField->setFont(bold);
  box->addWidget(s->ASMsgField);
  box->addWidget(s->ASErrorTitleField);
  box->addWidget(s->ASErrorMsgField);
  box->addWidget(s->verifyProgress);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(s->verifyCancelButton);
  buttons->addStretch(1);
  buttons->addWidget(s->ASLabelSoftwareButton);
  buttons->addWidget(s->ASOkButton);
  box->addLayout(buttons);
  return s;
}

std::unique_ptr<WaitSheet> WaitSheet::build(QWidget* parent) {
  auto s = std::make_unique<WaitSheet>();
  s->dialog = sheetDialog(parent, "PSWaitWindow");
  auto* box = new QVBoxLayout(s->dialog.get());
  s->PSWaitTextField = named<QLabel>("PSWaitTextField");
  s->PSWaitOKButton = named<QPushButton>("PSWaitOKButton", txt("OK"));
  s->PSWaitCancelButton = named<QPushButton>("PSWaitCancelButton", txt("Cancel"));
  box->addWidget(s->PSWaitTextField);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(s->PSWaitCancelButton);
  buttons->addStretch(1);
  buttons->addWidget(s->PSWaitOKButton);
  box->addLayout(buttons);
  return s;
}

}  // namespace quillion
