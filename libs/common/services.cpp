// SPDX-License-Identifier: GPL-2.0-or-later
#include "services.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace quillion::mpeg {
namespace {

template <typename Fn>
Fn lookup(mpeg_get_rc getRc, const char* name) {
  return getRc ? reinterpret_cast<Fn>(getRc(name)) : nullptr;
}

template <typename Fn>
Fn lookupEx(mpeg_get_rc_ex getRcEx, void* app, const char* name) {
  return getRcEx ? reinterpret_cast<Fn>(getRcEx(app, name)) : nullptr;
}

// Long enough for any message of the libraries, with a file name in it.
constexpr std::size_t kMessageBytes = 2560;

}  // namespace

Services Services::resolve(mpeg_get_rc getRc) {
  Services s;
  s.malloc_ = lookup<mpeg_malloc_fn>(getRc, "malloc");
  s.free_ = lookup<mpeg_free_fn>(getRc, "free");
  s.printers_[0] = lookup<mpeg_printf_fn>(getRc, "err_printf");
  s.printers_[1] = lookup<mpeg_printf_fn>(getRc, "wrn_printf");
  s.printers_[2] = lookup<mpeg_printf_fn>(getRc, "inf_printf");
  s.progress_ = lookup<mpeg_prg_printf_fn>(getRc, "prg_printf");
  s.yield_ = lookup<mpeg_yield_fn>(getRc, "yield");
  return s;
}

Services Services::resolveEx(mpeg_get_rc_ex getRcEx, void* app) {
  Services s;
  s.ex_ = true;
  s.app_ = app;
  s.mallocEx_ = lookupEx<mpeg_malloc_ex_fn>(getRcEx, app, "malloc_ex");
  s.freeEx_ = lookupEx<mpeg_free_ex_fn>(getRcEx, app, "free_ex");
  s.printersEx_[0] = lookupEx<mpeg_printf_ex_fn>(getRcEx, app, "err_printf_ex");
  s.printersEx_[1] = lookupEx<mpeg_printf_ex_fn>(getRcEx, app, "wrn_printf_ex");
  s.printersEx_[2] = lookupEx<mpeg_printf_ex_fn>(getRcEx, app, "inf_printf_ex");
  return s;
}

void* Services::allocate(std::size_t bytes) const {
  if (ex_ && mallocEx_) return mallocEx_(app_, bytes);
  if (!ex_ && malloc_) return malloc_(bytes);
  return std::malloc(bytes);
}

void Services::release(void* block) const {
  if (!block) return;
  if (ex_ && freeEx_) return freeEx_(app_, block);
  if (!ex_ && free_) return free_(block);
  std::free(block);
}

void Services::print(Printer which, const char* text) const {
  if (which == Printer::Progress) {
    if (progress_) progress_(0, "%s", text);
    return;
  }
  const auto i = static_cast<int>(which);
  if (ex_) {
    if (printersEx_[i]) printersEx_[i](app_, "%s", text);
  } else if (printers_[i]) {
    printers_[i]("%s", text);
  }
}

void Services::printV(Printer which, const char* format, va_list args) const {
  char text[kMessageBytes];
  std::vsnprintf(text, sizeof text, format, args);
  print(which, text);
}

void Services::error(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  printV(Printer::Error, format, args);
  va_end(args);
}

void Services::warning(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  printV(Printer::Warning, format, args);
  va_end(args);
}

void Services::info(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  printV(Printer::Info, format, args);
  va_end(args);
}

void Services::progress(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  printV(Printer::Progress, format, args);
  va_end(args);
}

int Services::yield() const {
  return yield_ ? yield_() : 0;
}

bool hasMessageCode(const char* text) {
  if (!text) return false;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return text[0] >= 'A' && text[0] <= 'Z' && digit(text[1]) && digit(text[2]) && digit(text[3]) &&
         text[4] == ':';
}

}  // namespace quillion::mpeg
