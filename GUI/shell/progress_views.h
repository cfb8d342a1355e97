// SPDX-License-Identifier: GPL-2.0-or-later
// The burn progress ring: twelve segments filled one per 8 percent, the percentage in the
// middle, in the user's colours (re-read whenever the preferences announce a colour change);
// and the state of one drive's row in the multiple-drive progress list.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace quillion {

class Defaults;

// Segments filled at a percentage: one per 8 %, all twelve from 96 %.
int filledRingSegments(int percentage);

class BurnCustomProgress : public QWidget {
  Q_OBJECT

 public:
  explicit BurnCustomProgress(Defaults& defaults, QWidget* parent = nullptr);

  void setPercentage(int percentage);
  void incrementPercentage(int by) { setPercentage(percentage_ + by); }
  void resetPercentage() { setPercentage(0); }
  int percentage() const { return percentage_; }

  void setBorderColor(const QColor& border, const QColor& fill, const QColor& text);
  void BPcolorDidChange();  // re-reads the three colour settings
  QColor borderColor() const { return border_; }
  QColor fillColor() const { return fill_; }
  QColor textColor() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Defaults& defaults_;
  QColor border_, fill_, text_;
  int percentage_ = 0;
};

// One row of the multiple-drive progress list. Once cancelled it shows 0 and "Cancelled"
// whatever it is told afterwards.
class BurnCustomProgressCell {
 public:
  void setPercentage(int percentage) { percentage_ = cancelled_ ? 0 : percentage; }
  int percentage() const { return percentage_; }
  void setStatusString(const QString& status) {
    if (!cancelled_) status_ = status;
  }
  QString statusString() const { return status_; }
  void setDriveNameString(const QString& name) { driveName_ = name; }
  QString driveNameString() const { return driveName_; }
  void cancelAction();
  bool isCancelled() const { return cancelled_; }
  bool indeterminate() const { return indeterminate_; }

 private:
  int percentage_ = 0;
  QString status_, driveName_;
  bool cancelled_ = false;
  bool indeterminate_ = false;
};

}  // namespace quillion
