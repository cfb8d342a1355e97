// SPDX-License-Identifier: GPL-2.0-or-later
// The decisions of data tree editing that need no widgets: which options a data-disc format
// leaves open, how long the ISO9660 volume texts may be, and when a drop on the outline
// offers to take over the earlier session of the destination's rewritable DVD.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion {

// What the format pop-up's choice does to the options drawer and its controls.
struct FormatControls {
  bool closeDrawer = false;
  bool optionsButtonEnabled = true;
  bool selectSessionTab = false;  // UDF has no ISO9660 texts: the drawer shows the sessions
  bool xaEnabled = true;
  bool xaForcedOff = false;  // the switch is also unchecked and the setting cleared
  bool appleExtEnabled = true;
  bool namesEnabled = true;
  bool dvdVideo = false;  // the layout is a DVD-Video layout
};
FormatControls formatControlsFor(std::uint32_t formatType, int layoutType);

// The four ISO9660 volume texts of the options drawer.
enum class IsoNameField { kVolumeSet, kSystem, kPublisher, kPreparer };
// The longest text, in characters, each field accepts.
std::size_t isoNameLimit(IsoNameField field);

// What a drop on the outline knows when it decides whether to offer the earlier session.
struct ImportOfferFacts {
  bool hasDisc = false;  // the destination is a real drive with a disc description
  std::uint8_t mediumClass = 0;
  std::uint8_t dvdKind = 0;
  std::uint32_t fileSystems = 0;  // kGDT_Found* bits
  std::uint8_t discStatus = 0;
  std::uint16_t trackCount = 0;
  std::uint32_t formatType = 0;
  bool sessionsRead = false;  // the window already read the disc's sessions
  bool sheetAttached = false;
};
// Only a rewritable DVD (DVD-RW, DVD+RW or DVD-RAM) that is not closed, holds tracks and
// exactly one ISO9660 or UDF file system, for a format that can take it over, and only once.
bool offersSessionImport(const ImportOfferFacts& facts);

}  // namespace quillion
