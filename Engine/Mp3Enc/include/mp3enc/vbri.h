// SPDX-License-Identifier: GPL-2.0-or-later
// The VBRI header: one extra Layer III frame in front of a variable-bit-rate stream whose main
// data carries the stream's byte and frame counts and a seek table of frame positions. The
// builder is fed the 32-bit header of every frame produced and writes the header frame when
// asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillion::mp3enc {

// The fields of one frame header word, most significant byte first.
class CMp3Header {
 public:
  virtual ~CMp3Header() = default;
  // Parses a header word; false (and every field cleared) when it is not a Layer III header.
  bool Identify(std::uint32_t word);
  void ResetMembers();
  [[nodiscard]] int GetSamplesPerFrame() const;

  bool valid = false;
  std::uint32_t word = 0;
  int versionBits = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int layer = 0;
  int protection = 0;
  int bitrateIndex = 0;
  int rateIndex = 0;
  int padding = 0;
  int privateBit = 0;
  int mode = 0;
  int modeExtension = 0;
  int copyright = 0;
  int original = 0;
  int emphasis = 0;
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int channels = 0;
  std::int32_t sampleRate = 0;
  std::int32_t bitrate = 0;  // bit/s
  std::int32_t frameBits = 0;
  float durationMs = 0.0f;

 private:
  void SetMembers(std::uint32_t word);
  void CalcFrameLen();
};

// The seek table: at most 300 stored entries, shown as at most 200 evenly spaced ones.
class CToc {
 public:
  static constexpr int kCapacity = 301;
  static constexpr int GetMaximumValidEntries() { return 200; }
  void Enter(std::uint32_t position);
  void Finalize() {}
  [[nodiscard]] int GetNumValidEntries() const;
  [[nodiscard]] std::uint32_t GetEntry(int i) const;
  [[nodiscard]] int FramesPerEntry() const { return framesPerEntry_; }
  [[nodiscard]] int FramesEntered() const { return frames_; }

 private:
  int frames_ = 0;
  int count_ = 0;
  int framesPerEntry_ = 1;
  std::uint32_t entries_[kCapacity] = {};
  std::uint32_t last_ = 0;
};

class CVbri {
 public:
  static const std::uint8_t hdrTemplate[4];
  static const std::int32_t mpegBitrates[2][15];
  static constexpr int GetVbriOffset() { return 36; }

  void Init();
  // Takes one produced frame's header; its length in bytes goes to length. False when the word
  // is not a Layer III header, its length is not whole bytes, or no header frame size fits.
  bool ProcessOneHeader(std::uint32_t word, int* length);
  void SetInfo(int delayAdd, int quality);
  // Writes the header frame; false when no frame was seen or size is below GetLength().
  bool GetVBRIndexTable(std::uint8_t* buffer, std::size_t size, int* length) const;
  [[nodiscard]] int GetLength() const { return headerLength_; }

 private:
  void Enter(std::uint32_t position);
  void Write(std::uint8_t* buffer) const;
  static void WriteLong(std::uint8_t* at, std::uint32_t value);
  static void WriteShort(std::uint8_t* at, std::uint32_t value);

  std::unique_ptr<CToc> toc_;
  CMp3Header header_;
  int headerIndex_ = 15;  // not chosen yet
  int granules_ = 2;
  int headerLength_ = 0;
  int samplesPerFrame_ = 1152;
  int delay_ = 0;
  int quality_ = 0;
  int lastFrameBytes_ = 0;
  bool seenFirst_ = false;
  std::uint32_t firstWord_ = 0;
  std::uint32_t streamBytes_ = 0;  // header frame and every frame entered
};

// The plain functions the encoder handle uses.
[[nodiscard]] CVbri* Vbri();
void VbriSetInfo(CVbri* builder, int delayAdd, int quality);
// 1 when the header was taken, else 0.
int VbriProcessOneHeader(CVbri* builder, std::uint32_t word, int* length);
// 1 when the header frame was written; 0 when nothing was seen, length is null or size is
// below the header frame's length.
int VbriGetIndexTable(const CVbri* builder, std::uint8_t* buffer, std::size_t size, int* length);
void VbriDelete(CVbri* builder);

}  // namespace quillion::mp3enc
