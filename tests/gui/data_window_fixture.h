// SPDX-License-Identifier: GPL-2.0-or-later
// A data window made as a "Data CD" document makes it, with the real engine, emulated
// drives on a virtual clock, manual timers and an executor that ends each pass by
// construction: files are dropped on its outline through the model, and it burns headless
// to the ISO image writer or to an emulated recorder.
#pragma once

#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QPushButton;

#include "documents/data_win_ctlr.h"
#include "window_burn_fixture.h"

namespace quillion::test {

// Blank capacities in blocks of the discs the window tests plug in: a 80-minute CD-R, a
// single-layer DVD and a single-layer BD.
inline constexpr std::uint32_t kCdBlocks = 359'846;
inline constexpr std::uint32_t kDvdBlocks = 2'295'104;
inline constexpr std::uint32_t kBdBlocks = 12'219'392;

class DataWindowTest : public WindowBurnTest<DataWinCtlr> {
 protected:
  // A recorder of `preset` with a blank disc of `profile`; the device list and the window
  // follow when `start` (call startDevices() otherwise once every drive is in).
  std::shared_ptr<emu::EmulatedDrive> plugBlank(const std::string& name, const std::string& preset,
                                                std::uint16_t profile, std::uint32_t capacity);
  void startDevices();
  // The window, loading `layout` as a document opening it would.
  void makeWindow(const LayoutFileIO* layout = nullptr);

  // Drops the paths on the disc row as the desktop would (text/uri-list, copy).
  bool dropOnDisc(const std::vector<std::filesystem::path>& paths);
  // Drops everything directly inside `folder`, so the disc holds what the folder holds.
  bool dropContentsOf(const std::filesystem::path& folder);

  // Burn to the ISO image writer: the file check and sizing, the one-second wait and the
  // run to its end, where the result sheet shows. True when it shows a completed burn.
  bool burnToIsoImage(const std::filesystem::path& image);
  // Burn to a recorder: Burn, the options sheet's burn-disc button, the run to its result.
  bool burnToDrive(std::uint32_t ref);
  // A first session of what lies directly in `folder`, burned from the window to `ref` and
  // closed with the disc or left open for more; then a new window and device list find the
  // disc as the burn left it, still in its drive (the result's OK would eject it).
  void burnFirstSession(std::uint32_t ref, const std::filesystem::path& folder, bool closeDisc);
  // The result sheet's OK (which ejects a recorder's disc).
  void dismissResult();

  // The titles of the rows under the disc row, as the outline shows them.
  QStringList discRows() const;

  // The text of the sheet now attached, all its labels joined; empty without one.
  QString sheetText() const;
  void dismissSheet();
  // The button of the sheet now attached whose title is the "GUIMsgs" text of `key`.
  QPushButton* sheetButton(const char* key) const;
};

// Writes the files (relative paths, folders made as needed) with the given contents.
void writeTree(const std::filesystem::path& root, const std::map<std::string, std::string>& files);

}  // namespace quillion::test
