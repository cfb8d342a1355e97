// SPDX-License-Identifier: GPL-2.0-or-later
// The directories of one ISO9660 or Joliet tree in breadth-first order, with every child
// named. The queue order is the order of the path table and of the directory extents; the
// children's order is the order of their records.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "quillion/CS.h"
#include "quillion/status.h"

class FS_Node;

namespace quillion::iso {

inline constexpr std::uint32_t kSectorBytes = 2048;
// A clash is settled by a number worked into the name. The first 999 numbers are decimal
// in both forms; after them a level-1 name takes a '~' and a serial in base 36 that widens
// over its 8 characters, and a Joliet name goes on in decimal up to 7 digits, so any folder
// the format can hold gets unique names.
inline constexpr std::uint32_t kDecimalNames = 1000;
inline constexpr std::uint32_t kJolietNumbers = 10'000'000;

// A child whose name was read otherwise than as given, for the burn log.
struct IsoNameNote {
  FS_Node* node = nullptr;
  std::string readAs;  // the title as the disc shows it (UTF-8)
};

struct IsoChild {
  FS_Node* node = nullptr;
  std::string identifier;  // as on disc: d-characters (";1" included), or UTF-16BE
};

}  // namespace quillion::iso

// One directory of a queue.
struct isoDirData {
  std::uint32_t parent = 1;      // 1-based queue position of the parent; 1 for the root
  std::uint32_t firstBlock = 0;  // relative to the session start
  std::uint32_t blocks = 0;
  FS_Node* node = nullptr;
  std::string identifier;  // its name in its parent, for the path table; empty for the root
  std::vector<quillion::iso::IsoChild> children;  // in record order
};

namespace quillion::iso {

struct IsoDirQueue {
  std::deque<isoDirData> dirs;
  std::unordered_map<const FS_Node*, std::uint32_t> position;  // node -> index in dirs

  void clear();
  const isoDirData* find(const FS_Node* node) const;
};

// How the children of one directory are named: ISO9660 level-1 names, or Joliet names.
struct IsoNaming {
  bool joliet = false;
  bool versionSuffix = false;    // ISO9660 file identifiers end in ";1"
  CS_UCRef converter = nullptr;  // Joliet: titles (UTF-8) to UTF-16
};

// Names every child, folders and files alike (empty files included). A Joliet title that
// is not valid UTF-8 is read as Latin-1 and listed in `notes` (when given).
// kErrProducerName, with `problem` saying why, when a title is empty or no unique name
// is left.
[[nodiscard]] EngineStatus nameChildren(const FS_Node& dir, const IsoNaming& naming,
                                        std::vector<IsoChild>& out, std::string& problem,
                                        std::vector<IsoNameNote>* notes = nullptr);

// Breadth first from `root`. kErrProducerTooManyFiles when there are more directories
// than `maxDirectories` (the path table numbers parents in 16 bits).
[[nodiscard]] EngineStatus BuildDirQueue(FS_Node* root, const IsoNaming& naming,
                                         std::uint32_t maxDirectories, IsoDirQueue& queue,
                                         std::string& problem,
                                         std::vector<IsoNameNote>* notes = nullptr);

}  // namespace quillion::iso
