// SPDX-License-Identifier: GPL-2.0-or-later
// The rings that carry HDV HD2 records from the push-mode video callback to the transport
// writers: pictures held back until the next anchor picture, and the auxiliary video and
// audio records the AUX-V and AUX-A packets are built from. Each ring holds at most 127
// entries; a producer that runs that far ahead is refused rather than overwriting records.
#pragma once

#include <cstdint>

#include "services.h"

namespace quillion::corvel {

enum class Hd2QueueKind { HeldPictures, AuxVideo, AuxAudio };

// Twelve 32-bit words per picture; words 0-1 are its decoding time (27 MHz, low word first).
struct Hd2AuxVideoInfo {
  std::uint32_t words[12];
  std::uint64_t decodeTime() const { return std::uint64_t{words[1]} << 32 | words[0]; }
};
static_assert(sizeof(Hd2AuxVideoInfo) == 48);

// Four 32-bit words per released picture for the audio auxiliary packets.
struct Hd2AuxAudioInfo {
  std::uint32_t words[4];
};
static_assert(sizeof(Hd2AuxAudioInfo) == 16);

class Hd2Queue {
 public:
  static constexpr std::int32_t kEntries = 128;

  Hd2Queue() = default;
  ~Hd2Queue();
  Hd2Queue(const Hd2Queue&) = delete;
  Hd2Queue& operator=(const Hd2Queue&) = delete;

  // Bytes of one entry of a kind: the 72-byte unit record, 48 or 16.
  static std::uint32_t entryBytes(Hd2QueueKind kind);

  // 0, or 16 after the kind's "M018" message when the entries cannot be allocated.
  std::int32_t create(Hd2QueueKind kind, std::uint32_t owner, const mpeg::Services& services);
  void destroy();
  bool created() const { return entries_ != nullptr; }

  // 0, or 16 after the kind's "M018" message when the ring is full (or was never created).
  std::int32_t put(const void* entry);
  // Copies the oldest entry out and drops it; false when empty.
  bool take(void* entry);
  // The oldest entry, or null when empty.
  const void* oldest() const { return at(0); }
  // The entry `index` places after the oldest, or null when there are not that many.
  const void* at(std::int32_t index) const;
  // A put would be taken.
  bool hasRoom() const { return entries_ != nullptr && !full_; }
  std::int32_t count() const { return (read_ - write_) & (kEntries - 1); }
  bool full() const { return full_; }
  std::uint32_t owner() const { return owner_; }

 private:
  static std::int32_t step(std::int32_t index) { return (index - 1) & (kEntries - 1); }
  void reportFull() const;

  const mpeg::Services* services_ = nullptr;
  Hd2QueueKind kind_ = Hd2QueueKind::HeldPictures;
  std::uint32_t owner_ = 0;
  std::uint32_t entryBytes_ = 0;
  bool full_ = false;
  std::int32_t read_ = 0;
  std::int32_t write_ = 0;
  std::uint8_t* entries_ = nullptr;
};

// True when the oldest auxiliary video record of `queue` is due at `clock`: its decoding
// time plus the stream's time offset, less ceil(3.51 x `lead`), is below the clock.
bool hd2AuxVideoDue(const Hd2Queue& queue, std::uint64_t timeOffset, std::uint64_t lead,
                    std::int64_t clock);

}  // namespace quillion::corvel
