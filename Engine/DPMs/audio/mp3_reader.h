// SPDX-License-Identifier: GPL-2.0-or-later
// MP3Reader: decodes any audio file the FFmpeg libraries can read (MP3, AAC, FLAC, AIFF, WAV
// and more) into CD audio: 16-bit signed stereo at 44,100 Hz in the machine's byte order,
// handed out in blocks (2352 bytes by default). It is the only source of audio tracks, and
// the interface uses it through the flat functions below for conversions, durations and
// volume balancing.
//
// The frame count is exact: the samples the decoder delivers once encoder delay and padding
// are removed, counted by a decode pass when the file is opened, so a track neither loses its
// tail nor gains silence. Encrypted files are refused.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillion/status.h"

class MP3Reader {
 public:
  static constexpr std::uint32_t kCDBlockBytes = 2352;

  // Opens the file at once; isValid() tells whether that worked and openStatus() why not.
  explicit MP3Reader(std::string path);
  ~MP3Reader();
  MP3Reader(const MP3Reader&) = delete;
  MP3Reader& operator=(const MP3Reader&) = delete;

  // kNoErr at once when already open. kErrFileAccess when the file cannot be read,
  // kErrNoAudioStream when it holds no audio (or no samples), kErrNotSupported when its audio
  // is encrypted or has no decoder.
  EngineStatus OpenMP3();
  EngineStatus CloseMP3();

  bool isValid() const { return opened_; }
  EngineStatus openStatus() const { return openStatus_; }
  std::uint32_t frameCount() const { return frameCount_; }
  std::uint32_t trackRate() const { return trackRate_; }
  std::uint32_t blockSize() const { return blockSize_; }
  void setBlockSize(std::uint32_t bytes) { blockSize_ = bytes; }
  bool isEndOfFile() const { return endOfSource_; }

  // Decodes up to count blocks; bytesGot is what was written (whole stereo frames). The end
  // flag is set once a call leaves nothing over. With byteCopy, each even-indexed byte is
  // copied over the byte after it.
  EngineStatus GetNextCDDABlock(std::uint32_t count, void* buffer, std::int32_t* bytesGot,
                                bool byteCopy);
  // Raw bytes of the source file from `offset`; kErrFileAccess when they are not all there.
  EngineStatus ReadBytes(std::uint32_t offset, std::uint32_t count, void* buffer) const;

  EngineStatus setOutPutFile(const char* path);
  // Writes the source file, read as a picture, to the output file as a BMP.
  EngineStatus exportImageAsBmp() const;

 private:
  struct Decoder;

  std::string path_;
  std::string outputPath_;
  std::unique_ptr<Decoder> decoder_;
  bool opened_ = false;
  bool endOfSource_ = false;
  EngineStatus openStatus_ = kNoErr;
  std::uint32_t blockSize_ = kCDBlockBytes;
  std::uint32_t frameCount_ = 0;
  std::uint32_t trackRate_ = 0;
};

// The flat interface. A null reader answers as a reader that could not open its file.
MP3Reader* initAudio(const char* path);  // the reader, even when opening failed
void termAudio(MP3Reader* reader);
bool isValidAudioFile(MP3Reader* reader);
EngineStatus OpenMP3(MP3Reader* reader);
EngineStatus CloseMP3(MP3Reader* reader);
std::uint32_t GetMP3FrameCount(MP3Reader* reader);
std::uint32_t GetMP3TrackRate(MP3Reader* reader);
std::uint32_t GetBlockSize(MP3Reader* reader);
void SetBlockSize(MP3Reader* reader, std::uint32_t bytes);
bool isEndOfFile(MP3Reader* reader);
EngineStatus GetNextCDDABlock(MP3Reader* reader, std::uint32_t count, void* buffer,
                              std::int32_t* bytesGot, bool byteCopy);
EngineStatus ReadBytes(MP3Reader* reader, std::uint32_t offset, std::uint32_t count, void* buffer);
EngineStatus setOutPutFile(MP3Reader* reader, const char* path);
EngineStatus QTGraph_ExportImageWithoutDialog(MP3Reader* reader);
// True when the decoding libraries at run time are at least those the engine was built with.
bool IsValidForCurVersion();
