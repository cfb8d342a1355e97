// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/document_controller.h"

#include <QFileInfo>
#include <algorithm>

#include "framework/document.h"
#include "framework/document_prompts.h"
#include "framework/messages.h"
#include "framework/window_controller.h"

namespace quillion {

DocumentController::DocumentController(DocumentPrompts& prompts, QObject* parent)
    : QObject(parent), prompts_(prompts) {}

DocumentController::~DocumentController() {
  // Children would go in ~QObject, after this object stopped being a DocumentController.
  const auto docs = documents_;
  documents_.clear();
  for (Document* d : docs) delete d;
}

void DocumentController::registerType(DocumentType type) {
  for (QString& e : type.extensions) e = e.toLower();
  std::erase_if(types_, [&](const DocumentType& t) { return t.name == type.name; });
  types_.push_back(std::move(type));
}

const DocumentType* DocumentController::findType(const QString& name) const {
  auto it = std::find_if(types_.begin(), types_.end(),
                         [&](const DocumentType& t) { return t.name == name; });
  return it == types_.end() ? nullptr : &*it;
}

QStringList DocumentController::typeNames() const {
  QStringList names;
  for (const DocumentType& t : types_) names.append(t.name);
  return names;
}

QString DocumentController::typeForPath(const QString& path) const {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix.isEmpty()) return {};
  for (const DocumentType& t : types_) {
    if (t.extensions.contains(suffix)) return t.name;
  }
  return {};
}

QString DocumentController::nextUntitledName() const {
  const QString base = Msg::gui(QStringLiteral("Untitled"));
  for (int n = 1;; ++n) {
    const QString name = n == 1 ? base : base + QLatin1Char(' ') + QString::number(n);
    const bool used = std::any_of(documents_.begin(), documents_.end(), [&](Document* d) {
      return d->isUntitled() && d->displayName() == name;
    });
    if (!used) return name;
  }
}

Document* DocumentController::adopt(std::unique_ptr<Document> owned, bool display) {
  Document* document = owned.release();
  document->setParent(this);
  if (document->isUntitled()) document->setUntitledName(nextUntitledName());
  documents_.push_back(document);
  connect(document, &Document::willClose, this, &DocumentController::documentWillClose);
  document->makeWindowControllers();
  if (windowSetup_) {
    for (const auto& wc : document->windowControllers()) windowSetup_(*wc);
  }
  if (display) document->showWindows();
  emit documentOpened(document);
  return document;
}

Document* DocumentController::openUntitledDocumentOfType(const QString& type, bool display) {
  const DocumentType* info = findType(type);
  if (info == nullptr || !info->make || !info->canCreateUntitled) return nullptr;
  std::unique_ptr<Document> document = info->make();
  document->controller_ = this;
  document->setFileType(type);
  return adopt(std::move(document), display);
}

Document* DocumentController::openDocumentWithContentsOfFile(const QString& path, bool display) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (Document* open = documentForPath(absolute)) {
    if (display) open->showWindows();
    return open;
  }
  const DocumentType* info = findType(typeForPath(absolute));
  if (info == nullptr || !info->make) {
    prompts_.reportError(nullptr, QStringLiteral("Open Failed"),
                         QStringLiteral("This kind of file cannot be opened."));
    return nullptr;
  }
  std::unique_ptr<Document> document = info->make();
  document->controller_ = this;
  document->setFileType(info->name);
  document->setFilePath(absolute);
  if (!document->readFromFile(absolute, info->name)) {
    document->reportFailure(QStringLiteral("Open Failed"),
                            QStringLiteral("The file could not be read."));
    return nullptr;
  }
  return adopt(std::move(document), display);
}

std::vector<Document*> DocumentController::documents() const {
  return documents_;
}

Document* DocumentController::documentForPath(const QString& path) const {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  auto it = std::find_if(documents_.begin(), documents_.end(), [&](Document* d) {
    return !d->isUntitled() && d->filePath() == absolute;
  });
  return it == documents_.end() ? nullptr : *it;
}

void DocumentController::documentWillClose(Document* document) {
  std::erase(documents_, document);
  // The close may come from inside the document's own window's event handling.
  document->deleteLater();
  if (documents_.empty()) emit lastDocumentClosed();
}

void DocumentController::closeAll(std::function<void(bool)> done) {
  std::vector<QPointer<Document>> queue(documents_.begin(), documents_.end());
  closeNext(std::move(queue), std::move(done));
}

void DocumentController::closeNext(std::vector<QPointer<Document>> queue,
                                   std::function<void(bool)> done) {
  while (!queue.empty() && queue.front().isNull()) queue.erase(queue.begin());
  if (queue.empty()) {
    done(true);
    return;
  }
  QPointer<Document> next = queue.front();
  queue.erase(queue.begin());
  QPointer<DocumentController> self(this);
  next->tryClose([self, queue = std::move(queue), done = std::move(done)](bool closed) mutable {
    if (!closed || !self) return done(false);
    self->closeNext(std::move(queue), std::move(done));
  });
}

}  // namespace quillion
