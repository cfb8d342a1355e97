// SPDX-License-Identifier: GPL-2.0-or-later
#include "es_probes.h"

namespace quillion::daskin {

namespace {

// kbit/s by [MPEG-1 or not][layer I, II, III][index] (11172-3 2.4.2.3, 13818-3 2.4.2.3).
constexpr int kBitRates[2][3][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};
constexpr int kSampleRates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};

// AC-3 nominal bit rates by frmsizecod / 2 (A/52 table 5.18).
constexpr int kAc3BitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kAc3SampleRates[3] = {48000, 44100, 32000};

bool mpegAudioHeaderValid(std::uint32_t h) {
  return (h >> 20) == 0xFFF && ((h >> 17) & 3) != 0 && ((h >> 12) & 0xF) <= 14 &&
         ((h >> 10) & 3) <= 2;
}

bool adtsHeaderValid(std::uint32_t h) {
  return (h >> 20) == 0xFFF && ((h >> 17) & 3) == 0 && ((h >> 10) & 0xF) <= 12;
}

}  // namespace

void recordElementary(Context& ctx, std::uint32_t streamType, std::uint32_t kind,
                      std::uint8_t streamId, std::uint8_t subStreamId) {
  ctx.fileInfo.programs = 1;
  ctx.fileInfo.system_stream_type = kElementary;
  ProgramRecord& program = ctx.programs[0];
  program.info.streams = 1;
  stream_info_struct& s = program.streams[0].info;
  s = stream_info_struct{};
  s.stream_type = streamType;
  s.kind = kind;
  s.stream_id = streamId;
  s.sub_stream_id = subStreamId;
}

int mpegAudioFrameLength(std::uint32_t h) {
  if (!mpegAudioHeaderValid(h)) return -1;
  const int mpeg1 = (h >> 19) & 1;
  const int layer = 4 - static_cast<int>((h >> 17) & 3);  // 1, 2 or 3
  const int rate = kBitRates[mpeg1][layer - 1][(h >> 12) & 0xF] * 1000;
  const int sampleRate = kSampleRates[mpeg1][(h >> 10) & 3];
  const int padding = (h >> 9) & 1;
  if (rate == 0) return 0;
  if (layer == 1) return (12 * rate / sampleRate + padding) * 4;
  if (layer == 3 && !mpeg1) return 72 * rate / sampleRate + padding;
  return 144 * rate / sampleRate + padding;
}

int ac3FrameLength(unsigned fscod, unsigned frmsizecod) {
  if (fscod > 2 || frmsizecod > 37) return -1;
  const int sampleRate = kAc3SampleRates[fscod];
  // 1536 samples a frame, counted in 16-bit words; 44.1 kHz frames alternate by one word.
  int words = kAc3BitRates[frmsizecod / 2] * 1000 * 1536 / (sampleRate * 16);
  if (fscod == 1) words += static_cast<int>(frmsizecod & 1);
  return words * 2;
}

int probeMpegVideo(BitReader& r, std::uint32_t first, std::uint64_t limit) {
  if (first != 0x000001B3) return kNotThis;
  r.skipBits(32);
  // Sequence header (13818-2 6.2.2.1): size, aspect ratio, frame rate, bit rate, marker.
  const std::uint32_t size = r.get(32);
  const std::uint32_t aspect = (size >> 4) & 0xF;
  if (aspect < 1 || aspect > 14) return kRefuted;
  if (r.get(18) == 0) return kRefuted;
  if ((r.get(6) & 0x20) == 0) return kRefuted;
  r.skipBits(8);
  if (r.end()) return kRefuted;
  bool sequenceExtension = false;
  std::uint32_t w = r.show(32);
  while (w != 0x00000100) {
    if (r.end() || r.position() >= limit) return kRefuted;
    if (w == 0x000001B5) {
      r.skipBits(32);
      if (r.show(4) == 1) sequenceExtension = true;
    } else {
      r.skipBits(8);
    }
    w = r.show(32);
  }
  r.skipBits(32);
  const std::uint32_t type = (r.get(32) >> 19) & 7;
  if (type < 1 || type > 4 || r.failed()) return kRefuted;
  // MPEG-2 is told by its sequence extension alone; the constrained-parameters flag of an
  // MPEG-1 header says nothing about it.
  recordElementary(r.context(), sequenceExtension ? 2 : 1, DEMUX_KIND_VIDEO, 0xE0, 0);
  return kFound;
}

int probeH264(BitReader& r, std::uint32_t first) {
  if (first != 1) return kNotThis;
  r.skipBits(32);
  if (r.get(1) != 0) return kRefuted;
  const std::uint32_t refIdc = r.get(2);
  const std::uint32_t type = r.get(5);
  if (refIdc != 0) {
    if (type != 7) return kRefuted;
    r.skipBits(8);  // profile_idc
    if ((r.get(8) & 0x1F) != 0) return kRefuted;
    r.skipBits(8);  // level_idc
  } else if (type != 9 && type != 6) {
    return kRefuted;
  }
  if (r.failed()) return kRefuted;
  recordElementary(r.context(), 27, DEMUX_KIND_VIDEO, 0xE0, 0);
  return kFound;
}

int probeAdts(BitReader& r, std::uint32_t first) {
  if (!adtsHeaderValid(first)) return kNotThis;
  const std::uint64_t a = r.get(32);
  const std::uint64_t b = r.get(16);
  const auto length = static_cast<std::uint32_t>(((a << 16 | b) >> 5) & 0x1FFF);
  // A frame holds at least its own header: 7 bytes, 9 with the CRC (13818-7 6.2).
  const std::uint32_t header = (first & 0x10000) ? 7 : 9;
  if (length < header || r.end()) return kRefuted;
  r.skipBytes(length - 6);
  const std::uint32_t next = r.show(32);
  if (r.end() || (next & 0xFFFEFC00) != (first & 0xFFFEFC00) || !adtsHeaderValid(next))
    return kRefuted;
  recordElementary(r.context(), ((first >> 19) & 1) ? 15 : 17, DEMUX_KIND_MPEG_AUDIO, 0xC0, 0);
  return kFound;
}

int probeMpegAudio(BitReader& r, std::uint32_t first) {
  const int length = mpegAudioFrameLength(first);
  if (length < 0) return kNotThis;
  r.skipBytes(static_cast<std::uint64_t>(length));
  const std::uint32_t next = r.show(32);
  if (r.end() || (next & 0xFFFE0C00) != (first & 0xFFFE0C00) || !mpegAudioHeaderValid(next))
    return kRefuted;
  recordElementary(r.context(), ((first >> 19) & 1) ? 3 : 4, DEMUX_KIND_MPEG_AUDIO, 0xC0, 0);
  return kFound;
}

}  // namespace quillion::daskin
