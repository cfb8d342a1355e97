// SPDX-License-Identifier: GPL-2.0-or-later
// Builds Layer III streams from synthetic quantised spectra through our frame writer, so
// that the independent decoders can be asked what they make of them.
#pragma once

#include <cstdint>
#include <vector>

#include "mp3enc/bitstream_writer.h"
#include "mp3enc/frame_control.h"
#include "mp3enc/granule_info.h"

namespace quillion::test {

// A granule coded as quantisation would code it: regions, tables and count1 chosen by the
// bit counter. Lines are in stream order; globalGainField is the header's global_gain.
[[nodiscard]] mp3enc::GranuleChannel codedGranule(const std::vector<std::int32_t>& lines, int globalGainField,
                                                  int blockType, int rateSlot);
// A granule whose big values cover every line up to the last non-zero pair, all coded with
// one table (no count1 region).
[[nodiscard]] mp3enc::GranuleChannel granuleWithTable(const std::vector<std::int32_t>& lines, int globalGainField,
                                                      int table);

class StreamBuilder {
public:
  StreamBuilder(const mp3enc::BitstreamSettings& settings, int paddingMode);
  // Writes one frame of granules[granule][channel]; false when the writer refuses it.
  [[nodiscard]] bool addFrame(const mp3enc::GranuleChannel* const granules[2][2], int ancillaryBits = 0,
                              bool ofl = false, mp3enc::FrameResult* result = nullptr);
  [[nodiscard]] bool finish();
  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  [[nodiscard]] const std::vector<int>& paddings() const { return paddings_; }
  [[nodiscard]] const std::vector<int>& bitrateIndices() const { return indices_; }
  [[nodiscard]] mp3enc::BitstreamWriter& writer() { return *writer_; }

private:
  mp3enc::BitstreamWriterPtr writer_;
  mp3enc::FrameControlPtr control_;
  std::vector<std::uint8_t> bytes_;
  std::vector<int> paddings_;
  std::vector<int> indices_;
  bool ok_ = true;
};

}  // namespace quillion::test

#include "reference_decoder.h"
#include "tool_runner.h"

namespace quillion::test {

struct DecodeCheck {
  ToolResult tool;        // ffmpeg's verdict (-err_detect explode)
  double maxError = 0.0;  // largest difference from the reference, over all samples
  double peak = 0.0;      // largest reference magnitude
  std::size_t samples = 0;
  std::vector<std::uint8_t> stream;
};

// Writes a single-channel stream of the given granules (padded with silence to whole
// frames), decodes it with ffmpeg and compares every sample with the reference decoder.
[[nodiscard]] DecodeCheck decodeAndCompare(const std::vector<mp3enc::GranuleChannel>& granules,
                                           const std::vector<RefGranule>& reference, std::int32_t sampleRate,
                                           std::int32_t bitrate, const TempDir& dir);

}  // namespace quillion::test
