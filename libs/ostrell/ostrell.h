/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Ostrell: the decoder plug-in for AAC in ADTS framing; the object is described in
 * decoder_plugin.h. */
#ifndef QUILLION_OSTRELL_H
#define QUILLION_OSTRELL_H

#include "bufstream.h"
#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

QUILLION_MPEG_EXPORT bufstream* open_AACin_Audio_stream_ex(mpeg_get_rc get_rc);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_OSTRELL_H */
