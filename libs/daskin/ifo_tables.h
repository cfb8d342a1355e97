// SPDX-License-Identifier: GPL-2.0-or-later
// The DVD information file (IFO) as Daskin needs it: which kind of file it is, the streams
// its attribute and control tables name, and the cells of a chosen title, menu and angle.
// Pure reading of bytes at hand; every pointer and count is checked against the file's size.
#pragma once

#include <cstdint>

#include "context.h"

namespace quillion::daskin {

enum class IfoStatus { Ok, Unknown, NoVmgm, NoVtsm, NoVtss, NoVts, Recording, Damaged };
// The message an open reports for a status other than Ok.
const char* ifoMessage(IfoStatus status);

struct IfoStream {
  std::uint32_t kind = 0;
  std::uint8_t id = 0;
  std::uint8_t sub = 0;
};

enum IfoKind : int { kVideoManager = 1, kTitleSetMenu = 2, kTitleSet = 3, kRecordingManager = 4 };

struct IfoFacts {
  int kind = 0;
  int titles = 1;
  IfoStream streams[1 + 8 + 32];
  int streamCount = 0;
  std::uint64_t lastVobuSector = 0;  // title sets: the last entry of the VOBU address map
  std::uint32_t firstChain = 0;      // the program chain whose control tables name the streams
};

// Kind, streams and the title count. `menu` turns a title set into its menu.
IfoStatus readIfoFacts(const std::uint8_t* ifo, std::uint32_t size, bool menu, IfoFacts& out);

struct CellChoice {
  std::int32_t title = 1;  // title sets
  std::int32_t unit = 1;   // menus: the language unit, from 1
  std::int32_t angle = 1;
};

// The chosen cells in play order, with duration, byte range and previous last VOBU filled
// (start times, offsets and file indexes are the caller's). With a null `out` the cells are
// only counted. Answers the count, or -1 when the tables are damaged; `angles` is raised
// as the angle blocks are walked.
int selectCells(const std::uint8_t* ifo, std::uint32_t size, const IfoFacts& facts,
                const CellChoice& choice, DvdCell* out, int capacity, int& angles);

}  // namespace quillion::daskin
