// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/open_panel.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>

#include "framework/sheet_host.h"

namespace quillion {

namespace {

// A file dialog whose Open takes folders as well as files: what is selected in its list is
// chosen as it stands, folders included, so a folder is added with its contents. A folder is
// entered by opening it in the list; with nothing selected, typed names go the dialog's own
// way.
class FilesAndFoldersDialog final : public QFileDialog {
 public:
  FilesAndFoldersDialog() {
    // The list below is the dialog's own widget, which a native dialog does not have.
    setOption(QFileDialog::DontUseNativeDialog);
  }

  // The paths chosen by the last Open, in the order they were selected.
  QStringList chosenPaths() const { return chosen_.isEmpty() ? selectedFiles() : chosen_; }

  void accept() override {
    chosen_ = selectedInList();
    if (chosen_.isEmpty()) {
      QFileDialog::accept();
      return;
    }
    QDialog::accept();
  }

 private:
  QStringList selectedInList() const {
    const auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    const QItemSelectionModel* selection = list ? list->selectionModel() : nullptr;
    QStringList paths;
    if (!selection) return paths;
    for (const QModelIndex& row : selection->selectedRows()) {
      const QString path = row.data(QFileSystemModel::FilePathRole).toString();
      if (!path.isEmpty() && QFileInfo::exists(path)) paths << path;
    }
    return paths;
  }

  QStringList chosen_;
};

class QtOpenPanel final : public OpenPanel {
 public:
  bool beginSheet(SheetHost& host, const OpenPanelRequest& request,
                  std::function<void(int, const QStringList&)> didEnd) override {
    if (host.hasAttachedSheet()) return false;
    auto* dialog = new FilesAndFoldersDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                        : QFileDialog::ExistingFile);
    dialog->setNameFilter(openPanelNameFilter(request.types));
    if (!request.directory.isEmpty()) dialog->setDirectory(request.directory);
    const bool shown = host.beginSheet(dialog, [dialog, didEnd](int code) {
      QStringList chosen;
      for (const QString& path : dialog->chosenPaths())
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
