// SPDX-License-Identifier: GPL-2.0-or-later
#include "write_parameters.h"

#include <algorithm>

#include "common/byte_order.h"

namespace quillion::emu {
namespace {

constexpr std::uint8_t kLeadInTrack = 0x00, kLeadOutTrack = 0xAA;

bool isGeneratedForm(std::uint8_t form) {
  return form == 0x01 || form == 0x14 || form == 0x24 || form == 0x34;
}

// MMC-5 table of main data forms: audio tracks take 00h/01h, data tracks the Mode 1, XA and
// Mode 2 forms.
bool formFitsControl(std::uint8_t form, bool data) {
  if (!data) return form == 0x00 || form == 0x01;
  switch (form) {
    case 0x10:
    case 0x11:
    case 0x14:
    case 0x20:
    case 0x21:
    case 0x24:
    case 0x30:
    case 0x31:
    case 0x34:
      return true;
    default:
      return false;
  }
}

struct Entry {
  std::uint8_t control, adr, track, index, form;
  std::int32_t lba;
};

CueCheck refused() {
  return CueCheck{std::nullopt, kInvalidParameterList};
}

}  // namespace

// MMC-5 7.5.4: byte 2 BUFE, LS_V, test write, write type; byte 3 multi-session, FP, copy,
// track mode; 4 data block type; 5 link size; 8 session format; 10-13 packet size; 14-15
// audio pause length.
WriteParameters WriteParameters::parse(std::span<const std::uint8_t> page) {
  WriteParameters p;
  p.bufe = page[2] & 0x40;
  p.linkSizeValid = page[2] & 0x20;
  p.testWrite = page[2] & 0x10;
  p.writeType = page[2] & 0x0F;
  p.multiSession = page[3] >> 6;
  p.fixedPackets = page[3] & 0x20;
  p.trackMode = page[3] & 0x0F;
  p.dataBlockType = page[4] & 0x0F;
  p.linkSize = page[5];
  p.sessionFormat = page[8];
  p.packetSize = be::get32(page, 10);
  p.audioPause = be::get16(page, 14);
  return p;
}

std::optional<HostBlock> hostBlockOf(std::uint8_t dataBlockType) {
  switch (dataBlockType) {
    case 0:
      return HostBlock::Audio2352;
    case 8:
      return HostBlock::Mode1_2048;
    case 9:
      return HostBlock::Mode2_2336;
    case 10:
      return HostBlock::Form1_2048;
    case 11:
      return HostBlock::Form1_2056;
    case 12:
      return HostBlock::Form2_2324;
    case 13:
      return HostBlock::Mixed_2332;
    default:
      return std::nullopt;  // raw with sub-channel data: not recorded by this drive
  }
}

std::optional<SenseTriple> checkWriteParameters(const WriteParameters& p, const ProfileInfo& medium,
                                                bool bufeSupported) {
  if (p.bufe && !bufeSupported) return kInvalidParameterList;  // not a changeable bit (SPC-3 7.4.5)
  if (medium.recording != Recording::Sequential) return std::nullopt;  // the page is not used
  if (medium.kind == MediumKind::CD) {
    if (p.writeType != kTrackAtOnce && p.writeType != kSessionAtOnce) return kInvalidParameterList;
    if (p.multiSession == 2) return kInvalidParameterList;
    if (p.sessionFormat != 0x00 && p.sessionFormat != 0x10 && p.sessionFormat != 0x20)
      return kInvalidParameterList;
    // In a session written at once the cue sheet, not the page, says what each block is.
    if (p.writeType == kTrackAtOnce) {
      if (!hostBlockOf(p.dataBlockType)) return kInvalidParameterList;
      if (p.audioTrack() != (p.dataBlockType == 0)) return kInvalidParameterList;
    }
    return std::nullopt;
  }
  // DVD-R links its packets with 16 blocks.
  if (medium.code == 0x11 && p.writeType == kIncremental && p.linkSizeValid && p.linkSize != 16) {
    return kInvalidParameterList;
  }
  return std::nullopt;
}

std::size_t cueHostBytes(std::uint8_t form) {
  const auto block = cueHostBlock(form);
  return block ? hostBytes(*block) : 0;
}

std::optional<HostBlock> cueHostBlock(std::uint8_t form) {
  switch (form) {
    case 0x00:
      return HostBlock::Audio2352;
    case 0x10:
      return HostBlock::Mode1_2048;
    case 0x11:
    case 0x21:
    case 0x31:
      return HostBlock::Raw2352;
    case 0x20:
      return HostBlock::Xa_2336;
    case 0x30:
      return HostBlock::Mode2_2336;
    default:
      return std::nullopt;
  }
}

SectorKind cueKind(std::uint8_t form) {
  switch (form & 0xF0) {
    case 0x00:
      return SectorKind::Audio;
    case 0x10:
      return SectorKind::Mode1;
    case 0x20:
      return SectorKind::Mode2Form1;
    default:
      return SectorKind::Mode2;
  }
}

// MMC-5 6.33.3: 8-byte entries of CTL/ADR, TNO, index, data form, SCMS and absolute MSF; the
// lead-in first, tracks in ascending order with ascending indexes and addresses, the lead-out
// last. Entries of ADR 2 and 3 (catalogue number, ISRC) carry no position and are skipped.
CueCheck parseCueSheet(std::span<const std::uint8_t> sheet, std::uint8_t firstTrack,
                       std::int32_t firstAddress, std::int64_t lastLeadOut) {
  if (sheet.size() % 8 != 0) return refused();
  std::vector<Entry> entries;
  for (std::size_t at = 0; at + 8 <= sheet.size(); at += 8) {
    const auto e = sheet.subspan(at, 8);
    const std::uint8_t adr = e[0] & 0x0F;
    if (adr == 2 || adr == 3) continue;
    if (adr != 1 || e[6] >= 60 || e[7] >= 75) return refused();
    const std::int32_t frames = (e[5] * 60 + e[6]) * 75 + e[7];
    entries.push_back(
        Entry{static_cast<std::uint8_t>(e[0] >> 4), adr, e[1], e[2], e[3], frames - 150});
  }
  if (entries.size() < 3) return refused();
  const Entry& leadIn = entries.front();
  const Entry& leadOut = entries.back();
  if (leadIn.track != kLeadInTrack || leadIn.index != 0 || !isGeneratedForm(leadIn.form & 0x3F) ||
      (leadIn.form >> 6) > 1) {
    return refused();
  }
  if (leadOut.track != kLeadOutTrack || leadOut.index != 1 || !isGeneratedForm(leadOut.form))
    return refused();
  if (leadIn.lba > entries[1].lba || entries[1].lba != firstAddress || leadOut.lba > lastLeadOut)
    return refused();

  CueSession session;
  session.leadInText = (leadIn.form >> 6) == 1;
  session.leadOut = leadOut.lba;
  session.firstTrack = firstTrack;
  std::int32_t trackStart = 0;  // index 1 of the track in hand
  for (std::size_t i = 1; i + 1 < entries.size(); ++i) {
    const Entry& e = entries[i];
    const Entry& next = entries[i + 1];
    const bool data = (e.control & 0x04) != 0;
    if (e.track == kLeadInTrack || e.track == kLeadOutTrack || e.track > 99) return refused();
    if ((e.form >> 6) != 0 || !formFitsControl(e.form, data)) return refused();
    if (next.lba <= e.lba) return refused();  // every index holds at least one block
    if (i == 1) {
      if (e.track != firstTrack || e.index > 1) return refused();
    } else {
      const CueRegion& before = session.regions.back();
      const bool sameTrack = e.track == before.track;
      if (sameTrack && (e.index != before.index + 1 || data != before.data)) return refused();
      if (!sameTrack && (e.track != before.track + 1 || e.index > 1 || before.index == 0))
        return refused();
    }
    if (e.index == 1) trackStart = e.lba;
    // A track runs at least 4 seconds from its index 1 (Red Book).
    const bool lastOfTrack = next.track != e.track;
    if (lastOfTrack &&
        (e.index == 0 || next.lba - trackStart < static_cast<std::int32_t>(cd::kMinimumTrack))) {
      return refused();
    }
    session.regions.push_back(CueRegion{e.lba, next.lba, e.track, e.index, e.form, data});
  }
  session.lastTrack = session.regions.back().track;
  return CueCheck{std::move(session), {}};
}

}  // namespace quillion::emu
