// SPDX-License-Identifier: GPL-2.0-or-later
// Processor capability queries over CPUID. The encoder asks only whether SSE and SSE2 are
// there; the rest of the query set (vendor, type, feature bits, cache descriptors of one
// vendor) is answered for completeness.
#pragma once

#include <atomic>
#include <cstdint>

namespace quillion::mp3enc {

// What detection read from the processor. Leaves the processor does not offer stay zero.
struct CpuIdSnapshot {
  int state = 0;  // 0 before detection, 1 after success, -1 when there is no CPUID
  char vendor[16] = {};
  std::uint32_t maxStandardLeaf = 0;
  std::uint32_t signature = 0, leaf1Ebx = 0, leaf1Edx = 0, leaf1Ecx = 0;
  std::uint32_t ext1Edx = 0, ext1Ebx = 0, ext1Ecx = 0;
  std::uint32_t ext5[4] = {};  // EAX, EBX, ECX, EDX of 0x80000005
  std::uint32_t ext6[4] = {};  // EAX, EBX, ECX, EDX of 0x80000006
};

// Reads this processor (once per process; later calls return the same record).
[[nodiscard]] const CpuIdSnapshot& cpuIdSnapshot();

// The answer to one query code for a given snapshot; GetCPUCaps applies it to this processor.
[[nodiscard]] std::int32_t answerCpuCaps(const CpuIdSnapshot& cpu, std::int32_t code);

// One numbered query about this processor. Detection runs on first use, once per process,
// whichever thread asks first.
std::int32_t GetCPUCaps(std::int32_t code);

// Levels 0 FPU, 1 MMX, 2 SSE, 3 SSE2, 4 SSE3; any other level answers 0. Every call
// refreshes the CPU_Info entries of codes 5, 23, 28, 29 and 31.
std::int32_t GetCPUInfo(std::int32_t level);

inline constexpr int kCpuInfoEntries = 64;
// Atomic entries: several encoders may open on several threads, each refreshing the table.
extern std::atomic<std::int32_t> CPU_Info[kCpuInfoEntries];

}  // namespace quillion::mp3enc
