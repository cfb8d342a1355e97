// SPDX-License-Identifier: GPL-2.0-or-later
// The services an MPEG library takes from its caller, resolved once from `get_rc` (or
// `get_rc_ex`) with the fallbacks every library shares: the system allocator for a missing
// "malloc"/"free", a printer that does nothing for a missing printer, 0 for a missing "yield".
// Messages are formatted here and handed to the caller's printer as one finished line, so a
// '%' in a file name can never reach the caller's format parser.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "quillion_mpeg/mpeg_services.h"

namespace quillion::mpeg {

class Services {
 public:
  // Resolves from `getRc`; a null `getRc` gives the defaults for everything.
  static Services resolve(mpeg_get_rc getRc);
  // Resolves the "_ex" services ("malloc_ex", "free_ex", "err_printf_ex", ...) with `app`.
  static Services resolveEx(mpeg_get_rc_ex getRcEx, void* app);

  void* allocate(std::size_t bytes) const;
  void release(void* block) const;

  void error(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void warning(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void info(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void progress(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // Non-zero asks a long run to stop.
  int yield() const;

 private:
  enum class Printer { Error, Warning, Info, Progress };
  void print(Printer which, const char* text) const;
  void printV(Printer which, const char* format, va_list args) const
      __attribute__((format(printf, 3, 0)));

  void* app_ = nullptr;
  bool ex_ = false;
  mpeg_malloc_fn malloc_ = nullptr;
  mpeg_free_fn free_ = nullptr;
  mpeg_printf_fn printers_[3] = {};
  mpeg_prg_printf_fn progress_ = nullptr;
  mpeg_yield_fn yield_ = nullptr;
  mpeg_malloc_ex_fn mallocEx_ = nullptr;
  mpeg_free_ex_fn freeEx_ = nullptr;
  mpeg_printf_ex_fn printersEx_[3] = {};
};

// True when `text` begins with a message code: one capital letter, three digits and a colon.
bool hasMessageCode(const char* text);

}  // namespace quillion::mpeg
