/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Corvel: the MPEG multiplexer. Interleaves video, audio and subpicture elementary streams
 * into MPEG-1 system, Video CD, Super Video CD, MPEG-2 program and DVD streams, pulling them from
 * files (or from a caller's pair of byte streams over the same data) until they end.
 * Results: 0 for success, 16 for failure; settings checks answer 0, a profile deviation code
 * (below 0x80000) or a range code (0x80000 and up). Messages begin with "M" and three digits. */
#ifndef QUILLION_CORVEL_H
#define QUILLION_CORVEL_H

#include <stdint.h>

#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

struct bufstream;

/* 27 signed 32-bit fields, byte offsets 0 to 104. */
typedef struct mpeg_m_settings {
  int32_t pack_delay;   /* ms before the first pack */
  int32_t video_delay;  /* ms */
  int32_t audio1_delay; /* ms */
  int32_t audio2_delay; /* ms */
  int32_t sector_size;  /* pack size in bytes */
  int32_t packets_per_pack;
  int32_t audio1_buffer_size; /* KiB, 0 = own choice */
  int32_t audio2_buffer_size;
  int32_t video_buffer_size;
  int32_t extra_rate;   /* transport streams only */
  int32_t mux_rate_bps; /* bit/s; 0 or 1 = not set */
  int32_t mux_type;     /* 0 MPEG-1 system, 1 VCD, 2 MPEG-2 program, 3 SVCD, ... */
  int32_t pulldown;     /* 0..7 */
  int32_t vcd_audio_pad;
  int32_t align_sequence_headers;
  int32_t mux_rate; /* units of 400 bit/s; 0 = derived from the inputs */
  int32_t private_stream_2;
  int32_t frame_timestamps; /* 0 every picture, 1 no B pictures, 2 I and P without B */
  int32_t vbr;
  int32_t write_program_end_codes;
  int32_t svcd_scan_offsets;
  int32_t max_file_size; /* MiB, 0 = one file */
  int32_t reserved1;
  int32_t reserved2;
  int32_t reset_clocks;
  int32_t write_end_codes;
  int32_t set_broken_link;
} mpeg_m_settings;

/* One input's parameters: 82 bytes, packed, host byte order. */
typedef struct __attribute__((packed)) stream_settings {
  uint8_t stream_id;     /* 0 = chosen by the multiplexer */
  uint8_t sub_stream_id; /* private stream 1 audio, subpicture number */
  uint32_t pid;          /* transport streams; 0 = chosen */
  uint32_t buffer_size;  /* decoder buffer in KiB; 0 = chosen */
  uint32_t delay_ms;     /* 0 = the settings' delay of this kind */
  uint32_t kind;         /* STREAM_KIND_* and option bits 0-3 */
  uint8_t reader_fields[8];
  uint32_t expected_rate;
  uint32_t pictures_per_unit; /* option bit 0: pictures each unit counts for */
  uint8_t reserved[48];
} stream_settings;

#define STREAM_KIND_VIDEO 0x10000u
#define STREAM_KIND_AUDIO 0x20000u
#define STREAM_KIND_SUBPICTURE 0x40000u

/* Output information record: flag byte, option byte, then 32-bit words; word 12 points at
 * the caller's 1,979-byte extension block (or is null). */
typedef struct mux_output_info {
  uint8_t flags;
  uint8_t options;
  uint8_t reserved[2];
  uint32_t words[11]; /* words 1 to 11 */
  const void* extension;
  uint8_t tail[48];
} mux_output_info;

typedef struct mpeg_m_muxer mpeg_m_muxer;

/* Data of notice 0xE0010 of mpegOutMuxAuxinfo (size sizeof(mux_navigation_template)): the
 * 694-byte highlight template copied into every DVD navigation pack. */
typedef struct mux_navigation_template {
  uint32_t word0;  /* not 0: the highlight has no end */
  uint32_t length; /* must be 694 */
  const void* bytes;
} mux_navigation_template;

/* Option bits of mpegOutMuxChkSettings. */
#define MPEG_M_CHECK_RANGE_ONLY 1
#define MPEG_M_CHECK_REPORT_ALL 2

QUILLION_MPEG_EXPORT const char* mpegOutMuxDefaults(mpeg_m_settings* settings, int32_t preset);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxChkSettings(mpeg_get_rc get_rc,
                                                   const mpeg_m_settings* settings,
                                                   int32_t options);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxCheckSettings(const mpeg_m_settings* settings);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxCheckFirst(mpeg_get_rc get_rc,
                                                  const mpeg_m_settings* settings);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxCheckNext(void);
QUILLION_MPEG_EXPORT const char* mpegOutMuxGetLastErrString(void);

QUILLION_MPEG_EXPORT mpeg_m_muxer* mpegOutMuxNew(mpeg_get_rc get_rc,
                                                 const mpeg_m_settings* settings);
/* Done must come first; null does nothing. */
QUILLION_MPEG_EXPORT void mpegOutMuxFree(mpeg_m_muxer* muxer);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxInitFile(mpeg_m_muxer* muxer, const mux_output_info* info,
                                                const char* output_name);
/* The stream stays the caller's. */
QUILLION_MPEG_EXPORT int32_t mpegOutMuxInitFileBS(mpeg_m_muxer* muxer, const mux_output_info* info,
                                                  struct bufstream* output);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxInitNames(mpeg_m_muxer* muxer, const char* output_name,
                                                 const char* audio1_name, const char* audio2_name,
                                                 const char* video_name, int32_t video_bit_rate);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxAddFile(mpeg_m_muxer* muxer, const stream_settings* settings,
                                               const char* name, int32_t bit_rate);
/* Two readers over the same elementary-stream data: one for the payload, one the
 * multiplexer scans for access units. Both stay the caller's. */
QUILLION_MPEG_EXPORT int32_t mpegOutMuxAddFileBS(mpeg_m_muxer* muxer,
                                                 const stream_settings* settings,
                                                 struct bufstream* es, struct bufstream* units,
                                                 int32_t bit_rate);
/* Runs the whole job in file mode. */
/* Push mode: producers write elementary-stream bytes into the given readers' fifos and
 * announce each finished access unit through the stream's auxinfo notices (video 0xF0001
 * with 8 words {size, picture word (low 16 bits: coding type), 2 words carried, decoding
 * time 64 bits, presentation time 64 bits, 27 MHz}, headers 0x1B3 {.., frame-rate code},
 * 0x1B8, 0x100 {.., temporal reference, repeat value}, 0x1B7; audio 0xF0002 and subpicture
 * 0xF0004 with 3 words {size, presentation time 64 bits}; 0xF0080 ends a stream). Every
 * completed unit runs the multiplexer on the producer's thread. */
QUILLION_MPEG_EXPORT int32_t mpegOutMuxInit(mpeg_m_muxer* muxer, struct bufstream* output,
                                            struct bufstream* audio, struct bufstream* video);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxInitStream(mpeg_m_muxer* muxer, const mux_output_info* info,
                                                  struct bufstream* output);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxAddStream(mpeg_m_muxer* muxer,
                                                 const stream_settings* settings,
                                                 struct bufstream* input);
QUILLION_MPEG_EXPORT int32_t mpegOutMux(mpeg_m_muxer* muxer);
QUILLION_MPEG_EXPORT int32_t mpegOutMuxDone(mpeg_m_muxer* muxer, int32_t abort);
/* Side notices: 0xD0000 still-picture size, 0xE0001 {segment, first block}, 0xE0010 the DVD
 * highlight template (mux_navigation_template), 0xE0040 a DVD cell mark (value: presentation
 * time in 90 kHz units since the start of the video at which the next cell begins),
 * 0xF0040 a new segment. */
QUILLION_MPEG_EXPORT void mpegOutMuxAuxinfo(mpeg_m_muxer* muxer, uint32_t value, uint32_t code,
                                            void* data, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_CORVEL_H */
