// SPDX-License-Identifier: GPL-2.0-or-later
// What the emulated drive answers to each command, field by field as the standards lay it out
// (clause beside each builder). Length fields always describe all the data there is; the
// transfer is cut to the allocation length afterwards.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cd_sector.h"
#include "common/byte_order.h"
#include "emulated_drive.h"

namespace quillion::emu {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putText(Bytes& b, std::size_t at, std::size_t width, const std::string& text) {
  for (std::size_t i = 0; i < width; ++i)
    b[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

// LBA to MSF with the 2-second offset (MMC-5 4.2.3.3).
void putMsf(Bytes& b, std::size_t at, std::uint32_t lba) {
  const std::uint32_t f = lba + 150;
  b[at] = 0;
  b[at + 1] = static_cast<std::uint8_t>(f / 4500);
  b[at + 2] = static_cast<std::uint8_t>(f / 75 % 60);
  b[at + 3] = static_cast<std::uint8_t>(f % 75);
}

void putAddress(Bytes& b, std::size_t at, std::uint32_t lba, bool msf) {
  if (msf) {
    putMsf(b, at, lba);
  } else {
    be::put32(b, at, lba);
  }
}

std::uint8_t interfaceStandard(const std::string& text) {
  if (text.starts_with("USB")) return 0x08;
  if (text == "SCSI") return 0x01;
  if (text == "FireWire") return 0x03;
  return 0x02;  // ATAPI (also SATA drives, which speak ATAPI)
}

}  // namespace

// SPC-3 6.4.2 standard INQUIRY data; 6.4.4 VPD pages 00h and 80h.
EmulatedDrive::Reply EmulatedDrive::inquiry(std::span<const std::uint8_t> cdb) const {
  const std::uint32_t allocation = be::get16(cdb, 3);
  if (cdb[1] & 0x01) {
    if (cdb[2] == 0x00)
      return EmulatedDrive::data({0x05, 0x00, 0x00, 0x02, 0x00, 0x80}, allocation);
    if (cdb[2] == 0x80) {
      Bytes b(4 + 8, 0);
      b[0] = 0x05;
      b[1] = 0x80;
      b[3] = 8;
      putText(b, 4, 8, config_.name);
      return EmulatedDrive::data(b, allocation);
    }
    return check(0x05, 0x24, 0x00);
  }
  if (cdb[2] != 0) return check(0x05, 0x24, 0x00);
  Bytes b(96, 0);
  b[0] = 0x05;  // CD/DVD device
  b[1] = 0x80;  // removable medium
  b[2] = 0x05;  // SPC-3
  b[3] = 0x02;  // response data format
  b[4] = 96 - 5;
  putText(b, 8, 8, config_.vendor);
  putText(b, 16, 16, config_.product);
  putText(b, 32, 4, config_.revision);
  return EmulatedDrive::data(b, allocation);
}

// SPC-3 6.27: the sense of the last command, or what the unit would report now.
EmulatedDrive::Reply EmulatedDrive::requestSense(std::span<const std::uint8_t> cdb) const {
  Bytes b(18, 0);
  b[0] = 0x70;
  b[7] = 10;
  if (!medium_) {
    b[2] = 0x02;
    b[12] = 0x3A;
    b[13] = trayOpen_ ? 0x02 : 0x01;
  } else if (longOperation_ && engineClock().now() < longOperation_->end) {
    // SPC-3 4.5.2.4.4: progress indication in the sense-key specific bytes, in 65,536ths.
    const auto done = engineClock().now() - longOperation_->start;
    const auto whole = longOperation_->end - longOperation_->start;
    const auto progress = static_cast<std::uint32_t>(done.count() * 65'536 / whole.count());
    b[2] = 0x02;
    b[12] = 0x04;
    b[13] = longOperation_->ascq;
    b[15] = 0x80;  // SKSV
    b[16] = static_cast<std::uint8_t>(progress >> 8);
    b[17] = static_cast<std::uint8_t>(progress);
  } else if (engineClock().now() < readyAt_) {
    b[2] = 0x02;
    b[12] = 0x04;
    b[13] = 0x01;
  }
  return EmulatedDrive::data(b, cdb[4]);
}

// MMC-5 6.40: LoEj/Start; an eject under PREVENT is refused.
EmulatedDrive::Reply EmulatedDrive::startStop(std::span<const std::uint8_t> cdb) {
  const std::uint8_t loEjStart = cdb[4] & 0x03;
  if (loEjStart == 0x02) {
    if (prevent_) return check(0x05, 0x53, 0x02);
    if (medium_) medium_->flush();
    std::optional<Medium> out;
    out.swap(medium_);
    forgetWriting();
    trayOpen_ = true;
    mounted_ = false;
    pendingMediaEvent_ = 3;
    if (out) parked_ = std::move(out);
    raise(DriveEvent::MediumChanged);
  } else if (loEjStart == 0x03 && trayOpen_) {
    trayOpen_ = false;
    if (parked_) {
      medium_ = std::move(parked_);
      parked_.reset();
      pendingMediaEvent_ = 2;
      readyAt_ = engineClock().now() + config_.spinUp;
      raise(DriveEvent::MediumChanged);
    }
  }
  return Reply{};
}

// MMC-5 6.24.3: capacity list header, current/maximum descriptor, formattable descriptors.
EmulatedDrive::Reply EmulatedDrive::readFormatCapacities(std::span<const std::uint8_t> cdb) const {
  Bytes b(12, 0);
  if (!medium_) {
    b[3] = 8;
    be::put32(b, 4, 0xFFFFFFFF);
    b[8] = 0x03;  // no medium
    be::put24(b, 9, kBlockBytes);
    return EmulatedDrive::data(b, be::get16(cdb, 7));
  }
  const Medium& m = *medium_;
  const bool random = m.profile().recording == Recording::Random;
  be::put32(b, 4, random && m.formatted() ? m.formattedBlocks() : m.capacity());
  b[8] = random && !m.formatted() ? 0x01 : 0x02;
  if (!random && m.status() == DiscStatus::Blank) b[8] = 0x01;
  be::put24(b, 9, kBlockBytes);
  // Formattable capacity descriptors (6.24.3.3): the drive's format types for the medium.
  for (const FormatType& f : formatTypes()) {
    const std::uint32_t blocks = f.profile == m.profile().code ? m.formatCapacity(f) : 0;
    if (!f.listed || blocks == 0) continue;
    const std::size_t at = b.size();
    b.resize(at + 8);
    be::put32(b, at, blocks);
    b[at + 4] = static_cast<std::uint8_t>(f.type << 2);
    be::put24(b, at + 5, f.parameter);
  }
  b[3] = static_cast<std::uint8_t>(b.size() - 4);
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// MMC-5 6.23: last logical block and block length.
EmulatedDrive::Reply EmulatedDrive::readCapacity() const {
  const Medium& m = *medium_;
  const bool random = m.profile().recording == Recording::Random && m.formatted();
  const std::uint32_t end = random ? m.formattedBlocks() : m.recordedEnd();
  Bytes b(8, 0);
  be::put32(b, 0, end ? end - 1 : 0);
  be::put32(b, 4, kBlockBytes);
  return EmulatedDrive::data(b, 8);
}

// MMC-5 6.15/6.16: user data of recorded blocks; unrecorded ones are out of range, and blocks
// without 2048 bytes of user data (audio, formless Mode 2, Form 2) are of the wrong mode.
EmulatedDrive::Reply EmulatedDrive::read(std::span<const std::uint8_t>, std::uint32_t lba,
                                         std::uint32_t blocks) const {
  const Medium& m = *medium_;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    if (!m.isRecorded(lba + i)) {
      Reply r = check(0x05, 0x21, 0x00);
      r.information = lba + i;
      return r;
    }
  }
  Bytes b(std::size_t{blocks} * kBlockBytes);
  if (!m.read(lba, blocks, b.data())) return check(0x05, 0x64, 0x00);
  const auto n = static_cast<std::uint32_t>(b.size());
  return EmulatedDrive::data(std::move(b), n);
}

// MMC-5 6.19: READ CD of recorded sectors, with the fields of byte 9 (sync, header, subheader,
// user data, EDC/ECC) in their sector order; of an audio sector only the user data. The
// expected sector type must match; a selection with a gap in it, C2 information or sub-channel
// data is refused.
EmulatedDrive::Reply EmulatedDrive::readCd(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const std::uint8_t expected = (cdb[1] >> 2) & 0x07;
  if (m.profile().kind != MediumKind::CD) return check(0x05, 0x64, 0x00);
  const std::uint8_t fields = cdb[9];
  if ((fields & 0x06) || (cdb.size() > 10 && cdb[10] != 0)) return check(0x05, 0x24, 0x00);
  const std::uint32_t lba = be::get32(cdb, 2);
  const std::uint32_t count = be::get24(cdb, 6);
  Bytes out;
  RawSector sector{};
  for (std::uint32_t i = 0; i < count; ++i) {
    const Track* t = m.trackAt(lba + i);
    if (!t) {
      Reply r = check(0x05, 0x21, 0x00);
      r.information = lba + i;
      return r;
    }
    if (!m.readSector(static_cast<std::int32_t>(lba + i), sector)) return check(0x03, 0x11, 0x00);
    const SectorFields f = sectorFields(t->kind, sector);
    const bool xa = t->kind == SectorKind::Mode2Form1 || t->kind == SectorKind::Mode2Form2;
    const std::uint8_t type = t->kind == SectorKind::Audio   ? 1
                              : t->kind == SectorKind::Mode1 ? 2
                              : !xa                          ? 3
                              : f.userEnd == 2072            ? 4
                                                             : 5;
    if (expected != 0 && expected != type) return check(0x05, 0x64, 0x00);
    if (t->audio()) {
      if (fields & 0x10) out.insert(out.end(), sector.begin(), sector.end());
      continue;
    }
    // Sync, header, subheader, user data, EDC/ECC: the selected ones must follow each other.
    const std::size_t bounds[6] = {0, f.syncEnd, f.headerEnd, f.subheaderEnd, f.userEnd, f.edcEnd};
    const bool selected[5] = {(fields & 0x80) != 0, (fields & 0x20) != 0, (fields & 0x40) != 0,
                              (fields & 0x10) != 0, (fields & 0x08) != 0};
    std::size_t from = 0, to = 0;
    bool any = false;
    for (int k = 0; k < 5; ++k) {
      if (!selected[k] || bounds[k] == bounds[k + 1]) continue;
      if (any && bounds[k] != to) return check(0x05, 0x24, 0x00);
      if (!any) from = bounds[k];
      to = bounds[k + 1];
      any = true;
    }
    out.insert(out.end(), sector.begin() + static_cast<std::ptrdiff_t>(from),
               sector.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const auto n = static_cast<std::uint32_t>(out.size());
  return EmulatedDrive::data(std::move(out), n);
}

// The 18-byte packs a host wrote into the lead-in: each 96-byte R-W block holds four packs,
// every 3 bytes of a pack in the low 6 bits of 4 bytes (Red Book R-W sub-channel, mode 4). The
// packs repeat through the lead-in; one cycle is answered, up to where the first pack recurs.
static Bytes leadInPacks(const Medium& m) {
  std::ifstream in(m.folder() / "leadin-cdtext.raw", std::ios::binary);
  const Bytes raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  constexpr std::size_t kPack = 18, kMaxPacks = 2048;
  Bytes packs;
  for (std::size_t i = 0; i + 4 <= raw.size() && packs.size() < kMaxPacks * kPack; i += 4) {
    packs.push_back(static_cast<std::uint8_t>((raw[i] & 0x3F) << 2 | (raw[i + 1] & 0x3F) >> 4));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 1] & 0x0F) << 4 | (raw[i + 2] & 0x3F) >> 2));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 2] & 0x03) << 6 | (raw[i + 3] & 0x3F)));
    const std::size_t whole = packs.size() / kPack;
    if (packs.size() % kPack == 0 && whole > 1 &&
        std::equal(packs.end() - kPack, packs.end(), packs.begin())) {
      packs.resize(packs.size() - kPack);
      break;
    }
  }
  packs.resize(packs.size() / kPack * kPack);
  return packs;
}

// MMC-5 6.26: formats 0 (TOC), 1 (session information) and, for CD, 2 (full TOC) and 5
// (CD-Text). A CD's TOC holds the tracks of its closed sessions (what is in the PMA only is
// not in it); other media list their tracks.
EmulatedDrive::Reply EmulatedDrive::readToc(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const bool msf = (cdb[1] & 0x02) != 0;
  const std::uint8_t format = cdb[2] & 0x0F;
  const std::uint32_t allocation = be::get16(cdb, 7);
  if (format == 4) return atip(allocation);
  const bool cd = m.profile().kind == MediumKind::CD;
  std::vector<Track> tracks;
  for (const auto& t : m.tracks())
    if (!cd || t.session <= m.sessions().size()) tracks.push_back(t);
  if (tracks.empty()) return check(0x05, 0x24, 0x00);
  const auto control = [](const Track& t) -> std::uint8_t { return t.audio() ? 0x10 : 0x14; };
  const std::uint32_t leadOut = cd ? m.sessions().back().leadOut : m.recordedEnd();
  Bytes b(4, 0);
  const auto descriptor = [&](std::uint8_t adrControl, std::uint8_t number, std::uint32_t lba) {
    const std::size_t at = b.size();
    b.resize(at + 8);
    b[at + 1] = adrControl;
    b[at + 2] = number;
    putAddress(b, at + 4, lba, msf);
  };
  if (format == 0) {
    const std::uint8_t from = std::max<std::uint8_t>(cdb[6], 1);
    for (const auto& t : tracks)
      if (t.number >= from) descriptor(control(t), static_cast<std::uint8_t>(t.number), t.start);
    descriptor(control(tracks.back()), 0xAA, leadOut);
    b[2] = static_cast<std::uint8_t>(tracks.front().number);
    b[3] = static_cast<std::uint8_t>(tracks.back().number);
  } else if (format == 1) {
    const std::uint32_t last = tracks.back().session;
    const auto first = std::find_if(tracks.begin(), tracks.end(),
                                    [&](const Track& t) { return t.session == last; });
    descriptor(control(*first), static_cast<std::uint8_t>(first->number), first->start);
    b[2] = 1;
    b[3] = static_cast<std::uint8_t>(last);
  } else if (format == 2 && cd) {
    // Q sub-channel points of every session's lead-in: A0 first track and disc type, A1 last
    // track, A2 lead-out, the tracks, and B0 where a next session may follow (ADR 5).
    Bytes time(4);
    const auto point = [&](std::uint8_t session, std::uint8_t adrControl, std::uint8_t p,
                           std::uint8_t pmin, std::uint8_t psec, std::uint8_t pframe) {
      const std::size_t at = b.size();
      b.resize(at + 11);
      b[at] = session;
      b[at + 1] = adrControl;
      b[at + 3] = p;
      b[at + 8] = pmin;
      b[at + 9] = psec;
      b[at + 10] = pframe;
    };
    for (const Session& s : m.sessions()) {
      const auto n = static_cast<std::uint8_t>(s.number);
      std::vector<const Track*> own;
      for (const auto& t : tracks)
        if (t.session == s.number) own.push_back(&t);
      if (own.empty()) continue;
      point(n, control(*own.front()), 0xA0, static_cast<std::uint8_t>(own.front()->number),
            s.format, 0);
      point(n, control(*own.back()), 0xA1, static_cast<std::uint8_t>(own.back()->number), 0, 0);
      putMsf(time, 0, s.leadOut);
      point(n, control(*own.back()), 0xA2, time[1], time[2], time[3]);
      for (const Track* t : own) {
        putMsf(time, 0, t->start);
        point(n, control(*t), static_cast<std::uint8_t>(t->number), time[1], time[2], time[3]);
      }
      if (&s == &m.sessions().back() && m.status() == DiscStatus::Appendable) {
        putMsf(time, 0, m.capacity());
        point(n, 0x54, 0xB0, time[1], time[2], time[3]);
        putMsf(time, 0, m.nextTrackStart());
        const std::size_t at = b.size() - 11;
        b[at + 4] = time[1];
        b[at + 5] = time[2];
        b[at + 6] = time[3];
        b[at + 7] = 1;  // one mode-5 pointer in this lead-in
      }
    }
    b[2] = 1;
    b[3] = static_cast<std::uint8_t>(m.sessions().back().number);
  } else if (format == 5 && cd) {
    // MMC-5 6.26.3.7: the lead-in's CD-Text packs after the header; without any, the header
    // alone with data length 2.
    const Bytes packs = leadInPacks(m);
    b.insert(b.end(), packs.begin(), packs.end());
  } else {
    return check(0x05, 0x24, 0x00);
  }
  be::put16(b, 0, static_cast<std::uint32_t>(b.size() - 2));
  return EmulatedDrive::data(b, allocation);
}

// MMC-5 6.26.3.6: the ATIP of recordable CD media: disc type and sub-type, the start of the
// lead-in and the last possible start of the lead-out.
EmulatedDrive::Reply EmulatedDrive::atip(std::uint32_t allocation) const {
  const Medium& m = *medium_;
  if (m.profile().kind != MediumKind::CD || m.profile().recording == Recording::ReadOnly) {
    return check(0x05, 0x24, 0x00);
  }
  Bytes b(28, 0);
  be::put16(b, 0, 26);
  b[4] = 0x50;  // indicative target writing power 5
  b[5] = 0x40;  // unrestricted use
  // Byte 6: disc type (bit 6), disc sub-type (bits 5-3), A1 valid (bit 2).
  const Medium::AtipSpeeds& speeds = m.atipSpeeds();
  b[6] = static_cast<std::uint8_t>(0x80 | (m.profile().erasable ? 0x40 : 0) | speeds.subType << 3 |
                                   (speeds.a1 ? 0x04 : 0));
  if (speeds.a1) b[16] = *speeds.a1;  // A1 values, bytes 16-18
  b[8] = 97;  // lead-in start 97:26:66, an 80-minute disc
  b[9] = 26;
  b[10] = 66;
  Bytes msf(4);
  putMsf(msf, 0, m.capacity());
  b[12] = msf[1];
  b[13] = msf[2];
  b[14] = msf[3];
  return EmulatedDrive::data(b, allocation);
}

// MMC-5 6.6 with the features of 5.3: profile list, core, removable medium, random readable.
EmulatedDrive::Reply EmulatedDrive::getConfiguration(std::span<const std::uint8_t> cdb) const {
  const std::uint8_t rt = cdb[1] & 0x03;
  const std::uint16_t start = be::get16(cdb, 2);
  const std::uint16_t current = medium_ ? medium_->profile().code : 0;
  Bytes b(8, 0);
  be::put16(b, 6, current);
  const auto feature = [&](std::uint16_t code, bool isCurrent, std::uint8_t version,
                           const Bytes& body) {
    if (code < start || (rt == 1 && !isCurrent) || (rt == 2 && code != start)) return;
    const std::size_t at = b.size();
    b.resize(at + 4);
    be::put16(b, at, code);
    b[at + 2] = static_cast<std::uint8_t>(version << 2 | 0x02 /*persistent*/ | (isCurrent ? 1 : 0));
    b[at + 3] = static_cast<std::uint8_t>(body.size());
    b.insert(b.end(), body.begin(), body.end());
  };
  Bytes profiles;
  std::vector<std::uint16_t> all = config_.readable;
  std::sort(all.rbegin(), all.rend());
  for (std::uint16_t p : all) {
    profiles.push_back(static_cast<std::uint8_t>(p >> 8));
    profiles.push_back(static_cast<std::uint8_t>(p));
    profiles.push_back(p == current ? 1 : 0);
    profiles.push_back(0);
  }
  feature(0x0000, true, 0, profiles);
  feature(0x0001, true, 2, {0, 0, 0, interfaceStandard(config_.interfaceText), 0x01, 0, 0, 0});
  feature(0x0003, true, 0, {0x29 /*tray, eject, lock*/, 0, 0, 0});
  feature(0x0010, medium_.has_value(), 0, {0, 0, 0x08, 0x00, 0, 0x01, 0, 0});
  // MMC-5 5.3.39 BD Write: reported by drives that write BD-R or BD-RE.
  const bool writesBd = std::any_of(config_.writable.begin(), config_.writable.end(),
                                    [](std::uint16_t p) { return p >= 0x41 && p <= 0x43; });
  if (writesBd) feature(0x0041, current >= 0x41 && current <= 0x43, 0, Bytes(20, 0));
  be::put32(b, 0, static_cast<std::uint32_t>(b.size() - 4));
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// MMC-5 6.7: polled operation only; the media class reports new media or removal once.
EmulatedDrive::Reply EmulatedDrive::eventStatus(std::span<const std::uint8_t> cdb) {
  if (!(cdb[1] & 0x01)) return check(0x05, 0x24, 0x00);
  Bytes b(4, 0);
  b[3] = 0x10;  // media class supported
  if (!(cdb[4] & 0x10)) {
    b[2] = 0x80;  // no event available
    be::put16(b, 0, 2);
    return EmulatedDrive::data(b, be::get16(cdb, 7));
  }
  b[2] = 0x04;
  b.resize(8);
  b[4] = pendingMediaEvent_;
  b[5] = static_cast<std::uint8_t>((medium_ ? 0x02 : 0) | (trayOpen_ ? 0x01 : 0));
  pendingMediaEvent_ = 0;
  be::put16(b, 0, 6);
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// MMC-5 6.22.3: disc information block (data type 000b). The last session is the one in
// progress: empty on a blank or appendable disc, incomplete while tracks are being added.
EmulatedDrive::Reply EmulatedDrive::discInfo(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const bool cd = m.profile().kind == MediumKind::CD;
  const std::uint32_t closedSessions = static_cast<std::uint32_t>(m.sessions().size());
  const bool complete = m.status() == DiscStatus::Complete;
  const bool sessionOpen = !m.tracks().empty() && m.tracks().back().session > closedSessions;
  Bytes b(34, 0);
  be::put16(b, 0, 0x0020);
  const std::uint8_t sessionState = complete ? 3 : sessionOpen ? 1 : 0;
  b[2] = static_cast<std::uint8_t>((m.profile().erasable ? 0x10 : 0) | sessionState << 2 |
                                   static_cast<std::uint8_t>(m.status()));
  b[3] = 1;
  const std::uint32_t sessions = complete ? std::max(closedSessions, 1u) : closedSessions + 1;
  std::uint32_t firstInLast = m.nextTrackNumber(), lastInLast = m.nextTrackNumber();
  // A complete disc described without tracks (a medium.json written by hand) has none to name.
  if ((complete || sessionOpen) && !m.tracks().empty()) {
    for (const auto& t : m.tracks()) {
      if (t.session != (complete ? m.tracks().back().session : closedSessions + 1)) continue;
      firstInLast = std::min(firstInLast, t.number);
    }
    // While the session is open the invisible track after a closed one counts too.
    lastInLast = complete || m.openTrack() ? m.tracks().back().number : m.nextTrackNumber();
  }
  if (!cd && !complete && m.profile().recording != Recording::Sequential)
    firstInLast = lastInLast = 1;
  b[4] = static_cast<std::uint8_t>(sessions);
  b[9] = static_cast<std::uint8_t>(sessions >> 8);
  b[5] = static_cast<std::uint8_t>(firstInLast);
  b[10] = static_cast<std::uint8_t>(firstInLast >> 8);
  b[6] = static_cast<std::uint8_t>(lastInLast);
  b[11] = static_cast<std::uint8_t>(lastInLast >> 8);
  b[7] = 0x20;  // unrestricted use
  b[8] = cd && !m.sessions().empty() ? m.sessions().front().format : 0;
  if (cd && !complete && m.profile().recording == Recording::Sequential) {
    // Lead-in of the session in progress and the last possible start of a lead-out, as MSF.
    const std::int32_t leadIn = m.leadInStart();
    const std::uint32_t frames =
        static_cast<std::uint32_t>(leadIn < -150 ? leadIn + 150 + 450'000 : leadIn + 150);
    b[17] = static_cast<std::uint8_t>(frames / 4500);
    b[18] = static_cast<std::uint8_t>(frames / 75 % 60);
    b[19] = static_cast<std::uint8_t>(frames % 75);
    putMsf(b, 20, m.capacity());
  } else {
    be::put32(b, 16, 0xFFFFFFFF);
    be::put32(b, 20, 0xFFFFFFFF);
  }
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}

// MMC-5 6.27.3: track information block, 002Eh bytes of data, by track number (FFh: the
// incomplete or invisible track), by LBA or by session (its first track). A random-writable
// disc never formatted still has its one track: blank, from block 0 over the whole capacity,
// all of it free (what drives answer for a blank DVD+RW).
EmulatedDrive::Reply EmulatedDrive::trackInfo(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const std::uint8_t type = cdb[1] & 0x03;
  const std::uint32_t address = be::get32(cdb, 2);
  const auto& tracks = m.tracks();
  const bool sequential = m.profile().recording == Recording::Sequential;
  const bool cd = m.profile().kind == MediumKind::CD;
  const bool unformatted = m.profile().recording == Recording::Random && tracks.empty();
  const bool hasInvisible =
      (sequential && m.status() != DiscStatus::Complete && !m.openTrack()) || unformatted;
  const std::uint32_t invisibleNumber = m.nextTrackNumber();
  const WriteParameters p = writeParameters();
  const std::uint32_t pregap = cd && p.audioTrack() ? p.audioPause : cd::kPregap;
  const std::uint32_t invisibleStart = m.nextTrackStart(pregap);

  const Track* t = nullptr;
  bool invisible = false;
  if (type == 1) {
    if (address == 0xFF) {
      t = m.openTrack();
      invisible = !t && hasInvisible;
    } else if (hasInvisible && address == invisibleNumber) {
      invisible = true;
    } else {
      for (const auto& k : tracks)
        if (k.number == address) t = &k;
    }
  } else if (type == 0) {
    for (const auto& k : tracks)
      if (address >= k.start && address < k.end()) t = &k;
    if (!t && hasInvisible && address >= invisibleStart) invisible = true;
  } else if (type == 2) {
    for (const auto& k : tracks)
      if (k.session == address && !t) t = &k;
    if (!t && hasInvisible && address == m.sessionInProgress()) invisible = true;
  } else {
    return check(0x05, 0x24, 0x00);
  }
  if (!t && !invisible) return check(0x05, 0x24, 0x00);

  Bytes b(48, 0);
  be::put16(b, 0, 0x002E);
  const std::uint32_t number = t ? t->number : invisibleNumber;
  const std::uint32_t session = t ? t->session : m.sessionInProgress();
  b[2] = static_cast<std::uint8_t>(number);
  b[32] = static_cast<std::uint8_t>(number >> 8);
  b[3] = static_cast<std::uint8_t>(session);
  b[33] = static_cast<std::uint8_t>(session >> 8);
  const bool audio = t ? t->audio() : cd && p.audioTrack();
  b[5] = audio ? 0x00 : 0x04;  // track mode (the Q control nibble)
  const bool open = invisible || !t->closed;
  const bool reserved = t && t->reserved;
  const std::uint8_t dataMode = audio || invisible             ? 0x0F
                                : t->kind == SectorKind::Mode1 ? 0x01
                                                               : 0x02;
  b[6] = static_cast<std::uint8_t>((reserved ? 0x80 : 0) |
                                   (invisible || (t && t->length == 0) ? 0x40 : 0) | dataMode);
  const std::uint32_t start = t ? t->start : invisibleStart;
  const std::uint32_t nwa = t ? t->start + t->length : invisibleStart;
  const std::uint32_t capacity = m.capacity();
  if (open && sequential) b[7] = 0x01;  // NWA valid
  if (t && t->length) b[7] |= 0x02;     // last recorded address valid
  be::put32(b, 8, start);
  be::put32(b, 12, open ? nwa : 0);
  be::put32(b, 16,
            !open            ? 0
            : reserved       ? t->reserved - t->length
            : capacity > nwa ? capacity - nwa
                             : 0);
  const std::uint32_t size =
      t ? (t->closed ? t->end() - t->start : std::max(t->reserved, t->length))
        : (capacity > start ? capacity - start : 0);
  be::put32(b, 24, size);
  be::put32(b, 28, t && t->length ? t->start + t->length - 1 : 0);
  return EmulatedDrive::data(b, be::get16(cdb, 7));
}
}  // namespace quillion::emu
