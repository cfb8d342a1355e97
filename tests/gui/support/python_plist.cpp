// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/python_plist.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "tests/support/test_support.h"

namespace quillion::test {

namespace {

const char kScript[] = R"(
import base64, json, plistlib, sys
def tag(v):
    if isinstance(v, bool): return ["bool", v]
    if isinstance(v, int): return ["int", v]
    if isinstance(v, float): return ["real", v]
    if isinstance(v, str): return ["string", v]
    if isinstance(v, bytes): return ["data", base64.b64encode(v).decode("ascii")]
    if isinstance(v, dict): return ["dict", {k: tag(x) for k, x in v.items()}]
    if isinstance(v, list): return ["array", [tag(x) for x in v]]
    return ["other", str(v)]
try:
    with open(sys.argv[1], "rb") as f:
        root = plistlib.load(f, fmt=plistlib.FMT_XML)
    print(json.dumps({"ok": True, "value": tag(root)}))
except Exception as e:
    print(json.dumps({"ok": False, "error": repr(e)}))
)";

}  // namespace

PythonPlist readPlistWithPython(const QString& path) {
  PythonPlist out;
  const ToolResult p =
      runTool({"python3", "-c", kScript, path.toStdString()}, {.separateErrors = true});
  out.available = p.exitCode == 0;
  if (!out.available) {
    out.error = QString::fromStdString(p.errors);
    return out;
  }
  const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(p.output)).object();
  out.parsed = result.value(QStringLiteral("ok")).toBool();
  out.value = result.value(QStringLiteral("value"));
  out.error = result.value(QStringLiteral("error")).toString();
  return out;
}

}  // namespace quillion::test
