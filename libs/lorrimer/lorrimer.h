/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Lorrimer: the decoder plug-in for MPEG-1/2 video, MPEG audio (Layers I to III) and DVD
 * subpictures. Each open function returns a decoder object (decoder_plugin.h) or null. The
 * arguments after the service lookup are kept for the callers' sake: the subpicture decoder's
 * first one is 1 for NTSC material. */
#ifndef QUILLION_LORRIMER_H
#define QUILLION_LORRIMER_H

#include <stdint.h>

#include "bufstream.h"
#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

QUILLION_MPEG_EXPORT bufstream* open_MPEGin_Video_stream_ex(mpeg_get_rc get_rc, int32_t reserved1,
                                                            int32_t reserved2);
QUILLION_MPEG_EXPORT bufstream* open_MPEGin_Audio_stream_ex(mpeg_get_rc get_rc, int32_t reserved1,
                                                            int32_t reserved2);
QUILLION_MPEG_EXPORT bufstream* open_MPEGin_Subpic_stream(mpeg_get_rc get_rc, int32_t ntsc,
                                                          int32_t reserved);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_LORRIMER_H */
