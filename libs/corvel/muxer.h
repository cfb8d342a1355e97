// SPDX-License-Identifier: GPL-2.0-or-later
// The multiplexer instance and its inputs: the state the API, the engine and the pack
// writers share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "access_unit.h"
#include "corvel.h"
#include "dvd_navigation.h"
#include "hd2_pictures.h"
#include "index_records.h"
#include "pes.h"
#include "queue_buffer.h"
#include "scan_offsets.h"
#include "services.h"
#include "unit_readers.h"

struct bufstream;
struct mpeg_m_muxer;

namespace quillion::corvel {

// A single-count semaphore: runs take it to read or change the busy counter, never while
// multiplexing.
class MuxSemaphore {
 public:
  void wait();
  // Answers the count before the post.
  std::int32_t post();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int32_t count_ = 1;
  std::int32_t maximum_ = 1;
};

enum class InputKind { video, audio, subpicture };

// What a pushed input's notices keep between one unit and the next. Written by the
// producer's notices under the instance's push lock; `ended` is also read by runs.
struct PushState {
  std::atomic<bool> ended{false};  // no further unit will be announced
  bool finalUnit = false;          // the producer announced the stream's last unit
  bool sequenceEnd = false;
  bool unitOpen = false;  // headers of a unit announced that is not complete yet
  std::uint64_t firstTime = ~std::uint64_t{0};
  std::uint32_t picturesSoFar = 0;
  std::uint32_t picturesSinceGroup = 0;
  std::uint32_t temporalReference = 0;
  std::uint32_t secondValue = 0;
  std::uint32_t fieldValue = 0;
  std::uint32_t sequenceWord3 = 0;
  std::uint32_t sequenceWord5 = 0;
  std::uint32_t pendingFlags = 0;  // headers announced for the unit being completed
  double frameRate = 0;
  std::uint64_t framePeriod = 0;   // 27 MHz
  std::uint32_t audioValue = 0;    // of notice 0xFFF00000
  std::int32_t frameRateCode = 0;  // of the first sequence header that named one
  // HDV HD2: the last picture header's fixed vbv_delay and two further values.
  std::uint32_t hd2Values[3] = {};
  bool primed = false;           // subpictures: the first look-ahead was there
  std::uint32_t unitsTaken = 0;  // by the engine (audio and subpicture unit numbers)
};

// The fields of stream_settings, read from its packed bytes.
struct StreamParameters {
  std::uint8_t streamId = 0;
  std::uint8_t subStreamId = 0;
  std::uint32_t pid = 0;
  std::uint32_t bufferKiB = 0;
  std::uint32_t delayMs = 0;
  std::uint32_t kind = 0;
  std::uint32_t expectedRate = 0;
  std::uint32_t picturesPerUnit = 0;
};
StreamParameters readStreamSettings(const stream_settings& raw);

struct Input {
  InputKind kind = InputKind::video;
  mpeg_m_muxer* owner = nullptr;
  StreamParameters params;
  std::uint32_t bitRate = 0;  // given at opening, bit/s
  bufstream* es = nullptr;
  bufstream* units = nullptr;
  bool callerOwned = false;
  // Push mode: `es` is the producer's reader; its notices queue unit records into
  // `unitFifo`, whose reader is `units`. The reader's own notice slot is given back at close.
  bool pushed = false;
  bool analysed = false;  // the stream's first bytes have been analysed
  bufstream* unitFifo = nullptr;
  std::int32_t (*savedAuxinfo)(bufstream*, std::uint32_t, std::uint32_t, void*,
                               std::uint32_t) = nullptr;
  void* savedDriveChain = nullptr;
  PushState push;
  // HDV HD2 push mode: a video input's held pictures and auxiliary video records, an audio
  // input's auxiliary audio records.
  Hd2PictureHold hd2;
  Hd2Queue hd2AuxAudio;

  VideoFacts video;
  AudioFacts audio;
  std::optional<VideoUnitReader> videoReader;
  std::optional<AudioUnitReader> audioReader;
  std::optional<SubpictureUnitReader> subpictureReader;

  std::uint8_t streamId = 0;
  std::uint8_t subStreamId = 0;
  bool privateStream = false;  // carried in private stream 1 with a sub-stream header
  std::uint32_t bufferBytes = 0;
  std::uint8_t stdScale = 0;
  std::uint16_t stdSize = 0;
  std::uint32_t byteRate = 0;
  std::uint64_t delayTicks = 0;
  // The size a caller announced for a still-picture input (notice 0xD0000): in sectors of
  // 2,048 bytes times two, and in KiB (stream id 0xE2 only).
  std::uint32_t noticedSectors = 0;
  std::uint32_t noticedKiB = 0;

  // Engine state.
  QueueBuffer std;
  bool hasUnit = false;
  bool unitFresh = false;      // nothing of the current unit written yet
  AccessUnit unit;             // the current unit
  std::uint32_t unitLeft = 0;  // its bytes not yet written
  bool ended = false;          // the reader has no further unit
  bool broken = false;         // the reader stopped at damaged data
  bool havePeek = false;
  AccessUnit peeked;         // the next unit, read ahead
  std::uint64_t offset = 0;  // added to every time stamp
  bool firstPacket = true;
  bool firstInFile = true;
  std::uint32_t underflows = 0;
  std::uint32_t frameCounter = 0;
  // Bytes the multiplexer puts into the current unit: a repeated sequence header in front of
  // it, the scan information before its picture start code. In unit order.
  struct Insertion {
    std::uint32_t at = 0;  // offset in the unit's own bytes
    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    std::uint32_t done = 0;
    bool scanBlock = false;  // never split between two packets
    bool replaces = false;   // stands for the unit's own bytes at `at` (read, then overwritten)
  };
  bool splitReached = false;  // during a split: nothing more for the current file
  Insertion insertions[2];
  std::uint8_t delimiter[6] = {};
  int insertionCount = 0;
  std::uint8_t scanBlock[18] = {};
  std::uint64_t scanTime = 0;  // of the picture whose scan block was written last
  IndexReorder index;
  // DVD: the units whose first packet of this input the output hears about, oldest first
  // (presentation time the unit began at, its navigation pack's number), and the output's
  // number for this input's table.
  struct NavNotice {
    std::uint64_t time = 0;
    std::uint32_t pack = 0;
  };
  static constexpr int kMaxNavNotices = 64;
  NavNotice navNotices[kMaxNavNotices];
  int navNoticeHead = 0;
  int navNoticeCount = 0;
  bool navSide = false;
  std::uint32_t navSideValue = 0;
};

}  // namespace quillion::corvel

namespace quillion::corvel {

inline constexpr std::size_t kNavigationTemplateSize = 694;

// A unit that began in the packet being written, and where its bytes begin in the payload.
struct BegunUnit {
  AccessUnit unit;
  std::uint32_t offset = 0;
};

// Everything of an instance that lives for one job; Done puts it back to these values.
struct MuxJob {
  static constexpr int kMaxBegun = 1024;
  static constexpr int kMaxVideo = 8;
  static constexpr int kMaxAudio = 8;
  static constexpr int kMaxSubpicture = 32;

  mux_output_info outputInfo{};
  std::uint8_t extension[1979] = {};
  bool hasExtension = false;
  bool prepared = false;
  bool push = false;      // producers push units through notices
  bool flushing = false;  // Done is multiplexing what is still queued

  Input* videos[kMaxVideo] = {};
  int videoCount = 0;
  Input* audios[kMaxAudio] = {};
  int audioCount = 0;
  Input* subpictures[kMaxSubpicture] = {};
  int subpictureCount = 0;

  bufstream* output = nullptr;
  bool outputOwned = false;  // opened by the library, closed by Done

  // Pools of unused stream ids: 0 marks a taken entry.
  std::uint8_t videoIds[8] = {};
  std::uint8_t mpegAudioIds[8] = {};
  std::uint8_t ac3Ids[8] = {};
  std::uint8_t lpcmIds[8] = {};
  std::uint8_t subpictureIds[32] = {};

  // Engine.
  PackLayout layout;
  std::uint32_t muxRate = 0;  // units of 50 bytes/s
  double byteRate = 0;
  double packsPerSecond = 0;
  double packTime = 0;
  double startClock = 0;
  double clock = 0;
  double extraTime = 0;
  std::uint64_t bytePosition = 0;
  std::uint64_t bytesInFile = 0;
  std::uint32_t packCount = 0;
  std::int32_t packetsLeft = 0;
  bool packHeaderDue = true;
  bool firstPack = true;
  bool vcdAudioHeaderDue = false;
  std::uint64_t videoStartOffset = 0;
  // Split output: each file ends at an I picture of the first video input once it has grown
  // to the split size, after every other input has caught up with that picture.
  std::uint64_t splitSize = 0;  // bytes; 0 for one file
  std::uint64_t splitTime = 0;  // presentation time of the I picture that opens the next file
  bool draining = false;        // the current file is being finished
  std::uint32_t fileCount = 1;
  double firstVideoLead = 0;  // how far the first picture's decoding time led the clock
  std::int64_t rebase = 0;    // taken off every time read, since a later file began
  std::uint32_t sectorSize = 0;
  std::uint8_t sector[4096] = {};
  ScanOffsetPatcher* scan = nullptr;  // Super Video CD scan information, when on
  // Units that began in the packet being written; an index record goes out for each.
  BegunUnit begun[kMaxBegun];
  int begunCount = 0;
  std::int64_t lastEntryPicture = -1;  // decode number of the last entry point
  // Side notices of the caller.
  std::uint32_t segmentStart = 0;
  std::uint32_t firstBlock = 0;
  bool newSegment = false;
  // The highlight template a caller sent for the navigation packs (notice 0xE0010).
  std::uint8_t navigationTemplate[kNavigationTemplateSize] = {};
  bool navigationTemplatePresent = false;
  std::uint32_t navigationTemplateWord = 0;
  std::uint32_t navigationTemplateUses = 0;
  // DVD navigation: packs open every unit of about kNavInterval; `nav` stages the units when
  // their navigation data is completed, `navMarks` carries the caller's cell marks.
  DvdNavigation* nav = nullptr;
  bufstream* navMarks = nullptr;
  std::uint64_t navTime = 0;  // presentation time begun since the last navigation pack
  bool navJustWritten = false;
  // Units follow the first audio input's frames rather than the pictures (still pictures).
  bool audioAlignedNav = false;
  std::uint32_t lastNavPack = 0;  // pack number of the last navigation pack
  std::uint32_t cellCounter = 1;
  std::uint32_t vobCounter = 1;
};

}  // namespace quillion::corvel

struct mpeg_m_muxer : quillion::corvel::MuxJob {
  quillion::mpeg::Services services;
  mpeg_m_settings settings{};
  std::int32_t busy = 0;
  quillion::corvel::MuxSemaphore semaphore;
  // Push mode: producers' notices and the runs they start take turns here; a notice that
  // arrives during a run on the same thread finds the run busy and asks it to look again.
  std::recursive_mutex pushLock;
  bool lookAgain = false;
  std::atomic<bool> failed{false};  // a run failed; later notices are refused
};
