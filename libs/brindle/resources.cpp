// SPDX-License-Identifier: GPL-2.0-or-later
#include "resources.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session.h"

namespace quillion::brindle {
namespace resources_detail {

void quietPrintf(const char* /*format*/, ...) {}
void quietPrgPrintf(int /*level*/, const char* /*format*/, ...) {}
void quietProgress(const char* /*text*/, std::int32_t* /*stop*/) {}
std::int32_t refuseIndexMode() {
  return 0;
}

// Only ever emptied: errors are reported through err_printf, never kept here.
char lastError[1024];

constexpr std::size_t kLineBytes = 2048;

void vformatLine(char (&line)[kLineBytes], const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));
void vformatLine(char (&line)[kLineBytes], const char* format, va_list args) {
  std::vsnprintf(line, sizeof line, format, args);
}

template <typename Fn>
Fn lookup(mpeg_get_rc get_rc, const char* name) {
  return get_rc ? reinterpret_cast<Fn>(get_rc(name)) : nullptr;
}

const resource_set* attached(const mpeg_in_info* record) {
  if (!record || !record->priv || !record->priv->resources.attached) return nullptr;
  return &record->priv->resources;
}

// Before a session has its services (or without a private part): get_rc's printer, else the
// record's own field; silent when neither exists.
mpeg_printf_fn earlyErrorPrinter(const mpeg_in_info* record, mpeg_get_rc get_rc) {
  if (auto fn = lookup<mpeg_printf_fn>(get_rc, "err_printf")) return fn;
  return record ? record->err_printf : nullptr;
}

// The forms the loaded libraries call through get_rc_ex.
void* exMalloc(void* application, std::size_t bytes) {
  return session_malloc(static_cast<mpeg_in_info*>(application), bytes);
}
void exFree(void* application, void* block) {
  session_free(static_cast<mpeg_in_info*>(application), block);
}
void exErr(void* application, const char* format, ...) __attribute__((format(printf, 2, 3)));
void exWrn(void* application, const char* format, ...) __attribute__((format(printf, 2, 3)));
void exInf(void* application, const char* format, ...) __attribute__((format(printf, 2, 3)));

enum class Printer { Error, Warning, Info };

void vreport(const mpeg_in_info* record, Printer which, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
void vreport(const mpeg_in_info* record, Printer which, const char* format, va_list args) {
  mpeg_printf_fn printer = nullptr;
  if (const resource_set* r = attached(record)) {
    printer = which == Printer::Error     ? r->err_printf
              : which == Printer::Warning ? r->wrn_printf
                                          : r->inf_printf;
  } else if (which == Printer::Error && record) {
    printer = earlyErrorPrinter(record, record->get_rc);
  }
  if (!printer) return;
  char line[kLineBytes];
  vformatLine(line, format, args);
  printer("%s", line);
}

void exErr(void* application, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(static_cast<mpeg_in_info*>(application), Printer::Error, format, args);
  va_end(args);
}
void exWrn(void* application, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(static_cast<mpeg_in_info*>(application), Printer::Warning, format, args);
  va_end(args);
}
void exInf(void* application, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(static_cast<mpeg_in_info*>(application), Printer::Info, format, args);
  va_end(args);
}

}  // namespace resources_detail

using namespace resources_detail;

void* get_rc_default(const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "malloc") == 0) return reinterpret_cast<void*>(&std::malloc);
  if (std::strcmp(name, "free") == 0) return reinterpret_cast<void*>(&std::free);
  if (std::strcmp(name, "err_printf") == 0 || std::strcmp(name, "wrn_printf") == 0 ||
      std::strcmp(name, "inf_printf") == 0)
    return reinterpret_cast<void*>(&quietPrintf);
  if (std::strcmp(name, "prg_printf") == 0) return reinterpret_cast<void*>(&quietPrgPrintf);
  if (std::strcmp(name, "prompt_index_mode") == 0) return reinterpret_cast<void*>(&refuseIndexMode);
  return nullptr;
}

void attach_resources(mpeg_in_info* record, mpeg_get_rc get_rc) {
  if (!record || !record->priv || record->priv->resources.attached) return;
  resource_set& r = record->priv->resources;
  if (get_rc) {
    r.get_rc = get_rc;
    r.malloc_fn = lookup<mpeg_malloc_fn>(get_rc, "malloc");
    r.free_fn = lookup<mpeg_free_fn>(get_rc, "free");
    r.err_printf = lookup<mpeg_printf_fn>(get_rc, "err_printf");
    r.prg_printf = lookup<mpeg_prg_printf_fn>(get_rc, "prg_printf");
    r.wrn_printf = lookup<mpeg_printf_fn>(get_rc, "wrn_printf");
    r.inf_printf = lookup<mpeg_printf_fn>(get_rc, "inf_printf");
    r.prompt_index_mode = lookup<mpeg_in_prompt_index_mode_fn>(get_rc, "prompt_index_mode");
  } else {
    r.get_rc = &get_rc_default;
    r.malloc_fn = record->malloc_fn;
    r.free_fn = record->free_fn;
    r.err_printf = record->err_printf;
    r.prg_printf = record->prg_printf;
    r.wrn_printf = record->wrn_printf;
    r.inf_printf = record->inf_printf;
    r.progress = record->progress_callback;
    r.prompt_index_mode = record->prompt_index_mode;
  }
  // Memory comes in pairs: a caller's malloc without its free (or the reverse) would hand
  // blocks to the wrong allocator, so a half-given pair becomes the system pair.
  if (!r.malloc_fn || !r.free_fn) {
    r.malloc_fn = &std::malloc;
    r.free_fn = &std::free;
  }
  if (!r.err_printf) r.err_printf = &quietPrintf;
  if (!r.prg_printf) r.prg_printf = &quietPrgPrintf;
  if (!r.wrn_printf) r.wrn_printf = &quietPrintf;
  if (!r.inf_printf) r.inf_printf = &quietPrintf;
  if (!r.progress) r.progress = &quietProgress;
  if (!r.prompt_index_mode) r.prompt_index_mode = &refuseIndexMode;
  r.attached = 1;
}

int alloc_private(mpeg_in_info* record, mpeg_get_rc get_rc) {
  if (!record) return 1;
  if (record->private_size == sizeof(mpeg_in_private) && record->priv && record->priv->inside_block)
    return 0;
  auto allocate = lookup<mpeg_malloc_fn>(get_rc, "malloc");
  if (!allocate) allocate = record->malloc_fn ? record->malloc_fn : &std::malloc;
  auto* block = static_cast<mpeg_in_private*>(allocate(sizeof(mpeg_in_private)));
  if (!block) {
    if (mpeg_printf_fn printer = earlyErrorPrinter(record, get_rc)) {
      char line[kLineBytes];
      std::snprintf(line, sizeof line, "Unable to allocate %d bytes for decoder private data",
                    static_cast<int>(sizeof(mpeg_in_private)));
      printer("%s", line);
    }
    return 1;
  }
  std::memset(static_cast<void*>(block), 0, sizeof(mpeg_in_private));
  record->priv = block;
  return 0;
}

void* get_rc_ex_answer(void* /*application*/, const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "malloc_ex") == 0) return reinterpret_cast<void*>(&exMalloc);
  if (std::strcmp(name, "free_ex") == 0) return reinterpret_cast<void*>(&exFree);
  if (std::strcmp(name, "err_printf_ex") == 0) return reinterpret_cast<void*>(&exErr);
  if (std::strcmp(name, "wrn_printf_ex") == 0) return reinterpret_cast<void*>(&exWrn);
  if (std::strcmp(name, "inf_printf_ex") == 0) return reinterpret_cast<void*>(&exInf);
  return nullptr;
}

void report_error(const mpeg_in_info* record, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(record, Printer::Error, format, args);
  va_end(args);
}

void report_warning(const mpeg_in_info* record, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(record, Printer::Warning, format, args);
  va_end(args);
}

void report_info(const mpeg_in_info* record, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(record, Printer::Info, format, args);
  va_end(args);
}

void* session_malloc(const mpeg_in_info* record, std::size_t bytes) {
  const resource_set* r = attached(record);
  return r ? r->malloc_fn(bytes) : std::malloc(bytes);
}

void session_free(const mpeg_in_info* record, void* block) {
  if (!block) return;
  const resource_set* r = attached(record);
  if (r)
    r->free_fn(block);
  else
    std::free(block);
}

void clear_last_error() {
  lastError[0] = '\0';
}

}  // namespace quillion::brindle

extern "C" const char* mpegInGetLastErrString(void) {
  return quillion::brindle::resources_detail::lastError;
}
