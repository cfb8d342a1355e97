// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/cfmt.h"

#include <gtest/gtest.h>

using namespace quillion;

namespace {

TEST(Cfmt, FormatsTheConversionsOfTheInterfaceTexts) {
  struct Case {
    QString format;
    QVariantList args;
    QString expected;
  };
  const std::vector<Case> cases = {
      {QStringLiteral("%@ - %@"),
       {QStringLiteral("Data Disc"), QStringLiteral("Untitled")},
       QStringLiteral("Data Disc - Untitled")},
      {QStringLiteral("%@ %d"), {QStringLiteral("Track"), 3}, QStringLiteral("Track 3")},
      {QStringLiteral("%d. %s %s @ %s"),
       {1, QStringLiteral("ACME"), QStringLiteral("CDRW"), QStringLiteral("usb")},
       QStringLiteral("1. ACME CDRW @ usb")},
      {QStringLiteral("%02d:%02d"), {2, 5}, QStringLiteral("02:05")},
      {QStringLiteral("%4.2f MB"), {3.14159}, QStringLiteral("3.14 MB")},
      {QStringLiteral("%dx"), {16}, QStringLiteral("16x")},
      {QStringLiteral("%u/%u"), {7u, 9u}, QStringLiteral("7/9")},
      {QStringLiteral("%ld %lld %qd"), {1, 2, 3}, QStringLiteral("1 2 3")},
      {QStringLiteral("%x %X %o"), {255, 255, 8}, QStringLiteral("ff FF 10")},
      {QStringLiteral("%-5@|%5@|%.2@"),
       {QStringLiteral("ab"), QStringLiteral("cd"), QStringLiteral("xyz")},
       QStringLiteral("ab   |   cd|xy")},
      {QStringLiteral("%c%c"), {QStringLiteral("Ök"), 65}, QStringLiteral("ÖA")},
      {QStringLiteral("100%% done"), {}, QStringLiteral("100% done")},
      {QStringLiteral("%@ and %@"), {QStringLiteral("one")}, QStringLiteral("one and ")},
      {QStringLiteral("%d"), {QStringLiteral("not a number")}, QStringLiteral("0")},
      {QStringLiteral("%y stays, so does a trailing %"),
       {1},
       QStringLiteral("%y stays, so does a trailing %")},
      {QStringLiteral("%-+5d|%+d"), {42, -7}, QStringLiteral("+42  |-7")},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cfmt(c.format, c.args), c.expected) << c.format.toStdString();
}

TEST(Cfmt, VariadicFormAndHugeWidthsStayBounded) {
  EXPECT_EQ(cfmt(QStringLiteral("%@ %d %s"), "text", 5, QStringLiteral("q")),
            QStringLiteral("text 5 q"));
  // A width from a damaged table must not allocate without bound.
  EXPECT_EQ(cfmt(QStringLiteral("%999999999d"), 1).size(), 1000);
}

}  // namespace
