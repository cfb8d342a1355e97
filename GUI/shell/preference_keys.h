// SPDX-License-Identifier: GPL-2.0-or-later
// Every setting of the application: its key constant, the key string stored in the user's
// settings file, its type and the default registered at start-up. The key strings are what
// existing settings files hold; never change one.
#pragma once

#include <QColor>
#include <QVariantMap>
#include <span>

namespace quillion {

class Defaults;

inline constexpr char VUKSkipSplashBoolKey[] = "Skip Splash Window Switch";
inline constexpr char VUKNoPopUpDrawerKey[] = "No PopUp Drawer for Layout Switch";
inline constexpr char VUKTestSrcSpeedKey[] = "Test Source Drive Speed";
inline constexpr char VUKTestSrcPromptKey[] = "Test Source Drive Speed Prompt User";
inline constexpr char VUKVerifyDataKey[] = "Verify Data Switch";
inline constexpr char VUKVerifyDataTypeKey[] = "Verify Data Type Options";
inline constexpr char VUKUseAllAvailableVolumesKey[] = "Use All Available Volumes Switch";
inline constexpr char VUKArrayOfUnselectedDrivesKey[] = "Array of Unselected Drives";
inline constexpr char VUKCacheSizeKey[] = "Cache Size Button";
inline constexpr char VUKTextColor[] = "Text Color Well";
inline constexpr char VUKBorderColor[] = "Border Progress Color";
inline constexpr char VUKFillColor[] = "Fill Progress Color";
inline constexpr char VUKFolderReplaceCDKey[] = "Folder Replace CD Icon Switch";
inline constexpr char VUKM4PTracksKey[] = "M4P Tracks Key";
inline constexpr char VUKAudioSwapToHDKey[] = "Swap Audio Tracks To Harddrive";
inline constexpr char VUKVolumeBalanceKey[] = "Volume Balancing Switch";
inline constexpr char VUKAutoRunMP3Key[] = "Autorun MP3 CD";
inline constexpr char VUKDataCDFormatKey[] = "Data CD Format Default Setting";
inline constexpr char VUKOverburnKey[] = "Overburn Enable/Disable Switch";
inline constexpr char VUKOverburnMinKey[] = "Overburn Settings Minute Key";
inline constexpr char VUKOverburnSecKey[] = "Overburn Settings Second Key";
inline constexpr char VUKOverburnFrameKey[] = "Overburn Settings Frame Key";
inline constexpr char VUKMP3QualityKey[] = "MP3 Encoding: Quality Setting";
inline constexpr char VUKMP3BitRateKey[] = "MP3 Encoding: Bitrate Setting";
inline constexpr char VUKMP3ChannelKey[] = "MP3 Encoding: Channel Setting";
inline constexpr char VUKMP3DefaultKey[] = "MP3 Encoding: Default Setting";
inline constexpr char VUKUseCDDBKey[] = "CDDB Checking Switch";
inline constexpr char VUKDataFilterKey[] = "Data Filter List";
// Where the drive database updater downloads from (absent: the address built in, if any).
inline constexpr char VUKDriveDatabaseURLKey[] = "Drive Database Download Address";

enum class PreferenceType {
  Bool,
  Integer,
  Color,  // stored as the colour's "#rrggbb" name
  StringList,
  Text,
};

struct PreferenceKey {
  const char* constant;
  const char* key;
  PreferenceType type;
  bool registered;           // false: absent until the preferences window writes it
  int defaultNumber;         // Bool and Integer: the registered value
  const char* defaultColor;  // Color: the registered colour
};

// Every key, in the order of the preferences' table.
std::span<const PreferenceKey> preferenceKeys();

// The defaults that start-up registers: every registered key of preferenceKeys(). The data
// filter list holds the "GUIMsgs" texts of "All" and "Edit..." around "doc" and "txt".
QVariantMap registeredPreferenceDefaults();
void registerPreferenceDefaults(Defaults& defaults);

// A colour setting; black when the stored text names no colour.
QColor preferenceColor(const Defaults& defaults, const char* key);
bool setPreferenceColor(Defaults& defaults, const char* key, const QColor& color);

}  // namespace quillion
