// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/device/path_medium.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <system_error>

namespace quillion {
namespace {

std::string deviceNumber(dev_t dev) {
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

}  // namespace

bool udevRecordSaysCd(std::string_view record) {
  bool cd = false;
  bool larger = false;  // a DVD or BD medium is reported beside the CD properties of the drive
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string_view::npos) end = record.size();
    const std::string_view line = record.substr(start, end - start);
    if (line.starts_with("E:ID_CDROM_MEDIA_CD") && line.ends_with("=1")) cd = true;
    if ((line.starts_with("E:ID_CDROM_MEDIA_DVD") || line.starts_with("E:ID_CDROM_MEDIA_BD") ||
         line.starts_with("E:ID_CDROM_MEDIA_HDDVD")) &&
        line.ends_with("=1")) {
      larger = true;
    }
    start = end + 1;
  }
  return cd && !larger;
}

std::optional<PathMedium> mediumOfPath(const std::filesystem::path& path,
                                       const DeviceDatabaseRoots& roots) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const std::string number = deviceNumber(st.st_dev);
  std::error_code ec;
  const std::filesystem::path device = std::filesystem::canonical(roots.sysDevBlock / number, ec);
  if (ec || device.filename().empty()) return std::nullopt;
  PathMedium m;
  m.device = device.filename().string();
  // A partition's properties are its disk's: the medium is the disk's.
  std::string recordNumber = number;
  if (std::filesystem::exists(device / "partition", ec)) {
    m.device = device.parent_path().filename().string();
    std::ifstream dev(device.parent_path() / "dev");
    std::getline(dev, recordNumber);
  }
  std::ifstream record(roots.udevData / ("b" + recordNumber));
  std::ostringstream text;
  text << record.rdbuf();
  m.cdMedium = udevRecordSaysCd(text.str());
  return m;
}

}  // namespace quillion
