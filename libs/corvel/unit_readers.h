// SPDX-License-Identifier: GPL-2.0-or-later
// File-mode unit readers: they scan an input's elementary stream (through its units reader)
// and hand out one access unit at a time with its time stamps.
#pragma once

#include <cstdint>

#include "access_unit.h"
#include "byte_scanner.h"
#include "h264.h"
#include "services.h"

struct bufstream;

namespace quillion::corvel {

// MPEG-1 and MPEG-2 video. Time stamps follow the field mode (0..7) taken from `pulldown`.
class VideoUnitReader {
 public:
  enum class Result { unit, end, broken };

  VideoUnitReader(bufstream* units, const VideoFacts& facts, std::int32_t pulldown,
                  const mpeg::Services& services);
  Result next(AccessUnit& unit);
  bool sawSequenceEnd() const { return sequenceEnd_; }
  // I pictures then tell where the Super Video CD scan information they carry lies.
  void findScanBlocks(bool on) { scanBlocks_ = on; }

 private:
  bool pictureCodingExtension(AccessUnit& unit, std::uint64_t& taken, bool& ended);
  void stamp(AccessUnit& unit);
  Result nextH264(AccessUnit& unit);
  // Up to `wanted` bytes from the read position; `got` says how many there are.
  const std::uint8_t* peekUpTo(std::uint32_t wanted, std::uint32_t& got);

  ByteScanner scanner_;
  const VideoFacts& facts_;
  const mpeg::Services& services_;
  std::int32_t fieldMode_;
  bool mpeg2_ = false;
  bool progressive_ = false;
  bool sequenceEnd_ = false;
  bool scanBlocks_ = false;
  std::uint32_t picturesSoFar_ = 0;
  std::uint32_t picturesSinceGroup_ = 0;
  H264Sps sps_;
  bool haveSps_ = false;
  bool picOrderPresent_ = false;
  PocCounter poc_;
};

// MPEG audio, AC-3 (also with swapped byte pairs), LPCM with its producer header.
class AudioUnitReader {
 public:
  AudioUnitReader(bufstream* units, const AudioFacts& facts);
  // False at the end of the stream or at a broken frame.
  bool next(AccessUnit& unit);

 private:
  ByteScanner scanner_;
  const AudioFacts& facts_;
  std::uint64_t frames_ = 0;
  bool started_ = false;
};

// Subpicture units: two-byte length first. With `timed`, each unit follows an 8-byte time
// stamp (27 MHz); otherwise units come one `period` apart.
class SubpictureUnitReader {
 public:
  SubpictureUnitReader(bufstream* units, bool timed) : scanner_(units), timed_(timed) {}
  void setPeriod(std::uint64_t period) { period_ = period; }
  // False at the end of the data, or at a length too short to hold itself.
  bool next(AccessUnit& unit);

 private:
  ByteScanner scanner_;
  bool timed_;
  std::uint64_t period_ = 0;
  std::uint64_t count_ = 0;
};

}  // namespace quillion::corvel
