// SPDX-License-Identifier: GPL-2.0-or-later
// BinCue_Parser: reads a cue sheet and the one binary data file it names, and describes the
// session they hold (BinQ_Session). The data file is the FILE line's name, relative to the
// cue's folder; when no such file exists, the file beside the cue with the extension "bin".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/cue_sheet.h"

class BinCue_Parser {
 public:
  BinCue_Parser() = default;
  BinCue_Parser(const BinCue_Parser&) = delete;
  BinCue_Parser& operator=(const BinCue_Parser&) = delete;
  virtual ~BinCue_Parser();

  // Parses `cuePath`; the status of parse.
  virtual EngineStatus init(const char* cuePath);
  // Forgets the result; answers 1.
  virtual int term();
  // A copy of the BinQ_Session bytes in a new malloc'd block the caller frees. kErrBadArgument
  // for a null pointer, kErrCueParse when nothing was parsed, kErrOutOfMemory.
  virtual EngineStatus getSessionInfo(std::uint8_t** result);
  virtual int stringToLBA(const char* text, std::uint32_t* blocks);
  // kNoErr; kErrBadArgument for a null or empty path; kErrCueParse for a cue that cannot be
  // read or is malformed; kErrCueData when the data file is missing, empty or too short.
  virtual EngineStatus parse(const char* cuePath);

  // The parsed session and the data file it lies in; null and empty before a good parse.
  const quillion::cue::BinQ_Info* info() const { return info_ ? &*info_ : nullptr; }
  const std::string& dataFilePath() const { return dataFile_; }

 private:
  std::optional<quillion::cue::BinQ_Info> info_;
  std::string dataFile_;
};
