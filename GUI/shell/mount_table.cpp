// SPDX-License-Identifier: GPL-2.0-or-later
// Line format (proc(5)): id parent major:minor root mount-point options [optional fields...]
// - fs-type source super-options
#include "shell/mount_table.h"

#include <QList>
#include <array>
#include <string_view>

namespace quillion {

namespace {

QString unescapeMountPath(const QByteArray& field) {
  QByteArray out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c == '\\' && i + 3 < field.size()) {
      const QByteArray digits = field.mid(i + 1, 3);
      bool ok = digits.size() == 3;
      for (char d : digits) ok = ok && d >= '0' && d <= '7';
      if (ok) {
        out.append(static_cast<char>(digits.toInt(nullptr, 8) & 0xFF));
        i += 3;
        continue;
      }
    }
    out.append(c);
  }
  return QString::fromUtf8(out);
}

bool hasReadOnlyOption(const QByteArray& options) {
  return options.split(',').contains("ro");
}

}  // namespace

std::vector<MountEntry> parseMountInfo(const QByteArray& text) {
  std::vector<MountEntry> out;
  for (const QByteArray& line : text.split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    const qsizetype separator = fields.indexOf("-");
    // Six fixed fields before the optional ones, three after the separator.
    if (separator < 6 || separator + 3 >= fields.size()) continue;
    if (fields[4].isEmpty() || fields[4][0] != '/') continue;
    MountEntry entry;
    entry.mountPoint = unescapeMountPath(fields[4]);
    entry.fsType = QString::fromUtf8(fields[separator + 1]);
    entry.source = unescapeMountPath(fields[separator + 2]);
    entry.readOnly = hasReadOnlyOption(fields[5]) || hasReadOnlyOption(fields[separator + 3]);
    out.push_back(std::move(entry));
  }
  return out;
}

bool isPseudoFileSystem(const QString& fsType) {
  static constexpr std::array<std::string_view, 22> kPseudo{
      "proc",       "sysfs",      "devtmpfs",  "devpts",  "cgroup",      "cgroup2",
      "securityfs", "pstore",     "bpf",       "debugfs", "tracefs",     "mqueue",
      "hugetlbfs",  "configfs",   "fusectl",   "autofs",  "binfmt_misc", "efivarfs",
      "nsfs",       "rpc_pipefs", "selinuxfs", "ramfs"};
  const QByteArray type = fsType.toUtf8();
  for (std::string_view p : kPseudo)
    if (std::string_view(type.constData(), static_cast<std::size_t>(type.size())) == p) return true;
  return false;
}

}  // namespace quillion
