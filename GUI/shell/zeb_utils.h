// SPDX-License-Identifier: GPL-2.0-or-later
// Small services of the shell that the windows use throughout: texts about the system, free
// space and size texts, the open panels' file-type filters, the user's folders, and mounting,
// unmounting and ejecting the medium of a drive.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quillion::ZEBUtils {

// System texts for the burn log's header; "" (or "Unknown", "0" where said) when the system
// cannot tell.
QString processorType();             // the CPU's model name; "Unknown"
QString processorClockSpeedInMhz();  // "%@ Mhz"
QString numberOfProcessors();        // "%@ CPU(s)"
QString totalMemory();               // "%@ MB"
QString memoryAvailable();           // whole MB, "%d"; "0"
QString systemVersion();             // the distribution's name and version
QString VUK_Version();               // the application's version

// The same rules over given file contents, so that they can be checked on any machine.
QString cpuModelFromCpuinfo(const QByteArray& cpuinfo);
QString cpuMhzFromCpuinfo(const QByteArray& cpuinfo);
// The value of a "Key:  1234 kB" line of /proc/meminfo, in KiB; -1 without one.
qint64 meminfoKiB(const QByteArray& meminfo, const QByteArray& key);
// A KEY=value (or KEY="value") line of an os-release file; "" without one.
QString osReleaseValue(const QByteArray& osRelease, const QByteArray& key);

// Sizes and time.
std::uint32_t MSFToSectors(std::uint32_t minutes, std::uint32_t seconds, std::uint32_t frames);
QString bytesToString(std::uint64_t bytes);
// Free bytes of the file system holding `path` (its parent folder's when it does not exist).
std::uint64_t freeBytesAtPath(const QString& path);

// Open-panel filters. `filter` is the pop-up's text; the "GUIMsgs" text of "All" admits every
// kind the window takes. Protected AAC (.m4p) is never admitted: nothing here can read it.
bool filterTest(const QString& path, const QString& filter);
QStringList audioFilterTypes(const QString& filter);
bool filterVideoTest(const QString& path, const QString& filter);
QStringList videoFilterTypes(const QString& filter);
bool imageFilterTest(const QString& path);
bool audioNeedsConvert(const QString& path);

// The user's folders from the XDG user directories; "" when there is none.
QString getUserMusicDirectoryPath();
QString getUserDocumentDirectoryPath();  // ends with "/"

// Nothing on this system launches applications by creator code: always false.
bool LaunchApplicationByCreator(const QString& creator);

// The medium of a drive. The image pseudo-drives (references -1 and -2) have none.
bool unmountDiskWithRef(std::uint32_t ref, bool eject);
bool mountDiskWithRef(std::uint32_t ref);
// By device node ("/dev/sr0" or "sr0"); anything else is refused.
bool isDriveNodeName(const QString& name);
bool unmountDisk(const QString& name);
bool mountDisk(const QString& name);
bool unmountNEjectVolume(const QString& name);

}  // namespace quillion::ZEBUtils
