// SPDX-License-Identifier: GPL-2.0-or-later
#include "emulated_bus.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>

#include "device/cdb.h"
#include "device/disk_arbitration.h"
#include "platform/device/linux_drive.h"

namespace quillion::emu {

namespace {

std::string keyOf(const std::string& name) { return "emulated:" + name; }

class EmulatedBackend final : public DriveBackend {
public:
  explicit EmulatedBackend(std::shared_ptr<EmulatedDrive> drive) : drive_(std::move(drive)) {
    const DriveConfig& c = drive_->config();
    id_.key = keyOf(c.name);
    id_.devNode = kDevicePrefix + c.name;
    id_.interfaceText = c.interfaceText;
    id_.vendor = c.vendor;
    id_.model = c.product;
    id_.revision = c.revision;
    id_.takesCommands = !c.pureReader;
  }

  const DriveIdentity& identity() const override { return id_; }

  OpenResult open(AccessMode mode) override {
    const int handle = drive_->open(mode == AccessMode::Exclusive);
    if (handle < 0) return openFailure(-handle);  // the same mapping as a device node's errno
    OpenResult r;
    r.transport = std::make_unique<EmulatedTransport>(drive_, handle);
    return r;
  }

  EngineStatus trayState(TrayState& state) override {
    if (!drive_->present()) return kErrNoDrive;
    state = drive_->trayOpen() ? TrayState::Open : TrayState::Closed;
    return kNoErr;
  }

  // As the kernel's eject and close-tray ioctls: a START STOP UNIT to the drive.
  EngineStatus setTray(bool open) override {
    const auto block = cdb::startStopUnit(false, open ? 2 : 3);
    ScsiRequest request;
    request.cdb = std::span(block).first(6);
    request.timeout = std::chrono::seconds(30);
    const ScsiResult r = drive_->execute(0, request);
    return r.delivered && r.scsiStatus == kScsiGood ? kNoErr : kErrTransport;
  }

  EngineStatus mediumBytes(std::uint64_t& bytes) override {
    if (!drive_->present()) return kErrNoDrive;
    bytes = drive_->mediumBytes();
    return kNoErr;
  }

  EngineStatus readMedium(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
    return drive_->readMedium(offset, buffer, length) ? kNoErr : kErrTransport;
  }

private:
  std::shared_ptr<EmulatedDrive> drive_;
  DriveIdentity id_;
};

// The drives' mount table: names "quillion-emu/<drive>".
class EmulatedVolumes final : public VolumeManager {
public:
  bool owns(std::string_view name) const override { return name.starts_with("quillion-emu/"); }
  std::string wholeDiskOf(std::string_view name) const override { return std::string(name); }

  int unmount(std::string_view name, bool /*force*/) override {
    auto drive = driveOf(name);
    if (!drive) return kDiskArbDissent;
    if (!drive->mounted()) return kDiskArbOk;
    if (drive->unmountRefused()) return kDiskArbDissent;  // "busy"
    drive->setMounted(false);
    return kDiskArbOk;
  }

  int mount(std::string_view name) override {
    auto drive = driveOf(name);
    if (!drive || !drive->hasMedium()) return kDiskArbDissent;
    drive->setMounted(true);
    return kDiskArbOk;
  }

private:
  static std::shared_ptr<EmulatedDrive> driveOf(std::string_view name) {
    return EmulatedBus::instance().find(std::string(name.substr(std::string_view("quillion-emu/").size())));
  }
};

}  // namespace

class BusSource final : public DeviceSource {
public:
  BusSource() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) { EmulatedBus::instance().attach(this); }
  ~BusSource() override {
    EmulatedBus::instance().detach(this);
    if (fd_ >= 0) ::close(fd_);
  }
  BusSource(const BusSource&) = delete;
  BusSource& operator=(const BusSource&) = delete;

  std::vector<std::shared_ptr<DriveBackend>> start() override { return EmulatedBus::instance().backends(); }
  int eventFd() const override { return fd_; }

  std::vector<DeviceEvent> takeEvents() override {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(fd_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
  }

  void push(DeviceEvent event) {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(std::move(event));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
  }

private:
  int fd_;
  std::mutex mutex_;
  std::vector<DeviceEvent> pending_;
};

EmulatedBus& EmulatedBus::instance() {
  static EmulatedBus bus;
  static const bool volumes = [] {
    addVolumeManager(std::make_shared<EmulatedVolumes>());
    return true;
  }();
  (void)volumes;
  return bus;
}

std::shared_ptr<EmulatedDrive> EmulatedBus::plug(const DriveConfig& config) {
  auto drive = std::make_shared<EmulatedDrive>(config);
  const std::string name = config.name;
  drive->setEventSink([this, name](DriveEvent e) {
    if (e == DriveEvent::MediumChanged) post({DeviceEvent::Kind::MediumChanged, keyOf(name), nullptr});
    if (e == DriveEvent::Vanished) unplug(name);
  });
  {
    std::lock_guard lock(mutex_);
    if (drives_.contains(name)) return nullptr;
    drives_.emplace(name, drive);
  }
  post({DeviceEvent::Kind::DriveAdded, keyOf(name), std::make_shared<EmulatedBackend>(drive)});
  return drive;
}

void EmulatedBus::unplug(const std::string& name) {
  std::shared_ptr<EmulatedDrive> drive;
  {
    std::lock_guard lock(mutex_);
    auto it = drives_.find(name);
    if (it == drives_.end()) return;
    drive = it->second;
    drives_.erase(it);
  }
  drive->unplug();
  post({DeviceEvent::Kind::DriveRemoved, keyOf(name), nullptr});
}

std::shared_ptr<EmulatedDrive> EmulatedBus::find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = drives_.find(name);
  return it == drives_.end() ? nullptr : it->second;
}

void EmulatedBus::reset() {
  std::lock_guard lock(mutex_);
  drives_.clear();
}

std::vector<std::shared_ptr<DriveBackend>> EmulatedBus::backends() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<DriveBackend>> out;
  for (const auto& [name, drive] : drives_) out.push_back(std::make_shared<EmulatedBackend>(drive));
  return out;
}

void EmulatedBus::post(DeviceEvent event) {
  std::lock_guard lock(mutex_);
  if (source_) source_->push(std::move(event));
}

void EmulatedBus::attach(BusSource* source) {
  std::lock_guard lock(mutex_);
  source_ = source;
}

void EmulatedBus::detach(BusSource* source) {
  std::lock_guard lock(mutex_);
  if (source_ == source) source_ = nullptr;
}

std::unique_ptr<DeviceSource> EmulatedBus::makeSource() { return std::make_unique<BusSource>(); }

std::optional<DriveConfig> parseDriveDefinition(const std::string& name, const std::string& text,
                                                std::string* mediumPath, std::string* mediumProfile) {
  std::map<std::string, std::string> values;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t"));
      s.erase(s.find_last_not_of(" \t\r") + 1);
      return s;
    };
    values[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  auto config = DriveConfig::preset(values.contains("preset") ? values["preset"] : "dvd-writer");
  if (!config) return std::nullopt;
  config->name = name;
  if (values.contains("vendor")) config->vendor = values["vendor"];
  if (values.contains("product")) config->product = values["product"];
  if (values.contains("revision")) config->revision = values["revision"];
  if (values.contains("interface")) config->interfaceText = values["interface"];
  if (values.contains("pure-reader")) config->pureReader = values["pure-reader"] == "yes";
  if (values.contains("bufe")) config->bufe = values["bufe"] != "no";
  if (values.contains("spin-up-ms")) config->spinUp = std::chrono::milliseconds(std::stol(values["spin-up-ms"]));
  if (mediumPath) *mediumPath = values["medium"];
  if (mediumProfile) *mediumProfile = values.contains("medium-profile") ? values["medium-profile"] : "DVD-ROM";
  return config;
}

bool EmulatedBus::loadFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  bool ok = true;
  for (const auto& file : std::filesystem::directory_iterator(folder, ec))
    if (file.path().extension() == ".drive") ok = loadDriveFile(folder, file.path()) && ok;
  return ok && !ec;
}

bool EmulatedBus::loadDriveFile(const std::filesystem::path& folder, const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  std::string mediumPath, mediumProfile;
  const std::string name = file.stem().string();
  auto config = parseDriveDefinition(name, text.str(), &mediumPath, &mediumProfile);
  if (!config || find(name)) return false;
  auto drive = plug(*config);
  if (!drive) return false;
  if (mediumPath.empty()) return true;
  const auto source = folder / mediumPath;
  std::optional<Medium> medium = std::filesystem::is_directory(source) ? Medium::load(source) : std::nullopt;
  const ProfileInfo* profile = profileByName(mediumProfile);
  if (!medium && profile) medium = Medium::fromIso(source, folder / (name + ".medium"), profile->code);
  if (!medium) return false;
  drive->load(std::move(*medium));
  return true;
}

}  // namespace quillion::emu
