// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace quillion::mpeg {
namespace {

constexpr const char* kFrameworkSubfolder = "lib/quillion/frameworks";

bool plainName(const char* text) {
  return text && *text && std::strchr(text, '/') == nullptr && std::strcmp(text, ".") != 0 &&
         std::strcmp(text, "..") != 0;
}

std::string joined(const std::string& folder, const std::string& file) {
  if (folder.empty()) return file;
  return folder.back() == '/' ? folder + file : folder + "/" + file;
}

}  // namespace

std::vector<std::string> frameworkFolders(const SearchEnvironment& env) {
  std::vector<std::string> folders;
  std::size_t start = 0;
  while (start < env.overridePath.size()) {
    std::size_t colon = env.overridePath.find(':', start);
    if (colon == std::string::npos) colon = env.overridePath.size();
    if (colon > start) folders.push_back(env.overridePath.substr(start, colon - start));
    start = colon + 1;
  }
  if (!env.executableDir.empty())
    folders.push_back(joined(joined(env.executableDir, ".."), kFrameworkSubfolder));
  if (!env.home.empty()) folders.push_back(joined(joined(env.home, ".local"), kFrameworkSubfolder));
  folders.push_back(joined("/usr/local", kFrameworkSubfolder));
  return folders;
}

SearchEnvironment processSearchEnvironment() {
  SearchEnvironment env;
  if (const char* path = std::getenv("QUILLION_FRAMEWORK_PATH")) env.overridePath = path;
  if (const char* home = std::getenv("HOME")) env.home = home;
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) env.executableDir = exe.parent_path().string();
  return env;
}

int loadFrameworkFrom(bundle_lib* lib, const char* name, const char* suffix,
                      const std::vector<std::string>& folders) {
  if (!lib) return 0;
  bundle_lib_reset(lib);
  if (!plainName(name) || (suffix && !plainName(suffix))) return 0;
  std::string file = name;
  if (suffix) file += std::string(".") + suffix;
  file += ".so";
  if (file.size() >= sizeof lib->name) return 0;
  for (const std::string& folder : folders) {
    const std::string path = joined(folder, file);
    if (::access(path.c_str(), F_OK) != 0) continue;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) continue;
    lib->bundle = handle;
    lib->loaded = 1;
    std::memcpy(lib->name, file.c_str(), file.size() + 1);
    return 1;
  }
  return 0;
}

}  // namespace quillion::mpeg

int bundle_lib_init(bundle_lib* lib) {
  bundle_lib_reset(lib);
  return 1;
}

void bundle_lib_reset(bundle_lib* lib) {
  if (!lib) return;
  lib->bundle = nullptr;
  lib->loaded = 0;
  lib->name[0] = '\0';
}

int bundle_lib_load(bundle_lib* lib, const char* name, const char* suffix) {
  using namespace quillion::mpeg;
  return loadFrameworkFrom(lib, name, suffix, frameworkFolders(processSearchEnvironment()));
}

void* bundle_lib_symbol(bundle_lib* lib, const char* function) {
  if (!lib || !lib->loaded || !lib->bundle || !function) return nullptr;
  return ::dlsym(lib->bundle, function);
}

int bundle_lib_release(bundle_lib* lib) {
  if (!lib) return 1;
  if (lib->loaded && lib->bundle) ::dlclose(lib->bundle);
  lib->bundle = nullptr;
  lib->loaded = 0;
  return 1;
}

void sleep_ms(std::uint32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
