// SPDX-License-Identifier: GPL-2.0-or-later
// The XML index writers' output, read back by python3's XML parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bufstream_side.h"
#include "recording_stream.h"
#include "tests/support/test_support.h"

namespace {

using quillion::test::RecordingStream;
using quillion::test::TempDir;
using quillion::test::toolAvailable;
using quillion::test::writeFile;
using Bytes = std::vector<std::uint8_t>;

// Runs a python3 script over the XML text and returns what it prints.
std::string parsed(const Bytes& xml, const std::string& script) {
  TempDir dir;
  writeFile(dir.file("index.xml"), xml);
  writeFile(dir.file("check.py"), Bytes(script.begin(), script.end()));
  return quillion::test::runTool(
             {"python3", dir.file("check.py").string(), dir.file("index.xml").string()})
      .output;
}

Bytes unitRecord(std::uint64_t time27, std::uint32_t size) {
  Bytes r(64, 0);
  for (int i = 0; i < 8; ++i) r[i] = static_cast<std::uint8_t>(time27 >> (8 * i));
  for (int i = 0; i < 4; ++i) r[8 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return r;
}

TEST(XmlIndex, HeadersUnitsAndUserDataParse) {
  if (!toolAvailable("python3")) GTEST_SKIP() << "python3 missing";
  RecordingStream main, video, audio;
  bufstream* bs =
      open_bufstream_write_with_xml_index(main.get(), video.get(), audio.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  Bytes header(254);
  for (std::size_t i = 0; i < header.size(); ++i) header[i] = static_cast<std::uint8_t>(i * 7 + 1);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_HEADER, header.data(), 254), 0);
  for (std::uint32_t k = 0; k < 3; ++k) {
    Bytes r = unitRecord(27000000ull * k, 1000 + k);
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_EXT_UNIT, r.data(), 64), 0);
    Bytes data(500, 0x55);
    ASSERT_EQ(bs->copybytes(bs, data.data(), 500), 500u);
  }
  char user[] = "made by a test";
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_USER_DATA, user, sizeof user - 1), 0);
  Bytes audioUnit = unitRecord(2700000, 384);
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_AUDIO_EXT_UNIT, audioUnit.data(), 64), 0);
  EXPECT_EQ(close_bufstream_write_with_xml_index(&bs, 0), 0);
  // Every id also reached the main stream.
  EXPECT_EQ(main.calls.size(), 6u);

  const std::string script = R"(
import sys, base64, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.tag)
print(base64.b64decode(root.find('HeaderData').text.strip()).hex())
for u in root.findall('AccessUnit'):
    print(u.find('Position').text, u.find('PTS').text, u.find('Size').text)
print(root.find('UserData').text)
print(root.find('StreamDuration').text, root.find('StreamSize').text)
)";
  std::string hex;
  for (std::uint8_t b : header) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  EXPECT_EQ(parsed(video.bytes, script), "Stream\n" + hex +
                                             "\n0 0 1000\n500 90000 1001\n1000 180000 1002\n"
                                             "made by a test\n180000 3003\n");
  const std::string audioScript = R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
u = root.find('AccessUnit')
print(root.tag, u.find('Position').text, u.find('PTS').text, u.find('Size').text)
)";
  EXPECT_EQ(parsed(audio.bytes, audioScript), "Stream 1500 9000 384\n");
}

TEST(XmlIndex, NeedsAMainStreamAndAnXmlStream) {
  std::vector<std::string> seen;
  static std::vector<std::string>* sink = nullptr;
  sink = &seen;
  const bufstream_msg_fn collect = [](char* text) { sink->emplace_back(text); };
  RecordingStream main, xml;
  EXPECT_EQ(open_bufstream_write_with_xml_index(main.get(), nullptr, nullptr, collect), nullptr);
  EXPECT_EQ(open_bufstream_write_with_xml_index(nullptr, xml.get(), nullptr, collect), nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"Invalid parameter.", "Invalid parameter."}));
  EXPECT_EQ(open_bufstream_write_with_vxml_index(nullptr, xml.get(), collect), nullptr);
  EXPECT_EQ(seen.back(), "No main stream buffer .");
}

TEST(XmlIndex, ARefusedXmlWriteIsReported) {
  RecordingStream main, xml;
  bufstream* bs = open_bufstream_write_with_xml_index(main.get(), xml.get(), nullptr, nullptr);
  ASSERT_NE(bs, nullptr);
  xml.refuse = true;
  Bytes header(254, 1);
  EXPECT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_VIDEO_INDEX_HEADER, header.data(), 254), -1);
  EXPECT_EQ(close_bufstream_write_with_xml_index(&bs, 0), -1);
}

TEST(VxmlIndex, UnitsFollowThePictureNotices) {
  if (!toolAvailable("python3")) GTEST_SKIP() << "python3 missing";
  RecordingStream main, xml;
  bufstream* bs = open_bufstream_write_with_vxml_index(main.get(), xml.get(), nullptr);
  ASSERT_NE(bs, nullptr);
  std::uint32_t sequence[6] = {0, 3, 0, 0, 0, 0};  // 25 frames/s: 3600 ticks a frame
  ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_SEQUENCE_HEADER, sequence, sizeof sequence), 0);
  struct Picture {
    std::uint32_t temporalReference;
    std::uint32_t flags;
    std::uint32_t size;
    std::uint64_t pts27;
  };
  const Picture pictures[] = {{0, 1, 4000, 0}, {1, 0, 1000, 1080000}, {0, 2, 3000, 2160000}};
  for (const Picture& p : pictures) {
    std::uint32_t header[6] = {0, p.temporalReference, 0, 0, 0, 0};
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_PICTURE_HEADER, header, sizeof header), 0);
    Bytes data(p.size, 0x11);
    ASSERT_EQ(bs->copybytes(bs, data.data(), p.size), p.size);
    std::uint32_t done[8] = {p.size,
                             1u | p.flags << 16,
                             0,
                             0,
                             0,
                             0,
                             static_cast<std::uint32_t>(p.pts27),
                             static_cast<std::uint32_t>(p.pts27 >> 32)};
    ASSERT_EQ(bs->auxinfo(bs, 0, BUFSTREAM_AUX_PICTURE_DONE, done, sizeof done), 0);
  }
  EXPECT_EQ(close_bufstream_write_with_vxml_index(&bs, 0), 0);
  const std::string script = R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
for u in root.findall('AccessUnit'):
    print(u.find('UnitType').text, u.find('Position').text, u.find('PTS').text,
          u.find('Duration').text, u.find('Size').text,
          [p.find('Offset').text for p in u.findall('PictureData')])
print(root.find('StreamDuration').text, root.find('StreamSize').text)
)";
  EXPECT_EQ(parsed(xml.bytes, script),
            "SEQ 0 0 7200 5000 ['0', '4000']\n"
            "GOP 5000 7200 3600 3000 ['0']\n"
            "10800 8000\n");
}

}  // namespace
