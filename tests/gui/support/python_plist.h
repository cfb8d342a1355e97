// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a property list file with python3's plistlib, a reader independent of ours, and
// hands back every value tagged with its type: ["string", "x"], ["int", 3], ["bool", true],
// ["data", "<base64>"], ["dict", {...}], ["array", [...]], ["real", 1.5], ["date", "..."].
#pragma once

#include <QJsonValue>
#include <QString>

namespace quillion::test {

struct PythonPlist {
  bool available = false;  // python3 could be run
  bool parsed = false;     // plistlib accepted the file
  QJsonValue value;        // the tagged root value
  QString error;
};

PythonPlist readPlistWithPython(const QString& path);

}  // namespace quillion::test
