// SPDX-License-Identifier: GPL-2.0-or-later
// Fills the printf-style formats that the interface texts are written in, with "%@" for any
// value shown as text. The formats come from the string tables, which a user may override,
// so every argument is converted to what its conversion expects: a wrong or missing argument
// gives a wrong text, never undefined behaviour.
//
// Understood: flags "-+ 0#", width, ".precision", length modifiers (h, hh, l, ll, q, z, j, t,
// L, ignored: the argument's type decides), conversions d i u x X o c f F e E g G s @ and
// "%%". Widths and precisions above 1,000 are cut to 1,000. An unknown conversion is copied
// as it stands; a conversion without an argument gives nothing.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace quillion {

QString cfmt(const QString& format, const QVariantList& args);

namespace detail {
inline QVariant cfmtArg(const char* s) {
  return QString::fromUtf8(s);
}
inline QVariant cfmtArg(const QString& s) {
  return s;
}
template <typename T>
QVariant cfmtArg(const T& v) {
  return QVariant::fromValue(v);
}
}  // namespace detail

template <typename... Args>
QString cfmt(const QString& format, const Args&... args) {
  return cfmt(format, QVariantList{detail::cfmtArg(args)...});
}

}  // namespace quillion
