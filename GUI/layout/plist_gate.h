// SPDX-License-Identifier: GPL-2.0-or-later
// A strict check of an XML property list before it reaches the parser. The parser of
// libplist 2.2 is lenient: it accepts a document cut off after its last value, turns bad
// base64 into empty data and clamps integers that do not fit. A layout file that is damaged
// in any of these ways must be refused, not half-loaded, so it passes this check first.
#pragma once

#include <QByteArray>
#include <QString>

namespace quillion {

// True when `data` is a well-formed UTF-8 XML document (no other encoding declared) whose root
// is <plist> holding exactly one value, built only of dict (key/value pairs, no key twice),
// array, string, integer (fits 64 bits), real, true, false, date (ISO 8601, year 1000 or
// later) and data (valid base64), nested at most kMaxPlistDepth deep.
bool isStrictXmlPlist(const QByteArray& data, QString* why = nullptr);

inline constexpr int kMaxPlistDepth = 64;

}  // namespace quillion
