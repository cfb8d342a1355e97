// SPDX-License-Identifier: GPL-2.0-or-later
// Making, closing and freeing sessions. A session of mpegInNew is one block: the public
// record followed at once by its private part; a caller may instead hand in its own record
// with room for the private part after it.
#include "session.h"

#include <cstdlib>
#include <cstring>

#include "frame_buffers.h"
#include "ifo_find.h"
#include "index_chunks.h"
#include "input_open.h"
#include "resources.h"
#include "scan_services.h"
#include "session_ops.h"

namespace quillion::brindle {
namespace session_detail {

mpeg_in_private* privateAfter(mpeg_in_info* record) {
  return reinterpret_cast<mpeg_in_private*>(reinterpret_cast<unsigned char*>(record) +
                                            sizeof(mpeg_in_info));
}

void setDefaults(mpeg_in_info* record) {
  record->options = 7;
  record->options2 = 7;
  record->chosen_audio_stream = 1;
  record->chosen_video_stream = 1;
  record->dvd_program_chain = 1;
  record->dvd_angle = 1;
  record->dvd_word = 8;
  record->dvd_title = 1;
  record->quiet = 1;
  record->quick_scan = 1;
}

void clearParserState(stream_parser* parser) {
  std::memset(static_cast<void*>(parser), 0, sizeof *parser);
}

}  // namespace session_detail

using namespace session_detail;

void reset_session_state(mpeg_in_info* record) {
  mpeg_in_private* p = record->priv;
  p->use_all_frames = record->use_all_frames != 0 || p->secondary != 0 ? 1 : 0;
  p->external_frame_buffer = 0;
  if (p->use_all_frames)
    p->handlers = {video_decode_handler::whole_gops, audio_decode_handler::whole_gops};
  else if (record->external_frame_buffer)
    p->handlers = {video_decode_handler::no_reorder, audio_decode_handler::sequential};
  else
    p->handlers = {video_decode_handler::reorder, audio_decode_handler::sequential};
  p->video_index = nullptr;
  p->audio_index = nullptr;
  p->stream_size = 0;
  p->audio_decoder = nullptr;
  p->video_decoder = nullptr;
  p->subpicture_decoder = nullptr;
  p->audio_frame_buffer = nullptr;
  p->expected_frames = 0;
  p->audio_time = -1.0;
  for (picture_buffer& b : p->pictures) b = picture_buffer{};
}

int alloc_audio_frame_buffer(mpeg_in_info* record) {
  mpeg_in_private* p = record->priv;
  // Two frames of output samples.
  const std::size_t bytes =
      std::size_t{record->samples_per_frame} * std::size_t{record->bytes_per_sample_frame} * 2;
  if (bytes == 0) return 1;
  session_free(record, p->audio_frame_buffer);
  p->audio_frame_buffer = static_cast<std::uint8_t*>(session_malloc(record, bytes));
  if (!p->audio_frame_buffer) {
    report_error(record, "Unable to allocate memory for audio frame buffer");
    return 1;
  }
  return 0;
}

void clear_stream_lists(mpeg_in_info* record) {
  record->video_available = 0;
  record->audio_available = 0;
  record->subpictures_available = 0;
  for (std::uint32_t* word :
       {&record->audio_stream_mask, &record->video_stream_mask, &record->audio_stream_count,
        &record->video_stream_count, &record->ac3_stream_mask, &record->ac3_stream_count,
        &record->sub88_stream_mask, &record->sub88_stream_count, &record->sub90_stream_mask,
        &record->sub90_stream_count, &record->lpcm_stream_mask, &record->lpcm_stream_count,
        &record->subpicture_stream_mask, &record->subpicture_stream_count,
        &record->aes3_stream_mask, &record->aes3_stream_count})
    *word = 0;
}

int prepare_session(mpeg_in_info* record, bool infoMode) {
  mpeg_in_private* p = record->priv;
  if (record->use_all_frames && record->external_frame_buffer) {
    report_error(record,
                 "An external frame buffer must not be used with the use all frames option");
    return 1;
  }
  p->options = record->options;
  p->options2 = record->options2;
  p->parser_buffer_size = record->parser_buffer_size ? record->parser_buffer_size : 1048576;
  p->private_option = record->private_option;
  p->info_mode = infoMode ? 1 : 0;
  p->index_mode = record->quick_scan ? 0 : 1;
  if (record->fourcc == 0) record->fourcc = default_fourcc(record->options);
  record->audio_format = 0;
  record->sequence_header_length = 0;
  record->audio_header_length = 0;
  clear_stream_lists(record);
  for (std::uint32_t* chosen : {&record->chosen_audio_stream, &record->chosen_video_stream,
                                &record->chosen_subpicture_stream})
    if (*chosen < 1) *chosen = 1;
  record->system_stream_type = 0;
  reset_session_state(record);
  p->external_frame_buffer = record->external_frame_buffer ? 1 : 0;
  record->open = 1;
  return 0;
}

void close_session(mpeg_in_info* record) {
  if (!record || !record->priv || !record->open) return;
  mpeg_in_private* p = record->priv;
  if (p->secondary) {
    mpegInCloseSecondary(record);
    return;
  }
  free_frame_buffers(record);
  if (installed_open_services().free_decoders) installed_open_services().free_decoders(record);
  free_ifo(record);
  free_index_chunks(record, p->video_index);
  free_index_chunks(record, p->audio_index);
  session_free(record, p->audio_frame_buffer);
  p->audio_frame_buffer = nullptr;
  close_info_bufstream(record, &p->video);
  close_info_bufstream(record, &p->audio);
  close_info_bufstream(record, &p->subpicture);
  close_demuxer(record);
  clearParserState(&p->video);
  clearParserState(&p->audio);
  clearParserState(&p->subpicture);
  record->open = 0;
}

}  // namespace quillion::brindle

using namespace quillion::brindle;

extern "C" {

uint32_t mpegInPrivateSize(void) {
  return sizeof(mpeg_in_private);
}

mpeg_in_info* mpegInNew(mpeg_get_rc get_rc, mpeg_in_info* record) {
  const bool callerOwned = record != nullptr;
  if (callerOwned) {
    if (record->private_size != sizeof(mpeg_in_private)) return nullptr;
    std::memset(static_cast<void*>(privateAfter(record)), 0, sizeof(mpeg_in_private));
  } else {
    auto allocate = get_rc ? reinterpret_cast<mpeg_malloc_fn>(get_rc("malloc")) : nullptr;
    auto release = get_rc ? reinterpret_cast<mpeg_free_fn>(get_rc("free")) : nullptr;
    // The block is released by the session's own free, which is the system one unless the
    // caller gave both halves of its allocator.
    if (!allocate || !release) allocate = &std::malloc;
    const std::size_t bytes = sizeof(mpeg_in_info) + sizeof(mpeg_in_private);
    void* block = allocate(bytes);
    if (!block) return nullptr;
    std::memset(block, 0, bytes);
    record = static_cast<mpeg_in_info*>(block);
    record->private_size = sizeof(mpeg_in_private);
  }
  record->priv = privateAfter(record);
  record->priv->inside_block = 1;
  attach_resources(record, get_rc);
  if (callerOwned) {
    record->priv->caller_owned = 1;
    return record;
  }
  setDefaults(record);
  record->fourcc = MPEG_IN_FOURCC_BGRA;
  return record;
}

void mpegInInfoInit(mpeg_in_info* record) {
  if (!record) return;
  std::memset(static_cast<void*>(record), 0, sizeof *record);
  setDefaults(record);
  record->chosen_subpicture_stream = 1;
}

void mpegInClose(mpeg_in_info* record) {
  if (!record || !record->priv) return;
  close_session(record);
}

void mpegInFree(mpeg_in_info* record) {
  if (!record || !record->priv) return;
  close_session(record);
  if (record->priv->caller_owned) return;
  session_free(record, record);
}

void mpegInSleepFiles(mpeg_in_info* record) {
  if (!record || !record->priv) return;
  mpeg_in_private* p = record->priv;
  if (p->demux && p->daskin.SleepParser) {
    for (stream_parser* parser : {&p->video, &p->audio, &p->subpicture})
      if (parser->demux_parser != 0) p->daskin.SleepParser(p->demux, parser->demux_parser);
  }
  if (p->mxf_demux && p->varlow.SleepParser) {
    for (stream_parser* parser : {&p->video, &p->audio})
      if (parser->demux_parser != 0) p->varlow.SleepParser(p->mxf_demux, parser->demux_parser);
  }
  p->asleep = 1;
}

int32_t mpegInWakeFiles(mpeg_in_info* record) {
  if (!record || !record->priv) return 0;
  mpeg_in_private* p = record->priv;
  if (p->demux && p->daskin.WakeParser) {
    for (stream_parser* parser : {&p->video, &p->audio, &p->subpicture}) {
      if (parser->demux_parser == 0) continue;
      if (const int32_t result = p->daskin.WakeParser(p->demux, parser->demux_parser))
        return result;
    }
  }
  if (p->mxf_demux && p->varlow.WakeParser) {
    for (stream_parser* parser : {&p->video, &p->audio}) {
      if (parser->demux_parser == 0) continue;
      if (const int32_t result = p->varlow.WakeParser(p->mxf_demux, parser->demux_parser))
        return result;
    }
  }
  p->asleep = 0;
  return 0;
}

int32_t mpegInOpenExisting(mpeg_in_info* /*record*/) {
  return 0;
}

void mpegInCloseExisting(mpeg_in_info* /*record*/) {}

void mpegInUpdateFiles(mpeg_in_info* /*record*/) {}

}  // extern "C"
