// SPDX-License-Identifier: GPL-2.0-or-later
// The start window: one button per kind of disc, two pop-ups that gather related kinds, and a
// drawer under the window that describes the kind under the pointer after about a second
// (unless the user turned it off). Pressing a button opens a new layout of that kind and
// hides the window. The splash panel shows for three seconds without holding up the event
// loop.
#pragma once

#include <QString>
#include <QWidget>
#include <map>
#include <vector>

#include "framework/repeating_timer.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace quillion {

class Defaults;
class DocumentController;
class Document;

struct StartKind {
  const char* action;    // "newDataCDLayout:"
  const char* typeName;  // the document type it opens
  int hoverTag;          // 0: no hover text
  bool videoTS;          // the data layout set up as a VIDEO_TS folder
};

// The fourteen kinds, in the order of the window.
const std::vector<StartKind>& startKinds();

class TTLayoutWinCtlr : public QWidget {
  Q_OBJECT

 public:
  TTLayoutWinCtlr(DocumentController& documents, Defaults& defaults, QWidget* parent = nullptr);
  ~TTLayoutWinCtlr() override;

  // Runs one kind's action: a new untitled layout of its type, then the window hides.
  Document* newLayout(const QString& action);
  // The pop-ups' choices by index (0 is the pop-up's own first item and opens nothing).
  Document* selectCustomCD(int index);
  Document* selectVideoCD(int index);

  // The hover drawer.
  void mouseEntered(int tag);
  void mouseExited();
  void stopTrackingTimer();
  bool drawerOpen() const;
  QString drawerTitle() const;
  QString drawerDescription() const;
  void setNoPopUpDrawer(bool on);  // the drawer's check box

  // Shows the splash panel and hides it three seconds later; returns at once.
  void showSplashWindow();
  bool splashVisible() const;

  QPushButton* buttonFor(const QString& action) const;
  QComboBox* mixedPopUp() const { return mixedPopUp_; }
  QComboBox* videoPopUp() const { return videoPopUp_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void trackingOnce();
  void closeDrawer();

  DocumentController& documents_;
  Defaults& defaults_;
  std::map<QString, QPushButton*> buttons_;
  std::map<QObject*, int> hoverTags_;
  QComboBox* mixedPopUp_ = nullptr;
  QComboBox* videoPopUp_ = nullptr;
  QFrame* drawer_ = nullptr;
  QLabel* drawerTitle_ = nullptr;
  QLabel* drawerDesc_ = nullptr;
  QCheckBox* drawerCheckbox_ = nullptr;
  QWidget* splash_ = nullptr;
  RepeatingTimer trackingTimer_;
  QString layoutType_, layoutDesc_;
  int counter_ = 0;
};

}  // namespace quillion
