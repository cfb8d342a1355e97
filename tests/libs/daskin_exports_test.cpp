// SPDX-License-Identifier: GPL-2.0-or-later
// Daskin as its caller meets it: found by the framework loader under the name "Daskin",
// with its 18 functions and nothing else visible.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "daskin.h"
#include "framework_loader.h"
#include "tests/support/test_support.h"

namespace {

const std::set<std::string> kExports = {
    "mpegDemuxNew",         "mpegDemuxOpen",           "mpegDemuxOpenW",
    "mpegDemuxGetFileInfo", "mpegDemuxGetProgramInfo", "mpegDemuxGetStreamInfo",
    "mpegDemuxNewParser",   "mpegDemuxAddStream",      "mpegDemuxRemoveStream",
    "mpegDemuxSeek",        "mpegDemuxPush",           "mpegDemuxSleepParser",
    "mpegDemuxWakeParser",  "mpegDemuxUpdateFilesize", "mpegDemuxSetFirstSplitRead",
    "mpegDemuxFreeParser",  "mpegDemuxClose",          "mpegDemuxFree"};

TEST(DaskinLibrary, ExportsExactlyItsEighteenFunctions) {
  QUILLION_REQUIRE_TOOL("nm");
  const auto r = quillion::test::exportedNames(DASKIN_LIBRARY);
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  const std::set<std::string> exported(r.names.begin(), r.names.end());
  EXPECT_EQ(exported, kExports);
}

TEST(DaskinLibrary, TheLoaderFindsItByNameWithEveryFunction) {
  const std::string folder = std::filesystem::path(DASKIN_LIBRARY).parent_path().string();
  bundle_lib lib{};
  bundle_lib_init(&lib);
  ASSERT_EQ(quillion::mpeg::loadFrameworkFrom(&lib, "Daskin", nullptr, {folder}), 1);
  for (const auto& name : kExports)
    EXPECT_NE(bundle_lib_symbol(&lib, name.c_str()), nullptr) << name;
  // The bound functions work: a context is made and released without services.
  using NewFn = demux_context* (*)(mpeg_get_rc_ex, void*, const demux_settings*);
  using FreeFn = void (*)(demux_context*);
  const auto make = reinterpret_cast<NewFn>(bundle_lib_symbol(&lib, "mpegDemuxNew"));
  const auto release = reinterpret_cast<FreeFn>(bundle_lib_symbol(&lib, "mpegDemuxFree"));
  const demux_settings settings{};
  demux_context* ctx = make(nullptr, nullptr, &settings);
  EXPECT_NE(ctx, nullptr);
  release(ctx);
  bundle_lib_release(&lib);
}

}  // namespace
