/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Brindle: the MPEG input library. A caller makes a session (mpegInNew), opens a file into
 * it, reads every fact about the file from the session record's public part and writes its
 * wishes (options, output fourcc, chosen streams, callbacks) into the same part before
 * opening. The library's own state lies in a private part that follows the public part.
 *
 * Fields keep the order of the library's historical 32-bit record; pointers are native, so
 * sizes and positions come from sizeof and offsetof, never from fixed byte counts. Words the
 * library does not name stay as reserved filler so that the named fields keep their order.
 * Results: 0 for success, 1 for failure, 2 for the end of a stream; creators return null on
 * failure. */
#ifndef QUILLION_BRINDLE_H
#define QUILLION_BRINDLE_H

#include <stddef.h>
#include <stdint.h>

#include "quillion_mpeg/mpeg_services.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*mpeg_in_progress_fn)(const char* text, int32_t* stop);
typedef int32_t (*mpeg_in_prompt_index_mode_fn)(void);
typedef int32_t (*mpeg_in_split_seek_fn)(void* context, uint32_t offset_low, uint32_t offset_high);
typedef int32_t (*mpeg_in_split_read_fn)(void* context, void* destination, int32_t count);
typedef intptr_t (*mpeg_in_io_open_fn)(void* context, const char* name);
typedef int32_t (*mpeg_in_io_seek_fn)(void* context, intptr_t handle, uint32_t offset_low,
                                      uint32_t offset_high);
typedef int32_t (*mpeg_in_io_read_fn)(void* context, intptr_t handle, void* destination,
                                      int32_t count);
typedef void (*mpeg_in_io_close_fn)(void* context, intptr_t handle);

struct mpeg_in_private;

/* Output fourcc values: the 32-bit numbers whose bytes in memory spell the code. */
enum {
  MPEG_IN_FOURCC_I420 = 0x30323449,
  MPEG_IN_FOURCC_YV12 = 0x32315659,
  MPEG_IN_FOURCC_YUY2 = 0x32595559,
  MPEG_IN_FOURCC_YUYV = 0x56595559,
  MPEG_IN_FOURCC_UYVY = 0x59565955,
  MPEG_IN_FOURCC_YuYv = 0x76597559,
  MPEG_IN_FOURCC_BGR3 = 0x33524742,
  MPEG_IN_FOURCC_BGR4 = 0x34524742,
  MPEG_IN_FOURCC_BGRA = 0x41524742,
  MPEG_IN_FOURCC_R32C = 0x43323352,
  MPEG_IN_FOURCC_R555 = 0x35353552,
  MPEG_IN_FOURCC_R565 = 0x35363552,
  MPEG_IN_FOURCC_VUYA = 0x41595556
};

/* The stream-type code: the disc or broadcast format the input already complies with. */
enum {
  MPEG_IN_TYPE_UNCLASSIFIED = 0,
  MPEG_IN_TYPE_VCD = 1,
  MPEG_IN_TYPE_MPEG2_PROGRAM = 2,
  MPEG_IN_TYPE_SVCD = 3,
  MPEG_IN_TYPE_DVD = 4
};

typedef struct mpeg_in_info {
  /* Caller's wishes and the session's state. */
  const char* file_name;
  mpeg_in_progress_fn progress_callback; /* taken only without get_rc */
  uint32_t options;                      /* bit 2: decode audio; bits 0, 1, 3: default fourcc */
  uint32_t options2;
  uint32_t quick_scan;
  uint32_t quiet;              /* 0: also the reserved-extension warning and the search texts */
  uint32_t gop_analysis_extra; /* GOPs the stream analysis examines beyond 5 */
  uint32_t open;
  uint32_t system_stream_type; /* 0 ES, 1 MPEG-1 system, 2 program, 3 transport, 4 other */
  uint32_t video_available;
  int32_t frame_count;
  uint32_t width;
  uint32_t height;
  uint32_t mpeg2;
  double bit_rate;
  double frame_rate;
  double display_rate;
  uint8_t* frame_buffer;
  uint32_t stride;
  uint32_t frame_words[3];
  uint32_t plane_row_bytes;
  uint32_t plane_rows;
  uint32_t chroma_row_bytes;
  uint32_t chroma_rows;
  uint32_t reserved_116;
  uint8_t* coded_frame;
  uint32_t coded_frame_length;
  /* Audio facts. */
  uint32_t audio_available;
  uint32_t audio_samples_low;
  uint32_t audio_bytes_delivered;
  uint32_t sample_rate;
  uint32_t audio_multichannel;
  uint32_t bits_per_sample;
  uint32_t audio_layer;
  uint32_t audio_mode;
  uint32_t audio_bit_rate;
  uint32_t bytes_per_sample_frame;
  uint32_t secondary_decode;
  uint32_t reserved_172;
  uint32_t no_time_search;
  uint8_t* raw_audio_buffer;
  uint32_t raw_audio_word;
  uint32_t row_order;
  uint32_t sequence_header_seen;
  uint32_t gop_header_seen;
  uint32_t pulldown;
  void* frame_record;
  uint8_t* external_frame_buffer;
  uint64_t audio_samples;
  uint32_t parser_buffer_size; /* 0: 1,048,576 */
  uint32_t private_option;
  uint32_t decoder_frame_number;
  uint32_t first_frame_top_field_first;
  uint32_t usable_without_counts;
  uint32_t index_mode_policy; /* 0 switch, 1 refuse, 2 or more ask prompt_index_mode */
  uint32_t full_scan_refused;
  uint32_t use_all_frames;
  uint32_t last_picture_delivered;
  uint32_t frame_status2;
  uint32_t leading_silence_delivered;
  uint32_t gap_filled;
  uint32_t rate_check_flag2;
  uint32_t reserved_272[18];
  /* Video sequence facts. */
  uint32_t profile;
  uint32_t level;
  uint32_t reserved_352[2];
  uint32_t anchor_distance;
  uint32_t gop_length;
  uint32_t reserved_368;
  uint32_t aspect_ratio_information;
  uint32_t frame_rate_code;
  uint32_t bit_rate_value;
  uint32_t vbv_buffer_size_value;
  uint32_t constrained_parameters_flag;
  uint32_t profile_and_level_indication;
  uint32_t progressive_sequence;
  uint32_t chroma_format;
  uint32_t low_delay;
  uint32_t frame_rate_extension_n;
  uint32_t frame_rate_extension_d;
  uint32_t video_format;
  uint32_t colour_description;
  uint32_t colour_primaries;
  uint32_t transfer_characteristics;
  uint32_t matrix_coefficients;
  uint32_t display_horizontal_size;
  uint32_t display_vertical_size;
  /* The last picture. */
  uint32_t temporal_reference;
  uint32_t picture_coding_type;
  uint32_t picture_coding_type_copy;
  uint32_t vbv_delay;
  uint32_t full_pel_forward_vector;
  uint32_t forward_f_code;
  uint32_t full_pel_backward_vector;
  uint32_t backward_f_code;
  uint32_t f_code[2][2];
  uint32_t intra_dc_precision;
  uint32_t picture_structure;
  uint32_t top_field_first;
  uint32_t frame_pred_frame_dct;
  uint32_t concealment_motion_vectors;
  uint32_t intra_vlc_format;
  uint32_t repeat_first_field;
  uint32_t chroma_420_type;
  uint32_t progressive_frame;
  uint32_t composite_display_flag;
  uint32_t v_axis;
  uint32_t field_sequence;
  uint32_t sub_carrier;
  uint32_t burst_amplitude;
  uint32_t sub_carrier_phase;
  int32_t frame_centre_horizontal_offset[3];
  int32_t frame_centre_vertical_offset[3];
  uint32_t copyright_flag;
  uint32_t copyright_identifier;
  uint32_t original_or_copy;
  uint32_t copyright_number_1;
  uint32_t copyright_number_2;
  uint32_t copyright_number_3;
  /* The last GOP header. */
  uint32_t drop_frame_flag;
  uint32_t time_code_hours;
  uint32_t time_code_minutes;
  uint32_t time_code_seconds;
  uint32_t time_code_pictures;
  uint32_t closed_gop;
  uint32_t broken_link;
  /* Quantiser matrices in raster order. */
  uint32_t intra_quantiser_matrix[64];
  uint32_t non_intra_quantiser_matrix[64];
  uint32_t chroma_intra_quantiser_matrix[64];
  uint32_t chroma_non_intra_quantiser_matrix[64];
  uint32_t load_intra_quantiser_matrix;
  uint32_t load_non_intra_quantiser_matrix;
  uint32_t load_chroma_intra_quantiser_matrix;
  uint32_t load_chroma_non_intra_quantiser_matrix;
  uint32_t q_scale_type;
  uint32_t alternate_scan;
  uint32_t number_of_frame_centre_offsets;
  uint32_t sequence_display_extension_seen;
  uint32_t picture_display_extension_seen;
  uint32_t reserved_1688[386];
  /* The first audio header. */
  uint32_t audio_channels;
  uint8_t adts_profile;
  uint8_t adts_home;
  uint8_t adts_copyright_id_start;
  uint8_t adts_raw_data_blocks;
  uint32_t adts_frame_length;
  uint32_t coded_frame_size;
  uint32_t samples_per_frame;
  uint32_t adts_buffer_fullness;
  uint32_t audio_id;
  uint32_t audio_layer_bits;
  uint32_t audio_protection_bit;
  uint32_t audio_bit_rate_index;
  uint32_t audio_sampling_frequency_index;
  uint32_t audio_padding_bit;
  uint32_t audio_private_bit;
  uint32_t audio_mode_extension;
  uint32_t audio_copyright;
  uint32_t audio_original;
  uint32_t audio_emphasis;
  uint32_t aac;
  /* Streams. */
  uint32_t stream_type_code;
  uint32_t reserved_3308;
  uint32_t audio_stream_mask;
  uint32_t video_stream_mask;
  uint32_t audio_stream_count;
  uint32_t video_stream_count;
  uint32_t chosen_audio_stream; /* 1-based */
  uint32_t chosen_video_stream; /* 1-based */
  uint32_t fourcc;
  uint32_t dvd_title_set;
  /* Words of the frame-seeking layer that its older layout kept where the words above lie. */
  uint32_t rate_check_flag;
  uint32_t sequential_read;
  uint32_t scan_discontinuity_state;
  uint32_t discontinuity_flag;
  uint32_t filler_flag;
  uint32_t reserved_3364[4081];
  /* Input. */
  uint64_t file_size;
  mpeg_in_split_seek_fn split_seek;
  mpeg_in_split_read_fn split_read;
  uint32_t reserved_19704[3];
  uint64_t first_time_stamp; /* the first and last time stamps of a quick scan (27 MHz) */
  uint64_t last_time_stamp;
  int64_t target_gop_time;
  int64_t decode_start_gop_time;
  uint64_t first_audio_time;
  int64_t audio_end_time;
  uint32_t sequence_header_length;
  uint8_t sequence_header[150];
  uint32_t audio_header_length;
  uint8_t audio_header[84];
  uint32_t private_header_count;
  uint8_t private_header[6];
  uint32_t ac3_stream_mask;
  uint32_t ac3_stream_count;
  uint32_t sub88_stream_mask;
  uint32_t sub88_stream_count;
  uint32_t sub90_stream_mask;
  uint32_t sub90_stream_count;
  uint32_t lpcm_stream_mask;
  uint32_t lpcm_stream_count;
  uint32_t identity_option;
  uint32_t audio_format; /* 1 to 12 */
  /* DVD LPCM header fields. */
  uint32_t lpcm_emphasis;
  uint32_t lpcm_mute;
  uint32_t lpcm_quantization;
  uint32_t lpcm_sampling_frequency;
  uint32_t lpcm_channels_minus_one;
  uint32_t lpcm_dynamic_range;
  /* AC-3 synchronisation and bit stream information of the first frame. */
  uint32_t ac3_crc1;
  uint32_t ac3_fscod;
  uint32_t ac3_frmsizecod;
  uint32_t ac3_bsid;
  uint32_t ac3_bsmod;
  uint32_t ac3_acmod;
  uint32_t ac3_cmixlev;
  uint32_t ac3_surmixlev;
  uint32_t ac3_dsurmod;
  uint32_t ac3_lfeon;
  uint32_t ac3_dialnorm;
  uint32_t ac3_compre;
  uint32_t ac3_compr;
  uint32_t ac3_langcode;
  uint32_t ac3_langcod;
  uint32_t ac3_audprodie;
  uint32_t ac3_mixlevel;
  uint32_t ac3_roomtyp;
  uint32_t ac3_dialnorm2;
  uint32_t ac3_compr2e;
  uint32_t ac3_compr2;
  uint32_t ac3_langcod2e;
  uint32_t ac3_langcod2;
  uint32_t ac3_audprodi2e;
  uint32_t ac3_mixlevel2;
  uint32_t ac3_roomtyp2;
  uint32_t ac3_copyrightb;
  uint32_t ac3_origbs;
  uint32_t ac3_timecod1e;
  uint32_t ac3_timecod1;
  uint32_t ac3_timecod2e;
  uint32_t ac3_timecod2;
  uint32_t ac3_addbsie;
  uint32_t ac3_addbsil;
  uint8_t ac3_addbsi[64];
  uint32_t split_flag;
  int64_t whole_frame_rate;
  uint32_t reserved_20296;
  uint32_t subpictures_available;
  uint32_t subpicture_stream_mask;
  uint32_t subpicture_stream_count;
  uint32_t chosen_subpicture_stream; /* 1-based */
  uint64_t subpicture_time;
  uint32_t reserved_20324[5];
  uint32_t video_pids[16];
  uint32_t audio_pids[32];
  uint32_t ac3_pids[8];
  uint32_t reserved_20568[56];
  uint32_t video_decoder_flags;
  uint32_t audio_decoder_flags;
  uint32_t probe_stop_mode;
  uint32_t overlay_enable;
  uint32_t reserved_20808[2];
  uint32_t probe_size_mib;
  uint32_t palette_changed;
  uint8_t palette[64];
  uint32_t dvd_title_count;
  uint32_t dvd_file_word;
  uint32_t dvd_program_chain;
  uint32_t dvd_angle;
  uint32_t dvd_word;
  uint32_t dvd_title; /* 1-based */
  uint32_t dvd_flag;
  uint32_t h264;
  mpeg_in_io_open_fn io_open;
  mpeg_in_io_seek_fn io_seek;
  mpeg_in_io_read_fn io_read;
  mpeg_in_io_close_fn io_close;
  uint32_t caller_io;
  uint32_t reserved_20940[3];
  uint32_t h264_decoder_flag;
  uint32_t aes3_pids[8];
  uint32_t aes3_stream_mask;
  uint32_t aes3_stream_count;
  mpeg_in_prompt_index_mode_fn prompt_index_mode;
  uint32_t reserved_21000;
  void* io_reserved;
  uint32_t reserved_21008[14089];
  /* The services used without get_rc, and the link to the private part. */
  uint32_t private_size; /* sizeof(struct mpeg_in_private) */
  mpeg_printf_fn err_printf;
  mpeg_prg_printf_fn prg_printf;
  mpeg_printf_fn wrn_printf;
  mpeg_printf_fn inf_printf;
  mpeg_malloc_fn malloc_fn;
  mpeg_free_fn free_fn;
  mpeg_get_rc get_rc;
  struct mpeg_in_private* priv;
} mpeg_in_info;

/* The size of the private part a caller must leave after its own public record. */
QUILLION_MPEG_EXPORT uint32_t mpegInPrivateSize(void);

QUILLION_MPEG_EXPORT mpeg_in_info* mpegInNew(mpeg_get_rc get_rc, mpeg_in_info* record);
QUILLION_MPEG_EXPORT void mpegInInfoInit(mpeg_in_info* record);
/* Opens a file by name (null: the file of the last open) into a session of mpegInNew. An
 * unchanged file (same name, modification time, size and stream choices) opened again with
 * quick-scan on is reopened without scanning. A session that is open is refused. */
QUILLION_MPEG_EXPORT int32_t mpegInOpen(mpeg_in_info* record, const char* name);
QUILLION_MPEG_EXPORT void mpegInClose(mpeg_in_info* record);
/* Record-driven entry points: the name is the record's file_name; a record of mpegInInfoInit
 * gets its private part here and loses it at mpegInCloseMPEG. */
QUILLION_MPEG_EXPORT int32_t mpegInOpenMPEG(mpeg_in_info* record);
QUILLION_MPEG_EXPORT int32_t mpegInOpenPrimary(mpeg_get_rc get_rc, mpeg_in_info* record);
QUILLION_MPEG_EXPORT void mpegInCloseMPEG(mpeg_in_info* record);
/* Describes the named file in the record without keeping it open. */
QUILLION_MPEG_EXPORT int32_t mpegInGetInfo(mpeg_in_info* record);
/* A second reader of an open primary session's file, with the primary's facts and copies
 * of its indexes; it decodes from whole GOPs and shares nothing with the primary. */
QUILLION_MPEG_EXPORT int32_t mpegInOpenSecondary(mpeg_in_info* second, mpeg_in_info* primary);
QUILLION_MPEG_EXPORT void mpegInCloseSecondary(mpeg_in_info* second);
QUILLION_MPEG_EXPORT void mpegInFree(mpeg_in_info* record);
/* Close and reopen the file handles of the session's stream readers, keeping positions. Wake
 * answers 0, or the first failing result. */
QUILLION_MPEG_EXPORT void mpegInSleepFiles(mpeg_in_info* record);
QUILLION_MPEG_EXPORT int32_t mpegInWakeFiles(mpeg_in_info* record);
QUILLION_MPEG_EXPORT int32_t mpegInOpenExisting(mpeg_in_info* record);
QUILLION_MPEG_EXPORT void mpegInCloseExisting(mpeg_in_info* record);
QUILLION_MPEG_EXPORT void mpegInUpdateFiles(mpeg_in_info* record);
QUILLION_MPEG_EXPORT const char* mpegInGetLastErrString(void);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_BRINDLE_H */
