// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/cpu_caps.h"

#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QUILLION_HAVE_CPUID 1
#endif

namespace quillion::mp3enc {

std::atomic<std::int32_t> CPU_Info[kCpuInfoEntries] = {};

namespace {

constexpr std::uint32_t bit(std::uint32_t word, int n) { return (word >> n) & 1u; }
constexpr std::uint32_t field(std::uint32_t word, int lo, int width) {
  return (word >> lo) & ((1u << width) - 1u);
}
constexpr std::uint32_t byteOf(std::uint32_t word, int n) { return field(word, 8 * n, 8); }

#if QUILLION_HAVE_CPUID
bool idFlagToggles() {
#if defined(__x86_64__)
  return true;  // every x86-64 processor has CPUID
#else
  std::uint32_t before = 0, after = 0;
  __asm__ volatile(
      "pushfl\n\tpopl %0\n\tmovl %0, %1\n\txorl $0x200000, %1\n\t"
      "pushl %1\n\tpopfl\n\tpushfl\n\tpopl %1\n\tpushl %0\n\tpopfl"
      : "=&r"(before), "=&r"(after));
  return ((before ^ after) & 0x200000u) != 0;
#endif
}
#endif

CpuIdSnapshot detect() {
  CpuIdSnapshot cpu;
#if QUILLION_HAVE_CPUID
  if (!idFlagToggles()) {
    cpu.state = -1;
    return cpu;
  }
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  cpu.maxStandardLeaf = a;
  std::memcpy(cpu.vendor + 0, &b, 4);
  std::memcpy(cpu.vendor + 4, &d, 4);
  std::memcpy(cpu.vendor + 8, &c, 4);
  if (cpu.maxStandardLeaf >= 1) {
    __cpuid(1, a, b, c, d);
    cpu.signature = a;
    cpu.leaf1Ebx = b;
    cpu.leaf1Ecx = c;
    cpu.leaf1Edx = d;
  }
  __cpuid(0x80000000u, a, b, c, d);
  const std::uint32_t maxExtended = a > 0x80000006u ? 0x80000006u : a;
  for (std::uint32_t leaf = maxExtended; leaf >= 0x80000001u && leaf <= 0x80000006u; --leaf) {
    __cpuid(leaf, a, b, c, d);
    if (leaf == 0x80000001u) {
      cpu.ext1Ebx = b;
      cpu.ext1Ecx = c;
      cpu.ext1Edx = d;
    } else if (leaf == 0x80000005u || leaf == 0x80000006u) {
      std::uint32_t* regs = leaf == 0x80000005u ? cpu.ext5 : cpu.ext6;
      regs[0] = a;
      regs[1] = b;
      regs[2] = c;
      regs[3] = d;
    }
  }
  cpu.state = 1;
#else
  cpu.state = -1;  // no CPUID: every query answers 0 and the portable code runs
#endif
  return cpu;
}

int vendorCode(const CpuIdSnapshot& cpu) {
  static constexpr const char* kVendors[] = {"AuthenticAMD", "GenuineIntel", "CyrixInstead",
                                             "CentaurHauls"};
  for (int i = 0; i < 4; ++i) {
    if (std::memcmp(cpu.vendor, kVendors[i], 12) == 0) return i + 1;
  }
  return 0;
}

int brandType(const CpuIdSnapshot& cpu) {
  const std::uint32_t b = byteOf(cpu.leaf1Ebx, 0);
  const std::uint32_t index = b == 0 ? field(cpu.ext1Ebx, 0, 12) : (((b * 8) & 0x700u) | (b & 0x1Fu));
  switch (index >> 6) {
    case 4: return 10;
    case 5: return 14;
    case 6: return 15;
    case 8: case 9: case 10: return 11;
    case 14: case 15: case 16: case 18: case 19: case 20: case 22: case 23: return 12;
    case 29: case 30: case 32: case 33: case 34: case 35: return 13;
    case 36: return 9;
    default: return 0;
  }
}

int processorType(const CpuIdSnapshot& cpu) {
  const int vendor = vendorCode(cpu);
  const std::uint32_t family = field(cpu.signature, 8, 4);
  const std::uint32_t model = field(cpu.signature, 4, 4);
  if (vendor == 1) {
    switch (family) {
      case 4: return 1;
      case 5: return model <= 3 ? 2 : model <= 7 ? 3 : model == 8 ? 4 : 5;
      case 6:
        if (model == 0 || model == 1 || model == 2 || model == 4) return 6;
        if (model == 3 || model == 7) return 7;
        return 8;
      case 15: return brandType(cpu);
      default: return 0;
    }
  }
  if (vendor == 2) {
    switch (family) {
      case 4: {
        static constexpr int kTypes[] = {16, 16, 17, 18, 19, 20, 0, 21, 22};
        return model <= 8 ? kTypes[model] : 0;
      }
      case 5: return (model >= 1 && model <= 3) ? 23 : model == 4 ? 24 : 0;
      case 6:
        switch (model) {
          case 1: return 25;
          case 3: case 5: return 26;
          case 6: return 27;
          case 7: return 28;
          case 13: return 29;
          default: return 0;
        }
      case 15: return model <= 4 ? 30 : 0;
      default: return 0;
    }
  }
  return 0;
}

// Cache and TLB fields; only vendor 1 has them.
std::int32_t cacheAnswer(const CpuIdSnapshot& cpu, std::int32_t code) {
  if (processorType(cpu) == 6) {
    if (code >= 37 && code <= 40) return static_cast<std::int32_t>(byteOf(cpu.ext5[0], 40 - code));
    if (code >= 53 && code <= 60) {
      const std::uint32_t reg = code <= 56 ? cpu.ext6[0] : cpu.ext6[1];
      switch ((code - 53) % 4) {
        case 0: return static_cast<std::int32_t>(field(reg, 28, 4));
        case 1: return static_cast<std::int32_t>(field(reg, 16, 12));
        case 2: return static_cast<std::int32_t>(field(reg, 12, 4));
        default: return static_cast<std::int32_t>(field(reg, 0, 12));
      }
    }
    return 0;
  }
  if (code >= 33 && code <= 36) return static_cast<std::int32_t>(byteOf(cpu.ext5[1], 36 - code));
  if (code >= 41 && code <= 44) return static_cast<std::int32_t>(byteOf(cpu.ext5[2], 44 - code));
  if (code >= 45 && code <= 48) return static_cast<std::int32_t>(byteOf(cpu.ext5[3], 48 - code));
  switch (code) {
    case 49: return static_cast<std::int32_t>(field(cpu.ext6[2], 16, 16));
    case 50: return static_cast<std::int32_t>(field(cpu.ext6[2], 12, 4));
    case 51: return static_cast<std::int32_t>(field(cpu.ext6[2], 8, 4));
    case 52: return static_cast<std::int32_t>(field(cpu.ext6[2], 0, 8));
    default: return 0;
  }
}

}  // namespace

const CpuIdSnapshot& cpuIdSnapshot() {
  static std::once_flag once;
  static CpuIdSnapshot cpu;
  std::call_once(once, [] { cpu = detect(); });
  return cpu;
}

std::int32_t answerCpuCaps(const CpuIdSnapshot& cpu, std::int32_t code) {
  if (cpu.state != 1) return 0;
  const std::uint32_t edx = cpu.leaf1Edx;
  if (code >= 5 && code <= 12) return static_cast<std::int32_t>(bit(edx, code - 5));
  if (code == 13 || code == 14) return static_cast<std::int32_t>(bit(edx, code - 5));
  if (code >= 15 && code <= 19) return static_cast<std::int32_t>(bit(edx, code - 4));
  if (code == 20 || code == 21) return static_cast<std::int32_t>(bit(edx, code - 4));
  switch (code) {
    case 0: return vendorCode(cpu);
    case 1: return processorType(cpu);
    case 4: return 1;
    case 22: return static_cast<std::int32_t>(bit(edx, 25) | bit(cpu.ext1Edx, 22));
    case 23: return static_cast<std::int32_t>(bit(edx, 23));
    case 24: return static_cast<std::int32_t>(bit(edx, 24));
    case 25: return static_cast<std::int32_t>(bit(cpu.ext1Edx, 30));
    case 26: return static_cast<std::int32_t>(bit(cpu.ext1Edx, 31));
    case 27: return static_cast<std::int32_t>(bit(cpu.ext1Edx, 22));
    case 28: return static_cast<std::int32_t>(bit(edx, 25));
    case 29: return static_cast<std::int32_t>(bit(edx, 26));
    case 31: return static_cast<std::int32_t>(bit(cpu.leaf1Ecx, 0));
    case 32: {
      const bool ht = bit(edx, 28) && field(cpu.leaf1Ebx, 16, 8) > 1;
      const bool amdLegacy = vendorCode(cpu) != 1 || bit(cpu.ext1Ecx, 1) == 0;
      return (ht && amdLegacy) ? 1 : 0;
    }
    default: break;
  }
  // 2, 3, 30 and everything above 32.
  if (vendorCode(cpu) != 1) return -1;
  return cacheAnswer(cpu, code);
}

std::int32_t GetCPUCaps(std::int32_t code) { return answerCpuCaps(cpuIdSnapshot(), code); }

std::int32_t GetCPUInfo(std::int32_t level) {
  static constexpr std::int32_t kCodes[] = {5, 23, 28, 29, 31};
  std::int32_t answers[5];
  for (int i = 0; i < 5; ++i) {
    answers[i] = GetCPUCaps(kCodes[i]);
    CPU_Info[kCodes[i]].store(answers[i], std::memory_order_relaxed);
  }
  return (level >= 0 && level <= 4) ? answers[level] : 0;
}

}  // namespace quillion::mp3enc
