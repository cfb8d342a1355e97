// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/drive_database.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>

#include "framework/xdg_paths.h"

namespace quillion {

namespace {

constexpr std::uint8_t kMagic[4] = {0x88, 0x88, 0xB7, 0xBD};

// Offsets in the header and in a record.
namespace hdr {
constexpr std::size_t kMagicAt = 0, kFormatAt = 4, kVersionAt = 6;
}
namespace rec {
constexpr std::size_t kMore = 0, kVendor = 33, kVendorBytes = 9, kModel = 42, kModelBytes = 17;
constexpr std::size_t kAdapter = 73, kScsiId = 74, kLun = 75, kDriveType = 76, kBaseModel = 78;
constexpr std::size_t kFlags = 80;  // eleven one-byte flags, in DC_DeviceCap order
constexpr std::size_t kCdrSpeed = 91, kRwSpeed = 95, kOnlyWrite10 = 99, kBurnProof = 100;
constexpr std::size_t kDvdrSpeed = 109, kDvdrwSpeed = 113, kNotInList = 117;
constexpr std::size_t kDisableJustSpeed = 119, kOverburn = 121, kHaiType = 123;
constexpr std::size_t kCdText = 125, kWriteSubChannel = 126, kAeSpeed = 127, kBunFormat = 128;
}  // namespace rec

std::uint8_t* flagField(DC_DeviceCap& c, int i) {
  std::uint8_t* const fields[11] = {&c.bReadCDDA,   &c.bSwapCDDA,   &c.bReadSubChannel,
                                    &c.bValueInBCD, &c.bReWritable, &c.bTAO,
                                    &c.bDAO,        &c.bVPW,        &c.bFPW,
                                    &c.bRawDAO,     &c.bSAO};
  return fields[i];
}

std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, static_cast<std::uint16_t>(v));
  put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

// A NUL-terminated text in a fixed field. The last byte is room for the NUL: a field without
// one is cut there, as the drive's own record (8 + 1 and 16 + 1 bytes) could hold no more.
QByteArray fixedText(const std::uint8_t* p, std::size_t size) {
  std::size_t n = 0;
  while (n + 1 < size && p[n]) ++n;
  return QByteArray(reinterpret_cast<const char*>(p), static_cast<qsizetype>(n));
}

void putText(std::uint8_t* p, std::size_t size, const QByteArray& text) {
  std::memcpy(p, text.constData(),
              std::min<std::size_t>(static_cast<std::size_t>(text.size()), size - 1));
}

DriveRecord decodeRecord(const std::uint8_t* r) {
  DriveRecord out;
  out.vendor = fixedText(r + rec::kVendor, rec::kVendorBytes);
  out.model = fixedText(r + rec::kModel, rec::kModelBytes);
  DC_DeviceCap& c = out.cap;
  c.bAdapterNum = r[rec::kAdapter];
  c.bSCSI_ID = r[rec::kScsiId];
  c.bLUN = r[rec::kLun];
  c.wDriveType = le16(r + rec::kDriveType);
  c.wBaseModel = le16(r + rec::kBaseModel);
  for (int i = 0; i < 11; ++i) *flagField(c, i) = r[rec::kFlags + i];
  c.dwCDRSpeedFlag = le32(r + rec::kCdrSpeed);
  c.dwRWSpeedFlag = le32(r + rec::kRwSpeed);
  c.bOnlyWrite10 = r[rec::kOnlyWrite10];
  c.bBurnProof = r[rec::kBurnProof];
  c.dwDVDRSpeedFlag = le32(r + rec::kDvdrSpeed);
  c.dwDVDRWSpeedFlag = le32(r + rec::kDvdrwSpeed);
  c.wNotInSupportedList = le16(r + rec::kNotInList);
  c.wDisableJustSpeed = le16(r + rec::kDisableJustSpeed);
  c.wOverburn = le16(r + rec::kOverburn);
  c.wHAIType = le16(r + rec::kHaiType);
  c.bCDText = r[rec::kCdText];
  c.bWriteSubChannel = r[rec::kWriteSubChannel];
  c.bAESpeed = r[rec::kAeSpeed];
  c.bBUNFormat = r[rec::kBunFormat];
  return out;
}

void encodeRecord(std::uint8_t* r, const DriveRecord& in, bool last) {
  r[rec::kMore] = last ? 0 : 1;
  putText(r + rec::kVendor, rec::kVendorBytes, in.vendor);
  putText(r + rec::kModel, rec::kModelBytes, in.model);
  DC_DeviceCap c = in.cap;
  r[rec::kAdapter] = c.bAdapterNum;
  r[rec::kScsiId] = c.bSCSI_ID;
  r[rec::kLun] = c.bLUN;
  put16(r + rec::kDriveType, c.wDriveType);
  put16(r + rec::kBaseModel, c.wBaseModel);
  for (int i = 0; i < 11; ++i) r[rec::kFlags + i] = *flagField(c, i);
  put32(r + rec::kCdrSpeed, c.dwCDRSpeedFlag);
  put32(r + rec::kRwSpeed, c.dwRWSpeedFlag);
  r[rec::kOnlyWrite10] = c.bOnlyWrite10;
  r[rec::kBurnProof] = c.bBurnProof;
  put32(r + rec::kDvdrSpeed, c.dwDVDRSpeedFlag);
  put32(r + rec::kDvdrwSpeed, c.dwDVDRWSpeedFlag);
  put16(r + rec::kNotInList, c.wNotInSupportedList);
  put16(r + rec::kDisableJustSpeed, c.wDisableJustSpeed);
  put16(r + rec::kOverburn, c.wOverburn);
  put16(r + rec::kHaiType, c.wHAIType);
  r[rec::kCdText] = c.bCDText;
  r[rec::kWriteSubChannel] = c.bWriteSubChannel;
  r[rec::kAeSpeed] = c.bAESpeed;
  r[rec::kBunFormat] = c.bBUNFormat;
}

const std::uint8_t* bytesOf(const QByteArray& a) {
  return reinterpret_cast<const std::uint8_t*>(a.constData());
}

}  // namespace

std::uint32_t driveDatabaseVersion(const QByteArray& bytes) {
  std::uint8_t header[kBdbHeaderBytes] = {};
  std::memcpy(header, bytes.constData(),
              std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), kBdbHeaderBytes));
  return le32(header + hdr::kVersionAt);
}

std::optional<DriveDatabase> parseDriveDatabase(const QByteArray& bytes) {
  const auto size = static_cast<std::size_t>(bytes.size());
  if (size < kBdbHeaderBytes) return std::nullopt;
  const std::uint8_t* p = bytesOf(bytes);
  if (std::memcmp(p + hdr::kMagicAt, kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (le16(p + hdr::kFormatAt) != kBdbFormat) return std::nullopt;
  DriveDatabase db;
  db.version = le32(p + hdr::kVersionAt);
  for (std::size_t at = kBdbHeaderBytes; at < size; at += kBdbRecordBytes) {
    if (size - at < kBdbRecordBytes) return std::nullopt;  // a record cut short: not whole
    db.records.push_back(decodeRecord(p + at));
    if (p[at + rec::kMore] == 0) break;
  }
  return db;
}

QByteArray encodeDriveDatabase(const DriveDatabase& database) {
  QByteArray out(
      static_cast<qsizetype>(kBdbHeaderBytes + kBdbRecordBytes * database.records.size()), '\0');
  auto* p = reinterpret_cast<std::uint8_t*>(out.data());
  std::memcpy(p + hdr::kMagicAt, kMagic, sizeof kMagic);
  put16(p + hdr::kFormatAt, kBdbFormat);
  put32(p + hdr::kVersionAt, database.version);
  for (std::size_t i = 0; i < database.records.size(); ++i)
    encodeRecord(p + kBdbHeaderBytes + i * kBdbRecordBytes, database.records[i],
                 i + 1 == database.records.size());
  return out;
}

bool shouldUpdateDriveDatabase(const QByteArray& installed, const QByteArray& downloaded) {
  const auto db = parseDriveDatabase(downloaded);
  return db && db->version > driveDatabaseVersion(installed);
}

bool recordMatches(const DriveRecord& record, const char* vendor, const char* model) {
  if (!vendor || !model || record.model != QByteArray(model)) return false;
  return record.vendor == QByteArray(vendor) || (vendor[0] == ' ' && record.vendor.isEmpty());
}

QString userDriveDatabasePath() {
  return userDataDir() + '/' + QLatin1String(kBdbFileName);
}

QString installedDriveDatabasePath() {
  const QString user = userDriveDatabasePath();
  if (QFileInfo::exists(user)) return user;
  const QString system =
      QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                             QStringLiteral("quillion/") + QLatin1String(kBdbFileName));
  if (!system.isEmpty()) return system;
  // Beside a program run from its build or install tree.
  const QString beside = QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/quillion/") + QLatin1String(kBdbFileName);
  return QFileInfo::exists(beside) ? QFileInfo(beside).canonicalFilePath() : QString();
}

}  // namespace quillion
