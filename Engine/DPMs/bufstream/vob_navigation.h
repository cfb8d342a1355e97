// SPDX-License-Identifier: GPL-2.0-or-later
// DVD navigation tables of the file writer: what a multiplexer tells it about every video
// object unit (VOBU) it writes, and the pass that fills the search information of each
// navigation pack once the file is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillion::bufstream_detail {

struct VobuEntry {
  std::uint32_t sector = 0;    // of its navigation pack, in its part file
  std::uint32_t duration = 0;  // 90 kHz
  std::uint32_t flags = 0;     // bit 0: the unit carries video
};

struct VobPart {
  std::string name;
  std::uint32_t firstVobu = 0;
  std::uint32_t vobuCount = 0;
  std::uint32_t endValue = 0;  // of notice 0xF4000
};

struct VobNavigation {
  static constexpr std::size_t kMaxVobus = 50400;
  static constexpr std::size_t kMaxAudioTables = 8;
  static constexpr std::size_t kMaxSubpictureTables = 32;

  std::vector<VobuEntry> vobus;
  std::vector<std::vector<std::int32_t>> audio;
  std::vector<std::vector<std::int32_t>> subpicture;
  std::vector<std::uint32_t> cells;  // VOBU index at which a cell starts
  std::vector<VobPart> parts;
  bool skip = false;           // the multiplexer gave up: nothing is patched
  bool highlightEnds = false;  // notice 0xE0020
  bool lastPackKnown = false;
  std::uint32_t lastPack = 0;  // notice 0xE0203
};

// Handles the navigation notices; `handled` tells whether `id` was one of them. The answer
// is the notice's (a table number for 0xE0101 and 0xE0201).
std::int32_t vobNavigationNotice(VobNavigation*& nav, const std::string& fileName,
                                 std::uint32_t offset, std::uint32_t id, const void* data,
                                 std::uint32_t size, bool& handled);
// The writer began the part file `fileName`.
void vobNavigationSplit(VobNavigation* nav, const std::string& fileName);
// Fills the search information of every navigation pack of every part file.
void doVOBNavInfo(const VobNavigation& nav);

// The search information of one unit, computed from the tables (exposed for tests).
void fillSearchInfo(const VobNavigation& nav, std::uint32_t part, std::uint32_t index,
                    std::uint8_t* pack);

}  // namespace quillion::bufstream_detail
