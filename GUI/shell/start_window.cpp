// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/start_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "documents/layout_document.h"
#include "framework/defaults.h"
#include "framework/document_controller.h"
#include "framework/messages.h"
#include "layout/base_layout_win_ctlr.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

struct HoverText {
  int tag;
  const char* titleKey;
  const char* descriptionKey;
};

constexpr HoverText kHoverTexts[] = {
    {1, "CD Copy CD String", "CD Copy CD Description"},
    {2, "Data CD String", "Data CD Description"},
    {3, "Audio CD String", "Audio CD Description"},
    {4, "Mixed Mode CD String", "Mixed Mode CD Description"},
    {8, "VCD/SVCD Movie CD String", "VCD/SVCD Movie CD Description"},
    {10, "MP3 CD String", "Full MP3 CD Description"},
    {11, "Live Audio CD String", "Live Audio CD Description"},
    {12, "Multiple CD Copy String", "Multiple CD Copy Description"},
    {13, "Picture CD Copy String", "Picture CD Copy Description"},
};

const HoverText* hoverText(int tag) {
  for (const HoverText& h : kHoverTexts)
    if (h.tag == tag) return &h;
  return nullptr;
}

constexpr auto kTrackingInterval = std::chrono::seconds(1);
constexpr int kSplashMs = 3000;

}  // namespace

const std::vector<StartKind>& startKinds() {
  static const std::vector<StartKind> kinds = {
      {"newCDCopyLayout:", "CD Copy", 1, false},
      {"newDataCDLayout:", "Data CD", 2, false},
      {"newAudioCDLayout:", "Audio CD", 3, false},
      {"newMixCDLayout:", "Mixed CD", 4, false},
      {"newCDExtraLayout:", "CD Extra", 4, false},
      {"newVCDSlideLayout:", "VCD Slide", 0, false},
      {"newSVCDSlideLayout:", "SVCD Slide", 0, false},
      {"newVCDMovieLayout:", "VCD Movie", 8, false},
      {"newSVCDMovieLayout:", "SVCD Movie", 8, false},
      {"newTSVideoCDLayout:", "Data CD", 8, true},
      {"newMp3CDLayout:", "MP3 CD", 10, false},
      {"newLiveAudioLayout:", "LiveAudio CD", 11, false},
      {"newMultipleCDCopyLayout:", "MultipleCDCopy CD", 12, false},
      {"newPictureCDLayout:", "Picture CD", 13, false},
  };
  return kinds;
}

TTLayoutWinCtlr::TTLayoutWinCtlr(DocumentController& documents, Defaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), documents_(documents), defaults_(defaults) {
  setWindowTitle(Msg::gui(QStringLiteral("New Layout")));
  auto* grid = new QGridLayout;
  // Buttons for the kinds the pop-ups do not gather.
  int position = 0;
  for (const StartKind& kind : startKinds()) {
    const QString action = QString::fromLatin1(kind.action);
    auto* button = new QPushButton(Msg::gui(QString::fromLatin1(kind.typeName)), this);
    button->setObjectName(action);
    button->setMinimumHeight(44);
    buttons_[action] = button;
    connect(button, &QPushButton::clicked, this, [this, action] { newLayout(action); });
    const bool inPopUp = kind.hoverTag == 4 || kind.hoverTag == 8 || kind.hoverTag == 0;
    if (inPopUp) {
      button->hide();  // reached through the pop-ups (or not offered)
      continue;
    }
    if (kind.hoverTag) {
      hoverTags_[button] = kind.hoverTag;
      button->installEventFilter(this);
    }
    grid->addWidget(button, position / 3, position % 3);
    ++position;
  }
  mixedPopUp_ = new QComboBox(this);
  mixedPopUp_->addItems({Msg::gui(QStringLiteral("Mixed Mode & CD Extra")),
                         Msg::gui(QStringLiteral("Mixed Mode CD Title")),
                         Msg::gui(QStringLiteral("CD Extra CD Title"))});
  videoPopUp_ = new QComboBox(this);
  videoPopUp_->addItems(
      {Msg::gui(QStringLiteral("Video Discs")), Msg::gui(QStringLiteral("VCD Movie CD Title")),
       Msg::gui(QStringLiteral("SVCD Movie CD Title")), QStringLiteral("VIDEO_TS")});
  hoverTags_[mixedPopUp_] = 4;
  hoverTags_[videoPopUp_] = 8;
  for (QComboBox* popUp : {mixedPopUp_, videoPopUp_}) {
    popUp->installEventFilter(this);
    popUp->setMinimumHeight(44);
    grid->addWidget(popUp, position / 3, position % 3);
    ++position;
  }
  connect(mixedPopUp_, &QComboBox::activated, this, [this](int i) { selectCustomCD(i); });
  connect(videoPopUp_, &QComboBox::activated, this, [this](int i) { selectVideoCD(i); });

  drawer_ = new QFrame(this);
  drawer_->setFrameShape(QFrame::StyledPanel);
  drawerTitle_ = new QLabel(drawer_);
  QFont bold = drawerTitle_->font();
  bold.setBold(true);
  drawerTitle_->setFont(bold);
  drawerDesc_ = new QLabel(drawer_);
  drawerDesc_->setWordWrap(true);
  drawerCheckbox_ = new QCheckBox(Msg::gui(QStringLiteral("Do not show descriptions")), this);
  drawerCheckbox_->setChecked(defaults_.boolValue(VUKNoPopUpDrawerKey));
  connect(drawerCheckbox_, &QCheckBox::toggled, this, [this](bool on) { setNoPopUpDrawer(on); });
  auto* drawerLayout = new QVBoxLayout(drawer_);
  drawerLayout->addWidget(drawerTitle_);
  drawerLayout->addWidget(drawerDesc_);
  drawer_->hide();

  splash_ = new QLabel(QStringLiteral("Quillion"), this, Qt::SplashScreen);
  splash_->setObjectName(QStringLiteral("splash"));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(drawerCheckbox_);
  layout->addWidget(drawer_);
}

TTLayoutWinCtlr::~TTLayoutWinCtlr() = default;

Document* TTLayoutWinCtlr::newLayout(const QString& action) {
  mouseExited();
  const StartKind* kind = nullptr;
  for (const StartKind& k : startKinds())
    if (action == QLatin1String(k.action)) kind = &k;
  if (!kind) return nullptr;
  Document* doc = documents_.openUntitledDocumentOfType(QString::fromLatin1(kind->typeName));
  if (doc && kind->videoTS)
    if (auto* layout = qobject_cast<LayoutDocument*>(doc); layout && layout->layoutController())
      layout->layoutController()->setAsVideoTSDoc();
  hide();
  return doc;
}

Document* TTLayoutWinCtlr::selectCustomCD(int index) {
  mouseExited();
  mixedPopUp_->setCurrentIndex(0);
  if (index == 1) return newLayout(QStringLiteral("newMixCDLayout:"));
  if (index == 2) return newLayout(QStringLiteral("newCDExtraLayout:"));
  return nullptr;
}

Document* TTLayoutWinCtlr::selectVideoCD(int index) {
  mouseExited();
  videoPopUp_->setCurrentIndex(0);
  if (index == 1) return newLayout(QStringLiteral("newVCDMovieLayout:"));
  if (index == 2) return newLayout(QStringLiteral("newSVCDMovieLayout:"));
  if (index == 3) return newLayout(QStringLiteral("newTSVideoCDLayout:"));
  return nullptr;
}

void TTLayoutWinCtlr::mouseEntered(int tag) {
  if (drawerCheckbox_->isChecked()) return;
  const HoverText* text = hoverText(tag);
  if (!text) return;
  layoutType_ = Msg::gui(QString::fromLatin1(text->titleKey));
  layoutDesc_ = Msg::gui(QString::fromLatin1(text->descriptionKey));
  ++counter_;
  (void)trackingTimer_.start(kTrackingInterval, [this] { trackingOnce(); });
}

void TTLayoutWinCtlr::mouseExited() {
  stopTrackingTimer();
  closeDrawer();
}

void TTLayoutWinCtlr::stopTrackingTimer() {
  // Entering the next button before leaving the last keeps the timer (and the drawer) going.
  if (counter_ < 2) {
    trackingTimer_.stop();
    counter_ = 0;
  } else {
    counter_ = 1;
  }
}

void TTLayoutWinCtlr::trackingOnce() {
  if (trackingTimer_.isRunning() && isVisible()) {
    drawerTitle_->setText(layoutType_);
    drawerDesc_->setText(layoutDesc_);
    drawer_->show();
  } else {
    closeDrawer();
  }
}

void TTLayoutWinCtlr::closeDrawer() {
  drawer_->hide();
}

bool TTLayoutWinCtlr::drawerOpen() const {
  return drawer_->isVisible();
}

QString TTLayoutWinCtlr::drawerTitle() const {
  return drawerTitle_->text();
}

QString TTLayoutWinCtlr::drawerDescription() const {
  return drawerDesc_->text();
}

void TTLayoutWinCtlr::setNoPopUpDrawer(bool on) {
  if (drawerCheckbox_->isChecked() != on) drawerCheckbox_->setChecked(on);
  (void)defaults_.set(VUKNoPopUpDrawerKey, on);
  if (on) closeDrawer();
}

void TTLayoutWinCtlr::showSplashWindow() {
  splash_->show();
  QTimer::singleShot(kSplashMs, splash_, [splash = splash_] { splash->hide(); });
}

bool TTLayoutWinCtlr::splashVisible() const {
  return splash_->isVisible();
}

QPushButton* TTLayoutWinCtlr::buttonFor(const QString& action) const {
  const auto it = buttons_.find(action);
  return it == buttons_.end() ? nullptr : it->second;
}

bool TTLayoutWinCtlr::eventFilter(QObject* watched, QEvent* event) {
  const auto it = hoverTags_.find(watched);
  if (it != hoverTags_.end()) {
    if (event->type() == QEvent::Enter) mouseEntered(it->second);
    if (event->type() == QEvent::Leave) mouseExited();
    if (event->type() == QEvent::MouseButtonPress && qobject_cast<QComboBox*>(watched))
      closeDrawer();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace quillion
