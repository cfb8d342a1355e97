// SPDX-License-Identifier: GPL-2.0-or-later
// The disc label export offered after a successful burn: a tab-separated text that describes
// the layout (disc title and date, or the tracks and their durations), written to a file the
// user chose and then handed to the labelling application.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

#include "quillion/FS.h"

namespace quillion {

struct LabelTrack {
  QString title;
  std::uint32_t lengthSeconds = 0;
};

// What the export needs of a layout, read from its tree and track list by the window.
struct LabelLayout {
  int layoutType = 0;  // currentLayoutType
  QString discTitle;
  std::tm created{};  // the disc's creation date
  std::vector<LabelTrack> tracks;
};

// The disc title and creation date of a data tree, and the tracks of an audio list (their
// lengths from the tracks' AudioNodeInfo records); null tree or list give nothing.
void fillLabelDisc(LabelLayout& layout, FS_Tree* tree);
void fillLabelTracks(LabelLayout& layout, FS_List* list);

// The file's text for the layout's kind: UTF-8, fields separated by TAB, every line ending
// with CR. Kinds without a label (Video CD, Super Video CD, live audio...) give nothing.
QByteArray labelExportText(const LabelLayout& layout);
// The 24 characters of the C library's date text ("Wed Jun 30 21:49:08 1993"), always in
// English, without the line feed that text ends with.
QByteArray labelDateText(const std::tm& date);
// Minutes, ":" and two-digit seconds.
QString labelDurationText(std::uint32_t seconds);

// Opens the exported file in the labelling application; false when none could be started.
using LabelLauncher = std::function<bool(const QString& exportPath)>;
// The desktop's handler for the file (xdg-open).
LabelLauncher desktopLabelLauncher();

enum class LabelExportResult { Done, WriteFailed, LaunchFailed };

// Replaces the file at `path` with the layout's text, then launches the labelling
// application on it; a file that cannot be written is not handed on.
LabelExportResult exportLabel(const QString& path, const LabelLayout& layout,
                              const LabelLauncher& launch);

}  // namespace quillion
