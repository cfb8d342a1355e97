/* SPDX-License-Identifier: GPL-2.0-or-later */
/* The contract between the MPEG input library and its decoder plug-ins (Lorrimer, Quenby,
 * Ostrell, Kestrin). A decoder is a bufstream record: copybytes hands it coded bytes and
 * answers how many it took (copybytes with no bytes flushes), auxinfo steers it by the codes
 * below and hands out its status word and records, done and free release it.
 *
 * auxinfo answers 0 when the request was carried out, 1 when it was not (an unknown code, a
 * record size that does not match, nothing to copy). Records are copied into the caller's
 * memory, whose size must equal the record's. */
#ifndef QUILLION_DECODER_PLUGIN_H
#define QUILLION_DECODER_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  DECODER_RESET = 0x10000,         /* forget everything fed; the next picture starts fresh */
  DECODER_SET_OUTPUT = 0x10001,    /* video: decoder_frame_record*; audio: decoder_audio_area* */
  DECODER_SET_FLAGS = 0x10002,     /* offset: DECODER_FLAG_* bits */
  DECODER_STATUS = 0x10003,        /* uint32_t*: the status word of the last feed */
  DECODER_SEQUENCE_INFO = 0x10004, /* decoder_sequence_info* */
  DECODER_GOP_INFO = 0x10005,      /* decoder_gop_info* */
  DECODER_PICTURE_INFO = 0x10006,  /* decoder_picture_info* */
  DECODER_COPY_PICTURE = 0x10007,  /* decoder_frame_record*: the ready picture; offset: number */
  DECODER_AUDIO_WRITTEN = 0x10008, /* uint32_t*: bytes written into the current output area */
  DECODER_RESTART = 0x1000C,       /* like reset, for the decoder-reorders strategy */
  DECODER_COPY_LAST_PICTURE = 0x1000E, /* decoder_frame_record*: the last picture decoded */
  DECODER_STATUS_REORDERED = 0x10010,  /* uint32_t*: status word, decoder-reorders strategy */
  DECODER_VIDEO_HEADER_NEXT = 0x101B3, /* the next copybytes is the sequence header */
  DECODER_INIT_FRAME_PARSER = 0x10202, /* 0 when the header given made a usable decoder */
  DECODER_AUDIO_HEADER_NEXT = 0x10FFF  /* the next copybytes is the audio frame header */
};

/* DECODER_SET_FLAGS bits. */
enum {
  DECODER_FLAG_EXTERNAL_FRAME_BUFFER = 16, /* pictures come out in display order */
  DECODER_FLAG_MZL = 32,
  DECODER_FLAG_H264_OPTION = 64
};

/* Status word bits. */
enum {
  DECODER_STATUS_PICTURE = 1u << 0, /* video: a picture is ready; audio: a frame was written */
  DECODER_STATUS_SEQUENCE = 1u << 8,
  DECODER_STATUS_GOP = 1u << 10,
  DECODER_STATUS_HEADER = 1u << 11,
  DECODER_STATUS_DONE = 1u << 13, /* flushed and nothing left */
  DECODER_STATUS_SHOW = 1u << 21, /* with COPYABLE: the picture is to be shown */
  DECODER_STATUS_COPYABLE = 1u << 22,
  DECODER_STATUS_EMPTY = 1u << 24, /* set together with DONE */
  DECODER_STATUS_ERROR = 1u << 30  /* the bytes fed did not decode */
};

/* A picture as the caller lays it out: plane pointers and strides (negative for bottom-up
 * rows, the pointer then at the start of the last row). */
typedef struct decoder_frame_record {
  uint32_t width;
  uint32_t height;
  uint32_t fourcc;
  uint32_t frame_number;
  uint8_t* planes[3]; /* Y, U, V; a packed picture uses planes[0] */
  uint32_t reserved;
  int32_t strides[3];
  uint32_t tail[4];
} decoder_frame_record;

typedef struct decoder_sequence_info {
  uint32_t width;
  uint32_t height;
  uint32_t aspect_ratio_information;
  uint32_t frame_rate_code;
  uint32_t bit_rate_value;
  uint32_t vbv_buffer_size_value;
  uint32_t constrained_parameters_flag;
} decoder_sequence_info;

typedef struct decoder_gop_info {
  uint32_t drop_frame_flag;
  uint32_t time_code_hours;
  uint32_t time_code_minutes;
  uint32_t time_code_seconds;
  uint32_t time_code_pictures;
  uint32_t closed_gop;
  uint32_t broken_link;
} decoder_gop_info;

typedef struct decoder_picture_info {
  uint32_t temporal_reference;
  uint32_t picture_coding_type;
  uint32_t picture_coding_type_copy;
  uint32_t vbv_delay;
  uint32_t full_pel_forward_vector;
  uint32_t forward_f_code;
  uint32_t full_pel_backward_vector;
  uint32_t backward_f_code;
  uint32_t f_code[4]; /* [0][0], [0][1], [1][0], [1][1] */
  uint32_t intra_dc_precision;
  uint32_t picture_structure;
  uint32_t top_field_first;
  uint32_t frame_pred_frame_dct;
  uint32_t concealment_motion_vectors;
  uint32_t q_scale_type;
  uint32_t intra_vlc_format;
  uint32_t alternate_scan;
  uint32_t repeat_first_field;
  uint32_t chroma_420_type;
  uint32_t progressive_frame;
  uint32_t composite_display_flag;
  uint32_t v_axis;
  uint32_t field_sequence;
  uint32_t sub_carrier;
  uint32_t burst_amplitude;
  uint32_t sub_carrier_phase;
  uint32_t number_of_frame_centre_offsets;
  int32_t frame_centre_horizontal_offset[3];
  int32_t frame_centre_vertical_offset[3];
  uint32_t load_intra_quantiser_matrix;
  uint32_t load_non_intra_quantiser_matrix;
  uint32_t load_chroma_intra_quantiser_matrix;
  uint32_t load_chroma_non_intra_quantiser_matrix;
} decoder_picture_info;

/* Where decoded samples go: signed 16-bit, interleaved, one or two channels. */
typedef struct decoder_audio_area {
  uint8_t* data;
  uint32_t size;
} decoder_audio_area;

#ifdef __cplusplus
}
static_assert(sizeof(decoder_picture_info) == 40 * sizeof(uint32_t), "forty words");
#endif

#endif /* QUILLION_DECODER_PLUGIN_H */
