// SPDX-License-Identifier: GPL-2.0-or-later
// Where the application's temporary files go: one folder of this process on each writable
// volume the user allows, chosen by free space per request.
//
// Several instances of the application may run at once. Each keeps its files in a folder of
// its own, <base>/<pid>.<start time>.XXXXXX, made with mkdtemp (mode 0700) inside the shared
// base folder named at construction. An instance removes only its own folder, and the folders
// of processes that no longer run; files are created with mkstemp or O_EXCL, never by testing
// a name first.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillion {

class Defaults;

struct VolumeSpace {
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;
};

class TempFolderMgr {
 public:
  // What the manager reads from the system; tests give their own.
  struct Environment {
    QByteArray mountInfo;  // the text of /proc/self/mountinfo
    QString cacheHome;     // $XDG_CACHE_HOME (or ~/.cache): the home volume's temporary place
    std::function<std::optional<VolumeSpace>(const QString& path)> space;  // statvfs
    std::function<bool(const QString& path)> writable;                     // access(W_OK)
  };
  static Environment systemEnvironment();

  // The base folder name is shared by every instance; the unselected-volume list is read
  // from `defaults`. Stale folders of processes that are gone are removed.
  TempFolderMgr(const QString& folderName, Defaults& defaults,
                Environment environment = systemEnvironment());
  ~TempFolderMgr();  // removes this process's folders
  TempFolderMgr(const TempFolderMgr&) = delete;
  TempFolderMgr& operator=(const TempFolderMgr&) = delete;

  // Volume identifiers count from 1 in mount-table order, the home volume first; 0 is never
  // valid.
  std::vector<int> availableVolumes() const;
  QString volumeName(int vid) const;  // the mount point; "" for an unknown identifier
  std::uint64_t freeSpaceInBytes(int vid) const;
  std::uint64_t totalSpaceInBytes(int vid) const;
  bool isVolumeSelected(int vid) const;
  void markVolumeWithVID(int vid, bool select);
  void markAllVolumes(bool select);
  QStringList unselectedVolumesByName() const;
  // Unselects the named volumes; when none is left selected, the first is selected again.
  void updateVolumesWithUnselectedArray(const QStringList& names);

  // The shared base folder of a volume, and this process's folder inside it (made on demand;
  // "" when it cannot be made).
  QString generateTempFolderPath(int vid) const;
  QString getTempFolderPathByVID(int vid);
  void removeAllTempFolders();  // this process's folders only

  // An empty new file on the first selected volume with room for `size` bytes plus 512 KB:
  // a random name, or `desiredName` inside a new random sub-folder. "" when no volume can
  // take it.
  QString getTempFilePathBySize(std::uint64_t size, const QString& desiredName = QString());

  // Whether `path` lies inside a temporary folder of this application (any instance's).
  bool isTemporaryPath(const QString& path) const;

  // Removes the folders in `base` whose owner process has ended. Answers how many.
  static int removeStaleFolders(const QString& base);

 private:
  struct Volume {
    int vid;
    QString mountPoint;
    QString base;       // the shared base folder on this volume
    QString ownFolder;  // this process's folder, once made
    bool selected = true;
  };
  Volume* find(int vid);
  const Volume* find(int vid) const;
  void refresh();

  QString folderName_;
  Environment env_;
  std::vector<Volume> volumes_;
};

// This process's folder prefix, "<pid>.<start time>.", which tells a live owner from a pid
// reused by another process.
QString tempFolderOwnerTag();

}  // namespace quillion
