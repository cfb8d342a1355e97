// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated drive's state, access paths, fault injection and command dispatch.
#include "emulated_drive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "common/byte_order.h"

namespace quillion::emu {
namespace {

constexpr std::uint16_t kCdRom = 0x08, kCdR = 0x09, kCdRw = 0x0A, kDvdRom = 0x10, kDvdR = 0x11,
                        kDvdRwOverwrite = 0x13, kDvdRw = 0x14, kDvdPlusRw = 0x1A, kDvdPlusR = 0x1B,
                        kBdRom = 0x40, kBdR = 0x41, kBdRe = 0x43;

// SPC-3 5.9.5 and MMC-5 4.1.6: commands that never report a pending unit attention.
bool exemptFromAttention(std::uint8_t opcode) {
  return opcode == 0x12 || opcode == 0x03 || opcode == 0x46 || opcode == 0x4A || opcode == 0xA0;
}

// Commands that need a medium in the drive (others answer without one).
bool needsMedium(std::uint8_t opcode) {
  switch (opcode) {
    case 0x00:
    case 0x04:
    case 0x25:
    case 0x28:
    case 0x2A:
    case 0x35:
    case 0x43:
    case 0x51:
    case 0x52:
    case 0x53:
    case 0x5B:
    case 0x5D:
    case 0xA1:
    case 0xA8:
    case 0xAA:
    case 0xAC:
    case 0xBE:
    case 0xE1:
      return true;
    default:
      return false;
  }
}

std::optional<std::uint32_t> lbaOf(std::span<const std::uint8_t> cdb) {
  switch (cdb[0]) {
    case 0x28:
    case 0x2A:
    case 0xA8:
    case 0xAA:
    case 0xBE:
      return be::get32(cdb, 2);
    default:
      return std::nullopt;
  }
}

// SPC-3 4.5.3 fixed format, 4.5.2 descriptor format with an information descriptor.
std::vector<std::uint8_t> senseBytes(const EmulatedDrive::Reply& r, bool descriptor) {
  if (descriptor) {
    std::vector<std::uint8_t> s(8, 0);
    s[0] = 0x72;
    s[1] = r.key;
    s[2] = r.asc;
    s[3] = r.ascq;
    if (r.information) {
      const std::uint8_t info[12] = {0x00, 0x0A, 0x80, 0};
      s.insert(s.end(), std::begin(info), std::end(info));
      be::put32(s, 16, *r.information);
    }
    s[7] = static_cast<std::uint8_t>(s.size() - 8);
    return s;
  }
  std::vector<std::uint8_t> s(18, 0);
  s[0] = r.information ? 0xF0 : 0x70;
  s[2] = r.key;
  if (r.information) be::put32(s, 3, *r.information);
  s[7] = 10;
  s[12] = r.asc;
  s[13] = r.ascq;
  return s;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char b[4];
  for (std::uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x ", v);
    out += b;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace

std::optional<DriveConfig> DriveConfig::preset(const std::string& name) {
  DriveConfig c;
  c.name = name;
  c.readable = {kCdRom, kCdR, kCdRw};
  if (name == "reader") {
    c.product = "EMULATED READER";
    c.readable.insert(c.readable.end(), {kDvdRom, kDvdR, kDvdPlusRw, kDvdPlusR});
    return c;
  }
  c.speeds = {{359'846, 7056, 7056}, {359'846, 7056, 3528}};
  if (name == "cd-writer") {
    c.product = "EMULATED CD-RW";
    c.writable = {kCdR, kCdRw};
    return c;
  }
  c.readable.insert(c.readable.end(),
                    {kDvdRom, kDvdR, kDvdRwOverwrite, kDvdRw, kDvdPlusRw, kDvdPlusR});
  c.writable = {kCdR, kCdRw, kDvdR, kDvdRwOverwrite, kDvdRw, kDvdPlusRw, kDvdPlusR};
  c.speeds = {{2'295'103, 11080, 11080}, {2'295'103, 11080, 5540}};
  if (name == "dvd-writer") {
    c.product = "EMULATED DVD-RW";
    return c;
  }
  if (name == "bd-writer") {
    c.product = "EMULATED BD-RE";
    c.readable.insert(c.readable.end(), {kBdRom, kBdR, kBdRe});
    c.writable.insert(c.writable.end(), {kBdR, kBdRe});
    return c;
  }
  return std::nullopt;
}

EmulatedDrive::EmulatedDrive(DriveConfig config) : config_(std::move(config)) {}

EmulatedDrive::Reply EmulatedDrive::check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  Reply r;
  r.status = kScsiCheckCondition;
  r.key = key;
  r.asc = asc;
  r.ascq = ascq;
  return r;
}

EmulatedDrive::Reply EmulatedDrive::data(std::vector<std::uint8_t> bytes,
                                         std::uint32_t allocation) {
  Reply r;
  r.dataIn = std::move(bytes);
  r.allocation = allocation;
  return r;
}

void EmulatedDrive::raise(DriveEvent event) {
  if (sink_) sink_(event);
}

void EmulatedDrive::setEventSink(std::function<void(DriveEvent)> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void EmulatedDrive::load(Medium medium) {
  {
    std::lock_guard lock(mutex_);
    if (medium_) medium_->flush();
    medium_ = std::move(medium);
    forgetWriting();
    trayOpen_ = false;
    pendingAttention_ = std::array<std::uint8_t, 3>{0x06, 0x28, 0x00};
    pendingMediaEvent_ = 2;  // NewMedia
    readyAt_ = engineClock().now() + config_.spinUp;
  }
  raise(DriveEvent::MediumChanged);
}

std::optional<Medium> EmulatedDrive::unload() {
  std::optional<Medium> out;
  {
    std::lock_guard lock(mutex_);
    if (medium_) medium_->flush();
    out.swap(medium_);
    // A disc the drive ejected lies in the open tray: that is the one taken out.
    if (!out && parked_) out.swap(parked_);
    forgetWriting();
    trayOpen_ = true;
    mounted_ = false;
    pendingMediaEvent_ = 3;  // MediaRemoval
  }
  raise(DriveEvent::MediumChanged);
  return out;
}

bool EmulatedDrive::hasMedium() const {
  std::lock_guard lock(mutex_);
  return medium_.has_value();
}

bool EmulatedDrive::trayOpen() const {
  std::lock_guard lock(mutex_);
  return trayOpen_;
}

bool EmulatedDrive::withMedium(const std::function<void(Medium&)>& f) {
  std::lock_guard lock(mutex_);
  if (!medium_) return false;
  f(*medium_);
  return true;
}

int EmulatedDrive::open(bool exclusive) {
  std::lock_guard lock(mutex_);
  if (!present_) return -ENODEV;
  if (failingOpens_ > 0) {
    --failingOpens_;
    return -EAGAIN;
  }
  // As O_EXCL on a block device: one exclusive holder, none while mounted; shared opens
  // are always possible.
  if (exclusive && (exclusiveHandle_ || heldElsewhere_ || mounted_)) return -EBUSY;
  const int handle = nextHandle_++;
  if (exclusive) exclusiveHandle_ = handle;
  return handle;
}

void EmulatedDrive::close(int handle) {
  std::lock_guard lock(mutex_);
  if (exclusiveHandle_ == handle) exclusiveHandle_ = 0;
}

void EmulatedDrive::setHeldElsewhere(bool held) {
  std::lock_guard lock(mutex_);
  heldElsewhere_ = held;
}

void EmulatedDrive::failOpens(int count) {
  std::lock_guard lock(mutex_);
  failingOpens_ = count;
}

void EmulatedDrive::setMounted(bool mounted) {
  std::lock_guard lock(mutex_);
  mounted_ = mounted;
}

bool EmulatedDrive::mounted() const {
  std::lock_guard lock(mutex_);
  return mounted_;
}

void EmulatedDrive::setUnmountRefused(bool refused) {
  std::lock_guard lock(mutex_);
  unmountRefused_ = refused;
}

bool EmulatedDrive::unmountRefused() const {
  std::lock_guard lock(mutex_);
  return unmountRefused_;
}

void EmulatedDrive::addFault(FaultRule rule) {
  std::lock_guard lock(mutex_);
  faults_.push_back(rule);
}

void EmulatedDrive::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void EmulatedDrive::unplug() {
  {
    std::lock_guard lock(mutex_);
    if (!present_) return;
    present_ = false;
  }
  raise(DriveEvent::Vanished);
}

bool EmulatedDrive::present() const {
  std::lock_guard lock(mutex_);
  return present_;
}

std::vector<LoggedCommand> EmulatedDrive::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void EmulatedDrive::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

std::uint64_t EmulatedDrive::mediumBytes() const {
  std::lock_guard lock(mutex_);
  if (!medium_) return 0;
  const bool random = medium_->profile().recording == Recording::Random;
  return std::uint64_t{random ? medium_->formattedBlocks() : medium_->recordedEnd()} * kBlockBytes;
}

bool EmulatedDrive::readMedium(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
  std::lock_guard lock(mutex_);
  if (!medium_ || offset + length > mediumBytes()) return false;
  const auto first = static_cast<std::uint32_t>(offset / kBlockBytes);
  const auto last = static_cast<std::uint32_t>((offset + length + kBlockBytes - 1) / kBlockBytes);
  std::vector<std::uint8_t> blocks(std::size_t{last - first} * kBlockBytes);
  if (!medium_->read(first, last - first, blocks.data())) return false;
  std::memcpy(out, blocks.data() + offset % kBlockBytes, length);
  return true;
}

FaultRule* EmulatedDrive::matchFault(std::span<const std::uint8_t> cdb) {
  for (auto& rule : faults_) {
    if (rule.opcode && *rule.opcode != cdb[0]) continue;
    if (rule.lbaFirst) {
      const auto lba = lbaOf(cdb);
      if (!lba || *lba < *rule.lbaFirst || *lba > rule.lbaLast.value_or(*rule.lbaFirst)) continue;
    }
    ++rule.seen;
    if (rule.seen >= rule.fromCall && rule.seen <= rule.toCall) return &rule;
  }
  return nullptr;
}

std::optional<EmulatedDrive::Reply> EmulatedDrive::unitAttention(std::uint8_t opcode) {
  if (!pendingAttention_ || exemptFromAttention(opcode)) return std::nullopt;
  const auto a = *pendingAttention_;
  pendingAttention_.reset();
  return check(a[0], a[1], a[2]);
}

// MMC-5 4.1.6: no medium (tray closed or open), then becoming ready after a load.
std::optional<EmulatedDrive::Reply> EmulatedDrive::readiness(std::uint8_t opcode) {
  if (!needsMedium(opcode)) return std::nullopt;
  if (!medium_) return check(0x02, 0x3A, trayOpen_ ? 0x02 : 0x01);
  if (longOperation_) {
    if (engineClock().now() < longOperation_->end) return check(0x02, 0x04, longOperation_->ascq);
    longOperation_.reset();
  }
  if (engineClock().now() < readyAt_) return check(0x02, 0x04, 0x01);
  return std::nullopt;
}

ScsiResult EmulatedDrive::execute(int handle, const ScsiRequest& request) {
  ScsiResult gone;
  gone.sysError = ENODEV;
  gone.hostStatus = kHostNoConnect;
  if (request.cdb.empty()) return gone;
  FaultRule fault;
  bool faulted = false;
  {
    std::lock_guard lock(mutex_);
    if (!present_) return gone;
    if (FaultRule* rule = matchFault(request.cdb)) {
      fault = *rule;
      faulted = true;
    }
  }
  if (faulted) {
    if (fault.hook) fault.hook();
    switch (fault.action) {
      case FaultAction::NeverAnswers: {
        engineClock().sleepFor(request.timeout);
        ScsiResult r;
        r.hostStatus = kHostTimeOut;
        return r;
      }
      case FaultAction::Vanish:
        unplug();
        return gone;
      case FaultAction::TransportFailure: {
        ScsiResult r;
        r.hostStatus = fault.hostStatus;
        return r;
      }
      case FaultAction::Reset: {
        std::lock_guard lock(mutex_);
        pendingAttention_ = std::array<std::uint8_t, 3>{0x06, 0x29, 0x00};
        prevent_ = false;
        forgetWriting();
        break;
      }
      case FaultAction::RemoveMedium:
        (void)unload();
        {
          std::lock_guard lock(mutex_);
          trayOpen_ = false;  // taken out, tray shut again: "no medium, tray closed"
        }
        break;
      default:
        break;
    }
  }
  std::lock_guard lock(mutex_);
  Reply reply;
  if (faulted && fault.action == FaultAction::CheckCondition) {
    reply = check(fault.key, fault.asc, fault.ascq);
    reply.information = lbaOf(request.cdb);
  } else if (faulted && fault.action == FaultAction::Busy) {
    reply.status = kScsiBusy;
  } else {
    const auto dataOut = request.direction == DataDirection::Out
                             ? std::span<const std::uint8_t>(request.buffer)
                             : std::span<const std::uint8_t>();
    reply = dispatch(request.cdb, dataOut);
  }
  ScsiResult result = finish(request, std::move(reply), handle, faulted && fault.descriptorSense);
  if (faulted && fault.action == FaultAction::ShortTransfer) {
    result.residual = std::min<std::uint32_t>(static_cast<std::uint32_t>(request.buffer.size()),
                                              result.residual + fault.residual);
  }
  return result;
}

ScsiResult EmulatedDrive::finish(const ScsiRequest& request, Reply reply, int handle,
                                 bool descriptorSense) {
  ScsiResult r;
  r.delivered = true;
  r.scsiStatus = reply.status;
  const std::size_t asked = request.buffer.size();
  if (reply.status == kScsiGood && request.direction == DataDirection::In) {
    // SPC-3 4.3.4.6: the reply is cut to the allocation length and to the host's buffer.
    const std::size_t n = std::min({reply.dataIn.size(), asked, std::size_t{reply.allocation}});
    std::copy_n(reply.dataIn.begin(), n, request.buffer.begin());
    r.residual = static_cast<std::uint32_t>(asked - n);
  } else if (reply.status != kScsiGood) {
    r.residual = static_cast<std::uint32_t>(asked);
  }
  if (reply.status == kScsiCheckCondition) {
    const auto sense = senseBytes(reply, descriptorSense);
    r.senseLength = static_cast<std::uint8_t>(std::min(sense.size(), r.sense.size()));
    std::copy_n(sense.begin(), r.senseLength, r.sense.begin());
    r.driverStatus = kDriverSense;
    lastSense_ = {reply.key, reply.asc, reply.ascq};
  }
  LoggedCommand entry;
  entry.cdb.assign(request.cdb.begin(), request.cdb.end());
  entry.status = reply.status;
  entry.sense = MMC_SenseData{reply.key, reply.asc, reply.ascq};
  entry.handle = handle;
  entry.exclusive = handle != 0 && handle == exclusiveHandle_;
  entry.timeout = request.timeout;
  entry.transferBytes = request.direction == DataDirection::None ? 0 : request.buffer.size();
  if (request.direction == DataDirection::Out) {
    entry.dataOut.assign(
        request.buffer.begin(),
        request.buffer.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(asked, 256)));
  }
  log_.push_back(entry);
  if (medium_) {
    medium_->logCommand(hex(entry.cdb) + " -> status " + std::to_string(reply.status) + " sense " +
                        std::to_string(reply.key) + '/' + std::to_string(reply.asc) + '/' +
                        std::to_string(reply.ascq));
  }
  return r;
}

EmulatedDrive::Reply EmulatedDrive::dispatch(std::span<const std::uint8_t> cdb,
                                             std::span<const std::uint8_t> dataOut) {
  const std::uint8_t op = cdb[0];
  if (auto attention = unitAttention(op)) return *attention;
  if (auto notReady = readiness(op)) return *notReady;
  switch (op) {
    case 0x00:
      return Reply{};
    case 0x03:
      return requestSense(cdb);
    case 0x04:
      return formatUnit(cdb, dataOut);
    case 0x12:
      return inquiry(cdb);
    case 0x1B:
      return startStop(cdb);
    case 0x1E:
      prevent_ = (cdb[4] & 1) != 0;
      return Reply{};
    case 0x23:
      return readFormatCapacities(cdb);
    case 0x25:
      return readCapacity();
    case 0x28:
      return read(cdb, be::get32(cdb, 2), be::get16(cdb, 7));
    case 0xA8:
      return read(cdb, be::get32(cdb, 2), be::get32(cdb, 6));
    case 0x2A:
      return write(static_cast<std::int32_t>(be::get32(cdb, 2)), be::get16(cdb, 7), dataOut);
    case 0xAA:
      return write(static_cast<std::int32_t>(be::get32(cdb, 2)), be::get32(cdb, 6), dataOut);
    case 0xBE:
      return readCd(cdb);
    case 0x35:
      return synchronizeCache();
    case 0x43:
      return readToc(cdb);
    case 0x46:
      return getConfiguration(cdb);
    case 0x4A:
      return eventStatus(cdb);
    case 0x51:
      return discInfo(cdb);
    case 0x52:
      return trackInfo(cdb);
    case 0x55:
      return modeSelect(dataOut);
    case 0x5A:
      return modeSense(cdb);
    case 0x5B:
      return closeTrackSession(cdb);
    case 0x5D:
      return sendCueSheet(dataOut);
    case 0x53:
      return reserveTrack(cdb);
    case 0x5C:
      return bufferCapacity(cdb);
    case 0xA1:
      return blank(cdb);
    case 0xAC:
      return performance(cdb);
    case 0xBB:
      writeKBps_ = be::get16(cdb, 4);
      return Reply{};
    case 0xB6:
      return dataOut.size() == 28 ? Reply{} : check(0x05, 0x1A, 0x00);
    default:
      return check(0x05, 0x20, 0x00);  // invalid command operation code
  }
}

bool EmulatedDrive::writes(std::uint16_t profile) const {
  return std::find(config_.writable.begin(), config_.writable.end(), profile) !=
         config_.writable.end();
}

}  // namespace quillion::emu
