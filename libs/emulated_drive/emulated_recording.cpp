// SPDX-License-Identifier: GPL-2.0-or-later
// How the emulated drive records: WRITE at the next writable address only, track at once as
// the write parameters page describes each block, session at once as the cue sheet does,
// RESERVE TRACK, CLOSE TRACK/SESSION and SYNCHRONIZE CACHE (MMC-5 4.2 for CD recording, 6.3,
// 6.31, 6.33, 6.41, 6.44, 7.5). A test write goes through every check and records nothing.
#include <algorithm>

#include "common/byte_order.h"
#include "emulated_drive.h"

namespace quillion::emu {
namespace {

using Reply = EmulatedDrive::Reply;

constexpr std::size_t kLeadInBlockBytes = 96;  // R-W sub-channel of one block
constexpr std::uint8_t kCloseTrack = 1, kCloseSession = 2, kFinalizeDvdPlusRDl = 5,
                       kFinalizeDvdPlusR = 6;

Reply invalidAddress() {
  return EmulatedDrive::check(0x05, 0x21, 0x02);
}
Reply outOfRange() {
  return EmulatedDrive::check(0x05, 0x21, 0x00);
}
Reply illegalMode() {
  return EmulatedDrive::check(0x05, 0x64, 0x00);
}
Reply sequenceError() {
  return EmulatedDrive::check(0x05, 0x2C, 0x00);
}
Reply incompleteTrack() {
  return EmulatedDrive::check(0x05, 0x72, 0x03);
}
Reply invalidField() {
  return EmulatedDrive::check(0x05, 0x24, 0x00);
}

const CueRegion* regionAt(const CueSession& cue, std::int32_t lba) {
  for (const auto& r : cue.regions)
    if (lba >= r.from && lba < r.to) return &r;
  return nullptr;
}

// The first block (index 1) of a track of the cue sheet, and where its first index begins.
std::pair<std::int32_t, std::int32_t> trackBounds(const CueSession& cue, std::uint8_t track) {
  std::int32_t first = 0, start = 0;
  bool seen = false;
  for (const auto& r : cue.regions) {
    if (r.track != track) continue;
    if (!seen) first = r.from;
    seen = true;
    if (r.index == 1) start = r.from;
  }
  return {first, start};
}

}  // namespace

WriteParameters EmulatedDrive::writeParameters() const {
  if (page05_.size() < 16) {
    WriteParameters defaults;  // the drive's defaults: track at once, Mode 1 (emulated_pages.cpp)
    return defaults;
  }
  return WriteParameters::parse(page05_);
}

void EmulatedDrive::forgetWriting() {
  page05_.clear();
  sessionAtOnce_.reset();
  simulatedNext_.reset();
}

EmulatedDrive::Reply EmulatedDrive::write(std::int32_t lba, std::uint32_t blocks,
                                          std::span<const std::uint8_t> out) {
  Medium& m = *medium_;
  if (config_.writable.empty()) return check(0x05, 0x20, 0x00);
  if (!writes(m.profile().code)) return check(0x05, 0x30, 0x05);
  if (m.profile().recording == Recording::ReadOnly) return check(0x07, 0x27, 0x00);
  if (m.profile().kind != MediumKind::CD) {
    if (lba < 0) return outOfRange();
    return writeSequentialBlocks(static_cast<std::uint32_t>(lba), blocks, out);
  }
  if (m.status() == DiscStatus::Complete) return invalidAddress();
  const WriteParameters p = writeParameters();
  return p.writeType == kSessionAtOnce ? writeSessionAtOnce(lba, blocks, out, p)
                                       : writeTrackAtOnce(lba, blocks, out, p);
}

// DVD and BD: 2048-byte blocks, anywhere in the formatted area of a random-writable medium
// (in whole, aligned write units where the medium has them, MMC-5 4.5.4), at the next
// writable address of a sequential one, within a reservation.
EmulatedDrive::Reply EmulatedDrive::writeSequentialBlocks(std::uint32_t lba, std::uint32_t blocks,
                                                          std::span<const std::uint8_t> out) {
  Medium& m = *medium_;
  if (out.size() != std::size_t{blocks} * kBlockBytes) return illegalMode();
  if (std::uint64_t{lba} + blocks > m.capacity()) return outOfRange();
  if (m.profile().recording == Recording::Random) {
    if (!m.formatted()) return check(0x05, 0x30, 0x05);
    if (std::uint64_t{lba} + blocks > m.formattedBlocks()) return outOfRange();
    const std::uint32_t unit = m.profile().writeUnit;
    if (lba % unit != 0 || blocks % unit != 0) return invalidAddress();
  } else {
    if (m.status() == DiscStatus::Complete || lba != m.nextWritable()) return invalidAddress();
    const Track* open = m.openTrack();
    if (open && open->reserved && open->length + blocks > open->reserved) return invalidAddress();
  }
  if (writeParameters().testWrite && m.profile().recording == Recording::Sequential) return Reply{};
  if (blocks && !m.write(lba, blocks, out.data())) return check(0x03, 0x0C, 0x00);
  return Reply{};
}

// CD track at once: the open track goes on at its end; a new track begins at the next track's
// start, its pregap made by the drive. Every block is of the page's data block type.
EmulatedDrive::Reply EmulatedDrive::writeTrackAtOnce(std::int32_t lba, std::uint32_t blocks,
                                                     std::span<const std::uint8_t> out,
                                                     const WriteParameters& p) {
  Medium& m = *medium_;
  const auto block = hostBlockOf(p.dataBlockType);
  if (p.writeType != kTrackAtOnce || !block) return sequenceError();
  const std::size_t size = hostBytes(*block);
  if (out.size() != std::size_t{blocks} * size) return illegalMode();
  const SectorKind kind = recordedKind(*block);
  const Track* open = m.openTrack();
  const std::uint32_t pregap = p.audioTrack() ? p.audioPause : cd::kPregap;
  const std::int64_t realNext = open ? open->start + open->length : m.nextTrackStart(pregap);
  const std::int64_t next = simulatedNext_.value_or(realNext);
  if (lba != next) return invalidAddress();
  if (open && open->kind != kind) return illegalMode();
  if (open && open->reserved && open->length + blocks > open->reserved) return invalidAddress();
  if (lba + std::int64_t{blocks} > m.capacity()) return outOfRange();
  if (p.testWrite) {
    simulatedNext_ = lba + static_cast<std::int32_t>(blocks);
    return Reply{};
  }
  if (!open) {
    Track t{m.nextTrackNumber(),
            m.sessionInProgress(),
            static_cast<std::uint32_t>(lba),
            0,
            kind,
            false};
    const bool firstOfSession = m.tracks().empty() || m.tracks().back().session < t.session;
    t.pregap = firstOfSession ? cd::kPregap : pregap;
    std::vector<RawSector> gap;
    for (std::int32_t at = lba - static_cast<std::int32_t>(t.pregap); at < lba; ++at)
      gap.push_back(emptySector(kind, at));
    if (!m.recordSectors(lba - static_cast<std::int32_t>(t.pregap), gap))
      return check(0x03, 0x0C, 0x00);
    m.addTrack(t);
  }
  std::vector<RawSector> sectors(blocks);
  for (std::uint32_t i = 0; i < blocks; ++i) {
    sectors[i] =
        buildSector(*block, lba + static_cast<std::int32_t>(i), out.subspan(i * size, size));
  }
  if (!m.recordSectors(lba, sectors)) return check(0x03, 0x0C, 0x00);
  m.growOpenTrack(blocks);
  return Reply{};
}

// CD session at once: blocks arrive in order from the first pregap (or from the lead-in when
// the host brings CD-Text), each as the cue sheet's data form for its address says.
EmulatedDrive::Reply EmulatedDrive::writeSessionAtOnce(std::int32_t lba, std::uint32_t blocks,
                                                       std::span<const std::uint8_t> out,
                                                       const WriteParameters& p) {
  if (!sessionAtOnce_) return sequenceError();
  SessionAtOnce& s = *sessionAtOnce_;
  const std::int32_t programStart = s.cue.regions.front().from;
  if (lba < programStart) return writeLeadIn(lba, blocks, out, p.testWrite);
  if (s.leadInNext && *s.leadInNext != programStart)
    return invalidAddress();  // the lead-in was left unfinished
  if (lba != s.next) return invalidAddress();
  std::size_t expected = 0;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    const CueRegion* r = regionAt(s.cue, lba + static_cast<std::int32_t>(i));
    if (!r) return outOfRange();                              // past the lead-out's start
    if (cueHostBytes(r->form) == 0) return invalidAddress();  // the drive makes those itself
    expected += cueHostBytes(r->form);
  }
  if (out.size() != expected) return illegalMode();
  std::vector<RawSector> sectors;
  sectors.reserve(blocks);
  std::size_t at = 0;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    const std::int32_t block = lba + static_cast<std::int32_t>(i);
    const CueRegion* r = regionAt(s.cue, block);
    const std::size_t size = cueHostBytes(r->form);
    sectors.push_back(buildSector(*cueHostBlock(r->form), block, out.subspan(at, size)));
    at += size;
  }
  if (!p.testWrite) recordSessionBlocks(lba, sectors);
  s.next = lba + static_cast<std::int32_t>(blocks);
  passGeneratedBlocks(p.testWrite);
  return Reply{};
}

// The lead-in's R-W sub-channel (CD-Text packs), 96 bytes a block, from the lead-in's start
// up to the first pregap, when the cue sheet's lead-in entry says the host brings it.
EmulatedDrive::Reply EmulatedDrive::writeLeadIn(std::int32_t lba, std::uint32_t blocks,
                                                std::span<const std::uint8_t> out, bool test) {
  SessionAtOnce& s = *sessionAtOnce_;
  const std::int32_t programStart = s.cue.regions.front().from;
  if (!s.cue.leadInText) return invalidAddress();
  if (lba != s.leadInNext.value_or(medium_->leadInStart())) return invalidAddress();
  if (lba + std::int64_t{blocks} > programStart) return invalidAddress();
  if (out.size() != std::size_t{blocks} * kLeadInBlockBytes) return illegalMode();
  if (!test && !medium_->recordLeadIn(out)) return check(0x03, 0x0C, 0x00);
  s.leadInNext = lba + static_cast<std::int32_t>(blocks);
  return Reply{};
}

// Blocks whose data form has the drive make them (silence, empty data sectors) are recorded as
// the writing passes them.
void EmulatedDrive::passGeneratedBlocks(bool test) {
  SessionAtOnce& s = *sessionAtOnce_;
  while (const CueRegion* r = regionAt(s.cue, s.next)) {
    if (cueHostBytes(r->form) != 0) break;
    std::vector<RawSector> sectors;
    for (std::int32_t at = r->from; at < r->to; ++at)
      sectors.push_back(emptySector(cueKind(r->form), at));
    if (!test) recordSessionBlocks(r->from, sectors);
    s.next = r->to;
  }
}

// Records blocks of the session in progress and keeps the medium's tracks in step: a track
// begins with the first block of its first index; its length counts from index 1.
void EmulatedDrive::recordSessionBlocks(std::int32_t lba, const std::vector<RawSector>& sectors) {
  Medium& m = *medium_;
  const CueSession& cue = sessionAtOnce_->cue;
  if (!m.recordSectors(lba, sectors)) return;
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    const std::int32_t block = lba + static_cast<std::int32_t>(i);
    const CueRegion* r = regionAt(cue, block);
    // A block the cue sheet does not cover was refused before it was recorded.
    if (r == nullptr) continue;
    const Track* open = m.openTrack();
    if (!open || open->number != r->track) {
      const auto [first, start] = trackBounds(cue, r->track);
      const CueRegion* one = regionAt(cue, start);
      if (one == nullptr) continue;
      if (open) m.closeTrack();
      Track t{r->track, m.sessionInProgress(), static_cast<std::uint32_t>(std::max(start, 0)),
              0,        cueKind(one->form),    false};
      t.pregap = static_cast<std::uint32_t>(start - first);
      m.addTrack(t);
      open = m.openTrack();
    }
    if (block >= static_cast<std::int32_t>(open->start)) m.growOpenTrack(1);
  }
}

EmulatedDrive::Reply EmulatedDrive::sendCueSheet(std::span<const std::uint8_t> sheet) {
  Medium& m = *medium_;
  const WriteParameters p = writeParameters();
  if (m.profile().kind != MediumKind::CD || p.writeType != kSessionAtOnce) return sequenceError();
  if (!writes(m.profile().code) || m.profile().recording != Recording::Sequential)
    return check(0x05, 0x30, 0x05);
  if (m.status() == DiscStatus::Complete) return invalidAddress();
  // A session begun track by track cannot go on at once.
  if (!m.tracks().empty() && m.tracks().back().session == m.sessionInProgress())
    return sequenceError();
  const std::int32_t firstAddress =
      static_cast<std::int32_t>(m.nextTrackStart()) - static_cast<std::int32_t>(cd::kPregap);
  CueCheck checked = parseCueSheet(sheet, static_cast<std::uint8_t>(m.nextTrackNumber()),
                                   firstAddress, m.capacity());
  if (!checked.session) return check(checked.sense[0], checked.sense[1], checked.sense[2]);
  sessionAtOnce_ = SessionAtOnce{std::move(*checked.session), firstAddress, std::nullopt};
  passGeneratedBlocks(p.testWrite);
  return Reply{};
}

// MMC-5 6.31: a reservation of the given size (ARSV = 0) on the next track, rounded up to the
// ECC block on DVD; only where no track is open.
EmulatedDrive::Reply EmulatedDrive::reserveTrack(std::span<const std::uint8_t> cdb) {
  Medium& m = *medium_;
  if (!writes(m.profile().code) || m.profile().recording != Recording::Sequential)
    return check(0x05, 0x30, 0x05);
  std::uint32_t size = be::get32(cdb, 5);
  if ((cdb[1] & 0x01) || size == 0) return invalidField();
  if (m.status() == DiscStatus::Complete) return invalidAddress();
  if (m.openTrack()) return sequenceError();
  const bool cdMedium = m.profile().kind == MediumKind::CD;
  const WriteParameters p = writeParameters();
  if (cdMedium && p.writeType != kTrackAtOnce) return sequenceError();
  if (!cdMedium) size = (size + 15) / 16 * 16;
  const std::uint32_t pregap = cdMedium && p.audioTrack() ? p.audioPause : cd::kPregap;
  const std::uint32_t start = m.nextTrackStart(pregap);
  if (std::uint64_t{start} + size > m.capacity()) return outOfRange();
  const auto block = hostBlockOf(p.dataBlockType);
  Track t{m.nextTrackNumber(),
          m.sessionInProgress(),
          start,
          0,
          cdMedium && block ? recordedKind(*block) : SectorKind::Mode1,
          false};
  t.reserved = size;
  if (cdMedium)
    t.pregap = m.tracks().empty() || m.tracks().back().session < t.session ? cd::kPregap : pregap;
  m.addTrack(t);
  return Reply{};
}

// MMC-5 6.3 with the close functions each medium takes.
EmulatedDrive::Reply EmulatedDrive::closeTrackSession(std::span<const std::uint8_t> cdb) {
  Medium& m = *medium_;
  const std::uint8_t function = cdb[2] & 0x07;
  const std::uint16_t code = m.profile().code;
  if (m.profile().recording == Recording::Random) {
    // DVD+RW and BD-RE: stopping a background format; nothing runs here.
    return function == 0 || function == kCloseSession ? Reply{} : invalidField();
  }
  if (m.profile().recording != Recording::Sequential || !writes(code)) return invalidField();
  simulatedNext_.reset();
  if (function == kCloseTrack) return closeTrack(be::get16(cdb, 4));
  if (function == kCloseSession) return closeSession(function);
  if ((function == kFinalizeDvdPlusR && code == 0x1B) ||
      (function == kFinalizeDvdPlusRDl && code == 0x2B)) {
    return closeSession(function);
  }
  return invalidField();
}

// An open track is closed: a CD track written at once is padded to 4 seconds (a reserved one
// to its size) and ends with its run-out. An invisible or closed track needs nothing.
EmulatedDrive::Reply EmulatedDrive::closeTrack(std::uint16_t number) {
  Medium& m = *medium_;
  const Track* open = m.openTrack();
  if (!open || open->number != number) {
    return number <= m.nextTrackNumber() ? Reply{} : invalidField();
  }
  if (sessionAtOnce_) return sequenceError();  // a session at once closes as a whole
  const std::uint32_t size =
      std::max(open->reserved, m.profile().kind == MediumKind::CD ? cd::kMinimumTrack : 0u);
  if (open->length < size) {
    const std::uint32_t missing = size - open->length;
    const std::int32_t from = static_cast<std::int32_t>(open->start + open->length);
    if (m.profile().kind == MediumKind::CD) {
      std::vector<RawSector> pad;
      for (std::uint32_t i = 0; i < missing; ++i)
        pad.push_back(emptySector(open->kind, from + static_cast<std::int32_t>(i)));
      if (!m.recordSectors(from, pad)) return check(0x03, 0x0C, 0x00);
      m.growOpenTrack(missing);
    } else {
      const std::vector<std::uint8_t> zeros(std::size_t{missing} * kBlockBytes, 0);
      if (!m.write(static_cast<std::uint32_t>(from), missing, zeros.data()))
        return check(0x03, 0x0C, 0x00);
    }
  }
  m.closeTrack(m.profile().kind == MediumKind::CD ? cd::kRunOut : 0);
  return Reply{};
}

// The session in progress is closed when every track in it is: the disc stays appendable when
// the page's multi-session field allows a next session (DVD+R closes to an appendable disc,
// its finalizing functions to a complete one). An empty session needs nothing.
EmulatedDrive::Reply EmulatedDrive::closeSession(std::uint8_t function) {
  Medium& m = *medium_;
  // MMC-5 4.5.3 (track states): a reserved track whose every block is recorded is complete;
  // its session closes without a CLOSE TRACK first.
  if (const Track* open = m.openTrack();
      !sessionAtOnce_ && open && open->reserved && open->length == open->reserved) {
    m.closeTrack(m.profile().kind == MediumKind::CD ? cd::kRunOut : 0);
  }
  if (sessionAtOnce_ || m.openTrack()) return incompleteTrack();
  if (m.tracks().empty() || m.tracks().back().session < m.sessionInProgress()) return Reply{};
  const WriteParameters p = writeParameters();
  bool nextAllowed = p.nextSessionAllowed();
  if (m.profile().code == 0x1B || m.profile().code == 0x2B) nextAllowed = function == kCloseSession;
  m.closeSession(nextAllowed, m.profile().kind == MediumKind::CD ? p.sessionFormat : 0);
  return Reply{};
}

// MMC-5 6.41: the buffer is always written through here; a session at once whose last block
// arrived is finished (its lead-in and lead-out written) once the host asks for this.
EmulatedDrive::Reply EmulatedDrive::synchronizeCache() {
  medium_->flush();
  if (!sessionAtOnce_ || sessionAtOnce_->next != sessionAtOnce_->cue.leadOut) return Reply{};
  const WriteParameters p = writeParameters();
  sessionAtOnce_.reset();
  if (!p.testWrite) {
    medium_->closeTrack();
    medium_->closeSession(p.nextSessionAllowed(), p.sessionFormat);
  }
  return Reply{};
}

}  // namespace quillion::emu
