// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/plist_gate.h"

#include <gtest/gtest.h>

using namespace quillion;

namespace {

QByteArray wrap(const QByteArray& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" +
         body + "</plist>\n";
}

QByteArray nested(int depth) {
  return wrap(QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth));
}

TEST(PlistGate, AcceptsWellFormedPropertyLists) {
  const std::vector<std::pair<const char*, QByteArray>> good = {
      {"every value type",
       wrap("<dict><key>s</key><string>a &amp; b</string>"
            "<key>i</key><integer>-5</integer><key>r</key><real>1.5</real>"
            "<key>t</key><true/><key>f</key><false/>"
            "<key>d</key><data>\n\tAAECAwQ=\n\t</data>"
            "<key>e</key><data></data><key>date</key><date>2020-01-01T00:00:00Z</date>"
            "<key>old</key><date>1000-01-01T00:00:00Z</date>"
            "<key>a</key><array><string/><dict/></array></dict>")},
      {"comments and white space", wrap("<!-- note --><dict>\n</dict>") + "<!-- after -->\n"},
      {"declared utf-8 in lower case",
       QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?><plist><dict>"
                  "<key>Title</key><string>caf\xc3\xa9</string></dict></plist>")},
      {"no declaration", QByteArray("<plist><dict/></plist>")},
      {"largest integer", wrap("<dict><key>i</key><integer>9223372036854775807</integer></dict>")},
      {"deep but allowed", nested(kMaxPlistDepth - 1)},
  };
  for (const auto& [what, data] : good) {
    QString why;
    EXPECT_TRUE(isStrictXmlPlist(data, &why)) << what << ": " << why.toStdString();
  }
}

TEST(PlistGate, RefusesWhatTheLenientParserWouldTakeOrMisread) {
  const QByteArray full = wrap("<dict><key>Signature</key><string>ZEB VUK 9988</string></dict>");
  const std::vector<std::pair<const char*, QByteArray>> bad = {
      {"empty", QByteArray()},
      {"cut before </plist>", full.left(full.indexOf("</plist>"))},
      {"cut inside a value", full.left(full.indexOf("VUK"))},
      {"binary garbage", QByteArray("\x00\xff\xfe\x01bplist00\x89\x12", 14)},
      {"binary property list", QByteArray("bplist00\xd1\x01\x02", 11)},
      {"bad base64", wrap("<dict><key>d</key><data>!!!!</data></dict>")},
      {"integer too large",
       wrap("<dict><key>i</key><integer>99999999999999999999</integer></dict>")},
      {"integer not a number", wrap("<dict><key>i</key><integer>12abc</integer></dict>")},
      {"text in a boolean", wrap("<dict><key>b</key><true>yes</true></dict>")},
      {"value without key", wrap("<dict><string>x</string></dict>")},
      {"key without value", wrap("<dict><key>x</key></dict>")},
      {"two root values", wrap("<dict/><dict/>")},
      {"content after plist", full + "<dict/>"},
      {"unknown element", wrap("<dict><key>x</key><blob/></dict>")},
      {"element inside a string", wrap("<dict><key>x</key><string>a<b/></string></dict>")},
      {"root is not plist", QByteArray("<dict><key>x</key><string>y</string></dict>")},
      {"invalid UTF-8", wrap("<dict><key>x</key><string>\xff\xfe</string></dict>")},
      {"undeclared entity", wrap("<dict><key>x</key><string>&bogus;</string></dict>")},
      {"nested too deep", nested(kMaxPlistDepth + 1)},
      {"declared ISO-8859-1",
       QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><dict>"
                  "<key>Title</key><string>caf\xe9</string></dict></plist>")},
      {"declared UTF-7, plain ASCII",
       QByteArray("<?xml version=\"1.0\" encoding=\"UTF-7\"?><plist><dict>"
                  "<key>Title</key><string>cafe</string></dict></plist>")},
      {"UTF-16 without a byte order mark", QByteArray("<\0p\0l\0i\0s\0t\0/\0>\0", 16)},
      {"a year before 1000", wrap("<dict><key>d</key><date>0999-12-31T00:00:00Z</date></dict>")},
      {"the same key twice",
       wrap("<dict><key>Title</key><string>a</string><key>Title</key><string>b</string></dict>")},
  };
  for (const auto& [what, data] : bad) EXPECT_FALSE(isStrictXmlPlist(data)) << what;
}

}  // namespace
