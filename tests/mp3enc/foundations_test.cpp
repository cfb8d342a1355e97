// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "mp3enc/aligned_memory.h"
#include "mp3enc/cpu_caps.h"
#include "mp3enc/error_records.h"
#include "mp3enc/vector_math.h"

using namespace quillion::mp3enc;

TEST(AlignedMemory, BlocksAreAlignedZeroedAndSizesChecked) {
  for (std::size_t size : {1u, 3u, 16u, 1000u}) {
    void* p = teskCalloc_mem(size, 3, "t", 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < size * 3; ++i) ASSERT_EQ(bytes[i], 0);
    teskFree_mem(p);
  }
  EXPECT_EQ(teskCalloc_mem(0, 16, "t", 1), nullptr);
  EXPECT_EQ(teskMalloc_mem(0, "t", 1), nullptr);
  EXPECT_EQ(teskCalloc_mem(std::numeric_limits<std::size_t>::max() / 2, 3, "t", 1), nullptr)
      << "a product that overflows is refused, never wrapped";
  teskFree_mem(nullptr);
}

TEST(ErrorRecords, ChainsKeepTheirPlacesAndNeverFail) {
  ErrorRecord* chain = ERROR("/a/b/src.c", 12, "ctx", "bad %d", 7);
  ASSERT_NE(chain, &ERROR_ERRORHND_NOMEMORY);
  EXPECT_STREQ(chain->file, "src.c");
  EXPECT_STREQ(chain->message, "bad 7");
  chain = _handBack("x/caller.c", 40, nullptr, chain);
  ASSERT_NE(chain->next, nullptr);
  EXPECT_STREQ(chain->next->file, "caller.c");
  EXPECT_EQ(chain->next->message, nullptr);
  std::uint32_t hash = 0;
  for (char c : std::string("src.c")) hash = ((hash << 1) ^ (257u * static_cast<unsigned char>(c))) & 0xFFFF;
  EXPECT_EQ(errorCode(chain), (hash << 16) + 12);
  char text[256];
  EXPECT_EQ(errorText(chain, text, sizeof text), errorLength(chain));
  EXPECT_NE(std::string(text).find("bad 7"), std::string::npos);
  freeErrorTraceback(chain);
  EXPECT_EQ(_handBack("f.c", 1, nullptr, nullptr), nullptr);
  // The static record stands alone: nothing may be hung onto it.
  EXPECT_EQ(_handBack("f.c", 1, nullptr, &ERROR_ERRORHND_NOMEMORY), &ERROR_ERRORHND_NOMEMORY);
  EXPECT_EQ(ERROR_ERRORHND_NOMEMORY.next, nullptr);
  freeErrorTraceback(&ERROR_ERRORHND_NOMEMORY);
}

TEST(ErrorRecordsDeathTest, AbortEndsWithStatus20) {
  EXPECT_EXIT(_abort("broken", "f.c", 3), ::testing::ExitedWithCode(20), "fatal error: broken in file f.c, 3");
}

TEST(VectorMath, EdgeCasesOfThePortableVariants) {
  const float in[] = {2.5f, -2.5f, 0.49f, -0.5f, 0.49999997f, 40000.0f, -40000.0f};
  std::int32_t ints[7];
  roundFLOAT2INT(in, ints, 7);
  const std::int32_t wantInts[] = {3, -3, 0, -1, 1, 40000, -40000};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ints[i], wantInts[i]) << in[i];
  std::int16_t shorts[7];
  roundFLOAT2SHORT(in, shorts, 7);
  EXPECT_EQ(shorts[5], 32767);
  EXPECT_EQ(shorts[6], -32768);
  float nints[2];
  nintFLOAT(in, nints, 2);
  EXPECT_EQ(nints[0], 3.0f);
  EXPECT_EQ(nints[1], -2.0f);
  const float signs[] = {0.0f, -0.0f, -3.0f};
  float s[3];
  signFLOAT(signs, s, 3);
  EXPECT_EQ(s[0], 1.0f);
  EXPECT_EQ(s[1], 1.0f);
  EXPECT_EQ(s[2], -1.0f);
  const std::int32_t limitIn[] = {-7, 7, 3, std::numeric_limits<std::int32_t>::min()};
  std::int32_t out[4];
  limitINT(-5, 5, limitIn, out, 3);
  EXPECT_EQ(out[0], -5);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(out[2], 3);
  absINT(limitIn + 3, out, 1);
  EXPECT_EQ(out[0], std::numeric_limits<std::int32_t>::min());
  for (auto [n, want] : {std::pair{1, 0}, {2, 1}, {3, 2}, {4, 2}, {1024, 10}, {1025, 11}, {0, 0}}) EXPECT_EQ(ceillog2(n), want);
  float strided[6] = {9, 9, 9, 9, 9, 9};
  setFLOATflex(1.0f, strided, 2, 3);
  EXPECT_EQ(strided[0], 1.0f);
  EXPECT_EQ(strided[1], 9.0f);
  EXPECT_EQ(strided[4], 1.0f);
  float untouched[2] = {5, 5};
  setFLOAT(0.0f, untouched, 0);
  setFLOAT(0.0f, untouched, -3);
  EXPECT_EQ(untouched[0], 5.0f);
  EXPECT_EQ(sumFLOAT(untouched, 0), 0.0f);
  EXPECT_EQ(dotFLOAT(untouched, untouched, 0), 0.0f);
  EXPECT_EQ(norm2FLOAT(untouched, 2), 50.0f);
}

// CPUID on this machine agrees with what the kernel reports.
TEST(CpuCaps, DetectionMatchesProcCpuinfo) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, flags;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) == 0) {
      flags = " " + line.substr(line.find(':') + 1) + " ";
      break;
    }
  }
  if (flags.empty()) GTEST_SKIP() << "no x86 flags line in /proc/cpuinfo";
  auto has = [&](const char* flag) { return flags.find(std::string(" ") + flag + " ") != std::string::npos ? 1 : 0; };
  EXPECT_EQ(GetCPUInfo(0), has("fpu"));
  EXPECT_EQ(GetCPUInfo(1), has("mmx"));
  EXPECT_EQ(GetCPUInfo(2), has("sse"));
  EXPECT_EQ(GetCPUInfo(3), has("sse2"));
  EXPECT_EQ(GetCPUInfo(4), has("pni"));
  EXPECT_EQ(GetCPUInfo(5), 0);
  EXPECT_EQ(GetCPUInfo(-1), 0);
  EXPECT_EQ(CPU_Info[28].load(), has("sse"));
  EXPECT_EQ(GetCPUCaps(4), 1);
}

TEST(CpuCaps, AnswersFollowTheVendorTables) {
  CpuIdSnapshot none;
  none.state = -1;
  for (int code : {0, 4, 28, 40}) EXPECT_EQ(answerCpuCaps(none, code), 0);
  CpuIdSnapshot intel;
  intel.state = 1;
  std::memcpy(intel.vendor, "GenuineIntel", 12);
  intel.signature = (6 << 8) | (13 << 4);
  EXPECT_EQ(answerCpuCaps(intel, 0), 2);
  EXPECT_EQ(answerCpuCaps(intel, 1), 29);
  EXPECT_EQ(answerCpuCaps(intel, 40), -1);
  CpuIdSnapshot amd = intel;
  std::memcpy(amd.vendor, "AuthenticAMD", 12);
  amd.signature = (6 << 8) | (3 << 4);
  amd.ext5[0] = 0x11223344;
  EXPECT_EQ(answerCpuCaps(amd, 1), 7);
  EXPECT_EQ(answerCpuCaps(amd, 40), 0) << "type 7 has no TLB answer";
  amd.signature = (6 << 8) | (1 << 4);
  EXPECT_EQ(answerCpuCaps(amd, 1), 6);
  EXPECT_EQ(answerCpuCaps(amd, 40), 0x44);
  CpuIdSnapshot other = intel;
  std::memcpy(other.vendor, "SomethingNew", 12);
  EXPECT_EQ(answerCpuCaps(other, 0), 0);
  EXPECT_EQ(answerCpuCaps(other, 1), 0);
}
