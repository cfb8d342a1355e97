// SPDX-License-Identifier: GPL-2.0-or-later
// A disc of the emulated drive, kept in a folder a test can inspect: medium.json (profile,
// state, sessions, tracks) and data.img, a sparse file (a blank 25 GB disc costs nothing):
// DVD and BD media keep 2048 bytes of user data per logical block; CD media keep the whole
// 2352-byte sector the drive recorded, from block -150 on (offset (LBA + 150) x 2352), so that
// audio, Mode 2 and every field READ CD selects are there. leadin-cdtext.raw holds what a host
// wrote into the lead-in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cd_sector.h"

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
  // Random writing in units of this many blocks, each aligned to its size (MMC-5 4.5.4:
  // restricted overwrite writes whole 16-block ECC blocks).
  std::uint32_t writeUnit = 1;
  // The profile BLANK leaves the disc in; 0 when the medium cannot be blanked.
  std::uint16_t blanksTo = 0;
  // The disc's one track spans what was recorded rather than the whole formatted area (a
  // DVD-RW in restricted overwrite after a quick format: the intermediate state).
  bool trackFollowsData = false;
};

// The profiles the emulator knows (MMC-5 5.3.1); null for an unknown code or name.
const ProfileInfo* profileByCode(std::uint16_t code);
const ProfileInfo* profileByName(const std::string& name);

// What a FORMAT UNIT format type does to a disc of a profile (MMC-5 6.5.4.2): the whole disc
// formatted, a quick format, or the last session grown.
enum class FormatExtent { Whole, Quick, Grow };
struct FormatType {
  std::uint16_t profile;  // the medium it applies to
  std::uint8_t type;      // byte 4 bits 7-2 of the descriptor
  std::uint16_t becomes;  // the profile afterwards
  FormatExtent extent;
  bool listed;              // offered in READ FORMAT CAPACITIES
  std::uint32_t parameter;  // the type dependent parameter the drive lists
};
// The format types the emulator takes, in the order READ FORMAT CAPACITIES lists them.
std::span<const FormatType> formatTypes();
const FormatType* formatTypeFor(std::uint16_t profile, std::uint8_t type);

struct Track {
  std::uint32_t number = 1;
  std::uint32_t session = 1;
  std::uint32_t start = 0;   // first LBA (index 1)
  std::uint32_t length = 0;  // blocks recorded from the start
  SectorKind kind = SectorKind::Mode1;
  bool closed = true;
  std::uint32_t pregap = 0;  // blocks of index 0 before the start
  std::uint32_t runOut =
      0;  // link blocks after a track written at once: part of it, never readable
  std::uint32_t reserved = 0;  // size of a reserved track; 0 when not reserved

  bool audio() const { return kind == SectorKind::Audio; }
  // The block after the track: its data (or its reservation) and its run-out.
  std::uint32_t end() const { return start + (reserved > length ? reserved : length) + runOut; }
};

// A closed session: where its lead-out begins and its format (00h, 10h CD-I, 20h CD-ROM XA).
struct Session {
  std::uint32_t number = 1;
  std::uint32_t leadOut = 0;
  std::uint8_t format = 0;
};

// The layout of a CD program area (Orange Book): each track begins after a 150-block pregap,
// a track written at once ends with 2 run-out blocks, and between sessions lie the lead-out of
// the one before (6,750 blocks after the first session, 2,250 after later ones) and the
// lead-in of the next (4,500 blocks).
namespace cd {
inline constexpr std::uint32_t kPregap = 150;
inline constexpr std::uint32_t kRunOut = 2;
inline constexpr std::uint32_t kMinimumTrack = 300;
inline constexpr std::uint32_t kFirstLeadOut = 6750;
inline constexpr std::uint32_t kLaterLeadOut = 2250;
inline constexpr std::uint32_t kLeadIn = 4500;
// Start of the first lead-in on the emulated blank media (ATIP 97:26:66, an 80-minute disc).
inline constexpr std::uint8_t kAtipLeadIn[3] = {97, 26, 66};
inline constexpr std::int32_t kFirstLeadInStart = (97 * 60 + 26) * 75 + 66 - 450'000 - 150;
}  // namespace cd

class Medium {
 public:
  // A closed disc (CD-ROM, DVD-ROM, BD-ROM) or a formatted random-writable disc holding the
  // image's blocks as its content.
  static std::optional<Medium> fromIso(const std::filesystem::path& iso,
                                       const std::filesystem::path& folder, std::uint16_t profile);
  // A blank (or, for random-writable media, unformatted) disc of `capacity` blocks.
  static Medium blank(const std::filesystem::path& folder, std::uint16_t profile,
                      std::uint32_t capacity);
  // Reopens a folder written by save().
  static std::optional<Medium> load(const std::filesystem::path& folder);

  void save() const;

  // A copy is another view of the same folder, with its own handle on the image; what it
  // has not written yet stays with the original.
  Medium(const Medium& other);
  Medium& operator=(const Medium& other);
  Medium(Medium&&) noexcept = default;
  Medium& operator=(Medium&&) noexcept = default;
  ~Medium();

  const ProfileInfo& profile() const { return *profile_; }
  const std::filesystem::path& folder() const { return folder_; }
  std::uint32_t capacity() const { return capacity_; }
  DiscStatus status() const { return status_; }
  bool formatted() const { return formatted_; }
  // Random-writable media: the blocks that may be written (the whole capacity unless a quick
  // format left less).
  std::uint32_t formattedBlocks() const {
    return profile_->trackFollowsData ? formattedBlocks_ : capacity_;
  }
  // How many blocks a format of `row` takes the disc to (Grow: how many it may add); 0 when
  // the format has nothing to give.
  std::uint32_t formatCapacity(const FormatType& row) const;
  const std::vector<Track>& tracks() const { return tracks_; }
  const std::vector<Session>& sessions() const { return sessions_; }
  // The session that takes the next track: one after the closed ones.
  std::uint32_t sessionInProgress() const {
    return static_cast<std::uint32_t>(sessions_.size() + 1);
  }
  // The track being written or reserved, if any (only the last track can be open).
  const Track* openTrack() const;
  // The number the next track gets.
  std::uint32_t nextTrackNumber() const { return tracks_.empty() ? 1 : tracks_.back().number + 1; }

  // The end of recorded data: the block after the last recorded one.
  std::uint32_t recordedEnd() const;
  // Sequential media: the next writable address (of the open track, else of the next track).
  std::uint32_t nextWritable() const;
  // Where the next track begins: after the last track and a pregap of `pregap` blocks in its
  // session, after the lead-out and lead-in that follow a closed session (CD); right after the
  // last track (DVD, BD).
  std::uint32_t nextTrackStart(std::uint32_t pregap = cd::kPregap) const;
  // CD: where the lead-in of the session in progress begins (negative for the first session).
  std::int32_t leadInStart() const;
  bool isRecorded(std::uint32_t lba) const;
  // The track whose recorded blocks hold `lba`.
  const Track* trackAt(std::uint32_t lba) const;

  // 2048-byte user data of data blocks (CD: Mode 1 and Mode 2 Form 1 sectors only).
  [[nodiscard]] bool read(std::uint32_t lba, std::uint32_t blocks, std::uint8_t* out) const;
  // Records 2048-byte user data at `lba` into the open track (opening one if none is): on a CD
  // as Mode 1 sectors.
  [[nodiscard]] bool write(std::uint32_t lba, std::uint32_t blocks, const std::uint8_t* data);

  // CD media: whole sectors from block -150 (the first pregap) on.
  [[nodiscard]] bool recordSectors(std::int32_t lba, std::span<const RawSector> sectors);
  [[nodiscard]] bool readSector(std::int32_t lba, RawSector& sector) const;
  // Track bookkeeping for a drive that records: a new open track, blocks added to it, closing.
  void addTrack(const Track& track);
  void growOpenTrack(std::uint32_t blocks);
  void closeTrack(std::uint32_t runOut = 0);
  // Closes the session in progress (and its open track); `nextAllowed` leaves the disc
  // appendable, else it is complete. A session without tracks is left as it is.
  void closeSession(bool nextAllowed, std::uint8_t format);
  void closeSession() { closeSession(false, 0); }
  // The 96-byte R-W blocks a host wrote into the lead-in (CD-Text), appended.
  [[nodiscard]] bool recordLeadIn(std::span<const std::uint8_t> blocks);
  void format();
  // FORMAT UNIT with a descriptor of `row` and its number of blocks (0: as many as the drive
  // offers). Formatting into another profile or a quick format starts an empty disc.
  void format(const FormatType& row, std::uint32_t blocks);
  // BLANK: an empty disc of the profile the medium blanks to.
  void erase();
  // medium.json follows every state change; track growth from writes is kept until a cache
  // flush, a close or an unload (or the end of the medium's life) writes it.
  void flush();
  // One line of commands.log, the drive's record of what it was sent for this disc; the file
  // stays open for the disc's lifetime.
  void logCommand(const std::string& line);

  // Recordable CD media: the ATIP disc sub-type (0-7) and, when the disc carries them, its A1
  // values (the first byte: lowest and highest recommended speeds, Orange Book coded).
  struct AtipSpeeds {
    std::uint8_t subType = 0;
    std::optional<std::uint8_t> a1;
  };
  const AtipSpeeds& atipSpeeds() const { return atipSpeeds_; }
  void setAtipSpeeds(const AtipSpeeds& speeds);

  // Dumps for outside readers: the user data of every block up to the end of the recorded
  // area as an .iso, and the tracks as a bin/cue pair. A CD's bin holds its recorded sectors
  // from block 0 at their own positions (the space between sessions and run-outs as zeros,
  // sparse), its cue each track (AUDIO, MODE1/2352, MODE2/2352) with INDEX 00 at its pregap and
  // a REM SESSION line per session on a disc of several; DVD and BD give MODE1/2048.
  [[nodiscard]] bool dumpIso(const std::filesystem::path& iso) const;
  [[nodiscard]] bool dumpBinCue(const std::filesystem::path& cue) const;

 private:
  // data.img, open for the medium's lifetime: positioned reads and writes, no reopening.
  class ImageFile {
   public:
    explicit ImageFile(const std::filesystem::path& path);
    ImageFile(ImageFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ImageFile& operator=(ImageFile&& other) noexcept;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ~ImageFile();
    bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] bool read(std::uint64_t offset, void* out, std::size_t length) const;
    [[nodiscard]] bool write(std::uint64_t offset, const void* data, std::size_t length);
    [[nodiscard]] bool truncate(std::uint64_t length);

   private:
    int fd_ = -1;
  };

  Medium(std::filesystem::path folder, const ProfileInfo* profile, std::uint32_t capacity);
  std::filesystem::path imagePath() const { return folder_ / "data.img"; }
  bool isCd() const { return profile_->kind == MediumKind::CD; }
  [[nodiscard]] bool dumpCdBin(const std::filesystem::path& bin) const;

  std::filesystem::path folder_;
  const ProfileInfo* profile_;
  std::uint32_t capacity_;
  DiscStatus status_ = DiscStatus::Blank;
  bool formatted_ = false;
  std::uint32_t formattedBlocks_ = 0;
  mutable bool dirty_ = false;  // track growth not yet in medium.json
  ImageFile image_;
  std::ofstream commandLog_;  // opened at the first command
  AtipSpeeds atipSpeeds_;
  std::vector<Track> tracks_;
  std::vector<Session> sessions_;
};

inline constexpr std::uint32_t kBlockBytes = 2048;

}  // namespace quillion::emu
