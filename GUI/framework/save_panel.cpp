// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/save_panel.h"

#include <QDir>
#include <QFileDialog>

#include "framework/cfmt.h"
#include "framework/sheet_host.h"

namespace quillion {

namespace {

class QtSavePanel final : public SavePanel {
 public:
  bool beginSheet(SheetHost& host, const SavePanelRequest& request,
                  std::function<void(int, const QString&)> didEnd) override {
    if (host.hasAttachedSheet()) return false;
    auto* dialog = new QFileDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!request.prompt.isEmpty()) dialog->setLabelText(QFileDialog::Accept, request.prompt);
    const QString type = request.requiredType;
    if (!type.isEmpty()) {
      dialog->setDefaultSuffix(type);
      dialog->setNameFilter(cfmt(QStringLiteral("*.%@"), type));
    }
    if (!request.directory.isEmpty()) dialog->setDirectory(request.directory);
    if (!request.fileName.isEmpty()) dialog->selectFile(request.fileName);
    const bool shown = host.beginSheet(dialog, [dialog, type, didEnd](int code) {
      const QString chosen = dialog->selectedFiles().value(0);
      if (code == QDialog::Accepted && !chosen.isEmpty())
        didEnd(kOK, withRequiredType(QDir::cleanPath(QFileInfo(chosen).absoluteFilePath()), type));
      else
        didEnd(kCancel, QString());
    });
    if (!shown) delete dialog;
    return shown;
  }
};

}  // namespace

SavePanel& SavePanel::platform() {
  static QtSavePanel panel;
  return panel;
}

QString withRequiredType(const QString& path, const QString& type) {
  if (type.isEmpty() || path.endsWith(QLatin1Char('.') + type, Qt::CaseInsensitive)) return path;
  return path + QLatin1Char('.') + type;
}

}  // namespace quillion
