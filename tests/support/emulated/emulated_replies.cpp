// SPDX-License-Identifier: GPL-2.0-or-later
// What the emulated drive answers to each command, field by field as the standards lay it out
// (clause beside each builder). Length fields always describe all the data there is; the
// transfer is cut to the allocation length afterwards.
#include <algorithm>
#include <cstring>

#include "device/byte_order.h"
#include "cd_sector.h"
#include "emulated_drive.h"

namespace quillion::emu {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putText(Bytes& b, std::size_t at, std::size_t width, const std::string& text) {
  for (std::size_t i = 0; i < width; ++i) b[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

EmulatedDrive::Reply data(Bytes bytes, std::uint32_t allocation) {
  EmulatedDrive::Reply r;
  r.dataIn = std::move(bytes);
  r.allocation = allocation;
  return r;
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
    if (cdb[2] == 0x00) return data({0x05, 0x00, 0x00, 0x02, 0x00, 0x80}, allocation);
    if (cdb[2] == 0x80) {
      Bytes b(4 + 8, 0);
      b[0] = 0x05;
      b[1] = 0x80;
      b[3] = 8;
      putText(b, 4, 8, config_.name);
      return data(b, allocation);
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
  return data(b, allocation);
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
  } else if (engineClock().now() < readyAt_) {
    b[2] = 0x02;
    b[12] = 0x04;
    b[13] = 0x01;
  }
  return data(b, cdb[4]);
}

// MMC-5 6.40: LoEj/Start; an eject under PREVENT is refused.
EmulatedDrive::Reply EmulatedDrive::startStop(std::span<const std::uint8_t> cdb) {
  const std::uint8_t loEjStart = cdb[4] & 0x03;
  if (loEjStart == 0x02) {
    if (prevent_) return check(0x05, 0x53, 0x02);
    std::optional<Medium> out;
    out.swap(medium_);
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
    return data(b, be::get16(cdb, 7));
  }
  const Medium& m = *medium_;
  const bool random = m.profile().recording == Recording::Random;
  be::put32(b, 4, m.capacity());
  b[8] = random && !m.formatted() ? 0x01 : 0x02;
  if (!random && m.status() == DiscStatus::Blank) b[8] = 0x01;
  be::put24(b, 9, kBlockBytes);
  const auto addFormattable = [&](std::uint8_t type, std::uint32_t blocks, std::uint32_t parameter) {
    const std::size_t at = b.size();
    b.resize(at + 8);
    be::put32(b, at, blocks);
    b[at + 4] = static_cast<std::uint8_t>(type << 2);
    be::put24(b, at + 5, parameter);
  };
  if (m.profile().code == 0x1A) addFormattable(0x26, m.capacity(), 0);
  if (m.profile().code == 0x43) addFormattable(0x30, m.capacity(), 0);
  b[3] = static_cast<std::uint8_t>(b.size() - 4);
  return data(b, be::get16(cdb, 7));
}

// MMC-5 6.23: last logical block and block length.
EmulatedDrive::Reply EmulatedDrive::readCapacity() const {
  const Medium& m = *medium_;
  const bool random = m.profile().recording == Recording::Random && m.formatted();
  const std::uint32_t end = random ? m.capacity() : m.recordedEnd();
  Bytes b(8, 0);
  be::put32(b, 0, end ? end - 1 : 0);
  be::put32(b, 4, kBlockBytes);
  return data(b, 8);
}

// MMC-5 6.15/6.16: user data of recorded blocks; unrecorded ones are out of range.
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
  if (!m.read(lba, blocks, b.data())) return check(0x03, 0x11, 0x00);
  const auto n = static_cast<std::uint32_t>(b.size());
  return data(std::move(b), n);
}

// MMC-5 6.19: READ CD of the Mode 1 sectors the drive recorded, with the fields of byte 9
// (sync, header, user data, EDC/ECC) in their sector order; a selection with a gap in it, C2
// information or sub-channel data is refused.
EmulatedDrive::Reply EmulatedDrive::readCd(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const std::uint8_t expected = (cdb[1] >> 2) & 0x07;
  if (m.profile().kind != MediumKind::CD || (expected != 0 && expected != 2)) return check(0x05, 0x64, 0x00);
  const std::uint8_t fields = cdb[9];
  const bool sync = fields & 0x80, header = (fields & 0x60) == 0x20 || (fields & 0x60) == 0x60,
             user = fields & 0x10, edc = fields & 0x08;
  const bool gap = (sync && !header) || (header && edc && !user) || (sync && edc && !user);
  if (gap || (fields & 0x06) || (cdb.size() > 10 && cdb[10] != 0)) return check(0x05, 0x24, 0x00);
  const std::uint32_t lba = be::get32(cdb, 2);
  const std::uint32_t count = be::get24(cdb, 6);
  const std::size_t from = sync ? 0 : header ? 12 : user ? 16 : 2064;
  const std::size_t to = edc ? kRawSectorBytes : user ? 2064 : header ? 16 : sync ? 12 : from;
  Bytes out;
  out.reserve(std::size_t{count} * (to - from));
  std::array<std::uint8_t, kBlockBytes> block{};
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!m.isRecorded(lba + i)) {
      Reply r = check(0x05, 0x21, 0x00);
      r.information = lba + i;
      return r;
    }
    if (!m.read(lba + i, 1, block.data())) return check(0x03, 0x11, 0x00);
    const RawSector sector = mode1Sector(static_cast<std::int32_t>(lba + i), block);
    out.insert(out.end(), sector.begin() + static_cast<std::ptrdiff_t>(from),
               sector.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const auto n = static_cast<std::uint32_t>(out.size());
  return data(std::move(out), n);
}

// MMC-5 6.44 with the write rules of 4.3 (sequential at the next writable address, random
// within the formatted capacity).
EmulatedDrive::Reply EmulatedDrive::write(std::uint32_t lba, std::uint32_t blocks, std::span<const std::uint8_t> out) {
  Medium& m = *medium_;
  if (config_.writable.empty()) return check(0x05, 0x20, 0x00);
  if (!writes(m.profile().code)) return check(0x05, 0x30, 0x05);
  if (m.profile().recording == Recording::ReadOnly) return check(0x07, 0x27, 0x00);
  if (out.size() != std::size_t{blocks} * kBlockBytes) return check(0x05, 0x64, 0x00);
  if (std::uint64_t{lba} + blocks > m.capacity()) return check(0x05, 0x21, 0x00);
  if (m.profile().recording == Recording::Random) {
    if (!m.formatted()) return check(0x05, 0x30, 0x05);
  } else {
    if (m.status() == DiscStatus::Complete) return check(0x05, 0x21, 0x02);
    if (lba != m.nextWritable()) return check(0x05, 0x21, 0x02);
  }
  if (blocks && !m.write(lba, blocks, out.data())) return check(0x03, 0x0C, 0x00);
  return Reply{};
}

// MMC-5 6.26: formats 0 (TOC), 1 (session information) and, for CD, 2 (full TOC).
EmulatedDrive::Reply EmulatedDrive::readToc(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const bool msf = (cdb[1] & 0x02) != 0;
  const std::uint8_t format = cdb[2] & 0x0F;
  const std::uint32_t allocation = be::get16(cdb, 7);
  if (format == 4) return atip(allocation);
  const auto& tracks = m.tracks();
  if (tracks.empty()) return check(0x05, 0x24, 0x00);
  const std::uint8_t lastTrack = static_cast<std::uint8_t>(tracks.back().number);
  const std::uint32_t leadOut = m.recordedEnd();
  Bytes b(4, 0);
  const auto descriptor = [&](std::uint8_t control, std::uint8_t number, std::uint32_t lba) {
    const std::size_t at = b.size();
    b.resize(at + 8);
    b[at + 1] = control;
    b[at + 2] = number;
    putAddress(b, at + 4, lba, msf);
  };
  if (format == 0) {
    const std::uint8_t from = std::max<std::uint8_t>(cdb[6], 1);
    for (const auto& t : tracks)
      if (t.number >= from) descriptor(t.audio ? 0x10 : 0x14, static_cast<std::uint8_t>(t.number), t.start);
    descriptor(0x14, 0xAA, leadOut);
    b[2] = 1;
    b[3] = lastTrack;
  } else if (format == 1) {
    descriptor(0x14, 1, tracks.front().start);
    b[2] = 1;
    b[3] = static_cast<std::uint8_t>(tracks.back().session);
  } else if (format == 2 && m.profile().kind == MediumKind::CD) {
    const auto point = [&](std::uint8_t p, std::uint8_t pmin, std::uint8_t psec, std::uint8_t pframe) {
      const std::size_t at = b.size();
      b.resize(at + 11);
      b[at] = 1;
      b[at + 1] = 0x14;
      b[at + 3] = p;
      b[at + 8] = pmin;
      b[at + 9] = psec;
      b[at + 10] = pframe;
    };
    Bytes msfOut(4);
    point(0xA0, 1, 0x00, 0);
    point(0xA1, lastTrack, 0, 0);
    putMsf(msfOut, 0, leadOut);
    point(0xA2, msfOut[1], msfOut[2], msfOut[3]);
    for (const auto& t : tracks) {
      putMsf(msfOut, 0, t.start);
      point(static_cast<std::uint8_t>(t.number), msfOut[1], msfOut[2], msfOut[3]);
    }
    b[2] = 1;
    b[3] = 1;
  } else if (format == 5 && m.profile().kind == MediumKind::CD) {
    // No CD-Text packs: the header alone, with data length 2 (MMC-5 6.26.3.7).
  } else {
    return check(0x05, 0x24, 0x00);
  }
  be::put16(b, 0, static_cast<std::uint32_t>(b.size() - 2));
  return data(b, allocation);
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
  b[6] = static_cast<std::uint8_t>(0x80 | (m.profile().erasable ? 0x40 : 0));
  b[8] = 97;  // lead-in start 97:26:66, an 80-minute disc
  b[9] = 26;
  b[10] = 66;
  Bytes msf(4);
  putMsf(msf, 0, m.capacity());
  b[12] = msf[1];
  b[13] = msf[2];
  b[14] = msf[3];
  return data(b, allocation);
}

// MMC-5 6.6 with the features of 5.3: profile list, core, removable medium, random readable.
EmulatedDrive::Reply EmulatedDrive::getConfiguration(std::span<const std::uint8_t> cdb) const {
  const std::uint8_t rt = cdb[1] & 0x03;
  const std::uint16_t start = be::get16(cdb, 2);
  const std::uint16_t current = medium_ ? medium_->profile().code : 0;
  Bytes b(8, 0);
  be::put16(b, 6, current);
  const auto feature = [&](std::uint16_t code, bool isCurrent, std::uint8_t version, const Bytes& body) {
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
  be::put32(b, 0, static_cast<std::uint32_t>(b.size() - 4));
  return data(b, be::get16(cdb, 7));
}

// MMC-5 6.7: polled operation only; the media class reports new media or removal once.
EmulatedDrive::Reply EmulatedDrive::eventStatus(std::span<const std::uint8_t> cdb) {
  if (!(cdb[1] & 0x01)) return check(0x05, 0x24, 0x00);
  Bytes b(4, 0);
  b[3] = 0x10;  // media class supported
  if (!(cdb[4] & 0x10)) {
    b[2] = 0x80;  // no event available
    be::put16(b, 0, 2);
    return data(b, be::get16(cdb, 7));
  }
  b[2] = 0x04;
  b.resize(8);
  b[4] = pendingMediaEvent_;
  b[5] = static_cast<std::uint8_t>((medium_ ? 0x02 : 0) | (trayOpen_ ? 0x01 : 0));
  pendingMediaEvent_ = 0;
  be::put16(b, 0, 6);
  return data(b, be::get16(cdb, 7));
}

// MMC-5 6.22.3: disc information block (data type 000b).
EmulatedDrive::Reply EmulatedDrive::discInfo(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  Bytes b(34, 0);
  be::put16(b, 0, 0x0020);
  const auto status = static_cast<std::uint8_t>(m.status());
  const std::uint8_t lastSession = m.status() == DiscStatus::Blank ? 0 : m.status() == DiscStatus::Appendable ? 1 : 3;
  b[2] = static_cast<std::uint8_t>((m.profile().erasable ? 0x10 : 0) | lastSession << 2 | status);
  b[3] = 1;
  const std::uint32_t sessions = m.tracks().empty() ? 1 : m.tracks().back().session;
  const std::uint32_t lastTrack = m.tracks().empty() ? 1 : m.tracks().back().number + (m.tracks().back().closed &&
                                                                                          status != 2 ? 1 : 0);
  b[4] = static_cast<std::uint8_t>(sessions);
  b[5] = static_cast<std::uint8_t>(m.tracks().empty() ? 1 : m.tracks().front().number);
  b[6] = static_cast<std::uint8_t>(lastTrack);
  b[7] = 0x20;  // unrestricted use
  if (m.profile().kind == MediumKind::CD && m.status() != DiscStatus::Complete) {
    putMsf(b, 16, 0xFFFFFFFF - 11'700 + 1);  // lead-in start of a blank disc (97:26:00 as LBA -11,700 + 150)
    putMsf(b, 20, m.capacity());
  } else {
    be::put32(b, 16, 0xFFFFFFFF);
    be::put32(b, 20, 0xFFFFFFFF);
  }
  return data(b, be::get16(cdb, 7));
}

// MMC-5 6.27.3: track information block, 002Eh bytes of data.
EmulatedDrive::Reply EmulatedDrive::trackInfo(std::span<const std::uint8_t> cdb) const {
  const Medium& m = *medium_;
  const std::uint8_t type = cdb[1] & 0x03;
  const std::uint32_t address = be::get32(cdb, 2);
  const auto& tracks = m.tracks();
  const bool sequential = m.profile().recording == Recording::Sequential;
  const bool hasInvisible = sequential && m.status() != DiscStatus::Complete;
  const std::uint32_t invisibleNumber =
      tracks.empty() ? 1 : tracks.back().number + (tracks.back().closed ? 1 : 0);

  const Track* t = nullptr;
  bool invisible = false;
  if (type == 1) {
    if (address == 0xFF || (hasInvisible && address == invisibleNumber)) {
      invisible = hasInvisible;
      if (!invisible) return check(0x05, 0x24, 0x00);
    } else {
      for (const auto& k : tracks)
        if (k.number == address) t = &k;
    }
  } else if (type == 0) {
    for (const auto& k : tracks)
      if (address >= k.start && address < k.start + k.length) t = &k;
    if (!t && hasInvisible && address >= m.nextWritable()) invisible = true;
  } else {
    return check(0x05, 0x24, 0x00);
  }
  if (!t && !invisible) return check(0x05, 0x24, 0x00);
  if (invisible && !tracks.empty() && !tracks.back().closed) {
    t = &tracks.back();
    invisible = false;
  }

  Bytes b(48, 0);
  be::put16(b, 0, 0x002E);
  const std::uint32_t number = t ? t->number : invisibleNumber;
  b[2] = static_cast<std::uint8_t>(number);
  b[3] = static_cast<std::uint8_t>(t ? t->session : (tracks.empty() ? 1 : tracks.back().session));
  b[5] = t && t->audio ? 0x00 : 0x04;
  const bool open = invisible || (t && !t->closed);
  b[6] = static_cast<std::uint8_t>((invisible ? 0x40 : 0) | 0x01);  // blank bit, data mode 1
  const std::uint32_t start = t ? t->start : m.nextWritable();
  const std::uint32_t nwa = m.nextWritable();
  if (open && sequential) b[7] = 0x01;  // NWA valid
  be::put32(b, 8, start);
  be::put32(b, 12, open ? nwa : 0);
  be::put32(b, 16, open ? m.capacity() - nwa : 0);
  be::put32(b, 24, t ? t->length : m.capacity() - nwa);
  be::put32(b, 28, t && t->length ? t->start + t->length - 1 : 0);
  b[32] = static_cast<std::uint8_t>(number >> 8);
  return data(b, be::get16(cdb, 7));
}
}  // namespace quillion::emu
