// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/session_import.h"

#include <cstdlib>
#include <cstring>

#include "framework/cfmt.h"
#include "framework/messages.h"

namespace quillion {

namespace session_import_detail {

// A title is numbered this many times before the import gives up.
constexpr unsigned kMaxImportNumber = 9999;

}  // namespace session_import_detail

using namespace session_import_detail;

DiscSessions readDiscSessions(std::uint32_t drive) {
  DiscSessions out;
  TNC_ISO9660Session* array = nullptr;
  std::uint16_t count = 0;
  out.status = TNC_GetValidISOSessionInfo(drive, &array, &count);
  if (out.status == kNoErr && array != nullptr) out.sessions.assign(array, array + count);
  std::free(array);
  return out;
}

QString sessionVolumeName(const TNC_ISO9660Session& session) {
  const auto length = strnlen(session.volumeName, sizeof session.volumeName);
  return QString::fromUtf8(session.volumeName, static_cast<qsizetype>(length));
}

SessionImportOutcome importSessionTree(FS_Tree* layout, FS_Tree* imported,
                                       const QString& volumeName, bool toFolder,
                                       unsigned* clashCounter) {
  SessionImportOutcome out;
  if (layout == nullptr || imported == nullptr) {
    if (imported != nullptr) termTree(imported);
    out.status = kErrBadArgument;
    return out;
  }
  // The session's root leaves its tree, which goes; the root is ours from here on.
  FS_Node* root = GetRootTreeNode(imported);
  out.status = RemoveTreeNode(imported, root, false);
  termTree(imported);
  if (out.status != kNoErr) return out;

  if (!toFolder) {
    FS_Node* layoutRoot = GetRootTreeNode(layout);
    while (GetNumberOfChildren(root) > 0) {
      FS_Node* child = GetChildNodeAtIndex(root, 0);
      if (RemoveChildNode(root, child, false) != kNoErr) break;
      // What clashed with a file stays the caller's: it is named and let go.
      if (MergeWithANode(layout, layoutRoot, child) != kNoErr) {
        out.notMerged << QString::fromUtf8(GetTitleNode(child));
        termNode(child);
      }
    }
    termNode(root);
    return out;
  }

  const QString name = volumeName.trimmed();
  const QString imports = Msg::gui(QStringLiteral("Imported String"));
  QString title = cfmt(QStringLiteral("%@ (%@)"), name, imports);
  out.status = SetTitleNode(root, title.toUtf8().constData(), true);
  if (out.status == kNoErr) out.status = AddTreeNode(layout, root, nullptr);
  unsigned tries = 0;
  while (out.status == kErrTreeDuplicateTitle && tries++ < kMaxImportNumber) {
    ++*clashCounter;
    title = cfmt(QStringLiteral("%@ (%@)%d"), name, imports, *clashCounter);
    out.status = SetTitleNode(root, title.toUtf8().constData(), true);
    if (out.status == kNoErr) out.status = AddTreeNode(layout, root, nullptr);
  }
  if (out.status != kNoErr) {
    termNode(root);
    return out;
  }
  out.folderTitle = title;
  return out;
}

}  // namespace quillion
