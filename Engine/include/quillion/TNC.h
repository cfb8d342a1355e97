// SPDX-License-Identifier: GPL-2.0-or-later
// Earlier sessions of a disc: which of them carry an ISO9660 or UDF volume, and the tree of
// import items (flag bit 7, no local file, located by their blocks on the disc) of one of
// them, so that a new session can write them again by reference. Each call holds the drive
// exclusively while it runs.
//
// Everything read from the disc is untrusted: a damaged directory (a record or descriptor
// that does not fit its block, an extent past the medium, a directory that holds itself or
// nests too deep, a directory too large to be real) ends the import with -1361 and no tree.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "quillion/status.h"

class FS_Tree;

// Bits of TNC_ISO9660Session::flags.
inline constexpr std::uint16_t kTNC_ISO9660Volume = 1u
                                                    << 0;  // a primary or supplementary descriptor
inline constexpr std::uint16_t kTNC_UDFVolume = 1u << 8;   // imported as UDF

struct TNC_ISO9660Session {
  std::uint8_t sessionNumber;  // 1-based
  std::uint8_t dataMode;       // 1 (Mode 1, every DVD or BD session) or 2 (Mode 2)
  std::uint8_t firstTrack;
  std::uint16_t flags;
  std::uint32_t udfPartitionStart;  // UDF sessions: the partition's first block
  std::uint32_t startLBA;           // first block of the session's first track
  std::uint32_t trackSize;          // its size in blocks
  std::tm date;                     // creation or recording date of the volume
  char volumeName[257];             // UTF-8, terminated
  std::uint32_t drive;
};

// An entry the import could not take as it stood on the disc: kept under another name, or
// left out because it cannot be written again by reference.
struct TNC_ImportNote {
  enum Kind : std::uint8_t {
    kRenamed,     // its name clashed (ignoring case) with a sibling; `newName` is what it got
    kFragmented,  // its data lies in extents that do not follow each other
    kEmbedded,    // its data is kept inside its file entry, not in blocks of its own
  };
  Kind kind;
  std::string path;  // as on the disc, from the volume's root
  std::string newName;
};

// The sessions with a volume, in session order. The array is the caller's (free()); a blank
// disc or one without sessions gives count 0 and a null array. -1001 for a zero drive or a
// null output; a failed READ DISC INFORMATION or READ TOC answers its own status; -1002 when
// the array cannot be made. A session that cannot be read is left out.
[[nodiscard]] EngineStatus TNC_GetValidISOSessionInfo(std::uint32_t drive,
                                                      TNC_ISO9660Session** sessions,
                                                      std::uint16_t* count);

// The import tree of a session (the caller's): read as UDF when kTNC_UDFVolume is set, else
// as ISO9660. -1001 for a null session or output. `notes`, when given, receives what was
// renamed or left out.
[[nodiscard]] EngineStatus TNC_ISO9660SessionToFSTree(const TNC_ISO9660Session* session,
                                                      FS_Tree** tree,
                                                      std::vector<TNC_ImportNote>* notes = nullptr);
// The same for UDF sessions only: -1001 when kTNC_UDFVolume is clear.
[[nodiscard]] EngineStatus TNC_UDFSessionToFSTree(const TNC_ISO9660Session* session, FS_Tree** tree,
                                                  std::vector<TNC_ImportNote>* notes = nullptr);

// The readers behind them, from a session's start block and data mode. The root of the tree
// is a folder with flag bit 7. ISO9660: -1361 when the session has no ISO9660 volume. UDF:
// status 0 and no tree when the session has no UDF file set.
[[nodiscard]] EngineStatus iso9660TrackToFSTree(std::uint32_t drive, std::uint32_t start,
                                                std::uint8_t dataMode, FS_Tree** tree,
                                                std::vector<TNC_ImportNote>* notes = nullptr);
[[nodiscard]] EngineStatus UDFTrackToFSTree(std::uint32_t drive, std::uint32_t start,
                                            std::uint8_t dataMode, FS_Tree** tree,
                                            std::vector<TNC_ImportNote>* notes = nullptr);
