// SPDX-License-Identifier: GPL-2.0-or-later
// Builds Layer III streams from synthetic quantised spectra through our frame writer, so
// that the independent decoders can be asked what they make of them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "float_decoders.h"
#include "mp3enc/bitstream_writer.h"
#include "mp3enc/frame_control.h"
#include "mp3enc/granule_info.h"
#include "reference_decoder.h"
#include "tests/support/test_support.h"

namespace quillion::test {

// The bounds the bit counter takes for a granule: long bands, short bands window by window,
// or for a mixed block its long bands and then its short bands window by window.
[[nodiscard]] std::vector<std::int16_t> bandLayout(int blockType, bool mixed, int rateSlot);

// A granule coded as quantisation would code it: the reference's lines, gains and
// scalefactors (in the partitions of its block kind, with the shortest lengths that hold
// them), regions, tables and count1 chosen by the bit counter. A granule whose scalefactors
// no lengths can hold gets part2_3_length -1, which the writer refuses.
[[nodiscard]] mp3enc::GranuleChannel codedGranule(const RefGranule& ref, int rateSlot);
[[nodiscard]] mp3enc::GranuleChannel codedGranule(const std::vector<std::int32_t>& lines,
                                                  int globalGainField, int blockType, int rateSlot);
// A granule whose big values cover every line up to the last non-zero pair, all coded with
// one table (no count1 region).
[[nodiscard]] mp3enc::GranuleChannel granuleWithTable(const std::vector<std::int32_t>& lines,
                                                      int globalGainField, int table);

class StreamBuilder {
 public:
  StreamBuilder(const mp3enc::BitstreamSettings& settings, int paddingMode);
  // Writes one frame of granules[granule][channel]; false when the writer refuses it.
  [[nodiscard]] bool addFrame(const mp3enc::GranuleChannel* const granules[2][2],
                              int ancillaryBits = 0, bool ofl = false,
                              mp3enc::FrameResult* result = nullptr);
  [[nodiscard]] bool finish();
  [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  [[nodiscard]] const std::vector<int>& paddings() const { return paddings_; }
  [[nodiscard]] const std::vector<int>& bitrateIndices() const { return indices_; }
  // The main data of every frame written, joined in stream order, and where in it a byte
  // position of the stream lies (-1 inside a header or side information).
  [[nodiscard]] std::vector<std::uint8_t> mainData() const;
  [[nodiscard]] long long mainDataPosition(long long streamPosition) const;
  [[nodiscard]] mp3enc::BitstreamWriter& writer() { return *writer_; }
  // What addFrame hands the writer as ancillary bytes: a fixed pattern of 4096 bytes, until
  // setAncillary gives others.
  [[nodiscard]] static const std::vector<std::uint8_t>& ancillaryPattern();
  void setAncillary(std::vector<std::uint8_t> bytes) { ancillary_ = std::move(bytes); }

 private:
  mp3enc::BitstreamWriterPtr writer_;
  mp3enc::FrameControlPtr control_;
  std::vector<std::uint8_t> bytes_;
  std::vector<int> paddings_;
  std::vector<int> indices_;
  std::vector<std::uint8_t> ancillary_ = ancillaryPattern();
  bool ok_ = true;
};

// How far a decoder may stray from the reference: both decoders work in single precision,
// so relative to the largest sample, or absolute below 1.
inline constexpr double kDecodeTolerance = 2e-5;

struct DecodeCheck {
  ToolResult tool;        // ffmpeg's verdict (-err_detect explode)
  double maxError = 0.0;  // largest difference from the reference, over all samples
  double peak = 0.0;      // largest reference magnitude
  std::size_t samples = 0;
  std::vector<std::uint8_t> stream;
  ToolResult mpg123;             // mpg123's float decode
  std::string mpg123Complaints;  // what mpg123 -t reports as errors or warnings
  double mpg123MaxError = 0.0;
};

// Writes a single-channel stream of the given granules (padded with silence to whole
// frames), decodes it with ffmpeg and mpg123 and compares every sample of both with the
// reference decoder.
[[nodiscard]] DecodeCheck decodeAndCompare(const std::vector<mp3enc::GranuleChannel>& granules,
                                           const std::vector<RefGranule>& reference,
                                           std::int32_t sampleRate, std::int32_t bitrate,
                                           const TempDir& dir);
// The same, with every granule coded from its reference by codedGranule.
[[nodiscard]] DecodeCheck decodeAndCompare(const std::vector<RefGranule>& reference,
                                           std::int32_t sampleRate, std::int32_t bitrate,
                                           const TempDir& dir);

// Lines of `mpg123 -t` on a stream that report an error or a warning.
[[nodiscard]] std::string mpg123Complaints(const std::filesystem::path& stream);

}  // namespace quillion::test
