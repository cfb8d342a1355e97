// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_builder.h"

#include <cmath>

#include "mp3enc/bit_count.h"
#include "mp3enc/huffman_coding.h"
#include "mp3enc/stream_tables.h"

namespace quillion::test {

using namespace mp3enc;

GranuleChannel codedGranule(const std::vector<std::int32_t>& lines, int globalGainField, int blockType,
                            int rateSlot) {
  GranuleChannel g;
  for (int i = 0; i < kGranuleLines; ++i) g.quantised[i] = lines[static_cast<std::size_t>(i)];
  std::vector<std::int16_t> bounds;
  if (blockType == 2) {
    const std::int16_t* s = kShortBandBounds[rateSlot];
    for (int band = 0; band < 13; ++band) {
      for (int w = 0; w < 3; ++w) bounds.push_back(static_cast<std::int16_t>(3 * s[band] + w * (s[band + 1] - s[band])));
    }
    bounds.push_back(576);
  } else {
    bounds.assign(kLongBandBounds[rateSlot], kLongBandBounds[rateSlot] + 23);
  }
  BitCounter counter;
  BitCountResult r;
  const int bits = dynBitCount(&counter, g.quantised, blockType, static_cast<int>(bounds.size()) - 1, bounds.data(), &r);
  g.part2_3_length = bits;
  g.big_values = r.bigValues;
  g.count1 = r.count1;
  g.count1table_select = r.count1Table;
  g.region0_count = r.region0Count;
  g.region1_count = r.region1Count;
  for (int i = 0; i < 3; ++i) g.table_select[i] = r.table[i];
  g.block_type = blockType;
  g.global_gain = globalGainField - 150;
  return g;
}

GranuleChannel granuleWithTable(const std::vector<std::int32_t>& lines, int globalGainField, int table) {
  GranuleChannel g;
  int top = 0;
  for (int i = 0; i < kGranuleLines; ++i) {
    g.quantised[i] = lines[static_cast<std::size_t>(i)];
    if (g.quantised[i] != 0) top = i + 1;
  }
  g.big_values = (top + 1) / 2;
  g.region0_count = 15;
  g.region1_count = 7;
  g.table_select[0] = g.table_select[1] = g.table_select[2] = table;
  int bits = 0;
  for (int i = 0; i < 2 * g.big_values; i += 2) bits += huffPairBits(g.quantised[i], g.quantised[i + 1], table);
  g.part2_3_length = bits;
  g.global_gain = globalGainField - 150;
  return g;
}

StreamBuilder::StreamBuilder(const BitstreamSettings& settings, int paddingMode)
    : writer_(new BitstreamWriter), control_(new FrameControl) {
  ok_ = BSInit(writer_.get(), settings) == 0 && FCInit(control_.get(), settings.bitrate, settings.sampleRate, paddingMode) == 0;
}

bool StreamBuilder::addFrame(const GranuleChannel* const granules[2][2], int ancillaryBits, bool ofl,
                             FrameResult* result) {
  if (!ok_) return false;
  FCAdvance(control_.get());
  FrameInput in;
  for (int gr = 0; gr < 2; ++gr) {
    for (int ch = 0; ch < 2; ++ch) in.granules[gr][ch] = granules[gr][ch];
  }
  in.bitrateIndex = FCBitrateIdx(control_.get());
  in.padding = FCNuansdroByte(control_.get());
  in.ancillaryBits = ancillaryBits;
  in.ofl = ofl;
  static const std::vector<std::uint8_t> kAncillary(4096, 0x5A);
  in.ancillary = kAncillary.data();
  in.ancillaryAvailable = kAncillary.size();
  FrameResult local;
  std::vector<std::uint8_t> out(16384);
  std::size_t produced = 0;
  if (BSWrite(writer_.get(), in, result ? result : &local, out.data(), out.size(), &produced) != 0) return false;
  bytes_.insert(bytes_.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
  paddings_.push_back(in.padding);
  indices_.push_back(in.bitrateIndex);
  return true;
}

bool StreamBuilder::finish() {
  if (!ok_) return false;
  std::vector<std::uint8_t> out(1 << 20);
  std::size_t produced = 0;
  if (BSFlush(writer_.get(), out.data(), out.size(), &produced) != 0) return false;
  bytes_.insert(bytes_.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
  return true;
}

}  // namespace quillion::test

namespace quillion::test {

DecodeCheck decodeAndCompare(const std::vector<mp3enc::GranuleChannel>& granules,
                             const std::vector<RefGranule>& reference, std::int32_t sampleRate,
                             std::int32_t bitrate, const TempDir& dir) {
  DecodeCheck check;
  mp3enc::BitstreamSettings settings;
  settings.channelMode = mp3enc::kModeSingleChannel;
  settings.sampleRate = sampleRate;
  settings.bitrate = bitrate;
  StreamBuilder builder(settings, mp3enc::kPaddingPerFrame);
  const int perFrame = mp3enc::granulesPerFrame(mp3enc::versionForRate(sampleRate));
  static const mp3enc::GranuleChannel kSilence;
  // A few silent frames at the end: demuxers look for the next frame's header before they
  // trust the first.
  const std::size_t total = granules.size() + 4 * static_cast<std::size_t>(perFrame);
  for (std::size_t i = 0; i < total; i += static_cast<std::size_t>(perFrame)) {
    const mp3enc::GranuleChannel* frame[2][2] = {};
    for (int gr = 0; gr < perFrame; ++gr) {
      frame[gr][0] = i + static_cast<std::size_t>(gr) < granules.size() ? &granules[i + static_cast<std::size_t>(gr)] : &kSilence;
    }
    if (!builder.addFrame(frame)) {
      check.tool.output = "the writer refused a frame";
      return check;
    }
  }
  if (!builder.finish()) {
    check.tool.output = "the writer could not flush";
    return check;
  }
  check.stream = builder.bytes();
  const auto streamPath = dir.file("check.mp3");
  writeFile(streamPath, check.stream);
  std::vector<float> decoded;
  check.tool = decodeToFloat(streamPath, dir.file("check.raw"), &decoded);
  ReferenceDecoder ref(mp3enc::rateSlot(sampleRate));
  std::vector<double> expected;
  for (const RefGranule& g : reference) ref.decode(g, &expected);
  check.samples = decoded.size() < expected.size() ? decoded.size() : expected.size();
  for (std::size_t i = 0; i < check.samples; ++i) {
    const double diff = std::abs(decoded[i] - expected[i]);
    check.maxError = diff > check.maxError ? diff : check.maxError;
    check.peak = std::abs(expected[i]) > check.peak ? std::abs(expected[i]) : check.peak;
  }
  if (decoded.size() < expected.size()) check.maxError = 1e30;  // samples went missing
  return check;
}

}  // namespace quillion::test
