// SPDX-License-Identifier: GPL-2.0-or-later
// How long the engine lets each kind of command run before the transport gives up on it. Call
// sites name the kind; the times live here alone.
#pragma once

#include <chrono>
#include <cstdint>

namespace quillion {

enum class CommandKind : std::uint8_t {
  Ordinary,    // queries, settings, reads, cue sheets, immediate commands
  DiscInfo,    // READ DISC INFORMATION, asked in a loop while a drive settles
  ImportRead,  // READ(12) and READ CD of an earlier session's volume and directories
  Eject,
  Format,   // FORMAT UNIT
  Reserve,  // RESERVE TRACK
  Write,    // WRITE(10): a drive may hold a chunk while it recalibrates
  NoLimit,  // SYNCHRONIZE CACHE and CLOSE TRACK/SESSION: many minutes on a slow medium
};

struct CommandTimeout {
  CommandKind kind;
  std::uint32_t ms;  // 0: no limit of the caller's (kNoLimitTimeout applies)
};

inline constexpr CommandTimeout kCommandTimeouts[] = {
    {CommandKind::Ordinary, 30'000},   {CommandKind::DiscInfo, 10'000},
    {CommandKind::ImportRead, 10'000}, {CommandKind::Eject, 15'000},
    {CommandKind::Format, 100'000},    {CommandKind::Reserve, 300'000},
    {CommandKind::Write, 600'000},     {CommandKind::NoLimit, 0},
};

// What "no time limit" becomes: the kernel would otherwise put its own 60 s default on a
// CLOSE SESSION or SYNCHRONIZE CACHE that legitimately runs for many minutes.
inline constexpr std::chrono::milliseconds kNoLimitTimeout = std::chrono::hours(4);

// How many TEST UNIT READY rounds a drive gets to settle, by what waits on it: a command
// about to be sent, a query for the interface, and the start of writing, where a drive may
// still be spinning up a freshly loaded disc.
inline constexpr int kReadyTriesBeforeCommand = 20;
inline constexpr int kReadyTriesForQuery = 30;
inline constexpr int kReadyTriesBeforeWriting = 60;

constexpr std::uint32_t timeoutMs(CommandKind kind) {
  for (const CommandTimeout& row : kCommandTimeouts) {
    if (row.kind == kind) return row.ms;
  }
  return kCommandTimeouts[0].ms;
}

}  // namespace quillion
