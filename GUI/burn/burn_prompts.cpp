// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/burn_prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

#include "framework/messages.h"
#include "framework/sheet_host.h"

namespace quillion::burn {

OverburnPrompt::OverburnPrompt(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("overburnWindow"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(Msg::gui(QStringLiteral("Overburn Warning")), this);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* buttons = new QHBoxLayout;
  cancel_ = new QPushButton(Msg::gui(QStringLiteral("Cancel")), this);
  cancel_->setObjectName(QStringLiteral("overburnCancelButton"));
  ok_ = new QPushButton(Msg::gui(QStringLiteral("OK")), this);
  ok_->setObjectName(QStringLiteral("overburnOKButton"));
  ok_->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(cancel_);
  buttons->addWidget(ok_);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void askOverburn(SheetHost& sheets, OverburnPrompt& prompt, std::function<void(bool)> answer) {
  auto once = std::make_shared<std::function<void(bool)>>(std::move(answer));
  const bool shown = sheets.beginSheet(&prompt, [once](int code) {
    if (*once) std::exchange(*once, {})(code == QDialog::Accepted);
  });
  if (!shown && *once) std::exchange(*once, {})(false);
}

void dvdPlusRWEndSheet(int returnCode, const std::function<void()>& openBurnOptions,
                       const std::function<void()>& abandon) {
  if (returnCode == 1) {
    if (openBurnOptions) openBurnOptions();
  } else if (abandon) {
    abandon();
  }
}

}  // namespace quillion::burn
