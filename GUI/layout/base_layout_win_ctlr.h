// SPDX-License-Identifier: GPL-2.0-or-later
// The window controller under every layout document: the kind's settings, the layout views,
// the layout file handed over by the document, and the document's edited state, which
// follows the layout-changed notifications of this window's own views.
#pragma once

#include <QAbstractItemView>
#include <QPointer>
#include <optional>

#include "framework/notification_center.h"
#include "framework/window_controller.h"
#include "layout/layout_file_io.h"
#include "layout/layout_kind.h"
#include "layout/layout_state.h"
#include "layout/playlist.h"

namespace quillion {

class BaseLayoutWinCtlr : public WindowController {
  Q_OBJECT

 public:
  explicit BaseLayoutWinCtlr(const LayoutKind& kind);
  ~BaseLayoutWinCtlr() override;

  const LayoutKind& kind() const { return kind_; }
  int currentLayoutType() const { return kind_.layoutType; }
  QString windowFile() const { return QString::fromLatin1(kind_.windowFile); }
  unsigned formatType() const { return static_cast<unsigned>(state_.fileFormat); }
  bool useSAO() const { return useSAO_; }
  bool useCDXAFormat() const { return state_.writeXA; }
  bool useAppleExt() const { return state_.appendAppleExtension; }

  // The layout file the document opened; loaded by loadLayout() when the window loads.
  void setLayoutFile(const LayoutFileIO& file);
  const std::optional<LayoutFileIO>& firstLayoutFile() const { return firstLayoutFile_; }

  // Fill the window from a layout file, and a new layout file from the window.
  virtual void loadLayout(const LayoutFileIO& file);
  virtual void saveLayout(LayoutFileIO& file);

  // A data layout becomes a DVD-Video layout; only the data window does something.
  virtual void setAsVideoTSDoc() {}
  // Hands an imported playlist to the track table's model; windows without one ignore it.
  virtual void loadPlayList(const Playlist& playlist);

  // The disc image chosen as the source of a copy; a null path is ignored.
  void setImageReaderPath(const QString& path);
  QString cdImageReaderPath() const { return cdImageReaderPath_; }

  // What the window will save. Editing code changes it, then posts
  // "VUK_LayoutChangedNotification" with its view as sender.
  LayoutState& layoutState() { return state_; }
  const LayoutState& layoutState() const { return state_; }

  // Null in windows of kinds that do not have the view.
  QAbstractItemView* dataLayoutView() const { return dataLayoutView_; }
  QAbstractItemView* audioLayoutView() const { return audioLayoutView_; }
  QAbstractItemView* vcdLayoutView() const { return vcdLayoutView_; }

  QString windowTitleForDocumentDisplayName(const QString& displayName) const override;

  // Handler of "VUK_LayoutChangedNotification": marks the document edited when the sender
  // is one of this window's layout views.
  void NeedToSaveDocument(const Notification& notification);

 protected:
  std::unique_ptr<QMainWindow> makeWindow() override;
  void windowDidLoad() override;

 private:
  const LayoutKind& kind_;
  bool useSAO_;
  bool m_awoke = false;
  LayoutState state_;
  std::optional<LayoutFileIO> firstLayoutFile_;
  QString cdImageReaderPath_;
  QPointer<QAbstractItemView> dataLayoutView_;
  QPointer<QAbstractItemView> audioLayoutView_;
  QPointer<QAbstractItemView> vcdLayoutView_;
};

}  // namespace quillion
