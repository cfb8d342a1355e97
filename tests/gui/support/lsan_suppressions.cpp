// SPDX-License-Identifier: GPL-2.0-or-later
// Leaks that are not ours: fontconfig keeps its caches for the life of the process and
// frees them only on an explicit FcFini(), which Qt does not call. Compiled into each GUI
// test executable itself: from a static library the linker would leave it out.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
