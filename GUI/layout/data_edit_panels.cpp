// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/data_edit_panels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "burn/layout_codes.h"
#include "framework/messages.h"

namespace quillion {

namespace data_panels_detail {

template <typename W, typename... Args>
W* namedWidget(const char* name, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)...);
  w->setObjectName(QLatin1String(name));
  return w;
}

QString panelText(const char* key) {
  return Msg::gui(QString::fromLatin1(key));
}

// No length limit on the field itself: a text pasted over the limit is refused with an alert
// when editing ends, never cut in silence.
QLineEdit* isoNameField(const char* name) {
  return namedWidget<QLineEdit>(name);
}

constexpr char kTabIdentifier[] = "identifier";

}  // namespace data_panels_detail

using namespace data_panels_detail;

std::unique_ptr<DataLayoutBar> DataLayoutBar::build(QWidget* parent, bool withFormats) {
  auto bar = std::make_unique<DataLayoutBar>();
  bar->box = new QWidget(parent);
  bar->box->setObjectName(QStringLiteral("dataLayoutBar"));
  auto* column = new QVBoxLayout(bar->box);
  column->setContentsMargins(0, 0, 0, 0);
  auto* buttons = new QHBoxLayout;
  bar->newButton = namedWidget<QPushButton>("newButton", panelText("New Folder"));
  bar->addDataTrackButton = namedWidget<QPushButton>("addDataTrackButton", panelText("Add..."));
  bar->removeDataTrackButton =
      namedWidget<QPushButton>("removeDataTrackButton", panelText("Remove"));
  bar->removeDataTrackButton->setShortcut(QKeySequence(Qt::Key_Delete));
  bar->removeDataTrackButton->setEnabled(false);
  bar->dataOptionsButton = namedWidget<QPushButton>("dataOptionsButton", panelText("Options"));
  bar->dataFilterButton = namedWidget<QComboBox>("dataFilterButton");
  for (QWidget* w :
       std::initializer_list<QWidget*>{bar->newButton, bar->addDataTrackButton,
                                       bar->removeDataTrackButton, bar->dataOptionsButton})
    buttons->addWidget(w);
  if (withFormats) {
    bar->formatButton = namedWidget<QComboBox>("formatButton");
    for (const DataFormatRow& row : dataFormatRows())
      bar->formatButton->addItem(QString::fromLatin1(row.fileSystem), row.code);
    buttons->addWidget(bar->formatButton);
  }
  buttons->addWidget(bar->dataFilterButton);
  buttons->addStretch(1);
  column->addLayout(buttons);
  auto* totals = new QHBoxLayout;
  bar->totalFilesField = namedWidget<QLabel>("totalFilesField");
  bar->totalSizeField = namedWidget<QLabel>("totalSizeField");
  bar->totalSizeTextField = namedWidget<QLabel>("totalSizeTextField");
  totals->addWidget(bar->totalFilesField);
  totals->addStretch(1);
  totals->addWidget(bar->totalSizeTextField);
  totals->addWidget(bar->totalSizeField);
  column->addLayout(totals);
  return bar;
}

bool DataOptionsDrawer::isOpen() const {
  return !drawer->isHidden();
}

void DataOptionsDrawer::open() {
  drawer->show();
}

void DataOptionsDrawer::close() {
  drawer->hide();
}

QString DataOptionsDrawer::selectedTabIdentifier() const {
  const QWidget* page = ISO9660_iso9660TabView->currentWidget();
  return page ? page->property(kTabIdentifier).toString() : QString();
}

std::unique_ptr<DataOptionsDrawer> DataOptionsDrawer::build(QMainWindow* window) {
  auto d = std::make_unique<DataOptionsDrawer>();
  d->drawer = namedWidget<QDockWidget>("optionsDrawer", panelText("Options"), window);
  d->drawer->setAllowedAreas(Qt::RightDockWidgetArea);
  d->drawer->setFeatures(QDockWidget::DockWidgetClosable);
  d->ISO9660_iso9660TabView = namedWidget<QTabWidget>("ISO9660_iso9660TabView");
  auto* isoTab = new QWidget;
  isoTab->setProperty(kTabIdentifier, QStringLiteral("1"));
  auto* form = new QFormLayout(isoTab);
  d->ISO9660_volumeSetNameField = isoNameField("ISO9660_volumeSetNameField");
  d->ISO9660_systemNameField = isoNameField("ISO9660_systemNameField");
  d->ISO9660_publisherNameField = isoNameField("ISO9660_publisherNameField");
  d->ISO9660_preparerNameField = isoNameField("ISO9660_preparerNameField");
  form->addRow(panelText("Volume Set"), d->ISO9660_volumeSetNameField);
  form->addRow(panelText("System"), d->ISO9660_systemNameField);
  form->addRow(panelText("Publisher"), d->ISO9660_publisherNameField);
  form->addRow(panelText("Preparer"), d->ISO9660_preparerNameField);
  d->ISO9660_cdromXASwitch =
      namedWidget<QCheckBox>("ISO9660_cdromXASwitch", panelText("CD-ROM XA"));
  d->ISO9660_addAppleExtSwitch =
      namedWidget<QCheckBox>("ISO9660_addAppleExtSwitch", panelText("Apple Extensions"));
  form->addRow(d->ISO9660_cdromXASwitch);
  form->addRow(d->ISO9660_addAppleExtSwitch);
  d->sessionTab = namedWidget<QWidget>("Session_TabViewItem");
  d->sessionTab->setProperty(kTabIdentifier, QStringLiteral("2"));
  new QVBoxLayout(d->sessionTab);
  d->ISO9660_iso9660TabView->addTab(isoTab, panelText("ISO9660"));
  d->ISO9660_iso9660TabView->addTab(d->sessionTab, panelText("Sessions"));
  d->drawer->setWidget(d->ISO9660_iso9660TabView);
  d->drawer->setMinimumWidth(293);
  window->addDockWidget(Qt::RightDockWidgetArea, d->drawer);
  d->drawer->hide();
  return d;
}

std::unique_ptr<FilePropertiesSheet> FilePropertiesSheet::build(QWidget* parent) {
  auto s = std::make_unique<FilePropertiesSheet>();
  s->dialog = std::make_unique<QDialog>(parent);
  s->dialog->setObjectName(QStringLiteral("FPPanel"));
  auto* column = new QVBoxLayout(s->dialog.get());
  auto* head = new QHBoxLayout;
  s->FPIconView = namedWidget<QLabel>("FPIconView");
  s->FPTitleField = namedWidget<QLineEdit>("FPTitleField");
  head->addWidget(s->FPIconView);
  head->addWidget(s->FPTitleField, 1);
  column->addLayout(head);
  auto* form = new QFormLayout;
  s->FPKindField = namedWidget<QLabel>("FPKindField");
  s->FPSizeField = namedWidget<QLabel>("FPSizeField");
  s->FPCreatedField = namedWidget<QLabel>("FPCreatedField");
  s->FPModifiedField = namedWidget<QLabel>("FPModifiedField");
  s->FPOriginalField = namedWidget<QLabel>("FPOriginalField");
  form->addRow(panelText("Kind"), s->FPKindField);
  form->addRow(panelText("Size"), s->FPSizeField);
  form->addRow(panelText("Created"), s->FPCreatedField);
  form->addRow(panelText("Modified"), s->FPModifiedField);
  form->addRow(panelText("Original"), s->FPOriginalField);
  column->addLayout(form);
  auto* buttons = new QHBoxLayout;
  s->FPCancelButton = namedWidget<QPushButton>("FPCancelButton", panelText("Cancel"));
  s->FPOkButton = namedWidget<QPushButton>("FPOkButton", panelText("OK"));
  s->FPOkButton->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(s->FPCancelButton);
  buttons->addWidget(s->FPOkButton);
  column->addLayout(buttons);
  return s;
}

}  // namespace quillion
