/* SPDX-License-Identifier: GPL-2.0-or-later */
/* Byte streams: one record of operation slots through which the application and every MPEG
 * library move bytes. The slot order and meaning are a contract between all of them, so the
 * record is plain C. Every library links its own (hidden) copy of this code.
 *
 * Counts are in bytes for byte streams; a fifo made with an element size above 1 counts in
 * elements. */
#ifndef QUILLION_BUFSTREAM_H
#define QUILLION_BUFSTREAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct bufstream bufstream;

struct bufstream {
  /* Bytes a writer may put in without blocking, or a reader can deliver at once. */
  uint32_t (*usable_bytes)(bufstream* bs);
  /* A contiguous area of at least n bytes (writer: to fill; reader: to read), or null. */
  uint8_t* (*request)(bufstream* bs, uint32_t n);
  /* Commits n bytes of the last request; returns the count taken. */
  uint32_t (*confirm)(bufstream* bs, uint32_t n);
  /* Writer: takes n bytes (0 on failure). Reader: copies bytes out, returns the count. */
  uint32_t (*copybytes)(bufstream* bs, uint8_t* p, uint32_t n);
  /* The largest n that request can always satisfy. */
  uint32_t (*chunksize)(bufstream* bs);
  /* Side channel by 32-bit id: 0 when handled or ignored, non-zero on error. */
  int32_t (*auxinfo)(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size);
  /* Starts a new output part; null for streams that cannot split. */
  int (*split)(bufstream* bs);
  /* Finishes the stream: 0, or -1 when buffered data could not be written or the file not
   * closed. The record stays; only free is valid afterwards. */
  int (*done)(bufstream* bs, int abort);
  /* Releases the record (finishing it first); null for records their owner releases. */
  void (*free)(bufstream* bs);

  /* First data word: belongs to whoever currently uses the stream (a consumer that took over
   * the auxinfo slot keeps its own record here). Null from every constructor. */
  void* drive_chain;
  void* drive;
  uint32_t flags; /* 1 for writers, 0 for readers */
  uint32_t state;
  void* implementation;
};

/* Message function of the constructors; the texts begin with "BUFSTRM:". */
typedef void (*bufstream_msg_fn)(char* text);

/* Auxiliary-information ids. */
enum {
  BUFSTREAM_AUX_BYTE_COUNT = 0xF0010, /* 8 bytes: 64-bit bytes written (part) or consumed */
  BUFSTREAM_AUX_FLUSH = 0xF0020,
  BUFSTREAM_AUX_SPLIT = 0xF0040,
  BUFSTREAM_AUX_PART_COUNT = 0xF00001, /* 4 bytes: parts started by split */
  BUFSTREAM_AUX_FILE_NAME = 0xF00002,  /* text buffer of the given size */
  BUFSTREAM_AUX_BYTE_SWAP = 0xF00004,  /* reader delivers 16-bit units byte-swapped */
  BUFSTREAM_AUX_FILE_SIZE = 0xF00008   /* 8 bytes: size of the file being read */
};

/* Fifo pair: the writer is returned, the reader is the record right after it. Null when
 * memory runs out or size < chunk. The chunk size of both ends is chunk - 1. The ring holds
 * at most size - 1 elements, so a full ring never looks empty. */
bufstream* new_fifo_buf(uint32_t size, uint32_t chunk);
/* The same over elements of element_size bytes (1 to 16). */
bufstream* new_fifo_buf_elements(uint32_t size, uint32_t chunk, uint32_t element_size);
void free_fifo_buf(bufstream* writer);
/* Stores unsigned 8-bit samples as signed 16-bit ((x - 128) * 256) into a fifo of 2-byte
 * elements; returns the samples taken. Like copybytes, it closes an open writer request: a
 * later confirm commits nothing. */
uint32_t fifo_w_audio_put_8to16(bufstream* writer, const uint8_t* samples, uint32_t count);

/* File streams. open_* allocate the record (null after a message); init_* fill the caller's
 * record and return 0 or -1. */
bufstream* open_file_buf_write(const char* path, uint32_t buffer_size, bufstream_msg_fn msg);
int init_file_buf_write(bufstream* bs, const char* path, uint32_t buffer_size,
                        bufstream_msg_fn msg);
bufstream* open_file_buf_write_flushable(const char* path, uint32_t buffer_size,
                                         bufstream_msg_fn msg);
int init_file_buf_write_flushable(bufstream* bs, const char* path, uint32_t buffer_size,
                                  bufstream_msg_fn msg);
bufstream* open_file_buf_write_existing(const char* path, uint32_t buffer_size,
                                        bufstream_msg_fn msg);
int init_file_buf_write_existing(bufstream* bs, const char* path, uint32_t buffer_size,
                                 bufstream_msg_fn msg);
bufstream* open_file_buf_read(const char* path, uint32_t buffer_size, bufstream_msg_fn msg);
int init_file_buf_read(bufstream* bs, const char* path, uint32_t buffer_size, bufstream_msg_fn msg);

/* done(abort) then free, and clears the caller's pointer. Returns done's result. */
int close_file_buf(bufstream** bs, int abort);
/* done of a reader. */
int exit_file_buf_read(bufstream* bs);

#ifdef __cplusplus
}

inline int close_file_buf(bufstream*& bs, int abort) {
  return close_file_buf(&bs, abort);
}
#endif

#endif /* QUILLION_BUFSTREAM_H */
