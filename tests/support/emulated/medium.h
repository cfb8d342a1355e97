// SPDX-License-Identifier: GPL-2.0-or-later
// A disc of the emulated drive, kept in a folder a test can inspect: medium.json (profile,
// state, tracks) and data.img (2048 bytes of user data per logical block, a sparse file, so a
// blank 25 GB disc costs nothing).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillion::emu {

enum class MediumKind { CD, DVD, BD };
enum class Recording { ReadOnly, Sequential, Random };
enum class DiscStatus : std::uint8_t { Blank = 0, Appendable = 1, Complete = 2 };

struct ProfileInfo {
  std::uint16_t code;
  const char* name;
  MediumKind kind;
  Recording recording;
  bool erasable;
};

// The profiles the emulator knows (MMC-5 5.3.1); null for an unknown code or name.
const ProfileInfo* profileByCode(std::uint16_t code);
const ProfileInfo* profileByName(const std::string& name);

struct Track {
  std::uint32_t number = 1;
  std::uint32_t session = 1;
  std::uint32_t start = 0;   // first LBA
  std::uint32_t length = 0;  // blocks recorded
  bool audio = false;
  bool closed = true;
};

class Medium {
public:
  // A closed disc (CD-ROM, DVD-ROM, BD-ROM) or a formatted random-writable disc holding the
  // image's blocks as its content.
  static std::optional<Medium> fromIso(const std::filesystem::path& iso, const std::filesystem::path& folder,
                                       std::uint16_t profile);
  // A blank (or, for random-writable media, unformatted) disc of `capacity` blocks.
  static Medium blank(const std::filesystem::path& folder, std::uint16_t profile, std::uint32_t capacity);
  // Reopens a folder written by save().
  static std::optional<Medium> load(const std::filesystem::path& folder);

  void save() const;

  const ProfileInfo& profile() const { return *profile_; }
  const std::filesystem::path& folder() const { return folder_; }
  std::uint32_t capacity() const { return capacity_; }
  DiscStatus status() const { return status_; }
  bool formatted() const { return formatted_; }
  const std::vector<Track>& tracks() const { return tracks_; }

  // The end of recorded data: the block after the last recorded one.
  std::uint32_t recordedEnd() const;
  // Sequential media: the next writable address of the open (invisible) track.
  std::uint32_t nextWritable() const;
  bool isRecorded(std::uint32_t lba) const;

  [[nodiscard]] bool read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out) const;
  [[nodiscard]] bool write(std::uint32_t lba, std::uint32_t blocks, const std::uint8_t* data);
  void closeTrack();
  void closeSession();
  void format();
  void erase();

  // Dumps for outside readers: every recorded block of the disc as an .iso, and the tracks as
  // a bin/cue pair (CD: MODE1/2352 sectors with EDC and parity; DVD, BD: MODE1/2048).
  [[nodiscard]] bool dumpIso(const std::filesystem::path& iso) const;
  [[nodiscard]] bool dumpBinCue(const std::filesystem::path& cue) const;

private:
  Medium(std::filesystem::path folder, const ProfileInfo* profile, std::uint32_t capacity);
  std::filesystem::path imagePath() const { return folder_ / "data.img"; }

  std::filesystem::path folder_;
  const ProfileInfo* profile_;
  std::uint32_t capacity_;
  DiscStatus status_ = DiscStatus::Blank;
  bool formatted_ = false;
  std::vector<Track> tracks_;
};

inline constexpr std::uint32_t kBlockBytes = 2048;

}  // namespace quillion::emu
