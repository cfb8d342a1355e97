// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/zeb_utils.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cstdlib>

#include "framework/messages.h"
#include "quillion/DC.h"
#include "quillion/GDT.h"

namespace quillion::ZEBUtils {

namespace {

constexpr std::uint32_t kImageReaderWriterRef = 0xFFFFFFFFu;
constexpr std::uint32_t kIsoImageWriterRef = 0xFFFFFFFEu;

QByteArray readSmallFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(1 << 20);
}

// The value after the first "key<blanks>:" line of a /proc text.
QByteArray procField(const QByteArray& text, const QByteArray& key) {
  for (const QByteArray& line : text.split('\n')) {
    const int colon = line.indexOf(':');
    if (colon < 0 || line.left(colon).trimmed() != key) continue;
    return line.mid(colon + 1).trimmed();
  }
  return {};
}

QString lowerSuffix(const QString& path) {
  return QFileInfo(path).suffix().toLower();
}

// A size above one unit: the whole number and one decimal, rounded on the tenth, where a
// remainder of 950 or more sub-units counts as the next whole number.
QString wholeAndTenth(std::uint64_t bytes, int shift, const char* unit) {
  std::uint64_t whole = bytes >> shift;
  const std::uint64_t remainder = (bytes >> (shift - 10)) - whole * 1024;
  std::uint64_t tenth = 0;
  if (remainder >= 950)
    ++whole;
  else
    tenth = (remainder / 10 + 5) / 10;
  return QStringLiteral("%1.%2 %3").arg(whole).arg(tenth).arg(QLatin1String(unit));
}

// The open panels' rule for a filter other than "All": the extension equals the filter, or its
// first three letters.
bool matchesOneFilter(const QString& path, const QString& filter) {
  const QString ext = lowerSuffix(path);
  if (ext.isEmpty() || ext == QLatin1String("m4p")) return false;
  return ext == filter.toLower() || (filter.size() >= 3 && ext == filter.left(3).toLower());
}

QStringList oneFilterTypes(const QString& filter) {
  QStringList out{filter};
  if (filter.size() >= 3) out << filter.left(3);
  out << filter.toLower();
  if (filter.size() >= 3) out << filter.left(3).toLower();
  out.removeDuplicates();
  return out;
}

bool isAllFilter(const QString& filter) {
  return filter == Msg::gui(QStringLiteral("All"));
}

// The connected drive whose medium is the device node `name`; 0 when none.
std::uint32_t refOfNode(const QString& name) {
  const QString node = name.startsWith(QLatin1String("/dev/")) ? name : "/dev/" + name;
  DC_Device* list = nullptr;
  const std::uint16_t n = DC_GetConnectedDeviceList(&list);
  std::uint32_t found = 0;
  for (std::uint16_t i = 0; i < n && !found; ++i) {
    char path[256] = {};
    if (GDT_GetBSDPath(list[i].ref, path, sizeof path, true) == kNoErr &&
        node == QLatin1String(path))
      found = list[i].ref;
  }
  std::free(list);
  return found;
}

bool isImageRef(std::uint32_t ref) {
  return ref == kImageReaderWriterRef || ref == kIsoImageWriterRef;
}

}  // namespace

QString cpuModelFromCpuinfo(const QByteArray& cpuinfo) {
  const QByteArray model = procField(cpuinfo, "model name");
  return model.isEmpty() ? QStringLiteral("Unknown") : QString::fromUtf8(model);
}

QString cpuMhzFromCpuinfo(const QByteArray& cpuinfo) {
  bool ok = false;
  const double mhz = procField(cpuinfo, "cpu MHz").toDouble(&ok);
  if (!ok) return {};
  return QStringLiteral("%1 Mhz").arg(static_cast<qint64>(mhz));
}

qint64 meminfoKiB(const QByteArray& meminfo, const QByteArray& key) {
  QByteArray value = procField(meminfo, key);
  if (value.endsWith(" kB")) value.chop(3);
  bool ok = false;
  const qint64 kib = value.trimmed().toLongLong(&ok);
  return ok ? kib : -1;
}

QString osReleaseValue(const QByteArray& osRelease, const QByteArray& key) {
  for (const QByteArray& raw : osRelease.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (!line.startsWith(key + '=')) continue;
    QByteArray value = line.mid(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.mid(1, value.size() - 2);
    return QString::fromUtf8(value);
  }
  return {};
}

QString processorType() {
  return cpuModelFromCpuinfo(readSmallFile(QStringLiteral("/proc/cpuinfo")));
}

QString processorClockSpeedInMhz() {
  return cpuMhzFromCpuinfo(readSmallFile(QStringLiteral("/proc/cpuinfo")));
}

QString numberOfProcessors() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? QStringLiteral("%1 CPU(s)").arg(n) : QString();
}

QString totalMemory() {
  const qint64 kib = meminfoKiB(readSmallFile(QStringLiteral("/proc/meminfo")), "MemTotal");
  return kib < 0 ? QString() : QStringLiteral("%1 MB").arg(kib / 1024);
}

QString memoryAvailable() {
  const qint64 kib = meminfoKiB(readSmallFile(QStringLiteral("/proc/meminfo")), "MemAvailable");
  return QString::number(kib < 0 ? 0 : kib / 1024);
}

QString systemVersion() {
  QByteArray text = readSmallFile(QStringLiteral("/etc/os-release"));
  if (text.isEmpty()) text = readSmallFile(QStringLiteral("/usr/lib/os-release"));
  return osReleaseValue(text, "PRETTY_NAME");
}

QString VUK_Version() {
  return QCoreApplication::applicationVersion();
}

std::uint32_t MSFToSectors(std::uint32_t minutes, std::uint32_t seconds, std::uint32_t frames) {
  return minutes * 4500 + seconds * 75 + frames;
}

QString bytesToString(std::uint64_t bytes) {
  if (bytes >= (std::uint64_t{1} << 30)) return wholeAndTenth(bytes, 30, "GB");
  if (bytes >= (std::uint64_t{1} << 20)) return wholeAndTenth(bytes, 20, "MB");
  if (bytes >= 1024) return QStringLiteral("%1 KB").arg(bytes / 1024);
  return QString::number(bytes) + Msg::gui(QStringLiteral("Byte(s)"));
}

std::uint64_t freeBytesAtPath(const QString& path) {
  QString target = path;
  if (!QFileInfo::exists(target)) target = QFileInfo(path).absolutePath();
  struct statvfs fs {};
  if (target.isEmpty() || ::statvfs(QFile::encodeName(target).constData(), &fs) != 0) return 0;
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

bool filterTest(const QString& path, const QString& filter) {
  if (isAllFilter(filter)) {
    static const QStringList kinds{"wav", "mp3", "cda", "cdda", "aif", "aiff", "sd2", "mp4", "m4a"};
    return kinds.contains(lowerSuffix(path));
  }
  return matchesOneFilter(path, filter);
}

QStringList audioFilterTypes(const QString& filter) {
  if (isAllFilter(filter))
    return {"aif", "aiff", "AIF", "AIFF", "mp3", "MP3", "WAV", "wav",
            "cda", "cdda", "sd2", "SD2",  "mp4", "MP4", "M4A", "m4a"};
  QStringList out = oneFilterTypes(filter);
  out.removeIf([](const QString& ext) { return ext.compare("m4p", Qt::CaseInsensitive) == 0; });
  return out;
}

bool filterVideoTest(const QString& path, const QString& filter) {
  if (isAllFilter(filter)) {
    static const QStringList kinds{"mpg", "mpeg", "m2v", "m2a"};
    return kinds.contains(lowerSuffix(path));
  }
  return matchesOneFilter(path, filter);
}

QStringList videoFilterTypes(const QString& filter) {
  if (isAllFilter(filter)) return {"mpg", "mpeg", "MPG", "MPEG", "m2v", "M2V", "m2a", "M2A"};
  return oneFilterTypes(filter);
}

bool imageFilterTest(const QString& path) {
  static const QStringList kinds{"wlt", "iso", "dmg", "toast", "bin", "cue", "cdr", "img"};
  return kinds.contains(lowerSuffix(path));
}

bool audioNeedsConvert(const QString& path) {
  if (path.isNull()) return false;
  static const QStringList kinds{"m4p", "mp4", "m4a"};
  return kinds.contains(lowerSuffix(path));
}

QString getUserMusicDirectoryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

QString getUserDocumentDirectoryPath() {
  const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return docs.isEmpty() ? QString() : docs + '/';
}

bool LaunchApplicationByCreator(const QString& /*creator*/) {
  return false;
}

bool unmountDiskWithRef(std::uint32_t ref, bool eject) {
  if (isImageRef(ref)) return false;
  char path[256] = {};
  const bool hasMedium = GDT_GetBSDPath(ref, path, sizeof path, true) == kNoErr && path[0];
  if (!eject) return hasMedium && DC_MacX_UnmountMedia(ref) == 1;
  // Without a medium there is nothing to unmount, and the tray still opens.
  const bool result = hasMedium ? DC_MacX_UnmountMedia(ref) == 1 : true;
  MMC_SenseData sense{};
  (void)GDT_Eject(ref, &sense, false);
  return result;
}

bool mountDiskWithRef(std::uint32_t ref) {
  if (isImageRef(ref)) return false;
  return DC_MacX_MountMedia(ref) == 1;
}

bool isDriveNodeName(const QString& name) {
  static const QRegularExpression node(QStringLiteral("^(/dev/)?sr[0-9]+$"));
  return node.match(name).hasMatch();
}

bool unmountDisk(const QString& name) {
  if (!isDriveNodeName(name)) return false;
  const std::uint32_t ref = refOfNode(name);
  return ref != 0 && DC_MacX_UnmountMedia(ref) == 1;
}

bool mountDisk(const QString& name) {
  if (!isDriveNodeName(name)) return false;
  const std::uint32_t ref = refOfNode(name);
  return ref != 0 && DC_MacX_MountMedia(ref) == 1;
}

bool unmountNEjectVolume(const QString& name) {
  if (!isDriveNodeName(name)) return false;
  const std::uint32_t ref = refOfNode(name);
  return ref != 0 && DC_MacX_UnmountAndEject(ref) == 1;
}

}  // namespace quillion::ZEBUtils
