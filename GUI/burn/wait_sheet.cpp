// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/wait_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/messages.h"

namespace quillion::burn {

WaitSheet::WaitSheet(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PSWindow"));
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("PSTitleField"));
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("PStextField"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("PSprogressBar"));
  cancel_ = new QPushButton(Msg::gui(QStringLiteral("Cancel")), this);
  cancel_->setObjectName(QStringLiteral("PSImageCancelButton"));
  layout->addWidget(title_);
  layout->addWidget(bar_);
  layout->addWidget(text_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (onCancel_) onCancel_();
  });
}

void WaitSheet::setTitleKey(const QString& key) {
  title_->setText(Msg::gui(key));
}
void WaitSheet::setText(const QString& text) {
  text_->setText(text);
}

void WaitSheet::setDeterminate(int maximum) {
  bar_->setRange(0, maximum);
  bar_->setValue(0);
}

void WaitSheet::setBusy() {
  bar_->setRange(0, 0);
}
void WaitSheet::setValue(int value) {
  bar_->setValue(value);
}
void WaitSheet::setCancelVisible(bool visible) {
  cancel_->setVisible(visible);
}

}  // namespace quillion::burn
