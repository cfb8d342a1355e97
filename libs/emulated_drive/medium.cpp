// SPDX-License-Identifier: GPL-2.0-or-later
#include "medium.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

namespace quillion::emu {
namespace {

constexpr ProfileInfo kProfiles[] = {
    {0x08, "CD-ROM", MediumKind::CD, Recording::ReadOnly, false},
    {0x09, "CD-R", MediumKind::CD, Recording::Sequential, false},
    {0x0A, "CD-RW", MediumKind::CD, Recording::Sequential, true, 1, 0x0A},
    {0x10, "DVD-ROM", MediumKind::DVD, Recording::ReadOnly, false},
    {0x11, "DVD-R", MediumKind::DVD, Recording::Sequential, false},
    {0x13, "DVD-RW restricted overwrite", MediumKind::DVD, Recording::Random, true, 16, 0x14, true},
    {0x14, "DVD-RW", MediumKind::DVD, Recording::Sequential, true, 1, 0x14},
    {0x1A, "DVD+RW", MediumKind::DVD, Recording::Random, true},
    {0x1B, "DVD+R", MediumKind::DVD, Recording::Sequential, false},
    {0x2B, "DVD+R DL", MediumKind::DVD, Recording::Sequential, false},
    {0x40, "BD-ROM", MediumKind::BD, Recording::ReadOnly, false},
    {0x41, "BD-R", MediumKind::BD, Recording::Sequential, false},
    {0x43, "BD-RE", MediumKind::BD, Recording::Random, true},
};

// MMC-5 6.5.4.2 and 6.24.3.3: a DVD-RW offers a full format (00h, 10h with the ECC block as its
// packet size) and the quick format (15h) into restricted overwrite, and in restricted
// overwrite the quick grow of its last session (13h) while the format leaves room; DVD+RW
// its basic format (26h), BD-RE its format with spare areas (30h); 00h on those two is taken
// but not offered.
constexpr std::uint32_t kEccBlock = 16;
constexpr FormatType kFormatTypes[] = {
    {0x14, 0x00, 0x13, FormatExtent::Whole, true, kEccBlock},
    {0x14, 0x10, 0x13, FormatExtent::Whole, true, kEccBlock},
    {0x14, 0x15, 0x13, FormatExtent::Quick, true, kEccBlock},
    {0x13, 0x00, 0x13, FormatExtent::Whole, true, kEccBlock},
    {0x13, 0x13, 0x13, FormatExtent::Grow, true, kEccBlock},
    {0x13, 0x15, 0x13, FormatExtent::Quick, true, kEccBlock},
    {0x1A, 0x26, 0x1A, FormatExtent::Whole, true, 0},
    {0x1A, 0x00, 0x1A, FormatExtent::Whole, false, 0},
    {0x43, 0x30, 0x43, FormatExtent::Whole, true, 0},
    {0x43, 0x00, 0x43, FormatExtent::Whole, false, 0},
};

std::filesystem::path madeFolder(std::filesystem::path folder) {
  std::filesystem::create_directories(folder);
  return folder;
}

std::uint32_t roundUpTo(std::uint32_t blocks, std::uint32_t unit) {
  return static_cast<std::uint32_t>((std::uint64_t{blocks} + unit - 1) / unit * unit);
}

constexpr const char* kKindNames[] = {"audio", "mode1", "mode2", "mode2-form1", "mode2-form2"};

const char* statusName(DiscStatus s) {
  return s == DiscStatus::Blank ? "blank" : s == DiscStatus::Appendable ? "appendable" : "complete";
}

DiscStatus statusFrom(const std::string& s) {
  return s == "complete"     ? DiscStatus::Complete
         : s == "appendable" ? DiscStatus::Appendable
                             : DiscStatus::Blank;
}

SectorKind kindFrom(const nlohmann::json& t) {
  const std::string name = t.value("kind", std::string());
  for (std::size_t i = 0; i < std::size(kKindNames); ++i)
    if (name == kKindNames[i]) return static_cast<SectorKind>(i);
  return t.value("audio", false) ? SectorKind::Audio : SectorKind::Mode1;
}

// Where a CD sector lives in data.img.
std::uint64_t rawOffset(std::int32_t lba) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(lba) + cd::kPregap) * kRawSectorBytes;
}

// The 2048 user data bytes of a data sector; none for audio, formless Mode 2 and Form 2.
std::optional<std::size_t> userDataAt(SectorKind kind, const RawSector& sector) {
  const SectorFields f = sectorFields(kind, sector);
  if (kind == SectorKind::Audio || f.userEnd - f.subheaderEnd != kBlockBytes) return std::nullopt;
  return f.subheaderEnd;
}

const char* cueMode(SectorKind kind) {
  switch (kind) {
    case SectorKind::Audio:
      return "AUDIO";
    case SectorKind::Mode1:
      return "MODE1/2352";
    default:
      return "MODE2/2352";
  }
}

std::string msf(std::uint32_t frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60, frames % 75);
  return text;
}

}  // namespace

const ProfileInfo* profileByCode(std::uint16_t code) {
  for (const auto& p : kProfiles)
    if (p.code == code) return &p;
  return nullptr;
}

const ProfileInfo* profileByName(const std::string& name) {
  for (const auto& p : kProfiles)
    if (name == p.name) return &p;
  return nullptr;
}

std::span<const FormatType> formatTypes() {
  return kFormatTypes;
}

const FormatType* formatTypeFor(std::uint16_t profile, std::uint8_t type) {
  for (const auto& f : kFormatTypes)
    if (f.profile == profile && f.type == type) return &f;
  return nullptr;
}

Medium::ImageFile::ImageFile(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}

Medium::ImageFile& Medium::ImageFile::operator=(ImageFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Medium::ImageFile::~ImageFile() {
  if (fd_ >= 0) ::close(fd_);
}

// Holes and the space past the end of the sparse file read as zeros.
bool Medium::ImageFile::read(std::uint64_t offset, void* out, std::size_t length) const {
  auto* at = static_cast<std::uint8_t*>(out);
  while (length > 0) {
    const ssize_t n = ::pread(fd_, at, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      std::fill_n(at, length, std::uint8_t{0});
      return true;
    }
    at += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Medium::ImageFile::write(std::uint64_t offset, const void* data, std::size_t length) {
  const auto* at = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    const ssize_t n = ::pwrite(fd_, at, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Medium::ImageFile::truncate(std::uint64_t length) {
  return ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

Medium::Medium(std::filesystem::path folder, const ProfileInfo* profile, std::uint32_t capacity)
    : folder_(madeFolder(std::move(folder))),
      profile_(profile),
      capacity_(capacity),
      image_(folder_ / "data.img") {}

Medium::Medium(const Medium& other)
    : folder_(other.folder_),
      profile_(other.profile_),
      capacity_(other.capacity_),
      status_(other.status_),
      formatted_(other.formatted_),
      formattedBlocks_(other.formattedBlocks_),
      image_(other.folder_ / "data.img"),
      atipSpeeds_(other.atipSpeeds_),
      tracks_(other.tracks_),
      sessions_(other.sessions_) {}

Medium& Medium::operator=(const Medium& other) {
  if (this != &other) *this = Medium(other);
  return *this;
}

Medium::~Medium() {
  if (image_.isOpen()) flush();
}

void Medium::flush() {
  if (dirty_) save();
}

void Medium::logCommand(const std::string& line) {
  if (!commandLog_.is_open()) commandLog_.open(folder_ / "commands.log", std::ios::app);
  // Each line is on disk as soon as its command is answered: a test reads the log while the
  // disc is still in the drive.
  commandLog_ << line << '\n' << std::flush;
}

Medium Medium::blank(const std::filesystem::path& folder, std::uint16_t profile,
                     std::uint32_t capacity) {
  const ProfileInfo* info = profileByCode(profile);
  Medium m(folder, info ? info : profileByCode(0x09), capacity);
  (void)m.image_.truncate(0);
  m.save();
  return m;
}

std::optional<Medium> Medium::fromIso(const std::filesystem::path& iso,
                                      const std::filesystem::path& folder, std::uint16_t profile) {
  const ProfileInfo* info = profileByCode(profile);
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(iso, ec);
  if (!info || ec || bytes == 0) return std::nullopt;
  const auto blocks = static_cast<std::uint32_t>((bytes + kBlockBytes - 1) / kBlockBytes);
  const std::uint32_t capacity =
      info->recording == Recording::Random ? std::max(blocks, 2'295'104u) : blocks;
  Medium m(folder, info, capacity);
  if (m.isCd()) {
    // A pressed CD: one Mode 1 track in one closed session, its sectors as a drive records them.
    (void)m.image_.truncate(0);
    std::ifstream in(iso, std::ios::binary);
    std::vector<std::uint8_t> data(std::size_t{blocks} * kBlockBytes, 0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(bytes));
    std::vector<RawSector> sectors(blocks);
    for (std::uint32_t i = 0; i < blocks; ++i) {
      sectors[i] = mode1Sector(static_cast<std::int32_t>(i),
                               std::span<const std::uint8_t, kBlockBytes>(
                                   data.data() + std::size_t{i} * kBlockBytes, kBlockBytes));
    }
    if (!m.recordSectors(0, sectors)) return std::nullopt;
    m.tracks_.push_back(Track{1, 1, 0, blocks, SectorKind::Mode1, true});
    m.sessions_.push_back(Session{1, blocks, 0});
    m.status_ = DiscStatus::Complete;
    m.save();
    return m;
  }
  std::filesystem::copy_file(iso, m.imagePath(), std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) return std::nullopt;
  m.image_ = ImageFile(m.imagePath());  // the copy may have replaced the file
  if (!m.image_.truncate(std::uint64_t{blocks} * kBlockBytes)) return std::nullopt;
  m.tracks_.push_back(Track{1, 1, 0, blocks, SectorKind::Mode1, true});
  m.sessions_.push_back(Session{1, blocks, 0});
  m.status_ = DiscStatus::Complete;
  m.formatted_ = info->recording == Recording::Random;
  m.formattedBlocks_ = capacity;
  m.save();
  return m;
}

std::optional<Medium> Medium::load(const std::filesystem::path& folder) {
  std::ifstream in(folder / "medium.json");
  if (!in) return std::nullopt;
  const auto j = nlohmann::json::parse(in, nullptr, false);
  if (j.is_discarded() || j.value("schema", 0) != 1) return std::nullopt;
  const ProfileInfo* info = profileByName(j.value("profile", std::string()));
  if (!info) return std::nullopt;
  Medium m(folder, info, j.value("capacity", 0u));
  m.status_ = statusFrom(j.value("status", std::string("blank")));
  m.formatted_ = j.value("formatted", false);
  m.formattedBlocks_ = j.value("formattedBlocks", m.capacity_);
  if (j.contains("atip")) {
    const auto& a = j["atip"];
    m.atipSpeeds_.subType = static_cast<std::uint8_t>(a.value("subType", 0u) & 7u);
    if (a.contains("a1")) m.atipSpeeds_.a1 = static_cast<std::uint8_t>(a.value("a1", 0u));
  }
  for (const auto& t : j.value("tracks", nlohmann::json::array())) {
    Track track{t.value("number", 1u), t.value("session", 1u),
                t.value("start", 0u),  t.value("length", 0u),
                kindFrom(t),           t.value("closed", true)};
    track.pregap = t.value("pregap", 0u);
    track.runOut = t.value("runOut", 0u);
    track.reserved = t.value("reserved", 0u);
    m.tracks_.push_back(track);
  }
  for (const auto& s : j.value("sessions", nlohmann::json::array())) {
    m.sessions_.push_back(Session{s.value("number", 1u), s.value("leadOut", 0u),
                                  static_cast<std::uint8_t>(s.value("format", 0u))});
  }
  // A closed disc described without sessions: one session ending where its tracks end.
  if (m.sessions_.empty() && m.status_ == DiscStatus::Complete && !m.tracks_.empty()) {
    m.sessions_.push_back(Session{1, m.recordedEnd(), 0});
  }
  return m;
}

void Medium::save() const {
  // A whole file or none: the new state goes to a file of its own that then takes the name.
  nlohmann::json j;
  j["schema"] = 1;
  j["profile"] = profile_->name;
  j["capacity"] = capacity_;
  j["status"] = statusName(status_);
  j["formatted"] = formatted_;
  j["formattedBlocks"] = formattedBlocks_;
  j["atip"] = {{"subType", atipSpeeds_.subType}};
  if (atipSpeeds_.a1) j["atip"]["a1"] = *atipSpeeds_.a1;
  j["tracks"] = nlohmann::json::array();
  for (const auto& t : tracks_) {
    j["tracks"].push_back({{"number", t.number},
                           {"session", t.session},
                           {"start", t.start},
                           {"length", t.length},
                           {"kind", kKindNames[static_cast<std::size_t>(t.kind)]},
                           {"audio", t.audio()},
                           {"closed", t.closed},
                           {"pregap", t.pregap},
                           {"runOut", t.runOut},
                           {"reserved", t.reserved}});
  }
  j["sessions"] = nlohmann::json::array();
  for (const auto& s : sessions_) {
    j["sessions"].push_back({{"number", s.number}, {"leadOut", s.leadOut}, {"format", s.format}});
  }
  const auto path = folder_ / "medium.json";
  auto temporary = path;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << j.dump(2) << '\n';
    if (!out) return;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (!ec) dirty_ = false;
}

const Track* Medium::openTrack() const {
  return !tracks_.empty() && !tracks_.back().closed ? &tracks_.back() : nullptr;
}

const Track* Medium::trackAt(std::uint32_t lba) const {
  for (const auto& t : tracks_)
    if (lba >= t.start && lba < t.start + t.length) return &t;
  return nullptr;
}

std::uint32_t Medium::recordedEnd() const {
  std::uint32_t end = 0;
  for (const auto& t : tracks_) end = std::max(end, t.start + t.length + t.runOut);
  return end;
}

std::uint32_t Medium::nextWritable() const {
  if (const Track* open = openTrack()) return open->start + open->length;
  return nextTrackStart();
}

std::uint32_t Medium::nextTrackStart(std::uint32_t pregap) const {
  if (tracks_.empty()) return 0;
  const Track& last = tracks_.back();
  if (!isCd()) return last.end();
  if (last.session <= sessions_.size()) {
    const Session& closed = sessions_.back();
    const std::uint32_t leadOut = sessions_.size() == 1 ? cd::kFirstLeadOut : cd::kLaterLeadOut;
    return closed.leadOut + leadOut + cd::kLeadIn + cd::kPregap;
  }
  return last.end() + pregap;
}

std::int32_t Medium::leadInStart() const {
  if (sessions_.empty()) return cd::kFirstLeadInStart;
  const std::uint32_t leadOut = sessions_.size() == 1 ? cd::kFirstLeadOut : cd::kLaterLeadOut;
  return static_cast<std::int32_t>(sessions_.back().leadOut + leadOut);
}

bool Medium::isRecorded(std::uint32_t lba) const {
  if (profile_->recording == Recording::Random) return formatted_ && lba < formattedBlocks();
  return trackAt(lba) != nullptr;
}

bool Medium::read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out) const {
  std::fill_n(out, std::size_t{blocks} * kBlockBytes, 0);
  if (isCd()) {
    RawSector sector{};
    for (std::uint32_t i = 0; i < blocks; ++i, out += kBlockBytes) {
      const Track* t = trackAt(lba + i);
      if (!t) continue;  // unrecorded: zeros, as a sparse image reads
      if (!readSector(static_cast<std::int32_t>(lba + i), sector)) return false;
      const auto at = userDataAt(t->kind, sector);
      if (!at) return false;
      std::copy_n(sector.begin() + static_cast<std::ptrdiff_t>(*at), kBlockBytes, out);
    }
    return true;
  }
  return image_.read(std::uint64_t{lba} * kBlockBytes, out, std::size_t{blocks} * kBlockBytes);
}

bool Medium::write(std::uint32_t lba, std::uint32_t blocks, const std::uint8_t* data) {
  if (isCd()) {
    std::vector<RawSector> sectors(blocks);
    for (std::uint32_t i = 0; i < blocks; ++i) {
      sectors[i] = mode1Sector(static_cast<std::int32_t>(lba + i),
                               std::span<const std::uint8_t, kBlockBytes>(
                                   data + std::size_t{i} * kBlockBytes, kBlockBytes));
    }
    if (!recordSectors(static_cast<std::int32_t>(lba), sectors)) return false;
  } else if (!image_.write(std::uint64_t{lba} * kBlockBytes, data,
                           std::size_t{blocks} * kBlockBytes)) {
    return false;
  }
  if (profile_->recording == Recording::Sequential) {
    if (!openTrack())
      addTrack(Track{nextTrackNumber(), sessionInProgress(), lba, 0, SectorKind::Mode1, false});
    growOpenTrack(blocks);
  } else if (profile_->trackFollowsData) {
    // The one track reaches to the end of the last written unit.
    if (tracks_.empty()) tracks_.push_back(Track{1, 1, 0, 0, SectorKind::Mode1, true});
    const std::uint32_t end = roundUpTo(lba + blocks, profile_->writeUnit);
    if (end > tracks_.front().length) {
      tracks_.front().length = end;
      dirty_ = true;
    }
  } else if (tracks_.empty()) {
    tracks_.push_back(Track{1, 1, 0, capacity_, SectorKind::Mode1, true});
    save();
  }
  return true;
}

bool Medium::recordSectors(std::int32_t lba, std::span<const RawSector> sectors) {
  if (!isCd() || lba < -static_cast<std::int32_t>(cd::kPregap)) return false;
  return image_.write(rawOffset(lba), sectors.data(), sectors.size_bytes());
}

bool Medium::readSector(std::int32_t lba, RawSector& sector) const {
  sector.fill(0);
  if (!isCd() || lba < -static_cast<std::int32_t>(cd::kPregap)) return false;
  return image_.read(rawOffset(lba), sector.data(), sector.size());  // holes read as zeros
}

void Medium::addTrack(const Track& track) {
  tracks_.push_back(track);
  status_ = DiscStatus::Appendable;
  save();
}

void Medium::growOpenTrack(std::uint32_t blocks) {
  if (!tracks_.empty() && !tracks_.back().closed) {
    tracks_.back().length += blocks;
    dirty_ = true;
  }
}

void Medium::closeTrack(std::uint32_t runOut) {
  if (!tracks_.empty() && !tracks_.back().closed) {
    tracks_.back().closed = true;
    tracks_.back().runOut = runOut;
  }
  save();
}

void Medium::closeSession(bool nextAllowed, std::uint8_t format) {
  if (tracks_.empty() || tracks_.back().session <= sessions_.size()) return;
  closeTrack(tracks_.back().runOut);
  sessions_.push_back(Session{sessionInProgress(), tracks_.back().end(), format});
  status_ = nextAllowed ? DiscStatus::Appendable : DiscStatus::Complete;
  save();
}

bool Medium::recordLeadIn(std::span<const std::uint8_t> blocks) {
  std::ofstream out(folder_ / "leadin-cdtext.raw", std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(blocks.data()),
            static_cast<std::streamsize>(blocks.size()));
  return static_cast<bool>(out);
}

void Medium::format() {
  formatted_ = true;
  formattedBlocks_ = capacity_;
  status_ = DiscStatus::Complete;
  if (tracks_.empty()) tracks_.push_back(Track{1, 1, 0, capacity_, SectorKind::Mode1, true});
  save();
}

std::uint32_t Medium::formatCapacity(const FormatType& row) const {
  if (row.extent != FormatExtent::Grow) return capacity_;
  const bool grows = profile_->code == row.profile && formatted_ && formattedBlocks() < capacity_;
  return grows ? capacity_ - formattedBlocks() : 0;
}

void Medium::format(const FormatType& row, std::uint32_t blocks) {
  const ProfileInfo* becomes = profileByCode(row.becomes);
  if (!becomes) return;
  if (row.extent == FormatExtent::Grow) {
    const std::uint32_t more = blocks ? roundUpTo(blocks, becomes->writeUnit) : formatCapacity(row);
    formattedBlocks_ = std::min(capacity_, formattedBlocks_ + more);
    save();
    return;
  }
  if (becomes != profile_ || row.extent == FormatExtent::Quick) {
    // A new format: what the disc held is gone; its one track holds nothing yet.
    profile_ = becomes;
    tracks_.clear();
    sessions_.clear();
    (void)image_.truncate(0);
    formatted_ = true;
    formattedBlocks_ =
        blocks ? std::min(capacity_, roundUpTo(blocks, becomes->writeUnit)) : capacity_;
    status_ = DiscStatus::Complete;
    tracks_.push_back(
        Track{1, 1, 0, becomes->trackFollowsData ? 0 : capacity_, SectorKind::Mode1, true});
    save();
    return;
  }
  format();
}

void Medium::setAtipSpeeds(const AtipSpeeds& speeds) {
  atipSpeeds_ = speeds;
  atipSpeeds_.subType &= 7;
  save();
}

void Medium::erase() {
  if (const ProfileInfo* blank = profileByCode(profile_->blanksTo)) profile_ = blank;
  tracks_.clear();
  sessions_.clear();
  status_ = DiscStatus::Blank;
  formatted_ = false;
  formattedBlocks_ = 0;
  (void)image_.truncate(0);
  save();
}

bool Medium::dumpIso(const std::filesystem::path& iso) const {
  const std::uint32_t end =
      profile_->recording == Recording::Random && tracks_.empty() ? 0 : recordedEnd();
  const std::uint64_t want = std::uint64_t{end} * kBlockBytes;
  if (isCd()) {
    std::ofstream out(iso, std::ios::binary | std::ios::trunc);
    std::array<std::uint8_t, kBlockBytes> block{};
    for (std::uint32_t lba = 0; lba < end; ++lba) {
      const Track* t = trackAt(lba);
      if (t && !read(lba, 1, block.data())) block.fill(0);  // audio and Form 2 hold no user data
      if (!t) block.fill(0);
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(block.size()));
    }
    return static_cast<bool>(out);
  }
  std::ofstream out(iso, std::ios::binary | std::ios::trunc);
  const std::uint64_t have = std::filesystem::file_size(imagePath());
  std::vector<char> buffer(1 << 16);
  for (std::uint64_t at = 0, bytes = std::min(have, want); at < bytes;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes - at, buffer.size()));
    if (!image_.read(at, buffer.data(), n) ||
        !out.write(buffer.data(), static_cast<std::streamsize>(n)))
      return false;
    at += n;
  }
  if (!out) return false;
  out.close();
  std::error_code ec;
  std::filesystem::resize_file(iso, want, ec);  // holes of the sparse image read as zeros
  return !ec;
}

bool Medium::dumpCdBin(const std::filesystem::path& bin) const {
  std::ofstream out(bin, std::ios::binary | std::ios::trunc);
  RawSector sector{};
  for (const auto& t : tracks_) {
    // Index 0 of the first track lies before block 0: a reader takes the first pregap as given.
    const std::uint32_t from = t.start >= t.pregap ? t.start - t.pregap : 0;
    out.seekp(static_cast<std::streamoff>(std::uint64_t{from} * kRawSectorBytes));
    for (std::uint32_t lba = from; lba < t.start + t.length; ++lba) {
      if (!readSector(static_cast<std::int32_t>(lba), sector)) return false;
      out.write(reinterpret_cast<const char*>(sector.data()),
                static_cast<std::streamsize>(sector.size()));
    }
  }
  out.close();
  // Run-outs and the space between sessions stay holes of the file: zeros.
  std::error_code ec;
  std::filesystem::resize_file(bin, std::uint64_t{recordedEnd()} * kRawSectorBytes, ec);
  return !ec && static_cast<bool>(out);
}

bool Medium::dumpBinCue(const std::filesystem::path& cue) const {
  auto bin = cue;
  bin.replace_extension(".bin");
  if (!(isCd() ? dumpCdBin(bin) : dumpIso(bin))) return false;
  std::ofstream out(cue);
  out << "FILE \"" << bin.filename().string() << "\" BINARY\n";
  const bool severalSessions = !tracks_.empty() && tracks_.back().session > 1;
  std::uint32_t session = 0;
  for (const auto& t : tracks_) {
    if (severalSessions && t.session != session) {
      session = t.session;
      char line[32];
      std::snprintf(line, sizeof line, "REM SESSION %02u\n", session);
      out << line;
    }
    char line[32];
    std::snprintf(line, sizeof line, "  TRACK %02u %s\n", t.number,
                  isCd() ? cueMode(t.kind) : "MODE1/2048");
    out << line;
    if (t.pregap && t.start >= t.pregap) out << "    INDEX 00 " << msf(t.start - t.pregap) << '\n';
    out << "    INDEX 01 " << msf(t.start) << '\n';
  }
  return static_cast<bool>(out);
}

}  // namespace quillion::emu
