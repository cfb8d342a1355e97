// SPDX-License-Identifier: GPL-2.0-or-later
// A playlist imported from a music library, handed to a new audio layout.
#pragma once

#include <QString>
#include <vector>

namespace quillion {

struct PlaylistEntry {
  QString name;
  QString location;  // a local path
  QString artist;    // empty when the library has none
};

using Playlist = std::vector<PlaylistEntry>;

}  // namespace quillion
