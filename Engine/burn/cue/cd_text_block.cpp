// SPDX-License-Identifier: GPL-2.0-or-later
// The packs of one CD-Text block (language block 0) and their raw form.
#include "burn/cue/cd_text_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "DPMs/tracks/cd_text_crc.h"
#include "quillion/AudioNodeInfo.h"
#include "tree/fs_list.h"
#include "tree/fs_node.h"

namespace quillion::burn {
namespace {

constexpr std::size_t kTextBytes = 12;  // bytes 4-15 of a pack
constexpr std::uint8_t kFirstTextType = 0x80;
constexpr std::uint8_t kSizeInfoType = 0x8F;
constexpr std::size_t kSizeInfoPacks = 3;
// The sequence number is one byte: a block has at most 256 packs, its size packs included.
constexpr std::size_t kMaxPacksInBlock = 256;
// Pack track numbers run from 1 to 99.
constexpr std::size_t kMaxTextTracks = 99;
constexpr std::uint8_t kCharacterCodeAscii = 0x01;
constexpr std::size_t kTextFieldBytes = 160;
constexpr std::size_t kReplyHeaderBytes = 4;

std::uint8_t* packAt(std::vector<std::uint8_t>& packs, std::size_t index) {
  return packs.data() + index * kCDTextPackBytes;
}

// Starts pack number `index` of `type` for the string of `track`, `position` of whose
// characters stood in earlier packs.
bool startPack(std::vector<std::uint8_t>& packs, std::uint8_t type, std::uint8_t track,
               std::size_t position, std::uint8_t& sequence) {
  const std::size_t index = packs.size() / kCDTextPackBytes;
  if (index >= kCDTextMaxPacks) return false;
  packs.resize(packs.size() + kCDTextPackBytes, 0);
  std::uint8_t* pack = packAt(packs, index);
  pack[0] = type;
  pack[1] = track;
  pack[2] = sequence++;
  pack[3] = static_cast<std::uint8_t>(std::min<std::size_t>(position, 15));
  return true;
}

// The field's text up to its zero byte, never past its 160 bytes.
std::string fieldText(const char* field) {
  return std::string(field, strnlen(field, kTextFieldBytes));
}

CDTextStrings nodeTexts(const FS_Node* node) {
  CDTextStrings texts;
  const auto* info = node ? static_cast<const AudioNodeInfo*>(node->UsrData()) : nullptr;
  if (!info) return texts;  // still a track: its fields are empty
  const AudioCDText& t = info->cdText;
  texts = {fieldText(t.cdTextTitle), fieldText(t.cdTextPerformer), fieldText(t.cdTextSongwriter),
           fieldText(t.cdTextComposer), fieldText(t.cdTextArranger)};
  return texts;
}

void appendSizePacks(std::vector<std::uint8_t>& packs, const std::array<std::uint8_t, 16>& counts,
                     std::uint8_t lastTrack, std::uint8_t language, std::uint8_t& sequence) {
  const std::size_t first = packs.size() / kCDTextPackBytes;
  for (std::uint8_t i = 0; i < kSizeInfoPacks; ++i)
    (void)startPack(packs, kSizeInfoType, i, 0, sequence);
  std::uint8_t info[kSizeInfoPacks * kTextBytes] = {};
  info[0] = kCharacterCodeAscii;
  info[1] = 1;
  info[2] = lastTrack;
  info[3] = 0;
  for (std::size_t t = 0; t < counts.size(); ++t) info[4 + t] = counts[t];
  info[20] = static_cast<std::uint8_t>(sequence - 1);  // the last sequence number of block 0
  info[28] = language;
  for (std::size_t i = 0; i < kSizeInfoPacks; ++i)
    std::memcpy(packAt(packs, first + i) + 4, info + i * kTextBytes, kTextBytes);
}

}  // namespace

bool PrepareCDTextPackData(std::vector<std::uint8_t>& packs, std::size_t& fill, std::uint8_t type,
                           std::uint8_t track, const std::string& text, std::uint8_t& sequence) {
  // The string's bytes and its zero byte; an empty string is that zero byte alone.
  const std::size_t length = text.size() + 1;
  for (std::size_t at = 0; at < length; ++at) {
    const bool lastOfType = !packs.empty() && packs[packs.size() - kCDTextPackBytes] == type;
    if (!lastOfType || fill == kTextBytes) {
      if (!startPack(packs, type, track, at, sequence)) return false;
      fill = 0;
    }
    const std::uint8_t byte = at < text.size() ? static_cast<std::uint8_t>(text[at]) : 0;
    packs[packs.size() - kCDTextPackBytes + 4 + fill++] = byte;
  }
  return true;
}

void setCDTextCrcs(std::span<std::uint8_t> packs) {
  for (std::size_t at = 0; at + kCDTextPackBytes <= packs.size(); at += kCDTextPackBytes) {
    const std::uint16_t crc = static_cast<std::uint16_t>(~cdTextCrc(&packs[at], 16));
    packs[at + 16] = static_cast<std::uint8_t>(crc >> 8);
    packs[at + 17] = static_cast<std::uint8_t>(crc);
  }
}

std::vector<std::uint8_t> buildCDTextPacks(const CDTextInput& input) {
  const std::size_t tracks = std::min(input.tracks.size(), kMaxTextTracks);
  if (tracks == 0) return {};
  std::vector<std::uint8_t> packs;
  std::array<std::uint8_t, 16> counts{};
  std::uint8_t sequence = 0;
  for (std::size_t kind = 0; kind < kCDTextKinds; ++kind) {
    const auto type = static_cast<std::uint8_t>(kFirstTextType + kind);
    const std::size_t before = packs.size();
    std::size_t fill = 0;
    bool ok = PrepareCDTextPackData(packs, fill, type, 0, input.disc[kind], sequence);
    for (std::size_t t = 0; ok && t < tracks; ++t) {
      ok = PrepareCDTextPackData(packs, fill, type, static_cast<std::uint8_t>(t + 1),
                                 input.tracks[t][kind], sequence);
    }
    const std::size_t made = (packs.size() - before) / kCDTextPackBytes;
    if (!ok || packs.size() / kCDTextPackBytes + kSizeInfoPacks > kMaxPacksInBlock) return {};
    counts[kind] = static_cast<std::uint8_t>(made);
  }
  counts[kSizeInfoType - kFirstTextType] = kSizeInfoPacks;
  appendSizePacks(packs, counts, static_cast<std::uint8_t>(tracks), input.language, sequence);
  setCDTextCrcs(packs);
  return packs;
}

void ConvertToRawCDTextData(const std::uint8_t* packs, std::size_t length, std::uint8_t* out,
                            std::size_t& outLength) {
  const std::size_t whole = length / kCDTextPackBytes * kCDTextPackBytes;
  std::size_t o = 0;
  for (std::size_t i = 0; i < whole; i += 3) {
    const std::uint8_t a = packs[i], b = packs[i + 1], c = packs[i + 2];
    out[o++] = static_cast<std::uint8_t>(a >> 2);
    out[o++] = static_cast<std::uint8_t>(((a & 0x03) << 4) | (b >> 4));
    out[o++] = static_cast<std::uint8_t>(((b & 0x0F) << 2) | (c >> 6));
    out[o++] = static_cast<std::uint8_t>(c & 0x3F);
  }
  outLength = o;
}

std::vector<std::uint8_t> rawCDText(std::span<const std::uint8_t> packs) {
  std::vector<std::uint8_t> raw(packs.size() / kCDTextPackBytes * kCDTextRawPackBytes);
  std::size_t length = 0;
  ConvertToRawCDTextData(packs.data(), packs.size(), raw.data(), length);
  raw.resize(length);
  return raw;
}

std::uint8_t* CreateCDTextData(std::uint8_t language, const FS_List* tracks, const char* title,
                               const char* performer, const char* songwriter, const char* composer,
                               const char* arranger, std::uint32_t* length,
                               std::uint32_t leadingDataTracks) {
  if (length) *length = 0;
  if (!length) return nullptr;
  CDTextInput input;
  input.language = language;
  const char* disc[kCDTextKinds] = {title, performer, songwriter, composer, arranger};
  for (std::size_t k = 0; k < kCDTextKinds; ++k)
    input.disc[k] = disc[k] ? fieldText(disc[k]) : std::string();
  for (std::uint32_t i = 0; i < leadingDataTracks; ++i)
    input.tracks.push_back({"-", "-", "-", "-", "-"});
  const std::uint32_t count = tracks ? tracks->SizeOfList() : 0;
  for (std::uint32_t i = 0; i < count; ++i) input.tracks.push_back(nodeTexts(tracks->NodeAtIdx(i)));
  const std::vector<std::uint8_t> raw = rawCDText(buildCDTextPacks(input));
  if (raw.empty()) return nullptr;
  auto* block = static_cast<std::uint8_t*>(std::malloc(raw.size()));
  if (!block) return nullptr;
  std::memcpy(block, raw.data(), raw.size());
  *length = static_cast<std::uint32_t>(raw.size());
  return block;
}

std::vector<std::uint8_t> rawCDTextFromTocReply(std::span<const std::uint8_t> received) {
  if (received.size() < kReplyHeaderBytes) return {};
  // The data length counts the bytes after itself; the drive may say more than it sent.
  const std::size_t said = (std::size_t{received[0]} << 8) | received[1];
  const std::size_t body = std::min(said >= 2 ? said - 2 : 0, received.size() - kReplyHeaderBytes);
  const std::size_t packs = std::min(body / kCDTextPackBytes, kCDTextMaxPacks);
  if (packs == 0) return {};
  std::vector<std::uint8_t> copy(received.begin() + kReplyHeaderBytes,
                                 received.begin() + kReplyHeaderBytes + packs * kCDTextPackBytes);
  setCDTextCrcs(copy);
  return rawCDText(copy);
}

}  // namespace quillion::burn
