/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Ferrule: MPEG-1 audio layer I and II encoder. Takes 16-bit PCM in host byte order and
 * writes the elementary stream into a caller's byte stream, one frame per chunk, with a
 * header notice (0xFFF00000, 48 bytes) before and a frame notice (0xF0002, 12 bytes) after
 * every frame. Results: 0 for success, 2 for failure; settings checks answer 0, a format
 * deviation code or a range code (0x40000 and up). Messages begin with "A" and three digits. */
#ifndef QUILLION_FERRULE_H
#define QUILLION_FERRULE_H

#include <stdint.h>

#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

struct bufstream;

/* Nine signed 32-bit fields, byte offsets 0 to 32. */
typedef struct mpeg_a_settings {
  int32_t audio_mode;   /* 0 stereo, 1 joint stereo, 2 dual channel, 3 mono */
  int32_t audio_layer;  /* 1 or 2 */
  int32_t psych_model;  /* 1 or 2 */
  int32_t bitrate_code; /* 1..14, the bitrate index of the layer */
  int32_t emphasis;     /* 0 none, 1 50/15 us, 3 CCITT J.17 */
  int32_t private_bit;
  int32_t crc; /* 1: 16-bit CRC after each header */
  int32_t copyright;
  int32_t original;
} mpeg_a_settings;

typedef struct mpeg_a_encoder mpeg_a_encoder;

/* Option bits of mpegOutAudioChkSettings. */
#define MPEG_A_CHECK_GENERIC_ONLY 1
#define MPEG_A_CHECK_REPORT_ALL 2

QUILLION_MPEG_EXPORT const char* mpegOutAudioDefaults(mpeg_a_settings* settings, int32_t preset);
QUILLION_MPEG_EXPORT int32_t mpegOutAudioChkSettings(mpeg_get_rc get_rc,
                                                     const mpeg_a_settings* settings,
                                                     int32_t format_type, int32_t sample_rate,
                                                     int32_t options);
QUILLION_MPEG_EXPORT int32_t mpegOutAudioCheckSettings(const mpeg_a_settings* settings,
                                                       int32_t format_type, int32_t sample_rate);
QUILLION_MPEG_EXPORT int32_t mpegOutAudioCheckFirst(mpeg_get_rc get_rc,
                                                    const mpeg_a_settings* settings,
                                                    int32_t format_type, int32_t sample_rate);
QUILLION_MPEG_EXPORT int32_t mpegOutAudioCheckNext(void);
QUILLION_MPEG_EXPORT const char* mpegOutAudioGetLastErrString(void);

/* The reserved words are not read. Null for refused settings or when memory runs out. */
QUILLION_MPEG_EXPORT mpeg_a_encoder* mpegOutAudioNew(mpeg_get_rc get_rc,
                                                     const mpeg_a_settings* settings,
                                                     int32_t reserved1, int32_t reserved2,
                                                     int32_t sample_rate);
/* Binds the output stream, whose chunk size must hold the largest frame of the settings. */
QUILLION_MPEG_EXPORT int32_t mpegOutAudioInit(mpeg_a_encoder* encoder, struct bufstream* output);
/* Interleaved 16-bit samples; an odd last byte is ignored. Null samples flush the staged
 * part frame (padded with silence) without closing. */
QUILLION_MPEG_EXPORT int32_t mpegOutAudioPutBytes(mpeg_a_encoder* encoder, const void* samples,
                                                  uint32_t byte_count);
/* Encodes what is staged (unless abort) and lets go of the stream; 2 when a frame could not
 * be written since the last call. */
QUILLION_MPEG_EXPORT int32_t mpegOutAudioDone(mpeg_a_encoder* encoder, int32_t abort);
QUILLION_MPEG_EXPORT void mpegOutAudioFree(mpeg_a_encoder* encoder);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_FERRULE_H */
