// SPDX-License-Identifier: GPL-2.0-or-later
// The two questions of the burn preparation: whether to write into the disc's overburn
// margin, asked on the main thread between sizing and going on, and the end of the DVD+RW
// question, which either opens the burn options or gives the burn up.
#pragma once

#include <QDialog>
#include <functional>

class QPushButton;

namespace quillion {
class SheetHost;
}

namespace quillion::burn {

// "OK" accepts (continueOverburn 1), "Cancel" declines.
class OverburnPrompt : public QDialog {
  Q_OBJECT

 public:
  explicit OverburnPrompt(QWidget* parent = nullptr);
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QPushButton* ok_;
  QPushButton* cancel_;
};

// Shows `prompt` as a sheet of the window and hands the answer to `answer` once. Answers
// false at once (declined) when another sheet is attached.
void askOverburn(SheetHost& sheets, OverburnPrompt& prompt, std::function<void(bool)> answer);

// The DVD+RW question has ended: 1 opens the burn options, anything else abandons the burn.
void dvdPlusRWEndSheet(int returnCode, const std::function<void()>& openBurnOptions,
                       const std::function<void()>& abandon);

}  // namespace quillion::burn
