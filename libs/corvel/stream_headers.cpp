// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_headers.h"

#include <algorithm>
#include <cstring>

#include "bufstream.h"
#include "h264.h"

namespace quillion::corvel {

const double kFrameRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                               50, 60000.0 / 1001, 60};

namespace {

// Up to `wanted` bytes at the stream's start without taking them; `got` says how many.
const std::uint8_t* lookAhead(bufstream* es, std::uint32_t wanted, std::uint32_t& got) {
  if (const std::uint8_t* p = es->request(es, wanted)) {
    got = wanted;
    return p;
  }
  const std::uint8_t* p = es->request(es, 1);
  if (!p) return nullptr;
  got = std::min(es->usable_bytes(es), wanted);
  return got > 0 ? p : nullptr;
}

// kbit/s by bitrate_index 1..14 for layers I, II, III (ISO/IEC 11172-3).
constexpr std::uint32_t kMpegAudioRates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};
constexpr double kMpegAudioKHz[3] = {44.1, 48, 32};

// 16-bit words per AC-3 sync frame by fscod (48, 44.1, 32 kHz) and frmsizecod / 2 (ATSC A/52).
constexpr std::uint32_t kAc3Words[3][19] = {
    {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280},
    {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487, 557, 696, 835, 975, 1114, 1253,
     1393},
    {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 1344, 1536, 1728,
     1920},
};
constexpr std::uint32_t kAc3KbitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                             192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr double kAc3Hz[3] = {48000, 44100, 32000};

constexpr double kAdtsKHz[13] = {96, 88.2, 64, 48, 44.1, 32, 24, 22.05, 16, 12, 11.025, 8, 7.35};

// AAC in ADTS frames: each frame says its own length; the rate comes from the caller.
std::int32_t adts(const std::uint8_t* p, std::uint32_t givenBitRate, AudioFacts& f) {
  const std::uint32_t samplingIndex = (p[2] >> 2) & 0x0F;
  if (samplingIndex > 12 || givenBitRate == 0) return 16;
  f.coding = (p[1] & 0x08) ? kAudioAacId1 : kAudioAacId0;
  f.samplingIndex = static_cast<std::int32_t>(samplingIndex);
  f.frameSize = f.frameSizeAlt = f.maxFrameSize = 0;
  f.frameDuration = 27648000.0 / kAdtsKHz[samplingIndex];
  f.bitRate = givenBitRate;
  return 0;
}

std::int32_t mpegAudio(const std::uint8_t* p, AudioFacts& f) {
  const std::uint32_t layerBits = (p[1] >> 1) & 3;
  if (layerBits == 0) return 16;              // ADTS, told apart before this
  if ((p[1] & 0x08) == 0) return 16;          // MPEG-1 sampling rates only
  const std::uint32_t layer = 4 - layerBits;  // 1, 2, 3
  const std::uint32_t rateIndex = p[2] >> 4;
  const std::uint32_t samplingIndex = (p[2] >> 2) & 3;
  if (rateIndex == 0 || rateIndex == 15 || samplingIndex == 3) return 16;
  const std::uint32_t kbit = kMpegAudioRates[layer - 1][rateIndex];
  const double khz = kMpegAudioKHz[samplingIndex];
  f.coding = static_cast<std::int32_t>(layer);
  f.samplingIndex = static_cast<std::int32_t>(samplingIndex);
  const auto base = static_cast<std::uint32_t>(kbit / khz * (layer == 1 ? 12 : 144));
  f.frameSize = layer == 1 ? base * 4 : base;
  f.frameSizeAlt = f.frameSize + (layer == 1 ? 4 : 1);
  f.maxFrameSize = f.frameSizeAlt;
  f.frameDuration = (layer == 1 ? 10368000.0 : 31104000.0) / khz;
  f.bitRate = kbit * 1000;
  return 0;
}

std::int32_t ac3(const std::uint8_t* p, bool swapped, AudioFacts& f) {
  const std::uint8_t rateByte = swapped ? p[5] : p[4];
  const std::uint32_t fscod = rateByte >> 6;
  const std::uint32_t sizeCode = (rateByte & 0x3F) >> 1;
  if (fscod == 3 || sizeCode >= 19) return 16;
  f.coding = kAudioAc3;
  f.byteSwapped = swapped;
  f.samplingIndex = static_cast<std::int32_t>(fscod);
  f.frameSize = 2 * kAc3Words[fscod][sizeCode];
  f.frameSizeAlt = f.frameSize + 2;
  f.maxFrameSize = f.frameSize + 2;
  f.bitRate = kAc3KbitRates[sizeCode] * 1000;
  f.frameDuration = 1536.0 * 27000000.0 / kAc3Hz[fscod];
  return 0;
}

std::int32_t lpcm(const std::uint8_t* p, AudioFacts& f) {
  const std::uint8_t b = p[4];
  const std::uint32_t sampling = b & 1;
  const std::uint32_t emphasis = (b >> 1) & 1;
  const std::uint32_t mute = (b >> 7) & 1;
  const std::uint32_t quantisation = (b >> 5) & 3;
  const std::uint32_t channels = ((b >> 2) & 7) + 1;
  if (quantisation == 3) return 16;
  const std::uint32_t bits = 16 + 4 * quantisation;
  f.coding = kAudioLpcm;
  f.frameSize = bits * (sampling ? 20 : 10) * channels;
  f.frameSizeAlt = f.maxFrameSize = f.frameSize;
  f.bitRate = bits * (sampling ? 96000 : 48000) * channels;
  f.frameDuration = 45000;
  f.samplingIndex = static_cast<std::int32_t>(sampling);
  const std::uint8_t image[7] = {
      0,
      0,
      0,
      0,
      static_cast<std::uint8_t>(emphasis << 7 | mute << 6),
      static_cast<std::uint8_t>(quantisation << 6 | sampling << 4 | (channels - 1)),
      p[5]};
  std::memcpy(f.lpcmHeader, image, sizeof image);
  f.headerBytes = 8;
  return 0;
}

}  // namespace

std::int32_t analyseAudioHeader(bufstream* es, std::uint32_t givenBitRate, AudioFacts& facts) {
  facts = AudioFacts{};
  std::uint32_t got = 0;
  const std::uint8_t* p = lookAhead(es, 84, got);
  if (!p || got < 8) return 16;
  std::int32_t result = 16;
  if (p[0] == 0xFF && (p[1] & 0xF6) == 0xF0)
    result = adts(p, givenBitRate, facts);
  else if (p[0] == 0xFF && (p[1] & 0xF0) == 0xF0)
    result = mpegAudio(p, facts);
  else if (p[0] == 0x0B && p[1] == 0x77)
    result = ac3(p, false, facts);
  else if (p[0] == 0x77 && p[1] == 0x0B)
    result = ac3(p, true, facts);
  else if (std::memcmp(p, "LPCM", 4) == 0)
    result = lpcm(p, facts);
  if (result != 0) return result;
  // The first frame's opening bytes, as an index of the stream keeps them.
  if (got > facts.headerBytes) {
    facts.firstBytesSize =
        std::min<std::uint32_t>(got - facts.headerBytes, sizeof facts.firstBytes);
    std::memcpy(facts.firstBytes, p + facts.headerBytes, facts.firstBytesSize);
  }
  return 0;
}

namespace {

// Frame-rate code of a rate: the MPEG code whose rate rounds the same, or 0.
std::int32_t frameRateCodeOf(double rate) {
  switch (static_cast<int>(rate + 0.5)) {
    case 24:
      return rate < 24.0 ? 1 : 2;
    case 25:
      return 3;
    case 30:
      return rate < 30.0 ? 4 : 5;
    case 50:
      return 6;
    case 60:
      return rate < 60.0 ? 7 : 8;
    default:
      return 0;
  }
}

std::int32_t analyseH264(const std::uint8_t* p, std::uint32_t got, std::uint32_t givenBitRate,
                         VideoFacts& facts) {
  if (p[4] & 0x80) return 16;
  // The sequence parameter set, wherever it lies in the window.
  std::uint32_t at = 0;
  bool found = false;
  for (std::uint32_t i = 0; i + 3 < got && !found; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x9F) == 7) {
      at = i + 3;
      found = true;
    }
  }
  if (!found) return 16;
  std::uint32_t end = at + 1;
  while (end + 2 < got && !(p[end] == 0 && p[end + 1] == 0 && p[end + 2] <= 1)) ++end;
  if (end + 2 >= got) end = got;
  H264Sps sps;
  if (!parseSps(p + at + 1, end - at - 1, sps)) return 16;
  const std::uint32_t imageStart = at >= 4 ? at - 4 : 0;
  facts.sequenceHeaderSize = std::min<std::uint32_t>(end - imageStart, 256);
  std::memcpy(facts.sequenceHeader, p + imageStart, facts.sequenceHeaderSize);
  facts.coding = VideoCoding::h264;
  facts.profileAndLevel = (sps.profileIdc << 8) | sps.levelIdc;
  facts.progressive = sps.frameMbsOnly;
  std::uint64_t bitRate = givenBitRate;
  if (bitRate == 0) {
    if (!sps.nalHrd) return 16;
    bitRate = sps.hrdByteRate * 8;
  }
  // A frame lasts two ticks of the VUI clock.
  if (!sps.timingInfo || sps.unitsInTick == 0 || sps.timeScale == 0) return 16;
  facts.frameRate = static_cast<double>(sps.timeScale) / (2.0 * sps.unitsInTick);
  if (facts.frameRate < 1 || facts.frameRate > 300) return 16;
  facts.frameRateCode = frameRateCodeOf(facts.frameRate);
  facts.bitRate400 =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(bitRate / 400, 0xFFFFFFFFu));
  if (facts.bitRate400 == 0) return 16;
  facts.vbvSize = sps.hrdCpbBytes ? static_cast<std::uint32_t>(sps.hrdCpbBytes / 2048)
                                  : static_cast<std::uint32_t>((bitRate / 8 + 2047) / 2048);
  facts.cpbBytes = sps.hrdCpbBytes;
  facts.framePeriod = static_cast<std::uint64_t>(27000000.0 / facts.frameRate);
  facts.halfPeriod = facts.framePeriod / 2;
  facts.periodAndHalf = facts.framePeriod + facts.halfPeriod;
  return 0;
}

}  // namespace

std::int32_t analyseVideoHeader(bufstream* es, std::uint32_t window, std::uint32_t givenBitRate,
                                VideoFacts& facts) {
  facts = VideoFacts{};
  std::uint32_t got = 0;
  const std::uint8_t* p = lookAhead(es, std::min<std::uint32_t>(window, 512), got);
  if (!p || got < 12) return 16;
  if (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1)
    return analyseH264(p, got, givenBitRate, facts);
  if (!(p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB3)) return 16;
  // The header image runs to the group start code (at most 256 bytes).
  std::uint32_t end = 4;
  const std::uint8_t* extension = nullptr;
  while (end + 3 < got && end < 256) {
    if (p[end] == 0 && p[end + 1] == 0 && p[end + 2] == 1) {
      if (p[end + 3] == 0xB8) break;
      if (p[end + 3] == 0xB5 && !extension && end + 9 < got && (p[end + 4] >> 4) == 1)
        extension = p + end + 4;
    }
    ++end;
  }
  if (end + 3 >= got && got < 256) end = got;
  facts.sequenceHeaderSize = std::min<std::uint32_t>(end, 256);
  std::memcpy(facts.sequenceHeader, p, facts.sequenceHeaderSize);

  facts.horizontalSize = (std::uint32_t{p[4]} << 4) | (p[5] >> 4);
  facts.frameRateCode = p[7] & 0x0F;
  std::uint32_t bitRate = (std::uint32_t{p[8]} << 10) | (std::uint32_t{p[9]} << 2) | (p[10] >> 6);
  std::uint32_t vbv = ((std::uint32_t{p[10]} & 0x1F) << 5) | (p[11] >> 3);
  facts.constrained = ((p[11] >> 2) & 1) != 0;
  const bool variable = bitRate == 0x3FFFF;
  if (extension) {
    const std::uint8_t* e = extension;
    facts.coding = VideoCoding::mpeg2;
    facts.profileAndLevel = ((std::uint32_t{e[0]} & 0x0F) << 4) | (e[1] >> 4);
    facts.progressive = ((e[1] >> 3) & 1) != 0;
    facts.horizontalSize |= (((std::uint32_t{e[1]} & 1) << 1) | (e[2] >> 7)) << 12;
    bitRate |= (((std::uint32_t{e[2]} & 0x1F) << 7) | (e[3] >> 1)) << 18;
    vbv |= std::uint32_t{e[4]} << 10;
  } else {
    facts.coding = VideoCoding::mpeg1;
    facts.progressive = true;
  }
  if (variable) {
    if (givenBitRate == 0) return 16;
    bitRate = givenBitRate / 400;
  }
  if (facts.frameRateCode < 1 || facts.frameRateCode > 8 || bitRate == 0) return 16;
  facts.bitRate400 = bitRate;
  facts.vbvSize = vbv;
  facts.frameRate = kFrameRates[facts.frameRateCode];
  facts.framePeriod = static_cast<std::uint64_t>(27000000.0 / facts.frameRate);
  facts.halfPeriod = facts.framePeriod / 2;
  facts.periodAndHalf = facts.framePeriod + facts.halfPeriod;
  return 0;
}

}  // namespace quillion::corvel
