// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/temp_folders.h"

#include <QDir>
#include <optional>

namespace quillion::test {

std::unique_ptr<TempFolderMgr> makeTestTempFolders(Defaults& defaults, const QString& volume) {
  QDir().mkpath(volume);
  TempFolderMgr::Environment env;
  env.mountInfo = QStringLiteral("1 1 8:1 / %1 rw - ext4 /dev/x rw\n").arg(volume).toUtf8();
  env.cacheHome = volume + QStringLiteral("/.cache");
  env.space = [](const QString&) {
    return std::optional<VolumeSpace>(VolumeSpace{1u << 30, 2u << 30});
  };
  env.writable = [](const QString&) { return true; };
  return std::make_unique<TempFolderMgr>("ZEBVUK_TEMPDIR_1456AHG", defaults, env);
}

}  // namespace quillion::test
