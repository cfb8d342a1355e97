// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/command_runner.h"

#include <string_view>

#include "device/cdb.h"
#include "device/disk_arbitration.h"
#include "device/sense.h"
#include "device/sense_table.h"
#include "quillion/clock.h"

namespace quillion {
namespace {

ScsiRequest toRequest(const CommandSpec& spec, std::uint8_t cdbLength) {
  ScsiRequest r;
  r.cdb = spec.cdb.first(cdbLength);
  // A command without a buffer or with length 0 has no data phase whatever the caller said;
  // any direction other than "in" with a buffer sends data.
  if (spec.buffer && spec.length) {
    r.direction = spec.direction == kDC_DataIn ? DataDirection::In : DataDirection::Out;
    r.buffer = std::span(static_cast<std::uint8_t*>(spec.buffer), spec.length);
  }
  r.timeout = spec.timeoutMs ? std::chrono::milliseconds(spec.timeoutMs) : kNoLimitTimeout;
  return r;
}

EngineStatus execute(DriveEntry& entry, ScsiTransport& transport, const CommandSpec& spec,
                     MMC_SenseData* sense, std::uint64_t* transferred) {
  if (spec.cdb.empty()) return kErrBadArgument;
  const std::uint8_t length =
      cdb::transferLength(spec.cdb[0], static_cast<std::uint8_t>(spec.cdb.size()));
  const ScsiRequest request = toRequest(spec, length);
  const ScsiResult result = transport.execute(request);
  if (transferred) {
    const std::uint64_t asked = request.buffer.size();
    *transferred = result.delivered && result.residual <= asked ? asked - result.residual : 0;
  }
  MMC_SenseData parsed{};
  const EngineStatus status = commandStatus(result, &parsed);
  if (status == kErrCheckCondition && mediumMayHaveChanged(classifySense(parsed)))
    noteMediumSignal(entry);
  if (sense) *sense = parsed;
  return status;
}

OpenResult openWithRetries(DriveBackend& backend, AccessMode mode) {
  OpenResult opened;
  for (int attempt = 1; attempt <= kAccessAttempts; ++attempt) {
    opened = backend.open(mode);
    if (opened.transport || !opened.retryable) break;
    if (attempt < kAccessAttempts) engineClock().sleepFor(std::chrono::seconds(1));
  }
  // A backend that gave neither a path nor a reason cannot run the command at all.
  if (!opened.transport && opened.status == kNoErr) opened.status = kErrTransport;
  return opened;
}

}  // namespace

std::string mediumName(const DriveEntry& entry) {
  std::string_view node = entry.backend->identity().devNode;
  constexpr std::string_view kDev = "/dev/";
  if (!node.starts_with(kDev)) return {};
  return std::string(node.substr(kDev.size()));
}

EngineStatus runCommand(DriveEntry& entry, const CommandSpec& spec, MMC_SenseData* sense,
                        std::uint64_t* transferred) {
  if (sense) *sense = {};
  if (transferred) *transferred = 0;
  if (spec.cdb.empty() || spec.cdb.size() > 16) return kErrBadArgument;
  std::lock_guard lock(entry.mutex);
  if (entry.gone) return kErrNoDrive;
  if (cdb::movesNoBlocks(spec.cdb)) return kNoErr;
  if (entry.locked && entry.held) return execute(entry, *entry.held, spec, sense, transferred);

  // Reading and drive settings need neither exclusive access nor the medium unmounted; what
  // may change the medium does, and a medium that stays mounted keeps the command out rather
  // than being forced.
  const cdb::CommandAccess access = cdb::accessFor(spec.cdb[0]);
  if (access == cdb::CommandAccess::Medium && !unmountWholeDisk(mediumName(entry)))
    return kErrExclusiveAccess;
  const AccessMode mode = access == cdb::CommandAccess::Query     ? AccessMode::Shared
                          : access == cdb::CommandAccess::Control ? AccessMode::Control
                                                                  : AccessMode::Exclusive;
  OpenResult opened = openWithRetries(*entry.backend, mode);
  if (!opened.transport) return opened.status;
  return execute(entry, *opened.transport, spec, sense, transferred);
}

EngineStatus runQuery(DriveEntry& entry, const CommandSpec& spec, MMC_SenseData* sense,
                      bool refuseWhenLocked) {
  if (sense) *sense = {};
  std::lock_guard lock(entry.mutex);
  if (entry.gone) return kErrNoDrive;
  if (entry.locked && entry.held) {
    if (refuseWhenLocked) return kErrPlatformCannotServe;
    return execute(entry, *entry.held, spec, sense, nullptr);
  }
  OpenResult opened = entry.backend->open(AccessMode::Shared);
  if (!opened.transport) {
    return opened.status == kErrExclusiveAccess ? EngineStatus{kErrPlatformCannotServe}
                                                : opened.status;
  }
  return execute(entry, *opened.transport, spec, sense, nullptr);
}

EngineStatus lockDrive(DriveEntry& entry, bool lock) {
  std::lock_guard guard(entry.mutex);
  if (entry.gone) return kErrNoDrive;
  if (!lock) {
    entry.locked = false;
    entry.held.reset();
    return kNoErr;
  }
  if (entry.locked && entry.held) return kNoErr;
  if (!unmountWholeDisk(mediumName(entry))) return kErrExclusiveAccess;
  OpenResult opened = openWithRetries(*entry.backend, AccessMode::Exclusive);
  if (!opened.transport) return opened.status == kErrNoDrive ? kErrNoDrive : kErrExclusiveAccess;
  entry.held = std::move(opened.transport);
  entry.locked = true;
  return kNoErr;
}

void noteMediumSignal(DriveEntry& entry) {
  entry.mediumSignals.fetch_add(1);
}

bool isLocked(DriveEntry& entry) {
  std::lock_guard guard(entry.mutex);
  return entry.locked && entry.held;
}

}  // namespace quillion
