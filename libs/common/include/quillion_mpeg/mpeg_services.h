/* SPDX-License-Identifier: GPL-2.0-or-later */
/* What every MPEG library shares with its callers: the service lookup `get_rc` handed to a
 * library's New function, the forms of the services it answers, and the export marker of
 * the library's functions. Plain C, included by each library's exported header. */
#ifndef QUILLION_MPEG_SERVICES_H
#define QUILLION_MPEG_SERVICES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the service of that name ("malloc", "free", "err_printf", "prg_printf",
 * "wrn_printf", "inf_printf", "yield", ...), or null for the library's own default. */
typedef void* (*mpeg_get_rc)(const char* name);
/* The same with an application pointer, which every service then takes first. */
typedef void* (*mpeg_get_rc_ex)(void* app, const char* name);

typedef void* (*mpeg_malloc_fn)(size_t bytes);
typedef void (*mpeg_free_fn)(void* block);
typedef void (*mpeg_printf_fn)(const char* format, ...);
typedef void (*mpeg_prg_printf_fn)(int level, const char* format, ...);
typedef int (*mpeg_yield_fn)(void);

typedef void* (*mpeg_malloc_ex_fn)(void* app, size_t bytes);
typedef void (*mpeg_free_ex_fn)(void* app, void* block);
typedef void (*mpeg_printf_ex_fn)(void* app, const char* format, ...);

#ifdef __cplusplus
}
#endif

/* Marks the functions a library exports; everything else in it is hidden. */
#if defined(__GNUC__)
#define QUILLION_MPEG_EXPORT __attribute__((visibility("default")))
#else
#define QUILLION_MPEG_EXPORT
#endif

#endif /* QUILLION_MPEG_SERVICES_H */
