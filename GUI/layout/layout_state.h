// SPDX-License-Identifier: GPL-2.0-or-later
// The values a layout window keeps in its layout file, as plain data. The content tree and
// the track lists are held in their serialised form; the layout models that edit them turn
// them into trees and lists and back.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "layout/layout_file_io.h"

namespace quillion {

// A drive named by vendor, model and firmware revision, or an image file by its path.
struct LayoutDevice {
  QString vendor;
  QString model;
  QString version;
  QString imagePath;
  bool operator==(const LayoutDevice&) const = default;
};

struct LayoutState {
  LayoutDevice destination;
  QString destinationIsoPath;  // the ISO image writer's file
  LayoutDevice source;
  QString title;
  QByteArray treeMap;  // "FSTree Map"
  QByteArray listMap;  // "FSList Map"
  std::optional<LayoutCdText> cdText;
  int dataFilterIndex = 0;
  bool discSpan = false;
  bool writeXA = false;
  bool appendAppleExtension = true;
  QString volumeSetName;
  QString systemName;
  QString publisherName;
  QString preparerName;
  int fileFormat = 2;
  bool operator==(const LayoutState&) const = default;
};

// Writes the keys of `groups` (LayoutKeyGroup bits) from `state` into `file`.
void writeLayoutState(const LayoutState& state, unsigned groups, LayoutFileIO& file);
// Reads the keys of `groups` from `file` into `state`, leaving other fields as they are.
void readLayoutState(const LayoutFileIO& file, unsigned groups, LayoutState& state);

}  // namespace quillion
