// SPDX-License-Identifier: GPL-2.0-or-later
// CDImageFile: writes and reads the native disc image file (a 93,774-byte header describing
// up to 99 sessions and 99 tracks, then the tracks' data and an optional raw CD-Text block),
// and, in ISO mode, writes a plain ISO image: one track's data and nothing else.
//
// Writing: Open(path, true); per session WriteCDTextRawData when it brings CD-Text,
// NewSession, per track NewTrack, WriteData as blocks arrive, CloseTrack; CloseSession; Close.
// The header on disk is complete only after Close; destroying an image that was not closed
// leaves the file without it.
//
// Reading: Open(path, false); CDImageInfo, GetSessionInfo, GetTrackInfo; OpenTrack then
// ReadData; GetCDTextRawData. A header is trusted only after its counts and every offset
// and length in it were checked against the file.
//
// Statuses: -1001 bad argument or calling order, -1371 open or create failed or the header is
// short, -1374 no room for another session or track (99 each, one track in ISO mode), -1375
// not allowed in this mode, -1376 not a native image (wrong magic, or a header that cannot
// describe the file), -1377 a read or write failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/wlt_format.h"
#include "quillion/status.h"

class CDImageFile {
 public:
  explicit CDImageFile(bool isoMode);
  ~CDImageFile();
  CDImageFile(const CDImageFile&) = delete;
  CDImageFile& operator=(const CDImageFile&) = delete;

  [[nodiscard]] EngineStatus Open(const char* path, bool forWriting);
  // Writing: stores the header (native mode), flushes and closes; any failure is -1377.
  [[nodiscard]] EngineStatus Close();

  // From the given record: session at once, marker, type, close disc and start block.
  [[nodiscard]] EngineStatus NewSession(const WLTSESSION& session);
  [[nodiscard]] EngineStatus CloseSession();
  // From the given record: type and the word after it, block size, track information record,
  // pregap and start block. Number and data offset are the image's.
  [[nodiscard]] EngineStatus NewTrack(const WLTTRACK& track);
  // Appends blocks x the current track's block size bytes.
  [[nodiscard]] EngineStatus WriteData(const void* buffer, std::uint32_t blocks);
  [[nodiscard]] EngineStatus CloseTrack();
  // Appends a raw CD-Text block at the end of the file (not while a track takes data). An ISO
  // image has no place for it: it is accepted and left out.
  [[nodiscard]] EngineStatus WriteCDTextRawData(const void* buffer, std::uint32_t length);

  EngineStatus CDImageInfo(std::uint16_t* sessions, std::uint16_t* tracks) const;
  // 1-based numbers.
  [[nodiscard]] EngineStatus GetSessionInfo(std::uint16_t number, WLTSESSION* out) const;
  [[nodiscard]] EngineStatus GetTrackInfo(std::uint16_t number, WLTTRACK* out) const;
  // The stored raw CD-Text block; empty when the image has none.
  [[nodiscard]] EngineStatus GetCDTextRawData(std::vector<std::uint8_t>& out) const;
  // Puts the read position at the track's first block; answers its block count (0 for an
  // unknown track or an image open for writing) and its block size.
  std::uint32_t OpenTrack(std::uint16_t number, std::uint32_t* blockSize);
  // Reads whole blocks of the track opened last, never past its end; answers how many (0 on
  // an error).
  std::uint32_t ReadData(void* buffer, std::uint32_t blocks);

 private:
  enum class Mode { Closed, Writing, Reading };

  [[nodiscard]] EngineStatus openForWriting(const char* path);
  [[nodiscard]] EngineStatus openForReading(const char* path);
  [[nodiscard]] EngineStatus writeAt(std::uint64_t offset, const void* data, std::uint64_t length);
  void closeFile();

  const bool isoMode_;
  Mode mode_ = Mode::Closed;
  int fd_ = -1;
  WltHeader header_;
  std::uint64_t fileEnd_ = 0;    // writing: where the next appended byte goes
  bool trackTakesData_ = false;  // writing: between NewTrack and CloseTrack
  int openSession_ = -1;         // writing: index of the session NewSession began
  // Reading: the track opened last and the read position in it.
  int readTrack_ = -1;
  std::uint64_t readPosition_ = 0;
};
