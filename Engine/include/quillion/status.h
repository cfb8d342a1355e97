// SPDX-License-Identifier: GPL-2.0-or-later
// Engine status codes: every engine call answers a signed 16-bit status, 0 for success.
// The numbers are stable: the burn log, the error-text table "EngineErrorMsgs" and layout
// windows key on them, so never renumber one.
#pragma once

#include <cstdint>

using EngineStatus = std::int16_t;

enum EngineStatusCode : EngineStatus {
  kNoErr = 0,

  // Answers of the platform query family and the MMC utilities.
  kErrPlatformCannotServe = -1,  // caller falls back to the raw MMC command
  kErrUtilNoOutput = -2,         // an MMC utility has no output to give

  // General.
  kErrBadArgument = -1001,   // missing context, buffer or length; a reference that names nothing usable
  kErrOutOfMemory = -1002,   // also: a helper object could not be made
  kErrNotSupported = -1003,  // the operation does not apply to this object

  kErrATIPUnusable = -1104,  // the ATIP of a CD medium cannot be used for speeds

  // Burn process.
  kErrNoJob = -1121,             // no burn job with this handle
  kErrUnknownJobKind = -1122,    // the job code names no kind the engine prepares
  kErrPrepareFailed = -1123,     // the job has no blocks, or a producer could not be prepared
  kErrJobNotRunnable = -1124,    // no thread creator, or a bad destination count
  kErrSourceRead = -1129,        // the reader got no block from its producer or source
  kErrCancelled = -1130,         // the run was stopped before this destination had all its blocks
  kErrNoProducer = -1131,        // a session has no producer
  kErrDestinationOpen = -1132,   // the writer could not open its destination
  kErrSessionOpen = -1133,       // the session could not be opened
  kErrReserveTrack = -1134,      // RESERVE TRACK failed

  // Drive access.
  kErrNoDrive = -1171,           // no drive with this reference, or no command interface
  kErrCommandStart = -1175,      // the command could not be started, or access not given back
  kErrNoWritableAddress = -1176, // the medium takes no more data (complete disc, no valid NWA)
  kErrCheckCondition = -1177,    // the drive ended the command with CHECK CONDITION; sense beside it
  kErrExclusiveAccess = -1178,   // exclusive access to the drive could not be obtained
  kErrTransport = -1179,         // the platform could not run the command at all
  kErrDataRefused = -1191,       // the drive refused written data or the cue sheet

  // Producers.
  kErrProducerNoRoot = -1211,          // the tree has no root
  kErrProducerNoSource = -1212,        // nothing open to read from, or a missing header size
  kErrProducerTooManyFiles = -1213,    // more files than the file system can catalogue
  kErrProducerBlockSize = -1214,       // no allocation block size keeps the volume in bounds
  kErrProducerHeaderSize = -1215,      // a header of another size than the one set
  kErrProducerNoPath = -1216,          // a source path is missing
  kErrProducerIndexFull = -1217,       // an index node is full
  kErrProducerTableEnd = -1218,        // a location table ran out of entries
  kErrProducerFormat = -1219,          // the format code names no file system this producer writes
  kErrProducerName = -1220,            // a child no conversion can name, or no unique name found

  // Content tree.
  kErrTreeDuplicateTitle = -1271,  // a node with an equal title (ignoring ASCII case) exists
  kErrTreeNotChild = -1272,        // the node is not in its parent's map
  kErrTreeNoParent = -1273,        // the node has no parent and is not the root
  kErrTreeNoRoot = -1274,          // the tree has no root
  kErrTreeMoveNoParent = -1275,    // the node to move has no parent
  kErrTreeWalkStopped = -1276,     // a walk was stopped by its callback
  kErrTreeBadMove = -1277,         // the root cannot move; a folder cannot move into itself
  kErrTreeNotAFile = -1278,        // a device, FIFO or socket: nothing a disc can hold as a file

  kErrFileAccess = -1322,  // a file or fork could not be reached or opened

  kErrCacheEmpty = -1351,  // no free (or no filled) cache block at the moment
  kErrCacheState = -1352,  // the cache is not in a state for this call

  // Session import.
  kErrImportNoVolume = -1361,     // no usable volume descriptor
  kErrImportConverter = -1363,    // a name converter could not be made

  // Native image file.
  kErrImageOpen = -1371,       // the image file could not be opened, created or read
  kErrImageTrackCount = -1374, // no room for another track (or session)
  kErrImageMode = -1375,       // the operation is not allowed in the image's mode
  kErrImageMagic = -1376,      // not a native image file
  kErrImageWrite = -1377,      // a short write

  // Cue files.
  kErrCueParse = -1390,   // nothing parsed, or no track found
  kErrCueData = -1391,    // the data file of a cue sheet cannot be used

  // Audio file reader.
  kErrNoAudioStream = -2008,  // no audio to decode: no audio stream, not a media file, no samples

  // File Manager routines over our file references.
  kErrParam = -50,  // a file routine was given no output record
};

// The sense data of a failed drive command travels beside a status; it is declared with the
// drive-access API. Helpers here only classify the number itself.
constexpr bool engineSucceeded(EngineStatus s) noexcept { return s == kNoErr; }
