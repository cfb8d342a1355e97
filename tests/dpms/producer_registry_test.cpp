// SPDX-License-Identifier: GPL-2.0-or-later
// The file-system format registry (which codes have producers, what each makes, that each
// factory makes the volume its row names) and the Mode 2 Form 1 wrapper around a small
// fake producer (the sector form, block counts, what is passed through from the inside).
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "DPMs/base/dpm_mode2_form1.h"
#include "DPMs/registry/file_system_formats.h"
#include "common/byte_order.h"
#include "quillion/MMC.h"
#include "tests/dpms/producer_support.h"

using namespace quillion;
using namespace quillion::test;

namespace {

// Every block of a volume, drained in memory.
std::string drain(DPM_Base& producer, std::uint16_t blockSize = 0) {
  const std::uint32_t blocks = producer.PrepareAll(&blockSize, nullptr, nullptr);
  std::string out(std::size_t{blocks} * blockSize, '\0');
  std::uint32_t got = 0;
  EXPECT_EQ(producer.NextBlocks(out.data(), static_cast<std::uint32_t>(out.size()), blocks, &got),
            kNoErr);
  EXPECT_EQ(got, blocks);
  return out;
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
  return le::get32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, at);
}

}  // namespace

// Each row's factory makes the volume the row names, over the tree and start it is given
// and with the options it is given: a Joliet descriptor after the primary one only for
// Joliet, the XA mark only when asked, the volume space counting the start.
TEST(FileSystemFormats, KnownCodesMakeTheirVolumes) {
  struct Case {
    std::uint32_t code;
    const char* name;
    std::uint8_t secondDescriptor;  // 2 supplementary (Joliet), 255 set terminator
  };
  TreePtr tree(new FS_Tree(nullptr));
  for (const Case& c : {Case{256, "ISO9660", 255}, Case{512, "ISO9660 with Joliet", 2}}) {
    SCOPED_TRACE(c.code);
    const FileSystemFormat* format = findFileSystemFormat(c.code);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->code, c.code);
    EXPECT_EQ(format->name, c.name);
    EXPECT_TRUE(format->iso9660Part);
    EXPECT_TRUE(format->makes(2048));
    EXPECT_FALSE(format->makes(2336)) << "Mode 2 blocks come from the wrapper";
    EXPECT_FALSE(format->makes(0));
    for (const bool xa : {false, true}) {
      SCOPED_TRACE(xa);
      std::unique_ptr<DPM_FileSystem_Base> producer =
          format->make(FileSystemRequest{tree.get(), 100, false, xa});
      ASSERT_NE(producer, nullptr);
      ASSERT_EQ(producer->Init(), kNoErr);
      const std::string volume = drain(*producer);
      ASSERT_GT(volume.size(), 18u * 2048);
      EXPECT_EQ(producer->BlockSize(), 2048u);
      EXPECT_EQ(volume.substr(16 * 2048, 6), std::string("\x01"
                                                         "CD001"));
      EXPECT_EQ(static_cast<std::uint8_t>(volume[17 * 2048]), c.secondDescriptor);
      EXPECT_EQ(le32(volume, 16 * 2048 + 80), volume.size() / 2048 + 100) << "volume space";
      EXPECT_EQ(volume.substr(16 * 2048 + 1024, 8) == "CD-XA001", xa);
    }
  }
}

// The Macintosh rows make their volumes behind a partition map: HFS ("BD") or HFS Plus
// ("H+") at image byte 19456, and for the hybrids the ISO9660 descriptors at byte 32768.
TEST(FileSystemFormats, MacintoshCodesMakeTheirVolumes) {
  struct Case {
    std::uint32_t code;
    const char* signature;
    bool iso9660;
  };
  TreePtr tree(new FS_Tree(nullptr));
  for (const Case& c : {Case{1, "BD", false}, Case{2, "H+", false}, Case{257, "BD", true},
                        Case{258, "H+", true}, Case{513, "BD", true}, Case{514, "H+", true}}) {
    SCOPED_TRACE(c.code);
    const FileSystemFormat* format = findFileSystemFormat(c.code);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->iso9660Part, c.iso9660);
    EXPECT_TRUE(format->makes(2048));
    std::unique_ptr<DPM_FileSystem_Base> producer =
        format->make(FileSystemRequest{tree.get(), 0, true, false});
    ASSERT_NE(producer, nullptr);
    ASSERT_EQ(producer->Init(), kNoErr);
    const std::string volume = drain(*producer);
    ASSERT_GE(volume.size(), 32768u + 2048);
    EXPECT_EQ(volume.substr(0, 2), "ER");
    EXPECT_EQ(volume.substr(18432 + 1024, 2), c.signature);
    EXPECT_EQ(volume.substr(32768 + 1, 5) == "CD001", c.iso9660);
  }
}

// Codes without a producer in this build, and codes that are no format at all, find no
// row; a code is never cut to 16 bits to find one.
TEST(FileSystemFormats, CodesWithoutAProducerFindNothing) {
  for (const std::uint32_t code : {0u, 255u, 259u, 515u, 768u, 769u, 0xFFFFu, 0x10001u, 0x10010u,
                                   0x10100u, 0x10102u, 0x10200u}) {
    EXPECT_EQ(findFileSystemFormat(code), nullptr) << code;
  }
}

// What every row, present and future, must hold: a factory, a block size, a name, a code
// of its own, and the lookup finding the row itself.
TEST(FileSystemFormats, EveryRowIsComplete) {
  const std::span<const FileSystemFormat> rows = fileSystemFormats();
  ASSERT_FALSE(rows.empty());
  std::set<std::uint16_t> codes;
  std::set<std::string_view> names;
  for (const FileSystemFormat& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_NE(row.make, nullptr);
    EXPECT_FALSE(row.blockSizes.empty());
    EXPECT_FALSE(row.name.empty());
    EXPECT_TRUE(codes.insert(row.code).second) << "code twice";
    EXPECT_TRUE(names.insert(row.name).second) << "name twice";
    EXPECT_EQ(findFileSystemFormat(row.code), &row);
  }
}

namespace {

// A producer of `blocks` 2048-byte blocks whose bytes tell block and offset apart; it can
// be told to answer another block size, fail a read after some blocks, refuse to start,
// or report missing data and sense.
class FakeProducer : public DPM_Base {
 public:
  std::uint32_t blocks = 5;
  std::uint16_t answersBlockSize = 2048;
  std::uint32_t failAfter = UINT32_MAX;  // blocks handed out before the failing read
  EngineStatus failure = kErrFileAccess;
  EngineStatus initStatus = kNoErr;
  std::vector<DPM_MissingData> missing;
  // What the wrapper asked for.
  std::uint16_t requestedBlockSize = 0xFFFF;
  std::vector<std::uint32_t> askedBlocks;
  std::uint32_t setTotal = 0;

  static char byteOf(std::uint32_t block, std::size_t offset) {
    return static_cast<char>((block * 31 + offset * 7 + 1) & 0xFF);
  }

  EngineStatus Init() override { return initStatus; }
  std::uint32_t PrepareAll(std::uint16_t* size, DPM_ProgressProc, void*) override {
    requestedBlockSize = *size;
    *size = answersBlockSize;
    blockSize = answersBlockSize;
    totalBlocks = blocks;
    return blocks;
  }
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* got) override {
    askedBlocks.push_back(maxBlocks);
    std::uint32_t n = std::min({maxBlocks, bufferBytes / 2048u, blocks - next});
    const bool fails = next + n > failAfter;
    if (fails) n = failAfter - next;
    auto* out = static_cast<char*>(buffer);
    for (std::uint32_t b = 0; b < n; ++b)
      for (std::size_t i = 0; i < 2048; ++i) out[b * 2048 + i] = byteOf(next + b, i);
    next += n;
    *got = n;
    if (fails) return failure;
    return kNoErr;
  }
  void SetTotalBlocks(std::uint32_t total) override { setTotal = total; }
  EngineStatus GetCurrentSenseCode(MMC_SenseData* sense) override {
    *sense = MMC_SenseData{0x03, 0x11, 0x05};
    return kNoErr;
  }
  const std::vector<DPM_MissingData>& MissingData() const override { return missing; }

 private:
  std::uint32_t next = 0;
};

struct Wrapped {
  FakeProducer* fake;
  DPM_Mode2Form1 wrapper;

  explicit Wrapped(std::uint32_t blocks = 5, const DPM_Mode2Form1::Subheader& subheader = {})
      : Wrapped(std::make_unique<FakeProducer>(), blocks, subheader) {}

 private:
  Wrapped(std::unique_ptr<FakeProducer> inner, std::uint32_t blocks,
          const DPM_Mode2Form1::Subheader& subheader)
      : fake(inner.get()), wrapper(std::move(inner), subheader) {
    fake->blocks = blocks;
  }
};

// Checks one 2336-byte sector of the wrapper against the fake's block `block`.
void expectSector(std::span<const char> sector, std::uint32_t block,
                  const DPM_Mode2Form1::Subheader& subheader) {
  ASSERT_EQ(sector.size(), 2336u);
  for (std::size_t i = 0; i < 8; ++i)
    ASSERT_EQ(static_cast<std::uint8_t>(sector[i]), subheader[i]) << block << " subheader " << i;
  for (std::size_t i = 0; i < 2048; ++i)
    ASSERT_EQ(sector[8 + i], FakeProducer::byteOf(block, i)) << block << " data " << i;
  for (std::size_t i = 2056; i < 2336; ++i) ASSERT_EQ(sector[i], 0) << block << " tail " << i;
}

}  // namespace

// The wrapper asks the inside for 2048-byte blocks and answers 2336 with the same count;
// any other request, an inside that answers another size or no blocks, prepares nothing.
TEST(Mode2Form1Wrapper, PreparesOnlyMode2BlocksOfUserDataBlocks) {
  struct Case {
    const char* what;
    std::uint16_t request;
    std::uint16_t innerAnswers;
    std::uint32_t innerBlocks;
    std::uint32_t expected;
  };
  for (const Case& c : {
           Case{"its own size", 0, 2048, 7, 7},
           Case{"2336 asked for", 2336, 2048, 7, 7},
           Case{"2048 asked for", 2048, 2048, 7, 0},
           Case{"2352 asked for", 2352, 2048, 7, 0},
           Case{"inside makes 2336", 0, 2336, 7, 0},
           Case{"inside makes 2324", 2336, 2324, 7, 0},
           Case{"inside makes nothing", 0, 2048, 0, 0},
       }) {
    SCOPED_TRACE(c.what);
    Wrapped w(c.innerBlocks);
    w.fake->answersBlockSize = c.innerAnswers;
    std::uint16_t size = c.request;
    EXPECT_EQ(w.wrapper.PrepareAll(&size, nullptr, nullptr), c.expected);
    if (c.expected != 0) {
      EXPECT_EQ(w.fake->requestedBlockSize, 2048u);
      EXPECT_EQ(size, 2336u);
      EXPECT_EQ(w.wrapper.BlockSize(), 2336u);
      EXPECT_EQ(w.wrapper.TotalBlocks(), c.expected);
    } else {
      EXPECT_EQ(w.wrapper.BlockSize(), 0u);
      EXPECT_EQ(w.wrapper.TotalBlocks(), 0u);
      std::array<char, 2336> buffer{};
      std::uint32_t got = 99;
      EXPECT_EQ(w.wrapper.NextBlocks(buffer.data(), 2336, 1, &got), kNoErr);
      EXPECT_EQ(got, 0u) << "nothing comes out of an unprepared wrapper";
    }
  }
  std::uint16_t size = 0;
  EXPECT_EQ(DPM_Mode2Form1(nullptr).PrepareAll(&size, nullptr, nullptr), 0u);
  EXPECT_EQ(Wrapped().wrapper.PrepareAll(nullptr, nullptr, nullptr), 0u);
}

// Every block comes out as subheader, the inside's block, 280 zero bytes, whatever the
// buffer and chunk sizes; the inside is never asked for more blocks than fit at 2336 bytes;
// the count is the inside's.
TEST(Mode2Form1Wrapper, WidensEveryBlockInPlace) {
  struct Case {
    const char* what;
    DPM_Mode2Form1::Subheader subheader;
    std::uint32_t bufferBlocks;
    std::uint32_t extraBytes;  // a buffer that is no whole number of sectors
    std::uint32_t maxBlocks;
  };
  for (const Case& c : {
           Case{"zeros, one at a time", {}, 1, 0, 1},
           Case{"zeros, limited by the count", {}, 8, 0, 3},
           Case{"given subheader, limited by the buffer", {0, 0, 8, 0, 0, 0, 8, 0}, 2, 2335, 9},
           Case{"given subheader, everything at once", {1, 2, 3, 4, 5, 6, 7, 8}, 13, 0, 13},
       }) {
    SCOPED_TRACE(c.what);
    Wrapped w(13, c.subheader);
    std::uint16_t size = 0;
    ASSERT_EQ(w.wrapper.PrepareAll(&size, nullptr, nullptr), 13u);
    std::vector<char> buffer(std::size_t{c.bufferBlocks} * 2336 + c.extraBytes);
    std::uint32_t total = 0;
    while (total < 13) {
      std::fill(buffer.begin(), buffer.end(), '\x55');
      std::uint32_t got = 0;
      ASSERT_EQ(w.wrapper.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                     c.maxBlocks, &got),
                kNoErr);
      ASSERT_GT(got, 0u);
      ASSERT_LE(got, std::min(c.bufferBlocks, c.maxBlocks));
      for (std::uint32_t i = 0; i < got; ++i)
        expectSector(std::span<const char>(buffer).subspan(std::size_t{i} * 2336, 2336), total + i,
                     c.subheader);
      total += got;
    }
    EXPECT_EQ(total, 13u);
    for (const std::uint32_t asked : w.fake->askedBlocks)
      EXPECT_LE(asked, std::min(c.bufferBlocks, c.maxBlocks));
    std::uint32_t got = 99;
    EXPECT_EQ(w.wrapper.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                   c.maxBlocks, &got),
              kNoErr);
    EXPECT_EQ(got, 0u) << "past the end";
  }
}

// What goes wrong inside comes out unchanged: a failing read with the blocks it still
// gave (widened), a refusal to start, missing data, the sense of the last command; a
// missing buffer is refused before the inside is asked.
TEST(Mode2Form1Wrapper, PassesTheInsideThrough) {
  Wrapped w(6);
  w.fake->failAfter = 4;
  w.fake->failure = kErrCheckCondition;
  std::uint16_t size = 2336;
  ASSERT_EQ(w.wrapper.PrepareAll(&size, nullptr, nullptr), 6u);
  std::vector<char> buffer(3 * 2336, '\x55');
  std::uint32_t got = 0;
  EXPECT_EQ(w.wrapper.NextBlocks(nullptr, 2336, 1, &got), kErrBadArgument);
  EXPECT_EQ(w.wrapper.NextBlocks(buffer.data(), 2336, 1, nullptr), kErrBadArgument);
  EXPECT_TRUE(w.fake->askedBlocks.empty());
  ASSERT_EQ(w.wrapper.NextBlocks(buffer.data(), 3 * 2336, 3, &got), kNoErr);
  ASSERT_EQ(got, 3u);
  std::fill(buffer.begin(), buffer.end(), '\x55');
  EXPECT_EQ(w.wrapper.NextBlocks(buffer.data(), 3 * 2336, 3, &got), kErrCheckCondition);
  ASSERT_EQ(got, 1u);
  expectSector(std::span<const char>(buffer).first(2336), 3, {});

  MMC_SenseData sense{};
  EXPECT_EQ(w.wrapper.GetCurrentSenseCode(&sense), kNoErr);
  EXPECT_EQ(sense.key, 0x03);
  EXPECT_EQ(sense.code, 0x11);
  EXPECT_EQ(sense.qualifier, 0x05);

  EXPECT_EQ(w.wrapper.DataResult(), kNoErr);
  w.fake->missing.push_back(DPM_MissingData{nullptr, "/a/b", false, 10, 3});
  ASSERT_EQ(w.wrapper.MissingData().size(), 1u);
  EXPECT_EQ(w.wrapper.MissingData()[0].path, "/a/b");
  EXPECT_EQ(w.wrapper.DataResult(), kErrFileAccess);

  w.wrapper.SetTotalBlocks(42);
  EXPECT_EQ(w.fake->setTotal, 42u);
  EXPECT_EQ(w.wrapper.TotalBlocks(), 42u);

  Wrapped refusing;
  refusing.fake->initStatus = kErrProducerFormat;
  EXPECT_EQ(refusing.wrapper.Init(), kErrProducerFormat);
  EXPECT_EQ(DPM_Mode2Form1(nullptr).Init(), kErrBadArgument);
}
