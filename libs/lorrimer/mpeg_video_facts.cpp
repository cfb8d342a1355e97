// SPDX-License-Identifier: GPL-2.0-or-later
#include "mpeg_video_facts.h"

#include <cstring>

#include "daskin.h"
#include "session.h"
#include "stream_parser.h"
#include "video_headers.h"

namespace quillion::lorrimer {
namespace mpeg_video_facts_detail {

MpegVideoFacts* factsOf(bufstream* bs) {
  return static_cast<MpegVideoFacts*>(bs->implementation);
}

std::int32_t deliverUnit(bufstream* bs, std::uint32_t /*offset*/, std::uint32_t id, void* data,
                         std::uint32_t size) {
  if (id != DEMUX_CHUNK_INFO_ID || !data || size != sizeof(demux_chunk_info)) return 1;
  MpegVideoFacts* facts = factsOf(bs);
  demux_chunk_info chunk{};
  chunk.pts = -1;
  if (facts->delivered || !facts->unit) {
    chunk.end = 1;
  } else {
    chunk.data = facts->unit;
    chunk.length = facts->unitSize;
    facts->delivered = true;
  }
  std::memcpy(data, &chunk, sizeof chunk);
  return 0;
}

// Seeking the plug-in's parser only ever goes back to the start of the unit.
std::int32_t rewindUnit(demux_context* context, std::int32_t /*parser*/, std::uint32_t /*low*/,
                        std::uint32_t /*high*/) {
  reinterpret_cast<MpegVideoFacts*>(context)->delivered = false;
  return 0;
}

}  // namespace mpeg_video_facts_detail

using namespace mpeg_video_facts_detail;

MpegVideoFacts::MpegVideoFacts() : session_(mpegInNew(nullptr, nullptr)) {
  if (!session_) return;
  source_.implementation = this;
  source_.auxinfo = &deliverUnit;
  session_->quiet = 1;
  mpeg_in_private* priv = session_->priv;
  priv->video.demux_output = &source_;
  priv->video.demux_parser = 1;
  priv->demux = reinterpret_cast<demux_context*>(this);
  priv->daskin.Seek = &rewindUnit;
}

MpegVideoFacts::~MpegVideoFacts() {
  if (session_) mpegInFree(session_);
}

int MpegVideoFacts::parse(const std::uint8_t* data, std::uint32_t size, int mode) {
  unit = data;
  unitSize = size;
  delivered = false;
  session_->sequence_header_seen = 0;
  brindle::Reset_Parser(session_, &session_->priv->video, 0);
  const int result = brindle::Get_Next_Header(session_, static_cast<brindle::HeaderMode>(mode));
  unit = nullptr;
  unitSize = 0;
  return result;
}

bool MpegVideoFacts::takeHeader(const std::uint8_t* data, std::uint32_t size) {
  if (!session_) return false;
  session_->mpeg2 = 0;
  return parse(data, size, static_cast<int>(brindle::HeaderMode::Sequence)) == 0 &&
         session_->width > 0 && session_->height > 0;
}

AVCodecID MpegVideoFacts::codec() const {
  return session_ && session_->mpeg2 ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MPEG1VIDEO;
}

decoder::PictureRecords MpegVideoFacts::records() const {
  const mpeg_in_info& s = *session_;
  decoder::PictureRecords r;
  if (s.sequence_header_seen) r.events |= DECODER_STATUS_SEQUENCE;
  if (s.gop_header_seen) r.events |= DECODER_STATUS_GOP;
  r.sequence = {s.width,
                s.height,
                s.aspect_ratio_information,
                s.frame_rate_code,
                s.bit_rate_value,
                s.vbv_buffer_size_value,
                s.constrained_parameters_flag};
  r.gop = {s.drop_frame_flag,    s.time_code_hours, s.time_code_minutes, s.time_code_seconds,
           s.time_code_pictures, s.closed_gop,      s.broken_link};
  decoder_picture_info& p = r.picture;
  p.temporal_reference = s.temporal_reference;
  p.picture_coding_type = s.picture_coding_type;
  p.picture_coding_type_copy = s.picture_coding_type_copy;
  p.vbv_delay = s.vbv_delay;
  p.full_pel_forward_vector = s.full_pel_forward_vector;
  p.forward_f_code = s.forward_f_code;
  p.full_pel_backward_vector = s.full_pel_backward_vector;
  p.backward_f_code = s.backward_f_code;
  p.f_code[0] = s.f_code[0][0];
  p.f_code[1] = s.f_code[0][1];
  p.f_code[2] = s.f_code[1][0];
  p.f_code[3] = s.f_code[1][1];
  p.intra_dc_precision = s.intra_dc_precision;
  p.picture_structure = s.picture_structure;
  p.top_field_first = s.top_field_first;
  p.frame_pred_frame_dct = s.frame_pred_frame_dct;
  p.concealment_motion_vectors = s.concealment_motion_vectors;
  p.q_scale_type = s.q_scale_type;
  p.intra_vlc_format = s.intra_vlc_format;
  p.alternate_scan = s.alternate_scan;
  p.repeat_first_field = s.repeat_first_field;
  p.chroma_420_type = s.chroma_420_type;
  p.progressive_frame = s.progressive_frame;
  p.composite_display_flag = s.composite_display_flag;
  p.v_axis = s.v_axis;
  p.field_sequence = s.field_sequence;
  p.sub_carrier = s.sub_carrier;
  p.burst_amplitude = s.burst_amplitude;
  p.sub_carrier_phase = s.sub_carrier_phase;
  p.number_of_frame_centre_offsets = s.number_of_frame_centre_offsets;
  for (int i = 0; i < 3; ++i) {
    p.frame_centre_horizontal_offset[i] = s.frame_centre_horizontal_offset[i];
    p.frame_centre_vertical_offset[i] = s.frame_centre_vertical_offset[i];
  }
  p.load_intra_quantiser_matrix = s.load_intra_quantiser_matrix;
  p.load_non_intra_quantiser_matrix = s.load_non_intra_quantiser_matrix;
  p.load_chroma_intra_quantiser_matrix = s.load_chroma_intra_quantiser_matrix;
  p.load_chroma_non_intra_quantiser_matrix = s.load_chroma_non_intra_quantiser_matrix;
  return r;
}

std::optional<decoder::PictureRecords> MpegVideoFacts::describe(const std::uint8_t* data,
                                                                std::uint32_t size) {
  if (!session_) return std::nullopt;
  if (parse(data, size, static_cast<int>(brindle::HeaderMode::Picture)) != 0) return std::nullopt;
  return records();
}

decoder::PictureRecords MpegVideoFacts::fromFrame(const AVFrame& /*frame*/) {
  return records();
}

}  // namespace quillion::lorrimer
