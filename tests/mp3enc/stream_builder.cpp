// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_builder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "mp3enc/bit_count.h"
#include "mp3enc/huffman_coding.h"
#include "mp3enc/stream_tables.h"

namespace quillion::test {

using namespace mp3enc;

namespace {

int bitsFor(int value) {
  int bits = 0;
  while (value >> bits) ++bits;
  return bits;
}

// A run of scalefactors written with one length.
struct Partition {
  std::vector<int> values;
  int slen = 0;
};

void addLong(const RefGranule& ref, int first, int end, Partition* p) {
  for (int band = first; band < end; ++band)
    p->values.push_back(ref.scalefacLong[static_cast<std::size_t>(band)]);
}

void addShort(const RefGranule& ref, int first, int end, Partition* p) {
  for (int band = first; band < end; ++band) {
    for (int w = 0; w < 3; ++w)
      p->values.push_back(
          ref.scalefacShort[static_cast<std::size_t>(band)][static_cast<std::size_t>(w)]);
  }
}

int largestNeeded(const Partition& p) {
  int largest = 0;
  for (int v : p.values) largest = std::max(largest, v);
  return bitsFor(largest);
}

// MPEG-1: two lengths, slen1 for the lower bands and slen2 for the upper ones, chosen
// together through scalefac_compress. Returns false when no pair holds the values.
bool mpeg1Partitions(const RefGranule& ref, std::vector<Partition>* parts, int* compress) {
  static constexpr int kSlen[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1},
                                       {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1},
                                       {3, 2}, {3, 3}, {4, 2}, {4, 3}};
  parts->assign(2, Partition{});
  if (ref.blockType != 2) {
    addLong(ref, 0, 11, &(*parts)[0]);
    addLong(ref, 11, 21, &(*parts)[1]);
  } else if (ref.mixed) {
    addLong(ref, 0, mixedLongBands(kMpeg1), &(*parts)[0]);
    addShort(ref, kMixedFirstShortBand, 6, &(*parts)[0]);
    addShort(ref, 6, 12, &(*parts)[1]);
  } else {
    addShort(ref, 0, 6, &(*parts)[0]);
    addShort(ref, 6, 12, &(*parts)[1]);
  }
  const int need[2] = {largestNeeded((*parts)[0]), largestNeeded((*parts)[1])};
  int bestBits = -1;
  for (int c = 0; c < 16; ++c) {
    if (kSlen[c][0] < need[0] || kSlen[c][1] < need[1]) continue;
    const int bits = kSlen[c][0] * static_cast<int>((*parts)[0].values.size()) +
                     kSlen[c][1] * static_cast<int>((*parts)[1].values.size());
    if (bestBits < 0 || bits < bestBits) {
      bestBits = bits;
      *compress = c;
    }
  }
  if (bestBits < 0) return false;
  (*parts)[0].slen = kSlen[*compress][0];
  (*parts)[1].slen = kSlen[*compress][1];
  return true;
}

// The lower rates: four partitions with a length each, in the first row of the standard's
// partition table (no intensity stereo, no pre-emphasis).
bool lsfPartitions(const RefGranule& ref, int version, std::vector<Partition>* parts,
                   int* compress) {
  static constexpr int kLargestSlen[4] = {4, 4, 3, 3};
  parts->assign(4, Partition{});
  if (ref.blockType != 2) {
    static constexpr int kBands[5] = {0, 6, 11, 16, 21};
    for (int p = 0; p < 4; ++p)
      addLong(ref, kBands[p], kBands[p + 1], &(*parts)[static_cast<std::size_t>(p)]);
  } else {
    int band = 0;
    int p = 0;
    if (ref.mixed) {
      addLong(ref, 0, mixedLongBands(version), &(*parts)[0]);
      band = kMixedFirstShortBand;
      p = 1;
    }
    for (; p < 4; ++p, band += 3)
      addShort(ref, band, band + 3, &(*parts)[static_cast<std::size_t>(p)]);
  }
  int slen[4];
  for (int p = 0; p < 4; ++p) {
    slen[p] = largestNeeded((*parts)[static_cast<std::size_t>(p)]);
    if (slen[p] > kLargestSlen[p]) return false;
    (*parts)[static_cast<std::size_t>(p)].slen = slen[p];
  }
  *compress = ((slen[0] * 5 + slen[1]) << 4) + (slen[2] << 2) + slen[3];
  return true;
}

// Fills the scalefactor partitions; returns their bits, or -1 when they cannot be coded.
int setScalefactors(GranuleChannel* g, const RefGranule& ref, int rateSlot) {
  const int version = rateSlot / 3;
  std::vector<Partition> parts;
  int compress = 0;
  const bool ok = version == kMpeg1
                      ? mpeg1Partitions(ref, &parts, &compress)
                      : !ref.preflag && lsfPartitions(ref, version, &parts, &compress);
  if (!ok) return -1;
  g->scalefac_compress = compress;
  int index = 0, bits = 0;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    g->partitionValues[p] = static_cast<int>(parts[p].values.size());
    g->slen[p] = parts[p].slen;
    for (int v : parts[p].values) g->scalefactors[index++] = v;
    bits += g->partitionValues[p] * g->slen[p];
  }
  return bits;
}

}  // namespace

std::vector<std::int16_t> bandLayout(int blockType, bool mixed, int rateSlot) {
  const std::int16_t* l = kLongBandBounds[rateSlot];
  if (blockType != 2) return std::vector<std::int16_t>(l, l + 23);
  std::vector<std::int16_t> bounds;
  int firstShort = 0;
  if (mixed) {
    const int longBands = mixedLongBands(rateSlot / 3);
    bounds.assign(l, l + longBands);
    firstShort = kMixedFirstShortBand;
  }
  const std::int16_t* s = kShortBandBounds[rateSlot];
  for (int band = firstShort; band < 13; ++band) {
    for (int w = 0; w < 3; ++w)
      bounds.push_back(static_cast<std::int16_t>(3 * s[band] + w * (s[band + 1] - s[band])));
  }
  bounds.push_back(kGranuleLines);
  return bounds;
}

GranuleChannel codedGranule(const RefGranule& ref, int rateSlot) {
  GranuleChannel g;
  for (int i = 0; i < kGranuleLines; ++i) g.quantised[i] = ref.lines[static_cast<std::size_t>(i)];
  g.block_type = ref.blockType;
  g.mixed_block_flag = ref.mixed ? 1 : 0;
  for (int w = 0; w < 3; ++w) g.subblock_gain[w] = ref.subblockGain[static_cast<std::size_t>(w)];
  g.scalefac_scale = ref.scalefacScale;
  g.preflag = ref.preflag ? 1 : 0;
  g.global_gain = ref.globalGain - 150;
  const int scalefactorBits = setScalefactors(&g, ref, rateSlot);
  const std::vector<std::int16_t> bounds = bandLayout(ref.blockType, ref.mixed, rateSlot);
  BitCounter counter;
  BitCountResult r;
  const int bits =
      dynBitCount(&counter, g.quantised, ref.blockType, static_cast<int>(bounds.size()) - 1,
                  bounds.data(), &r, ref.mixed ? mixedRegions(rateSlot / 3) : MixedRegions{});
  g.part2_3_length = scalefactorBits < 0 ? -1 : scalefactorBits + bits;
  g.big_values = r.bigValues;
  g.count1 = r.count1;
  g.count1table_select = r.count1Table;
  g.region0_count = r.region0Count;
  g.region1_count = r.region1Count;
  for (int i = 0; i < 3; ++i) g.table_select[i] = r.table[i];
  return g;
}

GranuleChannel codedGranule(const std::vector<std::int32_t>& lines, int globalGainField,
                            int blockType, int rateSlot) {
  RefGranule ref;
  ref.lines = lines;
  ref.globalGain = globalGainField;
  ref.blockType = blockType;
  return codedGranule(ref, rateSlot);
}

GranuleChannel granuleWithTable(const std::vector<std::int32_t>& lines, int globalGainField,
                                int table) {
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
  for (int i = 0; i < 2 * g.big_values; i += 2)
    bits += huffPairBits(g.quantised[i], g.quantised[i + 1], table);
  g.part2_3_length = bits;
  g.global_gain = globalGainField - 150;
  return g;
}

StreamBuilder::StreamBuilder(const BitstreamSettings& settings, int paddingMode)
    : writer_(new BitstreamWriter), control_(new FrameControl) {
  ok_ = BSInit(writer_.get(), settings) == 0 &&
        FCInit(control_.get(), settings.bitrate, settings.sampleRate, paddingMode) == 0;
}

const std::vector<std::uint8_t>& StreamBuilder::ancillaryPattern() {
  static const std::vector<std::uint8_t> kPattern = [] {
    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(0x5A + 7 * i);
    return bytes;
  }();
  return kPattern;
}

bool StreamBuilder::addFrame(const GranuleChannel* const granules[2][2], int ancillaryBits,
                             bool ofl, FrameResult* result) {
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
  in.ancillary = ancillary_.data();
  in.ancillaryAvailable = ancillary_.size();
  FrameResult local;
  std::vector<std::uint8_t> out(16384);
  std::size_t produced = 0;
  if (BSWrite(writer_.get(), in, result ? result : &local, out.data(), out.size(), &produced) != 0)
    return false;
  bytes_.insert(bytes_.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
  paddings_.push_back(in.padding);
  indices_.push_back(in.bitrateIndex);
  return true;
}

std::vector<std::uint8_t> StreamBuilder::mainData() const {
  std::vector<std::uint8_t> main;
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (mainDataPosition(static_cast<long long>(i)) >= 0) main.push_back(bytes_[i]);
  }
  return main;
}

long long StreamBuilder::mainDataPosition(long long streamPosition) const {
  const long long hdsiBytes = GetHdSiBits(writer_.get()) / 8;
  long long frameStart = 0, mainBefore = 0;
  for (std::size_t f = 0; f < paddings_.size(); ++f) {
    const long long size = frameBytes(writer_->settings.sampleRate, indices_[f], paddings_[f]);
    if (streamPosition < frameStart + size) {
      const long long inFrame = streamPosition - frameStart;
      return inFrame < hdsiBytes ? -1 : mainBefore + inFrame - hdsiBytes;
    }
    frameStart += size;
    mainBefore += size - hdsiBytes;
  }
  return -1;
}

bool StreamBuilder::finish() {
  if (!ok_) return false;
  std::vector<std::uint8_t> out(1 << 20);
  std::size_t produced = 0;
  if (BSFlush(writer_.get(), out.data(), out.size(), &produced) != 0) return false;
  bytes_.insert(bytes_.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
  return true;
}

namespace {

// Largest difference between decoded and expected samples; samples that went missing count
// as an infinite error.
double largestError(const std::vector<float>& decoded, const std::vector<double>& expected) {
  if (decoded.size() < expected.size()) return 1e30;
  double error = 0;
  for (std::size_t i = 0; i < expected.size(); ++i)
    error = std::max(error, std::abs(decoded[i] - expected[i]));
  return error;
}

}  // namespace

std::string mpg123Complaints(const std::filesystem::path& stream) {
  const ToolResult r = runTool({"mpg123", "-t", "--no-gapless", stream.string()});
  std::string complaints;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    // Lines that name the file or its folder could spell anything.
    if (line.rfind("Directory:", 0) == 0 || line.rfind("Playing MPEG stream", 0) == 0) continue;
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lower.find("error") != std::string::npos || lower.find("warning") != std::string::npos ||
        lower.find("illegal") != std::string::npos) {
      complaints += line + "\n";
    }
  }
  if (r.exitCode != 0) complaints += "exit code " + std::to_string(r.exitCode) + "\n";
  return complaints;
}

DecodeCheck decodeAndCompare(const std::vector<GranuleChannel>& granules,
                             const std::vector<RefGranule>& reference, std::int32_t sampleRate,
                             std::int32_t bitrate, const TempDir& dir) {
  DecodeCheck check;
  BitstreamSettings settings;
  settings.channelMode = kModeSingleChannel;
  settings.sampleRate = sampleRate;
  settings.bitrate = bitrate;
  StreamBuilder builder(settings, kPaddingPerFrame);
  const int perFrame = granulesPerFrame(versionForRate(sampleRate));
  static const GranuleChannel kSilence;
  // A few silent frames at the end: demuxers look for the next frame's header before they
  // trust the first.
  const std::size_t total = granules.size() + 4 * static_cast<std::size_t>(perFrame);
  for (std::size_t i = 0; i < total; i += static_cast<std::size_t>(perFrame)) {
    const GranuleChannel* frame[2][2] = {};
    for (int gr = 0; gr < perFrame; ++gr) {
      frame[gr][0] = i + static_cast<std::size_t>(gr) < granules.size()
                         ? &granules[i + static_cast<std::size_t>(gr)]
                         : &kSilence;
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
  ReferenceDecoder ref(rateSlot(sampleRate));
  std::vector<double> expected;
  for (const RefGranule& g : reference) ref.decode(g, &expected);
  for (double v : expected) check.peak = std::max(check.peak, std::abs(v));
  std::vector<float> decoded;
  check.tool = decodeToFloat(streamPath, dir.file("check.raw"), &decoded);
  check.samples = std::min(decoded.size(), expected.size());
  check.maxError = largestError(decoded, expected);
  check.mpg123 = decodeToFloatMpg123(streamPath, dir.file("check-mpg123.raw"), &decoded);
  check.mpg123MaxError = largestError(decoded, expected);
  check.mpg123Complaints = mpg123Complaints(streamPath);
  return check;
}

DecodeCheck decodeAndCompare(const std::vector<RefGranule>& reference, std::int32_t sampleRate,
                             std::int32_t bitrate, const TempDir& dir) {
  std::vector<GranuleChannel> granules;
  for (const RefGranule& ref : reference)
    granules.push_back(codedGranule(ref, rateSlot(sampleRate)));
  return decodeAndCompare(granules, reference, sampleRate, bitrate, dir);
}

}  // namespace quillion::test
