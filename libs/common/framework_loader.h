// SPDX-License-Identifier: GPL-2.0-or-later
// Loading a framework (a plug-in shared object) by name. "Name[.suffix]" is the file
// "Name[.suffix].so", searched in this order:
//   1. each folder of $QUILLION_FRAMEWORK_PATH (colon-separated; for tests),
//   2. <folder of the executable>/../lib/quillion/frameworks (the application's own),
//   3. ~/.local/lib/quillion/frameworks (the user's),
//   4. /usr/local/lib/quillion/frameworks (the machine's).
// A folder where the file is missing or does not load is passed over; a name found nowhere
// leaves the framework absent and prints nothing: the caller decides what that means.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct bundle_lib {
  void* bundle;          // dlopen handle, null while nothing is loaded
  std::uint32_t loaded;  // 1 while the handle is held
  char name[2048];       // after a load: the file name as searched ("Daskin.so"); else empty
};

// Clears the record; returns 1.
int bundle_lib_init(bundle_lib* lib);
void bundle_lib_reset(bundle_lib* lib);
// 1 when loaded, 0 when not (also for a name that is empty, holds '/' or is too long).
int bundle_lib_load(bundle_lib* lib, const char* name, const char* suffix);
// The named function of the loaded framework, or null.
void* bundle_lib_symbol(bundle_lib* lib, const char* function);
// Releases the handle if loaded; the name stays until reset. Returns 1.
int bundle_lib_release(bundle_lib* lib);
void sleep_ms(std::uint32_t milliseconds);

namespace quillion::mpeg {

struct SearchEnvironment {
  std::string overridePath;  // $QUILLION_FRAMEWORK_PATH
  std::string executableDir;
  std::string home;
};

// The folders searched, in order, for this environment.
std::vector<std::string> frameworkFolders(const SearchEnvironment& env);
// The environment of this process.
SearchEnvironment processSearchEnvironment();
// bundle_lib_load over explicit folders.
int loadFrameworkFrom(bundle_lib* lib, const char* name, const char* suffix,
                      const std::vector<std::string>& folders);

}  // namespace quillion::mpeg
