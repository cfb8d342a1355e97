// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/open_panel.h"

#include <QDir>
#include <QFileDialog>

#include "framework/sheet_host.h"

namespace quillion {

namespace {

class QtOpenPanel final : public OpenPanel {
 public:
  bool beginSheet(SheetHost& host, const OpenPanelRequest& request,
                  std::function<void(int, const QStringList&)> didEnd) override {
    if (host.hasAttachedSheet()) return false;
    auto* dialog = new QFileDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                        : QFileDialog::ExistingFile);
    dialog->setNameFilter(openPanelNameFilter(request.types));
    if (!request.directory.isEmpty()) dialog->setDirectory(request.directory);
    const bool shown = host.beginSheet(dialog, [dialog, didEnd](int code) {
      QStringList chosen;
      for (const QString& path : dialog->selectedFiles())
        chosen << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
      if (code == QDialog::Accepted && !chosen.isEmpty())
        didEnd(kOK, chosen);
      else
        didEnd(kCancel, {});
    });
    if (!shown) delete dialog;
    return shown;
  }
};

}  // namespace

OpenPanel& OpenPanel::platform() {
  static QtOpenPanel panel;
  return panel;
}

QString openPanelNameFilter(const QStringList& types) {
  QStringList patterns;
  for (const QString& type : types) {
    const QString pattern = QStringLiteral("*.") + type;
    if (!type.isEmpty() && !patterns.contains(pattern)) patterns << pattern;
  }
  return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(QLatin1Char(' '));
}

}  // namespace quillion
