// SPDX-License-Identifier: GPL-2.0-or-later
#include "documents/layout_document_kinds.h"

#include <QStringList>
#include <algorithm>
#include <array>

#include "documents/layout_document.h"
#include "framework/document_controller.h"

namespace quillion {

namespace {

constexpr unsigned kDataDiscKeys =
    kKeysDestination | kKeysTree | kKeysDataFilter | kKeysIsoOptions | kKeysCdRomXA;
constexpr unsigned kAudioKeys =
    kKeysDestination | kKeysList | kKeysTitleAndCdText | kKeysDataFilter;
constexpr unsigned kMixedKeys = kDataDiscKeys | kKeysList | kKeysTitleAndCdText;
constexpr unsigned kCopyKeys = kKeysDestination | kKeysSource;
constexpr unsigned kMovieKeys = kKeysDestination | kKeysList;

// clang-format off
constexpr std::array kKinds{
  //         type name            document class        controller class         window file          kind format SAO    XA     title key                  extension   views, key groups
  LayoutKind{"Data CD",           "DataDoc",            "DataWinCtlr",           "DataDoc",            1,  2,   false, false, "Data CD Title",           "qldata",   kDataLayoutView, kDataDiscKeys | kKeysDiscSpan},
  LayoutKind{"Audio CD",          "AudioDoc",           "AudioWinCtlr",          "AudioDoc",           2,  0,   true,  false, "Audio CD Title",          "qlaudio",  kAudioLayoutView, kAudioKeys},
  LayoutKind{"Mixed CD",          "MixedModeDoc",       "MixedModeWinCtlr",      "MixedModeDoc",       3,  512, false, false, "Mixed Mode CD Title",     "qlmixed",  kDataLayoutView | kAudioLayoutView, kMixedKeys},
  LayoutKind{"CD Extra",          "CDExtraDoc",         "CDExtraWinCtlr",        "CDExtraDoc",         4,  512, false, true,  "CD Extra CD Title",       "qlextra",  kDataLayoutView | kAudioLayoutView, kMixedKeys},
  LayoutKind{"MP3 CD",            "MP3CDDoc",           "Mp3WinCtlr",            "MP3CDDoc",           5,  0,   false, false, "MP3 CD Title",            "qlmp3",    kDataLayoutView, kKeysDestination | kKeysTree | kKeysList},
  LayoutKind{"Picture CD",        "PictureCDDoc",       "PictureWinCtlr",        "PictureCDDoc",       1,  512, false, false, "Picture CD Title",        "qlpicture", kDataLayoutView, kDataDiscKeys},
  LayoutKind{"VCD Movie",         "VCDMovieDoc",        "VCDWinCtlr",            "VCDMovieDoc",        6,  0,   false, false, "VCD Movie CD Title",      "qlvcd",    kVcdLayoutView, kMovieKeys},
  LayoutKind{"SVCD Movie",        "SVCDMovieDoc",       "SVCDWinCtlr",           "SVCDMovieDoc",       8,  0,   false, false, "SVCD Movie CD Title",     "qlsvcd",   kVcdLayoutView, kMovieKeys},
  LayoutKind{"CD Copy",           "CDCopyDoc",          "CDCopyWinCtlr",         "CDCopyDoc",          10, 0,   true,  false, "CD Copy Title",           "cdcp",     0, kCopyKeys},
  LayoutKind{"MultipleCDCopy CD", "MultipleCDCopyDoc",  "MultipleCDCopyWinCtlr", "MultipleCDCopyDoc",  10, 0,   true,  false, "Multiple CD Copy Title",  "qlmulticopy", 0, kCopyKeys},
  LayoutKind{"LiveAudio CD",      "LiveAudioDoc",       "LiveAudioWinCtlr",      "LiveAudioDoc",       12, 0,   true,  false, "Live Audio Title",        "qllive",   kAudioLayoutView, kAudioKeys},
};
// clang-format on

std::unique_ptr<Document> makeDocument(const LayoutKind& kind) {
  const QString cls = QString::fromLatin1(kind.documentClass);
  if (cls == QLatin1String("DataDoc")) return std::make_unique<DataDoc>(kind);
  if (cls == QLatin1String("AudioDoc")) return std::make_unique<AudioDoc>(kind);
  if (cls == QLatin1String("CDCopyDoc")) return std::make_unique<CDCopyDoc>(kind);
  return std::make_unique<LayoutDocument>(kind);
}

}  // namespace

std::span<const LayoutKind> layoutDocumentKinds() {
  return kKinds;
}

const LayoutKind* findLayoutDocumentKind(const QString& typeName) {
  auto it = std::find_if(kKinds.begin(), kKinds.end(), [&](const LayoutKind& k) {
    return typeName == QLatin1String(k.typeName);
  });
  return it == kKinds.end() ? nullptr : &*it;
}

QStringList cdImageExtensions() {
  return {QStringLiteral("wlt"),   QStringLiteral("iso"), QStringLiteral("dmg"),
          QStringLiteral("toast"), QStringLiteral("bin"), QStringLiteral("cue"),
          QStringLiteral("cdr"),   QStringLiteral("img")};
}

void registerLayoutDocumentTypes(DocumentController& controller) {
  for (const LayoutKind& kind : kKinds) {
    controller.registerType(DocumentType{QString::fromLatin1(kind.typeName),
                                         {QString::fromLatin1(kind.extension)},
                                         [&kind] { return makeDocument(kind); }});
  }
  const LayoutKind* copy = findLayoutDocumentKind(QLatin1String(kCDCopyType));
  controller.registerType(DocumentType{QString::fromLatin1(kCDImageType), cdImageExtensions(),
                                       [copy] { return makeDocument(*copy); }, false});
}

}  // namespace quillion
