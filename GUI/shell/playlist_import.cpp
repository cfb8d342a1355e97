// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/playlist_import.h"

#include <plist/plist.h>

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QUrl>
#include <cstdlib>
#include <memory>

#include "shell/mount_table.h"

namespace quillion {

namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using OwnedPlist = std::unique_ptr<void, PlistFree>;

QString plistString(plist_t dict, const char* key) {
  plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(node, &value);
  const QString out = QString::fromUtf8(value);
  std::free(value);
  return out;
}

plist_t plistOfType(plist_t dict, const char* key, plist_type type) {
  plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
  return node && plist_get_node_type(node) == type ? node : nullptr;
}

// A "Track ID" as text, whatever number or text type the library used.
QString trackIdText(plist_t item) {
  plist_t id = item ? plist_dict_get_item(item, "Track ID") : nullptr;
  if (!id) return {};
  if (plist_get_node_type(id) == PLIST_UINT) {
    uint64_t v = 0;
    plist_get_uint_val(id, &v);
    return QString::number(v);
  }
  if (plist_get_node_type(id) == PLIST_STRING) {
    char* value = nullptr;
    plist_get_string_val(id, &value);
    const QString out = QString::fromUtf8(value);
    std::free(value);
    return out;
  }
  return {};
}

}  // namespace

std::optional<QString> convertColonPath(const QString& colonPath,
                                        const std::vector<NamedVolume>& volumes) {
  const QStringList parts = colonPath.split(':');
  if (parts.isEmpty() || parts.front().isEmpty()) return std::nullopt;
  const NamedVolume* volume = nullptr;
  for (const NamedVolume& v : volumes)
    if (v.name == parts.front()) volume = &v;
  if (!volume) return std::nullopt;
  QString path = volume->mountPoint == QLatin1String("/") ? QString() : volume->mountPoint;
  for (qsizetype i = 1; i < parts.size(); ++i) path += '/' + parts[i];
  return path.isEmpty() ? QStringLiteral("/") : path;
}

std::optional<Playlist> parseTXTPlaylist(const QString& text,
                                         const std::vector<NamedVolume>& volumes) {
  // Header: TAB ends a column title, CR ends the header.
  const qsizetype headerEnd = text.indexOf(QChar(13));
  if (headerEnd < 0) return std::nullopt;
  const QStringList titles = text.left(headerEnd).split(QChar(9));
  const qsizetype nameColumn = titles.indexOf(QStringLiteral("Name"));
  const qsizetype artistColumn = titles.indexOf(QStringLiteral("Artist"));
  const qsizetype locationColumn = titles.indexOf(QStringLiteral("Location"));
  if (nameColumn < 0 || locationColumn < 0) return std::nullopt;

  Playlist playlist;
  const QStringList rows = text.mid(headerEnd + 1).split(QChar(13));
  // Characters after the last CR are no row.
  for (qsizetype r = 0; r + 1 < rows.size(); ++r) {
    const QStringList fields = rows[r].split(QChar(9));
    // A field is read when a TAB ends it; the row's last field (ended by the CR) only when it
    // is the location.
    const auto field = [&](qsizetype column) -> std::optional<QString> {
      if (column < 0 || column >= fields.size()) return std::nullopt;
      if (column == fields.size() - 1 && column != locationColumn) return std::nullopt;
      return fields[column];
    };
    const auto name = field(nameColumn);
    const auto location = field(locationColumn);
    if (!name || !location || name->isEmpty() || location->isEmpty()) continue;
    const auto path = convertColonPath(*location, volumes);
    if (!path) continue;
    playlist.push_back({*name, *path, field(artistColumn).value_or(QString())});
  }
  return playlist;
}

std::optional<Playlist> parseXMLPlaylist(const QByteArray& xml) {
  if (xml.isEmpty() || xml.size() > (64 << 20)) return std::nullopt;
  plist_t raw = nullptr;
  plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &raw);
  OwnedPlist root(raw);
  if (!raw || plist_get_node_type(raw) != PLIST_DICT) return std::nullopt;
  plist_t tracks = plistOfType(raw, "Tracks", PLIST_DICT);
  plist_t playlists = plistOfType(raw, "Playlists", PLIST_ARRAY);
  if (!tracks || !playlists || plist_array_get_size(playlists) == 0) return std::nullopt;
  plist_t first = plist_array_get_item(playlists, 0);
  plist_t items = first && plist_get_node_type(first) == PLIST_DICT
                      ? plistOfType(first, "Playlist Items", PLIST_ARRAY)
                      : nullptr;
  if (!items) return std::nullopt;

  Playlist playlist;
  for (uint32_t i = 0; i < plist_array_get_size(items); ++i) {
    plist_t item = plist_array_get_item(items, i);
    if (!item || plist_get_node_type(item) != PLIST_DICT) continue;
    const QByteArray id = trackIdText(item).toUtf8();
    plist_t track = id.isEmpty() ? nullptr : plistOfType(tracks, id.constData(), PLIST_DICT);
    if (!track) continue;
    const QUrl url(plistString(track, "Location"));
    const QString name = plistString(track, "Name");
    if (name.isEmpty() || !url.isLocalFile()) continue;
    playlist.push_back({name, url.toLocalFile(), plistString(track, "Artist")});
  }
  return playlist;
}

std::vector<NamedVolume> mountedVolumes() {
  std::vector<NamedVolume> out;
  const QString rootName = QStorageInfo::root().displayName();
  out.push_back({rootName.isEmpty() ? QStringLiteral("/") : rootName, QStringLiteral("/")});
  QFile mounts(QStringLiteral("/proc/self/mountinfo"));
  if (!mounts.open(QIODevice::ReadOnly)) return out;
  for (const MountEntry& m : parseMountInfo(mounts.readAll())) {
    if (m.mountPoint == QLatin1String("/") || isPseudoFileSystem(m.fsType)) continue;
    out.push_back({QFileInfo(m.mountPoint).fileName(), m.mountPoint});
  }
  return out;
}

}  // namespace quillion
