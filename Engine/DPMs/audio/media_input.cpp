// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/audio/media_input.h"

#include <array>
#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace quillion {
namespace {

// Demuxers whose input names other inputs to open.
constexpr std::array<std::string_view, 6> kIndirectFormats = {"hls",  "applehttp", "concat",
                                                              "dash", "tee",       "mpegdash"};

bool indirect(const char* names) {
  std::string_view list(names != nullptr ? names : "");
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    for (const std::string_view f : kIndirectFormats) {
      if (name == f) return true;
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

int openMediaInput(const std::string& path, AVFormatContext** format) {
  // Any path is a local file, even one that reads like an address.
  const std::string url = "file:" + path;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  // The format is decided before the demuxer may read its header, since a list's demuxer
  // opens what the list names while reading it.
  AVIOContext* probe = nullptr;
  int r = avio_open2(&probe, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
  av_dict_free(&options);
  if (r < 0) return r;
  const AVInputFormat* found = nullptr;
  r = av_probe_input_buffer2(probe, &found, url.c_str(), nullptr, 0, 0);
  avio_closep(&probe);
  if (r < 0) return r;
  if (found == nullptr || indirect(found->name)) return AVERROR_INVALIDDATA;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  r = avformat_open_input(format, url.c_str(), found, &options);
  av_dict_free(&options);
  return r;
}

}  // namespace quillion
