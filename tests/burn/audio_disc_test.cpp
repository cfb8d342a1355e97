// SPDX-License-Identifier: GPL-2.0-or-later
// Audio layouts burned session at once to emulated CD recorders through the flat API, and
// copies of such a disc: the cue sheet the drive received, the disc split by bchunk against the
// source files, the lead-in CD-Text decoded by libcdio with every pack's CRC checked, and the
// copy compared with the original.
#include <cdio/cdtext.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device_environment.h"
#include "quillion/AudioNodeInfo.h"
#include "quillion/BP.h"
#include "quillion/FS.h"
#include "run_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace quillion::test;
using quillion::emu::DeviceEnvironment;
using quillion::emu::EmulatedDrive;
using quillion::emu::Medium;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kCDRBlocks = 359'846;
constexpr std::size_t kCDDABytes = 2352;

struct SourceTrack {
  std::uint32_t blocks;
  std::int16_t pause;  // seconds; -1 not set
  std::string title;
  std::string performer;
};

void putLE(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A 44.1 kHz, 16-bit stereo WAV file around `pcm`.
void writeWav(const fs::path& path, const std::string& pcm) {
  std::string header(44, '\0');
  std::memcpy(header.data(), "RIFF", 4);
  putLE(header, 4, static_cast<std::uint32_t>(36 + pcm.size()), 4);
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  putLE(header, 16, 16, 4);
  putLE(header, 20, 1, 2);
  putLE(header, 22, 2, 2);
  putLE(header, 24, 44'100, 4);
  putLE(header, 28, 176'400, 4);
  putLE(header, 32, 4, 2);
  putLE(header, 34, 16, 2);
  std::memcpy(header.data() + 36, "data", 4);
  putLE(header, 40, static_cast<std::uint32_t>(pcm.size()), 4);
  writeFile(path, header + pcm);
}

// The audio layout: one WAV file per track, each node with its record and pause.
struct AudioLayout {
  AudioLayout(const fs::path& folder, const std::vector<SourceTrack>& tracks) : list(initList()) {
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      const fs::path path = folder / ("track" + std::to_string(i + 1) + ".wav");
      pcm.push_back(patternBytes(tracks[i].blocks * kCDDABytes, static_cast<unsigned>(i + 7)));
      writeWav(path, pcm.back());
      FS_Node* node = initNode(path.c_str(), path.filename().c_str(), nullptr, false);
      auto* info = static_cast<AudioNodeInfo*>(std::calloc(1, sizeof(AudioNodeInfo)));
      std::snprintf(info->cdText.cdTextTitle, 160, "%s", tracks[i].title.c_str());
      std::snprintf(info->cdText.cdTextPerformer, 160, "%s", tracks[i].performer.c_str());
      info->gain = 1.0f;
      SetUserData(node, info);
      SetPauseLength(node, tracks[i].pause);
      EXPECT_EQ(AppendItem(list, node), kNoErr);
    }
  }
  ~AudioLayout() { termList(list); }
  AudioLayout(const AudioLayout&) = delete;
  AudioLayout& operator=(const AudioLayout&) = delete;

  FS_List* list;
  std::vector<std::string> pcm;
};

std::array<std::uint8_t, 800> discText(const std::string& title, const std::string& performer) {
  std::array<std::uint8_t, 800> block{};
  std::snprintf(reinterpret_cast<char*>(block.data()), 160, "%s", title.c_str());
  std::snprintf(reinterpret_cast<char*>(block.data()) + 160, 160, "%s", performer.c_str());
  return block;
}

// A job through the flat API to one destination drive, burned and joined.
struct DriveJob {
  DriveJob(BP_JobKind kind, BP_JobRoute route) {
    ref = BP_Create(BP_MakeJobCode(kind, route), &shared, 1);
    keep(BP_SetThreadCreatorCallback(ref, TestThreads::create));
    shared->logFile = log.file();
  }
  ~DriveJob() {
    (void)TestThreads::instance().join();
    shared->logFile = nullptr;
    (void)BP_Delete(ref);
  }
  void keep(EngineStatus s) {
    if (setUp == kNoErr) setUp = s;
  }
  // BP_PrepareBurn, BP_Burn, then the threads joined; the first status that is not 0.
  EngineStatus burn() {
    if (setUp != kNoErr) return setUp;
    std::uint32_t blocks = 0;
    if (const EngineStatus s = BP_PrepareBurn(ref, &blocks, nullptr); s != kNoErr) return s;
    if (const EngineStatus s = BP_Burn(ref); s != kNoErr) return s;
    if (!TestThreads::instance().join()) return kErrCancelled;
    if (shared->readErrorCode != 0) return shared->readErrorCode;
    return shared->writers[0].errorCode;
  }

  CapturedLog log;
  BP_RuntimeSharedData* shared = nullptr;
  BP_JobRef ref = 0;
  EngineStatus setUp = kNoErr;
};

struct CueEntry {
  std::uint8_t control, track, index, form;
  std::uint32_t frames;
  bool operator==(const CueEntry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CueEntry& e) {
  return os << std::hex << int{e.control} << '/' << int{e.track} << '/' << int{e.index} << '/'
            << int{e.form} << std::dec << " @" << e.frames;
}

// The cue sheets the drive received with SEND CUE SHEET, in order.
std::vector<std::vector<CueEntry>> sentCueSheets(const EmulatedDrive& drive) {
  std::vector<std::vector<CueEntry>> out;
  for (const auto& c : drive.log()) {
    if (c.cdb.empty() || c.cdb[0] != 0x5D || c.status != 0) continue;
    std::vector<CueEntry> sheet;
    for (std::size_t at = 0; at + 8 <= c.dataOut.size(); at += 8) {
      const std::uint8_t* e = &c.dataOut[at];
      sheet.push_back({e[0], e[1], e[2], e[3], (e[5] * 60u + e[6]) * 75u + e[7]});
    }
    out.push_back(sheet);
  }
  return out;
}

// The 18-byte packs of raw 96-byte lead-in blocks (four 24-byte raw packs each), as many as
// `count`.
Bytes packsFromLeadIn(const Bytes& raw, std::size_t count) {
  Bytes packs;
  for (std::size_t i = 0; i + 4 <= raw.size() && packs.size() < count * 18; i += 4) {
    packs.push_back(static_cast<std::uint8_t>((raw[i] & 0x3F) << 2 | (raw[i + 1] & 0x3F) >> 4));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 1] & 0x0F) << 4 | (raw[i + 2] & 0x3F) >> 2));
    packs.push_back(static_cast<std::uint8_t>((raw[i + 2] & 0x03) << 6 | (raw[i + 3] & 0x3F)));
  }
  return packs;
}

// One cycle of the lead-in's packs: up to the last size pack (type 8Fh, track number 2).
Bytes firstPackCycle(const Bytes& raw) {
  const Bytes packs = packsFromLeadIn(raw, 256);
  for (std::size_t at = 0; at + 18 <= packs.size(); at += 18) {
    if (packs[at] == 0x8F && packs[at + 1] == 2)
      return Bytes(packs.begin(), packs.begin() + static_cast<std::ptrdiff_t>(at + 18));
  }
  return {};
}

// Every pack's CRC, by python3's CRC-CCITT: the check prints the first bad pack or "ok".
std::string crcCheck(const fs::path& packs) {
  return toolOutput(
      {"python3", "-c",
       "import binascii,sys\n"
       "d=open(sys.argv[1],'rb').read()\n"
       "bad=[i for i in range(0,len(d)-17,18) "
       "if binascii.crc_hqx(d[i:i+16],0)^0xFFFF!=int.from_bytes(d[i+16:i+18],'big')]\n"
       "print('ok' if d and not bad else 'bad %s' % bad[:1])",
       packs.string()});
}

class AudioDisc : public ::testing::Test {
 protected:
  void SetUp() override { TestThreads::instance().reset(); }
  void TearDown() override { TestThreads::instance().reset(); }

  std::shared_ptr<EmulatedDrive> blankCDR(const std::string& name) {
    auto drive = env.plug(name, "cd-writer");
    drive->load(env.blankDisc(name, 0x09, kCDRBlocks));
    return drive;
  }

  fs::path mediumFolder(const std::string& name) const { return env.folder() / (name + ".medium"); }

  // The disc of `drive` as a bin/cue pair in `folder`.
  fs::path dump(EmulatedDrive& drive, const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path cue = folder / "disc.cue";
    bool written = false;
    EXPECT_TRUE(drive.withMedium([&](Medium& m) { written = m.dumpBinCue(cue); }));
    EXPECT_TRUE(written);
    return cue;
  }

  DeviceEnvironment env;
  TempDir dir;
};

const std::vector<SourceTrack> kTracks = {
    {310, -1, "Opening", "First Band"},
    {420, -1, "Middle", "Second Band"},  // pause not set: two seconds
    {300, 3, "", "Third Band"},          // an empty title still has its place
};

TEST_F(AudioDisc, AnAudioLayoutWithPausesAndCDTextIsWrittenAtOnce) {
  QUILLION_REQUIRE_TOOL("bchunk");
  QUILLION_REQUIRE_TOOL("cd-info");
  QUILLION_REQUIRE_TOOL("python3");
  auto drive = blankCDR("writer");
  env.start();
  const std::uint32_t ref = DeviceEnvironment::refOf("writer");
  ASSERT_NE(ref, 0u);
  AudioLayout layout(dir.path(), kTracks);

  DriveJob job(kBP_KindAudio, kBP_RouteLayoutToDrives);
  job.keep(BP_SetAudioList(job.ref, layout.list));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetEncodeCDText(job.ref, true));
  job.keep(BP_SetCloseDisc(job.ref, true));
  const auto text = discText("Quillion Sampler", "Various");
  job.keep(BP_SetDiscAudio_CDText(job.ref, text.data()));
  job.keep(BP_SetDstDevice(job.ref, ref));
  ASSERT_EQ(job.burn(), kNoErr) << job.log.text();

  // The cue sheet: the lead-in with CD-Text; track 1 after the 2-second pregap, then each
  // track's pause as its index 0 (the unset pause is two seconds, three seconds for track 3).
  const std::vector<std::vector<CueEntry>> sheets = sentCueSheets(*drive);
  ASSERT_EQ(sheets.size(), 1u);
  const std::vector<CueEntry> want = {{0x01, 0x00, 0, 0x41, 0},    {0x01, 0x01, 0, 0x00, 0},
                                      {0x01, 0x01, 1, 0x00, 150},  {0x01, 0x02, 0, 0x00, 460},
                                      {0x01, 0x02, 1, 0x00, 610},  {0x01, 0x03, 0, 0x00, 1030},
                                      {0x01, 0x03, 1, 0x00, 1255}, {0x01, 0xAA, 1, 0x01, 1555}};
  EXPECT_EQ(sheets[0], want);

  // bchunk splits the disc into its tracks: each is its source's samples, the pause before the
  // next track being silence at its end.
  const fs::path cue = dump(*drive, dir.path() / "dump");
  fs::path bin = cue;
  bin.replace_extension(".bin");
  const ToolResult split = runTool({"bchunk", "-w", bin.string(), cue.string(), "trk"},
                                   ToolOptions{dir.path() / "dump"});
  ASSERT_EQ(split.exitCode, 0) << split.output;
  for (std::size_t i = 0; i < kTracks.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "trk%02zu.wav", i + 1);
    const std::string wav = readText(dir.path() / "dump" / name);
    ASSERT_GT(wav.size(), 44u) << name;
    const std::string samples = wav.substr(44);
    ASSERT_GE(samples.size(), layout.pcm[i].size()) << name;
    EXPECT_TRUE(samples.compare(0, layout.pcm[i].size(), layout.pcm[i]) == 0) << name;
    EXPECT_EQ(samples.find_first_not_of('\0', layout.pcm[i].size()), std::string::npos)
        << name << ": only silence after the source";
  }

  // The lead-in: the packs repeat; one cycle decodes with libcdio, every CRC holds.
  const Bytes raw = readFile(mediumFolder("writer") / "leadin-cdtext.raw");
  ASSERT_GE(raw.size(), 96u * 100);
  const Bytes one = firstPackCycle(raw);
  ASSERT_FALSE(one.empty());
  writeFile(dir.path() / "leadin.cdt", one);
  EXPECT_EQ(crcCheck(dir.path() / "leadin.cdt"), "ok\n");
  cdtext_t* decoded = cdtext_init();
  Bytes copy = one;
  ASSERT_EQ(cdtext_data_init(decoded, copy.data(), copy.size()), 0);
  const auto field = [&](cdtext_field_t f, track_t t) {
    const char* s = cdtext_get_const(decoded, f, t);
    return std::string(s ? s : "");
  };
  EXPECT_EQ(field(CDTEXT_FIELD_TITLE, 0), "Quillion Sampler");
  EXPECT_EQ(field(CDTEXT_FIELD_PERFORMER, 0), "Various");
  EXPECT_EQ(field(CDTEXT_FIELD_TITLE, 1), "Opening");
  EXPECT_EQ(field(CDTEXT_FIELD_TITLE, 2), "Middle");
  EXPECT_EQ(field(CDTEXT_FIELD_TITLE, 3), "");
  EXPECT_EQ(field(CDTEXT_FIELD_PERFORMER, 3), "Third Band");
  cdtext_destroy(decoded);

  // cd-info reads the same texts from the dump with the packs beside it.
  std::string cueText = readText(cue);
  cueText = "CDTEXTFILE \"leadin.cdt\"\n" + cueText;
  fs::copy_file(dir.path() / "leadin.cdt", dir.path() / "dump" / "leadin.cdt");
  writeFile(cue, cueText);
  const std::string info =
      toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", cue.string()});
  EXPECT_NE(info.find("Quillion Sampler"), std::string::npos) << info;
  EXPECT_NE(info.find("Middle"), std::string::npos) << info;
  // Track starts as the cue sheet put them: index 1 lies 150 frames after its time.
  EXPECT_NE(info.find("  2: 00:08:10  000460 audio"), std::string::npos) << info;
  EXPECT_NE(info.find("  3: 00:16:55  001105 audio"), std::string::npos) << info;
  EXPECT_NE(info.find("170: 00:20:55  001405 leadout"), std::string::npos) << info;
  EXPECT_NE(info.find("Third Band"), std::string::npos) << info;
}

TEST_F(AudioDisc, ABinCueCopyOfTheDiscToAnotherRecorderIsTheSame) {
  QUILLION_REQUIRE_TOOL("cd-info");
  auto original = blankCDR("original");
  auto copy = blankCDR("copy");
  env.start();
  AudioLayout layout(dir.path(), kTracks);
  DriveJob burn(kBP_KindAudio, kBP_RouteLayoutToDrives);
  burn.keep(BP_SetAudioList(burn.ref, layout.list));
  burn.keep(BP_SetSAO(burn.ref, true));
  burn.keep(BP_SetCloseDisc(burn.ref, true));
  burn.keep(BP_SetDstDevice(burn.ref, DeviceEnvironment::refOf("original")));
  ASSERT_EQ(burn.burn(), kNoErr) << burn.log.text();
  const fs::path source = dump(*original, dir.path() / "original");

  DriveJob job(kBP_KindDeviceCopy, kBP_RouteImageToDrives);
  job.keep(BP_SetSrcImageFilePath(job.ref, source.c_str(), 7, 0));
  job.keep(BP_SetSrcDevice(job.ref, kBP_NativeImageWriter));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetCloseDisc(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("copy")));
  ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  const fs::path copied = dump(*copy, dir.path() / "copy");

  // Every sample of the original at the same address; the copy may end in run-out silence.
  fs::path originalBin = source, copiedBin = copied;
  originalBin.replace_extension(".bin");
  copiedBin.replace_extension(".bin");
  const std::string a = readText(originalBin), b = readText(copiedBin);
  ASSERT_EQ(a.size(), 1405u * kCDDABytes);
  ASSERT_GE(b.size(), a.size());
  EXPECT_TRUE(b.compare(0, a.size(), a) == 0);
  EXPECT_EQ(b.find_first_not_of('\0', a.size()), std::string::npos);
  // The tracks begin where they began.
  const auto tracks = [](const fs::path& cue) {
    const std::string info =
        toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", cue.string()});
    std::string lines;
    for (const char* n : {"  1: ", "  2: ", "  3: "}) {
      const std::size_t at = info.find(n);
      lines += at == std::string::npos ? std::string("?") : info.substr(at, 30);
    }
    return lines;
  };
  EXPECT_EQ(tracks(copied), tracks(source));
  EXPECT_NE(tracks(copied).find("000460 audio"), std::string::npos) << tracks(copied);
}

TEST_F(AudioDisc, ACopyFromTheRecorderTakesTheSamplesAndTheCDText) {
  QUILLION_REQUIRE_TOOL("cd-info");
  auto original = blankCDR("original");
  auto copy = blankCDR("copy");
  env.start();
  AudioLayout layout(dir.path(), kTracks);
  DriveJob burn(kBP_KindAudio, kBP_RouteLayoutToDrives);
  burn.keep(BP_SetAudioList(burn.ref, layout.list));
  burn.keep(BP_SetSAO(burn.ref, true));
  burn.keep(BP_SetEncodeCDText(burn.ref, true));
  const auto text = discText("Quillion Sampler", "Various");
  burn.keep(BP_SetDiscAudio_CDText(burn.ref, text.data()));
  burn.keep(BP_SetCloseDisc(burn.ref, true));
  burn.keep(BP_SetDstDevice(burn.ref, DeviceEnvironment::refOf("original")));
  ASSERT_EQ(burn.burn(), kNoErr) << burn.log.text();

  DriveJob job(kBP_KindDeviceCopy, kBP_RouteDriveToDrives);
  job.keep(BP_SetSrcDevice(job.ref, DeviceEnvironment::refOf("original")));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetCloseDisc(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("copy")));
  ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  EXPECT_NE(job.log.text().find("prepareSessionTAODequeByMMC()"), std::string::npos);

  const fs::path a = dump(*original, dir.path() / "original");
  const fs::path b = dump(*copy, dir.path() / "copy");
  fs::path aBin = a, bBin = b;
  aBin.replace_extension(".bin");
  bBin.replace_extension(".bin");
  const std::string from = readText(aBin), to = readText(bBin);
  ASSERT_EQ(from.size(), 1405u * kCDDABytes);
  ASSERT_GE(to.size(), from.size());
  EXPECT_TRUE(to.compare(0, from.size(), from) == 0);
  EXPECT_EQ(to.find_first_not_of('\0', from.size()), std::string::npos);

  // The source's CD-Text, read with READ TOC, is in the copy's lead-in: the same packs.
  const Bytes original_packs =
      firstPackCycle(readFile(mediumFolder("original") / "leadin-cdtext.raw"));
  const Bytes copied_packs = firstPackCycle(readFile(mediumFolder("copy") / "leadin-cdtext.raw"));
  ASSERT_FALSE(original_packs.empty());
  EXPECT_EQ(copied_packs, original_packs);
  const std::vector<std::vector<CueEntry>> sheets = sentCueSheets(*copy);
  ASSERT_EQ(sheets.size(), 1u);
  ASSERT_FALSE(sheets[0].empty());
  EXPECT_EQ(sheets[0][0], (CueEntry{0x01, 0x00, 0, 0x41, 0})) << "lead-in with CD-Text";
}

TEST_F(AudioDisc, ANativeImageOfTheLayoutIsCopiedToARecorderWithItsCDText) {
  QUILLION_REQUIRE_TOOL("bchunk");
  auto copy = blankCDR("copy");
  env.start();
  AudioLayout layout(dir.path(), kTracks);
  const fs::path image = dir.path() / "sampler.wlt";
  {
    DriveJob job(kBP_KindAudio, kBP_RouteLayoutToImage);
    job.keep(BP_SetAudioList(job.ref, layout.list));
    job.keep(BP_SetEncodeCDText(job.ref, true));
    const auto text = discText("Quillion Sampler", "Various");
    job.keep(BP_SetDiscAudio_CDText(job.ref, text.data()));
    job.keep(BP_SetDstImageFilePath(job.ref, image.c_str(), kBP_DstNativeImage));
    job.keep(BP_SetDstDevice(job.ref, kBP_NativeImageWriter));
    ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  }
  DriveJob job(kBP_KindDeviceCopy, kBP_RouteImageToDrives);
  job.keep(BP_SetSrcImageFilePath(job.ref, image.c_str(), 1, 0));
  job.keep(BP_SetSrcDevice(job.ref, kBP_NativeImageWriter));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetCloseDisc(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("copy")));
  ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  EXPECT_NE(job.log.text().find("prepareSessionTAODequeByImage()"), std::string::npos);

  // Each track's samples, in order.
  const fs::path cue = dump(*copy, dir.path() / "copy");
  fs::path bin = cue;
  bin.replace_extension(".bin");
  const ToolResult split = runTool({"bchunk", "-w", bin.string(), cue.string(), "trk"},
                                   ToolOptions{dir.path() / "copy"});
  ASSERT_EQ(split.exitCode, 0) << split.output;
  for (std::size_t i = 0; i < kTracks.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "trk%02zu.wav", i + 1);
    const std::string wav = readText(dir.path() / "copy" / name);
    ASSERT_GE(wav.size(), 44 + layout.pcm[i].size()) << name;
    EXPECT_TRUE(wav.compare(44, layout.pcm[i].size(), layout.pcm[i]) == 0) << name;
  }
  // The image's CD-Text went into the lead-in.
  const Bytes packs = firstPackCycle(readFile(mediumFolder("copy") / "leadin-cdtext.raw"));
  Bytes data = packs;
  cdtext_t* t = cdtext_init();
  ASSERT_EQ(cdtext_data_init(t, data.data(), data.size()), 0);
  EXPECT_STREQ(cdtext_get_const(t, CDTEXT_FIELD_TITLE, 0), "Quillion Sampler");
  EXPECT_STREQ(cdtext_get_const(t, CDTEXT_FIELD_TITLE, 2), "Middle");
  cdtext_destroy(t);
}

TEST_F(AudioDisc, ABinCueCopyWrittenTrackAtOnceKeepsTheTrackStarts) {
  QUILLION_REQUIRE_TOOL("cd-info");
  auto original = blankCDR("original");
  auto copy = blankCDR("copy");
  env.start();
  AudioLayout layout(dir.path(), kTracks);
  DriveJob burn(kBP_KindAudio, kBP_RouteLayoutToDrives);
  burn.keep(BP_SetAudioList(burn.ref, layout.list));
  burn.keep(BP_SetSAO(burn.ref, true));
  burn.keep(BP_SetCloseDisc(burn.ref, true));
  burn.keep(BP_SetDstDevice(burn.ref, DeviceEnvironment::refOf("original")));
  ASSERT_EQ(burn.burn(), kNoErr) << burn.log.text();
  const fs::path source = dump(*original, dir.path() / "original");

  DriveJob job(kBP_KindDeviceCopy, kBP_RouteImageToDrives);
  job.keep(BP_SetSrcImageFilePath(job.ref, source.c_str(), 7, 0));
  job.keep(BP_SetSrcDevice(job.ref, kBP_NativeImageWriter));
  job.keep(BP_SetSAO(job.ref, false));
  job.keep(BP_SetCloseDisc(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("copy")));
  ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  EXPECT_TRUE(sentCueSheets(*copy).empty()) << "track at once sends no cue sheet";

  // Track at once puts 2 run-out blocks and a 150-block pregap between tracks: track 1, which
  // had only its 150-block pause before track 2, gives its last 2 blocks to the run-out; track
  // 2 runs on over the longer pause after it. Every track starts where it started.
  const fs::path cue = dump(*copy, dir.path() / "copy");
  fs::path originalBin = source, copiedBin = cue;
  originalBin.replace_extension(".bin");
  copiedBin.replace_extension(".bin");
  const std::string a = readText(originalBin), b = readText(copiedBin);
  const std::size_t trackOneEnd = 308 * kCDDABytes, trackTwo = 460 * kCDDABytes;
  ASSERT_GE(b.size(), a.size());
  EXPECT_TRUE(b.compare(0, trackOneEnd, a, 0, trackOneEnd) == 0);
  EXPECT_TRUE(b.compare(trackTwo, a.size() - trackTwo, a, trackTwo, a.size() - trackTwo) == 0);
  const auto starts = [](const fs::path& c) {
    const std::string info =
        toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", c.string()});
    std::string lines;
    for (const char* n : {"  1: ", "  2: ", "  3: "}) {
      const std::size_t at = info.find(n);
      lines += at == std::string::npos ? std::string("?") : info.substr(at, 22);
    }
    return lines;
  };
  EXPECT_EQ(starts(cue), starts(source));
}

TEST_F(AudioDisc, ACopyFromAnImageThatCannotBeReadFailsThePreparation) {
  auto copy = blankCDR("copy");
  env.start();
  writeFile(dir.path() / "bad.cue", std::string("FILE \"none.bin\" BINARY\n  TRACK 01 AUDIO\n"));
  for (std::uint32_t kind : {7u, 1u, 2u}) {
    DriveJob job(kBP_KindDeviceCopy, kBP_RouteImageToDrives);
    job.keep(BP_SetSrcImageFilePath(job.ref, (dir.path() / "bad.cue").c_str(), kind, 0));
    job.keep(BP_SetSrcDevice(job.ref, kBP_NativeImageWriter));
    job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("copy")));
    EXPECT_EQ(job.burn(), kErrPrepareFailed) << "image kind " << kind;
  }
  EXPECT_TRUE(TestThreads::instance().calls().empty());
}

TEST_F(AudioDisc, MixedModeAndCDExtraDiscsAreReadAsSuch) {
  QUILLION_REQUIRE_TOOL("cd-info");
  auto mixed = blankCDR("mixed");
  auto extra = blankCDR("extra");
  env.start();
  AudioLayout layout(dir.path(), {{300, -1, "One", "A"}, {400, 2, "Two", "B"}});
  writeFiles(dir.path() / "tree", {{"readme.txt", 5000}, {"data/blob.bin", 300'000}});
  TreePtr tree = treeFromFolder(dir.path() / "tree");
  // libcdio's reader drops an empty disc title together with its place, so the disc has one.
  const auto text = discText("Enhanced", "");

  struct Row {
    BP_JobKind kind;
    const char* drive;
  };
  for (const Row row : {Row{kBP_KindMixedMode, "mixed"}, Row{kBP_KindCDExtra, "extra"}}) {
    SCOPED_TRACE(row.drive);
    DriveJob job(row.kind, kBP_RouteLayoutToDrives);
    job.keep(BP_SetAudioList(job.ref, layout.list));
    job.keep(BP_SetDataTree(job.ref, tree.get()));
    job.keep(BP_SetDataDiscFormat(job.ref, 512));
    job.keep(BP_SetSAO(job.ref, true));
    job.keep(BP_SetEncodeCDText(job.ref, true));
    job.keep(BP_SetDiscAudio_CDText(job.ref, text.data()));
    job.keep(BP_SetCloseDisc(job.ref, true));
    job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf(row.drive)));
    ASSERT_EQ(job.burn(), kNoErr) << job.log.text();
  }

  const fs::path mixedCue = dump(*mixed, dir.path() / "mixed");
  const std::string m =
      toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", mixedCue.string()});
  // One session: the XA data track at 0, then the audio after its gap and pauses.
  EXPECT_NE(m.find("  1: 00:02:00  000000 XA"), std::string::npos) << m;
  EXPECT_NE(m.find("  2: 00:10:02  000602 audio"), std::string::npos) << m;
  EXPECT_NE(m.find("mixed mode CD"), std::string::npos) << m;
  // Its lead-in CD-Text gives the data track "-" and the audio tracks their titles.
  const Bytes packs = firstPackCycle(readFile(mediumFolder("mixed") / "leadin-cdtext.raw"));
  cdtext_t* t = cdtext_init();
  Bytes data = packs;
  ASSERT_EQ(cdtext_data_init(t, data.data(), data.size()), 0);
  EXPECT_STREQ(cdtext_get_const(t, CDTEXT_FIELD_TITLE, 1), "-");
  EXPECT_STREQ(cdtext_get_const(t, CDTEXT_FIELD_TITLE, 2), "One");
  EXPECT_STREQ(cdtext_get_const(t, CDTEXT_FIELD_TITLE, 3), "Two");
  cdtext_destroy(t);
  EXPECT_EQ(readText(mixedCue).find("REM SESSION 02"), std::string::npos) << readText(mixedCue);
  EXPECT_NE(readText(mixedCue).find("MODE2/2352"), std::string::npos) << readText(mixedCue);

  const fs::path extraCue = dump(*extra, dir.path() / "extra");
  const std::string e =
      toolOutput({"cd-info", "--no-device-info", "--no-cddb", "--cue-file", extraCue.string()});
  // Audio at 0 and 300 + 150; the data session at 300 + 150 + 400 + 11,400.
  EXPECT_NE(e.find("  1: 00:02:00  000000 audio"), std::string::npos) << e;
  EXPECT_NE(e.find("  2: 00:08:00  000450 audio"), std::string::npos) << e;
  EXPECT_NE(e.find("  3: 02:45:25  012250 XA"), std::string::npos) << e;
  EXPECT_NE(e.find("CD-Plus/Extra"), std::string::npos) << e;
  EXPECT_NE(e.find("session #2 starts at track  3, LSN: 12250"), std::string::npos) << e;
  EXPECT_NE(readText(extraCue).find("REM SESSION 02"), std::string::npos) << readText(extraCue);
}

TEST_F(AudioDisc, ACDExtraPutsItsFileSystemAfterTheAudioAndTheSessionGap) {
  auto drive = blankCDR("writer");
  env.start();
  // Two tracks of 1000 blocks with a two-second pause: 2150 + 11,400.
  AudioLayout layout(dir.path(), {{1000, -1, "a", "b"}, {1000, 2, "c", "d"}});
  writeFiles(dir.path() / "tree", {{"file.txt", 3000}});
  TreePtr tree = treeFromFolder(dir.path() / "tree");
  DriveJob job(kBP_KindCDExtra, kBP_RouteLayoutToDrives);
  job.keep(BP_SetAudioList(job.ref, layout.list));
  job.keep(BP_SetDataTree(job.ref, tree.get()));
  job.keep(BP_SetDataDiscFormat(job.ref, 512));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("writer")));
  ASSERT_EQ(job.setUp, kNoErr);
  std::uint32_t blocks = 0;
  ASSERT_EQ(BP_PrepareBurn(job.ref, &blocks, nullptr), kNoErr) << job.log.text();
  const std::string log = job.log.text();
  const std::size_t at = log.find(" ------ Append Data Track ------");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("\r 13550 ~ ", at), std::string::npos) << log;
  // The destination's blocks: each audio track with its run-out, the second one's pause, the
  // session gap, and the data track with its run-out.
  const std::size_t dataLine = log.find("\r 13550 ~ ", at);
  ASSERT_NE(dataLine, std::string::npos);
  const unsigned dataBlocks =
      static_cast<unsigned>(std::stoul(log.substr(log.find("= ", dataLine) + 2)));
  EXPECT_EQ(blocks, 1002u + 1002u + 150u + 11'400u + dataBlocks + 2u);
}

TEST_F(AudioDisc, APauseTooLongForThePregapFailsThePreparation) {
  auto drive = blankCDR("writer");
  env.start();
  AudioLayout layout(dir.path(), {{300, -1, "a", "b"}, {300, 900, "c", "d"}});
  DriveJob job(kBP_KindAudio, kBP_RouteLayoutToDrives);
  job.keep(BP_SetAudioList(job.ref, layout.list));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("writer")));
  EXPECT_EQ(job.burn(), kErrPrepareFailed);
  EXPECT_NE(job.log.text().find("too long"), std::string::npos);
  EXPECT_TRUE(TestThreads::instance().calls().empty()) << "no thread for a job not prepared";
}

TEST_F(AudioDisc, ATrackWhoseFileCannotBeReadFailsThePreparation) {
  auto drive = blankCDR("writer");
  env.start();
  AudioLayout layout(dir.path(), {{300, -1, "a", "b"}, {300, -1, "c", "d"}});
  fs::remove(dir.path() / "track2.wav");
  DriveJob job(kBP_KindAudio, kBP_RouteLayoutToDrives);
  job.keep(BP_SetAudioList(job.ref, layout.list));
  job.keep(BP_SetSAO(job.ref, true));
  job.keep(BP_SetDstDevice(job.ref, DeviceEnvironment::refOf("writer")));
  EXPECT_EQ(job.burn(), kErrPrepareFailed);
  EXPECT_TRUE(TestThreads::instance().calls().empty());
  EXPECT_TRUE(drive->withMedium([](Medium& m) { EXPECT_TRUE(m.tracks().empty()); }));
}

}  // namespace
