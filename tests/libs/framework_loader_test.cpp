// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace {

using quillion::mpeg::frameworkFolders;
using quillion::mpeg::loadFrameworkFrom;
using quillion::mpeg::SearchEnvironment;
using quillion::test::TempDir;

// Installs a built test framework as `name` in `folder`.
void install(const char* built, const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(built, folder / name,
                             std::filesystem::copy_options::overwrite_existing);
}

int identityOf(bundle_lib& lib) {
  auto* identity = reinterpret_cast<int (*)()>(bundle_lib_symbol(&lib, "probe_identity"));
  return identity ? identity() : -1;
}

TEST(FrameworkSearch, FoldersComeInTheFixedOrder) {
  SearchEnvironment env{"/t/one:/t/two", "/opt/app/bin", "/home/u"};
  const std::vector<std::string> expected = {
      "/t/one", "/t/two", "/opt/app/bin/../lib/quillion/frameworks",
      "/home/u/.local/lib/quillion/frameworks", "/usr/local/lib/quillion/frameworks"};
  EXPECT_EQ(frameworkFolders(env), expected);
  env = SearchEnvironment{"", "", ""};
  EXPECT_EQ(frameworkFolders(env), std::vector<std::string>{"/usr/local/lib/quillion/frameworks"});
}

TEST(FrameworkLoader, EarlierFolderWinsAndItsFileNameIsKept) {
  TempDir dir;
  const auto privateDir = dir.path() / "private";
  const auto userDir = dir.path() / "user";
  install(PROBE_FRAMEWORK_1, privateDir, "Probe.so");
  install(PROBE_FRAMEWORK_2, userDir, "Probe.so");
  bundle_lib lib;
  ASSERT_EQ(bundle_lib_init(&lib), 1);
  ASSERT_EQ(loadFrameworkFrom(&lib, "Probe", nullptr, {privateDir.string(), userDir.string()}), 1);
  EXPECT_EQ(lib.loaded, 1u);
  EXPECT_STREQ(lib.name, "Probe.so");
  EXPECT_EQ(identityOf(lib), 1);
  EXPECT_EQ(bundle_lib_symbol(&lib, "no_such_function"), nullptr);
  EXPECT_EQ(bundle_lib_release(&lib), 1);
  EXPECT_EQ(lib.loaded, 0u);
  EXPECT_EQ(lib.bundle, nullptr);
  EXPECT_STREQ(lib.name, "Probe.so") << "the name stays until reset";
  bundle_lib_reset(&lib);
  EXPECT_STREQ(lib.name, "");

  ASSERT_EQ(loadFrameworkFrom(&lib, "Probe", nullptr, {dir.file("empty"), userDir.string()}), 1);
  EXPECT_EQ(identityOf(lib), 2) << "found in the later folder when the first has none";
  bundle_lib_release(&lib);
}

TEST(FrameworkLoader, AFrameworkThatDoesNotLoadIsPassedOver) {
  TempDir dir;
  install(BROKEN_FRAMEWORK, dir.path() / "a", "Probe.1.so");
  install(PROBE_FRAMEWORK_2, dir.path() / "b", "Probe.1.so");
  bundle_lib lib;
  bundle_lib_init(&lib);
  ASSERT_EQ(loadFrameworkFrom(&lib, "Probe", "1", {dir.file("a"), dir.file("b")}), 1);
  EXPECT_EQ(identityOf(lib), 2);
  EXPECT_STREQ(lib.name, "Probe.1.so");
  bundle_lib_release(&lib);

  EXPECT_EQ(loadFrameworkFrom(&lib, "Probe", "1", {dir.file("a")}), 0);
  EXPECT_EQ(lib.loaded, 0u);
  EXPECT_STREQ(lib.name, "") << "a failed load leaves the record clear";
  EXPECT_EQ(bundle_lib_release(&lib), 1) << "releasing a clear record does nothing";
}

TEST(FrameworkLoader, RefusesNamesThatAreNotPlainOrTooLong) {
  TempDir dir;
  install(PROBE_FRAMEWORK_1, dir.path() / "sub", "Probe.so");
  const std::vector<std::string> folders = {dir.path().string()};
  bundle_lib lib;
  bundle_lib_init(&lib);
  EXPECT_EQ(loadFrameworkFrom(&lib, "sub/Probe", nullptr, folders), 0);
  EXPECT_EQ(loadFrameworkFrom(&lib, "..", nullptr, folders), 0);
  EXPECT_EQ(loadFrameworkFrom(&lib, "", nullptr, folders), 0);
  EXPECT_EQ(loadFrameworkFrom(&lib, nullptr, nullptr, folders), 0);
  EXPECT_EQ(loadFrameworkFrom(&lib, "Probe", "../x", folders), 0);
  const std::string longName(3000, 'a');
  EXPECT_EQ(loadFrameworkFrom(&lib, longName.c_str(), nullptr, folders), 0);
  EXPECT_EQ(loadFrameworkFrom(&lib, "Probe", longName.c_str(), folders), 0);
  EXPECT_EQ(lib.loaded, 0u);
}

TEST(FrameworkLoader, ProcessSearchUsesTheOverrideThenTheUsersFolder) {
  TempDir dir;
  install(PROBE_FRAMEWORK_2, dir.path() / "home/.local/lib/quillion/frameworks", "Probe.so");
  ::setenv("HOME", dir.file("home").c_str(), 1);
  ::unsetenv("QUILLION_FRAMEWORK_PATH");
  bundle_lib lib;
  bundle_lib_init(&lib);
  ASSERT_EQ(bundle_lib_load(&lib, "Probe", nullptr), 1);
  EXPECT_EQ(identityOf(lib), 2);
  bundle_lib_release(&lib);

  install(PROBE_FRAMEWORK_1, dir.path() / "override", "Probe.so");
  ::setenv("QUILLION_FRAMEWORK_PATH", dir.file("override").c_str(), 1);
  ASSERT_EQ(bundle_lib_load(&lib, "Probe", nullptr), 1);
  EXPECT_EQ(identityOf(lib), 1);
  bundle_lib_release(&lib);
  EXPECT_EQ(bundle_lib_load(&lib, "Absent", nullptr), 0);
}

}  // namespace
