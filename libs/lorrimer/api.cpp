// SPDX-License-Identifier: GPL-2.0-or-later
// Lorrimer's exported functions. A decoder object lives until its free slot is called.
#include <memory>
#include <new>

#include "lorrimer.h"
#include "mpeg_audio_probe.h"
#include "mpeg_video_facts.h"
#include "subpicture_decoder.h"
#include "video_decoder.h"

using namespace quillion;

bufstream* open_MPEGin_Video_stream_ex(mpeg_get_rc /*get_rc*/, int32_t /*reserved1*/,
                                       int32_t /*reserved2*/) {
  auto facts =
      std::unique_ptr<lorrimer::MpegVideoFacts>(new (std::nothrow) lorrimer::MpegVideoFacts());
  if (!facts || !facts->valid()) return nullptr;
  auto* d = new (std::nothrow) decoder::VideoDecoder(std::move(facts));
  return d ? d->stream() : nullptr;
}

bufstream* open_MPEGin_Audio_stream_ex(mpeg_get_rc /*get_rc*/, int32_t /*reserved1*/,
                                       int32_t /*reserved2*/) {
  auto* d = new (std::nothrow) decoder::AudioDecoder(lorrimer::kMpegAudio);
  return d ? d->stream() : nullptr;
}

bufstream* open_MPEGin_Subpic_stream(mpeg_get_rc /*get_rc*/, int32_t ntsc, int32_t /*reserved*/) {
  auto* d = new (std::nothrow) lorrimer::SubpictureDecoder(ntsc == 1);
  return d ? d->stream() : nullptr;
}
