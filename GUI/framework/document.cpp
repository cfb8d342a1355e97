// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/document.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "framework/document_controller.h"
#include "framework/document_prompts.h"
#include "framework/window_controller.h"

namespace quillion {

Document::Document() = default;

// Window controllers go first: their windows may still refer to the document.
Document::~Document() {
  windowControllers_.clear();
}

void Document::setFilePath(const QString& path) {
  if (filePath_ == path) return;
  filePath_ = path;
  emit displayNameChanged(displayName());
}

QString Document::displayName() const {
  return filePath_.isEmpty() ? untitledName_ : QFileInfo(filePath_).fileName();
}

void Document::setUntitledName(const QString& name) {
  untitledName_ = name;
  if (filePath_.isEmpty()) emit displayNameChanged(displayName());
}

void Document::updateChangeCount(Change change) {
  const bool before = isDocumentEdited();
  switch (change) {
    case Change::Done:
      ++changeCount_;
      break;
    case Change::Undone:
      --changeCount_;
      break;
    case Change::Cleared:
      changeCount_ = 0;
      break;
  }
  if (before != isDocumentEdited()) emit editedChanged(isDocumentEdited());
}

bool Document::readFromFile(const QString& path, const QString& type) {
  clearFailure();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    setFailure(QStringLiteral("Open Failed"), QStringLiteral("The file could not be read."));
    return false;
  }
  if (file.size() > kMaxFileBytes) {
    setFailure(QStringLiteral("Open Failed"), QStringLiteral("The file is too large."));
    return false;
  }
  const QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    setFailure(QStringLiteral("Open Failed"), QStringLiteral("The file could not be read."));
    return false;
  }
  return loadDataRepresentation(data, type);
}

bool Document::writeToFile(const QString& path, const QString& type) {
  clearFailure();
  const std::optional<QByteArray> data = dataRepresentationOfType(type);
  if (!data) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(*data) != data->size() || !file.commit()) {
    setFailure(QStringLiteral("Save Failed"),
               QStringLiteral("The document could not be written to this place."));
    return false;
  }
  return true;
}

QString Document::savePathFor(const QString& requestedPath, const QString& type) const {
  const DocumentType* info = controller_ ? controller_->findType(type) : nullptr;
  if (info == nullptr || info->extensions.isEmpty()) return requestedPath;
  const QString suffix = QFileInfo(requestedPath).suffix().toLower();
  if (info->extensions.contains(suffix)) return requestedPath;
  return requestedPath + QLatin1Char('.') + info->extensions.first();
}

void Document::setFailure(const QString& titleKey, const QString& messageKey) {
  failure_ = DocumentFailure{titleKey, messageKey};
}

void Document::reportFailure(const QString& fallbackTitle, const QString& fallbackMessage) {
  if (!controller_) return;
  const DocumentFailure f = failure_.value_or(DocumentFailure{fallbackTitle, fallbackMessage});
  controller_->prompts().reportError(this, f.titleKey, f.messageKey);
}

void Document::addWindowController(std::unique_ptr<WindowController> controller) {
  controller->setDocument(this);
  windowControllers_.push_back(std::move(controller));
}

WindowController* Document::firstWindowController() const {
  return windowControllers_.empty() ? nullptr : windowControllers_.front().get();
}

void Document::showWindows() {
  for (const auto& wc : windowControllers_) wc->showWindow();
}

void Document::saveTo(const QString& path, const QString& type,
                      const std::function<void(bool)>& done) {
  const QString finalPath = savePathFor(path, type);
  const QString finalType = saveTypeFor(type);
  const bool ok = writeToFile(finalPath, finalType);
  if (ok) {
    fileType_ = finalType;
    setFilePath(finalPath);
    updateChangeCount(Change::Cleared);
  } else {
    reportFailure(QStringLiteral("Save Failed"),
                  QStringLiteral("The document could not be written to this place."));
  }
  if (done) done(ok);
}

void Document::saveDocument(std::function<void(bool)> done) {
  if (isUntitled()) {
    saveDocumentAs(std::move(done));
    return;
  }
  saveTo(filePath_, fileType_, done);
}

void Document::saveDocumentAs(std::function<void(bool)> done) {
  if (!controller_) {
    if (done) done(false);
    return;
  }
  const QString type = saveTypeFor(fileType_);
  const DocumentType* info = controller_->findType(type);
  const QString extension =
      info && !info->extensions.isEmpty() ? info->extensions.first() : QString();
  const QString proposed = isUntitled() ? displayName() : filePath_;
  QPointer<Document> self(this);
  controller_->prompts().askSavePath(*this, proposed, extension,
                                     [self, type, done = std::move(done)](const QString& path) {
                                       if (!self || path.isEmpty()) {
                                         if (done) done(false);
                                         return;
                                       }
                                       self->saveTo(path, type, done);
                                     });
}

void Document::canClose(std::function<void(bool)> done) {
  if (!isDocumentEdited() || !controller_) {
    done(true);
    return;
  }
  QPointer<Document> self(this);
  controller_->prompts().askSaveChanges(*this, [self, done = std::move(done)](SaveChoice choice) {
    if (!self) return done(false);
    switch (choice) {
      case SaveChoice::Save:
        self->saveDocument(done);
        break;
      case SaveChoice::DontSave:
        done(true);
        break;
      case SaveChoice::Cancel:
        done(false);
        break;
    }
  });
}

void Document::tryClose(std::function<void(bool)> done) {
  QPointer<Document> self(this);
  canClose([self, done = std::move(done)](bool mayClose) {
    const bool closes = mayClose && self;
    if (closes) self->close();
    if (done) done(closes);
  });
}

void Document::close() {
  if (closed_) return;
  closed_ = true;
  for (const auto& wc : windowControllers_) wc->closeWindow();
  emit willClose(this);
}

}  // namespace quillion
