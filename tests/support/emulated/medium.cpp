// SPDX-License-Identifier: GPL-2.0-or-later
#include "medium.h"

#include "cd_sector.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

namespace quillion::emu {
namespace {

constexpr ProfileInfo kProfiles[] = {
    {0x08, "CD-ROM", MediumKind::CD, Recording::ReadOnly, false},
    {0x09, "CD-R", MediumKind::CD, Recording::Sequential, false},
    {0x0A, "CD-RW", MediumKind::CD, Recording::Sequential, true},
    {0x10, "DVD-ROM", MediumKind::DVD, Recording::ReadOnly, false},
    {0x11, "DVD-R", MediumKind::DVD, Recording::Sequential, false},
    {0x1A, "DVD+RW", MediumKind::DVD, Recording::Random, true},
    {0x1B, "DVD+R", MediumKind::DVD, Recording::Sequential, false},
    {0x40, "BD-ROM", MediumKind::BD, Recording::ReadOnly, false},
    {0x41, "BD-R", MediumKind::BD, Recording::Sequential, false},
    {0x43, "BD-RE", MediumKind::BD, Recording::Random, true},
};

const char* statusName(DiscStatus s) {
  return s == DiscStatus::Blank ? "blank" : s == DiscStatus::Appendable ? "appendable" : "complete";
}

DiscStatus statusFrom(const std::string& s) {
  return s == "complete" ? DiscStatus::Complete : s == "appendable" ? DiscStatus::Appendable : DiscStatus::Blank;
}

bool copyBlocks(std::ifstream& in, std::ofstream& out, std::uint64_t bytes) {
  std::vector<char> buffer(1 << 16);
  while (bytes) {
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(bytes, buffer.size()));
    if (!in.read(buffer.data(), n) || !out.write(buffer.data(), n)) return false;
    bytes -= static_cast<std::uint64_t>(n);
  }
  return true;
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

Medium::Medium(std::filesystem::path folder, const ProfileInfo* profile, std::uint32_t capacity)
    : folder_(std::move(folder)), profile_(profile), capacity_(capacity) {
  std::filesystem::create_directories(folder_);
  std::ofstream touch(imagePath(), std::ios::binary | std::ios::app);
}

Medium Medium::blank(const std::filesystem::path& folder, std::uint16_t profile, std::uint32_t capacity) {
  const ProfileInfo* info = profileByCode(profile);
  Medium m(folder, info ? info : profileByCode(0x09), capacity);
  std::filesystem::resize_file(m.imagePath(), 0);
  m.save();
  return m;
}

std::optional<Medium> Medium::fromIso(const std::filesystem::path& iso, const std::filesystem::path& folder,
                                      std::uint16_t profile) {
  const ProfileInfo* info = profileByCode(profile);
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(iso, ec);
  if (!info || ec || bytes == 0) return std::nullopt;
  const auto blocks = static_cast<std::uint32_t>((bytes + kBlockBytes - 1) / kBlockBytes);
  const std::uint32_t capacity = info->recording == Recording::Random ? std::max(blocks, 2'295'104u) : blocks;
  Medium m(folder, info, capacity);
  std::filesystem::copy_file(iso, m.imagePath(), std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return std::nullopt;
  std::filesystem::resize_file(m.imagePath(), std::uint64_t{blocks} * kBlockBytes);
  m.tracks_.push_back(Track{1, 1, 0, blocks, false, true});
  m.status_ = DiscStatus::Complete;
  m.formatted_ = info->recording == Recording::Random;
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
  for (const auto& t : j.value("tracks", nlohmann::json::array())) {
    m.tracks_.push_back(Track{t.value("number", 1u), t.value("session", 1u), t.value("start", 0u),
                              t.value("length", 0u), t.value("audio", false), t.value("closed", true)});
  }
  return m;
}

void Medium::save() const {
  nlohmann::json j;
  j["schema"] = 1;
  j["profile"] = profile_->name;
  j["capacity"] = capacity_;
  j["status"] = statusName(status_);
  j["formatted"] = formatted_;
  j["tracks"] = nlohmann::json::array();
  for (const auto& t : tracks_) {
    j["tracks"].push_back({{"number", t.number}, {"session", t.session}, {"start", t.start}, {"length", t.length},
                           {"audio", t.audio}, {"closed", t.closed}});
  }
  std::ofstream(folder_ / "medium.json") << j.dump(2) << '\n';
}

std::uint32_t Medium::recordedEnd() const {
  std::uint32_t end = 0;
  for (const auto& t : tracks_) end = std::max(end, t.start + t.length);
  return end;
}

std::uint32_t Medium::nextWritable() const {
  if (!tracks_.empty() && !tracks_.back().closed) return tracks_.back().start + tracks_.back().length;
  return recordedEnd();
}

bool Medium::isRecorded(std::uint32_t lba) const {
  if (profile_->recording == Recording::Random) return formatted_ && lba < capacity_;
  return std::any_of(tracks_.begin(), tracks_.end(),
                     [&](const Track& t) { return lba >= t.start && lba < t.start + t.length; });
}

bool Medium::read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out) const {
  std::fill_n(out, std::size_t{blocks} * kBlockBytes, 0);
  std::ifstream in(imagePath(), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(std::uint64_t{lba} * kBlockBytes));
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(std::size_t{blocks} * kBlockBytes));
  return true;  // unwritten parts of a sparse image read as zeros
}

bool Medium::write(std::uint32_t lba, std::uint32_t blocks, const std::uint8_t* data) {
  std::fstream io(imagePath(), std::ios::binary | std::ios::in | std::ios::out);
  if (!io) return false;
  io.seekp(static_cast<std::streamoff>(std::uint64_t{lba} * kBlockBytes));
  if (!io.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(std::size_t{blocks} * kBlockBytes)))
    return false;
  io.close();
  if (profile_->recording == Recording::Sequential) {
    if (tracks_.empty() || tracks_.back().closed) {
      tracks_.push_back(Track{static_cast<std::uint32_t>(tracks_.size() + 1), 1, lba, 0, false, false});
    }
    tracks_.back().length += blocks;
    status_ = DiscStatus::Appendable;
  } else if (tracks_.empty()) {
    tracks_.push_back(Track{1, 1, 0, capacity_, false, true});
  }
  save();
  return true;
}

void Medium::closeTrack() {
  if (!tracks_.empty()) tracks_.back().closed = true;
  save();
}

void Medium::closeSession() {
  closeTrack();
  if (!tracks_.empty()) status_ = DiscStatus::Complete;
  save();
}

void Medium::format() {
  formatted_ = true;
  status_ = DiscStatus::Complete;
  if (tracks_.empty()) tracks_.push_back(Track{1, 1, 0, capacity_, false, true});
  save();
}

void Medium::erase() {
  tracks_.clear();
  status_ = DiscStatus::Blank;
  std::filesystem::resize_file(imagePath(), 0);
  save();
}

bool Medium::dumpIso(const std::filesystem::path& iso) const {
  std::ifstream in(imagePath(), std::ios::binary);
  std::ofstream out(iso, std::ios::binary | std::ios::trunc);
  const std::uint32_t end = profile_->recording == Recording::Random && tracks_.empty() ? 0 : recordedEnd();
  const std::uint64_t have = std::filesystem::file_size(imagePath());
  const std::uint64_t want = std::uint64_t{end} * kBlockBytes;
  if (!in || !out || !copyBlocks(in, out, std::min(have, want))) return false;
  out.close();
  std::error_code ec;
  std::filesystem::resize_file(iso, want, ec);  // holes of the sparse image read as zeros
  return !ec;
}

// CD media as the drive recorded them: one 2352-byte Mode 1 sector per block, built from the
// user data (ECMA-130 14.3); DVD and BD media as their 2048-byte blocks.
bool Medium::dumpBinCue(const std::filesystem::path& cue) const {
  auto bin = cue;
  bin.replace_extension(".bin");
  const bool cd = profile_->kind == MediumKind::CD;
  if (!cd) {
    if (!dumpIso(bin)) return false;
  } else {
    std::ofstream out(bin, std::ios::binary | std::ios::trunc);
    std::array<std::uint8_t, kBlockBytes> block{};
    for (std::uint32_t lba = 0; lba < recordedEnd(); ++lba) {
      if (!read(lba, 1, block.data())) return false;
      const RawSector sector = mode1Sector(static_cast<std::int32_t>(lba), block);
      out.write(reinterpret_cast<const char*>(sector.data()), static_cast<std::streamsize>(sector.size()));
    }
    if (!out) return false;
  }
  std::ofstream out(cue);
  out << "FILE \"" << bin.filename().string() << "\" BINARY\n";
  for (const auto& t : tracks_) {
    char line[64];
    std::snprintf(line, sizeof line, "  TRACK %02u %s\n    INDEX 01 %02u:%02u:%02u\n", t.number,
                  t.audio ? "AUDIO" : cd ? "MODE1/2352" : "MODE1/2048", t.start / 4500, t.start / 75 % 60,
                  t.start % 75);
    out << line;
  }
  return static_cast<bool>(out);
}

}  // namespace quillion::emu
