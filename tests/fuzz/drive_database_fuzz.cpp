// SPDX-License-Identifier: GPL-2.0-or-later
// Drive database files (installed, or downloaded from a server): whatever parses must encode
// to a file that parses to the same records, and the update rule never accepts what the
// parser refuses.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "shell/drive_database.h"

using quillion::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto db = quillion::parseDriveDatabase(bytes);
  const bool accepted = quillion::shouldUpdateDriveDatabase(QByteArray(), bytes);
  check(!accepted || db, "an update the parser refuses");
  if (!db) return 0;
  check(db->version == quillion::driveDatabaseVersion(bytes), "version differs from the header's");
  check(accepted == (db->version > 0), "a valid file above version 0 must be accepted");
  const auto again = quillion::parseDriveDatabase(quillion::encodeDriveDatabase(*db));
  check(again && again->records.size() == db->records.size(), "encoded file lost records");
  for (std::size_t i = 0; i < db->records.size(); ++i) {
    check(again->records[i].vendor == db->records[i].vendor, "vendor changed");
    check(again->records[i].model == db->records[i].model, "model changed");
    check(std::memcmp(&again->records[i].cap.dwCDRSpeedFlag, &db->records[i].cap.dwCDRSpeedFlag,
                      4) == 0,
          "CD-R speeds changed");
    check(again->records[i].cap.wOverburn == db->records[i].cap.wOverburn, "overburn changed");
  }
  return 0;
}
