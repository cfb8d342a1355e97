// SPDX-License-Identifier: GPL-2.0-or-later
// The program the QEMU guest runs: our drive layer (udev discovery, SG_IO, sense decoding, the
// device and disc queries) against QEMU's emulated CD-ROM drives. It reports on the console:
//   QUILLION-CHECK FAIL <where>: <what>     a check that failed
//   QUILLION-HOST <monitor command>         asks the host to act; the host answers with a line
//                                           "QUILLION-DONE <reply>" on the console
//   QUILLION-RESULT: PASS|FAIL <scenario>   the verdict, the last line of each scenario
// The argument lists "<scenario>:<transport>", transport "scsi" (scsi-cd on virtio-scsi) or "atapi"
// (ide-cd on PIIX or AHCI). Disc images are in /fixture, made by our own ISO9660 producer.
#include <poll.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "quillion/DC.h"
#include "quillion/GDT.h"
#include "quillion/MMC.h"

namespace {

int g_failures = 0;
bool g_scsi = true;

void fail(int line, const std::string& what) {
  ++g_failures;
  std::printf("QUILLION-CHECK FAIL line %d: %s\n", line, what.c_str());
  std::fflush(stdout);
}

std::string senseText(const MMC_SenseData& s) {
  char text[32];
  std::snprintf(text, sizeof text, "%X/%02X/%02X", s.key, s.code, s.qualifier);
  return text;
}

#define CHECK(cond)                                \
  do {                                             \
    if (!(cond)) fail(__LINE__, #cond);            \
  } while (0)
#define CHECK_EQ(a, b)                                                                                \
  do {                                                                                                \
    const auto va = (a);                                                                              \
    const auto vb = (b);                                                                              \
    if (!(va == vb)) fail(__LINE__, std::string(#a " == " #b ": ") + std::to_string(va) + " vs " +   \
                                        std::to_string(vb));                                          \
  } while (0)
#define CHECK_STR(a, b)                                                                           \
  do {                                                                                            \
    const std::string va = (a);                                                                   \
    const std::string vb = (b);                                                                   \
    if (va != vb) fail(__LINE__, std::string(#a ": \"") + va + "\" vs \"" + vb + "\"");          \
  } while (0)
// A command that must come back refused with this sense, never as success.
#define CHECK_SENSE(status, sense, k, c, q)                                                           \
  do {                                                                                                \
    const EngineStatus st = (status);                                                                 \
    if (st != kErrCheckCondition || (sense).key != (k) || (sense).code != (c) ||                       \
        (sense).qualifier != (q)) {                                                                   \
      fail(__LINE__, std::string(#status ": status ") + std::to_string(st) + " sense " +              \
                         senseText(sense));                                                           \
    }                                                                                                 \
  } while (0)

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Image {
  std::vector<std::uint8_t> bytes;
  std::uint32_t blocks() const { return static_cast<std::uint32_t>(bytes.size() / 2048); }
  std::string volumeId() const {
    std::string id(reinterpret_cast<const char*>(bytes.data()) + 16 * 2048 + 40, 32);
    while (!id.empty() && id.back() == ' ') id.pop_back();
    return id;
  }
};

Image fixture(const std::string& name) {
  Image image{readFile("/fixture/" + name)};
  if (image.bytes.size() < 17 * 2048) fail(__LINE__, "fixture " + name + " missing");
  return image;
}

// ---- the host side ----

std::string askHost(const std::string& command) {
  std::printf("QUILLION-HOST %s\n", command.c_str());
  std::fflush(stdout);
  char line[512];
  while (std::fgets(line, sizeof line, stdin)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    constexpr const char* kDone = "QUILLION-DONE";
    if (text.rfind(kDone, 0) == 0) return text.size() > 14 ? text.substr(14) : std::string();
  }
  fail(__LINE__, "no answer from the host to: " + command);
  return {};
}

// ---- device control ----

int g_discChanges = 0;
void onDiscChanged(void*, std::uint32_t ref, bool) {
  if (ref) ++g_discChanges;
}

// Pumps device events until the disc-changed callback has run `count` more times, or the
// bound passes.
bool waitForDiscChange(int before, std::chrono::seconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (g_discChanges <= before && std::chrono::steady_clock::now() < deadline) {
    pollfd p{quillion::deviceEventFd(), POLLIN, 0};
    ::poll(&p, 1, 100);
    (void)quillion::pumpDeviceEvents();
  }
  return g_discChanges > before;
}

std::uint32_t theDrive() {
  DC_Device* list = nullptr;
  const std::uint16_t n = GDT_GetConnectedDeviceList(&list);
  CHECK_EQ(n, 1);
  const std::uint32_t ref = n ? list[0].ref : 0;
  std::free(list);
  return ref;
}

DC_Device describe(std::uint32_t ref) {
  DC_Device* list = nullptr;
  const std::uint16_t n = GDT_GetConnectedDeviceList(&list);
  DC_Device d{};
  for (std::uint16_t i = 0; i < n; ++i)
    if (list[i].ref == ref) d = list[i];
  std::free(list);
  return d;
}

// ---- checks shared by the scenarios ----

std::uint32_t readCapacity(std::uint32_t ref, MMC_SenseData& sense) {
  std::uint8_t cdb[12] = {0x25};
  std::array<std::uint8_t, 8> reply{};
  if (DC_ExecuteMMCCmd_Sync(ref, cdb, 12, reply.data(), reply.size(), kDC_DataIn, 30000, &sense) != kNoErr) return 0;
  return (std::uint32_t{reply[0]} << 24 | reply[1] << 16 | reply[2] << 8 | reply[3]) + 1;
}

// The lead-out of the full TOC, read here from the raw reply rather than by the engine's parser.
std::int64_t leadOutOfToc(const std::uint8_t* toc, std::uint32_t length) {
  for (std::uint32_t at = 4; at + 11 <= length; at += 11) {
    if (toc[at + 3] == 0xA2) return (toc[at + 8] * 60 + toc[at + 9]) * 75 + toc[at + 10] - 150;
  }
  return -1;
}

// The disc is described as the one data track of the image.
void checkDescription(std::uint32_t ref, const Image& image) {
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  const EngineStatus status = GDT_GetDiscInfo(ref, &info, &sense);
  CHECK_EQ(status, kNoErr);
  if (status != kNoErr || !info) {
    fail(__LINE__, "GDT_GetDiscInfo sense " + senseText(sense));
    return;
  }
  CHECK_EQ(info->discState, kGDT_DiscClosed);
  CHECK_EQ(info->mediumClass, kGDT_MediumCD);
  CHECK_EQ(info->discKind, 0);
  CHECK_EQ(info->discType, 0);
  CHECK_EQ(info->erasable, 0);
  CHECK_EQ(info->sessions, 1);
  CHECK_EQ(info->audioTracks, 0);
  CHECK_EQ(info->freeBlocks, 0u);
  CHECK_EQ(info->usedBlocks, image.blocks());
  CHECK_EQ(info->largestSession, image.blocks());
  CHECK_EQ(info->trackCount, 1);
  if (info->trackCount == 1) {
    const GDT_OneTrack& t = GDT_Tracks(info)[0];
    CHECK_EQ(t.session, 1);
    CHECK_EQ(t.track, 1);
    CHECK_EQ(t.mode, kGDT_ModeData1);
    CHECK_EQ(t.start, 0u);
    CHECK_EQ(t.length, image.blocks());
  }
  std::free(info);

  CHECK_EQ(readCapacity(ref, sense), image.blocks());

  std::uint8_t* toc = nullptr;
  std::uint32_t tocLength = 0;
  CHECK_EQ(GDT_GetTOC(ref, &toc, &tocLength), kNoErr);
  CHECK(toc != nullptr);
  if (toc) CHECK_EQ(leadOutOfToc(toc, tocLength), std::int64_t{image.blocks()});
  std::free(toc);
}

// Every block read back through SG_IO equals the image.
void checkReadBack(std::uint32_t ref, const Image& image, bool useRead12) {
  constexpr std::uint32_t kChunk = 32;
  std::vector<std::uint8_t> buffer(kChunk * 2048);
  for (std::uint32_t lba = 0; lba < image.blocks(); lba += kChunk) {
    const std::uint32_t n = std::min(kChunk, image.blocks() - lba);
    MMC_SenseData sense{};
    const EngineStatus status = GDT_Get2048DataBlocks(ref, buffer.data(), lba, n, useRead12, &sense);
    if (status != kNoErr) {
      fail(__LINE__, "read at " + std::to_string(lba) + ": " + std::to_string(status) + " " + senseText(sense));
      return;
    }
    if (std::memcmp(buffer.data(), image.bytes.data() + std::size_t{lba} * 2048, n * 2048) != 0) {
      fail(__LINE__, "blocks from " + std::to_string(lba) + " differ from the image");
      return;
    }
  }
}

std::string volumeIdOnDisc(std::uint32_t ref) {
  std::vector<std::uint8_t> block(2048);
  MMC_SenseData sense{};
  const EngineStatus status = GDT_Get2048DataBlocks(ref, block.data(), 16, 1, true, &sense);
  if (status != kNoErr) return "(read failed: " + std::to_string(status) + " " + senseText(sense) + ")";
  std::string id(reinterpret_cast<const char*>(block.data()) + 40, 32);
  while (!id.empty() && id.back() == ' ') id.pop_back();
  return id;
}

void checkNoMedium(std::uint32_t ref, int line) {
  GDT_DiscInfo* info = nullptr;
  MMC_SenseData sense{};
  const EngineStatus status = GDT_GetDiscInfo(ref, &info, &sense);
  std::free(info);
  if (status != kErrCheckCondition || sense.code != 0x3A) {
    fail(line, "no medium expected, got " + std::to_string(status) + " " + senseText(sense));
  }
}

// ---- scenarios ----

// A data disc: the drive is found and described, the disc agrees with the image, reading,
// the commands QEMU refuses, lock, eject and load.
void scenarioDisc() {
  const Image one = fixture("one.iso");
  const std::uint32_t ref = theDrive();
  const DC_Device d = describe(ref);
  CHECK_STR(d.vendor, "QEMU");
  CHECK_STR(d.model, g_scsi ? "QEMU CD-ROM" : "QEMU DVD-ROM");
  CHECK_STR(d.rev, "2.5+");
  CHECK_STR(d.interface, g_scsi ? "SCSI" : "ATAPI");
  CHECK_EQ(d.RWCapability, kDC_MMCDevice);
  CHECK_EQ(d.cacheSizeInKB, g_scsi ? 2048u : 512u);
  CHECK(!GDT_IsPureReader(ref));
  CHECK(!GDT_isSONYWriteContinueDrive(ref));

  char path[32];
  CHECK_EQ(GDT_GetBSDPath(ref, path, sizeof path, true), kNoErr);
  CHECK_STR(path, "/dev/sr0");
  CHECK_EQ(GDT_GetBSDPath(ref, path, sizeof path, false), kNoErr);
  CHECK_STR(path, "sr0");

  checkDescription(ref, one);
  checkReadBack(ref, one, true);
  MMC_SenseData sense{};
  std::vector<std::uint8_t> block(2048);
  if (g_scsi) {
    CHECK_SENSE(GDT_Get2048DataBlocks(ref, block.data(), 16, 1, false, &sense), sense, 5, 0x20, 0);
  } else {
    checkReadBack(ref, one, false);  // READ CD, which only the ATAPI drive offers
  }
  CHECK_SENSE(GDT_Get2048DataBlocks(ref, block.data(), one.blocks(), 1, true, &sense), sense, 5, 0x21, 0);
  // Nothing to move: refused before the drive sees it (libata would hang on it for 20 s).
  CHECK_EQ(GDT_Get2048DataBlocks(ref, block.data(), 16, 0, true, &sense), kErrBadArgument);

  std::array<std::uint8_t, 34> discInfo{};
  CHECK_EQ(GDT_GetMMCDiscInfo(ref, discInfo.data(), discInfo.size(), &sense), kNoErr);
  CHECK_EQ(discInfo[2] & 0x03, 2);  // complete

  char* text = nullptr;
  std::uint32_t entries = 7;
  CHECK_EQ(GDT_CDTEXTInfo(ref, &text, &entries), kNoErr);
  CHECK(text == nullptr);
  CHECK_EQ(entries, 0u);

  // What QEMU does not offer comes back with its status and sense, never as success.
  std::uint16_t flags = 0;
  std::uint32_t blockSize = 0, start = 0, length = 0;
  CHECK_SENSE(GDT_GetSimepleTrackInfo(ref, 1, &flags, &blockSize, &start, &length, &sense), sense, 5, 0x20, 0);
  std::array<std::uint8_t, 48> trackInfo{};
  CHECK_SENSE(MMC_GetTrackInfo(ref, 1, trackInfo.data(), trackInfo.size(), &sense), sense, 5, 0x20, 0);
  if (g_scsi) {
    CHECK_SENSE(MMC_WriteSectors(ref, 0, block.data(), 2048, 1, &sense), sense, 7, 0x27, 0);
  } else {
    CHECK_SENSE(MMC_WriteSectors(ref, 0, block.data(), 2048, 1, &sense), sense, 5, 0x20, 0);
  }
  CHECK_SENSE(MMC_Blank(ref, 0x11, &sense), sense, 5, 0x20, 0);
  CHECK_SENSE(MMC_CloseSessionTrack(ref, 1, 1, false, &sense), sense, 5, 0x20, 0);
  CHECK_SENSE(MMC_CloseSessionTrack(ref, 2, 0, false, &sense), sense, 5, 0x20, 0);

  // Lock, eject and load: a locked tray refuses the eject (each transport with its own sense),
  // GDT_Eject allows removal first and tells the disc-changed callbacks.
  CHECK_EQ(GDT_TrayStatus(ref), 0);
  CHECK_EQ(GDT_Lock(ref, &sense), kNoErr);
  if (g_scsi) {
    CHECK_SENSE(MMC_Eject(ref, false, &sense), sense, 5, 0x53, 2);
  } else {
    CHECK_SENSE(MMC_Eject(ref, false, &sense), sense, 2, 0x53, 0);
  }
  CHECK_EQ(GDT_TrayStatus(ref), 0);
  CHECK_EQ(GDT_ReserveDrive(ref, true), kNoErr);
  CHECK_EQ(GDT_TrayStatus(ref), 0);  // asked of the drive while held
  const int before = g_discChanges;
  CHECK_EQ(GDT_Eject(ref, &sense, false), kNoErr);
  CHECK_EQ(g_discChanges, before + 1);
  CHECK_EQ(GDT_TrayStatus(ref), 1);
  checkNoMedium(ref, __LINE__);
  CHECK_STR(volumeIdOnDisc(ref).substr(0, 13), "(read failed:");
  // Loading brings no unit attention and no event: the next queries see the disc at once.
  CHECK_EQ(GDT_Load(ref, &sense), kNoErr);
  CHECK_EQ(GDT_TrayStatus(ref), 0);
  checkDescription(ref, one);
  CHECK_STR(volumeIdOnDisc(ref), one.volumeId());
}

// An empty tray, then a disc inserted from the host.
void scenarioEmpty() {
  const Image one = fixture("one.iso");
  const std::uint32_t ref = theDrive();
  CHECK_STR(describe(ref).vendor, "QEMU");
  MMC_SenseData sense{};
  CHECK_SENSE(MMC_TestUnitReady(ref, &sense), sense, 2, 0x3A, 0);
  checkNoMedium(ref, __LINE__);
  CHECK_EQ(GDT_TrayStatus(ref), 0);
  char path[32] = "x";
  CHECK_EQ(GDT_GetBSDPath(ref, path, sizeof path, true), kNoErr);
  CHECK_STR(path, "");
  std::uint8_t* toc = nullptr;
  std::uint32_t tocLength = 0;
  CHECK_EQ(GDT_GetTOC(ref, &toc, &tocLength), kNoErr);
  CHECK(toc == nullptr);
  std::free(toc);

  const int before = g_discChanges;
  askHost("change cd0 @one.iso raw read-only");
  CHECK(waitForDiscChange(before, std::chrono::seconds(20)));
  checkDescription(ref, one);
  CHECK_STR(volumeIdOnDisc(ref), one.volumeId());
}

// Media changes driven from the host: eject, change, and a forced eject of a locked tray. The
// disc-changed callback fires each time and the next queries see the new state. QEMU reports
// no removal event, so the kernel's polling does not notice an eject by itself: the next query
// opens the drive, the kernel looks, and the callback follows.
void scenarioChange() {
  const Image one = fixture("one.iso");
  const Image two = fixture("two.iso");
  const std::uint32_t ref = theDrive();
  checkDescription(ref, one);

  int before = g_discChanges;
  askHost("eject cd0");
  checkNoMedium(ref, __LINE__);
  CHECK(waitForDiscChange(before, std::chrono::seconds(20)));
  CHECK_EQ(GDT_TrayStatus(ref), 1);

  before = g_discChanges;
  askHost("change cd0 @two.iso raw read-only");
  CHECK(waitForDiscChange(before, std::chrono::seconds(20)));
  checkDescription(ref, two);
  CHECK_STR(volumeIdOnDisc(ref), two.volumeId());
  // The two discs share no block past the system area, so a block served from the old disc
  // or from a stale cache shows here.
  checkReadBack(ref, two, true);

  MMC_SenseData sense{};
  CHECK_EQ(GDT_Lock(ref, &sense), kNoErr);
  const std::string refused = askHost("eject cd0");
  CHECK(refused.find("is locked") != std::string::npos);
  checkDescription(ref, two);

  before = g_discChanges;
  askHost("eject -f cd0");
  checkNoMedium(ref, __LINE__);
  CHECK(waitForDiscChange(before, std::chrono::seconds(20)));
  CHECK_EQ(GDT_Unlock(ref, &sense), kNoErr);

  before = g_discChanges;
  askHost("change cd0 @one.iso raw read-only");
  CHECK(waitForDiscChange(before, std::chrono::seconds(20)));
  checkDescription(ref, one);
  checkReadBack(ref, one, true);
}

// Changes while the drive is held (DC_LockDevice): no open of the device node lets the kernel
// look at the drive, so only the layer itself sees the unit attentions, and it must read the
// capacity again before reading the new, larger disc.
void scenarioHeld() {
  const Image one = fixture("one.iso");
  const Image big = fixture("big.iso");
  const std::uint32_t ref = theDrive();
  checkDescription(ref, one);
  CHECK_EQ(GDT_ReserveDrive(ref, true), kNoErr);

  askHost("eject cd0");
  checkNoMedium(ref, __LINE__);
  CHECK_EQ(GDT_TrayStatus(ref), 1);
  askHost("change cd0 @big.iso raw read-only");
  // Past the end of the old disc, inside the new one.
  std::vector<std::uint8_t> block(2048);
  MMC_SenseData sense{};
  const std::uint32_t lba = one.blocks() + 10;
  const EngineStatus status = GDT_Get2048DataBlocks(ref, block.data(), lba, 1, true, &sense);
  CHECK_EQ(status, kNoErr);
  if (status == kNoErr) {
    CHECK(std::memcmp(block.data(), big.bytes.data() + std::size_t{lba} * 2048, 2048) == 0);
  } else {
    fail(__LINE__, "read of the new disc: " + senseText(sense));
  }
  checkDescription(ref, big);
  CHECK_STR(volumeIdOnDisc(ref), big.volumeId());
  checkReadBack(ref, big, true);
  CHECK_EQ(GDT_ReserveDrive(ref, false), kNoErr);
}

// The kernel's own media polling, as a desktop sets it: it sees changes the drive reports
// no event for, but it also takes unit attentions and raises change events of its own, which
// the scenarios that count callbacks or hold the drive must not see.
bool setKernelPolling(bool on) {
  std::ofstream poll("/sys/block/sr0/events_poll_msecs");
  poll << (on ? "250" : "0") << '\n';
  return static_cast<bool>(poll.flush());
}

struct GuestScenario {
  void (*run)();
  bool kernelPolls;
};

// One scenario, in a drive layer of its own: what one leaves held or installed never
// reaches the next of the same boot.
bool runScenario(const GuestScenario& scenario, const std::string& arg, const std::string& transport) {
  g_failures = 0;
  g_discChanges = 0;
  g_scsi = transport == "scsi";
  if (!setKernelPolling(scenario.kernelPolls)) fail(__LINE__, "could not set the kernel's media polling");
  (void)DC_Init(1000);
  (void)DC_InstallDiscChangedCallback(onDiscChanged, nullptr);
  scenario.run();
  DC_Term();
  std::printf("QUILLION-RESULT: %s %s\n", g_failures ? "FAIL" : "PASS", arg.c_str());
  return g_failures == 0;
}

}  // namespace

// The argument is a comma-separated list of "<scenario>:<transport>", run in order in this
// one boot; each ends with its own verdict line.
int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::map<std::string, GuestScenario> scenarios = {
      {"disc", {scenarioDisc, false}},
      {"empty", {scenarioEmpty, true}},
      {"change", {scenarioChange, true}},
      {"held", {scenarioHeld, false}},
  };
  std::string list = argc > 1 ? argv[1] : "";
  bool allPassed = !list.empty();
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string arg = list.substr(0, comma);
    list = comma == std::string::npos ? "" : list.substr(comma + 1);
    const std::size_t colon = arg.find(':');
    const std::string transport = colon == std::string::npos ? "" : arg.substr(colon + 1);
    const auto it = scenarios.find(arg.substr(0, colon));
    if (it == scenarios.end() || (transport != "scsi" && transport != "atapi")) {
      std::printf("QUILLION-RESULT: FAIL %s (unknown scenario)\n", arg.c_str());
      allPassed = false;
      continue;
    }
    allPassed = runScenario(it->second, arg, transport) && allPassed;
  }
  return allPassed ? 0 : 1;
}
