// SPDX-License-Identifier: GPL-2.0-or-later
#include "documents/layout_document.h"

#include <QFileInfo>

#include "documents/data_win_ctlr.h"
#include "documents/layout_document_kinds.h"
#include "layout/base_layout_win_ctlr.h"

namespace quillion {

LayoutDocument::LayoutDocument(const LayoutKind& kind) : kind_(kind) {}

LayoutDocument::~LayoutDocument() = default;

BaseLayoutWinCtlr* LayoutDocument::layoutController() const {
  return static_cast<BaseLayoutWinCtlr*>(firstWindowController());
}

std::optional<QByteArray> LayoutDocument::dataRepresentationOfType(const QString&) {
  BaseLayoutWinCtlr* controller = layoutController();
  if (controller == nullptr) {
    setFailure(QStringLiteral("Save Failed"), QStringLiteral("The layout has no window to save."));
    return std::nullopt;
  }
  controller->window();  // a window that never showed still loads the opened layout first
  layoutFile_ = LayoutFileIO();
  controller->saveLayout(*layoutFile_);
  return layoutFile_->XMLData();
}

bool LayoutDocument::loadDataRepresentation(const QByteArray& data, const QString&) {
  layoutFile_.reset();
  LayoutFileIO file = LayoutFileIO::initWithXMLData(data);
  if (!file.check().ok()) {
    setFailure(QStringLiteral("Invalid Layout File"), QStringLiteral("Not A Valid Layout File!"));
    return false;
  }
  layoutFile_ = std::move(file);
  return true;
}

std::unique_ptr<BaseLayoutWinCtlr> LayoutDocument::makeController() const {
  return std::make_unique<BaseLayoutWinCtlr>(kind_);
}

void LayoutDocument::makeWindowControllers() {
  std::unique_ptr<BaseLayoutWinCtlr> controller = makeController();
  if (layoutFile_) controller->setLayoutFile(*layoutFile_);
  prepareController(*controller);
  addWindowController(std::move(controller));
}

std::unique_ptr<BaseLayoutWinCtlr> DataDoc::makeController() const {
  return std::make_unique<DataWinCtlr>(kind());
}

void DataDoc::setAsVideoTSDoc() {
  if (BaseLayoutWinCtlr* controller = layoutController()) controller->setAsVideoTSDoc();
}

void AudioDoc::loadPlayList(const Playlist& playlist) {
  if (BaseLayoutWinCtlr* controller = layoutController()) controller->loadPlayList(playlist);
}

bool CDCopyDoc::readFromFile(const QString& path, const QString& type) {
  if (type != QLatin1String(kCDImageType)) return LayoutDocument::readFromFile(path, type);
  setFileType(QString::fromLatin1(kCDCopyType));
  setFilePath(QString());
  cdImageReaderPath_ = path;
  return true;
}

QString CDCopyDoc::savePathFor(const QString& requestedPath, const QString&) const {
  const QString suffix = QFileInfo(requestedPath).suffix();
  const QString stem = suffix.isEmpty() ? requestedPath : requestedPath.chopped(suffix.size() + 1);
  return stem + QLatin1Char('.') + QLatin1String(kCDCopyExtension);
}

QString CDCopyDoc::saveTypeFor(const QString&) const {
  return QString::fromLatin1(kCDCopyType);
}

void CDCopyDoc::prepareController(BaseLayoutWinCtlr& controller) {
  if (!cdImageReaderPath_.isEmpty()) controller.setImageReaderPath(cdImageReaderPath_);
}

}  // namespace quillion
