// SPDX-License-Identifier: GPL-2.0-or-later
#include "h264.h"

#include <algorithm>

#include "bit_reader.h"

namespace quillion::corvel {
namespace {

bool highProfile(std::uint32_t p) {
  switch (p) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

void skipScalingList(BitReader& r, int size) {
  std::int32_t last = 8, next = 8;
  for (int j = 0; j < size; ++j) {
    if (next != 0) next = (last + r.se() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

void parseHrd(BitReader& r, H264Sps& sps) {
  const std::uint32_t count = r.ue() + 1;
  const std::uint32_t rateScale = r.bits(4);
  const std::uint32_t sizeScale = r.bits(4);
  for (std::uint32_t i = 0; i < count && i < 32 && !r.ended(); ++i) {
    const std::uint64_t rate = std::uint64_t{r.ue()} + 1;
    const std::uint64_t size = std::uint64_t{r.ue()} + 1;
    (void)r.bit();
    sps.hrdByteRate = (rate << (6 + rateScale)) / 8;
    sps.hrdCpbBytes = (size << (4 + sizeScale)) / 8;
  }
  (void)r.bits(20);
}

void parseVui(BitReader& r, H264Sps& sps) {
  if (r.bit() && r.bits(8) == 255) (void)r.bits(32);  // aspect ratio, extended
  if (r.bit()) (void)r.bit();                         // overscan
  if (r.bit()) {                                      // video signal type
    (void)r.bits(4);
    if (r.bit()) (void)r.bits(24);
  }
  if (r.bit()) {  // chroma location
    (void)r.ue();
    (void)r.ue();
  }
  sps.timingInfo = r.bit() != 0;
  if (sps.timingInfo) {
    sps.unitsInTick = r.bits(32);
    sps.timeScale = r.bits(32);
    (void)r.bit();
  }
  sps.nalHrd = r.bit() != 0;
  if (sps.nalHrd) parseHrd(r, sps);
}

}  // namespace

bool parseSps(const std::uint8_t* rbsp, std::size_t size, H264Sps& sps) {
  sps = H264Sps{};
  BitReader r(rbsp, size);
  sps.profileIdc = r.bits(8);
  (void)r.bits(8);
  sps.levelIdc = r.bits(8);
  if (r.ue() > 31) return false;
  if (highProfile(sps.profileIdc)) {
    sps.chromaFormatIdc = r.ue();
    if (sps.chromaFormatIdc > 3) return false;
    if (sps.chromaFormatIdc == 3) sps.separateColourPlanes = r.bit() != 0;
    (void)r.ue();
    (void)r.ue();
    (void)r.bit();
    if (r.bit()) {
      const int lists = sps.chromaFormatIdc != 3 ? 8 : 12;
      for (int i = 0; i < lists; ++i)
        if (r.bit()) skipScalingList(r, i < 6 ? 16 : 64);
    }
  }
  sps.log2MaxFrameNum = r.ue() + 4;
  if (sps.log2MaxFrameNum > 16) return false;
  sps.pocType = r.ue();
  if (sps.pocType == 0) {
    sps.log2MaxPocLsb = r.ue() + 4;
    if (sps.log2MaxPocLsb > 16) return false;
  } else if (sps.pocType == 1) {
    sps.deltaPicOrderAlwaysZero = r.bit() != 0;
    sps.offsetForNonRefPic = r.se();
    sps.offsetForTopToBottomField = r.se();
    sps.refFramesInPocCycle = r.ue();
    if (sps.refFramesInPocCycle > 255) return false;
    for (std::uint32_t i = 0; i < sps.refFramesInPocCycle; ++i) sps.offsetForRefFrame[i] = r.se();
  } else if (sps.pocType != 2) {
    return false;
  }
  (void)r.ue();  // max_num_ref_frames
  (void)r.bit();
  (void)r.ue();  // picture width and height in macroblocks
  (void)r.ue();
  sps.frameMbsOnly = r.bit() != 0;
  if (!sps.frameMbsOnly) (void)r.bit();
  (void)r.bit();
  if (r.bit()) {
    for (int i = 0; i < 4; ++i) (void)r.ue();
  }
  if (r.bit()) parseVui(r, sps);
  return !r.ended();
}

bool parsePpsPicOrderPresent(const std::uint8_t* rbsp, std::size_t size, bool& picOrderPresent) {
  BitReader r(rbsp, size);
  (void)r.ue();
  (void)r.ue();
  (void)r.bit();
  picOrderPresent = r.bit() != 0;
  return !r.ended();
}

bool parseSliceHeader(const std::uint8_t* rbsp, std::size_t size, std::uint32_t nalHeader,
                      const H264Sps& sps, bool picOrderPresent, H264Slice& s) {
  s = H264Slice{};
  s.nalUnitType = nalHeader & 31;
  s.nalRefIdc = (nalHeader >> 5) & 3;
  BitReader r(rbsp, size);
  s.firstMb = r.ue();
  s.sliceType = r.ue();
  if (s.sliceType > 9) return false;
  s.sliceType %= 5;
  s.ppsId = r.ue();
  if (sps.separateColourPlanes) (void)r.bits(2);
  s.frameNum = r.bits(static_cast<int>(sps.log2MaxFrameNum));
  if (!sps.frameMbsOnly) {
    s.fieldPic = r.bit() != 0;
    if (s.fieldPic) s.bottomField = r.bit() != 0;
  }
  if (s.idr()) s.idrPicId = r.ue();
  if (sps.pocType == 0) {
    s.pocLsb = r.bits(static_cast<int>(sps.log2MaxPocLsb));
    if (picOrderPresent && !s.fieldPic) s.deltaPocBottom = r.se();
  }
  if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
    s.deltaPoc[0] = r.se();
    if (picOrderPresent && !s.fieldPic) s.deltaPoc[1] = r.se();
  }
  return !r.ended();
}

bool startsNewPicture(const H264Slice& a, const H264Slice& b, const H264Sps& sps) {
  if (a.frameNum != b.frameNum || a.ppsId != b.ppsId || a.fieldPic != b.fieldPic ||
      a.bottomField != b.bottomField)
    return true;
  if (a.nalRefIdc != b.nalRefIdc && (a.nalRefIdc == 0 || b.nalRefIdc == 0)) return true;
  if (sps.pocType == 0 && (a.pocLsb != b.pocLsb || a.deltaPocBottom != b.deltaPocBottom))
    return true;
  if (sps.pocType == 1 && (a.deltaPoc[0] != b.deltaPoc[0] || a.deltaPoc[1] != b.deltaPoc[1]))
    return true;
  if (a.idr() != b.idr()) return true;
  return a.idr() && b.idr() && a.idrPicId != b.idrPicId;
}

std::int32_t PocCounter::next(const H264Slice& s, const H264Sps& sps) {
  const std::int64_t maxFrameNum = std::int64_t{1} << sps.log2MaxFrameNum;
  if (sps.pocType == 0) {
    if (s.idr()) {
      prevPocMsb_ = 0;
      prevPocLsb_ = 0;
    }
    const std::int32_t maxLsb = 1 << sps.log2MaxPocLsb;
    std::int32_t msb = prevPocMsb_;
    const auto lsb = static_cast<std::int32_t>(s.pocLsb);
    const auto prevLsb = static_cast<std::int32_t>(prevPocLsb_);
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
      msb += maxLsb;
    else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
      msb -= maxLsb;
    const std::int32_t top = msb + lsb;
    const std::int32_t bottom = s.fieldPic ? top : top + s.deltaPocBottom;
    if (s.nalRefIdc != 0) {
      prevPocMsb_ = msb;
      prevPocLsb_ = s.pocLsb;
    }
    return std::min(top, bottom);
  }
  std::int64_t offset = 0;
  if (!s.idr()) offset = prevFrameNumOffset_ + (prevFrameNum_ > s.frameNum ? maxFrameNum : 0);
  prevFrameNumOffset_ = offset;
  prevFrameNum_ = s.frameNum;
  if (sps.pocType == 2) {
    if (s.idr()) return 0;
    const std::int64_t v = 2 * (offset + s.frameNum) - (s.nalRefIdc == 0 ? 1 : 0);
    return static_cast<std::int32_t>(v);
  }
  std::int64_t abs = sps.refFramesInPocCycle != 0 ? offset + s.frameNum : 0;
  if (s.nalRefIdc == 0 && abs > 0) --abs;
  std::int64_t expected = 0;
  if (abs > 0) {
    std::int64_t cycleDelta = 0;
    for (std::uint32_t i = 0; i < sps.refFramesInPocCycle; ++i)
      cycleDelta += sps.offsetForRefFrame[i];
    const std::int64_t cycles = (abs - 1) / sps.refFramesInPocCycle;
    const std::int64_t inCycle = (abs - 1) % sps.refFramesInPocCycle;
    expected = cycles * cycleDelta;
    for (std::int64_t i = 0; i <= inCycle; ++i) expected += sps.offsetForRefFrame[i];
  }
  if (s.nalRefIdc == 0) expected += sps.offsetForNonRefPic;
  const std::int64_t top = expected + s.deltaPoc[0];
  const std::int64_t bottom = top + sps.offsetForTopToBottomField + s.deltaPoc[1];
  return static_cast<std::int32_t>(s.fieldPic ? (s.bottomField ? bottom : top)
                                              : std::min(top, bottom));
}

}  // namespace quillion::corvel
