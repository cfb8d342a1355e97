// SPDX-License-Identifier: GPL-2.0-or-later
// Playlists exported by a music library, read into the tracks of a new audio layout: a
// tab-separated text export (columns "Name", "Artist", "Location"; only CR ends a line) or
// the library's XML property list (the first playlist's items, in order).
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "layout/playlist.h"

namespace quillion {

// The mounted volumes a colon path may name, by the name a library gives them.
struct NamedVolume {
  QString name;        // "Macintosh HD", "Backup"
  QString mountPoint;  // "/", "/media/user/Backup"
};

// A colon path ("Disk:Music:a.mp3") as a local path. The first part names a volume: the root
// volume's name gives "/Music/a.mp3", another volume's name is replaced by its mount point;
// a name no volume has gives nothing (the track is left out).
std::optional<QString> convertColonPath(const QString& colonPath,
                                        const std::vector<NamedVolume>& volumes);

// nullopt when the file is no playlist (a needed column or key is missing). Rows whose name
// or location was never read are left out.
std::optional<Playlist> parseTXTPlaylist(const QString& text,
                                         const std::vector<NamedVolume>& volumes);
std::optional<Playlist> parseXMLPlaylist(const QByteArray& xml);

// The volumes of this machine: "/" under the name the root file system's label or "/", and
// every mount under its last path component.
std::vector<NamedVolume> mountedVolumes();

}  // namespace quillion
