// SPDX-License-Identifier: GPL-2.0-or-later
// The questions a document asks the user while it saves or closes. The application answers
// them with sheets on the document's window; tests answer them from a script.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace quillion {

class Document;

enum class SaveChoice { Save, DontSave, Cancel };

class DocumentPrompts {
 public:
  virtual ~DocumentPrompts() = default;

  // "Save the changes?" before an edited document closes.
  virtual void askSaveChanges(Document& document, std::function<void(SaveChoice)> answer) = 0;
  // The path to save under; an empty answer means the user cancelled.
  virtual void askSavePath(Document& document, const QString& proposedPath,
                           const QString& extension, std::function<void(QString)> answer) = 0;
  // An alert with "GUIMsgs" keys; on the document's window when it has one.
  virtual void reportError(Document* document, const QString& titleKey,
                           const QString& messageKey) = 0;
};

// Sheets on the document's first window; an application-modal alert without a window.
class SheetPrompts final : public DocumentPrompts {
 public:
  void askSaveChanges(Document& document, std::function<void(SaveChoice)> answer) override;
  void askSavePath(Document& document, const QString& proposedPath, const QString& extension,
                   std::function<void(QString)> answer) override;
  void reportError(Document* document, const QString& titleKey, const QString& messageKey) override;
};

}  // namespace quillion
