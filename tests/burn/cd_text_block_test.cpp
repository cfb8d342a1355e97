// SPDX-License-Identifier: GPL-2.0-or-later
// Lead-in CD-Text packs: how strings are laid into packs, the size packs, CRCs (checked with a
// bitwise CRC of the test's own), the raw 6-bit form, packs taken from a source's READ TOC
// reply, and what libcdio's decoder reads from them.
#include "burn/cue/cd_text_block.h"

#include <cdio/cdtext.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quillion/AudioNodeInfo.h"
#include "quillion/FS.h"
#include "tree/fs_list.h"

using namespace quillion::burn;
using Bytes = std::vector<std::uint8_t>;

namespace {

// CRC-16, polynomial 1021h, initial 0, bit by bit.
std::uint16_t bitwiseCrc(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

struct Pack {
  std::uint8_t type, track, sequence, position;
  std::string text;  // the 12 text bytes
};

std::vector<Pack> decode(const Bytes& packs) {
  std::vector<Pack> out;
  EXPECT_EQ(packs.size() % kCDTextPackBytes, 0u);
  for (std::size_t at = 0; at + kCDTextPackBytes <= packs.size(); at += kCDTextPackBytes) {
    const std::uint8_t* p = &packs[at];
    const auto crc = static_cast<std::uint16_t>(~bitwiseCrc(p, 16));
    EXPECT_EQ((p[16] << 8) | p[17], crc) << "pack " << at / kCDTextPackBytes;
    out.push_back({p[0], p[1], p[2], p[3], std::string(reinterpret_cast<const char*>(p + 4), 12)});
  }
  return out;
}

std::vector<Pack> ofType(const std::vector<Pack>& packs, std::uint8_t type) {
  std::vector<Pack> out;
  for (const Pack& p : packs)
    if (p.type == type) out.push_back(p);
  return out;
}

CDTextInput titles(const std::string& disc, std::vector<std::string> tracks) {
  CDTextInput in;
  in.disc[0] = disc;
  for (const std::string& t : tracks) {
    CDTextStrings s;
    s[0] = t;
    in.tracks.push_back(s);
  }
  return in;
}

TEST(CDTextPacks, AnElevenCharacterTitleFillsOnePackAndTwelveSpillTheZero) {
  const std::vector<Pack> eleven =
      ofType(decode(buildCDTextPacks(titles("ABCDEFGHIJK", {"t"}))), 0x80);
  ASSERT_EQ(eleven.size(), 2u);
  EXPECT_EQ(eleven[0].text, std::string("ABCDEFGHIJK\0", 12));
  EXPECT_EQ(eleven[1].track, 1);
  EXPECT_EQ(eleven[1].position, 0);

  const std::vector<Pack> twelve =
      ofType(decode(buildCDTextPacks(titles("ABCDEFGHIJKL", {"t"}))), 0x80);
  ASSERT_EQ(twelve.size(), 2u);
  EXPECT_EQ(twelve[0].text, "ABCDEFGHIJKL");
  EXPECT_EQ(twelve[1].track, 0) << "the pack begins with the rest of the disc's title";
  EXPECT_EQ(twelve[1].position, 12);
  EXPECT_EQ(twelve[1].text.substr(0, 3), std::string("\0t\0", 3));
}

TEST(CDTextPacks, EmptyStringsKeepTheirZeroAndEveryTrackItsNumber) {
  const std::vector<Pack> packs = decode(buildCDTextPacks(titles("", {"One", "", "Three"})));
  const std::vector<Pack> title = ofType(packs, 0x80);
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].text, std::string("\0One\0\0Three\0", 12));
  // Other types are all empty: a zero byte for the disc and each of the three tracks.
  const std::vector<Pack> performer = ofType(packs, 0x81);
  ASSERT_EQ(performer.size(), 1u);
  EXPECT_EQ(performer[0].text, std::string(12, '\0'));
}

TEST(CDTextPacks, SequenceNumbersRunOnAndTheSizePacksCountThem) {
  CDTextInput in = titles("Disc", {"A long title for track one", "Two"});
  in.disc[1] = "Performer";
  const std::vector<Pack> packs = decode(buildCDTextPacks(in));
  for (std::size_t i = 0; i < packs.size(); ++i) EXPECT_EQ(packs[i].sequence, i);
  const std::vector<Pack> size = ofType(packs, 0x8F);
  ASSERT_EQ(size.size(), 3u);
  std::string info;
  for (const Pack& p : size) info += p.text;
  EXPECT_EQ(size[0].track, 0);
  EXPECT_EQ(size[2].track, 2);
  EXPECT_EQ(info[0], 0x01) << "character code";
  EXPECT_EQ(info[1], 1) << "first track";
  EXPECT_EQ(info[2], 2) << "last track";
  EXPECT_EQ(info[4], static_cast<char>(ofType(packs, 0x80).size()));
  EXPECT_EQ(info[5], static_cast<char>(ofType(packs, 0x81).size()));
  EXPECT_EQ(info[4 + 15], 3) << "three size packs";
  EXPECT_EQ(static_cast<std::size_t>(info[20]), packs.size() - 1) << "last sequence number";
  EXPECT_EQ(info[28], 9) << "English";
}

TEST(CDTextPacks, TrackNumbersStopAt99AndNoTracksMakeNoBlock) {
  EXPECT_TRUE(buildCDTextPacks(titles("Disc", {})).empty());
  std::vector<std::string> many(120, "");
  const std::vector<Pack> packs = decode(buildCDTextPacks(titles("D", many)));
  ASSERT_FALSE(packs.empty());
  for (const Pack& p : packs) EXPECT_LE(p.track, 99);
  std::string info;
  for (const Pack& p : ofType(packs, 0x8F)) info += p.text;
  EXPECT_EQ(info[2], 99);
}

TEST(CDTextPacks, TextsTooLongForOneBlockMakeNoBlock) {
  std::vector<std::string> long99(99, std::string(159, 'x'));
  EXPECT_TRUE(buildCDTextPacks(titles("D", long99)).empty());
}

TEST(CDTextPacks, TheRawFormSpreadsEveryThreeBytesOverFour) {
  const Bytes packs = buildCDTextPacks(titles("Disc", {"T"}));
  const Bytes raw = rawCDText(packs);
  ASSERT_EQ(raw.size(), packs.size() / 18 * 24);
  Bytes back;
  for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) {
    for (int k = 0; k < 4; ++k) EXPECT_LT(raw[i + k], 0x40);
    back.push_back(static_cast<std::uint8_t>(raw[i] << 2 | raw[i + 1] >> 4));
    back.push_back(static_cast<std::uint8_t>((raw[i + 1] & 0x0F) << 4 | raw[i + 2] >> 2));
    back.push_back(static_cast<std::uint8_t>((raw[i + 2] & 0x03) << 6 | raw[i + 3]));
  }
  EXPECT_EQ(back, packs);
}

TEST(CDTextPacks, ASourceReplyIsTakenOnlyAsFarAsItWasReceived) {
  const Bytes packs = buildCDTextPacks(titles("Disc", {"T"}));
  Bytes reply = {0, 0, 0, 0};
  reply.insert(reply.end(), packs.begin(), packs.end());
  for (Bytes::size_type i = 0; i < packs.size(); i += 18) reply[4 + i + 16] ^= 0xFF;  // bad CRCs
  reply[0] = 0x7F;  // says far more than it holds
  reply[1] = 0xFF;
  const Bytes raw = rawCDTextFromTocReply(reply);
  EXPECT_EQ(raw, rawCDText(packs)) << "whole packs received, CRCs made again";
  Bytes cut(reply.begin(), reply.begin() + 4 + 18 * 2 + 5);
  EXPECT_EQ(rawCDTextFromTocReply(cut).size(), 2u * 24);
  EXPECT_TRUE(rawCDTextFromTocReply(Bytes{0, 2, 0, 0}).empty()) << "a reply without packs";
  EXPECT_TRUE(rawCDTextFromTocReply(Bytes{0, 20}).empty());
}

// The node records of an audio layout, one per file name, the second without a record.
struct AudioList {
  FS_List list;
  AudioList() {
    const char* names[] = {"one.wav", "two.wav", "three.wav"};
    for (int i = 0; i < 3; ++i) {
      FS_Node* node = initNode(nullptr, names[i], nullptr, false);
      if (i != 1) {
        auto* info = static_cast<AudioNodeInfo*>(std::calloc(1, sizeof(AudioNodeInfo)));
        std::snprintf(info->cdText.cdTextTitle, 160, "Title %d", i + 1);
        std::snprintf(info->cdText.cdTextPerformer, 160, "Performer %d", i + 1);
        SetUserData(node, info);
      }
      EXPECT_EQ(list.Append(node), kNoErr);
    }
  }
};

std::string text(const cdtext_t* t, cdtext_field_t field, track_t track) {
  const char* s = cdtext_get_const(t, field, track);
  return s ? s : "";
}

TEST(CDTextPacks, LibcdioReadsTheLayoutsTextsTrackByTrack) {
  AudioList layout;
  std::uint32_t length = 0;
  std::uint8_t* raw = CreateCDTextData(kCDTextEnglish, &layout.list, "The Disc", "The Band", "", "",
                                       "", &length, 1);
  ASSERT_NE(raw, nullptr);
  ASSERT_EQ(length % 24, 0u);
  Bytes packs;
  for (std::uint32_t i = 0; i + 4 <= length; i += 4) {
    packs.push_back(static_cast<std::uint8_t>(raw[i] << 2 | raw[i + 1] >> 4));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 1] & 0x0F) << 4 | raw[i + 2] >> 2));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 2] & 0x03) << 6 | raw[i + 3]));
  }
  std::free(raw);
  (void)decode(packs);  // every CRC

  cdtext_t* t = cdtext_init();
  ASSERT_EQ(cdtext_data_init(t, packs.data(), packs.size()), 0);
  EXPECT_EQ(text(t, CDTEXT_FIELD_TITLE, 0), "The Disc");
  EXPECT_EQ(text(t, CDTEXT_FIELD_PERFORMER, 0), "The Band");
  EXPECT_EQ(text(t, CDTEXT_FIELD_TITLE, 1), "-") << "the leading data track";
  EXPECT_EQ(text(t, CDTEXT_FIELD_TITLE, 2), "Title 1");
  EXPECT_EQ(text(t, CDTEXT_FIELD_TITLE, 3), "") << "a track without a record keeps its place";
  EXPECT_EQ(text(t, CDTEXT_FIELD_TITLE, 4), "Title 3");
  EXPECT_EQ(text(t, CDTEXT_FIELD_PERFORMER, 4), "Performer 3");
  cdtext_destroy(t);
}

TEST(CDTextPacks, NoTracksAndNoLengthPointerMakeNoBlock) {
  FS_List empty;
  std::uint32_t length = 7;
  EXPECT_EQ(CreateCDTextData(kCDTextEnglish, &empty, "D", "", "", "", "", &length, 0), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(CreateCDTextData(kCDTextEnglish, &empty, "D", "", "", "", "", nullptr, 1), nullptr);
}

}  // namespace
