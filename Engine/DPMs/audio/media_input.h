// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a media file the user chose as FFmpeg input, with the reach of that input bounded:
// a file may be anything, so only the local file protocol is allowed, and formats that are
// lists of other files or addresses (playlists, concatenations, manifests) are refused.
#pragma once

#include <string>

struct AVFormatContext;

namespace quillion {

// 0, or FFmpeg's negative error; a refused format answers AVERROR_INVALIDDATA.
int openMediaInput(const std::string& path, AVFormatContext** format);

}  // namespace quillion
