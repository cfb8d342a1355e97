// SPDX-License-Identifier: GPL-2.0-or-later
// A document: the data of one file (or of a new, untitled file), its window controllers and
// its edited state. Saving and closing ask the user through the controller's prompts, whose
// answers arrive later (the questions are sheets), so those operations take a callback.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quillion {

class DocumentController;
class WindowController;

// What went wrong in the last read or write, as "GUIMsgs" keys for the alert.
struct DocumentFailure {
  QString titleKey;
  QString messageKey;
};

class Document : public QObject {
  Q_OBJECT

 public:
  // Files larger than this are refused before they are read.
  static constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;

  Document();
  ~Document() override;

  DocumentController* controller() const { return controller_; }

  QString fileType() const { return fileType_; }
  void setFileType(const QString& type) { fileType_ = type; }
  // Empty for a document that was never saved.
  QString filePath() const { return filePath_; }
  void setFilePath(const QString& path);
  bool isUntitled() const { return filePath_.isEmpty(); }
  // The file's name, or the untitled name the controller gave ("Untitled", "Untitled 2").
  QString displayName() const;
  void setUntitledName(const QString& name);

  enum class Change { Done, Undone, Cleared };
  void updateChangeCount(Change change);
  bool isDocumentEdited() const { return changeCount_ != 0; }

  // The document's bytes for saving under `type`; nullopt makes the save fail.
  virtual std::optional<QByteArray> dataRepresentationOfType(const QString& type) = 0;
  // Takes over the bytes read for opening; false refuses the file (set failure() first).
  virtual bool loadDataRepresentation(const QByteArray& data, const QString& type) = 0;
  // Reads the whole file (up to kMaxFileBytes) and hands it to loadDataRepresentation().
  virtual bool readFromFile(const QString& path, const QString& type);
  // Writes dataRepresentationOfType() to exactly `path`, replacing an existing file only
  // once the new one is complete.
  virtual bool writeToFile(const QString& path, const QString& type);
  // The path and type a save really uses for the path and type asked for. By default a name
  // without one of the type's extensions gets the first of them.
  virtual QString savePathFor(const QString& requestedPath, const QString& type) const;
  virtual QString saveTypeFor(const QString& requestedType) const { return requestedType; }

  const std::optional<DocumentFailure>& failure() const { return failure_; }

  virtual void makeWindowControllers() = 0;
  void addWindowController(std::unique_ptr<WindowController> controller);
  const std::vector<std::unique_ptr<WindowController>>& windowControllers() const {
    return windowControllers_;
  }
  WindowController* firstWindowController() const;
  void showWindows();

  // Writes the document to its file, asking for one when it has none. `done` tells whether
  // it was saved.
  void saveDocument(std::function<void(bool saved)> done = {});
  void saveDocumentAs(std::function<void(bool saved)> done = {});
  // Asks to save changes when the document is edited; `done` tells whether it may close.
  void canClose(std::function<void(bool mayClose)> done);
  // canClose(), then close() when allowed: the user's close command.
  void tryClose(std::function<void(bool closed)> done = {});
  // Closes at once: hides the windows and lets the controller release the document.
  void close();
  bool isClosed() const { return closed_; }

 signals:
  void editedChanged(bool edited);
  void displayNameChanged(const QString& name);
  void willClose(quillion::Document* document);

 protected:
  void setFailure(const QString& titleKey, const QString& messageKey);
  void clearFailure() { failure_.reset(); }

 private:
  friend class DocumentController;
  void saveTo(const QString& path, const QString& type, const std::function<void(bool)>& done);
  void reportFailure(const QString& fallbackTitle, const QString& fallbackMessage);

  DocumentController* controller_ = nullptr;  // the controller owns the document
  QString fileType_;
  QString filePath_;
  QString untitledName_;
  int changeCount_ = 0;
  bool closed_ = false;
  std::optional<DocumentFailure> failure_;
  std::vector<std::unique_ptr<WindowController>> windowControllers_;
};

}  // namespace quillion
