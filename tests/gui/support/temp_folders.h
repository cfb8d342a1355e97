// SPDX-License-Identifier: GPL-2.0-or-later
// The temporary-folder manager of a window test: one writable ext4 volume at `volume` with a
// gigabyte free, so burns and images find room without touching the machine's own mounts.
#pragma once

#include <QString>
#include <memory>

#include "shell/temp_folder_mgr.h"

namespace quillion {
class Defaults;
}

namespace quillion::test {

std::unique_ptr<TempFolderMgr> makeTestTempFolders(Defaults& defaults, const QString& volume);

}  // namespace quillion::test
