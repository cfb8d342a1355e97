// SPDX-License-Identifier: GPL-2.0-or-later
#include "ifo_find.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "resources.h"
#include "session.h"

namespace quillion::brindle {
namespace ifo_detail {

std::uint32_t be16(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 8 | p[1];
}
std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The manager's file beside a title set: its standard lower-case name first, then the
// upper-case one discs carry.
File openManager(const std::string& titlePath) {
  const auto slash = titlePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : titlePath.substr(0, slash + 1);
  for (const char* name : {"video_ts.ifo", "VIDEO_TS.IFO"}) {
    if (std::FILE* f = std::fopen((folder + name).c_str(), "rb")) return File(f);
  }
  return nullptr;
}

bool readSector(std::FILE* f, std::uint64_t sector, std::uint8_t* out) {
  return std::fseek(f, static_cast<long>(sector * kIfoSector), SEEK_SET) == 0 &&
         std::fread(out, 1, kIfoSector, f) == kIfoSector;
}

// The level words of a title set, from the manager's table.
void titleSetWords(mpeg_in_private* p) {
  File manager = openManager(p->file_name);
  std::uint8_t first[kIfoSector];
  if (!manager || !readSector(manager.get(), 0, first)) return;
  const std::uint32_t sector = ifo_level_sector(first, sizeof first);
  std::uint8_t table[kIfoSector];
  if (sector == 0 || !readSector(manager.get(), sector, table)) return;
  ifo_level_words(table, sizeof table, p->ifo_kind, p->ifo_title_set, p->ifo_words);
}

void managerWords(mpeg_in_private* p) {
  const std::uint64_t sector = ifo_level_sector(p->ifo_data, p->ifo_size);
  const std::uint64_t at = sector * kIfoSector;
  if (sector == 0 || at + kIfoSector > p->ifo_size) return;
  ifo_level_words(p->ifo_data + at, kIfoSector, p->ifo_kind, p->ifo_title_set, p->ifo_words);
}

}  // namespace ifo_detail

using namespace ifo_detail;

std::uint32_t ifo_kind_of(const std::uint8_t* bytes, std::size_t size, bool dvdFlag) {
  if (size < 12) return kIfoUnknown;
  if (std::memcmp(bytes, "DVDVIDEO-VMG", 12) == 0) return kIfoVideoManager;
  if (std::memcmp(bytes, "DVDVIDEO-VTS", 12) == 0) return dvdFlag ? kIfoTitleSetMenu : kIfoTitleSet;
  if (std::memcmp(bytes, "DVD_RTR_VMG", 11) == 0 && std::isdigit(bytes[11]))
    return kIfoRecordingManager;
  return kIfoUnknown;
}

std::uint32_t ifo_title_set_of(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (std::strlen(name) < 6 || !std::isdigit(static_cast<unsigned char>(name[4])) ||
      !std::isdigit(static_cast<unsigned char>(name[5])))
    return 0;
  return static_cast<std::uint32_t>((name[4] - '0') * 10 + (name[5] - '0'));
}

std::uint32_t ifo_level_sector(const std::uint8_t* bytes, std::size_t size) {
  return size >= 208 ? be32(bytes + 204) : 0;
}

bool ifo_level_words(const std::uint8_t* sector, std::size_t size, std::uint32_t kind,
                     std::uint32_t titleSet, std::uint16_t words[8]) {
  if (size < 70) return false;
  const std::uint32_t n = sector[3] & 0x7Fu;
  if (kind != kIfoVideoManager && titleSet > n) return false;
  const std::size_t rowBytes = 4 * std::size_t{n} + 4;
  const std::size_t column = kind == kIfoVideoManager ? 0 : 2 * std::size_t{titleSet} + 2;
  const std::size_t start = 8 * std::size_t{be16(sector + 68)};
  if (start + 7 * rowBytes + column + 2 > size) return false;
  for (int k = 7; k >= 0; --k) {
    const std::size_t at = start + static_cast<std::size_t>(7 - k) * rowBytes + column;
    words[k] = static_cast<std::uint16_t>(be16(sector + at));
  }
  return true;
}

void free_ifo(mpeg_in_info* record) {
  mpeg_in_private* p = record->priv;
  session_free(record, p->ifo_data);
  p->ifo_data = nullptr;
  p->ifo_size = 0;
}

int FindStreams_IFO(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  free_ifo(r);
  File file(std::fopen(p->file_name, "rb"));
  if (!file) {
    report_error(r, "FindStreams_IFO: IFO file not found");
    return 1;
  }
  std::size_t size = kIfoSector;
  if (!p->info_mode) {
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
      report_error(r, "FindStreams_IFO: Unable to seek to the end of IFO file");
      return 1;
    }
    const long end = std::ftell(file.get());
    if (end < static_cast<long>(kIfoSector)) {
      report_error(r, "FindStreams_IFO: IFO file is too small");
      return 1;
    }
    size = static_cast<std::size_t>(end);
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
      report_error(r, "FindStreams_IFO: Unable to seek to the start of the IFO file");
      return 1;
    }
  }
  p->ifo_data = static_cast<std::uint8_t*>(session_malloc(r, size));
  if (!p->ifo_data) {
    report_error(r, "FindStreams_IFO: Unable to allocate memory for the IFO file");
    return 1;
  }
  p->ifo_size = size;
  if (std::fread(p->ifo_data, 1, size, file.get()) != size) {
    report_error(r, "FindStreams_IFO: Unable to read from the IFO file");
    return 1;
  }
  p->ifo_kind = ifo_kind_of(p->ifo_data, size, r->dvd_flag != 0);
  if (p->ifo_kind == kIfoUnknown) {
    report_error(r, "FindStreams_IFO: Unknown IFO file");
    return 1;
  }
  if (p->ifo_kind == kIfoTitleSet || p->ifo_kind == kIfoTitleSetMenu)
    p->ifo_title_set = ifo_title_set_of(p->file_name);
  if (!p->info_mode && p->ifo_kind != kIfoRecordingManager) {
    file.reset();
    if (p->ifo_kind == kIfoVideoManager)
      managerWords(p);
    else
      titleSetWords(p);
  }
  return 0;
}

}  // namespace quillion::brindle
