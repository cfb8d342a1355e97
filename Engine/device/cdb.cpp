// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/cdb.h"

#include <algorithm>

#include "common/byte_order.h"

namespace quillion::cdb {
namespace {

Block make(std::uint8_t opcode) {
  Block b{};
  b[0] = opcode;
  return b;
}

// Allocation or parameter-list length in bytes 7-8, the place most MMC commands keep it.
Block withLength78(std::uint8_t opcode, std::uint16_t length) {
  Block b = make(opcode);
  be::put16(b, 7, length);
  return b;
}

}  // namespace

// SPC-3 6.33
Block testUnitReady() { return make(kTestUnitReady); }

// MMC-5 6.5: FmtData with format code 001b.
Block formatUnit() {
  Block b = make(kFormatUnit);
  b[1] = 0x11;
  return b;
}

// SPC-3 6.4: the allocation length kept to the one byte older drives read.
Block inquiry(std::uint8_t length) {
  Block b = make(kInquiry);
  b[4] = length;
  return b;
}

// SBC/MMC-5 6.40: byte 4 holds LoEj and Start (1 start, 2 eject, 3 load).
Block startStopUnit(bool immediate, std::uint8_t loEjStart) {
  Block b = make(kStartStopUnit);
  b[1] = immediate ? 1 : 0;
  b[4] = loEjStart;
  return b;
}

// SPC-3 6.13
Block preventAllow(bool prevent) {
  Block b = make(kPreventAllow);
  b[4] = prevent ? 1 : 0;
  return b;
}

// MMC-5 6.24
Block readFormatCapacities(std::uint16_t length) { return withLength78(kReadFormatCapacities, length); }

// MMC-5 6.44: logical block address in bytes 2-5, transfer length in 7-8.
Block write10(std::uint32_t lba, std::uint16_t blocks) {
  Block b = withLength78(kWrite10, blocks);
  be::put32(b, 2, lba);
  return b;
}

// MMC-5 6.41
Block synchronizeCache() { return make(kSynchronizeCache); }

// MMC-5 6.6: RT in the low two bits of byte 1.
Block getConfiguration(std::uint8_t requestType, std::uint16_t startingFeature, std::uint16_t length) {
  Block b = withLength78(kGetConfiguration, length);
  b[1] = requestType & 0x03;
  be::put16(b, 2, startingFeature);
  return b;
}

// MMC-5 6.26. The format is also put in the two top bits of byte 9, where drives built to
// the older ATAPI document look for it; MMC leaves those bits to the vendor, so MMC drives
// ignore them. Only formats 0-2 fit there.
Block readToc(std::uint8_t format, std::uint8_t trackOrSession, bool msf, std::uint16_t length) {
  Block b = withLength78(kReadToc, length);
  b[1] = msf ? 0x02 : 0x00;
  b[2] = format & 0x0F;
  b[6] = trackOrSession;
  if (format <= 2) b[9] = static_cast<std::uint8_t>(format << 6);
  return b;
}

// MMC-5 6.22
Block readDiscInfo(std::uint16_t length) { return withLength78(kReadDiscInfo, length); }

// MMC-5 6.27: address type in the low two bits of byte 1, address in bytes 2-5.
Block readTrackInfo(std::uint8_t addressType, std::uint32_t lbaOrTrack, std::uint16_t length) {
  Block b = withLength78(kReadTrackInfo, length);
  b[1] = addressType & 0x03;
  be::put32(b, 2, lbaOrTrack);
  return b;
}

// MMC-5 6.31: reservation size in bytes 5-8.
Block reserveTrack(std::uint32_t blocks) {
  Block b = make(kReserveTrack);
  be::put32(b, 5, blocks);
  return b;
}

// SPC-3 6.8: PF set.
Block modeSelect10(std::uint16_t length) {
  Block b = withLength78(kModeSelect10, length);
  b[1] = 0x10;
  return b;
}

// SPC-3 6.10: block descriptors allowed (DBD clear).
Block modeSense10(std::uint8_t pageCode, std::uint8_t pageControl, std::uint16_t length) {
  Block b = withLength78(kModeSense10, length);
  b[2] = static_cast<std::uint8_t>(((pageControl & 0x03) << 6) | (pageCode & 0x3F));
  return b;
}

// MMC-5 6.3: close function in the low three bits of byte 2, track number in bytes 4-5.
Block closeTrackSession(std::uint8_t function, std::uint8_t track, bool immediate) {
  Block b = make(kCloseTrackSession);
  b[1] = immediate ? 1 : 0;
  b[2] = function & 0x07;
  b[5] = track;
  return b;
}

// MMC-5 6.20
Block readBufferCapacity(std::uint16_t length) { return withLength78(kReadBufferCapacity, length); }

// MMC-5 6.35: cue sheet size in bytes 6-8.
Block sendCueSheet(std::uint32_t length) {
  Block b = make(kSendCueSheet);
  be::put24(b, 6, length);
  return b;
}

// MMC-5 6.2: blanking type and IMMED in byte 1, as the caller composes them.
Block blank(std::uint8_t byte1) {
  Block b = make(kBlank);
  b[1] = byte1;
  return b;
}

// MMC-5 6.8
Block getPerformance(std::uint8_t dataType, std::uint32_t startLba, std::uint16_t maxDescriptors, std::uint8_t type) {
  Block b = make(kGetPerformance);
  b[1] = dataType & 0x1F;
  be::put32(b, 2, startLba);
  be::put16(b, 8, maxDescriptors);
  b[10] = type;
  return b;
}

// MMC-5 6.29
Block readDvdStructure(std::uint32_t address, std::uint8_t layer, std::uint8_t format, std::uint16_t length,
                       std::uint8_t agid, std::uint8_t control) {
  Block b = make(kReadDvdStructure);
  be::put32(b, 2, address);
  b[6] = layer;
  b[7] = format;
  be::put16(b, 8, length);
  b[10] = agid;
  b[11] = control;
  return b;
}

// MMC-5 6.39: parameter list length in bytes 9-10, type 0 (performance descriptor).
Block setStreaming(std::uint16_t length) {
  Block b = make(kSetStreaming);
  be::put16(b, 9, length);
  return b;
}

// MMC-5 6.37
Block setCdSpeed(std::uint16_t readKBps, std::uint16_t writeKBps) {
  Block b = make(kSetCdSpeed);
  be::put16(b, 2, readKBps);
  be::put16(b, 4, writeKBps);
  return b;
}

// MMC-5 6.19: transfer length in blocks in bytes 6-8.
Block readCd(std::uint8_t byte1, std::uint32_t lba, std::uint32_t blocks, std::uint8_t byte9) {
  Block b = make(kReadCd);
  b[1] = byte1;
  be::put32(b, 2, lba);
  be::put24(b, 6, blocks);
  b[9] = byte9;
  return b;
}

// MMC-5 6.36
Block sendDvdStructure(std::uint8_t format, std::uint16_t length, std::uint8_t agid) {
  Block b = make(kSendDvdStructure);
  b[7] = format;
  be::put16(b, 8, length);
  b[10] = agid;
  return b;
}

// The vendor command carries only a byte count; the drive continues where it stands.
Block writeContinue(std::uint32_t byteCount) {
  Block b = make(kWriteContinue);
  be::put32(b, 6, byteCount);
  return b;
}

// SBC-2 5.10
Block readCapacity() { return make(kReadCapacity); }

// MMC-5 6.16: transfer length in blocks in bytes 6-9.
Block read12(std::uint32_t lba, std::uint32_t blocks) {
  Block b = make(kRead12);
  be::put32(b, 2, lba);
  be::put32(b, 6, blocks);
  return b;
}

// MMC-5 6.7: Polled set (asynchronous operation is not offered by MMC drives).
Block getEventStatus(std::uint8_t classes, std::uint16_t length) {
  Block b = withLength78(kGetEventStatus, length);
  b[1] = 0x01;
  b[4] = classes;
  return b;
}

bool movesNoBlocks(std::span<const std::uint8_t> block) {
  if (block.empty()) return false;
  switch (block[0]) {
    case kRead10:
    case kWrite10:
      return block.size() >= 9 && be::get16(block, 7) == 0;
    case kRead12:
      return block.size() >= 10 && be::get32(block, 6) == 0;
    case kReadCd:
      return block.size() >= 9 && be::get24(block, 6) == 0;
    default:
      return false;
  }
}

std::array<std::uint8_t, 28> streamingDescriptor(std::uint8_t flags, std::uint32_t start, std::uint32_t end,
                                                 std::uint32_t readSize, std::uint32_t writeSize) {
  std::array<std::uint8_t, 28> d{};
  d[0] = flags;
  be::put32(d, 4, start);
  be::put32(d, 8, end);
  be::put32(d, 12, readSize);
  be::put32(d, 16, 1000);
  be::put32(d, 20, writeSize);
  be::put32(d, 24, 1000);
  return d;
}

namespace {

template <std::size_t N>
bool listed(const std::uint8_t (&list)[N], std::uint8_t opcode) {
  return std::find(std::begin(list), std::end(list), opcode) != std::end(list);
}

// Commands the Linux kernel lets through SG_IO on a descriptor opened read-only (its
// default command filter), which MMC defines as not changing the medium.
constexpr std::uint8_t kQueries[] = {
    0x00 /*TEST UNIT READY*/, 0x03 /*REQUEST SENSE*/, 0x12 /*INQUIRY*/,  0x1A /*MODE SENSE(6)*/,
    0x23 /*READ FORMAT CAPACITIES*/, 0x25 /*READ CAPACITY*/, 0x28 /*READ(10)*/, 0x2B /*SEEK*/,
    0x42 /*READ SUB-CHANNEL*/, 0x43 /*READ TOC*/, 0x44 /*READ HEADER*/, 0x46 /*GET CONFIGURATION*/,
    0x4A /*GET EVENT STATUS*/, 0x51 /*READ DISC INFORMATION*/, 0x52 /*READ TRACK INFORMATION*/,
    0x5A /*MODE SENSE(10)*/, 0x5C /*READ BUFFER CAPACITY*/, 0xA8 /*READ(12)*/, 0xAC /*GET PERFORMANCE*/,
    0xAD /*READ DVD STRUCTURE*/, 0xB9 /*READ CD MSF*/, 0xBD /*MECHANISM STATUS*/, 0xBE /*READ CD*/};
}  // namespace

// SAM/SPC group codes (top three bits of the opcode): group 0 is 6 bytes, groups 1 and 2
// are 10, group 5 is 12 and group 4 is 16; the reserved and vendor groups keep the caller's
// length. Every transport sees this length, because USB bridges check it.
std::uint8_t transferLength(std::uint8_t opcode, std::uint8_t given) {
  std::uint8_t group = given;
  switch (opcode >> 5) {
    case 0: group = 6; break;
    case 1:
    case 2: group = 10; break;
    case 4: group = 16; break;
    case 5: group = 12; break;
    default: break;
  }
  return std::min(group, given);
}

// Settings the kernel lets through only on a writable descriptor.
constexpr std::uint8_t kControls[] = {0x15 /*MODE SELECT(6)*/, 0x1E /*PREVENT ALLOW*/, 0x55 /*MODE SELECT(10)*/,
                                      0xA2 /*SEND EVENT*/, 0xA3 /*SEND KEY*/, 0xB6 /*SET STREAMING*/,
                                      0xBB /*SET CD SPEED*/};

CommandAccess accessFor(std::uint8_t opcode) {
  if (listed(kQueries, opcode)) return CommandAccess::Query;
  if (listed(kControls, opcode)) return CommandAccess::Control;
  return CommandAccess::Medium;
}

}  // namespace quillion::cdb
