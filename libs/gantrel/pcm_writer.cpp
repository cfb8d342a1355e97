// SPDX-License-Identifier: GPL-2.0-or-later
#include "pcm_writer.h"

#include <algorithm>
#include <cstring>

#include "packing.h"
#include "settings_check.h"

namespace quillion::gantrel {
namespace {

// The 12-byte record of a frame notice: length, then the time stamp, without padding.
struct FrameRecord {
  std::uint8_t bytes[12];
  FrameRecord(std::uint32_t length, std::int64_t timestamp) {
    std::memcpy(bytes, &length, 4);
    std::memcpy(bytes + 4, &timestamp, 8);
  }
};

}  // namespace

bool PcmWriter::prepare(const FrameFormat& format,
                        const std::uint8_t streamHeader[kStreamHeaderBytes],
                        const mpeg::Services& services) {
  release();
  *this = PcmWriter{};
  services_ = &services;
  format_ = format;
  std::memcpy(header_, streamHeader, kStreamHeaderBytes);
  staging_ = static_cast<std::uint8_t*>(services.allocate(format.largestInputBytes));
  frame_ = static_cast<std::uint8_t*>(services.allocate(format.largestFrameBytes));
  if (!staging_ || !frame_) {
    services.error("P001:Could not allocate memory for PCM audio sample buffer");
    release();
    return false;
  }
  return true;
}

void PcmWriter::release() {
  if (!services_) return;
  if (staging_) services_->release(staging_);
  if (frame_) services_->release(frame_);
  staging_ = nullptr;
  frame_ = nullptr;
  staged_ = 0;
}

std::int32_t PcmWriter::result() const {
  return failed_ ? kResultFailure : 0;
}

bool PcmWriter::emit(const std::uint8_t* data, std::uint32_t bytes, std::int64_t timestamp,
                     mpeg::BitWriter& writer) {
  bool written = writer.reserve(bytes) == mpeg::BitWriter::kGood;
  if (written) {
    writer.putBytes(bytes, data);
    // A frame cut short must not be announced as written.
    written = writer.state() == mpeg::BitWriter::kGood;
  }
  if (written) {
    FrameRecord record(bytes, timestamp);
    writer.endAudioFrame(record.bytes);
  } else {
    services_->error("P002:Could not write PCM buffer to audio file");
  }
  // A stream that failed while taking this frame or lending the next chunk loses what follows.
  if (writer.state() != mpeg::BitWriter::kGood) failed_ = true;
  return written;
}

void PcmWriter::writeStreamHeader(mpeg::BitWriter& writer) {
  headerWritten_ = true;
  emit(header_, kStreamHeaderBytes, -1, writer);
}

void PcmWriter::writeFrame(const std::uint8_t* input, mpeg::BitWriter& writer) {
  const FrameEntry& entry = format_.cycle[cycleIndex_];
  const std::uint32_t length =
      packFrame(format_, entry, PackPosition{cycleIndex_, sampleFrames_}, input, frame_);
  const auto timestamp = static_cast<std::int64_t>(halfTicks_ / 2);
  if (emit(frame_, length, timestamp, writer)) ++framesWritten_;
  // Time and the AES3 block count follow the input, so a lost frame leaves a gap, not a shift.
  sampleFrames_ += entry.samples;
  halfTicks_ += entry.halfTicks;
  cycleIndex_ = (cycleIndex_ + 1) % kCycleLength;
}

std::int32_t PcmWriter::put(const std::uint8_t* data, std::uint32_t bytes,
                            mpeg::BitWriter& writer) {
  if (!headerWritten_) writeStreamHeader(writer);
  while (bytes > 0) {
    const std::uint32_t need = format_.cycle[cycleIndex_].inputBytes;
    if (staged_ == 0 && bytes >= need) {
      writeFrame(data, writer);
      data += need;
      bytes -= need;
      continue;
    }
    const std::uint32_t take = std::min(need - staged_, bytes);
    std::memcpy(staging_ + staged_, data, take);
    staged_ += take;
    data += take;
    bytes -= take;
    if (staged_ < need) break;
    staged_ = 0;
    writeFrame(staging_, writer);
  }
  return result();
}

std::int32_t PcmWriter::finish(mpeg::BitWriter& writer) {
  if (staged_ > 0 && writer.state() == mpeg::BitWriter::kGood) {
    const std::uint32_t need = format_.cycle[cycleIndex_].inputBytes;
    std::memset(staging_ + staged_, 0, need - staged_);
    staged_ = 0;
    writeFrame(staging_, writer);
  }
  staged_ = 0;
  return result();
}

}  // namespace quillion::gantrel
