// SPDX-License-Identifier: GPL-2.0-or-later
// Device control: start and stop, the drive registry as drives come and go, the callback
// registries and the device list.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "device/cdb.h"
#include "device/command_runner.h"
#include "device/device_registry.h"
#include "device/device_source.h"
#include "device/disk_arbitration.h"
#include "device/event_loop.h"
#include "device/sense_table.h"
#include "quillion/DC.h"

namespace quillion {
namespace {

struct ControlState {
  std::mutex mutex;  // guards everything below
  bool live = false;
  double version = 0;
  std::unique_ptr<EventLoop> loop;
  std::vector<std::unique_ptr<DeviceSource>> sources;
  std::map<std::string, Handle32> byKey;
  std::vector<std::thread> workers;
};

ControlState& state() {
  static ControlState s;
  return s;
}

struct CallbackRegistries {
  std::mutex mutex;
  std::map<DC_ListUpdateProc, void*> list;
  std::map<DC_DiscChangedProc, void*> discChanged;
};

CallbackRegistries& callbacks() {
  static CallbackRegistries c;
  return c;
}

template <std::size_t N>
void copyField(char (&field)[N], const std::string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// MODE SENSE(10) page 2Ah (MMC-5 7.8): the buffer size in KB is at page bytes 12-13.
// A drive that just got a medium reports that once (unit attention) before it answers.
std::uint32_t readCacheSizeKB(DriveEntry& entry) {
  std::array<std::uint8_t, 64> reply{};
  const auto block = cdb::modeSense10(0x2A, 0, reply.size());
  CommandSpec spec{block, reply.data(), reply.size(), kDC_DataIn, timeoutMs(CommandKind::Ordinary)};
  MMC_SenseData sense{};
  EngineStatus status = runQuery(entry, spec, &sense, false);
  if (status == kErrCheckCondition && sendAgain(classifySense(sense)))
    status = runQuery(entry, spec, &sense, false);
  if (status != kNoErr) return 0;
  const std::size_t page = 8u + be::get16(reply, 6);
  if (page + 14 > reply.size() || (reply[page] & 0x3F) != 0x2A) return 0;
  return be::get16(reply, page + 12);
}

std::shared_ptr<DriveEntry> makeEntry(std::shared_ptr<DriveBackend> backend) {
  auto entry = std::make_shared<DriveEntry>(std::move(backend));
  const DriveIdentity& id = entry->backend->identity();
  DC_Device& d = entry->device;
  d.RWCapability = id.takesCommands ? kDC_MMCDevice : kDC_PureReader;
  copyField(d.interface, id.parallelScsi ? std::string("SCSI") : id.interfaceText);
  copyField(d.vendor, id.vendor);
  copyField(d.model, id.model);
  copyField(d.rev, id.revision);
  if (id.takesCommands) d.cacheSizeInKB = readCacheSizeKB(*entry);
  return entry;
}

// Called with the state lock held.
void addDrive(ControlState& s, std::shared_ptr<DriveBackend> backend) {
  if (!backend || backend->identity().key.empty() || s.byKey.contains(backend->identity().key))
    return;
  auto entry = makeEntry(std::move(backend));
  const std::string key = entry->backend->identity().key;
  const Handle32 ref = driveTable().insert(entry);
  if (ref != kNoHandle) s.byKey.emplace(key, ref);
}

void removeDrive(ControlState& s, const std::string& key) {
  auto it = s.byKey.find(key);
  if (it == s.byKey.end()) return;
  if (auto entry = driveTable().erase(it->second)) entry->gone = true;
  s.byKey.erase(it);
}

std::uint32_t refOfKey(ControlState& s, const std::string& key) {
  auto it = s.byKey.find(key);
  return it == s.byKey.end() ? 0 : it->second;
}

// Applies a source's events, then tells the callbacks (outside the state lock, so that they
// may ask for the device list).
void handleEvents(DeviceSource& source) {
  bool listChanged = false;
  std::vector<std::uint32_t> discChanged;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.live) return;
    for (auto& event : source.takeEvents()) {
      switch (event.kind) {
        case DeviceEvent::Kind::DriveAdded:
          addDrive(s, std::move(event.drive));
          listChanged = true;
          break;
        case DeviceEvent::Kind::DriveRemoved:
          removeDrive(s, event.key);
          listChanged = true;
          break;
        case DeviceEvent::Kind::MediumChanged: {
          // A medium of no listed drive (a disc image attached as optical media) refreshes all.
          const std::uint32_t ref = refOfKey(s, event.key);
          if (auto entry = driveTable().find(ref)) noteMediumSignal(*entry);
          discChanged.push_back(ref);
          break;
        }
      }
    }
  }
  if (listChanged) callListUpdateCallbacks();
  for (std::uint32_t ref : discChanged) callDiscChangedCallbacks(ref, false);
}

void joinWorkers(ControlState& s) {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(s.mutex);
    workers.swap(s.workers);
  }
  for (auto& w : workers)
    if (w.joinable()) w.join();
}

}  // namespace

HandleTable<DriveEntry>& driveTable() {
  static HandleTable<DriveEntry> table;
  return table;
}

std::shared_ptr<DriveEntry> findDrive(std::uint32_t ref) {
  if (isReservedHandle(ref)) return nullptr;
  auto entry = driveTable().find(ref);
  return entry && !entry->gone ? entry : nullptr;
}

std::shared_ptr<DriveEntry> findCommandDrive(std::uint32_t ref) {
  auto entry = findDrive(ref);
  return entry && entry->backend->identity().takesCommands ? entry : nullptr;
}

double appKitVersion() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.version;
}

void callListUpdateCallbacks() {
  std::map<DC_ListUpdateProc, void*> copy;
  {
    std::lock_guard lock(callbacks().mutex);
    copy = callbacks().list;
  }
  for (const auto& [fn, userData] : copy) fn(userData);
}

void callDiscChangedCallbacks(std::uint32_t ref, bool flag) {
  std::map<DC_DiscChangedProc, void*> copy;
  {
    std::lock_guard lock(callbacks().mutex);
    copy = callbacks().discChanged;
  }
  for (const auto& [fn, userData] : copy) fn(userData, ref, flag);
}

bool postToDeviceThread(std::function<void()> work) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.live || !s.loop) return false;
  s.loop->post(std::move(work));
  return true;
}

void adoptWorker(std::thread worker) {
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (s.live) {
      s.workers.push_back(std::move(worker));
      return;
    }
  }
  // Device control stopped meanwhile: nobody else would join it.
  worker.join();
}

int deviceEventFd() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.live && s.loop ? s.loop->fd() : -1;
}

EngineStatus pumpDeviceEvents(std::size_t* delivered) {
  if (delivered) *delivered = 0;
  EventLoop* loop = nullptr;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.live || !s.loop || s.loop->owner() != std::this_thread::get_id()) return kErrBadArgument;
    loop = s.loop.get();
  }
  // Only the owner thread destroys the loop (DC_Term), so it outlives this call.
  const std::size_t ran = loop->pump();
  if (delivered) *delivered = ran;
  return kNoErr;
}

}  // namespace quillion

using namespace quillion;

EngineStatus DC_Init(double appKitVersionNumber) {
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    s.version = appKitVersionNumber;
    if (s.live) return kNoErr;
    // Without a session, unmounting is refused later; device control works all the same.
    [[maybe_unused]] const int session = CNDiskArbInit();
    s.loop = std::make_unique<EventLoop>();
    s.sources = makeDeviceSources();
    s.live = true;
    for (auto& source : s.sources) {
      for (auto& drive : source->start()) addDrive(s, std::move(drive));
      DeviceSource* raw = source.get();
      s.loop->watch(source->eventFd(), [raw] { handleEvents(*raw); });
    }
  }
  callListUpdateCallbacks();
  callDiscChangedCallbacks(0, false);
  return kNoErr;
}

void DC_Term() {
  auto& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (!s.live) return;
    s.live = false;
  }
  joinWorkers(s);
  std::lock_guard lock(s.mutex);
  for (const auto& [key, ref] : s.byKey) {
    if (auto entry = driveTable().erase(ref)) entry->gone = true;
  }
  s.byKey.clear();
  s.sources.clear();
  s.loop.reset();
  std::lock_guard cbLock(callbacks().mutex);
  callbacks().list.clear();
  callbacks().discChanged.clear();
}

EngineStatus DC_InstallListUpdateCallback(DC_ListUpdateProc fn, void* userData) {
  if (!fn) return kErrBadArgument;
  std::lock_guard lock(callbacks().mutex);
  callbacks().list.emplace(fn, userData);  // a second install keeps the first user data
  return kNoErr;
}

void DC_RemoveListUpdateCallback(DC_ListUpdateProc fn) {
  std::lock_guard lock(callbacks().mutex);
  callbacks().list.erase(fn);
}

EngineStatus DC_InstallDiscChangedCallback(DC_DiscChangedProc fn, void* userData) {
  if (!fn) return kErrBadArgument;
  std::lock_guard lock(callbacks().mutex);
  callbacks().discChanged.emplace(fn, userData);
  return kNoErr;
}

void DC_RemoveDiscChangedCallback(DC_DiscChangedProc fn) {
  std::lock_guard lock(callbacks().mutex);
  callbacks().discChanged.erase(fn);
}

void DC_NotifyDiscChanged(std::uint32_t ref, bool flag) {
  callDiscChangedCallbacks(ref, flag);
}

std::uint16_t DC_GetConnectedDeviceList(DC_Device** list) {
  if (!list) return 0;
  *list = nullptr;
  std::vector<DC_Device> devices;
  for (Handle32 ref : driveTable().handles()) {
    auto entry = findDrive(ref);
    if (!entry) continue;
    devices.push_back(entry->device);
    devices.back().ref = ref;
  }
  if (devices.empty()) return 0;
  const std::size_t count = std::min<std::size_t>(devices.size(), 0xFFFF);
  auto* out = static_cast<DC_Device*>(std::malloc(count * sizeof(DC_Device)));
  if (!out) return 0;
  std::memcpy(out, devices.data(), count * sizeof(DC_Device));
  *list = out;
  return static_cast<std::uint16_t>(count);
}

EngineStatus DC_RefreshDeviceList() {
  return kNoErr;
}
