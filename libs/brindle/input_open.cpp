// SPDX-License-Identifier: GPL-2.0-or-later
#include "input_open.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "bufstream.h"
#include "frameworks.h"
#include "ifo_find.h"
#include "resources.h"
#include "session.h"

namespace quillion::brindle {
namespace input_open_detail {

std::uint32_t nullUsable(bufstream*) {
  return 0;
}
std::uint8_t* nullRequest(bufstream*, std::uint32_t) {
  return nullptr;
}
std::uint32_t nullConfirm(bufstream*, std::uint32_t) {
  return 0;
}
std::uint32_t nullCopy(bufstream*, std::uint8_t*, std::uint32_t) {
  return 0;
}
std::uint32_t nullChunk(bufstream*) {
  return 0;
}
std::int32_t nullAux(bufstream*, std::uint32_t, std::uint32_t, void*, std::uint32_t) {
  return -1;
}
int nullSplit(bufstream*) {
  return -1;
}
int nullDone(bufstream* bs, int /*abort*/) {
  std::free(bs->implementation);
  bs->implementation = nullptr;
  return 0;
}
void nullFree(bufstream* bs) {
  if (bs->implementation) nullDone(bs, 0);
  std::free(bs);
}

// Which kind of input the name's extension says; only an exact lower- or upper-case
// extension that ends the name counts.
file_kinds kindsOf(const char* name) {
  file_kinds k{};
  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  if (!dot) return k;
  const auto is = [dot](const char* lower, const char* upper) {
    return std::strcmp(dot, lower) == 0 || std::strcmp(dot, upper) == 0;
  };
  k.ifo = is(".ifo", ".IFO");
  k.mzl = is(".mzl", ".MZL");
  k.vro = is(".vro", ".VRO");
  k.vob = is(".vob", ".VOB");
  k.mxf = is(".mxf", ".MXF");
  return k;
}

struct KindSlots {
  stream_table_entry* table;
  std::uint32_t capacity;
  std::uint32_t* count;
  std::uint32_t* mask;
  std::uint32_t* pids;  // transport-stream PIDs by table index, or null
  std::uint32_t pidCapacity;
};

// Adds a stream to its table; a stream beyond the table's capacity is left out.
void addStream(mpeg_in_info* r, const KindSlots& k, const stream_table_entry& e,
               std::uint32_t maskBit) {
  const std::uint32_t index = *k.count;
  if (index >= k.capacity) return;
  k.table[index] = e;
  *k.mask |= 1u << (maskBit % 32);
  if (r->system_stream_type >= 3 && k.pids && index < k.pidCapacity) k.pids[index] = e.pid;
  *k.count = index + 1;
}

// A chosen stream number below 1 or beyond the count becomes 1.
std::uint32_t chosen(std::uint32_t* field, std::uint32_t count) {
  if (*field < 1 || *field > count) *field = 1;
  return *field - 1;
}

void bindEntry(stream_parser* p, const stream_table_entry& e) {
  p->program = e.program;
  p->stream = e.stream;
}

// Where either demultiplexer reads its bytes: the caller's split input, the caller's own
// I/O functions, or (neither set) the named file itself.
template <class Settings>
void setByteSource(Settings& settings, mpeg_in_info* r, bool callerIoSize) {
  if (r->priv->split_mode) {
    settings.split_mode = 1;
    settings.split_seek = r->split_seek;
    settings.split_read = r->split_read;
    settings.split_context = r;
    settings.data_size = r->file_size;
  } else if (r->caller_io) {
    settings.caller_io = 1;
    settings.io_open = r->io_open;
    if constexpr (requires { settings.io_reserved; }) settings.io_reserved = r->io_reserved;
    settings.io_seek = r->io_seek;
    settings.io_read = r->io_read;
    settings.io_close = r->io_close;
    settings.io_context = r;
    if (callerIoSize) settings.data_size = r->file_size;
  }
}

int openWithDaskin(mpeg_in_info* r, const char* name) {
  mpeg_in_private* p = r->priv;
  if (load_daskin(r) != 0) {
    report_error(r, "Unable to load MPEG demuxer");
    return 1;
  }
  demux_settings settings{};
  settings.dvd_menu = static_cast<std::int32_t>(r->dvd_flag);
  settings.dvd_title = static_cast<std::int32_t>(r->dvd_title);
  settings.dvd_pgc = static_cast<std::int32_t>(r->dvd_program_chain);
  settings.dvd_angle = static_cast<std::int32_t>(r->dvd_angle);
  settings.probe_budget_mib = static_cast<std::int32_t>(r->probe_size_mib);
  settings.probe_stop_mode = static_cast<std::int32_t>(r->probe_stop_mode);
  setByteSource(settings, r, /*callerIoSize=*/true);
  p->demux = p->daskin.New(&get_rc_ex_answer, r, &settings);
  if (!p->demux) return 1;
  if (p->daskin.Open(p->demux, 0, p->split_mode ? nullptr : name) != 0) return 1;
  file_info_struct info{};
  p->daskin.GetFileInfo(p->demux, &info);
  r->dvd_title_count = static_cast<std::uint32_t>(info.dvd_titles);
  r->dvd_file_word = static_cast<std::uint32_t>(info.dvd_angles);
  if (!p->split_mode) {
    r->file_size = info.size;
    p->stream_size = info.size;
  }
  r->system_stream_type = static_cast<std::uint32_t>(info.system_stream_type);
  p->video_start = 0;
  p->video_end = info.size > 0 ? info.size - 1 : 0;

  bool ac3Probed = false;
  bool ac3Absent = false;
  stream_tables& t = p->streams;
  for (std::int32_t prog = 0; prog < info.programs; ++prog) {
    program_info_struct program{};
    if (p->daskin.GetProgramInfo(p->demux, &program, prog) != 0) continue;
    for (std::int32_t s = 0; s < program.streams; ++s) {
      stream_info_struct stream{};
      if (p->daskin.GetStreamInfo(p->demux, &stream, prog, s) != 0) continue;
      const stream_table_entry e{static_cast<std::uint32_t>(prog), static_cast<std::uint32_t>(s),
                                 stream.pid, stream.stream_id, stream.sub_stream_id};
      const bool ts = r->system_stream_type >= 3;
      switch (stream.kind) {
        case DEMUX_KIND_VIDEO:
          addStream(r,
                    {t.video, kVideoStreams, &r->video_stream_count, &r->video_stream_mask,
                     r->video_pids, 16},
                    e, ts ? r->video_stream_count : e.stream_id);
          r->video_available = 1;
          break;
        case DEMUX_KIND_MPEG_AUDIO:
          addStream(r,
                    {t.mpeg_audio, kMpegAudioStreams, &r->audio_stream_count, &r->audio_stream_mask,
                     r->audio_pids, 32},
                    e, ts ? r->audio_stream_count : e.stream_id);
          r->audio_available = 1;
          break;
        case DEMUX_KIND_AC3: {
          if (!ac3Probed && !p->split_mode && !p->info_mode) {
            ac3Probed = true;
            ac3Absent = load_kestrin(r) != 0;
            unload_kestrin(r);
          }
          if (ac3Absent) break;
          const std::uint32_t index = r->ac3_stream_count;
          addStream(r,
                    {t.ac3, kAc3Streams, &r->ac3_stream_count, &r->ac3_stream_mask, r->ac3_pids, 8},
                    e, ts || e.sub_stream_id == 0 ? index : e.sub_stream_id);
          r->audio_available = 1;
          break;
        }
        case DEMUX_KIND_LPCM:
          addStream(r,
                    {t.lpcm, kLpcmStreams, &r->lpcm_stream_count, &r->lpcm_stream_mask, nullptr, 0},
                    e, ts ? r->lpcm_stream_count : e.sub_stream_id);
          r->audio_available = 1;
          break;
        case DEMUX_KIND_AES3:
          addStream(
              r,
              {t.aes3, kAes3Streams, &r->aes3_stream_count, &r->aes3_stream_mask, r->aes3_pids, 8},
              e, r->aes3_stream_count);
          r->audio_format = 10;
          r->audio_available = 1;
          break;
        case DEMUX_KIND_SUB_88:
          addStream(
              r, {t.sub88, kSubStreams, &r->sub88_stream_count, &r->sub88_stream_mask, nullptr, 0},
              e, ts ? r->sub88_stream_count : e.sub_stream_id - 0x88u);
          r->audio_available = 1;
          break;
        case DEMUX_KIND_SUB_90:
          addStream(
              r, {t.sub90, kSubStreams, &r->sub90_stream_count, &r->sub90_stream_mask, nullptr, 0},
              e, ts ? r->sub90_stream_count : e.sub_stream_id - 0x90u);
          r->audio_available = 1;
          break;
        case DEMUX_KIND_SUBPICTURE:
          addStream(r,
                    {t.subpicture, kSubpictureStreams, &r->subpicture_stream_count,
                     &r->subpicture_stream_mask, nullptr, 0},
                    e, ts ? r->subpicture_stream_count : e.sub_stream_id);
          r->subpictures_available = 1;
          break;
        default:
          break;
      }
    }
  }
  return 0;
}

int openWithVarlow(mpeg_in_info* r, const char* name) {
  mpeg_in_private* p = r->priv;
  if (load_varlow(r) != 0) {
    report_error(r, "Unable to load MXF demuxer");
    return 1;
  }
  mxf_settings settings{};
  settings.probe_size_mib = static_cast<std::int32_t>(r->probe_size_mib);
  setByteSource(settings, r, /*callerIoSize=*/false);
  const varlow_functions& v = p->varlow;
  p->mxf_demux = v.New(&get_rc_ex_answer, r, &settings);
  if (!p->mxf_demux) return 1;
  if (v.Open(p->mxf_demux, 0, p->split_mode ? nullptr : name) != 0) return 1;
  mxf_file_info info{};
  v.GetFileInfo(p->mxf_demux, &info);
  if (!p->split_mode) {
    r->file_size = info.size;
    p->stream_size = info.size;
  }
  r->system_stream_type = info.system_stream_type;
  r->dvd_title_count = info.words[0];
  r->dvd_file_word = info.words[1];
  p->video_start = 0;
  p->video_end = info.size > 0 ? info.size - 1 : 0;
  stream_tables& t = p->streams;
  for (std::uint32_t n = 0; n < info.streams; ++n) {
    mxf_stream_info stream{};
    if (v.GetStreamInfo(p->mxf_demux, &stream, static_cast<std::int32_t>(n)) != 0) continue;
    // Entries take the next free place of their table, so the chosen stream numbers count
    // the streams of one kind.
    const stream_table_entry e{0, n, 0, static_cast<std::uint8_t>(stream.identifier), 0};
    if (stream.kind == MXF_KIND_VIDEO) {
      addStream(r,
                {t.video, kVideoStreams, &r->video_stream_count, &r->video_stream_mask,
                 r->video_pids, 16},
                e, stream.identifier);
      r->video_available = 1;
    } else if (stream.kind == MXF_KIND_AES3_ELEMENT || stream.kind == MXF_KIND_PCM) {
      if (r->aes3_stream_count >= kAes3Streams) continue;
      addStream(
          r, {t.aes3, kAes3Streams, &r->aes3_stream_count, &r->aes3_stream_mask, r->aes3_pids, 8},
          e, r->aes3_stream_count);
      r->audio_format = stream.kind == MXF_KIND_AES3_ELEMENT ? 11 : 12;
      r->audio_channels = stream.channels;
      r->bits_per_sample = stream.bits_per_sample;
      r->sample_rate = stream.sample_rate;
      r->audio_available = 1;
    }
  }
  if (info.note_code == MXF_INFO_NOTE_CODE && info.note_value != 0 && info.note_companion != 0) {
    p->mxf_note[0] = info.note_value;
    p->mxf_note[1] = info.note_companion;
  }
  return 0;
}

void chooseVideo(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if (!p->external_frame_buffer && r->fourcc == 0 && (p->options & 0xBu) == 0)
    r->video_available = 0;
  if (!r->video_available || r->video_stream_count == 0) {
    r->video_available = 0;
    r->subpictures_available = 0;
    return;
  }
  bindEntry(&p->video, p->streams.video[chosen(&r->chosen_video_stream, r->video_stream_count)]);
  if (open_info_bufstream(r, &p->video) != 0) {
    r->video_available = 0;
    r->subpictures_available = 0;
    return;
  }
  p->video.system_stream_type = r->system_stream_type;
  if (!r->subpictures_available || r->subpicture_stream_count == 0) {
    r->subpictures_available = 0;
    return;
  }
  bindEntry(
      &p->subpicture,
      p->streams.subpicture[chosen(&r->chosen_subpicture_stream, r->subpicture_stream_count)]);
  if (open_info_bufstream(r, &p->subpicture) != 0) r->subpictures_available = 0;
}

void chooseAudio(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if ((p->options & 4u) == 0) {
    r->audio_available = 0;
    return;
  }
  const stream_table_entry* e = nullptr;
  stream_tables& t = p->streams;
  if (r->audio_stream_count) {
    e = &t.mpeg_audio[chosen(&r->chosen_audio_stream, r->audio_stream_count)];
  } else if (r->lpcm_stream_count) {
    e = &t.lpcm[chosen(&r->chosen_audio_stream, r->lpcm_stream_count)];
  } else if (r->ac3_stream_count) {
    e = &t.ac3[chosen(&r->chosen_audio_stream, r->ac3_stream_count)];
  } else if (r->aes3_stream_count) {
    e = &t.aes3[chosen(&r->chosen_audio_stream, r->aes3_stream_count)];
    p->audio_aes3 = 1;
  }
  if (!e) {
    r->audio_available = 0;
    return;
  }
  bindEntry(&p->audio, *e);
  if (open_info_bufstream(r, &p->audio) != 0) {
    r->audio_available = 0;
    return;
  }
  p->audio.system_stream_type = r->system_stream_type;
}

}  // namespace input_open_detail

using namespace input_open_detail;

bufstream* info_null_bufstream() {
  auto* bs = static_cast<bufstream*>(std::calloc(1, sizeof(bufstream)));
  if (!bs) return nullptr;
  bs->implementation = std::calloc(1, 1);
  if (!bs->implementation) {
    std::free(bs);
    return nullptr;
  }
  bs->usable_bytes = &nullUsable;
  bs->request = &nullRequest;
  bs->confirm = &nullConfirm;
  bs->copybytes = &nullCopy;
  bs->chunksize = &nullChunk;
  bs->auxinfo = &nullAux;
  bs->split = &nullSplit;
  bs->done = &nullDone;
  bs->free = &nullFree;
  return bs;
}

int New_Mxf_Stream_Parser(mpeg_in_info* r, stream_parser* parser) {
  mpeg_in_private* p = r->priv;
  mxf_parser_settings settings{};
  settings.buffer_size = static_cast<std::int32_t>(p->parser_buffer_size);
  const std::int32_t number = p->varlow.NewParser(p->mxf_demux, &settings);
  if (number == 0) {
    report_error(r, "Unable to create a parser object");
    return 1;
  }
  parser->demux_parser = number;
  mxf_stream_settings stream{};
  stream.stream = static_cast<std::int32_t>(parser->stream);
  stream.output = parser->demux_output;
  return p->varlow.AddStream(p->mxf_demux, number, &stream) != 0 ? 1 : 0;
}

int New_Demux_Stream_Parser(mpeg_in_info* r, stream_parser* parser) {
  mpeg_in_private* p = r->priv;
  demux_parser_settings settings{};
  settings.buffer_size = static_cast<std::int32_t>(p->parser_buffer_size);
  if (p->kinds.ifo) {
    settings.pci_callback = &Nav_Copy_First;
    settings.dsi_callback = &Nav_Copy_Second;
    settings.callback_context = parser;
  }
  const std::int32_t number = p->daskin.NewParser(p->demux, &settings);
  if (number == 0) {
    report_error(r, "Unable to create a parser object");
    return 1;
  }
  parser->demux_parser = number;
  demux_stream_settings stream{};
  stream.program = static_cast<std::int32_t>(parser->program);
  stream.stream = static_cast<std::int32_t>(parser->stream);
  stream.output = parser->demux_output;
  return p->daskin.AddStream(p->demux, number, &stream) != 0 ? 1 : 0;
}

void Free_Stream_Parser(mpeg_in_info* r, stream_parser* parser) {
  mpeg_in_private* p = r->priv;
  if (parser->demux_parser == 0) return;
  if (p->demux && p->daskin.FreeParser) p->daskin.FreeParser(p->demux, parser->demux_parser);
  if (p->mxf_demux && p->varlow.FreeParser)
    p->varlow.FreeParser(p->mxf_demux, parser->demux_parser);
  parser->demux_parser = 0;
}

int open_info_bufstream(mpeg_in_info* r, stream_parser* parser) {
  parser->demux_output = info_null_bufstream();
  if (!parser->demux_output) {
    report_error(r, "Unable to create a demuxer info bufstream object");
    return 1;
  }
  mpeg_in_private* p = r->priv;
  const bool bound = p->kinds.mxf ? p->mxf_demux && New_Mxf_Stream_Parser(r, parser) == 0
                                  : p->demux && New_Demux_Stream_Parser(r, parser) == 0;
  if (!bound) {
    close_info_bufstream(r, parser);
    return 1;
  }
  return 0;
}

void close_info_bufstream(mpeg_in_info* r, stream_parser* parser) {
  Free_Stream_Parser(r, parser);
  if (bufstream* bs = parser->demux_output) {
    parser->demux_output = nullptr;
    bs->done(bs, 1);
    bs->free(bs);
  }
}

void close_demuxer(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if (p->demux) {
    if (p->daskin.Close) p->daskin.Close(p->demux);
    if (p->daskin.Free) p->daskin.Free(p->demux);
    p->demux = nullptr;
  }
  if (p->mxf_demux) {
    if (p->varlow.Close) p->varlow.Close(p->mxf_demux);
    if (p->varlow.Free) p->varlow.Free(p->mxf_demux);
    p->mxf_demux = nullptr;
  }
  unload_daskin(r);
  unload_varlow(r);
  r->open = 0;
}

int open_input(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  p->streams = stream_tables{};
  p->audio_aes3 = 0;
  const char* name = p->file_name;
  if (!p->split_mode) {
    if (name[0] == '\0') {
      report_error(r, "No filename specified");
      return 1;
    }
    p->kinds = kindsOf(name);
  }
  if (p->kinds.mxf ? openWithVarlow(r, name) != 0 : openWithDaskin(r, name) != 0) return 1;
  r->open = 1;
  chooseVideo(r);
  chooseAudio(r);
  return p->kinds.ifo ? FindStreams_IFO(r) : 0;
}

}  // namespace quillion::brindle
