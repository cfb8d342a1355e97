// SPDX-License-Identifier: GPL-2.0-or-later
#include "hd2_queues.h"

#include <cstring>

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kHeldPictureBytes = 72;  // the push-mode video unit record

const char* hd2FullMessage(Hd2QueueKind kind) {
  switch (kind) {
    case Hd2QueueKind::HeldPictures:
      return "M018:Unable to allocate memory for next hd2 vaunit_struc";
    case Hd2QueueKind::AuxVideo:
      return "M018:Unable to allocate memory for next hd2_aux_v_info";
    case Hd2QueueKind::AuxAudio:
      break;
  }
  return "M018:Unable to allocate memory for next hd2_aux_a_info";
}

}  // namespace

Hd2Queue::~Hd2Queue() {
  destroy();
}

std::uint32_t Hd2Queue::entryBytes(Hd2QueueKind kind) {
  switch (kind) {
    case Hd2QueueKind::HeldPictures:
      return kHeldPictureBytes;
    case Hd2QueueKind::AuxVideo:
      return sizeof(Hd2AuxVideoInfo);
    case Hd2QueueKind::AuxAudio:
      break;
  }
  return sizeof(Hd2AuxAudioInfo);
}

std::int32_t Hd2Queue::create(Hd2QueueKind kind, std::uint32_t owner,
                              const mpeg::Services& services) {
  destroy();
  services_ = &services;
  kind_ = kind;
  owner_ = owner;
  entryBytes_ = entryBytes(kind);
  const std::size_t bytes = std::size_t{entryBytes_} * kEntries;
  entries_ = static_cast<std::uint8_t*>(services.allocate(bytes));
  if (!entries_) {
    services.error("%s", hd2FullMessage(kind));
    return 16;
  }
  std::memset(entries_, 0, bytes);
  return 0;
}

void Hd2Queue::destroy() {
  if (entries_ && services_) services_->release(entries_);
  entries_ = nullptr;
  owner_ = 0;
  full_ = false;
  read_ = write_ = 0;
}

void Hd2Queue::reportFull() const {
  if (services_) services_->error("%s", hd2FullMessage(kind_));
}

std::int32_t Hd2Queue::put(const void* entry) {
  if (!entries_ || full_ || step(write_) == read_) {
    reportFull();
    return 16;
  }
  std::memcpy(entries_ + std::size_t{entryBytes_} * static_cast<std::size_t>(write_), entry,
              entryBytes_);
  write_ = step(write_);
  full_ = step(write_) == read_;
  return 0;
}

const void* Hd2Queue::at(std::int32_t index) const {
  if (!entries_ || index < 0 || index >= count()) return nullptr;
  // The ring runs downwards: later entries sit at lower indexes.
  const std::int32_t slot = (read_ - index) & (kEntries - 1);
  return entries_ + std::size_t{entryBytes_} * static_cast<std::size_t>(slot);
}

bool Hd2Queue::take(void* entry) {
  const void* first = oldest();
  if (!first) return false;
  std::memcpy(entry, first, entryBytes_);
  read_ = step(read_);
  full_ = false;
  return true;
}

bool hd2AuxVideoDue(const Hd2Queue& queue, std::uint64_t timeOffset, std::uint64_t lead,
                    std::int64_t clock) {
  const void* oldest = queue.oldest();
  if (!oldest) return false;
  Hd2AuxVideoInfo first;
  std::memcpy(&first, oldest, sizeof first);
  // 3.51 x lead, rounded up, in whole numbers.
  const std::uint64_t early = (lead * 351 + 99) / 100;
  const auto due = static_cast<std::int64_t>(first.decodeTime() + timeOffset - early);
  return due < clock;
}

}  // namespace quillion::corvel
