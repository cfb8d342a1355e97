// SPDX-License-Identifier: GPL-2.0-or-later
// What sets one kind of layout window apart: its names, layout kind code, burn defaults,
// views and the groups of layout-file keys its window saves. One row per document type.
#pragma once

namespace quillion {

// Groups of layout-file keys that a kind's window writes and reads.
enum LayoutKeyGroup : unsigned {
  kKeysDestination = 1u << 0,     // destination drive, image paths
  kKeysSource = 1u << 1,          // source drive and image of a disc copy
  kKeysTree = 1u << 2,            // "FSTree Map"
  kKeysList = 1u << 3,            // "FSList Map"
  kKeysTitleAndCdText = 1u << 4,  // "Title", "CD Text"
  kKeysDataFilter = 1u << 5,      // "Data Filter Key"
  kKeysIsoOptions = 1u << 6,      // ISO9660 names, "Apple Extension", "Data File Format"
  kKeysCdRomXA = 1u << 7,         // "CDROM XA"
  kKeysDiscSpan = 1u << 8,        // "Enable Disc Span Key"
};

// The layout views a kind's window has; a window without one leaves it null.
enum LayoutViewSet : unsigned {
  kDataLayoutView = 1u << 0,   // outline of a data tree
  kAudioLayoutView = 1u << 1,  // table of audio tracks
  kVcdLayoutView = 1u << 2,    // table of movies
};

struct LayoutKind {
  const char* typeName;         // the document type name, e.g. "Data CD"
  const char* documentClass;    // e.g. "DataDoc"
  const char* controllerClass;  // e.g. "DataWinCtlr"
  const char* windowFile;       // the window's name, after the document class
  int layoutType;               // currentLayoutType
  unsigned formatType;          // initial data-disc format code, 0 when the kind has none
  bool useSAO;
  bool useCDXAFormat;
  const char* titleKey;   // "GUIMsgs" key of the window title's first part
  const char* extension;  // file extension of saved layouts
  unsigned views;         // LayoutViewSet
  unsigned keyGroups;     // LayoutKeyGroup
};

}  // namespace quillion
