// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/device_list_manager.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "framework/main_thread.h"
#include "framework/messages.h"
#include "framework/notification_center.h"
#include "quillion/MMC.h"
#include "shell/drive_database.h"
#include "shell/notification_names.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace {

// The 16 models of one vendor that take the vendor's own WRITE CONTINUE command.
constexpr const char* kWriteContinueModels[] = {
    "CD-RW  CRX110E", "CD-RW  CRX120E", "CD-RW  CRX510E", "CD-RW  CRX140E",
    "CD-RW  CRX140S", "CD-RW  CRX500E", "CD-RW  CRX145S", "CD-RW  CRX145E",
    "CD-RW  CRX160S", "CD-RW  CRX160E", "CD-RW  CRX700E", "CD-RW  CRX10U",
    "CD-RW  CRX75L",  "CD-RW  CRX200E", "CD-RW  CRX168E", "CD-RW  CRX175A"};

DC_DeviceCap defaultCapabilities() {
  DC_DeviceCap c{};
  c.bReadCDDA = c.bSwapCDDA = c.bReadSubChannel = c.bValueInBCD = c.bReWritable = 1;
  c.bTAO = c.bDAO = c.bRawDAO = c.bSAO = c.bBurnProof = c.bCDText = 1;
  c.dwCDRSpeedFlag = c.dwRWSpeedFlag = 0x77;
  c.dwDVDRSpeedFlag = c.dwDVDRWSpeedFlag = 1;
  c.wOverburn = 1;
  return c;
}

bool isPseudoRef(std::uint32_t ref) {
  return ref == DeviceListManager::kImageRef || ref == DeviceListManager::kIsoImageRef;
}

std::uint32_t codeOfDvdKind(std::uint8_t kind) {
  switch (kind) {
    case 1:
      return kDiscDVDROM;
    case 2:
      return kDiscDVDR;
    case 3:
      return kDiscDVDRW;
    case 4:
      return kDiscDVDPlusR;
    case 5:
      return kDiscDVDPlusRW;
    case 6:
      return kDiscDVDPlusRDL;
    case 7:
      return kDiscDVDRAM;
    case 8:
      return kDiscDVDRDL;
    case 9:
      return kDiscBDROM;
    case 10:
      return kDiscBDR;
    case 11:
      return kDiscBDRE;
    default:
      return kDiscDVDOther;
  }
}

std::uint32_t codeOfCdTracks(const GDT_DiscInfo& info) {
  const GDT_OneTrack* tracks = GDT_Tracks(&info);
  bool anyAudio = false, anyData = false;
  for (std::uint16_t i = 0; i < info.trackCount; ++i)
    (tracks[i].mode == kGDT_ModeAudio ? anyAudio : anyData) = true;
  const bool firstAudio = info.trackCount && tracks[0].mode == kGDT_ModeAudio;
  if (!anyAudio)
    return info.trackCount && tracks[0].mode == kGDT_ModeData2 ? kDiscCDXA : kDiscCDData;
  if (!anyData) return kDiscCDAudio;
  return firstAudio ? kDiscCDExtra : kDiscCDMixed;
}

// An engine record's text field, which may fill its array without a NUL.
template <std::size_t N>
QString fieldText(const char (&field)[N]) {
  return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, N)));
}

// Byte 3 of the capabilities page (MMC-5 7.8): the write bits, DVD-RAM 20h, DVD-R 10h,
// CD-RW 02h, CD-R 01h. -1 when the page cannot be read.
int capabilityWriteBits(std::uint32_t ref) {
  std::uint8_t reply[64] = {};
  MMC_SenseData sense{};
  EngineStatus status = DC_MacX_ModeSense10(ref, 0x2A, 0, sizeof reply, reply, &sense);
  if (status == kErrPlatformCannotServe)
    status = MMC_ModeSense10(ref, 0x2A, 0, sizeof reply, reply, &sense);
  if (status != kNoErr) return -1;
  const std::size_t page = 8 + (static_cast<std::size_t>(reply[6]) << 8 | reply[7]);
  if (page + 3 >= sizeof reply || (reply[page] & 0x3F) != 0x2A) return -1;
  return reply[page + 3];
}

// Delivers the engine's device events when its descriptor becomes readable.
void pumpEngineEvents() {
  (void)pumpDeviceEvents();
}

}  // namespace

std::uint32_t discTypeCodeOf(const GDT_DiscInfo& info, bool wholeList) {
  const bool blank = (info.discState & 3) == kGDT_DiscBlank;
  if (info.mediumClass == kGDT_MediumDVDorBD)
    return blank ? kDiscDVDBlank : codeOfDvdKind(info.discKind);
  if (blank) return kDiscCDBlank;
  switch (info.discType) {
    case 0x00:
    case 0x20:
      return codeOfCdTracks(info);
    case 0x10:
      return kDiscCDI;
    case 0xFF:
      return kDiscCDOther;
    default:
      return wholeList ? kDiscNone : kDiscCDOther;
  }
}

CachedDiscInfo::CachedDiscInfo(const GDT_DiscInfo* info) {
  if (!info) return;
  const std::size_t size = sizeof(GDT_DiscInfo) + info->trackCount * sizeof(GDT_OneTrack);
  const auto* p = reinterpret_cast<const std::uint8_t*>(info);
  bytes_.assign(p, p + size);
}

const GDT_DiscInfo* CachedDiscInfo::get() const {
  return bytes_.empty() ? nullptr : reinterpret_cast<const GDT_DiscInfo*>(bytes_.data());
}

std::uint32_t commonWriteSpeed(const std::vector<MediaSpeed>& speeds,
                               std::vector<std::uint32_t>& chosen) {
  chosen.clear();
  std::uint32_t maximum = 1, largestMinimum = 1;
  for (const MediaSpeed& s : speeds) {
    chosen.push_back(s.maxSpeed);
    maximum = std::max(maximum, s.maxSpeed);
    largestMinimum = std::max(largestMinimum, s.minSpeed);
  }
  // Down from the fastest in steps of 2 until every drive reaches the same speed; a speed
  // below some drive's minimum ends the search with what each drive got so far.
  for (std::int64_t k = maximum; k >= static_cast<std::int64_t>(largestMinimum); k -= 2) {
    bool everyDrive = true;
    for (std::size_t i = 0; i < speeds.size(); ++i) {
      if (k < speeds[i].minSpeed) return maximum;
      if (k <= speeds[i].maxSpeed)
        chosen[i] = static_cast<std::uint32_t>(k);
      else
        everyDrive = false;
    }
    if (everyDrive) break;
  }
  return maximum;
}

DeviceListManager::Delay DeviceListManager::oneSecondLater() {
  return [](QObject* context, std::function<void()> fn) {
    QTimer::singleShot(1000, context, std::move(fn));
  };
}

DeviceListManager::DeviceListManager(QString databasePath, Delay delay, QObject* parent)
    : QObject(parent),
      databasePath_(std::move(databasePath)),
      delay_(std::move(delay)),
      defaultCap_(defaultCapabilities()) {
  DC_Device* list = nullptr;
  const std::uint16_t n = DC_GetConnectedDeviceList(&list);
  for (std::uint16_t i = 0; i < n; ++i) items_.push_back(itemFromEngine(list[i]));
  std::free(list);
  appendPseudoDrives(items_);
  completeFromDatabase(items_, -1);
}

DeviceListManager::~DeviceListManager() {
  detachFromEngine();
}

void DeviceListManager::attachToEngine() {
  if (attached_) return;
  attached_ = DC_InstallListUpdateCallback(&DeviceListManager::onListUpdate, this) == kNoErr &&
              DC_InstallDiscChangedCallback(&DeviceListManager::onDiscChanged, this) == kNoErr;
  if (deviceEventFd() >= 0) {
    events_ = new QSocketNotifier(deviceEventFd(), QSocketNotifier::Read, this);
    connect(events_, &QSocketNotifier::activated, this, [] { pumpEngineEvents(); });
  }
}

void DeviceListManager::detachFromEngine() {
  if (!attached_) return;
  DC_RemoveListUpdateCallback(&DeviceListManager::onListUpdate);
  DC_RemoveDiscChangedCallback(&DeviceListManager::onDiscChanged);
  delete events_;
  events_ = nullptr;
  attached_ = false;
}

void DeviceListManager::onListUpdate(void* self) {
  (void)static_cast<DeviceListManager*>(self)->updateDeviceList();
}

void DeviceListManager::onDiscChanged(void* self, std::uint32_t ref, bool /*flag*/) {
  static_cast<DeviceListManager*>(self)->checkDiskStatusProgress(ref, false);
}

DeviceItem DeviceListManager::itemFromEngine(const DC_Device& device) const {
  DeviceItem item;
  item.device = device;
  item.device.deviceCap = defaultCap_;
  // Every drive here takes MMC commands, readers too: a drive counts as a writer unless it is
  // a bare block device or its capabilities say it writes nothing.
  item.supported = device.RWCapability != kDC_PureReader;
  if (item.supported) {
    const int bits = capabilityWriteBits(device.ref);
    if (bits >= 0 && (bits & 0x33) == 0 && !canWriteBD(device.ref)) item.supported = false;
  }
  return item;
}

void DeviceListManager::appendPseudoDrives(std::vector<DeviceItem>& list) const {
  const auto pseudo = [](std::uint32_t ref, bool supported) {
    DeviceItem item;
    item.device.ref = ref;
    item.supported = supported;
    return item;
  };
  list.push_back(pseudo(kImageRef, false));    // CD image reader
  list.push_back(pseudo(kImageRef, true));     // CD image writer
  list.push_back(pseudo(kIsoImageRef, true));  // ISO image writer
}

void DeviceListManager::completeFromDatabase(std::vector<DeviceItem>& list, int onlyIndex) const {
  const auto wanted = [&](int i) {
    return (onlyIndex < 0 || i == onlyIndex) &&
           !isPseudoRef(list[static_cast<std::size_t>(i)].device.ref);
  };
  for (int i = 0; i < static_cast<int>(list.size()); ++i)
    if (wanted(i))
      list[static_cast<std::size_t>(i)].canWriteBD =
          canWriteBD(list[static_cast<std::size_t>(i)].device.ref);

  QFile file(databasePath_);
  std::optional<DriveDatabase> db;
  if (!databasePath_.isEmpty() && file.open(QIODevice::ReadOnly))
    db = parseDriveDatabase(file.readAll());
  if (db) {
    for (const DriveRecord& record : db->records) {
      for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        DeviceItem& item = list[static_cast<std::size_t>(i)];
        if (!wanted(i) || !recordMatches(record, item.device.vendor, item.device.model)) continue;
        item.inDatabase = item.supported = true;
        item.usesDDS = item.selected = item.disabled = false;
        item.maxWriteSpeed = 0;
        item.device.deviceCap = record.cap;  // the last matching record wins
      }
    }
  }
  // Writers the database does not know describe their CD speeds themselves.
  for (int i = 0; i < static_cast<int>(list.size()); ++i) {
    DeviceItem& item = list[static_cast<std::size_t>(i)];
    if (!wanted(i) || !item.supported || item.inDatabase) continue;
    item.usesDDS = true;
    GDT_DriveSpeedRecord speeds{};
    if (GDT_GetDriveInfoByDDS(item.device.ref, &speeds) != kNoErr) continue;
    DC_DeviceCap& c = item.device.deviceCap;
    c.dwCDRSpeedFlag = speeds.cdrSpeedMask;
    c.dwRWSpeedFlag = speeds.rwSpeedMask;
    c.bBurnProof = speeds.highSpeed;
    c.dwDVDRSpeedFlag = c.dwDVDRWSpeedFlag = canWriteDVD(item.device.ref) ? 7 : 0;
  }
}

bool DeviceListManager::updateDeviceList() {
  DC_Device* list = nullptr;
  const std::uint16_t n = DC_GetConnectedDeviceList(&list);
  std::vector<DeviceItem> fresh;
  fresh.reserve(n + 3u);
  std::vector<int> newcomers;
  for (std::uint16_t i = 0; i < n; ++i) {
    const DeviceItem* old = itemByRef(list[i].ref);
    if (old && !isPseudoRef(list[i].ref)) {
      fresh.push_back(*old);  // status, flags, capabilities and the cached disc state stay
    } else {
      fresh.push_back(itemFromEngine(list[i]));
      newcomers.push_back(static_cast<int>(fresh.size()) - 1);
    }
  }
  std::free(list);
  appendPseudoDrives(fresh);
  for (int index : newcomers) completeFromDatabase(fresh, index);
  items_ = std::move(fresh);
  checkDiskStatusProgress(0, false);
  NotificationCenter::instance().post(QString::fromLatin1(VUK_DeviceListUpdated), nullptr);
  return true;
}

void DeviceListManager::checkDiskStatusProgress(std::uint32_t ref, bool refresh) {
  delay_(this, [this, ref, refresh] { (void)refreshDiscStateNow(ref, refresh); });
}

bool DeviceListManager::refreshOne(DeviceItem& item, bool refresh, bool wholeList,
                                   bool* busyNotice) {
  const std::uint32_t ref = item.device.ref;
  const EngineStatus tray = GDT_TrayStatus(ref);
  const bool pure = GDT_IsPureReader(ref);
  if (!pure && !refresh && item.disc.discInfo && (tray == 0 || tray == -1)) return false;
  if (item.status != kDriveReady && item.status != kDriveBusy) {
    if (busyNotice) *busyNotice = true;
    return false;
  }
  GDT_DiscInfo* raw = nullptr;
  MMC_SenseData sense{};
  const EngineStatus status = GDT_GetDiscInfo(ref, &raw, &sense);
  if (status == kNoErr && raw) {
    auto fresh = std::make_shared<const CachedDiscInfo>(raw);
    const std::uint32_t code = discTypeCodeOf(*raw, wholeList);
    const bool audio = raw->audioTracks != 0;
    std::free(raw);
    item.disc.hasAudioTracks = audio;
    if (item.disc.discInfo && *item.disc.discInfo == *fresh) return false;
    item.disc.discInfo = std::move(fresh);
    item.disc.discTypeEnum = code;
    item.disc.trayStatus = 0;
    return true;
  }
  std::free(raw);
  const bool changed = item.disc.discInfo != nullptr || item.disc.trayStatus != 1;
  item.disc = DiscInDriveInfo{};
  item.disc.trayStatus = 1;
  return changed;
}

bool DeviceListManager::refreshDiscStateNow(std::uint32_t ref, bool refresh) {
  bool changed = false, busy = false;
  if (ref != 0) {
    DeviceItem* item = itemByRef(ref);
    if (!item || isPseudoRef(ref)) return false;
    changed = refreshOne(*item, refresh, false, &busy);
  } else {
    for (DeviceItem& item : items_) {
      if (isPseudoRef(item.device.ref)) continue;
      if (item.status != kDriveReady && item.status != kDriveBusy) continue;
      changed = refreshOne(item, refresh, true, nullptr) || changed;
    }
  }
  if (changed || busy)
    NotificationCenter::instance().post(QString::fromLatin1(VUK_DriveInfoUpdated), this);
  return changed;
}

bool DeviceListManager::canWriteDVD(std::uint32_t ref) const {
  if (isPseudoRef(ref)) return false;
  const int bits = capabilityWriteBits(ref);
  return bits >= 0 && (bits & 0x10) != 0;
}

bool DeviceListManager::canWriteBD(std::uint32_t ref) const {
  if (isPseudoRef(ref)) return false;
  std::uint8_t reply[64] = {};
  MMC_SenseData sense{};
  EngineStatus status = DC_MacX_GetConfiguration(ref, 2, 0x41, reply, sizeof reply, &sense);
  if (status == kErrPlatformCannotServe)
    status = MMC_GetConfiguration(ref, 2, 0x41, reply, sizeof reply, &sense);
  return status == kNoErr && reply[9] == 0x41;
}

const DeviceItem* DeviceListManager::itemByRef(std::uint32_t ref) const {
  const int index = getIndexOfDeviceByRef(ref);
  return index < 0 ? nullptr : &items_[static_cast<std::size_t>(index)];
}

DeviceItem* DeviceListManager::itemByRef(std::uint32_t ref) {
  const int index = getIndexOfDeviceByRef(ref);
  return index < 0 ? nullptr : &items_[static_cast<std::size_t>(index)];
}

const DeviceItem* DeviceListManager::itemAt(int index) const {
  if (index < 0 || index >= numberOfAllDrives()) return nullptr;
  return &items_[static_cast<std::size_t>(index)];
}

int DeviceListManager::getIndexOfDeviceByRef(std::uint32_t ref) const {
  if (ref == 0) return -1;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].device.ref == ref) return static_cast<int>(i);
  return -1;
}

int DeviceListManager::getIndexOfWriterByRef(std::uint32_t ref) const {
  const int index = getIndexOfDeviceByRef(ref);
  if (index < 0) return -1;
  return static_cast<int>(std::count_if(items_.begin(), items_.begin() + index,
                                        [](const DeviceItem& i) { return i.supported; }));
}

std::uint16_t DeviceListManager::statusOfDevice(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item ? item->status : std::uint16_t{kDriveReady};
}

void DeviceListManager::updateStatus(std::uint32_t ref, std::uint16_t status) {
  if (DeviceItem* item = itemByRef(ref)) item->status = status;
}

void DeviceListManager::postStatusFromAnyThread(std::uint32_t ref, std::uint16_t status) {
  postToMain(
      [this, ref, status] {
        updateStatus(ref, status);
        NotificationCenter::instance().post(
            QString::fromLatin1(VUK_DeviceStatusChangedNotification), nullptr);
      },
      this);
}

bool DeviceListManager::getCopyToHDFlag(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item && item->copyToHD;
}

void DeviceListManager::updateCopyToHDFlag(std::uint32_t ref, bool flag) {
  if (DeviceItem* item = itemByRef(ref)) item->copyToHD = flag;
}

bool DeviceListManager::isDriveSelected(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item && item->selected;
}

void DeviceListManager::updateSelectedDrive(std::uint32_t ref, bool select) {
  if (DeviceItem* item = itemByRef(ref)) item->selected = select;
}

bool DeviceListManager::isDriveDisabled(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item && item->disabled;
}

void DeviceListManager::updateDisabledDrive(std::uint32_t ref, bool disable) {
  for (DeviceItem& item : items_) item.disabled = false;
  DeviceItem* item = itemByRef(ref);
  if (!item || isPseudoRef(ref) || !item->supported) return;
  item->disabled = disable;
  item->selected = false;
}

std::uint32_t DeviceListManager::getMaxSpeedOfDevice(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item ? item->maxWriteSpeed : 0;
}

QString DeviceListManager::titleOfDrive(std::uint32_t ref, bool withInterface) const {
  return titleOfDriveByIndex(getIndexOfDeviceByRef(ref), withInterface);
}

DiscInDriveInfo DeviceListManager::getDiscInfo(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item ? item->disc : DiscInDriveInfo{};
}

const GDT_DiscInfo* DeviceListManager::DDI_getDiscInfo(std::uint32_t ref) {
  (void)refreshDiscStateNow(ref, true);
  const DeviceItem* item = itemByRef(ref);
  return item && item->disc.discInfo ? item->disc.discInfo->get() : nullptr;
}

#define QUILLION_CACHED_FIELD(name, type, expr)                                                    \
  type DeviceListManager::name(std::uint32_t ref) const {                                          \
    const DeviceItem* item = itemByRef(ref);                                                       \
    const GDT_DiscInfo* info = item && item->disc.discInfo ? item->disc.discInfo->get() : nullptr; \
    return info ? static_cast<type>(expr) : type{};                                                \
  }
QUILLION_CACHED_FIELD(DDI_getSessions, std::uint16_t, info->sessions)
QUILLION_CACHED_FIELD(DDI_getTracks, std::uint16_t, info->trackCount)
QUILLION_CACHED_FIELD(DDI_getDiscStatus, std::uint8_t, info->discState)
QUILLION_CACHED_FIELD(DDI_getMediaType, std::uint8_t, info->mediumClass)
QUILLION_CACHED_FIELD(DDI_getDiscType, std::uint8_t, info->discType)
QUILLION_CACHED_FIELD(DDI_getRewritable, std::uint8_t, info->erasable)
QUILLION_CACHED_FIELD(DDI_getDVDSpec, std::uint8_t, info->discKind)
QUILLION_CACHED_FIELD(DDI_getFileSystem, std::uint32_t, info->fileSystems)
QUILLION_CACHED_FIELD(DDI_getFreeSpace, std::uint64_t, std::uint64_t{info->freeBlocks} * 2048)
QUILLION_CACHED_FIELD(DDI_getUsedSpace, std::uint64_t, std::uint64_t{info->usedBlocks} * 2048)
QUILLION_CACHED_FIELD(DDI_getHasAudioTracks, bool, item->disc.hasAudioTracks)
#undef QUILLION_CACHED_FIELD

std::uint8_t DeviceListManager::DDI_getTrayStatus(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item ? item->disc.trayStatus : 0;
}

std::uint32_t DeviceListManager::DDI_getDiscTypeEnum(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  return item ? item->disc.discTypeEnum : kDiscNone;
}

bool DeviceListManager::isSONYWriteContinueDrive(std::uint32_t ref) const {
  const DeviceItem* item = itemByRef(ref);
  if (!item || fieldText(item->device.vendor) != QLatin1String("SONY")) return false;
  const QString model = fieldText(item->device.model);
  return std::any_of(std::begin(kWriteContinueModels), std::end(kWriteContinueModels),
                     [&](const char* m) { return model == QLatin1String(m); });
}

std::uint32_t DeviceListManager::getDeviceRefByIndex(int index) const {
  const DeviceItem* item = itemAt(index);
  return item ? item->device.ref : 0;
}

std::uint32_t DeviceListManager::getWriterRefByIndex(int n) const {
  for (const DeviceItem& item : items_)
    if (item.supported && n-- == 0) return item.device.ref;
  return 0;
}

bool DeviceListManager::isSupportedDrive(int index) const {
  const DeviceItem* item = itemAt(index);
  return item && item->supported;
}

bool DeviceListManager::isCDImageReader(int index) const {
  const DeviceItem* item = itemAt(index);
  return item && item->device.ref == kImageRef && !item->supported;
}

bool DeviceListManager::isCDImageWriter(int index) const {
  const DeviceItem* item = itemAt(index);
  return item && item->device.ref == kImageRef && item->supported;
}

bool DeviceListManager::isISOImageWriter(int index) const {
  const DeviceItem* item = itemAt(index);
  return item && item->device.ref == kIsoImageRef && item->supported;
}

int DeviceListManager::indexOfCDImageReader() const {
  for (int i = 0; i < numberOfAllDrives(); ++i)
    if (isCDImageReader(i)) return i;
  return -1;
}

int DeviceListManager::indexOfCDImageWriter() const {
  for (int i = 0; i < numberOfAllDrives(); ++i)
    if (isCDImageWriter(i)) return i;
  return -1;
}

int DeviceListManager::indexOfISOImageWriter() const {
  for (int i = 0; i < numberOfAllDrives(); ++i)
    if (isISOImageWriter(i)) return i;
  return -1;
}

QString DeviceListManager::vendorOfDriveByIndex(int index) const {
  const DeviceItem* item = itemAt(index);
  return item ? fieldText(item->device.vendor) : QString();
}

QString DeviceListManager::modelOfDriveByIndex(int index) const {
  const DeviceItem* item = itemAt(index);
  return item ? fieldText(item->device.model) : QString();
}

QString DeviceListManager::driveFirmware(int index) const {
  const DeviceItem* item = itemAt(index);
  return item ? fieldText(item->device.rev) : QString();
}

QString DeviceListManager::driveInterface(int index) const {
  const DeviceItem* item = itemAt(index);
  if (!item) return {};
  const QString text = fieldText(item->device.interface).toLower();
  return text == QLatin1String("usb2") ? QStringLiteral("usb") : text;
}

QString DeviceListManager::driveCacheSize(int index) const {
  const DeviceItem* item = itemAt(index);
  if (!item) return {};
  if (item->device.cacheSizeInKB == 0) return Msg::gui(QStringLiteral("Not Available"));
  return QStringLiteral("%1 MB").arg(item->device.cacheSizeInKB / 1000);
}

#define QUILLION_CAP_QUERY(name, type, expr)        \
  type DeviceListManager::name(int index) const {   \
    const DeviceItem* item = itemAt(index);         \
    return item ? static_cast<type>(expr) : type{}; \
  }
QUILLION_CAP_QUERY(driveSupportCDText, bool, item->device.deviceCap.bCDText & 1)
QUILLION_CAP_QUERY(driveSupportOverburn, bool, item->device.deviceCap.wOverburn & 1)
QUILLION_CAP_QUERY(driveSupportBurnProof, bool, item->device.deviceCap.bBurnProof & 1)
QUILLION_CAP_QUERY(driveSupportSAO, bool, item->device.deviceCap.bSAO == 1)
QUILLION_CAP_QUERY(driveSupportBD, bool, item->canWriteBD)
QUILLION_CAP_QUERY(driveUsesDDS, bool, item->usesDDS)
QUILLION_CAP_QUERY(driveInDatabase, bool, item->inDatabase)
QUILLION_CAP_QUERY(driveCDRSpeed, std::uint32_t, item->device.deviceCap.dwCDRSpeedFlag)
QUILLION_CAP_QUERY(driveCDRWSpeed, std::uint32_t, item->device.deviceCap.dwRWSpeedFlag)
QUILLION_CAP_QUERY(driveDVDRSpeed, std::uint32_t, item->device.deviceCap.dwDVDRSpeedFlag)
QUILLION_CAP_QUERY(driveDVDRWSpeed, std::uint32_t, item->device.deviceCap.dwDVDRWSpeedFlag)
#undef QUILLION_CAP_QUERY

QString DeviceListManager::speedMaskString(std::uint32_t mask, int highestBit) {
  QStringList speeds;
  for (int bit = 0; bit <= highestBit; ++bit)
    if (mask & (1u << bit)) speeds << QString::number(bit == 0 ? 1 : 2 * bit);
  return speeds.isEmpty() ? QStringLiteral("N/A") : speeds.join(QStringLiteral(", "));
}

QString DeviceListManager::driveCDRSpeedString(int index) const {
  return itemAt(index) ? speedMaskString(driveCDRSpeed(index), 31) : QString();
}
QString DeviceListManager::driveCDRWSpeedString(int index) const {
  return itemAt(index) ? speedMaskString(driveCDRWSpeed(index), 31) : QString();
}
QString DeviceListManager::driveDVDRSpeedString(int index) const {
  return itemAt(index) ? speedMaskString(driveDVDRSpeed(index), 10) : QString();
}
QString DeviceListManager::driveDVDRWSpeedString(int index) const {
  return itemAt(index) ? speedMaskString(driveDVDRWSpeed(index), 10) : QString();
}

QString DeviceListManager::driveDDSSupportString(int index) const {
  const DeviceItem* item = itemAt(index);
  if (!item) return {};
  return Msg::gui(item->usesDDS ? QStringLiteral("On String") : QStringLiteral("Off String"));
}

QString DeviceListManager::titleOfDriveByIndex(int index, bool withInterface) const {
  const DeviceItem* item = itemAt(index);
  if (!item) return {};
  QString title = QStringLiteral("%1. %2 %3")
                      .arg(index + 1)
                      .arg(fieldText(item->device.vendor), fieldText(item->device.model));
  if (withInterface) title += QStringLiteral(" @ ") + driveInterface(index);
  return title;
}

int DeviceListManager::numberOfSupportedDrives() const {
  return static_cast<int>(
      std::count_if(items_.begin(), items_.end(), [](const DeviceItem& i) { return i.supported; }));
}

int DeviceListManager::numberOfDrivesSelected() const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(),
                                        [this](const DeviceItem& i) { return takesPart(i); }));
}

bool DeviceListManager::multipleDevicesReady() const {
  return std::none_of(items_.begin(), items_.end(),
                      [](const DeviceItem& i) { return i.selected && i.status != kDriveReady; });
}

bool DeviceListManager::multipleDevicesContainMedia() const {
  return std::none_of(items_.begin(), items_.end(),
                      [](const DeviceItem& i) { return i.selected && !i.disc.discInfo; });
}

// The selected entries without a cached disc count as not matching.
bool DeviceListManager::multipleDeviceMediaCheck(std::uint8_t mediaType) const {
  return std::none_of(items_.begin(), items_.end(), [&](const DeviceItem& i) {
    return i.selected && (!i.disc.discInfo || i.disc.discInfo->get()->mediumClass != mediaType);
  });
}

bool DeviceListManager::multipleDeviceMediaBlankCheck() const {
  return std::none_of(items_.begin(), items_.end(), [](const DeviceItem& i) {
    return i.selected && (!i.disc.discInfo || i.disc.discInfo->get()->discState != kGDT_DiscBlank);
  });
}

bool DeviceListManager::multipleDeviceEnoughSpace(std::uint32_t blocks) const {
  return std::none_of(items_.begin(), items_.end(), [&](const DeviceItem& i) {
    return i.selected && (!i.disc.discInfo || i.disc.discInfo->get()->freeBlocks < blocks);
  });
}

void DeviceListManager::multipleDeviceUpdateStatus(std::uint16_t status) {
  for (DeviceItem& item : items_)
    if (item.selected) item.status = status;
}

std::uint8_t DeviceListManager::multipleDevicesMediatype() const {
  for (const DeviceItem& item : items_)
    if (takesPart(item)) return item.disc.discInfo ? item.disc.discInfo->get()->mediumClass : 0;
  return 0;
}

std::vector<std::uint32_t> DeviceListManager::initBPDeviceList() const {
  std::vector<std::uint32_t> refs;
  for (const DeviceItem& item : items_)
    if (takesPart(item)) refs.push_back(item.device.ref);
  return refs;
}

void DeviceListManager::multipleDeviceEject() {
  for (const DeviceItem& item : items_) {
    if (!takesPart(item)) continue;
    (void)ZEBUtils::unmountDiskWithRef(item.device.ref, true);  // unmounts, then ejects
  }
}

int DeviceListManager::indexOfDriveByMatch(const QString& vendor, const QString& model,
                                           const QString& version, bool isReader) const {
  if (vendor.isNull() || model.isNull() || version.isNull())
    return isReader ? indexOfCDImageReader() : indexOfCDImageWriter() - 1;
  for (int i = 0; i < numberOfAllDrives(); ++i)
    if (vendorOfDriveByIndex(i) == vendor && modelOfDriveByIndex(i) == model &&
        driveFirmware(i) == version)
      return i;
  return -1;
}

void DeviceListManager::multipleDeviceSetupMaxWriteSpeed(const MediaSpeedQuery& query) {
  std::vector<DeviceItem*> drives;
  std::vector<MediaSpeed> speeds;
  for (DeviceItem& item : items_) {
    if (!takesPart(item)) continue;  // any number of drives: the lists grow
    drives.push_back(&item);
    speeds.push_back(query(item.device.ref));
  }
  std::vector<std::uint32_t> chosen;
  maximumWriteSpeed_ = commonWriteSpeed(speeds, chosen);
  minimumWriteSpeed_ = 1;
  for (const MediaSpeed& s : speeds) minimumWriteSpeed_ = std::max(minimumWriteSpeed_, s.minSpeed);
  for (std::size_t i = 0; i < drives.size(); ++i) drives[i]->maxWriteSpeed = chosen[i];
}

bool DeviceListManager::OEM_anyDrivesInUse() const {
  return std::any_of(items_.begin(), items_.end(),
                     [](const DeviceItem& i) { return i.status != kDriveReady; });
}

}  // namespace quillion
