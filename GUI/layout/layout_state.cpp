// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/layout_state.h"

#include "layout/layout_kind.h"

namespace quillion {

void writeLayoutState(const LayoutState& s, unsigned groups, LayoutFileIO& file) {
  if (groups & kKeysDestination) {
    const LayoutDevice& d = s.destination;
    file.SetDstDevice(d.vendor, d.model, d.version, d.imagePath);
    file.SetDstISOImagePath(s.destinationIsoPath);
  }
  if (groups & kKeysSource) {
    const LayoutDevice& d = s.source;
    file.SetSrcDevice(d.vendor, d.model, d.version, d.imagePath);
  }
  if (groups & kKeysTree) file.SetFSTreeMap(s.treeMap);
  if (groups & kKeysList) file.SetFSListMap(s.listMap);
  if (groups & kKeysTitleAndCdText) {
    file.SetTitle(s.title);
    file.SetCDTextEntries(s.cdText);
  }
  if (groups & kKeysDataFilter) file.setDataFilterIndex(s.dataFilterIndex);
  if (groups & kKeysIsoOptions) {
    file.SetVolumeSetName(s.volumeSetName);
    file.SetSystemName(s.systemName);
    file.SetPublisherName(s.publisherName);
    file.SetPreparerName(s.preparerName);
    file.SetAppendAppleExtension(s.appendAppleExtension);
    file.SetFileFormat(s.fileFormat);
  }
  if (groups & kKeysCdRomXA) file.SetWriteXA(s.writeXA);
  if (groups & kKeysDiscSpan) file.SetDiscSpan(s.discSpan);
}

void readLayoutState(const LayoutFileIO& file, unsigned groups, LayoutState& s) {
  if (groups & kKeysDestination) {
    s.destination = {file.DstVendor(), file.DstModel(), file.DstVersion(), file.DstCDImagePath()};
    s.destinationIsoPath = file.DstISOImagePath();
  }
  if (groups & kKeysSource)
    s.source = {file.SrcVendor(), file.SrcModel(), file.SrcVersion(), file.SrcCDImagePath()};
  if (groups & kKeysTree) s.treeMap = file.FSTreeMap();
  if (groups & kKeysList) s.listMap = file.FSListMap();
  if (groups & kKeysTitleAndCdText) {
    s.title = file.Title();
    s.cdText = file.CdTextEntries();
  }
  if (groups & kKeysDataFilter) s.dataFilterIndex = file.dataFilterIndex();
  if (groups & kKeysIsoOptions) {
    s.volumeSetName = file.VolumeSetName();
    s.systemName = file.SystemName();
    s.publisherName = file.PublisherName();
    s.preparerName = file.PreparerName();
    s.appendAppleExtension = file.appendAppleExtension();
    s.fileFormat = file.FileFormat();
  }
  if (groups & kKeysCdRomXA) s.writeXA = file.writeXA();
  if (groups & kKeysDiscSpan) s.discSpan = file.discSpan();
}

}  // namespace quillion
