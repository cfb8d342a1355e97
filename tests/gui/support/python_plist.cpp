// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/python_plist.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

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

QString python() {
  for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3"})
    if (QFileInfo(QLatin1String(candidate)).isExecutable()) return QLatin1String(candidate);
  return QStringLiteral("python3");
}

}  // namespace

PythonPlist readPlistWithPython(const QString& path) {
  PythonPlist out;
  QProcess p;
  p.start(python(), {QStringLiteral("-c"), QString::fromUtf8(kScript), path});
  if (!p.waitForStarted()) return out;
  p.waitForFinished(120'000);
  out.available = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (!out.available) {
    out.error = QString::fromUtf8(p.readAllStandardError());
    return out;
  }
  const QJsonObject result = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
  out.parsed = result.value(QStringLiteral("ok")).toBool();
  out.value = result.value(QStringLiteral("value"));
  out.error = result.value(QStringLiteral("error")).toString();
  return out;
}

}  // namespace quillion::test
