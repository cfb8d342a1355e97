// SPDX-License-Identifier: GPL-2.0-or-later
// The private part of a session: everything the library keeps for itself behind the public
// record. It is plain data (a zeroed block is its empty state), because it lives either in
// the library's own session block or in the bytes a caller leaves after its public record.
#pragma once

#include <cstdint>
#include <type_traits>

#include "brindle.h"
#include "daskin.h"
#include "framework_loader.h"
#include "gop_buffers.h"
#include "stream_parser.h"
#include "varlow.h"

namespace quillion::brindle {

// The caller's services, resolved once per session.
struct resource_set {
  std::uint32_t attached;
  mpeg_get_rc get_rc;
  mpeg_malloc_fn malloc_fn;
  mpeg_free_fn free_fn;
  mpeg_printf_fn err_printf;
  mpeg_prg_printf_fn prg_printf;
  mpeg_printf_fn wrn_printf;
  mpeg_printf_fn inf_printf;
  mpeg_in_progress_fn progress;
  mpeg_in_prompt_index_mode_fn prompt_index_mode;
};

// The demultiplexer's functions, bound by name when it is loaded.
struct daskin_functions {
  decltype(&mpegDemuxNew) New;
  decltype(&mpegDemuxOpen) Open;
  decltype(&mpegDemuxGetFileInfo) GetFileInfo;
  decltype(&mpegDemuxGetProgramInfo) GetProgramInfo;
  decltype(&mpegDemuxGetStreamInfo) GetStreamInfo;
  decltype(&mpegDemuxNewParser) NewParser;
  decltype(&mpegDemuxAddStream) AddStream;
  decltype(&mpegDemuxSeek) Seek;
  decltype(&mpegDemuxSleepParser) SleepParser;
  decltype(&mpegDemuxWakeParser) WakeParser;
  decltype(&mpegDemuxFreeParser) FreeParser;
  decltype(&mpegDemuxClose) Close;
  decltype(&mpegDemuxFree) Free;
};

// The MXF demultiplexer's functions, bound by name when it is loaded.
struct varlow_functions {
  mxf_new_fn New;
  mxf_free_fn Free;
  mxf_open_fn Open;
  mxf_close_fn Close;
  mxf_get_file_info_fn GetFileInfo;
  mxf_get_stream_info_fn GetStreamInfo;
  mxf_new_parser_fn NewParser;
  mxf_free_parser_fn FreeParser;
  mxf_add_stream_fn AddStream;
  mxf_seek_fn Seek;
  mxf_parser_fn WakeParser;
  mxf_parser_fn SleepParser;
};

// One framework loaded by name and the functions bound from it (null: not bound).
struct framework_binding {
  bundle_lib lib;
  void* functions[18];
};

// One stream of the demultiplexer's lists.
struct stream_table_entry {
  std::uint32_t program;
  std::uint32_t stream;
  std::uint32_t pid;
  std::uint8_t stream_id;
  std::uint8_t sub_stream_id;
};

// Capacities of the stream tables, by kind.
constexpr std::uint32_t kVideoStreams = 16;
constexpr std::uint32_t kMpegAudioStreams = 32;
constexpr std::uint32_t kAc3Streams = 8;
constexpr std::uint32_t kAes3Streams = 8;
constexpr std::uint32_t kSubStreams = 8;
constexpr std::uint32_t kLpcmStreams = 8;
constexpr std::uint32_t kSubpictureStreams = 32;

struct stream_tables {
  stream_table_entry video[kVideoStreams];
  stream_table_entry mpeg_audio[kMpegAudioStreams];
  stream_table_entry ac3[kAc3Streams];
  stream_table_entry aes3[kAes3Streams];
  stream_table_entry sub88[kSubStreams];
  stream_table_entry sub90[kSubStreams];
  stream_table_entry lpcm[kLpcmStreams];
  stream_table_entry subpicture[kSubpictureStreams];
};

// The kind of input, from the file name's extension.
struct file_kinds {
  std::uint32_t ifo;
  std::uint32_t mzl;
  std::uint32_t vro;
  std::uint32_t vob;
  std::uint32_t mxf;
};

struct index_chunk {
  void* data;
  std::uint32_t count;
  index_chunk* next;
  index_chunk* previous;
};

struct picture_buffer {
  std::uint8_t* planes[3];
};

// What the audio header readers keep about the chosen audio stream: the last header read
// and where it stood, the reference facts of the first one, and the AES3 carriage.
struct audio_header_state {
  std::uint32_t first_header_word;  // the reference of every later match
  std::uint32_t header_word;
  std::uint64_t header_byte_position;
  std::uint64_t header_packet_position;
  double average_frame_bytes;
  std::uint32_t frame_ready;
  std::uint32_t byte_swapped;
  std::uint32_t constant_bit_rate;  // headers must keep the first bit-rate index
  std::uint64_t search_start;       // where a search of the audio data restarts
  std::uint32_t aes3_kind;          // 10, 11 or 12
  std::uint32_t sample_group_bytes;
  std::uint32_t payload_bytes;
};

// What an unchanged file and unchanged choices look like at a reopen.
struct reuse_identity {
  std::uint32_t valid;  // set by a successful open by name
  std::int64_t mtime_ns;
  std::uint64_t size;
  std::uint32_t options[6];
};

// How pictures and audio frames are decoded, chosen at every open: from whole GOPs (use all
// frames, and every secondary session), straight into the caller's frame buffer without
// reordering, or in display order through the two internal picture buffers.
enum class video_decode_handler : std::uint32_t { none, whole_gops, no_reorder, reorder };
enum class audio_decode_handler : std::uint32_t { none, whole_gops, sequential };

struct decode_handlers {
  video_decode_handler video;
  audio_decode_handler audio;
};

}  // namespace quillion::brindle

struct mpeg_in_private {
  quillion::brindle::index_chunk* video_index;
  quillion::brindle::index_chunk* audio_index;
  std::uint32_t index_mode;
  std::uint32_t inside_block;
  quillion::brindle::picture_buffer pictures[2];
  stream_parser video;
  stream_parser audio;
  stream_parser subpicture;
  bufstream* audio_decoder;
  bufstream* video_decoder;
  bufstream* subpicture_decoder;
  quillion::brindle::decode_handlers handlers;
  char file_name[1024];
  quillion::brindle::reuse_identity identity;
  std::uint32_t external_frame_buffer;
  std::uint32_t caller_owned;
  std::uint32_t use_all_frames;
  std::uint32_t secondary;
  mpeg_in_private* home_private;  // a secondary session's own private part, given back at close
  std::uint32_t asleep;
  std::uint32_t stop;  // set by the progress callback to end a scan
  std::uint32_t options;
  std::uint32_t options2;
  std::uint32_t parser_buffer_size;
  std::uint32_t private_option;
  quillion::brindle::framework_binding frameworks[6];
  quillion::brindle::daskin_functions daskin;
  quillion::brindle::varlow_functions varlow;
  quillion::brindle::resource_set resources;
  demux_context* demux;
  mxf_context* mxf_demux;
  std::uint32_t mxf_note[2];  // the file information's note value and its companion
  quillion::brindle::file_kinds kinds;
  quillion::brindle::stream_tables streams;
  std::uint32_t split_mode;
  std::uint32_t info_mode;
  std::uint32_t audio_aes3;
  // Video positions of the input: the first byte and the last.
  std::uint64_t video_start;
  std::uint64_t video_end;
  // File facts and the header parser's positions.
  std::uint64_t stream_size;
  std::uint64_t header_start_position;
  std::uint64_t header_packet_position;
  std::int64_t picture_time_stamp;
  std::uint32_t resize;
  // Frames the header parsers expect the video to hold (0: no expectation), the audio frame
  // buffer and the running audio time of the scans (-1.0 before the first frame).
  std::uint32_t expected_frames;
  // The GOP buffers of whole-GOP decoding, the current one, and the fifo of finished GOPs.
  quillion::brindle::gop_record gops[2];
  std::uint32_t current_gop;
  bufstream* gop_fifo;
  // The DVD information file of an IFO input: its kind, bytes, title-set number and the
  // eight level words of its parental management table.
  std::uint32_t ifo_kind;
  std::uint8_t* ifo_data;
  std::size_t ifo_size;
  std::uint32_t ifo_title_set;
  std::uint16_t ifo_words[8];
  std::uint8_t* audio_frame_buffer;
  double audio_time;
  // Stream arithmetic of the audio time search.
  double ticks_per_sample;
  double ticks_per_frame;
  quillion::brindle::audio_header_state audio_header;
};

static_assert(std::is_trivially_copyable_v<mpeg_in_private>);
static_assert(std::is_standard_layout_v<mpeg_in_private>);
static_assert(std::is_standard_layout_v<mpeg_in_info>);
static_assert(sizeof(mpeg_in_info) % alignof(mpeg_in_private) == 0,
              "the private part follows the public part directly");
