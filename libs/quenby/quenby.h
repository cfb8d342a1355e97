/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Quenby: the H.264 decoder plug-in. Pictures leave in display order into the caller's own
 * frame buffer (the decoder-reorders strategy); the object is described in decoder_plugin.h. */
#ifndef QUILLION_QUENBY_H
#define QUILLION_QUENBY_H

#include <stdint.h>

#include "bufstream.h"
#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

QUILLION_MPEG_EXPORT bufstream* open_h264in_Video_stream_ex(mpeg_get_rc get_rc, int32_t reserved1,
                                                            int32_t reserved2);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_QUENBY_H */
