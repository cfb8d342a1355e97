// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/label_export.h"

#include <QDesktopServices>
#include <QSaveFile>
#include <QUrl>
#include <array>
#include <initializer_list>

#include "framework/messages.h"
#include "quillion/AudioNodeInfo.h"

namespace quillion {

namespace label_export_detail {

// Every line has as many fields as the header; a line ends with CR and no line feed, the
// way the readers of this format split it.
constexpr int kLabelFields = 7;

void appendLine(QByteArray& out, std::initializer_list<QByteArray> fields) {
  int written = 0;
  for (const QByteArray& field : fields) {
    if (written++ > 0) out.append('\t');
    out.append(field);
  }
  for (; written < kLabelFields; ++written) out.append('\t');
  out.append('\r');
}

QByteArray utf8(const QString& s) {
  return s.toUtf8();
}

void writeDiscLine(QByteArray& out, const LabelLayout& l) {
  appendLine(out, {utf8(l.discTitle), labelDateText(l.created)});
}

void writeDataLabel(QByteArray& out, const LabelLayout& l) {
  appendLine(out, {"Title", "Date", "Size", "Kind", "Time", "Comments", "Location"});
  writeDiscLine(out, l);
}

void writeAudioLabel(QByteArray& out, const LabelLayout& l) {
  appendLine(out,
             {"Track Title", "Track Duration", "Composer", "Kind", "Time", "Comments", "Location"});
  for (const LabelTrack& t : l.tracks)
    appendLine(out, {utf8(t.title), utf8(labelDurationText(t.lengthSeconds))});
}

void writeMixedModeLabel(QByteArray& out, const LabelLayout& l) {
  appendLine(out, {"Title", "Date", "Track Duration", "Kind", "Time", "Comments", "Location"});
  writeDiscLine(out, l);
  for (const LabelTrack& t : l.tracks)
    appendLine(out, {utf8(t.title), {}, utf8(labelDurationText(t.lengthSeconds))});
}

void writeCDExtraLabel(QByteArray& out, const LabelLayout& l) {
  appendLine(
      out, {"Track Title", "Track Duration", "Track Date", "Kind", "Time", "Comments", "Location"});
  for (const LabelTrack& t : l.tracks)
    appendLine(out, {utf8(t.title), utf8(labelDurationText(t.lengthSeconds))});
  appendLine(out, {utf8(l.discTitle), {}, labelDateText(l.created)});
}

void writeDiscCopyLabel(QByteArray& out, const LabelLayout&) {
  appendLine(out, {"Title", "Date", "Size", "Kind", "Time", "Comments", "Location"});
  appendLine(out, {utf8(Msg::gui(QStringLiteral("New CD Label")))});
}

struct LabelWriter {
  int layoutType;
  void (*write)(QByteArray&, const LabelLayout&);
};

// One writer per layout kind that has a label.
constexpr std::array<LabelWriter, 6> kLabelWriters{{
    {1, writeDataLabel},       // data and picture discs
    {5, writeDataLabel},       // MP3 CD
    {2, writeAudioLabel},      // audio CD
    {3, writeMixedModeLabel},  // mixed mode
    {4, writeCDExtraLabel},    // CD Extra
    {10, writeDiscCopyLabel},  // disc copy
}};

}  // namespace label_export_detail

using namespace label_export_detail;

QByteArray labelDateText(const std::tm& date) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int wday = date.tm_wday >= 0 && date.tm_wday < 7 ? date.tm_wday : 0;
  const int mon = date.tm_mon >= 0 && date.tm_mon < 12 ? date.tm_mon : 0;
  return QStringLiteral("%1 %2 %3 %4:%5:%6 %7")
      .arg(QLatin1String(kDays[wday]), QLatin1String(kMonths[mon]))
      .arg(date.tm_mday, 2, 10, QLatin1Char(' '))
      .arg(date.tm_hour, 2, 10, QLatin1Char('0'))
      .arg(date.tm_min, 2, 10, QLatin1Char('0'))
      .arg(date.tm_sec, 2, 10, QLatin1Char('0'))
      .arg(1900 + date.tm_year)
      .toLatin1();
}

QString labelDurationText(std::uint32_t seconds) {
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void fillLabelDisc(LabelLayout& layout, FS_Tree* tree) {
  if (tree == nullptr) return;
  layout.discTitle = QString::fromUtf8(GetTreeTitle(tree));
  if (const std::tm* created = creationDate(GetRootTreeNode(tree))) layout.created = *created;
}

void fillLabelTracks(LabelLayout& layout, FS_List* list) {
  if (list == nullptr) return;
  const std::uint32_t n = SizeOfList(list);
  for (std::uint32_t i = 0; i < n; ++i) {
    FS_Node* node = NodeAtIndex(list, i);
    const auto* info = static_cast<const AudioNodeInfo*>(UsrData(node));
    layout.tracks.push_back(
        {QString::fromUtf8(GetTitleNode(node)), info != nullptr ? info->lengthSeconds : 0});
  }
}

QByteArray labelExportText(const LabelLayout& layout) {
  QByteArray out;
  for (const LabelWriter& writer : kLabelWriters)
    if (writer.layoutType == layout.layoutType) writer.write(out, layout);
  return out;
}

LabelLauncher desktopLabelLauncher() {
  return [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
}

LabelExportResult exportLabel(const QString& path, const LabelLayout& layout,
                              const LabelLauncher& launch) {
  if (path.isEmpty()) return LabelExportResult::WriteFailed;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return LabelExportResult::WriteFailed;
  const QByteArray text = labelExportText(layout);
  if (file.write(text) != text.size() || !file.commit()) return LabelExportResult::WriteFailed;
  if (!launch || !launch(path)) return LabelExportResult::LaunchFailed;
  return LabelExportResult::Done;
}

}  // namespace quillion
