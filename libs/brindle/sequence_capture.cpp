// SPDX-License-Identifier: GPL-2.0-or-later
#include "sequence_capture.h"

#include <cstdint>

#include "resources.h"
#include "session.h"
#include "stream_parser.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace sequence_capture_detail {

constexpr std::uint32_t kCaptureBytes = sizeof(mpeg_in_info::sequence_header);
constexpr std::uint64_t kSearchLimit = 5242880;

struct Capture {
  mpeg_in_info* record;
  stream_parser* parser;
  std::uint32_t held = 0;

  bool stopped() const { return parser->error || parser->end_flag; }
  // Takes bytes from the stream until `count` are held (or the stream ends).
  void takeUpTo(std::uint32_t count) {
    while (held < count && held < kCaptureBytes) {
      record->sequence_header[held++] = static_cast<std::uint8_t>(Read_Bits(record, parser, 8));
    }
  }
};

int captureMpeg(mpeg_in_info* r, stream_parser* p) {
  if (Find_Start_Code(r, p, 0xFFFFFFFFu, 0x000001B3u) == 0) {
    report_error(r, "Unable to find sequence header");
    return 1;
  }
  Capture c{r, p};
  c.takeUpTo(12);
  bool nonIntra = (r->sequence_header[11] & 1u) != 0;
  if (r->sequence_header[11] & 2u) {
    c.takeUpTo(12 + 64);
    nonIntra = (r->sequence_header[75] & 1u) != 0;
  }
  if (nonIntra) c.takeUpTo(c.held + 64);
  // Stuffing after the header is passed over up to the next start code.
  if (Peek_Bits(p, 32) == 0) Find_Start_Code(r, p, kAnyStartCodeMask, kAnyStartCode);
  c.takeUpTo(kCaptureBytes);
  if (r->priv->kinds.vro) {
    // Recordings of this kind are decoded at 704 pixels a row, whatever their header says.
    r->sequence_header[4] = 0x2C;
    r->sequence_header[5] &= 0x0F;
  }
  return 0;
}

int captureH264(mpeg_in_info* r, stream_parser* p) {
  for (;;) {
    if (Find_Start_Code(r, p, 0xFFFFFFFFu, 0x00000001u) == 0) {
      report_error(r, "Unable to find sequence parameters");
      return 1;
    }
    Skip_Bits(r, p, 32);
    if ((Peek_Bits(p, 8) & 0x1Fu) == 7) break;
  }
  Capture c{r, p};
  r->sequence_header[0] = 0;
  r->sequence_header[1] = 0;
  r->sequence_header[2] = 0;
  r->sequence_header[3] = 1;
  c.held = 4;
  c.takeUpTo(kCaptureBytes);
  return 0;
}

}  // namespace sequence_capture_detail

using namespace sequence_capture_detail;

int read_sequence_header(mpeg_in_info* record) {
  stream_parser* p = &record->priv->video;
  Reset_Parser(record, p, 0);
  if (p->error) {
    report_error(record, "Unable to find sequence header");
    return 1;
  }
  const int result = record->h264 ? captureH264(record, p) : captureMpeg(record, p);
  if (result != 0) return result;
  record->sequence_header_length = kCaptureBytes;
  return 0;
}

int start_video_search(mpeg_in_info* record) {
  stream_parser* p = &record->priv->video;
  Reset_Parser(record, p, 0);
  p->stop_position = kSearchLimit;
  const bool found = !p->error && Get_Next_Header(record, HeaderMode::Sequence) == 0;
  p->stop_position = 0;
  if (found) return 0;
  report_error(record, "No sequence header found, unknown file type");
  return 1;
}

}  // namespace quillion::brindle
