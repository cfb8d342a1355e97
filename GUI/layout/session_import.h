// SPDX-License-Identifier: GPL-2.0-or-later
// Taking over an earlier session of a disc: the sessions a drive's disc holds, the import of
// one session's tree into a data layout (as a folder of its own, numbered while its title is
// taken, or merged into the disc's root).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "quillion/FS.h"
#include "quillion/TNC.h"

namespace quillion {

struct DiscSessions {
  EngineStatus status = kNoErr;
  std::vector<TNC_ISO9660Session> sessions;
};
// The sessions with a volume on the disc in `drive`, in session order.
DiscSessions readDiscSessions(std::uint32_t drive);

// The volume name of a session record as text, however the record's name field ends.
QString sessionVolumeName(const TNC_ISO9660Session& session);

struct SessionImportOutcome {
  EngineStatus status = kNoErr;  // of adding the folder; merges report per item below
  QString folderTitle;           // the folder's title in the layout; empty after a merge
  QStringList notMerged;         // top-level items of the session that clashed with a file
};

// Imports the tree of a session into `layout` and terminates `imported` in every case.
// Into a folder: the session's root, titled "<volume name> (Imported)", goes under the
// layout's root; while that title is taken, `*clashCounter` grows by one and the title gets
// it appended. Merged: each top-level item of the session is merged into the layout's root,
// a folder whose name exists joining the existing folder.
SessionImportOutcome importSessionTree(FS_Tree* layout, FS_Tree* imported,
                                       const QString& volumeName, bool toFolder,
                                       unsigned* clashCounter);

}  // namespace quillion
