// SPDX-License-Identifier: GPL-2.0-or-later
// DVD navigation: every video object unit (VOBU) opens with a navigation pack whose
// presentation and search fields are known only once the whole unit is. The multiplexer
// stages each unit, completes its navigation pack when the next one begins, tells the output
// about it and only then writes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "access_unit.h"

struct mpeg_m_muxer;

namespace quillion::corvel {

struct Input;

inline constexpr std::size_t kNavStagingSize = 2097152;
inline constexpr std::uint32_t kNavSector = 2048;

// Byte positions inside the 2,048-byte navigation pack.
namespace navpack {
inline constexpr std::size_t kPciBlock = 45;
inline constexpr std::size_t kVobuStart = 57;
inline constexpr std::size_t kVobuEnd = 61;
inline constexpr std::size_t kSequenceEnd = 65;
inline constexpr std::size_t kPciElapsed = 69;
inline constexpr std::size_t kHighlight = 141;
inline constexpr std::size_t kDsiScr = 1031;
inline constexpr std::size_t kDsiBlock = 1035;
inline constexpr std::size_t kVobuEndAddress = 1039;
inline constexpr std::size_t kReferenceEnds = 1043;
inline constexpr std::size_t kVobNumber = 1055;
inline constexpr std::size_t kCellNumber = 1058;
inline constexpr std::size_t kDsiElapsed = 1059;
inline constexpr std::size_t kVobVideoStart = 1075;
inline constexpr std::size_t kVobVideoEnd = 1079;
}  // namespace navpack

// Notices the output receives about the units.
enum : std::uint32_t {
  kNavNoticeStart = 0xF1000,
  kNavNoticeUnit = 0xF2000,
  kNavNoticeVobEnd = 0xF4000,
  kNavNoticeAbort = 0xF8000,
  kNavNoticeHighlightEnds = 0xE0020,
  kNavNoticeCell = 0xE0080,
  kNavNoticeWritten = 0xE0002,
  kNavNoticeAudioTable = 0xE0101,
  kNavNoticeAudioSync = 0xE0102,
  kNavNoticeSubpictureTable = 0xE0201,
  kNavNoticeSubpictureSync = 0xE0202,
  kNavNoticeLastPack = 0xE0203,
};

// A pack of at least this much presentation time lies between two navigation packs.
inline constexpr std::uint64_t kNavInterval = 10800000;  // 0.4 s

// What the engine learns about the unit being staged.
struct VobuFacts {
  std::uint32_t startSector = 0;  // of its navigation pack, in the current file
  std::uint32_t block = 0;        // logical block number of its navigation pack
  std::uint64_t scr = 0;
  bool haveVideo = false;
  bool haveTime = false;
  std::uint64_t firstPts = 0;  // earliest presentation of a unit begun in it, 27 MHz
  std::uint64_t endPts = 0;    // latest presentation end
  std::uint32_t referenceEnds[3] = {};
  int references = 0;
  std::uint32_t pictures = 0;
  bool sequenceEnd = false;
};

struct DvdNavigation {
  std::uint8_t* buffer = nullptr;
  std::size_t staged = 0;
  bool open = false;  // a unit is being staged
  VobuFacts unit;
  bool started = false;         // the first unit of the current file was finished
  std::uint64_t vobStart = 0;   // first presentation of the current file's video
  std::uint64_t vobEnd = 0;     // latest presentation end so far
  std::uint64_t cellStart = 0;  // presentation time at which the current cell began
  std::uint32_t lastBlock = 0;  // of the last navigation pack finished
  bool lastBlockKnown = false;
};

// DVD-Video with private stream 2: navigation packs carry presentation and search
// information, and the output hears about every unit.
bool writesDvdVideoNavigation(const mpeg_m_muxer& mux);
// The first video input has shown enough since the last navigation pack for its next I
// picture to open a new unit (DVD types).
bool navigationDue(const mpeg_m_muxer& mux);
// A navigation pack opens a unit at the first video input's current picture: every audio
// and subpicture input with a side table is told where its first packet of the unit lies.
void queueNavigationNotices(mpeg_m_muxer& mux);
// Notice 0xE0040: the caller's cell mark, a presentation time in 90 kHz units since the
// start of the video; 0, or -1 when it could not be queued.
std::int32_t queueCellMark(mpeg_m_muxer& mux, std::uint32_t mark);

// Navigation set-up: staging and the output's notices. 0, or 16 after M019.
std::int32_t setUpNavigation(mpeg_m_muxer& mux);
void releaseNavigation(mpeg_m_muxer& mux);
// Stages bytes written to the output; false when a unit outgrows the staging buffer or a
// finished unit could not be written.
bool stageBytes(mpeg_m_muxer& mux, const std::uint8_t* data, std::size_t size);
// A navigation pack is about to be written at `scr`: completes and writes the unit staged so
// far and opens the next. False when writing failed.
bool beginVobu(mpeg_m_muxer& mux, std::uint64_t scr, std::uint32_t block);
// The end of the program (or of a file): completes and writes the last unit. 0 or 16.
std::int32_t endNavigation(mpeg_m_muxer& mux);

// The first video input began a picture in the pack being assembled.
void notePictureBegun(mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit);
// The first audio input began a frame in the pack being assembled: with audio-aligned
// navigation the frames give the unit's times and bring the next navigation pack nearer.
void noteAudioBegun(mpeg_m_muxer& mux, const Input& in, const AccessUnit& unit);
// Audio-aligned navigation is due and the first audio input's next frame starts a packet.
bool audioOpensNavigationUnit(const mpeg_m_muxer& mux, const Input& in);
// A unit is about to begin while an audio input is inside a frame: its packet ends with that
// frame, so no frame straddles the units. Audio-aligned navigation asks it of the first audio
// input; bit 0 of the output information's option byte of every audio input.
bool audioClosesNavigationUnit(const mpeg_m_muxer& mux, const Input& in);
// The first video input finished a picture in the pack being assembled.
void notePictureEnded(mpeg_m_muxer& mux, const AccessUnit& unit);

// The navigation pack's fields a unit carries, for the finished unit in `pack`.
struct NavFields {
  std::uint64_t startPts = 0;  // 27 MHz
  std::uint64_t endPts = 0;
  bool sequenceEnd = false;
  std::uint64_t elapsed = 0;  // since the cell began, 27 MHz
  std::uint64_t framePeriod = 1080000;
  std::uint32_t lastSector = 0;  // relative to the navigation pack
  std::uint32_t referenceEnds[3] = {};
  std::uint32_t vobNumber = 1;
  std::uint32_t cellNumber = 1;
  std::uint64_t vobVideoStart = 0;
  bool haveVobVideoEnd = false;
  std::uint64_t vobVideoEnd = 0;
};
void fillNavPack(std::uint8_t* pack, const NavFields& fields);
// Hours, minutes, seconds and frames as BCD bytes, the frame byte flagged 0x40 for 25 frames
// per second and 0xC0 for 30.
void encodeElapsed(std::uint8_t* out, std::uint64_t ticks, std::uint64_t framePeriod);

}  // namespace quillion::corvel
