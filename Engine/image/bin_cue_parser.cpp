// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/bin_cue_parser.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool readCueText(const fs::path& path, std::string& text) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > quillion::cue::kMaxCueBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.resize(static_cast<std::size_t>(size));
  in.read(text.data(), static_cast<std::streamsize>(size));
  // A file that shrank since it was measured is read as far as it goes.
  text.resize(static_cast<std::size_t>(in.gcount()));
  return !in.bad();
}

// The FILE line's name beside the cue, else the cue's own name with "bin" for its last three
// characters (in the cue extension's letter case when that one is missing).
std::optional<fs::path> findDataFile(const fs::path& cue, const std::string& fileName) {
  std::error_code ec;
  std::vector<fs::path> candidates;
  candidates.push_back(cue.parent_path() / fs::path(fileName));
  const std::string cueText = cue.string();
  if (cueText.size() >= 3) {
    const std::string stem = cueText.substr(0, cueText.size() - 3);
    candidates.emplace_back(stem + "bin");
    candidates.emplace_back(stem + "BIN");
  }
  for (const fs::path& p : candidates) {
    if (fs::is_regular_file(p, ec)) return p;
  }
  return std::nullopt;
}

}  // namespace

BinCue_Parser::~BinCue_Parser() = default;

EngineStatus BinCue_Parser::init(const char* cuePath) {
  return parse(cuePath);
}

int BinCue_Parser::term() {
  info_.reset();
  dataFile_.clear();
  return 1;
}

EngineStatus BinCue_Parser::getSessionInfo(std::uint8_t** result) {
  if (result == nullptr) return kErrBadArgument;
  *result = nullptr;
  if (!info_ || info_->tracks.empty()) return kErrCueParse;
  const std::vector<std::uint8_t> bytes = quillion::cue::encodeSession(*info_);
  auto* block = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
  if (block == nullptr) return kErrOutOfMemory;
  std::memcpy(block, bytes.data(), bytes.size());
  *result = block;
  return kNoErr;
}

int BinCue_Parser::stringToLBA(const char* text, std::uint32_t* blocks) {
  if (text == nullptr) return -1;
  return quillion::cue::stringToLBA(text, blocks);
}

EngineStatus BinCue_Parser::parse(const char* cuePath) {
  term();
  if (cuePath == nullptr || *cuePath == '\0') return kErrBadArgument;
  const fs::path cue(cuePath);
  std::string text;
  if (!readCueText(cue, text)) return kErrCueParse;
  quillion::cue::CueSheet sheet;
  if (const EngineStatus s = quillion::cue::parseCueText(text, sheet); s != kNoErr) return s;
  const std::optional<fs::path> data = findDataFile(cue, sheet.fileName);
  if (!data) return kErrCueData;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(*data, ec);
  if (ec || size == 0) return kErrCueData;
  // The data file must also open: a file we may not read is as good as missing.
  if (!std::ifstream(*data, std::ios::binary)) return kErrCueData;
  quillion::cue::BinQ_Info info;
  if (const EngineStatus s = quillion::cue::layoutSession(sheet, size, info); s != kNoErr) {
    return s;
  }
  info_ = std::move(info);
  dataFile_ = data->string();
  return kNoErr;
}
