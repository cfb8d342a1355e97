/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Gantrel: packs interleaved PCM as DVD LPCM, SMPTE 302M AES3, an eight-channel AES3 element
 * or channel-planar PCM, and writes it frame by frame into a caller's byte stream. An 8-byte
 * stream header ("LPCM" or "AES3") goes first; every frame is handed to the stream with a
 * frame notice (0xF0002) carrying its 12-byte record (32-bit length, 64-bit time stamp in
 * 27 MHz ticks). Results: 0 for success, 2 for failure; settings checks answer 0, a format
 * deviation code or a range code (0x40000 and up). Messages begin with "P" and three digits. */
#ifndef QUILLION_GANTREL_H
#define QUILLION_GANTREL_H

#include <stdint.h>

#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

struct bufstream;

/* Six signed 32-bit fields, byte offsets 0 to 20. */
typedef struct pcm_a_settings {
  int32_t channel_count_code; /* channels minus one, 0..7 */
  int32_t audio_layer;        /* 4 DVD LPCM, 10 SMPTE 302M, 11 eight-channel AES3, 12 planar */
  int32_t emphasis;           /* 0 or 1 (LPCM header) */
  int32_t mute_flag;          /* 0 or 1 (LPCM header) */
  int32_t quantization;       /* 0 16 bits, 1 20 bits, 2 24 bits */
  int32_t dynamic_range;      /* LPCM dynamic range control byte, 128 by default */
} pcm_a_settings;

typedef struct pcm_a_output pcm_a_output;

/* Option bits of pcmOutAudioChkSettings. */
#define PCM_A_CHECK_GENERIC_ONLY 1
#define PCM_A_CHECK_REPORT_ALL 2

/* Flag bit of pcmOutAudioNew: input samples arrive most significant byte first. */
#define PCM_A_INPUT_MSB_FIRST 1

QUILLION_MPEG_EXPORT const char* pcmOutAudioDefaults(pcm_a_settings* settings, int32_t preset);
QUILLION_MPEG_EXPORT int32_t pcmOutAudioChkSettings(mpeg_get_rc get_rc,
                                                    const pcm_a_settings* settings,
                                                    int32_t format_type, int32_t sample_rate,
                                                    int32_t options);
QUILLION_MPEG_EXPORT int32_t pcmOutAudioCheckSettings(const pcm_a_settings* settings,
                                                      int32_t format_type, int32_t sample_rate);
QUILLION_MPEG_EXPORT int32_t pcmOutAudioCheckFirst(mpeg_get_rc get_rc,
                                                   const pcm_a_settings* settings,
                                                   int32_t format_type, int32_t sample_rate);
QUILLION_MPEG_EXPORT int32_t pcmOutAudioCheckNext(void);
QUILLION_MPEG_EXPORT const char* pcmOutAudioGetLastErrString(void);

/* frameRateCode: the MPEG frame-rate code (1..8) of the video the AES3 layouts are framed to;
 * LPCM ignores it. Null for refused settings, a bad frame-rate code or when memory runs out. */
QUILLION_MPEG_EXPORT pcm_a_output* pcmOutAudioNew(mpeg_get_rc get_rc,
                                                  const pcm_a_settings* settings, int32_t flags,
                                                  int32_t frameRateCode, int32_t sample_rate);
QUILLION_MPEG_EXPORT int32_t pcmOutAudioInit(pcm_a_output* output, struct bufstream* stream);
/* Any byte count; a part frame (even a part sample) waits for the next call. 2 once a frame
 * could not be written. */
QUILLION_MPEG_EXPORT int32_t pcmOutAudioPutBytes(pcm_a_output* output, const void* samples,
                                                 uint32_t byte_count);
/* Writes the staged part frame padded with silence (unless abort) and lets go of the stream,
 * which is neither finished nor freed; 2 when any frame could not be written. */
QUILLION_MPEG_EXPORT int32_t pcmOutAudioDone(pcm_a_output* output, int32_t abort);
QUILLION_MPEG_EXPORT void pcmOutAudioFree(pcm_a_output* output);

#ifdef __cplusplus
}

static_assert(sizeof(pcm_a_settings) == 24, "pcm_a_settings is six 32-bit fields");
#endif

#endif /* QUILLION_GANTREL_H */
