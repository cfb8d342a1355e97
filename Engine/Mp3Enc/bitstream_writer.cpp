// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/bitstream_writer.h"

#include <new>

#include "mp3enc/huffman_coding.h"
#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {
namespace {

constexpr std::uint32_t kHdsiBufferBits = 19456;
constexpr std::uint32_t kMainBufferBits = 16384;
constexpr int kMaxPart23 = 4092;
constexpr int kMaxFrameMainBits = 7680;
constexpr int kOflBits = 80;
constexpr std::uint32_t kPacketSync = 0xA5;
constexpr std::size_t kPacketOverhead = 3;  // sync, length and sum bytes
constexpr std::size_t kMaxPacketPayload = 255;

int slotOf(const BitstreamWriter* bs) { return bs->version * 3 + bs->sampleRateIndex; }

// Line where region 1 and region 2 start for this granule.
void regionStarts(const BitstreamWriter* bs, const GranuleChannel& g, int* r1, int* r2) {
  const std::int16_t* longBounds = kLongBandBounds[slotOf(bs)];
  if (g.block_type != 0) {
    *r1 = windowSwitchingRegion1(slotOf(bs), g.block_type, g.mixed_block_flag != 0);
    *r2 = kGranuleLines;
  } else {
    const int b1 = g.region0_count + 1;
    const int b2 = g.region0_count + g.region1_count + 2;
    *r1 = longBounds[b1 < 22 ? b1 : 22];
    *r2 = longBounds[b2 < 22 ? b2 : 22];
  }
  const int bigEnd = g.big_values * 2;
  if (*r1 > bigEnd) *r1 = bigEnd;
  if (*r2 > bigEnd) *r2 = bigEnd;
}

bool inRange(int value, int bits) {
  return value >= 0 && value < (1 << bits);
}

bool tableExists(int table) {
  return inRange(table, 5) && table != 4 && table != 14;
}

// Every side-information field holds its value: a value that does not fit would be cut to
// its low bits and the decoder would read another granule than the one counted.
bool sideInfoFits(const BitstreamWriter* bs, const GranuleChannel& g) {
  const bool mpeg1 = bs->version == kMpeg1;
  if (!inRange(g.global_gain + 150, 8) || !inRange(g.scalefac_compress, mpeg1 ? 4 : 9))
    return false;
  if (!inRange(g.block_type, 2) || !inRange(g.mixed_block_flag, 1) ||
      (g.mixed_block_flag && g.block_type != 2)) {
    return false;
  }
  if (!inRange(g.preflag, 1) || !inRange(g.scalefac_scale, 1) || !inRange(g.count1table_select, 1))
    return false;
  const int regions = g.block_type != 0 ? 2 : 3;
  for (int r = 0; r < regions; ++r) {
    if (!tableExists(g.table_select[r])) return false;
  }
  if (g.block_type != 0) {
    for (int gain : g.subblock_gain) {
      if (!inRange(gain, 3)) return false;
    }
    return true;
  }
  return inRange(g.region0_count, 4) && inRange(g.region1_count, 3);
}

// Bits the scalefactors and Huffman codes of a granule take, or -1 when its side
// information does not fit its lines (a value a table cannot carry, a scalefactor longer
// than its slen, regions past 576) or its fields.
int codedBits(const BitstreamWriter* bs, const GranuleChannel& g) {
  if (!sideInfoFits(bs, g)) return -1;
  int bits = 0;
  int sf = 0;
  for (int p = 0; p < 4; ++p) {
    // Five bits at most: intensity positions at the lower rates take them; others four.
    if (g.partitionValues[p] < 0 || g.slen[p] < 0 || g.slen[p] > 5) return -1;
    if (sf + g.partitionValues[p] > kMaxScalefactors) return -1;
    for (int i = 0; i < g.partitionValues[p]; ++i) {
      if (!inRange(g.scalefactors[sf + i], g.slen[p])) return -1;
    }
    sf += g.partitionValues[p];
    bits += g.partitionValues[p] * g.slen[p];
  }
  const int bigEnd = g.big_values * 2;
  if (g.big_values < 0 || g.count1 < 0 || bigEnd + 4 * g.count1 > kGranuleLines) return -1;
  int r1 = 0, r2 = 0;
  regionStarts(bs, g, &r1, &r2);
  for (int line = 0; line < bigEnd; line += 2) {
    const int region = line < r1 ? 0 : line < r2 ? 1 : 2;
    const int n = huffPairBits(g.quantised[line], g.quantised[line + 1], g.table_select[region]);
    if (n < 0) return -1;
    bits += n;
  }
  for (int q = 0; q < g.count1; ++q) {
    const int n = huffQuadBits(&g.quantised[bigEnd + 4 * q], g.count1table_select);
    if (n < 0) return -1;
    bits += n;
  }
  return bits;
}

// Scalefactors and Huffman codes of one granule and channel, then 1-bit stuffing up to
// part2_3_length (which decodes as zero quadruples). The granule was checked by codedBits.
void writeGranuleMain(BitstreamWriter* bs, const GranuleChannel& g, int part23) {
  BitBuffer* out = bs->main.get();
  const std::uint64_t start = mp3GetBitcnt(out);
  int sf = 0;
  for (int p = 0; p < 4; ++p) {
    for (int i = 0; i < g.partitionValues[p]; ++i, ++sf) {
      if (g.slen[p] > 0) mp3WriteBits(out, static_cast<std::uint32_t>(g.scalefactors[sf]), g.slen[p]);
    }
  }
  int r1 = 0, r2 = 0;
  regionStarts(bs, g, &r1, &r2);
  const int bigEnd = g.big_values * 2;
  for (int line = 0; line < bigEnd; line += 2) {
    const int region = line < r1 ? 0 : line < r2 ? 1 : 2;
    mp3EncodeHuffPair(&g.quantised[line], g.table_select[region], out);
  }
  for (int q = 0; q < g.count1; ++q) mp3EncodeHuffQuadruple(&g.quantised[bigEnd + 4 * q], g.count1table_select, out);
  for (int left = part23 - static_cast<int>(mp3GetBitcnt(out) - start); left > 0;) {
    const int n = left < 16 ? left : 16;
    mp3WriteBits(out, (1u << n) - 1u, static_cast<std::uint32_t>(n));
    left -= n;
  }
}

void writeHeader(BitstreamWriter* bs, const FrameInput& frame) {
  BitBuffer* out = bs->hdsi.get();
  const BitstreamSettings& s = bs->settings;
  mp3WriteBits(out, bs->version == kMpeg25 ? 0xFFE : 0xFFF, 12);
  mp3WriteBits(out, bs->version == kMpeg1 ? 1 : 0, 1);
  mp3WriteBits(out, 1, 2);  // Layer III
  mp3WriteBits(out, s.errorProtection ? 0 : 1, 1);
  mp3WriteBits(out, static_cast<std::uint32_t>(frame.bitrateIndex), 4);
  mp3WriteBits(out, static_cast<std::uint32_t>(bs->sampleRateIndex), 2);
  mp3WriteBits(out, frame.padding ? 1 : 0, 1);
  mp3WriteBits(out, s.privateBit ? 1 : 0, 1);
  mp3WriteBits(out, static_cast<std::uint32_t>(s.channelMode), 2);
  mp3WriteBits(out, static_cast<std::uint32_t>(frame.modeExtension), 2);
  mp3WriteBits(out, s.copyright ? 1 : 0, 1);
  mp3WriteBits(out, s.original ? 1 : 0, 1);
  mp3WriteBits(out, 0, 2);  // no emphasis
  if (s.errorProtection) mp3WriteBits(out, 0, 16);
}

void writeSideInfo(BitstreamWriter* bs, const FrameInput& frame, const int part23[2][2]) {
  BitBuffer* out = bs->hdsi.get();
  const bool mpeg1 = bs->version == kMpeg1;
  mp3WriteBits(out, static_cast<std::uint32_t>(bs->mainDataBegin), mpeg1 ? 9 : 8);
  mp3WriteBits(out, 0, mpeg1 ? (bs->channels == 1 ? 5 : 3) : (bs->channels == 1 ? 1 : 2));
  if (mpeg1) {
    for (int ch = 0; ch < bs->channels; ++ch) mp3WriteBits(out, 0, 4);
  }
  for (int gr = 0; gr < bs->granules; ++gr) {
    for (int ch = 0; ch < bs->channels; ++ch) {
      const GranuleChannel& g = *frame.granules[gr][ch];
      mp3WriteBits(out, static_cast<std::uint32_t>(part23[gr][ch]), 12);
      mp3WriteBits(out, static_cast<std::uint32_t>(g.big_values), 9);
      mp3WriteBits(out, static_cast<std::uint32_t>(g.global_gain + 150) & 0xFFu, 8);
      mp3WriteBits(out, static_cast<std::uint32_t>(g.scalefac_compress), mpeg1 ? 4 : 9);
      mp3WriteBits(out, g.block_type != 0 ? 1 : 0, 1);
      if (g.block_type != 0) {
        mp3WriteBits(out, static_cast<std::uint32_t>(g.block_type), 2);
        mp3WriteBits(out, static_cast<std::uint32_t>(g.mixed_block_flag), 1);
        for (int r = 0; r < 2; ++r) mp3WriteBits(out, static_cast<std::uint32_t>(g.table_select[r]), 5);
        for (int w = 0; w < 3; ++w) mp3WriteBits(out, static_cast<std::uint32_t>(g.subblock_gain[w]), 3);
      } else {
        for (int r = 0; r < 3; ++r) mp3WriteBits(out, static_cast<std::uint32_t>(g.table_select[r]), 5);
        mp3WriteBits(out, static_cast<std::uint32_t>(g.region0_count), 4);
        mp3WriteBits(out, static_cast<std::uint32_t>(g.region1_count), 3);
      }
      if (mpeg1) mp3WriteBits(out, static_cast<std::uint32_t>(g.preflag), 1);
      mp3WriteBits(out, static_cast<std::uint32_t>(g.scalefac_scale), 1);
      mp3WriteBits(out, static_cast<std::uint32_t>(g.count1table_select), 1);
    }
  }
}

// Where a main-data byte, `pending` bytes past the oldest frame not yet emitted, lands in
// the stream. With the reservoir it may sit in an earlier frame than the one being
// written, before that frame's header, so the position walks the queued frames.
long long streamPosition(const BitstreamWriter* bs, std::uint32_t pending, std::uint32_t currentMainBytes) {
  long long position = static_cast<long long>(bs->mux.bytesEmitted);
  const std::uint32_t hdsiBytes = bs->hdsiBits / 8;
  for (int i = 0; i <= bs->mux.held; ++i) {
    const std::uint32_t mainBytes =
        i < bs->mux.held ? bs->mux.slots[(bs->mux.readSlot + i) % kMuxSlots].mainBits / 8 : currentMainBytes;
    if (pending < mainBytes || i == bs->mux.held) return position + hdsiBytes + pending;
    position += hdsiBytes + mainBytes;
    pending -= mainBytes;
  }
  return position;
}

// Fills the frame's ancillary room of `room` bytes and returns the caller's bytes taken.
// Bytes beyond what the caller has are written as zeros rather than read past its buffer.
std::size_t writeAncillary(BitstreamWriter* bs, const FrameInput& frame, std::size_t room) {
  BitBuffer* out = bs->main.get();
  const std::size_t available = frame.ancillary ? frame.ancillaryAvailable : 0;
  std::size_t taken = 0;
  if (!bs->settings.ancillaryPackets) {
    taken = room < available ? room : available;
    for (std::size_t i = 0; i < taken; ++i) mp3WriteBits(out, frame.ancillary[i], 8);
  } else if (room > kPacketOverhead && available > 0) {
    // A packet lets a reader tell the payload from the zero fill after it.
    std::size_t limit =
        room - kPacketOverhead < kMaxPacketPayload ? room - kPacketOverhead : kMaxPacketPayload;
    taken = limit < available ? limit : available;
    mp3WriteBits(out, kPacketSync, 8);
    mp3WriteBits(out, static_cast<std::uint32_t>(taken), 8);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < taken; ++i) {
      mp3WriteBits(out, frame.ancillary[i], 8);
      sum += frame.ancillary[i];
    }
    mp3WriteBits(out, sum & 0xFFu, 8);
    room -= kPacketOverhead;
  }
  for (std::size_t i = taken; i < room; ++i) mp3WriteBits(out, 0, 8);
  return taken;
}

}  // namespace

std::uint32_t frameBytes(std::int32_t sampleRate, int bitrateIndex, int padding) {
  if (rateSlot(sampleRate) < 0 || bitrateIndex < 1 || bitrateIndex > 14) return 0;
  const int version = versionForRate(sampleRate);
  const std::int64_t bitrate = mpegBitrates[version][bitrateIndex];
  if (bitrate == 0) return 0;
  return static_cast<std::uint32_t>((version == kMpeg1 ? 144 : 72) * bitrate / sampleRate + (padding ? 1 : 0));
}

int BSNew(BitstreamWriter** bs) {
  if (!bs) return 1;
  *bs = new (std::nothrow) BitstreamWriter;
  return *bs ? 0 : 1;
}

void BSDelete(BitstreamWriter* bs) { delete bs; }

int BSInit(BitstreamWriter* bs, const BitstreamSettings& settings) {
  if (!bs) return 1;
  const int slot = rateSlot(settings.sampleRate);
  if (slot < 0 || settings.channelMode < 0 || settings.channelMode > 3) return 1;
  bs->settings = settings;
  bs->version = slot / 3;
  bs->sampleRateIndex = slot % 3;
  bs->granules = granulesPerFrame(bs->version);
  bs->channels = settings.channelMode == kModeSingleChannel ? 1 : 2;
  const bool mpeg1 = bs->version == kMpeg1;
  bs->sideBits = mpeg1 ? (bs->channels == 1 ? 136 : 256) : (bs->channels == 1 ? 72 : 136);
  bs->crcBits = settings.errorProtection ? 16 : 0;
  bs->hdsiBits = 32 + bs->crcBits + bs->sideBits;
  bs->mainDataBegin = 0;
  bs->hdsi = makeBitBuffer(kHdsiBufferBits);
  bs->main = makeBitBuffer(kMainBufferBits);
  mp3InitBitMux(&bs->mux);
  return bs->hdsi && bs->main ? 0 : 1;
}

int BSWrite(BitstreamWriter* bs, const FrameInput& frame, FrameResult* result, std::uint8_t* out,
            std::size_t outCapacity, std::size_t* produced) {
  if (!bs || !bs->hdsi || !bs->main || !result || !produced) return 1;
  *produced = 0;
  *result = FrameResult{};
  for (int gr = 0; gr < bs->granules; ++gr) {
    for (int ch = 0; ch < bs->channels; ++ch) {
      if (!frame.granules[gr][ch]) return 1;
    }
  }
  const std::int32_t bytes = static_cast<std::int32_t>(frameBytes(bs->settings.sampleRate, frame.bitrateIndex, frame.padding));
  if (bytes == 0) return 1;
  const int frameBits = bytes * 8;
  const int hdsi = static_cast<int>(bs->hdsiBits);
  int reservoirLimit = bs->version == kMpeg1 ? 4088 : 2040;
  if (frameBits + reservoirLimit > kMaxFrameMainBits) {
    const int room = (kMaxFrameMainBits - frameBits) / 8;
    reservoirLimit = (room > 0 ? room : 0) * 8;
  }
  const int oflBits = frame.ofl ? kOflBits : 0;
  if (frame.ancillaryBits < oflBits || frame.ancillaryBits % 8 != 0) return 1;

  int part23[2][2] = {};
  int used = 0;
  for (int gr = 0; gr < bs->granules; ++gr) {
    for (int ch = 0; ch < bs->channels; ++ch) {
      part23[gr][ch] = frame.granules[gr][ch]->part2_3_length;
      if (part23[gr][ch] < 0 || part23[gr][ch] > kMaxPart23) return 1;
      const int coded = codedBits(bs, *frame.granules[gr][ch]);
      if (coded < 0 || coded > part23[gr][ch]) return 1;
      used += part23[gr][ch];
    }
  }

  // Spend what the reservoir cannot keep on stuffing inside the granules, then as zero bits.
  const int spare = frameBits + 8 * bs->mainDataBegin - frame.ancillaryBits - reservoirLimit - used - hdsi;
  int trailing = 0;
  if (spare <= 0) {
    trailing = (8 - used % 8) % 8;
  } else {
    int left = spare;
    int settled = 0;
    for (int gr = 0; gr < bs->granules; ++gr) {
      for (int ch = 0; ch < bs->channels; ++ch) {
        int& length = part23[gr][ch];
        int add = left;
        if (kMaxPart23 - length < add) add = kMaxPart23 - length;
        if (kMaxFrameMainBits - hdsi - settled - length < add) add = kMaxFrameMainBits - hdsi - settled - length;
        add = add < 0 ? 0 : add / 4 * 4;
        length += add;
        left -= add;
        settled += length;
      }
    }
    used += spare - left;
    trailing = left;
  }
  const int available = frameBits - hdsi + 8 * bs->mainDataBegin;
  if (used + trailing + frame.ancillaryBits > available) return 1;
  // Refuse before writing anything, so a refused frame leaves the stream as it was.
  const std::uint32_t mainRoom = bs->main->capacityBits - mp3GetBitsAvail(bs->main.get());
  const std::uint32_t hdsiRoom = bs->hdsi->capacityBits - mp3GetBitsAvail(bs->hdsi.get());
  if (bs->mux.held == kMuxSlots || hdsiRoom < bs->hdsiBits ||
      mainRoom < static_cast<std::uint32_t>(used + trailing + frame.ancillaryBits)) {
    return 1;
  }

  result->mainDataBegin = bs->mainDataBegin;
  writeHeader(bs, frame);
  writeSideInfo(bs, frame, part23);
  for (int gr = 0; gr < bs->granules; ++gr) {
    for (int ch = 0; ch < bs->channels; ++ch) {
      writeGranuleMain(bs, *frame.granules[gr][ch], part23[gr][ch]);
      result->part2_3_length[gr][ch] = part23[gr][ch];
    }
  }
  bs->mainDataBegin += (frameBits - hdsi) / 8 - (trailing + frame.ancillaryBits + used) / 8;
  for (int left = trailing; left > 0;) {
    const int n = left < 32 ? left : 32;
    mp3WriteBits(bs->main.get(), 0, static_cast<std::uint32_t>(n));
    left -= n;
  }
  if (frame.ofl) {
    result->oflOffset = streamPosition(bs, mp3GetBitsAvail(bs->main.get()) / 8, static_cast<std::uint32_t>(frameBits - hdsi) / 8);
    static constexpr std::uint8_t kOfl[9] = {0xB4, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    std::uint32_t crc = 0xFF;
    for (std::uint8_t b : kOfl) {
      mp3WriteBits(bs->main.get(), b, 8);
      crc = mp3CrcAdvance(0x45, 0x80, crc, b);
    }
    mp3WriteBits(bs->main.get(), crc, 8);
  }
  const std::size_t ancBytes = static_cast<std::size_t>((frame.ancillaryBits - oflBits) / 8);
  result->ancillaryOffset = streamPosition(bs, mp3GetBitsAvail(bs->main.get()) / 8,
                                           static_cast<std::uint32_t>(frameBits - hdsi) / 8);
  result->ancillaryConsumed = writeAncillary(bs, frame, ancBytes);

  const std::uint32_t mainBits = static_cast<std::uint32_t>(frameBits - hdsi);
  result->bitsWritten = mainBits + bs->hdsiBits;
  const long emitted = mp3ComposeMuxFrames(&bs->mux, bs->hdsi.get(), bs->main.get(), bs->settings.errorProtection,
                                           bs->hdsiBits, mainBits, out, outCapacity);
  if (emitted < 0) return 1;
  *produced = static_cast<std::size_t>(emitted);
  return 0;
}

int BSFlush(BitstreamWriter* bs, std::uint8_t* out, std::size_t outCapacity, std::size_t* produced) {
  if (!bs || !produced) return 1;
  const long emitted = mp3FlushMuxFrames(&bs->mux, bs->hdsi.get(), bs->main.get(), bs->settings.errorProtection,
                                         out, outCapacity);
  if (emitted < 0) return 1;
  *produced = static_cast<std::size_t>(emitted);
  return bs->mux.held == 0 ? 0 : 1;
}

std::uint32_t GetHdSiBits(const BitstreamWriter* bs) { return bs ? bs->hdsiBits : 0; }

FrameStats mp3GetFrameStats(const BitstreamWriter* bs) {
  if (!bs) return {};
  return {bs->mux.framesEmitted, bs->mux.frameLengths.data()};
}

}  // namespace quillion::mp3enc
