/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Kestrin: the AC-3 decoder plug-in; streams whose 16-bit words arrive byte-swapped are
 * recognised by their sync word and decoded as well. The object is described in
 * decoder_plugin.h. */
#ifndef QUILLION_KESTRIN_H
#define QUILLION_KESTRIN_H

#include <stdint.h>

#include "bufstream.h"
#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

QUILLION_MPEG_EXPORT bufstream* open_AC3in_Audio_stream(mpeg_get_rc get_rc, int32_t reserved1,
                                                        int32_t reserved2);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_KESTRIN_H */
