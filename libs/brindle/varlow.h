/* SPDX-License-Identifier: GPL-2.0-or-later */
/* The MXF demultiplexer Varlow as the input library drives it: the records it is handed and
 * hands back, and the functions bound from it by name. A stream's data arrive like Daskin's,
 * as demux_chunk_info records through the auxinfo slot of the output bufstream. */
#ifndef QUILLION_VARLOW_H
#define QUILLION_VARLOW_H

#include <stdint.h>

#include "brindle.h"
#include "daskin.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxf_settings {
  int32_t probe_size_mib;
  int32_t split_mode;
  mpeg_in_split_seek_fn split_seek;
  mpeg_in_split_read_fn split_read;
  void* split_context;
  int32_t caller_io;
  mpeg_in_io_open_fn io_open;
  mpeg_in_io_seek_fn io_seek;
  mpeg_in_io_read_fn io_read;
  mpeg_in_io_close_fn io_close;
  void* io_context;
  uint64_t data_size;
} mxf_settings;

/* A note the file information may carry (for example a start time code) and its value. */
enum { MXF_INFO_NOTE_CODE = 15 };

typedef struct mxf_file_info {
  uint64_t size;
  uint32_t system_stream_type; /* 5 or 6 */
  uint32_t words[2];
  uint32_t streams;
  uint32_t note_code;
  uint32_t note_value;
  uint32_t note_companion;
} mxf_file_info;

enum { MXF_KIND_VIDEO = 1, MXF_KIND_AES3_ELEMENT = 2, MXF_KIND_PCM = 3 };

typedef struct mxf_stream_info {
  uint32_t kind;
  uint32_t identifier;
  uint32_t channels; /* audio */
  uint32_t bits_per_sample;
  uint32_t sample_rate;
} mxf_stream_info;

typedef struct mxf_parser_settings {
  int32_t buffer_size;
} mxf_parser_settings;

typedef struct mxf_stream_settings {
  int32_t stream;
  struct bufstream* output;
} mxf_stream_settings;

typedef struct mxf_context mxf_context;

typedef mxf_context* (*mxf_new_fn)(mpeg_get_rc_ex get_rc_ex, void* application,
                                   const mxf_settings* settings);
typedef void (*mxf_free_fn)(mxf_context* context);
typedef int32_t (*mxf_open_fn)(mxf_context* context, int32_t flags, const char* name);
typedef void (*mxf_close_fn)(mxf_context* context);
typedef void (*mxf_get_file_info_fn)(mxf_context* context, mxf_file_info* info);
typedef int32_t (*mxf_get_stream_info_fn)(mxf_context* context, mxf_stream_info* info,
                                          int32_t stream);
typedef int32_t (*mxf_new_parser_fn)(mxf_context* context, const mxf_parser_settings* settings);
typedef void (*mxf_free_parser_fn)(mxf_context* context, int32_t parser);
typedef int32_t (*mxf_add_stream_fn)(mxf_context* context, int32_t parser,
                                     const mxf_stream_settings* settings);
typedef int32_t (*mxf_seek_fn)(mxf_context* context, int32_t parser, uint32_t low, uint32_t high);
typedef int32_t (*mxf_parser_fn)(mxf_context* context, int32_t parser);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_VARLOW_H */
