// SPDX-License-Identifier: GPL-2.0-or-later
// Making, closing and freeing sessions. A session of mpegInNew is one block: the public
// record followed at once by its private part; a caller may instead hand in its own record
// with room for the private part after it.
#include "session.h"

#include <cstdlib>
#include <cstring>

#include "frame_buffers.h"
#include "resources.h"
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
  p->video_index = nullptr;
  p->audio_index = nullptr;
  p->stream_size = 0;
  p->audio_decoder = nullptr;
  p->video_decoder = nullptr;
  p->subpicture_decoder = nullptr;
  for (picture_buffer& b : p->pictures) b = picture_buffer{};
}

void close_session(mpeg_in_info* record) {
  if (!record || !record->priv || !record->open) return;
  mpeg_in_private* p = record->priv;
  free_frame_buffers(record);
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

int32_t mpegInOpenExisting(mpeg_in_info* /*record*/) {
  return 0;
}

void mpegInCloseExisting(mpeg_in_info* /*record*/) {}

void mpegInUpdateFiles(mpeg_in_info* /*record*/) {}

}  // extern "C"
