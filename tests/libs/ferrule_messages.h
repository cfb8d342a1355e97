// SPDX-License-Identifier: GPL-2.0-or-later
// A `get_rc` for the Ferrule tests that collects what the library prints.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "quillion_mpeg/mpeg_services.h"
#include "tests/support/test_support.h"

namespace quillion::test {

struct Printed {
  std::vector<std::string> errors;
  std::vector<std::string> infos;
  void clear() {
    errors.clear();
    infos.clear();
  }
};

inline Printed& printed() {
  static Printed p;
  return p;
}

__attribute__((format(printf, 1, 2))) inline void collectError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().errors.push_back(formatted(format, args));
  va_end(args);
}

__attribute__((format(printf, 1, 2))) inline void collectInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printed().infos.push_back(formatted(format, args));
  va_end(args);
}

inline void* collectingRc(const char* name) {
  const std::string n = name;
  if (n == "err_printf") return reinterpret_cast<void*>(collectError);
  if (n == "inf_printf") return reinterpret_cast<void*>(collectInfo);
  return nullptr;
}

}  // namespace quillion::test
