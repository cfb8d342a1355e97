// SPDX-License-Identifier: GPL-2.0-or-later
// Secondary sessions: a second reader of a primary session's open file, with the primary's
// facts and indexes, always decoding from whole GOPs. Nothing the primary owns is shared: the
// indexes are copied, and the demultiplexer (opened again on the same file, as a stream is
// delivered to one parser only), the stream parsers, buffers, decoders and frameworks are the
// secondary's own, so either session may be closed first.
#include <cstring>

#include "brindle.h"
#include "frame_buffers.h"
#include "ifo_find.h"
#include "index_chunks.h"
#include "input_open.h"
#include "resources.h"
#include "scan_services.h"
#include "session.h"
#include "session_ops.h"

namespace quillion::brindle {
namespace secondary_detail {

constexpr std::size_t kRawAudioBytes = 512000;

// Empties what the copied private part would otherwise share with the primary.
void forgetOwned(mpeg_in_private* p) {
  p->video_index = nullptr;
  p->audio_index = nullptr;
  for (picture_buffer& b : p->pictures) b = picture_buffer{};
  p->audio_decoder = nullptr;
  p->video_decoder = nullptr;
  p->subpicture_decoder = nullptr;
  p->audio_frame_buffer = nullptr;
  for (stream_parser* s : {&p->video, &p->audio, &p->subpicture}) {
    s->demux_output = nullptr;
    s->demux_parser = 0;
  }
  for (framework_binding& f : p->frameworks) f = framework_binding{};
  p->resources = resource_set{};
  p->demux = nullptr;
  p->daskin = daskin_functions{};
  p->varlow = varlow_functions{};
  p->mxf_demux = nullptr;
  p->ifo_data = nullptr;
  for (gop_record& g : p->gops) {
    g.data = nullptr;
    g.capacity = 0;
  }
  p->gop_fifo = nullptr;
  p->ifo_size = 0;
}

int openVideo(mpeg_in_info* second, const mpeg_in_info* primary) {
  mpeg_in_private* p = second->priv;
  bool ok = true;
  p->video_index = copy_index_chunks(second, primary->priv->video_index, kVideoIndexEntryBytes, ok);
  if (!ok) {
    report_error(second, "Unable to allocate memory for video index data");
    return 1;
  }
  if (alloc_frame_buffers(second, false) != 0) return 1;
  const open_services& s = installed_open_services();
  return s.create_video_decoder && s.create_video_decoder(second) != 0 ? 1 : 0;
}

int openAudio(mpeg_in_info* second, const mpeg_in_info* primary) {
  mpeg_in_private* p = second->priv;
  bool ok = true;
  p->audio_index = copy_index_chunks(second, primary->priv->audio_index, kAudioIndexEntryBytes, ok);
  if (!ok) {
    report_error(second, "Unable to allocate memory for audio index data");
    return 1;
  }
  second->raw_audio_buffer = static_cast<std::uint8_t*>(session_malloc(second, kRawAudioBytes));
  if (!second->raw_audio_buffer) {
    report_error(second, "raw_aud_buffer malloc failed");
    return 1;
  }
  if (alloc_audio_frame_buffer(second) != 0) return 1;
  const open_services& s = installed_open_services();
  if ((p->options & 4u) && s.create_audio_decoder && s.create_audio_decoder(second) != 0) return 1;
  return 0;
}

}  // namespace secondary_detail

using namespace secondary_detail;

}  // namespace quillion::brindle

using namespace quillion::brindle;

extern "C" {

void mpegInCloseSecondary(mpeg_in_info* second) {
  if (!second || !second->priv || !second->open || !second->priv->secondary) return;
  mpeg_in_private* p = second->priv;
  free_index_chunks(second, p->video_index);
  free_index_chunks(second, p->audio_index);
  free_frame_buffers(second);
  if (installed_open_services().free_decoders) installed_open_services().free_decoders(second);
  close_info_bufstream(second, &p->video);
  close_info_bufstream(second, &p->audio);
  close_info_bufstream(second, &p->subpicture);
  close_demuxer(second);
  free_ifo(second);
  session_free(second, second->raw_audio_buffer);
  second->raw_audio_buffer = nullptr;
  session_free(second, p->audio_frame_buffer);
  p->audio_frame_buffer = nullptr;
  const mpeg_free_fn release = p->resources.free_fn;
  second->priv = p->home_private;
  second->open = 0;
  release(p);
}

int32_t mpegInOpenSecondary(mpeg_in_info* second, mpeg_in_info* primary) {
  if (!second || !primary || second == primary || !primary->priv || !primary->open ||
      primary->priv->secondary || second->open)
    return 1;
  const std::uint32_t fourcc = second->fourcc;
  const mpeg_get_rc getRc = second->get_rc;
  mpeg_in_private* home = second->priv;
  std::memcpy(static_cast<void*>(second), primary, sizeof(mpeg_in_info));
  if (fourcc) second->fourcc = fourcc;
  if (getRc) second->get_rc = getRc;
  second->priv = nullptr;
  second->open = 0;
  if (alloc_private(second, second->get_rc) != 0) {
    second->priv = home;
    return 1;
  }
  mpeg_in_private* p = second->priv;
  std::memcpy(static_cast<void*>(p), primary->priv, sizeof(mpeg_in_private));
  forgetOwned(p);
  p->home_private = home;
  attach_resources(second, second->get_rc);
  p->inside_block = 0;
  p->secondary = 1;
  p->external_frame_buffer = 0;
  second->external_frame_buffer = nullptr;
  second->frame_record = nullptr;
  second->secondary_decode = 0;
  second->row_order = 0;
  second->raw_audio_buffer = nullptr;
  second->subpictures_available = 0;
  // Delivery pointers of the primary name its buffers, not the secondary's.
  second->frame_buffer = nullptr;
  second->coded_frame = nullptr;
  second->coded_frame_length = 0;
  reset_session_state(second);
  second->open = 1;
  // The input is listed again and the chosen streams bound to the secondary's parsers; only
  // what the primary kept is read.
  const std::uint32_t video = primary->video_available;
  const std::uint32_t audio = primary->audio_available;
  clear_stream_lists(second);
  if (open_input(second) != 0) {
    mpegInCloseSecondary(second);
    return 1;
  }
  close_info_bufstream(second, &p->subpicture);
  second->subpictures_available = 0;
  if (!video || !second->video_available) {
    close_info_bufstream(second, &p->video);
    second->video_available = 0;
  }
  if (!audio || !second->audio_available) {
    close_info_bufstream(second, &p->audio);
    second->audio_available = 0;
  }
  if ((second->video_available && openVideo(second, primary) != 0) ||
      (second->audio_available && openAudio(second, primary) != 0)) {
    mpegInCloseSecondary(second);
    return 1;
  }
  return 0;
}

}  // extern "C"
