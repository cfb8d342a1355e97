// SPDX-License-Identifier: GPL-2.0-or-later
// Names of the notifications that windows, layout models and the shell exchange through the
// NotificationCenter. The strings are shared by every part of the interface; keep them as
// they are.
#pragma once

namespace quillion {

// Device list model.
inline constexpr char VUK_DeviceListUpdated[] = "VUK_DeviceListUpdated";
inline constexpr char VUK_DriveInfoUpdated[] = "VUK_DriveInfoUpdated";
inline constexpr char VUK_DeviceStatusChangedNotification[] = "VUK_DeviceStatusChangedNotification";

// Layout models and windows (the sender is the layout view).
inline constexpr char VUK_LayoutChangedNotification[] = "VUK_LayoutChangedNotification";
inline constexpr char VUK_DataRootNodeChangedNotification[] = "VUK_DataRootNodeChangedNotification";
inline constexpr char VUK_FilesAddedNotification[] = "VUK_FilesAddedNotification";
inline constexpr char VUK_FilesDroppedNotification[] = "VUK_FilesDroppedNotification";
inline constexpr char VUK_FilesRemovedNotification[] = "VUK_FilesRemovedNotification";
inline constexpr char VUK_NoFreeSpaceNotification[] = "VUK_NoFreeSpaceNotification";
inline constexpr char VUK_TracksAddedNotification[] = "VUK_TracksAddedNotification";
inline constexpr char VUK_AudioTooManyTracksNotification[] = "VUK_AudioTooManyTracksNotification";
inline constexpr char VUK_AudioDiscTitleChangedNotification[] =
    "VUK_AudioDiscTitleChangedNotification";
inline constexpr char VUK_AudioSwappingStartingNotification[] =
    "VUK_AudioSwappingStartingNotification";
inline constexpr char VUK_AudioSwappingFinishedNotification[] =
    "VUK_AudioSwappingFinishedNotification";
inline constexpr char VUK_InvalidAudioFileDroppedNotification[] =
    "VUK_InvalidAudioFileDroppedNotification";
inline constexpr char VUK_ConvertingAACToAIFFNotification[] = "VUK_ConvertingAACToAIFFNotification";
inline constexpr char VUK_FinishedConvertingAACToAIFFNotification[] =
    "VUK_FinishedConvertingAACToAIFFNotification";
inline constexpr char VUK_M4PTracksAddedNotification[] = "VUK_M4PTracksAddedNotification";
inline constexpr char VUK_M4PMP3TracksAddedNotification[] = "VUK_M4PMP3TracksAddedNotification";
inline constexpr char VUK_Mp3FinishedEncodingNotification[] = "VUK_Mp3FinishedEncodingNotification";
inline constexpr char VUK_Mp3FinishedEncodingForAudioConversionNotification[] =
    "VUK_Mp3FinishedEncodingForAudioConversionNotification";
inline constexpr char VUK_VCDMovieAddedNotification[] = "VUK_VCDMovieAddedNotification";
inline constexpr char VUK_VCDInvalidVideoFileDroppedNotification[] =
    "VUK_VCDInvalidVideoFileDroppedNotification";

// CDDB client (the sender is the table view that asked for the lookup).
inline constexpr char VUK_CDDBInfoRetrievedNotification[] = "VUK_CDDBInfoRetrievedNotification";
inline constexpr char VUK_CDDBQueryFinishedNotification[] = "VUK_CDDBQueryFinishedNotification";
inline constexpr char VUK_MultipleCDDBMatchesNotification[] = "VUK_MultipleCDDBMatchesNotification";
inline constexpr char VUK_NoCDDBMatchesFoundsNotification[] = "VUK_NoCDDBMatchesFoundsNotification";
inline constexpr char VUK_FinishedDraggingCDDBNotification[] =
    "VUK_FinishedDraggingCDDBNotification";

// Preferences.
inline constexpr char VUK_ColorDidChangeNotification[] = "VUK_ColorDidChangeNotification";

}  // namespace quillion
