// SPDX-License-Identifier: GPL-2.0-or-later
// The native image file: a round trip of three sessions checked by the test-side reader,
// headers that must be refused, the 99-entry bounds, ISO mode, the mode rules and writes that
// do not fit on the disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include "image/cd_image_file.h"
#include "quillion/clock.h"
#include "writer_test_support.h"

using namespace quillion::test;
namespace fs = std::filesystem;

namespace {

struct TrackLayout {
  std::uint16_t type;
  std::uint32_t blockSize;
  std::uint32_t blocks;
  std::uint16_t pregap;
  std::uint32_t start;
};

struct SessionLayout {
  std::uint8_t sessionAtOnce;
  std::uint16_t type;
  std::uint8_t closeDisc;
  std::int32_t start;
  std::vector<TrackLayout> tracks;
  Bytes cdText;
};

// Three sessions: an audio session at once with CD-Text, a Mode 1 session, an XA session of
// two forms that closes the disc.
const std::vector<SessionLayout> kThreeSessions = {
    {1, 0, 0, -20, {{0, 2352, 40, 150, 0}, {0, 2352, 33, 75, 190}}, payload(3 * 24, 99)},
    {0, 1, 0, 11'623, {{1, 2048, 57, 150, 11'623}}, {}},
    {0,
     2,
     1,
     18'680,
     {{3, 2048, 20, 150, 18'680}, {4, 2324, 9, 0, 18'700}, {5, 2336, 4, 0, 18'709}},
     {}},
};

Bytes trackData(std::size_t session, std::size_t track, const TrackLayout& t) {
  return payload(std::size_t{t.blocks} * t.blockSize,
                 static_cast<std::uint32_t>(session * 10 + track));
}

void writeImage(const fs::path& path, const std::vector<SessionLayout>& sessions) {
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
  for (std::size_t s = 0; s < sessions.size(); ++s) {
    const auto& layout = sessions[s];
    if (!layout.cdText.empty()) {
      ASSERT_EQ(image.WriteCDTextRawData(layout.cdText.data(),
                                         static_cast<std::uint32_t>(layout.cdText.size())),
                kNoErr);
    }
    WLTSESSION record;
    record.sessionAtOnce = layout.sessionAtOnce;
    record.marker = 1;
    record.sessionType = layout.type;
    record.closeDisc = layout.closeDisc;
    record.startBlock = layout.start;
    record.firstTrack = 77;  // the image's own numbering wins
    ASSERT_EQ(image.NewSession(record), kNoErr);
    for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
      const auto& track = layout.tracks[t];
      WLTTRACK trackRecord;
      trackRecord.trackType = track.type;
      trackRecord.blockSize = track.blockSize;
      trackRecord.pregap = track.pregap;
      trackRecord.startBlock = track.start;
      trackRecord.info[0] = static_cast<std::uint8_t>(0xA0 + t);
      trackRecord.dataOffset = 5;  // likewise the offset
      ASSERT_EQ(image.NewTrack(trackRecord), kNoErr);
      const Bytes data = trackData(s, t, track);
      // In two writes, as blocks arrive from a cache.
      const std::uint32_t first = track.blocks / 2;
      ASSERT_EQ(image.WriteData(data.data(), first), kNoErr);
      ASSERT_EQ(
          image.WriteData(data.data() + std::size_t{first} * track.blockSize, track.blocks - first),
          kNoErr);
      ASSERT_EQ(image.CloseTrack(), kNoErr);
    }
    ASSERT_EQ(image.CloseSession(), kNoErr);
  }
  ASSERT_EQ(image.Close(), kNoErr);
}

class ImageFile : public ::testing::Test {
 protected:
  fs::path file(const std::string& name) const { return dir_.path() / name; }
  TempDir dir_;
  quillion::VirtualClock clock_;
  quillion::ScopedClockOverride clockGuard_{clock_};
};

}  // namespace

TEST_F(ImageFile, ThreeSessionsReadBackByAnIndependentReader) {
  const fs::path image = file("three.wlt");
  writeImage(image, kThreeSessions);
  const fs::path out = file("out");
  fs::create_directories(out);
  const auto json = readWlt(image, out);
  ASSERT_TRUE(json) << "the test-side reader refused the image";
  const auto& j = *json;
  EXPECT_TRUE(j["reservedZero"].get<bool>());
  EXPECT_TRUE(j["unusedRecordsZero"].get<bool>());
  EXPECT_EQ(j["created"].get<std::uint32_t>(), 1'700'000'000u) << "the engine clock's wall time";
  EXPECT_EQ(j["cdTextOffset"].get<std::uint32_t>(), 93'774u)
      << "CD-Text first, right after the header";
  EXPECT_EQ(j["cdTextLength"].get<std::uint32_t>(), 72u);
  EXPECT_EQ(readFile(out / "cdtext.bin"), kThreeSessions[0].cdText);

  ASSERT_EQ(j["sessions"].size(), 3u);
  ASSERT_EQ(j["tracks"].size(), 6u);
  std::uint64_t expectedOffset = 93'774 + 72;
  unsigned number = 1;
  for (std::size_t s = 0; s < kThreeSessions.size(); ++s) {
    SCOPED_TRACE(s);
    const auto& layout = kThreeSessions[s];
    const auto& session = j["sessions"][s];
    EXPECT_EQ(session["firstTrack"].get<unsigned>(), number);
    EXPECT_EQ(session["trackCount"].get<std::size_t>(), layout.tracks.size());
    EXPECT_EQ(session["sessionAtOnce"].get<unsigned>(), layout.sessionAtOnce);
    EXPECT_EQ(session["marker"].get<unsigned>(), 1u);
    EXPECT_EQ(session["type"].get<unsigned>(), layout.type);
    EXPECT_EQ(session["closeDisc"].get<unsigned>(), layout.closeDisc);
    EXPECT_EQ(session["start"].get<int>(), layout.start);
    EXPECT_TRUE(session["reservedZero"].get<bool>());
    for (std::size_t t = 0; t < layout.tracks.size(); ++t, ++number) {
      SCOPED_TRACE(t);
      const auto& want = layout.tracks[t];
      const auto& track = j["tracks"][number - 1];
      EXPECT_EQ(track["number"].get<unsigned>(), number);
      EXPECT_EQ(track["type"].get<unsigned>(), want.type);
      EXPECT_EQ(track["blockSize"].get<std::uint32_t>(), want.blockSize);
      EXPECT_EQ(track["pregap"].get<unsigned>(), want.pregap);
      EXPECT_EQ(track["start"].get<std::uint32_t>(), want.start);
      EXPECT_EQ(track["info"].get<std::string>().substr(0, 2), t == 0   ? "a0"
                                                               : t == 1 ? "a1"
                                                                        : "a2");
      EXPECT_EQ(track["offset"].get<std::uint64_t>(), expectedOffset)
          << "data in the order written, contiguous";
      EXPECT_EQ(track["length"].get<std::uint64_t>(), std::uint64_t{want.blocks} * want.blockSize);
      EXPECT_EQ(track["shortForms"], nlohmann::json::array({0, 0}))
          << "the writer fills the long forms only";
      EXPECT_TRUE(track["reservedZero"].get<bool>());
      char name[16];
      std::snprintf(name, sizeof name, "track%02u.bin", number);
      EXPECT_EQ(readFile(out / name), trackData(s, t, want));
      expectedOffset += std::uint64_t{want.blocks} * want.blockSize;
    }
  }
  EXPECT_EQ(j["fileSize"].get<std::uint64_t>(), expectedOffset);

  // Our own reader agrees with it.
  CDImageFile reader(false);
  ASSERT_EQ(reader.Open(image.c_str(), false), kNoErr);
  std::uint16_t sessions = 0, tracks = 0;
  ASSERT_EQ(reader.CDImageInfo(&sessions, &tracks), kNoErr);
  EXPECT_EQ(sessions, 3);
  EXPECT_EQ(tracks, 6);
  WLTSESSION third;
  ASSERT_EQ(reader.GetSessionInfo(3, &third), kNoErr);
  EXPECT_EQ(third.firstTrack, 4);
  EXPECT_EQ(third.trackCount, 3);
  EXPECT_EQ(reader.GetSessionInfo(4, &third), kErrBadArgument);
  std::uint32_t blockSize = 0;
  ASSERT_EQ(reader.OpenTrack(5, &blockSize), 9u);
  EXPECT_EQ(blockSize, 2324u);
  Bytes back(2324 * 12);
  EXPECT_EQ(reader.ReadData(back.data(), 4), 4u);
  EXPECT_EQ(reader.ReadData(back.data() + 4 * 2324, 8), 5u) << "never past the track's end";
  back.resize(9 * 2324);
  EXPECT_EQ(back, trackData(2, 1, kThreeSessions[2].tracks[1]));
  EXPECT_EQ(reader.OpenTrack(7, &blockSize), 0u);
  Bytes text;
  ASSERT_EQ(reader.GetCDTextRawData(text), kNoErr);
  EXPECT_EQ(text, kThreeSessions[0].cdText);
}

TEST_F(ImageFile, DamagedHeadersAreRefused) {
  const fs::path good = file("good.wlt");
  writeImage(good, kThreeSessions);
  const Bytes original = readFile(good);
  const std::size_t size = original.size();
  const auto le = [](Bytes& b, std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
      b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  constexpr std::size_t kTrack2 = 10110 + 842;
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    EngineStatus status;
  };
  const Case cases[] = {
      {"intact", [](Bytes&) {}, kNoErr},
      {"empty file", [](Bytes& b) { b.clear(); }, kErrImageOpen},
      {"one byte short of a header", [](Bytes& b) { b.resize(93'773); }, kErrImageOpen},
      {"wrong magic", [](Bytes& b) { b[3] = 0xCE; }, kErrImageMagic},
      {"100 sessions", [&](Bytes& b) { le(b, 1196, 100, 2); }, kErrImageMagic},
      {"65535 tracks", [&](Bytes& b) { le(b, 10108, 0xFFFF, 2); }, kErrImageMagic},
      {"session naming tracks that are not there",
       [&](Bytes& b) { le(b, 1198 + 90 * 2 + 2, 4, 2); }, kErrImageMagic},
      {"session starting at track 0", [&](Bytes& b) { le(b, 1198, 0, 2); }, kErrImageMagic},
      {"track data past the end", [&](Bytes& b) { le(b, kTrack2 + 724, size, 8); }, kErrImageMagic},
      {"track offset past the end", [&](Bytes& b) { le(b, kTrack2 + 732, size + 1, 8); },
       kErrImageMagic},
      {"offset and length wrapping around",
       [&](Bytes& b) {
         le(b, kTrack2 + 732, ~std::uint64_t{0} - 10, 8);
         le(b, kTrack2 + 724, 100, 8);
       },
       kErrImageMagic},
      {"track data inside the header", [&](Bytes& b) { le(b, kTrack2 + 732, 1000, 8); },
       kErrImageMagic},
      {"short-form length past the end", [&](Bytes& b) { le(b, kTrack2 + 290, size, 4); },
       kErrImageMagic},
      {"block size 0", [&](Bytes& b) { le(b, kTrack2 + 282, 0, 4); }, kErrImageMagic},
      {"CD-Text past the end", [&](Bytes& b) { le(b, 93512, size, 4); }, kErrImageMagic},
      {"file cut in the last track", [](Bytes& b) { b.pop_back(); }, kErrImageMagic},
      {"block size 0xFFFFFFFF", [&](Bytes& b) { le(b, kTrack2 + 282, 0xFFFFFFFF, 4); },
       kErrImageMagic},
      {"block size 3 with a length of 7",
       [&](Bytes& b) {
         le(b, kTrack2 + 282, 3, 4);
         le(b, kTrack2 + 724, 7, 8);
       },
       kErrImageMagic},
      {"two tracks over the same bytes",
       [&](Bytes& b) { std::copy_n(b.begin() + 10110 + 732, 8, b.begin() + kTrack2 + 732); },
       kErrImageMagic},
      {"CD-Text inside a track's data",
       [&](Bytes& b) { std::copy_n(b.begin() + kTrack2 + 732, 4, b.begin() + 93508); },
       kErrImageMagic},
      {"duplicate track numbers", [&](Bytes& b) { le(b, kTrack2, 1, 2); }, kErrImageMagic},
      {"track numbers out of order",
       [&](Bytes& b) {
         le(b, 10110, 2, 2);
         le(b, kTrack2, 1, 2);
       },
       kErrImageMagic},
      {"last track in no session", [&](Bytes& b) { le(b, 1198 + 90 * 2 + 2, 2, 2); },
       kErrImageMagic},
      {"sessions over the same track", [&](Bytes& b) { le(b, 1198 + 90, 2, 2); }, kErrImageMagic},
      {"no session at all", [&](Bytes& b) { le(b, 1196, 0, 2); }, kErrImageMagic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes damaged = original;
    c.damage(damaged);
    const fs::path path = file("damaged.wlt");
    writeFile(path, damaged);
    CDImageFile image(false);
    EXPECT_EQ(image.Open(path.c_str(), false), c.status);
    std::uint16_t sessions = 9, tracks = 9;
    (void)image.CDImageInfo(&sessions, &tracks);
    if (c.status != kNoErr) {
      EXPECT_EQ(sessions, 0) << "nothing of a refused header is kept";
      std::uint32_t blockSize = 0;
      EXPECT_EQ(image.OpenTrack(1, &blockSize), 0u);
    }
  }
}

TEST_F(ImageFile, ANonZeroShortFormIsRead) {
  const fs::path path = file("short.wlt");
  writeImage(path, kThreeSessions);
  Bytes b = readFile(path);
  b[10110 + 842 * 2 + 290] = 0x00;  // track 3: 3 x 2048 bytes in the short length field
  b[10110 + 842 * 2 + 291] = 0x18;
  writeFile(path, b);
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), false), kNoErr);
  WLTTRACK track;
  ASSERT_EQ(image.GetTrackInfo(3, &track), kNoErr);
  EXPECT_EQ(track.dataLength, 3u * 2048);
  std::uint32_t blockSize = 0;
  EXPECT_EQ(image.OpenTrack(3, &blockSize), 3u);
}

TEST_F(ImageFile, TheHundredthSessionAndTrackAreRefused) {
  const fs::path path = file("full.wlt");
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
  const Bytes block = payload(2048, 1);
  WLTTRACK track;
  track.trackType = 1;
  track.blockSize = 2048;
  for (int i = 0; i < 99; ++i) {
    ASSERT_EQ(image.NewSession(WLTSESSION{}), kNoErr) << i;
    ASSERT_EQ(image.NewTrack(track), kNoErr) << i;
    ASSERT_EQ(image.WriteData(block.data(), 1), kNoErr);
    ASSERT_EQ(image.CloseTrack(), kNoErr);
    ASSERT_EQ(image.CloseSession(), kNoErr);
  }
  EXPECT_EQ(image.NewSession(WLTSESSION{}), kErrImageTrackCount);
  EXPECT_EQ(image.NewTrack(track), kErrImageTrackCount);
  ASSERT_EQ(image.Close(), kNoErr);
  const auto json = readWlt(path);
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["sessions"].size(), 99u);
  EXPECT_EQ((*json)["tracks"].size(), 99u);
  EXPECT_EQ((*json)["fileSize"].get<std::uint64_t>(), 93'774u + 99 * 2048);
}

// What the reader refuses is never written: a track outside a session or with a block size no
// disc block has, and a session left open at Close is closed with its tracks.
TEST_F(ImageFile, TheWriterWritesOnlyWhatReadsAgain) {
  const fs::path path = file("open.wlt");
  CDImageFile image(false);
  ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
  WLTTRACK track;
  track.blockSize = 2048;
  EXPECT_EQ(image.NewTrack(track), kErrBadArgument) << "no session is open";
  ASSERT_EQ(image.NewSession(WLTSESSION{}), kNoErr);
  track.blockSize = kWltMaxBlockSize + 1;
  EXPECT_EQ(image.NewTrack(track), kErrBadArgument);
  track.blockSize = kWltMaxBlockSize;
  ASSERT_EQ(image.NewTrack(track), kNoErr);
  const Bytes block = payload(kWltMaxBlockSize, 2);
  ASSERT_EQ(image.WriteData(block.data(), 1), kNoErr);
  ASSERT_EQ(image.Close(), kNoErr) << "closes the open session first";
  CDImageFile reading(false);
  ASSERT_EQ(reading.Open(path.c_str(), false), kNoErr);
  std::uint16_t sessions = 0, tracks = 0;
  ASSERT_EQ(reading.CDImageInfo(&sessions, &tracks), kNoErr);
  EXPECT_EQ(sessions, 1);
  EXPECT_EQ(tracks, 1);
}

TEST_F(ImageFile, IsoModeWritesOneTracksDataAndNothingElse) {
  const fs::path path = file("plain.iso");
  CDImageFile image(true);
  ASSERT_EQ(image.Open(path.c_str(), true), kNoErr);
  const Bytes text = payload(48, 3);
  EXPECT_EQ(image.WriteCDTextRawData(text.data(), 48), kNoErr) << "accepted and left out";
  ASSERT_EQ(image.NewSession(WLTSESSION{}), kNoErr);
  WLTTRACK track;
  track.blockSize = 2048;
  ASSERT_EQ(image.NewTrack(track), kNoErr);
  const Bytes data = payload(10 * 2048, 4);
  ASSERT_EQ(image.WriteData(data.data(), 10), kNoErr);
  EXPECT_EQ(image.NewTrack(track), kErrImageTrackCount);
  ASSERT_EQ(image.CloseTrack(), kNoErr);
  ASSERT_EQ(image.CloseSession(), kNoErr);
  ASSERT_EQ(image.Close(), kNoErr);
  EXPECT_EQ(readFile(path), data) << "exactly 20,480 bytes: no header";
}

TEST_F(ImageFile, EachOperationKeepsToItsMode) {
  const fs::path path = file("modes.wlt");
  writeImage(path, kThreeSessions);
  CDImageFile reading(false);
  EXPECT_EQ(reading.Open(nullptr, false), kErrBadArgument);
  EXPECT_EQ(reading.Open(file("missing.wlt").c_str(), false), kErrImageOpen);
  ASSERT_EQ(reading.Open(path.c_str(), false), kNoErr);
  const Bytes block(2352);
  EXPECT_EQ(reading.NewSession(WLTSESSION{}), kErrImageMode);
  EXPECT_EQ(reading.NewTrack(WLTTRACK{}), kErrImageMode);
  EXPECT_EQ(reading.WriteData(block.data(), 1), kErrImageMode);
  EXPECT_EQ(reading.WriteCDTextRawData(block.data(), 24), kErrImageMode);
  EXPECT_EQ(reading.CloseSession(), kErrImageMode);

  CDImageFile writing(false);
  EXPECT_EQ(writing.Open(file("no/such/folder.wlt").c_str(), true), kErrImageOpen);
  ASSERT_EQ(writing.Open(path.c_str(), true), kNoErr);
  EXPECT_EQ(fs::file_size(path), 93'774u) << "the old file at the path is gone";
  WLTSESSION session;
  EXPECT_EQ(writing.GetSessionInfo(1, &session), kErrImageMode);
  WLTTRACK track;
  track.blockSize = 2352;
  EXPECT_EQ(writing.WriteData(block.data(), 1), kErrBadArgument) << "no track yet";
  ASSERT_EQ(writing.NewSession(session), kNoErr);
  ASSERT_EQ(writing.NewTrack(track), kNoErr);
  EXPECT_EQ(writing.WriteData(block.data(), 0), kErrBadArgument);
  EXPECT_EQ(writing.WriteData(nullptr, 1), kErrBadArgument);
  EXPECT_EQ(writing.WriteCDTextRawData(block.data(), 24), kErrImageMode)
      << "it would land in the track's data";
  ASSERT_EQ(writing.WriteData(block.data(), 1), kNoErr);
  // Destroyed without Close: the header on disk still holds only the magic and the time.
}

TEST_F(ImageFile, OnlyAnEarlierImageIsReplacedWhenWriting) {
  const fs::path fifo = file("not-an-image");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path folder = file("folder.wlt");
  fs::create_directory(folder);
  for (const fs::path& path : {fifo, folder}) {
    CDImageFile writing(false);
    EXPECT_EQ(writing.Open(path.c_str(), true), kErrImageOpen) << path;
    EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << path << " must be left in place";
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(ImageFile, WritesThatDoNotFitAreReported) {
  // Each case runs in a child whose file size is limited, as a full disk would; it exits with
  // the status of the step that must fail (negated, less 1300), or 1 when an earlier step did.
  struct Case {
    const char* name;
    rlim_t limit;
    std::function<EngineStatus(CDImageFile&, const char*)> steps;
  };
  const auto prepare = [](CDImageFile& image, const char* path) {
    if (image.Open(path, true) != kNoErr || image.NewSession(WLTSESSION{}) != kNoErr) return false;
    WLTTRACK track;
    track.blockSize = 2048;
    return image.NewTrack(track) == kNoErr;
  };
  const Bytes data = payload(20 * 2048, 5);
  const Case cases[] = {
      {"header on opening", 50'000,
       [](CDImageFile& image, const char* path) { return image.Open(path, true); }},
      {"track data", 93'774 + 10'000,
       [&](CDImageFile& image, const char* path) {
         return prepare(image, path) ? image.WriteData(data.data(), 20) : EngineStatus{1};
       }},
      {"CD-Text", 93'774 + 100,
       [&](CDImageFile& image, const char* path) {
         return image.Open(path, true) == kNoErr ? image.WriteCDTextRawData(data.data(), 500)
                                                 : EngineStatus{1};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = file("limited.wlt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      const rlimit limit{c.limit, c.limit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
      CDImageFile image(false);
      const EngineStatus status = c.steps(image, path.c_str());
      ::_exit(status == 1 ? 1 : -status - 1300);
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 77) << "-1377 from the write that did not fit";
  }
}
