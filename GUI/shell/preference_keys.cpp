// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/preference_keys.h"

#include <array>

#include "framework/defaults.h"
#include "framework/messages.h"

namespace quillion {

namespace {

using T = PreferenceType;

constexpr std::array kKeys{
    PreferenceKey{"VUKSkipSplashBoolKey", VUKSkipSplashBoolKey, T::Bool, true, 0, nullptr},
    PreferenceKey{"VUKNoPopUpDrawerKey", VUKNoPopUpDrawerKey, T::Bool, true, 0, nullptr},
    PreferenceKey{"VUKTestSrcSpeedKey", VUKTestSrcSpeedKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKTestSrcPromptKey", VUKTestSrcPromptKey, T::Integer, false, 0, nullptr},
    PreferenceKey{"VUKVerifyDataKey", VUKVerifyDataKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKVerifyDataTypeKey", VUKVerifyDataTypeKey, T::Integer, true, 0, nullptr},
    PreferenceKey{"VUKUseAllAvailableVolumesKey", VUKUseAllAvailableVolumesKey, T::Bool, true, 1,
                  nullptr},
    PreferenceKey{"VUKArrayOfUnselectedDrivesKey", VUKArrayOfUnselectedDrivesKey, T::StringList,
                  false, 0, nullptr},
    PreferenceKey{"VUKCacheSizeKey", VUKCacheSizeKey, T::Integer, true, 2048, nullptr},
    PreferenceKey{"VUKTextColor", VUKTextColor, T::Color, true, 0, "#000000"},
    PreferenceKey{"VUKBorderColor", VUKBorderColor, T::Color, true, 0, "#ff0000"},
    PreferenceKey{"VUKFillColor", VUKFillColor, T::Color, true, 0, "#0000ff"},
    PreferenceKey{"VUKFolderReplaceCDKey", VUKFolderReplaceCDKey, T::Bool, true, 0, nullptr},
    PreferenceKey{"VUKM4PTracksKey", VUKM4PTracksKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKAudioSwapToHDKey", VUKAudioSwapToHDKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKVolumeBalanceKey", VUKVolumeBalanceKey, T::Bool, true, 0, nullptr},
    PreferenceKey{"VUKAutoRunMP3Key", VUKAutoRunMP3Key, T::Bool, true, 0, nullptr},
    PreferenceKey{"VUKDataCDFormatKey", VUKDataCDFormatKey, T::Integer, true, 514, nullptr},
    PreferenceKey{"VUKOverburnKey", VUKOverburnKey, T::Bool, false, 0, nullptr},
    PreferenceKey{"VUKOverburnMinKey", VUKOverburnMinKey, T::Integer, true, 0, nullptr},
    PreferenceKey{"VUKOverburnSecKey", VUKOverburnSecKey, T::Integer, true, 30, nullptr},
    PreferenceKey{"VUKOverburnFrameKey", VUKOverburnFrameKey, T::Integer, true, 0, nullptr},
    PreferenceKey{"VUKMP3QualityKey", VUKMP3QualityKey, T::Integer, true, 0, nullptr},
    PreferenceKey{"VUKMP3BitRateKey", VUKMP3BitRateKey, T::Integer, true, 128, nullptr},
    PreferenceKey{"VUKMP3ChannelKey", VUKMP3ChannelKey, T::Integer, true, 2, nullptr},
    PreferenceKey{"VUKMP3DefaultKey", VUKMP3DefaultKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKUseCDDBKey", VUKUseCDDBKey, T::Bool, true, 1, nullptr},
    PreferenceKey{"VUKDataFilterKey", VUKDataFilterKey, T::StringList, true, 0, nullptr},
    PreferenceKey{"VUKDriveDatabaseURLKey", VUKDriveDatabaseURLKey, T::Text, false, 0, nullptr},
};

QVariant registeredValue(const PreferenceKey& k) {
  switch (k.type) {
    case T::Bool:
      return k.defaultNumber != 0;
    case T::Integer:
      return k.defaultNumber;
    case T::Color:
      return QString::fromLatin1(k.defaultColor);
    case T::Text:
      return QString();
    case T::StringList:
      // The only registered list is the data filter's.
      return QStringList{Msg::gui(QStringLiteral("All")), QStringLiteral("doc"),
                         QStringLiteral("txt"), Msg::gui(QStringLiteral("Edit..."))};
  }
  return {};
}

}  // namespace

std::span<const PreferenceKey> preferenceKeys() {
  return kKeys;
}

QVariantMap registeredPreferenceDefaults() {
  QVariantMap map;
  for (const PreferenceKey& k : kKeys) {
    if (k.registered) map.insert(QString::fromLatin1(k.key), registeredValue(k));
  }
  return map;
}

void registerPreferenceDefaults(Defaults& defaults) {
  defaults.registerDefaults(registeredPreferenceDefaults());
}

QColor preferenceColor(const Defaults& defaults, const char* key) {
  const QColor color = QColor::fromString(defaults.stringValue(QString::fromLatin1(key)));
  return color.isValid() ? color : QColor(Qt::black);
}

bool setPreferenceColor(Defaults& defaults, const char* key, const QColor& color) {
  return defaults.set(QString::fromLatin1(key), color.name(QColor::HexRgb));
}

}  // namespace quillion
