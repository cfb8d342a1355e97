// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/about_panel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/messages.h"

namespace quillion {

QString applicationVersion() {
  return QStringLiteral(QUILLION_VERSION);
}

QString applicationCredit() {
  return Msg::gui(QStringLiteral("About Credit"));
}

AboutPanel::AboutPanel(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(Msg::gui(QStringLiteral("About Quillion")));
  auto* name = new QLabel(QStringLiteral("Quillion"), this);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  mainVersion_ = new QLabel(this);
  bdbVersion_ = new QLabel(this);
  copyRight_ = new QLabel(this);
  copyRight_->setWordWrap(true);
  auto* close = new QPushButton(Msg::gui(QStringLiteral("Close")), this);
  connect(close, &QPushButton::clicked, this, &QWidget::hide);
  auto* layout = new QVBoxLayout(this);
  for (QLabel* label : {name, mainVersion_, bdbVersion_, copyRight_}) {
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
  }
  layout->addWidget(close, 0, Qt::AlignCenter);
  resize(360, 220);
}

void AboutPanel::setVersionText(const QString& text) {
  mainVersion_->setText(text);
}

void AboutPanel::setBDBVersionText(const QString& text) {
  bdbVersion_->setText(text);
}

void AboutPanel::setCreditText(const QString& text) {
  copyRight_->setText(text);
}

QString AboutPanel::versionText() const {
  return mainVersion_->text();
}

QString AboutPanel::bdbVersionText() const {
  return bdbVersion_->text();
}

QString AboutPanel::creditText() const {
  return copyRight_->text();
}

}  // namespace quillion
