/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Daskin: the MPEG demultiplexer. Opens an MPEG-1 system stream, an MPEG-2 program stream,
 * a transport stream (188- or 192-byte packets), an "AV" packet stream or an elementary
 * stream, lists its programs and streams, and lets up to 64 parsers each deliver chosen
 * streams chunk by chunk through the caller's byte streams. Shared with the input library,
 * which loads it by the framework name "Daskin". Results: 0 for success, 1 for failure,
 * unless a function says otherwise. Messages are plain English sentences through the
 * caller's "err_printf_ex". Times are counts of the 27 MHz clock, -1 for none. */
#ifndef QUILLION_DASKIN_H
#define QUILLION_DASKIN_H

#include <stddef.h>
#include <stdint.h>

#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

struct bufstream;

/* Split mode: the data come as one stream through these two. */
typedef int32_t (*demux_split_seek_fn)(void* context, uint32_t offset_low, uint32_t offset_high);
/* Bytes read; 0 or less at the end or on an error. */
typedef int32_t (*demux_split_read_fn)(void* context, void* destination, int32_t count);

/* Caller I/O: named files opened, sought, read and closed by the caller. A handle is any
 * value but -1, which reports a failed open. */
typedef intptr_t (*demux_io_open_fn)(void* context, const char* name);
typedef int32_t (*demux_io_seek_fn)(void* context, intptr_t handle, uint32_t offset_low,
                                    uint32_t offset_high);
typedef int32_t (*demux_io_read_fn)(void* context, intptr_t handle, void* destination,
                                    int32_t count);
typedef void (*demux_io_close_fn)(void* context, intptr_t handle);

/* Copied whole by mpegDemuxNew; zero it before filling it. */
typedef struct demux_settings {
  int32_t dvd_menu;
  int32_t dvd_title;
  int32_t dvd_pgc;
  int32_t dvd_angle;
  int32_t probe_budget_mib; /* below 1: the default */
  int32_t probe_stop_mode;  /* 0..7 */
  int32_t split_mode;
  demux_split_seek_fn split_seek;
  demux_split_read_fn split_read;
  void* split_context;
  int32_t caller_io;
  demux_io_open_fn io_open;
  void* io_reserved; /* never called */
  demux_io_seek_fn io_seek;
  demux_io_read_fn io_read;
  demux_io_close_fn io_close;
  void* io_context;
  uint64_t data_size; /* split mode: the whole input; caller I/O: each named file */
  uint8_t reserved[64];
} demux_settings;

/* Called with (context, copy, length) for each DVD navigation copy. */
typedef void (*demux_nav_fn)(void* context, const uint8_t* copy, int32_t length);

typedef struct demux_parser_settings {
  int32_t buffer_size; /* 0: 1,048,576 bytes */
  demux_nav_fn pci_callback;
  demux_nav_fn dsi_callback;
  void* callback_context;
  uint8_t reserved[64];
} demux_parser_settings;

typedef struct demux_stream_settings {
  int32_t program;
  int32_t stream;
  struct bufstream* output;
  uint8_t reserved[64];
} demux_stream_settings;

typedef struct file_info_struct {
  int32_t programs;
  int32_t system_stream_type; /* 0 ES, 1 MPEG-1 system, 2 program, 3 transport, 4 "AV" */
  int32_t dvd_titles;
  int32_t dvd_angles;
  uint64_t size;
  uint8_t reserved[84];
} file_info_struct;

typedef struct program_info_struct {
  uint32_t program_number;
  uint32_t pmt_pid;
  uint32_t pcr_pid;
  int32_t streams;
  uint8_t section_syntax_indicator;
  uint8_t private_indicator;
  uint32_t descriptor_length;
  uint8_t* descriptors;
  uint8_t reserved[64];
} program_info_struct;

/* Stream kinds. */
enum {
  DEMUX_KIND_NONE = 0,
  DEMUX_KIND_VIDEO = 1,
  DEMUX_KIND_MPEG_AUDIO = 2,
  DEMUX_KIND_AC3 = 3,
  DEMUX_KIND_LPCM = 4,
  DEMUX_KIND_AES3 = 5,
  DEMUX_KIND_SUB_88 = 6,
  DEMUX_KIND_SUB_90 = 7,
  DEMUX_KIND_SUBPICTURE = 8
};

typedef struct stream_info_struct {
  uint32_t stream_type; /* the MPEG stream_type code, 0 when found by its packets */
  uint32_t kind;        /* DEMUX_KIND_* */
  uint32_t pid;
  uint8_t stream_id;
  uint8_t sub_stream_id;
  uint32_t descriptor_length;
  uint8_t* descriptors;
  uint8_t reserved[64];
} stream_info_struct;

/* The only auxinfo id of the library. */
#define DEMUX_CHUNK_INFO_ID 0xD1000u

typedef struct demux_chunk_info {
  const uint8_t* data; /* pull mode: inside the parser's buffer until the next pull */
  uint32_t length;
  uint32_t flags; /* bit 0: extra bytes; bits 0 and 1: LPCM */
  uint64_t pack_position;
  uint64_t data_position;
  int64_t pts; /* 27 MHz, -1 for none */
  uint8_t extra[32];
  uint8_t extra_count;
  uint8_t end; /* 1 only in the all-zero end record */
  uint64_t aes3_length;
} demux_chunk_info;

typedef struct demux_context demux_context;

QUILLION_MPEG_EXPORT demux_context* mpegDemuxNew(mpeg_get_rc_ex get_rc_ex, void* app,
                                                 const demux_settings* settings);
QUILLION_MPEG_EXPORT int32_t mpegDemuxOpen(demux_context* ctx, int32_t reserved, const char* name);
QUILLION_MPEG_EXPORT int32_t mpegDemuxOpenW(demux_context* ctx, int32_t reserved,
                                            const wchar_t* name);
QUILLION_MPEG_EXPORT int32_t mpegDemuxGetFileInfo(demux_context* ctx, file_info_struct* info);
QUILLION_MPEG_EXPORT int32_t mpegDemuxGetProgramInfo(demux_context* ctx, program_info_struct* info,
                                                     int32_t program);
QUILLION_MPEG_EXPORT int32_t mpegDemuxGetStreamInfo(demux_context* ctx, stream_info_struct* info,
                                                    int32_t program, int32_t stream);
/* The parser number 1..64, 0 on failure. */
QUILLION_MPEG_EXPORT int32_t mpegDemuxNewParser(demux_context* ctx,
                                                const demux_parser_settings* settings);
QUILLION_MPEG_EXPORT int32_t mpegDemuxAddStream(demux_context* ctx, int32_t parser,
                                                const demux_stream_settings* settings);
QUILLION_MPEG_EXPORT int32_t mpegDemuxRemoveStream(demux_context* ctx, int32_t parser,
                                                   const demux_stream_settings* settings);
/* 0, 1 on failure, 2 when positioning reached the end of the data. */
QUILLION_MPEG_EXPORT int32_t mpegDemuxSeek(demux_context* ctx, int32_t parser,
                                           uint32_t position_low, uint32_t position_high);
/* Bytes consumed by one step (0 when the step only reached a quiet end of a packet run),
 * DEMUX_PUSH_ERROR, or DEMUX_PUSH_END. */
#define DEMUX_PUSH_ERROR (-1)
#define DEMUX_PUSH_END (-2)
QUILLION_MPEG_EXPORT int32_t mpegDemuxPush(demux_context* ctx, int32_t parser);
QUILLION_MPEG_EXPORT int32_t mpegDemuxSleepParser(demux_context* ctx, int32_t parser);
QUILLION_MPEG_EXPORT int32_t mpegDemuxWakeParser(demux_context* ctx, int32_t parser);
QUILLION_MPEG_EXPORT int32_t mpegDemuxUpdateFilesize(demux_context* ctx, int32_t parser,
                                                     uint32_t size_low, uint32_t size_high);
QUILLION_MPEG_EXPORT int32_t mpegDemuxSetFirstSplitRead(demux_context* ctx, int32_t parser,
                                                        void* split_context);
QUILLION_MPEG_EXPORT void mpegDemuxFreeParser(demux_context* ctx, int32_t parser);
QUILLION_MPEG_EXPORT void mpegDemuxClose(demux_context* ctx);
QUILLION_MPEG_EXPORT void mpegDemuxFree(demux_context* ctx);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_DASKIN_H */
