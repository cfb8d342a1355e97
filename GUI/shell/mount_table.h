// SPDX-License-Identifier: GPL-2.0-or-later
// The mounted file systems as /proc/self/mountinfo lists them, and which of them can hold
// temporary files at all.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace quillion {

struct MountEntry {
  QString mountPoint;
  QString fsType;
  QString source;
  bool readOnly = false;  // the mount's own options or the super block's say "ro"
};

// One entry per well-formed line; malformed lines are skipped. Octal escapes (\040 for a
// blank) in paths are decoded.
std::vector<MountEntry> parseMountInfo(const QByteArray& text);

// Kernel and virtual file systems (proc, sysfs, cgroup, ...), which never take user files.
bool isPseudoFileSystem(const QString& fsType);

}  // namespace quillion
