// SPDX-License-Identifier: GPL-2.0-or-later
// The application's documents: the registry of document types (name, file extensions,
// class), creation of untitled documents by type name, opening files by extension, and
// closing every document before quitting.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace quillion {

class Document;
class DocumentPrompts;
class WindowController;

struct DocumentType {
  QString name;
  QStringList extensions;  // lower case, without dot; the first is used for saving
  std::function<std::unique_ptr<Document>()> make;
  bool canCreateUntitled = true;  // false: a type that files are only opened as
};

class DocumentController : public QObject {
  Q_OBJECT

 public:
  explicit DocumentController(DocumentPrompts& prompts, QObject* parent = nullptr);
  ~DocumentController() override;

  DocumentPrompts& prompts() const { return prompts_; }

  void registerType(DocumentType type);
  const DocumentType* findType(const QString& name) const;
  QStringList typeNames() const;
  // The type whose extensions hold the path's suffix (case-insensitively); empty when none.
  QString typeForPath(const QString& path) const;

  // A new document of the type, with the lowest free untitled name; nullptr for an unknown
  // type.
  Document* openUntitledDocumentOfType(const QString& type, bool display = true);
  // Opens the file (or shows the document that has it open already). On failure the user is
  // told and nullptr is answered; no document is left behind.
  Document* openDocumentWithContentsOfFile(const QString& path, bool display = true);

  std::vector<Document*> documents() const;
  Document* documentForPath(const QString& path) const;

  // Asks each document in turn whether it may close and closes it; stops at the first that
  // refuses. `done` tells whether every document closed.
  void closeAll(std::function<void(bool allClosed)> done);

  // Runs for every window controller a document makes, before its window shows (menus).
  void setWindowSetup(std::function<void(WindowController&)> setup) {
    windowSetup_ = std::move(setup);
  }

 signals:
  void documentOpened(quillion::Document* document);
  void lastDocumentClosed();

 private:
  Document* adopt(std::unique_ptr<Document> document, bool display);
  void documentWillClose(Document* document);
  QString nextUntitledName() const;
  void closeNext(std::vector<QPointer<Document>> queue, std::function<void(bool)> done);

  DocumentPrompts& prompts_;
  std::vector<DocumentType> types_;
  std::vector<Document*> documents_;  // children of this object
  std::function<void(WindowController&)> windowSetup_;
};

}  // namespace quillion
