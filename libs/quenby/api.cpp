// SPDX-License-Identifier: GPL-2.0-or-later
// Quenby's exported function. A decoder object lives until its free slot is called.
#include <memory>
#include <new>

#include "h264_facts.h"
#include "quenby.h"
#include "video_decoder.h"

using namespace quillion;

bufstream* open_h264in_Video_stream_ex(mpeg_get_rc /*get_rc*/, int32_t /*reserved1*/,
                                       int32_t /*reserved2*/) {
  auto facts = std::unique_ptr<quenby::H264Facts>(new (std::nothrow) quenby::H264Facts());
  if (!facts) return nullptr;
  auto* d = new (std::nothrow) decoder::VideoDecoder(std::move(facts));
  return d ? d->stream() : nullptr;
}
