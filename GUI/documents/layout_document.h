// SPDX-License-Identifier: GPL-2.0-or-later
// The layout documents. Every kind behaves alike: the document keeps the layout file as last
// read or written, and its window controller holds the live layout. The data document adds
// the switch into DVD-Video mode, the audio document a playlist import, and the disc copy
// document opens disc images and always saves as "CD Copy" with the extension "cdcp".
#pragma once

#include <memory>
#include <optional>

#include "framework/document.h"
#include "layout/layout_file_io.h"
#include "layout/layout_kind.h"
#include "layout/playlist.h"

namespace quillion {

class BaseLayoutWinCtlr;

class LayoutDocument : public Document {
  Q_OBJECT

 public:
  explicit LayoutDocument(const LayoutKind& kind);
  ~LayoutDocument() override;

  const LayoutKind& kind() const { return kind_; }
  // The layout file of the last open or save; none in a new, untitled document.
  const std::optional<LayoutFileIO>& layoutFile() const { return layoutFile_; }
  BaseLayoutWinCtlr* layoutController() const;

  std::optional<QByteArray> dataRepresentationOfType(const QString& type) override;
  // Refuses data that is not a layout made by this program, or whose keys hold values of
  // the wrong types, so a damaged or foreign file never opens half loaded.
  bool loadDataRepresentation(const QByteArray& data, const QString& type) override;
  void makeWindowControllers() override;

 protected:
  virtual std::unique_ptr<BaseLayoutWinCtlr> makeController() const;
  // Runs after the controller received the layout file, before it is added.
  virtual void prepareController(BaseLayoutWinCtlr&) {}

 private:
  const LayoutKind& kind_;
  std::optional<LayoutFileIO> layoutFile_;
};

class DataDoc final : public LayoutDocument {
  Q_OBJECT

 public:
  explicit DataDoc(const LayoutKind& kind) : LayoutDocument(kind) {}
  // Nothing happens before the document has its window controller.
  void setAsVideoTSDoc();

 protected:
  std::unique_ptr<BaseLayoutWinCtlr> makeController() const override;
};

class AudioDoc final : public LayoutDocument {
  Q_OBJECT

 public:
  explicit AudioDoc(const LayoutKind& kind) : LayoutDocument(kind) {}
  // Nothing happens before the document has its window controller.
  void loadPlayList(const Playlist& playlist);
};

class CDCopyDoc final : public LayoutDocument {
  Q_OBJECT

 public:
  explicit CDCopyDoc(const LayoutKind& kind) : LayoutDocument(kind) {}

  // "" unless a disc image was opened as the document.
  QString cdImageReaderPath() const { return cdImageReaderPath_; }

  // A disc image ("CD Image") is not read: its path becomes the source of a new, untitled
  // "CD Copy" layout, so that saving can never write over the image.
  bool readFromFile(const QString& path, const QString& type) override;
  QString savePathFor(const QString& requestedPath, const QString& type) const override;
  QString saveTypeFor(const QString& requestedType) const override;

 protected:
  void prepareController(BaseLayoutWinCtlr& controller) override;

 private:
  QString cdImageReaderPath_ = QStringLiteral("");
};

}  // namespace quillion
