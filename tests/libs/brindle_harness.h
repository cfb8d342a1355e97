// SPDX-License-Identifier: GPL-2.0-or-later
// A session of the input library whose video stream parser reads from a scripted chunk
// source instead of the demultiplexer: each chunk has its bytes, time stamp and positions,
// and the source can fail, send a null chunk or run dry like the demultiplexer does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "brindle.h"
#include "bufstream.h"
#include "daskin.h"
#include "session.h"
#include "tests/support/test_support.h"

namespace quillion::brindle::test {

struct ScriptedChunk {
  std::vector<std::uint8_t> bytes;
  std::int64_t pts = -1;
  std::uint64_t packPosition = 0;
  std::uint64_t dataPosition = 0;
  std::uint32_t flags = 0;
  std::vector<std::uint8_t> extra;  // up to 32 bytes; extraCount may claim more
  std::uint8_t extraCount = 0;
  std::uint64_t aes3Length = 0;  // the AES3 frame payload size the chunk announces
  bool nullData = false;
  bool fail = false;  // the auxinfo call itself fails
};

class ChunkSource {
 public:
  ChunkSource() {
    stream_.auxinfo = &ChunkSource::auxinfo;
    stream_.drive_chain = this;
  }
  ChunkSource(const ChunkSource&) = delete;
  ChunkSource& operator=(const ChunkSource&) = delete;

  std::vector<ScriptedChunk> chunks;
  std::size_t next = 0;
  int auxCalls = 0;

  bufstream* stream() { return &stream_; }

  // Cuts `data` into chunks of the given sizes, repeated; positions are the data's offsets.
  void cut(const std::vector<std::uint8_t>& data, const std::vector<std::size_t>& sizes) {
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size() || i == 0; ++i) {
      const std::size_t n = std::min(sizes[i % sizes.size()], data.size() - at);
      ScriptedChunk c;
      c.bytes.assign(data.begin() + static_cast<std::ptrdiff_t>(at),
                     data.begin() + static_cast<std::ptrdiff_t>(at + n));
      c.dataPosition = at;
      c.packPosition = at;
      chunks.push_back(std::move(c));
      at += n;
      if (at >= data.size()) break;
    }
  }

  // The demultiplexer's seek: positions at the chunk that holds `position`.
  static std::int32_t seek(demux_context* context, std::int32_t /*parser*/, std::uint32_t low,
                           std::uint32_t high) {
    auto* self = reinterpret_cast<ChunkSource*>(context);
    const std::uint64_t position = std::uint64_t{high} << 32 | low;
    for (std::size_t i = 0; i < self->chunks.size(); ++i) {
      const ScriptedChunk& c = self->chunks[i];
      if (position >= c.dataPosition && position < c.dataPosition + c.bytes.size()) {
        self->next = i;
        return 0;
      }
    }
    return self->seekResultPastEnd;
  }
  std::int32_t seekResultPastEnd = 2;

 private:
  static std::int32_t auxinfo(bufstream* bs, std::uint32_t /*offset*/, std::uint32_t id, void* data,
                              std::uint32_t size) {
    auto* self = static_cast<ChunkSource*>(bs->drive_chain);
    ++self->auxCalls;
    if (id != DEMUX_CHUNK_INFO_ID || size != sizeof(demux_chunk_info)) return -1;
    demux_chunk_info info{};
    if (self->next >= self->chunks.size()) {
      info.end = 1;
      std::memcpy(data, &info, sizeof info);
      return 0;
    }
    const ScriptedChunk& c = self->chunks[self->next++];
    if (c.fail) return 1;
    info.data = c.nullData ? nullptr : c.bytes.data();
    static const std::uint8_t kEmpty = 0;
    if (!c.nullData && c.bytes.empty()) info.data = &kEmpty;
    info.length = static_cast<std::uint32_t>(c.bytes.size());
    info.flags = c.flags;
    info.pack_position = c.packPosition;
    info.data_position = c.dataPosition;
    info.pts = c.pts;
    if (!c.extra.empty())
      std::memcpy(info.extra, c.extra.data(), std::min(c.extra.size(), sizeof info.extra));
    info.extra_count = c.extraCount;
    info.aes3_length = c.aes3Length;
    std::memcpy(data, &info, sizeof info);
    return 0;
  }

  bufstream stream_{};
};

// A session made by mpegInNew whose video parser reads `source`.
class ParserSession {
 public:
  explicit ParserSession(ChunkSource& source, mpeg_get_rc getRc = nullptr)
      : record_(mpegInNew(getRc, nullptr)) {
    mpeg_in_private* p = record_->priv;
    p->video.demux_output = source.stream();
    p->video.demux_parser = 1;
    p->demux = reinterpret_cast<demux_context*>(&source);
    p->daskin.Seek = &ChunkSource::seek;
  }
  ~ParserSession() { mpegInFree(record_); }
  ParserSession(const ParserSession&) = delete;
  ParserSession& operator=(const ParserSession&) = delete;

  mpeg_in_info* record() { return record_; }
  stream_parser* video() { return &record_->priv->video; }

 private:
  mpeg_in_info* record_;
};

// Points the framework search at one folder (and nothing of the user's) for one test.
class FrameworkFolder {
 public:
  explicit FrameworkFolder(const std::string& folder) : home_() {
    save("QUILLION_FRAMEWORK_PATH");
    save("HOME");
    ::setenv("QUILLION_FRAMEWORK_PATH", folder.c_str(), 1);
    ::setenv("HOME", home_.path().c_str(), 1);
  }
  ~FrameworkFolder() {
    for (const auto& [name, value] : saved_) {
      if (value.has_value())
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  FrameworkFolder(const FrameworkFolder&) = delete;
  FrameworkFolder& operator=(const FrameworkFolder&) = delete;

 private:
  void save(const char* name) {
    const char* value = std::getenv(name);
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  quillion::test::TempDir home_;
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace quillion::brindle::test
