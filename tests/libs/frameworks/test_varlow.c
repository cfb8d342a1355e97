/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A stand-in for the MXF demultiplexer, for tests only: it takes the named file for one MPEG
 * video elementary stream and lists, after it, the audio streams that QUILLION_TEST_MXF_AUDIO
 * names (a digit per stream: 2 an AES3 element, 3 plain PCM; their data are empty). Chunks
 * of 4,096 bytes of the file are delivered through the output bufstream's auxinfo slot as the
 * real demultiplexers deliver theirs. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bufstream.h"
#include "varlow.h"

#define MAX_PARSERS 8
#define CHUNK_BYTES 4096

typedef struct parser_state {
  int used;
  int stream;
  FILE* file;
  uint64_t position;
  uint8_t buffer[CHUNK_BYTES];
} parser_state;

struct mxf_context {
  char name[1024];
  uint64_t size;
  char audio[16];
  parser_state parsers[MAX_PARSERS];
};

static int32_t deliver(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size) {
  parser_state* p = (parser_state*)bs->drive_chain;
  demux_chunk_info info;
  (void)offset;
  if (id != DEMUX_CHUNK_INFO_ID || size != sizeof info) return -1;
  memset(&info, 0, sizeof info);
  info.pts = -1;
  size_t got = 0;
  if (p->file && fseek(p->file, (long)p->position, SEEK_SET) == 0)
    got = fread(p->buffer, 1, CHUNK_BYTES, p->file);
  if (got == 0) {
    info.end = 1;
  } else {
    info.data = p->buffer;
    info.length = (uint32_t)got;
    info.data_position = p->position;
    info.pack_position = p->position;
    p->position += got;
  }
  memcpy(data, &info, sizeof info);
  return 0;
}

mxf_context* mxfDemuxNew(mpeg_get_rc_ex get_rc_ex, void* application,
                         const mxf_settings* settings) {
  (void)get_rc_ex;
  (void)application;
  (void)settings;
  mxf_context* c = (mxf_context*)calloc(1, sizeof(mxf_context));
  const char* audio = getenv("QUILLION_TEST_MXF_AUDIO");
  if (c && audio) snprintf(c->audio, sizeof c->audio, "%s", audio);
  return c;
}

void mxfDemuxFree(mxf_context* c) {
  free(c);
}

int32_t mxfDemuxOpen(mxf_context* c, int32_t flags, const char* name) {
  (void)flags;
  if (!name) return 1;
  FILE* f = fopen(name, "rb");
  if (!f) return 1;
  fseek(f, 0, SEEK_END);
  c->size = (uint64_t)ftell(f);
  fclose(f);
  snprintf(c->name, sizeof c->name, "%s", name);
  return 0;
}

void mxfDemuxOpenW(void) {}

void mxfDemuxClose(mxf_context* c) {
  for (int i = 0; i < MAX_PARSERS; ++i) {
    if (c->parsers[i].file) fclose(c->parsers[i].file);
    memset(&c->parsers[i], 0, sizeof c->parsers[i]);
  }
}

void mxfDemuxGetFileInfo(mxf_context* c, mxf_file_info* info) {
  memset(info, 0, sizeof *info);
  info->size = c->size;
  info->system_stream_type = 5;
  info->streams = 1 + (uint32_t)strlen(c->audio);
  info->note_code = MXF_INFO_NOTE_CODE;
  info->note_value = 7;
  info->note_companion = 9;
}

int32_t mxfDemuxGetStreamInfo(mxf_context* c, mxf_stream_info* info, int32_t stream) {
  memset(info, 0, sizeof *info);
  if (stream == 0) {
    info->kind = MXF_KIND_VIDEO;
    info->identifier = 0xE0;
    return 0;
  }
  if (stream < 1 || (size_t)stream > strlen(c->audio)) return 1;
  info->kind = (uint32_t)(c->audio[stream - 1] - '0');
  info->identifier = (uint32_t)stream;
  info->channels = info->kind == MXF_KIND_AES3_ELEMENT ? 8 : 2;
  info->bits_per_sample = 24;
  info->sample_rate = 48000;
  return 0;
}

int32_t mxfDemuxNewParser(mxf_context* c, const mxf_parser_settings* settings) {
  (void)settings;
  for (int i = 0; i < MAX_PARSERS; ++i) {
    if (!c->parsers[i].used) {
      c->parsers[i].used = 1;
      return i + 1;
    }
  }
  return 0;
}

void mxfDemuxFreeParser(mxf_context* c, int32_t parser) {
  if (parser < 1 || parser > MAX_PARSERS) return;
  parser_state* p = &c->parsers[parser - 1];
  if (p->file) fclose(p->file);
  memset(p, 0, sizeof *p);
}

int32_t mxfDemuxAddStream(mxf_context* c, int32_t parser, const mxf_stream_settings* settings) {
  if (parser < 1 || parser > MAX_PARSERS || !settings->output) return 1;
  parser_state* p = &c->parsers[parser - 1];
  p->stream = settings->stream;
  p->file = settings->stream == 0 ? fopen(c->name, "rb") : NULL;
  settings->output->auxinfo = &deliver;
  settings->output->drive_chain = p;
  return 0;
}

void mxfDemuxRemoveStream(void) {}

int32_t mxfDemuxSeek(mxf_context* c, int32_t parser, uint32_t low, uint32_t high) {
  if (parser < 1 || parser > MAX_PARSERS) return 1;
  const uint64_t position = (uint64_t)high << 32 | low;
  if (position >= c->size) return 2;
  c->parsers[parser - 1].position = position;
  return 0;
}

void mxfDemuxPush(void) {}
int32_t mxfDemuxWakeParser(mxf_context* c, int32_t parser) {
  (void)c;
  (void)parser;
  return 0;
}
int32_t mxfDemuxSleepParser(mxf_context* c, int32_t parser) {
  (void)c;
  (void)parser;
  return 0;
}
void mxfDemuxUpdateFilesize(void) {}
void mxfDemuxSetFirstSplitRead(void) {}
