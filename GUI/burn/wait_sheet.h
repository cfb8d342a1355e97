// SPDX-License-Identifier: GPL-2.0-or-later
// The wait sheet of the burn preparation: a title, a line of text, a progress bar that is
// either determinate or busy, and a Cancel button that the preparation shows only where a
// cancel can be honoured.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillion::burn {

class WaitSheet : public QDialog {
  Q_OBJECT

 public:
  explicit WaitSheet(QWidget* parent = nullptr);

  void setTitleKey(const QString& key);  // looked up in "GUIMsgs"
  void setText(const QString& text);
  void setDeterminate(int maximum);
  void setBusy();
  void setValue(int value);
  void setCancelVisible(bool visible);
  void setOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }

  QLabel* titleField() const { return title_; }
  QProgressBar* progressBar() const { return bar_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QLabel* title_;
  QLabel* text_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  std::function<void()> onCancel_;
};

}  // namespace quillion::burn
