// SPDX-License-Identifier: GPL-2.0-or-later
// The per-user folders of the freedesktop base-directory rules, each with "quillion" appended.
// The variables are read at every call, so tests that point them at temporary folders take
// effect at once.
#pragma once

#include <QString>

namespace quillion {

QString userConfigDir();  // $XDG_CONFIG_HOME/quillion, default ~/.config/quillion
QString userDataDir();    // $XDG_DATA_HOME/quillion, default ~/.local/share/quillion
QString userStateDir();   // $XDG_STATE_HOME/quillion, default ~/.local/state/quillion

}  // namespace quillion
