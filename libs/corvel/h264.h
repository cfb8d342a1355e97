// SPDX-License-Identifier: GPL-2.0-or-later
// The parts of H.264 headers the multiplexer needs: the sequence parameter set (whole, with
// the high-profile fields and the VUI timing and NAL HRD), the picture parameter set's
// picture-order flag, slice headers, and the picture order count of each picture.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillion::corvel {

struct H264Sps {
  std::uint32_t profileIdc = 0;
  std::uint32_t levelIdc = 0;
  std::uint32_t chromaFormatIdc = 1;
  bool separateColourPlanes = false;
  std::uint32_t log2MaxFrameNum = 4;
  std::uint32_t pocType = 0;
  std::uint32_t log2MaxPocLsb = 4;
  bool deltaPicOrderAlwaysZero = false;
  std::int32_t offsetForNonRefPic = 0;
  std::int32_t offsetForTopToBottomField = 0;
  std::uint32_t refFramesInPocCycle = 0;
  std::int32_t offsetForRefFrame[256] = {};
  bool frameMbsOnly = true;
  // VUI.
  bool timingInfo = false;
  std::uint32_t unitsInTick = 0;
  std::uint32_t timeScale = 0;
  bool nalHrd = false;
  std::uint64_t hrdByteRate = 0;  // bytes per second
  std::uint64_t hrdCpbBytes = 0;
};

// `rbsp` starts after the NAL header byte. False when the set is cut short or out of range.
bool parseSps(const std::uint8_t* rbsp, std::size_t size, H264Sps& sps);
// The picture parameter set's pic_order_present_flag; false when unreadable.
bool parsePpsPicOrderPresent(const std::uint8_t* rbsp, std::size_t size, bool& picOrderPresent);

struct H264Slice {
  std::uint32_t nalUnitType = 0;
  std::uint32_t nalRefIdc = 0;
  std::uint32_t firstMb = 0;
  std::uint32_t sliceType = 0;  // 0 P, 1 B, 2 I, 3 SP, 4 SI
  std::uint32_t ppsId = 0;
  std::uint32_t frameNum = 0;
  bool fieldPic = false;
  bool bottomField = false;
  std::uint32_t idrPicId = 0;
  std::uint32_t pocLsb = 0;
  std::int32_t deltaPocBottom = 0;
  std::int32_t deltaPoc[2] = {};
  bool idr() const { return nalUnitType == 5; }
};

bool parseSliceHeader(const std::uint8_t* rbsp, std::size_t size, std::uint32_t nalHeader,
                      const H264Sps& sps, bool picOrderPresent, H264Slice& slice);
// The rule that a slice begins a new picture, against the previous picture's first slice.
bool startsNewPicture(const H264Slice& previous, const H264Slice& slice, const H264Sps& sps);

// Picture order count of successive pictures, for the three picture-order types.
class PocCounter {
 public:
  std::int32_t next(const H264Slice& slice, const H264Sps& sps);

 private:
  std::int32_t prevPocMsb_ = 0;
  std::uint32_t prevPocLsb_ = 0;
  std::int64_t prevFrameNumOffset_ = 0;
  std::uint32_t prevFrameNum_ = 0;
};

}  // namespace quillion::corvel
