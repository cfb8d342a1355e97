// SPDX-License-Identifier: GPL-2.0-or-later
// Builds the shipped drive database file from its readable table:
//   make_drive_database <table.txt> <Vede32.bdb>
// Any line it cannot read stops the build with the line's number.
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>

#include "shell/drive_database.h"

namespace {

// "4,8,16" as a speed mask: bit 0 is 1x, bit k is 2k x.
bool speedMask(const QString& field, int highestBit, std::uint32_t& mask) {
  mask = 0;
  if (field.trimmed() == QLatin1String("-")) return true;
  for (const QString& part : field.split(',')) {
    bool ok = false;
    const int speed = part.trimmed().toInt(&ok);
    if (!ok || speed < 1 || (speed != 1 && speed % 2) || (speed == 1 ? 0 : speed / 2) > highestBit)
      return false;
    mask |= 1u << (speed == 1 ? 0 : speed / 2);
  }
  return true;
}

bool readLine(const QString& line, quillion::DriveRecord& record) {
  const QStringList f = line.split('|');
  if (f.size() != 7) return false;
  record.vendor = f[0].trimmed().toLatin1();
  record.model = f[1].trimmed().toLatin1();
  if (record.vendor.size() > 8 || record.model.isEmpty() || record.model.size() > 16) return false;
  DC_DeviceCap& c = record.cap;
  if (!speedMask(f[2], 31, c.dwCDRSpeedFlag) || !speedMask(f[3], 31, c.dwRWSpeedFlag) ||
      !speedMask(f[4], 10, c.dwDVDRSpeedFlag) || !speedMask(f[5], 10, c.dwDVDRWSpeedFlag))
    return false;
  c.bReadCDDA = c.bReadSubChannel = 1;
  c.bReWritable = c.dwRWSpeedFlag != 0;
  for (const QString& extra : f[6].split(' ', Qt::SkipEmptyParts)) {
    if (extra == "burnproof")
      c.bBurnProof = 1;
    else if (extra == "overburn")
      c.wOverburn = 1;
    else if (extra == "cdtext")
      c.bCDText = 1;
    else if (extra == "sao")
      c.bSAO = 1;
    else if (extra == "tao")
      c.bTAO = 1;
    else if (extra == "dao")
      c.bDAO = 1;
    else if (extra == "rawdao")
      c.bRawDAO = 1;
    else
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_drive_database <table.txt> <out.bdb>\n");
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  quillion::DriveDatabase db;
  int number = 0;
  for (const QByteArray& raw : in.readAll().split('\n')) {
    ++number;
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    if (line.startsWith(QLatin1String("version "))) {
      bool ok = false;
      db.version = line.mid(8).trimmed().toUInt(&ok);
      if (ok && db.version > 0) continue;
    } else {
      quillion::DriveRecord record;
      if (readLine(line, record)) {
        db.records.push_back(record);
        continue;
      }
    }
    std::fprintf(stderr, "%s:%d: cannot read this line\n", argv[1], number);
    return 1;
  }
  if (db.version == 0 || db.records.empty()) {
    std::fprintf(stderr, "%s: no version or no drives\n", argv[1]);
    return 1;
  }
  QFile out(QString::fromLocal8Bit(argv[2]));
  const QByteArray bytes = quillion::encodeDriveDatabase(db);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  return 0;
}
