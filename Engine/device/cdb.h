// SPDX-License-Identifier: GPL-2.0-or-later
// Command blocks of the MMC command set, built once for the MMC_* builders and the drive
// queries alike. Layouts are those of MMC-5 (clause given beside each builder); blocks are 12
// bytes, zero but for the fields set.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quillion::cdb {

using Block = std::array<std::uint8_t, 12>;

// Opcodes used by the engine.
enum Opcode : std::uint8_t {
  kTestUnitReady = 0x00,
  kRequestSense = 0x03,
  kFormatUnit = 0x04,
  kInquiry = 0x12,
  kStartStopUnit = 0x1B,
  kPreventAllow = 0x1E,
  kReadFormatCapacities = 0x23,
  kReadCapacity = 0x25,
  kRead10 = 0x28,
  kWrite10 = 0x2A,
  kSynchronizeCache = 0x35,
  kReadToc = 0x43,
  kGetConfiguration = 0x46,
  kGetEventStatus = 0x4A,
  kReadDiscInfo = 0x51,
  kReadTrackInfo = 0x52,
  kReserveTrack = 0x53,
  kModeSelect10 = 0x55,
  kModeSense10 = 0x5A,
  kCloseTrackSession = 0x5B,
  kReadBufferCapacity = 0x5C,
  kSendCueSheet = 0x5D,
  kBlank = 0xA1,
  kRead12 = 0xA8,
  kGetPerformance = 0xAC,
  kReadDvdStructure = 0xAD,
  kSetStreaming = 0xB6,
  kSetCdSpeed = 0xBB,
  kReadCd = 0xBE,
  kSendDvdStructure = 0xBF,
  kWriteContinue = 0xE1,
};

Block testUnitReady();
Block formatUnit();
Block inquiry(std::uint8_t length);
Block startStopUnit(bool immediate, std::uint8_t loEjStart);
Block preventAllow(bool prevent);
Block readFormatCapacities(std::uint16_t length);
Block write10(std::uint32_t lba, std::uint16_t blocks);
Block synchronizeCache();
Block getConfiguration(std::uint8_t requestType, std::uint16_t startingFeature, std::uint16_t length);
Block readToc(std::uint8_t format, std::uint8_t trackOrSession, bool msf, std::uint16_t length);
Block readDiscInfo(std::uint16_t length);
Block readTrackInfo(std::uint8_t addressType, std::uint32_t lbaOrTrack, std::uint16_t length);
Block reserveTrack(std::uint32_t blocks);
Block modeSelect10(std::uint16_t length);
Block modeSense10(std::uint8_t pageCode, std::uint8_t pageControl, std::uint16_t length);
Block closeTrackSession(std::uint8_t function, std::uint8_t track, bool immediate);
Block readBufferCapacity(std::uint16_t length);
Block sendCueSheet(std::uint32_t length);
Block blank(std::uint8_t byte1);
Block getPerformance(std::uint8_t dataType, std::uint32_t startLba, std::uint16_t maxDescriptors, std::uint8_t type);
Block readDvdStructure(std::uint32_t address, std::uint8_t layer, std::uint8_t format, std::uint16_t length,
                       std::uint8_t agid, std::uint8_t control);
Block setStreaming(std::uint16_t length);
Block setCdSpeed(std::uint16_t readKBps, std::uint16_t writeKBps);
Block readCd(std::uint8_t byte1, std::uint32_t lba, std::uint32_t blocks, std::uint8_t byte9);
Block sendDvdStructure(std::uint8_t format, std::uint16_t length, std::uint8_t agid);
Block writeContinue(std::uint32_t byteCount);
Block readCapacity();
Block read12(std::uint32_t lba, std::uint32_t blocks);
// GET EVENT STATUS NOTIFICATION, polled, for the event classes in `classes` (bit 4: media).
Block getEventStatus(std::uint8_t classes, std::uint16_t length);

// True for a READ or WRITE whose transfer length in the block is zero: MMC makes that no
// error and no transfer, and some ATAPI stacks hang on such a command, so it is never sent.
bool movesNoBlocks(std::span<const std::uint8_t> block);

// The 28-byte SET STREAMING performance descriptor (MMC-5 6.39.2.1).
std::array<std::uint8_t, 28> streamingDescriptor(std::uint8_t flags, std::uint32_t start, std::uint32_t end,
                                                 std::uint32_t readSize, std::uint32_t writeSize);

// How many bytes of a block the drive receives: the length of the opcode's group, never more
// than the caller built; vendor and reserved groups keep the caller's length.
std::uint8_t transferLength(std::uint8_t opcode, std::uint8_t given);

// What a command needs of the drive:
// - Query: only reads; a shared path, the medium may stay mounted;
// - Control: changes drive settings, not the medium (speed, write parameters, the tray
//   lock); a writable path, but neither exclusive access nor an unmounted medium;
// - Medium: may change or remove the medium (and any command the engine does not know);
//   exclusive access, with the medium's volumes unmounted first.
enum class CommandAccess { Query, Control, Medium };
CommandAccess accessFor(std::uint8_t opcode);

}  // namespace quillion::cdb
