// SPDX-License-Identifier: GPL-2.0-or-later
#include "gop_buffers.h"

#include <cmath>
#include <limits>

#include "bufstream.h"
#include "resources.h"
#include "session.h"

namespace quillion::brindle {

std::int32_t gop_buffer_size(const mpeg_in_info* r) {
  constexpr std::int32_t kDefault = 1048576;
  if (!(r->bit_rate > 0.0) || !(r->display_rate > 0.0)) return kDefault;
  const double perPicture = std::floor(r->bit_rate * 0.125 / r->display_rate);
  const double size = std::floor(perPicture * r->gop_length * 1.25);
  // A size the buffer's capacity cannot hold is no estimate either; the buffer grows anyway.
  if (!(size >= 1.0) || size > static_cast<double>(std::numeric_limits<std::int32_t>::max() / 2))
    return kDefault;
  return static_cast<std::int32_t>(size);
}

int Alloc_Gop_Buffers(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if (p->gops[0].data || p->gops[1].data) return 0;
  const std::int32_t size = gop_buffer_size(r);
  for (int i = 0; i < 2; ++i) {
    p->gops[i].data = static_cast<std::uint8_t*>(session_malloc(r, static_cast<std::size_t>(size)));
    if (!p->gops[i].data) {
      report_error(r, "Unable to create gop buffer %d", i);
      Free_Gop_Buffers(r);
      return 1;
    }
    p->gops[i].capacity = size;
  }
  // Room for eight whole records.
  p->gop_fifo = new_fifo_buf(8 * sizeof(gop_record), sizeof(gop_record) + 1);
  if (!p->gop_fifo) {
    report_error(r, "Unable to create gop fifo");
    Free_Gop_Buffers(r);
    return 1;
  }
  return 0;
}

void Free_Gop_Buffers(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  for (gop_record& g : p->gops) {
    session_free(r, g.data);
    g.data = nullptr;
    g.capacity = 0;
  }
  if (p->gop_fifo) free_fifo_buf(p->gop_fifo);
  p->gop_fifo = nullptr;
}

}  // namespace quillion::brindle
