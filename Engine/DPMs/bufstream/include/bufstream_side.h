/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Streams that sit in front of a main stream and handle what travels beside the data through
 * auxinfo (index records, XML indexes, segment lists, byte patches, side files), and the null
 * stream. A front stream passes the data slots and every auxinfo id it does not consume to
 * its main stream; done finishes the front stream only, the main and index streams belong to
 * the caller, who finishes them afterwards. done returns 0, or -1 when a write that the front
 * stream made (to an index, XML, list or patched file) failed.
 *
 * open_* allocate the record (null on failure, with a plain-text message), init_* fill a
 * caller's record (0 or -1), close_* call done with the abort flag, free the record and clear
 * the caller's pointer, and return done's result. */
#ifndef QUILLION_BUFSTREAM_SIDE_H
#define QUILLION_BUFSTREAM_SIDE_H

#include "bufstream.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  BUFSTREAM_AUX_VIDEO_INDEX_HEADER = 0xF0100, /* "VINF" header, 254 bytes */
  BUFSTREAM_AUX_VIDEO_INDEX_ENTRY = 0xF0200,  /* vau_info, 32 bytes, u64 LE position first */
  BUFSTREAM_AUX_AUDIO_INDEX_HEADER = 0xF0400, /* "AINF" header, 208 bytes */
  BUFSTREAM_AUX_AUDIO_INDEX_ENTRY = 0xF0800,  /* aau_info, 20 bytes, u64 LE position first */
  BUFSTREAM_AUX_VIDEO_EXT_HEADER = 0xF0810,   /* extended records, 64 bytes: u64 LE time */
  BUFSTREAM_AUX_VIDEO_EXT_UNIT = 0xF0811,     /*   (27 MHz) and u32 LE unit size first */
  BUFSTREAM_AUX_AUDIO_EXT_HEADER = 0xF0812,
  BUFSTREAM_AUX_AUDIO_EXT_UNIT = 0xF0813,
  BUFSTREAM_AUX_PICTURE_HEADER = 0x100,  /* u32 words: word 1 temporal reference */
  BUFSTREAM_AUX_SEQUENCE_HEADER = 0x1B3, /* u32 words: word 1 frame-rate code */
  BUFSTREAM_AUX_PICTURE_DONE = 0xF0001,  /* eight u32 words, see the vxml writer */
  BUFSTREAM_AUX_VIDEO_USER_DATA = 0x200001,
  BUFSTREAM_AUX_AUDIO_USER_DATA = 0x200002,
  BUFSTREAM_AUX_PATCH = 0xC0011, /* bufstream_patch, sizeof(bufstream_patch) bytes */
  BUFSTREAM_AUX_MD_OPEN_WRITE = 0x100001,
  BUFSTREAM_AUX_MD_OPEN_READ = 0x100002,
  BUFSTREAM_AUX_MD_CLOSE = 0x100003,
  BUFSTREAM_AUX_MD_WRITE = 0x100004,
  BUFSTREAM_AUX_MD_READ = 0x100005,
  BUFSTREAM_AUX_MD_REWIND = 0x100006,
  BUFSTREAM_AUX_MD_EMPTY = 0x100007,
  BUFSTREAM_AUX_MD_EMPTY_AT_END = 0x100008,
  BUFSTREAM_AUX_MD_SIZE = 0x100009 /* u64 */
};

/* Index writer: video and audio index records go to their own index streams (either may be
 * null: its records are then dropped), each record once the main stream has passed the data
 * of the record after it. */
bufstream* open_bufstream_write_with_index(bufstream* main, bufstream* audio_index,
                                           bufstream* video_index, bufstream_msg_fn msg);
int init_bufstream_write_with_index(bufstream* bs, bufstream* main, bufstream* audio_index,
                                    bufstream* video_index, bufstream_msg_fn msg);
int close_bufstream_write_with_index(bufstream** bs, int abort);

/* XML index writers. */
bufstream* open_bufstream_write_with_vxml_index(bufstream* main, bufstream* xml,
                                                bufstream_msg_fn msg);
int init_bufstream_write_with_vxml_index(bufstream* bs, bufstream* main, bufstream* xml,
                                         bufstream_msg_fn msg);
int close_bufstream_write_with_vxml_index(bufstream** bs, int abort);
bufstream* open_bufstream_write_with_xml_index(bufstream* main, bufstream* video_xml,
                                               bufstream* audio_xml, bufstream_msg_fn msg);
int init_bufstream_write_with_xml_index(bufstream* bs, bufstream* main, bufstream* video_xml,
                                        bufstream* audio_xml, bufstream_msg_fn msg);
int close_bufstream_write_with_xml_index(bufstream** bs, int abort);

/* Segment list: every part of a split output, one "name; size" line each, in a ".mzl" file
 * beside the main stream's file. */
bufstream* open_bufstream_write_with_mzl(bufstream* main, bufstream_msg_fn msg);
int init_bufstream_write_with_mzl(bufstream* bs, bufstream* main, bufstream_msg_fn msg);
int close_bufstream_write_with_mzl(bufstream** bs, int abort);

/* Null stream: accepts and counts everything (auxinfo BUFSTREAM_AUX_BYTE_COUNT). */
bufstream* open_null_buf_write(uint32_t buffer_size, bufstream_msg_fn msg);
int init_null_buf_write(bufstream* bs, uint32_t buffer_size, bufstream_msg_fn msg);
int close_null_buf(bufstream** bs, int abort);

/* Patch stream: queues byte patches (auxinfo BUFSTREAM_AUX_PATCH) and writes them into the
 * main stream's finished file when it is closed without abort. The main stream must be
 * finished first. The fifo form knows no file: patches queued on it make done fail. */
typedef struct bufstream_patch {
  uint64_t offset; /* from the file's start */
  uint8_t* data;   /* copied when queued */
  uint32_t length;
} bufstream_patch;
bufstream* bseek_open_file_buf(bufstream* main, bufstream_msg_fn msg);
bufstream* bseek_open_fifo_buf(bufstream* main, bufstream_msg_fn msg);
int bseek_close_file_buf(bufstream** bs, int abort);
int bseek_close_fifo_buf(bufstream** bs, int abort);

/* Metadata storage: eight side files "<base>.md<n>" (channels 0 to 7) beside a wrapped
 * stream. The record begins with a bufstream, so the storage can stand in for its main
 * stream once init_metadata_filter put it in front. */
typedef struct metadata_storage {
  bufstream stream;
  bufstream* wrapped; /* the stream it stands in front of, freed with it */
} metadata_storage;
/* The drive of a stream's drive chain. */
typedef int (*bufstream_drive_fn)(bufstream* bs);

metadata_storage* new_metadata_file(const char* base_name);
/* The storage takes over `main` (it finishes and frees it with itself). 0 or -1. */
int init_metadata_filter(metadata_storage* storage, bufstream* main);
int32_t auxinfo_metadata_file(metadata_storage* storage, uint32_t channel, uint32_t id, void* data,
                              uint32_t size);
int done_metadata_file(metadata_storage* storage, int abort);
void free_metadata_file(metadata_storage* storage);

#ifdef __cplusplus
}
#endif

#endif /* QUILLION_BUFSTREAM_SIDE_H */
