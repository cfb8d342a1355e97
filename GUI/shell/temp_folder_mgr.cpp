// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/temp_folder_mgr.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>

#include "framework/defaults.h"
#include "shell/mount_table.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

constexpr std::uint64_t kSpareBytes = 0x80000;  // room kept free beside every temporary file

QByteArray readProcFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(4096);
}

// Field 22 of /proc/<pid>/stat (the start time in clock ticks since boot); "" when the
// process does not exist. The command name may hold blanks and parentheses, so counting
// starts after its last ')'.
QByteArray processStartTime(qint64 pid) {
  const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return {};
  const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
  // After the name: state is field 3, so the start time (field 22) is the 20th here.
  return fields.size() > 19 ? fields[19] : QByteArray();
}

bool isPlainFileName(const QString& name) {
  return !name.isEmpty() && !name.contains('/') && name != QLatin1String(".") &&
         name != QLatin1String("..") && !name.contains(QChar(0));
}

// mkdtemp and mkstemp on a QString template; "" on failure.
QString makeUniqueFolder(const QString& pathTemplate) {
  QByteArray bytes = QFile::encodeName(pathTemplate);
  if (!::mkdtemp(bytes.data())) return {};
  return QFile::decodeName(bytes);
}

QString makeUniqueFile(const QString& pathTemplate) {
  QByteArray bytes = QFile::encodeName(pathTemplate);
  const int fd = ::mkstemp(bytes.data());
  if (fd < 0) return {};
  ::close(fd);
  return QFile::decodeName(bytes);
}

bool createNewFile(const QString& path) {
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool isUnder(const QString& path, const QString& folder) {
  return path.startsWith(folder + '/');
}

}  // namespace

QString tempFolderOwnerTag() {
  const qint64 pid = ::getpid();
  return QStringLiteral("%1.%2.").arg(pid).arg(QString::fromLatin1(processStartTime(pid)));
}

TempFolderMgr::Environment TempFolderMgr::systemEnvironment() {
  Environment env;
  QFile mounts(QStringLiteral("/proc/self/mountinfo"));
  if (mounts.open(QIODevice::ReadOnly)) env.mountInfo = mounts.readAll();
  env.cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
  if (env.cacheHome.isEmpty()) env.cacheHome = QDir::homePath() + QStringLiteral("/.cache");
  env.space = [](const QString& path) -> std::optional<VolumeSpace> {
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(path).constData(), &fs) != 0) return std::nullopt;
    return VolumeSpace{static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize,
                       static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize};
  };
  env.writable = [](const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
  };
  return env;
}

TempFolderMgr::TempFolderMgr(const QString& folderName, Defaults& defaults, Environment environment)
    : folderName_(folderName), env_(std::move(environment)) {
  refresh();
  const QStringList unselected = defaults.stringList(VUKArrayOfUnselectedDrivesKey);
  if (!unselected.isEmpty()) updateVolumesWithUnselectedArray(unselected);
  for (const Volume& v : volumes_) removeStaleFolders(v.base);
}

TempFolderMgr::~TempFolderMgr() {
  removeAllTempFolders();
}

void TempFolderMgr::refresh() {
  volumes_.clear();
  const std::vector<MountEntry> mounts = parseMountInfo(env_.mountInfo);
  // The home volume is the mount that holds the cache folder: the longest matching prefix.
  const MountEntry* home = nullptr;
  for (const MountEntry& m : mounts) {
    const bool holds = m.mountPoint == QLatin1String("/") || env_.cacheHome == m.mountPoint ||
                       isUnder(env_.cacheHome, m.mountPoint);
    if (holds && (!home || m.mountPoint.size() > home->mountPoint.size())) home = &m;
  }
  const auto usable = [this](const MountEntry& m, const QString& probe) {
    if (m.readOnly || isPseudoFileSystem(m.fsType)) return false;
    const auto space = env_.space ? env_.space(probe) : std::nullopt;
    return space && space->freeBytes > 0 && env_.writable && env_.writable(probe);
  };
  int nextVid = 1;
  if (home) {
    // The cache folder may not exist yet on a new account: its volume decides.
    QDir().mkpath(env_.cacheHome);
    if (usable(*home, env_.cacheHome))
      volumes_.push_back({nextVid++,
                          home->mountPoint,
                          env_.cacheHome + QStringLiteral("/quillion/") + folderName_,
                          {},
                          true});
  }
  for (const MountEntry& m : mounts) {
    if (&m == home) continue;
    const bool seen = std::any_of(volumes_.begin(), volumes_.end(),
                                  [&](const Volume& v) { return v.mountPoint == m.mountPoint; });
    if (seen || !usable(m, m.mountPoint)) continue;
    const QString root = m.mountPoint == QLatin1String("/") ? QString() : m.mountPoint;
    volumes_.push_back({nextVid++, m.mountPoint, root + '/' + folderName_, {}, true});
  }
}

TempFolderMgr::Volume* TempFolderMgr::find(int vid) {
  for (Volume& v : volumes_)
    if (v.vid == vid) return &v;
  return nullptr;
}

const TempFolderMgr::Volume* TempFolderMgr::find(int vid) const {
  return const_cast<TempFolderMgr*>(this)->find(vid);
}

std::vector<int> TempFolderMgr::availableVolumes() const {
  std::vector<int> out;
  for (const Volume& v : volumes_) out.push_back(v.vid);
  return out;
}

QString TempFolderMgr::volumeName(int vid) const {
  const Volume* v = find(vid);
  return v ? v->mountPoint : QString();
}

std::uint64_t TempFolderMgr::freeSpaceInBytes(int vid) const {
  const Volume* v = find(vid);
  if (!v || !env_.space) return 0;
  const auto space = env_.space(v->mountPoint);
  return space ? space->freeBytes : 0;
}

std::uint64_t TempFolderMgr::totalSpaceInBytes(int vid) const {
  const Volume* v = find(vid);
  if (!v || !env_.space) return 0;
  const auto space = env_.space(v->mountPoint);
  return space ? space->totalBytes : 0;
}

bool TempFolderMgr::isVolumeSelected(int vid) const {
  const Volume* v = find(vid);
  return v && v->selected;
}

void TempFolderMgr::markVolumeWithVID(int vid, bool select) {
  if (Volume* v = find(vid)) v->selected = select;
}

void TempFolderMgr::markAllVolumes(bool select) {
  for (Volume& v : volumes_) v.selected = select;
}

QStringList TempFolderMgr::unselectedVolumesByName() const {
  QStringList out;
  for (const Volume& v : volumes_)
    if (!v.selected) out << v.mountPoint;
  return out;
}

void TempFolderMgr::updateVolumesWithUnselectedArray(const QStringList& names) {
  for (Volume& v : volumes_)
    if (names.contains(v.mountPoint)) v.selected = false;
  const bool anySelected =
      std::any_of(volumes_.begin(), volumes_.end(), [](const Volume& v) { return v.selected; });
  if (!anySelected && !volumes_.empty()) volumes_.front().selected = true;
}

QString TempFolderMgr::generateTempFolderPath(int vid) const {
  const Volume* v = find(vid);
  return v ? v->base : QString();
}

QString TempFolderMgr::getTempFolderPathByVID(int vid) {
  Volume* v = find(vid);
  if (!v) return {};
  if (!v->ownFolder.isEmpty() && QFileInfo(v->ownFolder).isDir()) return v->ownFolder;
  if (!QDir().mkpath(v->base)) return {};
  v->ownFolder = makeUniqueFolder(v->base + '/' + tempFolderOwnerTag() + QStringLiteral("XXXXXX"));
  return v->ownFolder;
}

void TempFolderMgr::removeAllTempFolders() {
  for (Volume& v : volumes_) {
    if (!v.ownFolder.isEmpty()) QDir(v.ownFolder).removeRecursively();
    v.ownFolder.clear();
    QDir().rmdir(v.base);  // only when no other instance has a folder in it
  }
}

QString TempFolderMgr::getTempFilePathBySize(std::uint64_t size, const QString& desiredName) {
  if (!desiredName.isNull() && !isPlainFileName(desiredName)) return {};
  for (const Volume& v : volumes_) {
    if (!v.selected || freeSpaceInBytes(v.vid) < size + kSpareBytes) continue;
    const QString folder = getTempFolderPathByVID(v.vid);
    if (folder.isEmpty()) return {};
    const QString pattern = folder + QStringLiteral("/vuktXXXXXX");
    if (desiredName.isNull()) {
      const QString path = makeUniqueFile(pattern);
      if (!path.isEmpty()) return path;
      continue;
    }
    const QString sub = makeUniqueFolder(pattern);
    if (sub.isEmpty()) continue;
    const QString path = sub + '/' + desiredName;
    if (createNewFile(path)) return path;
    QDir().rmdir(sub);
  }
  return {};
}

bool TempFolderMgr::isTemporaryPath(const QString& path) const {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  return std::any_of(volumes_.begin(), volumes_.end(),
                     [&](const Volume& v) { return isUnder(clean, QDir::cleanPath(v.base)); });
}

int TempFolderMgr::removeStaleFolders(const QString& base) {
  static const QRegularExpression owned(QStringLiteral("^([0-9]+)\\.([0-9]+)\\.[A-Za-z0-9]{6}$"));
  int removed = 0;
  const QFileInfoList entries =
      QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
  for (const QFileInfo& entry : entries) {
    const auto match = owned.match(entry.fileName());
    if (!match.hasMatch()) continue;  // not made by an instance: not ours to judge
    const QByteArray started = processStartTime(match.captured(1).toLongLong());
    if (!started.isEmpty() && started == match.captured(2).toLatin1()) continue;  // still running
    if (QDir(entry.absoluteFilePath()).removeRecursively()) ++removed;
  }
  return removed;
}

}  // namespace quillion
