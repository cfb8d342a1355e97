// SPDX-License-Identifier: GPL-2.0-or-later
// The interface's one model of the drives: the engine's drive records completed from the drive
// database (or from the drive itself), the three image pseudo-drives after them, each drive's
// cached disc state, and the questions the windows ask about drives and discs.
//
// Main thread only. Announces "VUK_DeviceListUpdated" (no sender) after a rebuild and
// "VUK_DriveInfoUpdated" (the manager as sender) after a drive's disc state changed. Queries
// check their index or reference: an unknown one changes nothing and answers 0, NO or "".
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "quillion/DC.h"
#include "quillion/GDT.h"

class QSocketNotifier;

namespace quillion {

class DriveDatabaseSource;

// Drive status of the device list.
enum DriveStatus : std::uint16_t {
  kDriveReady = 0,
  kDriveErasing = 1,
  kDriveBurning = 2,
  kDriveBusy = 3
};

// Disc type codes of the device list.
enum DiscTypeCode : std::uint32_t {
  kDiscNone = 0,
  kDiscCDData = 1,
  kDiscCDAudio = 2,
  kDiscCDMixed = 3,
  kDiscCDExtra = 4,
  kDiscCDI = 5,
  kDiscCDXA = 6,
  kDiscCDBlank = 7,
  kDiscCDOther = 8,
  kDiscDVDROM = 9,
  kDiscDVDR = 10,
  kDiscDVDRW = 11,
  kDiscDVDPlusR = 12,
  kDiscDVDPlusRDL = 13,
  kDiscDVDRAM = 14,
  kDiscDVDPlusRW = 15,
  kDiscDVDOther = 16,
  kDiscDVDBlank = 17,
  kDiscDVDRDL = 19,
  kDiscBDROM = 20,
  kDiscBDR = 21,
  kDiscBDRE = 22,
};

// The code for a disc description. `wholeList`: the refresh of every drive, which files an
// unknown CD type byte as "no disc" where the one-drive refresh files it as "other CD".
std::uint32_t discTypeCodeOf(const GDT_DiscInfo& info, bool wholeList);

// A disc description as the engine gave it: the header and its track records.
class CachedDiscInfo {
 public:
  explicit CachedDiscInfo(const GDT_DiscInfo* info);  // copies; null gives an empty one
  const GDT_DiscInfo* get() const;                    // null when empty
  bool operator==(const CachedDiscInfo& other) const { return bytes_ == other.bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

struct DiscInDriveInfo {
  std::uint8_t trayStatus = 0;  // 1: the last reading found no disc
  std::uint32_t discTypeEnum = kDiscNone;
  bool hasAudioTracks = false;
  std::shared_ptr<const CachedDiscInfo> discInfo;  // null without disc
};

struct DeviceItem {
  DC_Device device{};
  std::uint16_t status = kDriveReady;
  bool supported = false;
  bool copyToHD = true;
  DiscInDriveInfo disc;
  bool usesDDS = false;
  bool inDatabase = false;
  bool selected = false;
  bool disabled = false;
  std::uint32_t maxWriteSpeed = 0;
  bool canWriteBD = false;
};

// The lowest and highest write speed of the medium in one drive.
struct MediaSpeed {
  std::uint32_t minSpeed = 1;
  std::uint32_t maxSpeed = 1;
};

// The common speed of several drives: the highest speed of the form (largest maximum - 2j)
// that every drive reaches. Each drive's result lands in `chosen` (its own maximum when the
// descent stopped at a drive's minimum). Answers the largest maximum.
std::uint32_t commonWriteSpeed(const std::vector<MediaSpeed>& speeds,
                               std::vector<std::uint32_t>& chosen);

class DeviceListManager : public QObject {
  Q_OBJECT

 public:
  static constexpr std::uint32_t kImageRef = 0xFFFFFFFFu;     // CD image reader and writer
  static constexpr std::uint32_t kIsoImageRef = 0xFFFFFFFEu;  // ISO image writer

  // Runs `fn` about one second later without blocking the event loop (tests: at once).
  using Delay = std::function<void(QObject* context, std::function<void()> fn)>;
  static Delay oneSecondLater();

  // Builds the list from the engine and the drive database at `databasePath`.
  explicit DeviceListManager(QString databasePath, Delay delay = oneSecondLater(),
                             QObject* parent = nullptr);
  ~DeviceListManager() override;

  // Follows the engine's drive and disc notifications: the list is rebuilt when drives come
  // and go, a drive's disc state refreshed when its disc changed.
  void attachToEngine();
  void detachFromEngine();

  bool updateDeviceList();
  // After the delay, refreshes one drive's disc state (ref) or every drive's (0).
  void checkDiskStatusProgress(std::uint32_t ref, bool refresh);
  // The same at once; answers whether the cached state changed.
  bool refreshDiscStateNow(std::uint32_t ref, bool refresh);

  bool canWriteDVD(std::uint32_t ref) const;
  bool canWriteBD(std::uint32_t ref) const;

  // By reference.
  int getIndexOfDeviceByRef(std::uint32_t ref) const;  // -1 when none
  int getIndexOfWriterByRef(std::uint32_t ref) const;  // -1 when none
  std::uint16_t statusOfDevice(std::uint32_t ref) const;
  void updateStatus(std::uint32_t ref, std::uint16_t status);
  // For worker threads (track extraction): the change is made on the main thread, where the
  // list lives, and announced there with "VUK_DeviceStatusChangedNotification". A drive that
  // has gone by then is left alone.
  void postStatusFromAnyThread(std::uint32_t ref, std::uint16_t status);
  bool getCopyToHDFlag(std::uint32_t ref) const;
  void updateCopyToHDFlag(std::uint32_t ref, bool flag);
  bool isDriveSelected(std::uint32_t ref) const;
  void updateSelectedDrive(std::uint32_t ref, bool select);
  bool isDriveDisabled(std::uint32_t ref) const;
  void updateDisabledDrive(std::uint32_t ref, bool disable);
  std::uint32_t getMaxSpeedOfDevice(std::uint32_t ref) const;
  QString titleOfDrive(std::uint32_t ref, bool withInterface) const;
  DiscInDriveInfo getDiscInfo(std::uint32_t ref) const;
  const GDT_DiscInfo* DDI_getDiscInfo(std::uint32_t ref);
  std::uint8_t DDI_getTrayStatus(std::uint32_t ref) const;
  std::uint32_t DDI_getDiscTypeEnum(std::uint32_t ref) const;
  bool DDI_getHasAudioTracks(std::uint32_t ref) const;
  std::uint16_t DDI_getSessions(std::uint32_t ref) const;
  std::uint16_t DDI_getTracks(std::uint32_t ref) const;
  std::uint8_t DDI_getDiscStatus(std::uint32_t ref) const;
  std::uint8_t DDI_getMediaType(std::uint32_t ref) const;
  std::uint8_t DDI_getDiscType(std::uint32_t ref) const;
  std::uint8_t DDI_getRewritable(std::uint32_t ref) const;
  std::uint8_t DDI_getDVDSpec(std::uint32_t ref) const;  // the disc kind
  std::uint32_t DDI_getFileSystem(std::uint32_t ref) const;
  std::uint64_t DDI_getFreeSpace(std::uint32_t ref) const;
  std::uint64_t DDI_getUsedSpace(std::uint32_t ref) const;
  bool isSONYWriteContinueDrive(std::uint32_t ref) const;

  // By index.
  std::uint32_t getDeviceRefByIndex(int index) const;
  std::uint32_t getWriterRefByIndex(int n) const;  // the n-th supported entry; 0 when none
  bool isSupportedDrive(int index) const;
  bool isCDImageReader(int index) const;
  bool isCDImageWriter(int index) const;
  bool isISOImageWriter(int index) const;
  int indexOfCDImageReader() const;
  int indexOfCDImageWriter() const;
  int indexOfISOImageWriter() const;
  QString vendorOfDriveByIndex(int index) const;
  QString modelOfDriveByIndex(int index) const;
  QString driveFirmware(int index) const;
  QString versionOfDriveByIndex(int index) const { return driveFirmware(index); }
  bool driveSupportJustLink(int) const { return false; }
  // The first entry with these three texts; with any of them missing, the image reader (or
  // the entry before the image writer). -1 when none matches.
  int indexOfDriveByMatch(const QString& vendor, const QString& model, const QString& version,
                          bool isReader) const;
  QString driveInterface(int index) const;
  QString driveCacheSize(int index) const;
  bool driveSupportCDText(int index) const;
  bool driveSupportOverburn(int index) const;
  bool driveSupportBurnProof(int index) const;
  bool driveSupportSAO(int index) const;
  bool driveSupportBD(int index) const;
  std::uint32_t driveCDRSpeed(int index) const;
  std::uint32_t driveCDRWSpeed(int index) const;
  std::uint32_t driveDVDRSpeed(int index) const;
  std::uint32_t driveDVDRWSpeed(int index) const;
  QString driveCDRSpeedString(int index) const;
  QString driveCDRWSpeedString(int index) const;
  QString driveDVDRSpeedString(int index) const;
  QString driveDVDRWSpeedString(int index) const;
  QString driveDDSSupportString(int index) const;
  bool driveUsesDDS(int index) const;
  bool driveInDatabase(int index) const;
  QString titleOfDriveByIndex(int index, bool withInterface) const;

  // Counts and multiple recording.
  int numberOfAllDrives() const { return static_cast<int>(items_.size()); }
  int numberOfSupportedDrives() const;
  int numberOfDrivesSelected() const;
  bool multipleDevicesReady() const;
  bool multipleDevicesContainMedia() const;
  bool multipleDeviceMediaCheck(std::uint8_t mediaType) const;
  bool multipleDeviceMediaBlankCheck() const;
  bool multipleDeviceEnoughSpace(std::uint32_t blocks) const;
  void multipleDeviceUpdateStatus(std::uint16_t status);
  std::uint8_t multipleDevicesMediatype() const;
  std::vector<std::uint32_t> initBPDeviceList() const;
  // Unmounts and ejects the disc of every drive taking part.
  void multipleDeviceEject();
  // Common speed of the drives taking part, from each one's medium speeds.
  using MediaSpeedQuery = std::function<MediaSpeed(std::uint32_t ref)>;
  void multipleDeviceSetupMaxWriteSpeed(const MediaSpeedQuery& query);
  std::uint32_t getMaxWriteSpeed() const { return maximumWriteSpeed_; }
  bool OEM_anyDrivesInUse() const;

  const std::vector<DeviceItem>& items() const { return items_; }

  // The speeds of a mask in ascending order ("1, 2, 4"); "N/A" for an empty mask.
  static QString speedMaskString(std::uint32_t mask, int highestBit);

 private:
  const DeviceItem* itemByRef(std::uint32_t ref) const;
  DeviceItem* itemByRef(std::uint32_t ref);
  const DeviceItem* itemAt(int index) const;
  bool takesPart(const DeviceItem& item) const { return item.selected && !item.disabled; }
  DeviceItem itemFromEngine(const DC_Device& device) const;
  void appendPseudoDrives(std::vector<DeviceItem>& list) const;
  void completeFromDatabase(std::vector<DeviceItem>& list, int onlyIndex) const;
  // Reads one drive's disc; answers whether the cache changed.
  bool refreshOne(DeviceItem& item, bool refresh, bool wholeList, bool* busyNotice);
  static void onListUpdate(void* self);
  static void onDiscChanged(void* self, std::uint32_t ref, bool flag);

  QString databasePath_;
  Delay delay_;
  DC_DeviceCap defaultCap_{};
  std::vector<DeviceItem> items_;
  std::uint32_t maximumWriteSpeed_ = 1;
  std::uint32_t minimumWriteSpeed_ = 1;
  QSocketNotifier* events_ = nullptr;
  bool attached_ = false;
};

}  // namespace quillion
