// SPDX-License-Identifier: GPL-2.0-or-later
// The speeds of the loaded medium on emulated drives: recordable and rewritable CDs with and
// without the ATIP's A1 values, of each sub-type, against drives of known speeds; DVD and BD
// media from the drive's write speed descriptors; and what is refused. The expected speeds
// are worked out by hand from the Orange Book codes of each case's ATIP.
#include <gtest/gtest.h>

#include "device_environment.h"
#include "quillion/GDT.h"

using namespace quillion;
using namespace quillion::emu;

namespace media_speed_test {

struct Speeds {
  EngineStatus status;
  bool cdr;
  std::uint16_t profile, min, max;
  MMC_SenseData sense;
};

Speeds ask(std::uint32_t ref) {
  Speeds s{};
  s.cdr = true;
  s.status = GDT_GetMediaSpeed(ref, &s.cdr, &s.profile, &s.min, &s.max, &s.sense);
  return s;
}

}  // namespace media_speed_test

using namespace media_speed_test;

TEST(MediaSpeed, CDsFromTheirAtipAndTheDrivesSpeeds) {
  struct Case {
    const char* what;
    std::uint16_t profile;
    std::uint8_t subType;
    std::optional<std::uint8_t> a1;
    std::vector<std::uint32_t> driveKBps;  // write speed descriptors; the first is the maximum
    bool cdr;
    std::uint16_t min, max;
  };
  const Case cases[] = {
      {"CD-R without A1: as fast as the drive", 0x09, 0, std::nullopt, {7056, 3528}, true, 1, 40},
      {"CD-R with A1 2x-16x: still as fast as the drive", 0x09, 0, 0x15, {7056, 3528}, true, 2, 40},
      {"high speed CD-RW without A1: 4x-12x", 0x0A, 1, std::nullopt, {7056, 3528}, false, 4, 12},
      {"high speed CD-RW in a 10x drive", 0x0A, 1, std::nullopt, {1760}, false, 4, 10},
      {"low speed CD-RW without A1: 1x-4x", 0x0A, 0, std::nullopt, {7056, 3528}, false, 1, 4},
      {"ultra speed CD-RW with A1 10x-24x: bounded to 16x-24x",
       0x0A,
       2,
       0x46,
       {7056, 3528},
       false,
       16,
       24},
      {"ultra speed plus CD-RW without A1: 24x-32x",
       0x0A,
       3,
       std::nullopt,
       {7056, 3528},
       false,
       24,
       32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceEnvironment env;
    auto config = *DriveConfig::preset("cd-writer");
    config.name = config.product = "speedy";
    config.speeds.clear();
    for (std::uint32_t kbps : c.driveKBps) config.speeds.push_back({359'846, kbps, kbps});
    auto drive = EmulatedBus::instance().plug(config);
    Medium disc = env.blankDisc("speedy", c.profile, 359'847);
    disc.setAtipSpeeds({c.subType, c.a1});
    drive->load(std::move(disc));
    env.start();
    const Speeds s = ask(DeviceEnvironment::refOf("speedy"));
    ASSERT_EQ(s.status, kNoErr);
    EXPECT_EQ(s.cdr, c.cdr);
    EXPECT_EQ(s.profile, c.profile);
    EXPECT_EQ(s.min, c.min);
    EXPECT_EQ(s.max, c.max);
  }
}

TEST(MediaSpeed, DvdAndBdMediaFromTheWriteSpeedDescriptors) {
  struct Case {
    const char* what;
    std::uint16_t profile;
    std::uint16_t min, max;  // 5,540 and 11,080 KB/s
  };
  for (const Case& c :
       {Case{"DVD+RW", 0x1A, 4, 8}, Case{"DVD-R", 0x11, 4, 8}, Case{"BD-RE", 0x43, 1, 2}}) {
    SCOPED_TRACE(c.what);
    DeviceEnvironment env;
    auto drive = env.plug("bd", "bd-writer");
    drive->load(env.blankDisc("bd", c.profile, 2'295'104));
    env.start();
    const Speeds s = ask(DeviceEnvironment::refOf("bd"));
    ASSERT_EQ(s.status, kNoErr);
    EXPECT_FALSE(s.cdr);
    EXPECT_EQ(s.profile, c.profile);
    EXPECT_EQ(s.min, c.min);
    EXPECT_EQ(s.max, c.max);
  }
}

TEST(MediaSpeed, RefusalsAndDiscsWithoutAtip) {
  DeviceEnvironment env;
  auto drive = env.plug("writer", "cd-writer");
  test::TempDir dir;
  test::writeFile(dir.file("x.iso"), test::patternBytes(2048 * 20));
  drive->load(*Medium::fromIso(dir.file("x.iso"), env.folder() / "rom.medium", 0x08));
  env.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("writer");
  // A pressed CD has no ATIP: the drive's refusal is the answer.
  const Speeds pressed = ask(ref);
  EXPECT_EQ(pressed.status, kErrCheckCondition);
  EXPECT_EQ(pressed.sense.key, 0x05);
  EXPECT_EQ(pressed.sense.code, 0x24);

  bool cdr = false;
  std::uint16_t profile = 0, min = 0, max = 0;
  for (std::uint32_t reserved : {0u, 0xFFFFFFFFu, 0xFFFFFFFEu})
    EXPECT_EQ(GDT_GetMediaSpeed(reserved, &cdr, &profile, &min, &max, nullptr), kErrBadArgument);
  EXPECT_EQ(GDT_GetMediaSpeed(ref, nullptr, &profile, &min, &max, nullptr), kErrBadArgument);
  EXPECT_EQ(GDT_GetMediaSpeed(ref, &cdr, &profile, &min, nullptr, nullptr), kErrBadArgument);
}
