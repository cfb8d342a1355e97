// SPDX-License-Identifier: GPL-2.0-or-later
// Answers a document's questions from a script, at once, and records what was asked.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "framework/document.h"
#include "framework/document_prompts.h"

namespace quillion::test {

class ScriptedPrompts final : public DocumentPrompts {
 public:
  struct Error {
    QString document;  // display name, empty without a document
    QString titleKey;
    QString messageKey;
  };

  std::deque<SaveChoice> saveChoices;
  std::deque<QString> savePaths;
  std::vector<Error> errors;
  int saveChangesAsked = 0;
  QString lastProposedPath;
  QString lastExtension;

  void askSaveChanges(Document&, std::function<void(SaveChoice)> answer) override {
    ++saveChangesAsked;
    if (saveChoices.empty()) {
      ADD_FAILURE() << "unexpected save-changes question";
      return answer(SaveChoice::Cancel);
    }
    const SaveChoice choice = saveChoices.front();
    saveChoices.pop_front();
    answer(choice);
  }

  void askSavePath(Document&, const QString& proposedPath, const QString& extension,
                   std::function<void(QString)> answer) override {
    lastProposedPath = proposedPath;
    lastExtension = extension;
    if (savePaths.empty()) {
      ADD_FAILURE() << "unexpected save-path question";
      return answer(QString());
    }
    const QString path = savePaths.front();
    savePaths.pop_front();
    answer(path);
  }

  void reportError(Document* document, const QString& titleKey,
                   const QString& messageKey) override {
    errors.push_back({document ? document->displayName() : QString(), titleKey, messageKey});
  }
};

}  // namespace quillion::test
