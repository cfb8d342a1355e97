// SPDX-License-Identifier: GPL-2.0-or-later
// The drive database file: which write modes, speeds and extras each known recorder model
// has. A 140-byte header (magic 88h 88h B7h BDh, format word 1000h, version), then 129-byte
// records until a record whose first byte is 0 or the end of the file; numbers little-endian.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "quillion/DC.h"

namespace quillion {

inline constexpr std::size_t kBdbHeaderBytes = 140;
inline constexpr std::size_t kBdbRecordBytes = 129;
inline constexpr std::uint16_t kBdbFormat = 0x1000;
inline constexpr char kBdbFileName[] = "Vede32.bdb";

struct DriveRecord {
  QByteArray vendor;  // up to 8 bytes
  QByteArray model;   // up to 16 bytes
  DC_DeviceCap cap{};
};

struct DriveDatabase {
  std::uint32_t version = 0;
  std::vector<DriveRecord> records;
};

// The records as the matching reads them: from the header on, one record at a time, stopping
// after a record whose first byte is 0 (that record still counts) or at the end. A file
// without a valid header, or with a partial record, gives nothing.
std::optional<DriveDatabase> parseDriveDatabase(const QByteArray& bytes);
// The file for a database: the header, the records (the last with first byte 0).
QByteArray encodeDriveDatabase(const DriveDatabase& database);
// The version in the first 140 bytes; missing bytes count as 0.
std::uint32_t driveDatabaseVersion(const QByteArray& bytes);

// Whether a downloaded file may replace the installed one: it is a whole, valid database and
// its version is above the installed one's.
bool shouldUpdateDriveDatabase(const QByteArray& installed, const QByteArray& downloaded);

// A record names a drive when the models are equal and the vendors are equal, or the drive's
// vendor begins with a blank and the record's is empty.
bool recordMatches(const DriveRecord& record, const char* vendor, const char* model);

// The file in use: the user's updated copy ($XDG_DATA_HOME/quillion/), else the installed one
// from the system data folders or beside the program. "" when there is none.
QString installedDriveDatabasePath();
// Where an update is written.
QString userDriveDatabasePath();

}  // namespace quillion
