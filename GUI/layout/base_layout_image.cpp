// SPDX-License-Identifier: GPL-2.0-or-later
// The image files of the two image writers, the temporary image a copy leaves behind, and
// the drive bar's Erase button.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>

#include "framework/cfmt.h"
#include "framework/sheet_host.h"
#include "layout/base_layout_win_ctlr.h"
#include "layout/layout_services.h"
#include "shell/app_controller.h"
#include "shell/device_list_manager.h"
#include "shell/erase_controller.h"
#include "shell/temp_folder_mgr.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace image_files {

// The path with its folder's symbolic links and "..", resolved; the file itself need not be
// a real file. Empty when the folder does not exist.
QString realPathOf(const QString& path) {
  const QFileInfo info(path);
  const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
  if (folder.isEmpty() || info.fileName().isEmpty()) return {};
  return folder + QLatin1Char('/') + info.fileName();
}

// Whether the temporary image at `path` may be deleted: an existing file (not a folder)
// whose real folder lies inside a folder named as the application's temporary folders, and,
// when the temporary folders are known, inside one of them. A name merely containing the
// folder's name, a ".." out of it or a link from it to elsewhere does not count.
bool isDeletableTempImage(const QString& path, const TempFolderMgr* tempFolders) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  if (!info.isSymLink() && !info.isFile()) return false;
  const QString real = realPathOf(path);
  if (real.isEmpty()) return false;
  const QStringList folders = QFileInfo(real).absolutePath().split(QLatin1Char('/'));
  if (!folders.contains(QString::fromLatin1(kTempFolderName))) return false;
  return tempFolders == nullptr || tempFolders->isTemporaryPath(real);
}

// Moves `from` to `to`, replacing a file there; across file systems by a copy.
bool moveFile(const QString& from, const QString& to) {
  if (QFileInfo(from).absoluteFilePath() == QFileInfo(to).absoluteFilePath()) return true;
  if (QFileInfo::exists(to) && !QFile::remove(to)) return false;
  if (QFile::rename(from, to)) return true;
  if (!QFile::copy(from, to)) return false;
  return QFile::remove(from);
}

}  // namespace image_files

void BaseLayoutWinCtlr::getDstImageFile() {
  const std::uint32_t writer = settings_.dstDriveRef;
  if (!isImageWriterRef(writer)) return;
  const QString documents = ZEBUtils::getUserDocumentDirectoryPath();
  const QString current = writer == kCDImageWriterRef ? cdImageWriterPath_ : isoImageWriterPath_;
  SavePanelRequest request;
  request.requiredType =
      writer == kCDImageWriterRef ? QStringLiteral("wlt") : QStringLiteral("iso");
  request.canHideExtension = true;
  if (!current.isEmpty()) {
    const QFileInfo info(current);
    request.directory = info.absolutePath();
    request.fileName = info.fileName();
  } else {
    request.directory = documents;
    if (writer == kISOImageWriterRef)
      request.fileName =
          cfmt(QStringLiteral("%@.%@"), QStringLiteral("VUK_CDImage"), QStringLiteral("iso"));
  }
  SavePanel& panel = savePanel_ ? *savePanel_ : SavePanel::platform();
  (void)panel.beginSheet(sheets(), request, [this, writer](int code, const QString& path) {
    saveCDImagePanelDidEnd(code, path, writer);
  });
}

void BaseLayoutWinCtlr::saveCDImagePanelDidEnd(int returnCode, const QString& path,
                                               std::uint32_t writerRef) {
  if (returnCode != SavePanel::kOK || path.isEmpty() || !isImageWriterRef(writerRef)) return;
  // The writer makes a new file; an old one of that name would otherwise be appended to or
  // taken for the image.
  if (QFileInfo(path).isFile() || QFileInfo(path).isSymLink()) (void)QFile::remove(path);
  if (writerRef == kCDImageWriterRef)
    cdImageWriterPath_ = path;
  else
    isoImageWriterPath_ = path;
  if (DeviceListManager* list = devices())
    updateDriveStatusField(list->statusOfDevice(settings_.dstDriveRef));
}

void BaseLayoutWinCtlr::promptSaveTempImage(const QString& tempImagePath) {
  if (tempImagePath.isEmpty()) return;
  SavePanelRequest request;
  request.prompt = guiText("Save Image");
  request.requiredType = QStringLiteral("wlt");
  request.directory = ZEBUtils::getUserDocumentDirectoryPath();
  request.fileName =
      cfmt(QStringLiteral("%@.%@"), QStringLiteral("VUK_CDImage"), QStringLiteral("wlt"));
  SavePanel& panel = savePanel_ ? *savePanel_ : SavePanel::platform();
  (void)panel.beginSheet(sheets(), request, [this, tempImagePath](int code, const QString& path) {
    saveTempImagePanelDidEnd(code, path, tempImagePath);
  });
}

void BaseLayoutWinCtlr::saveTempImagePanelDidEnd(int returnCode, const QString& path,
                                                 const QString& tempImagePath) {
  if (tempImagePath.isEmpty()) return;
  if (returnCode == SavePanel::kOK && !path.isEmpty()) {
    if (!image_files::moveFile(tempImagePath, path))
      (void)sheets().alert(QStringLiteral("Image Not Saved"), QStringLiteral("Image Move Failed"));
    return;
  }
  if (currentLayoutType() != kLayoutCopy) return;
  if (image_files::isDeletableTempImage(tempImagePath, layoutServices().tempFolders))
    (void)QFile::remove(image_files::realPathOf(tempImagePath));
}

void BaseLayoutWinCtlr::BSerase() {
  DeviceListManager* list = devices();
  if (!list || !isRealDriveRef(settings_.dstDriveRef)) return;
  LayoutServices& services = layoutServices();
  if (!services.eraser) services.eraser = std::make_shared<EraseController>(list);
  EraseController& eraser = *services.eraser;
  if (!eraser.setDeviceRef(settings_.dstDriveRef)) {
    eraser.showWindow();  // still erasing: shown as it is
    return;
  }
  QWidget* panel = eraser.window();
  panel->move(window()->frameGeometry().topLeft() + kErasePanelOffset);
  eraser.showWindow();
}

}  // namespace quillion
