// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/data_edit_rules.h"

#include "burn/layout_codes.h"
#include "burn/options_state.h"
#include "quillion/GDT.h"

namespace quillion {

namespace {

struct IsoNameLimit {
  IsoNameField field;
  std::size_t characters;
};
// The lengths the primary volume descriptor has room for: 128 bytes for the volume set,
// publisher and preparer, 32 for the system.
constexpr IsoNameLimit kIsoNameLimits[] = {
    {IsoNameField::kVolumeSet, 128},
    {IsoNameField::kSystem, 32},
    {IsoNameField::kPublisher, 128},
    {IsoNameField::kPreparer, 128},
};

bool isHfsOnly(std::uint32_t format) {
  return format == 1 || format == kFormatHFSPlus;
}

bool isUdf(std::uint32_t format) {
  return format == 16 || format == 32 || format == 48;
}

bool isIsoWithHfs(std::uint32_t format) {
  switch (format) {
    case 257:
    case 258:
    case 513:
    case 514:
    case 769:
    case 770:
      return true;
    default:
      return false;
  }
}

}  // namespace

FormatControls formatControlsFor(std::uint32_t formatType, int layoutType) {
  FormatControls c;
  if (isHfsOnly(formatType)) {
    c.closeDrawer = true;
    c.optionsButtonEnabled = false;
  } else if (isUdf(formatType)) {
    c.selectSessionTab = true;
    c.xaEnabled = c.appleExtEnabled = c.namesEnabled = false;
  } else if (formatType == kFormatDVDVideo) {
    c.closeDrawer = true;
    c.optionsButtonEnabled = false;
    c.dvdVideo = true;
  } else if (isIsoWithHfs(formatType)) {
    // The HFS part carries the Apple names; XA sectors would hide it.
    c.xaEnabled = false;
    c.xaForcedOff = true;
  } else {
    c.xaEnabled = layoutType != kLayoutCDExtra;
  }
  return c;
}

std::size_t isoNameLimit(IsoNameField field) {
  for (const IsoNameLimit& l : kIsoNameLimits)
    if (l.field == field) return l.characters;
  return 0;
}

bool offersSessionImport(const ImportOfferFacts& f) {
  if (!f.hasDisc || f.mediumClass != kGDT_MediumDVDorBD) return false;
  if (f.dvdKind != kDvdMinusRW && f.dvdKind != kDvdPlusRW && f.dvdKind != kDvdRAM) return false;
  if (f.fileSystems != kGDT_FoundISO && f.fileSystems != kGDT_FoundUDF) return false;
  if (f.discStatus == kGDT_DiscClosed) return false;
  if (isHfsOnly(f.formatType) || f.formatType == kFormatDVDVideo) return false;
  return f.trackCount > 0 && !f.sessionsRead && !f.sheetAttached;
}

}  // namespace quillion
