// SPDX-License-Identifier: GPL-2.0-or-later
#include "services.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using quillion::mpeg::hasMessageCode;
using quillion::mpeg::Services;

std::vector<std::string> printed;
int allocations = 0;
void* appSeen = nullptr;

using quillion::test::formatted;

__attribute__((format(printf, 1, 2))) void collect(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed.push_back(formatted(format, args));
  va_end(args);
}
__attribute__((format(printf, 2, 3))) void collectProgress(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed.push_back(std::to_string(level) + ":" + formatted(format, args));
  va_end(args);
}
void* countingMalloc(std::size_t n) {
  ++allocations;
  return std::malloc(n);
}
void countingFree(void* p) {
  --allocations;
  std::free(p);
}
int stopNow() {
  return 1;
}

void* fullRc(const char* name) {
  const std::string n = name;
  if (n == "malloc") return reinterpret_cast<void*>(countingMalloc);
  if (n == "free") return reinterpret_cast<void*>(countingFree);
  if (n == "err_printf" || n == "wrn_printf" || n == "inf_printf")
    return reinterpret_cast<void*>(collect);
  if (n == "prg_printf") return reinterpret_cast<void*>(collectProgress);
  if (n == "yield") return reinterpret_cast<void*>(stopNow);
  return nullptr;
}
void* emptyRc(const char*) {
  return nullptr;
}

__attribute__((format(printf, 2, 3))) void collectEx(void* app, const char* format, ...) {
  appSeen = app;
  va_list args;
  va_start(args, format);
  printed.push_back(formatted(format, args));
  va_end(args);
}
void* mallocEx(void* app, std::size_t n) {
  appSeen = app;
  ++allocations;
  return std::malloc(n);
}
void freeEx(void* app, void* p) {
  appSeen = app;
  --allocations;
  std::free(p);
}
void* fullRcEx(void*, const char* name) {
  const std::string n = name;
  if (n == "malloc_ex") return reinterpret_cast<void*>(mallocEx);
  if (n == "free_ex") return reinterpret_cast<void*>(freeEx);
  if (n == "err_printf_ex") return reinterpret_cast<void*>(collectEx);
  return nullptr;
}

TEST(Services, CallersServicesAreUsed) {
  printed.clear();
  const Services s = Services::resolve(fullRc);
  void* block = s.allocate(16);
  EXPECT_EQ(allocations, 1);
  s.release(block);
  EXPECT_EQ(allocations, 0);
  // A '%' inside an argument reaches the caller's printer as text, never as a format.
  s.error("A002:Could not write to %s", "100%s.mp2");
  s.progress("half");
  EXPECT_EQ(printed, (std::vector<std::string>{"A002:Could not write to 100%s.mp2", "0:half"}));
  EXPECT_EQ(s.yield(), 1);
}

TEST(Services, MissingServicesFallBack) {
  for (mpeg_get_rc rc : {static_cast<mpeg_get_rc>(nullptr), emptyRc}) {
    printed.clear();
    const Services s = Services::resolve(rc);
    void* block = s.allocate(32);
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, 32);
    s.release(block);
    s.error("A001:nobody hears this");
    s.info("nor this");
    EXPECT_TRUE(printed.empty());
    EXPECT_EQ(s.yield(), 0);
  }
}

TEST(Services, ExtendedServicesTakeTheApplicationPointer) {
  printed.clear();
  int app = 0;
  const Services s = Services::resolveEx(fullRcEx, &app);
  s.release(s.allocate(8));
  EXPECT_EQ(appSeen, &app);
  EXPECT_EQ(allocations, 0);
  s.error("Unable to open %d", 3);
  s.warning("dropped: no wrn_printf_ex");
  EXPECT_EQ(printed, std::vector<std::string>{"Unable to open 3"});
}

TEST(Services, MessageCodeShape) {
  EXPECT_TRUE(hasMessageCode("A021:Invalid audio sample rate"));
  EXPECT_TRUE(hasMessageCode("M108:x"));
  EXPECT_FALSE(hasMessageCode("a021:lower case"));
  EXPECT_FALSE(hasMessageCode("A21:two digits"));
  EXPECT_FALSE(hasMessageCode("A0210:four digits"));
  EXPECT_FALSE(hasMessageCode(nullptr));
}

}  // namespace
