// SPDX-License-Identifier: GPL-2.0-or-later
// The About panel: the application's version, the version of the drive database in use and
// the credit line (name, copyright, licence).
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace quillion {

// The version the application was built as ("0.1.0").
QString applicationVersion();
// The panel's credit line: the application's name, its copyright and its licence.
QString applicationCredit();

class AboutPanel : public QWidget {
  Q_OBJECT

 public:
  explicit AboutPanel(QWidget* parent = nullptr);

  void setVersionText(const QString& text);
  void setBDBVersionText(const QString& text);
  void setCreditText(const QString& text);

  // What the panel shows.
  QString versionText() const;
  QString bdbVersionText() const;
  QString creditText() const;

 private:
  QLabel* mainVersion_ = nullptr;
  QLabel* bdbVersion_ = nullptr;
  QLabel* copyRight_ = nullptr;
};

}  // namespace quillion
