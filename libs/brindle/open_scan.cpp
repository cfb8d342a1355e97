// SPDX-License-Identifier: GPL-2.0-or-later
#include "open_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classify.h"
#include "frame_buffers.h"
#include "input_open.h"
#include "resources.h"
#include "scan_services.h"
#include "sequence_capture.h"
#include "session.h"
#include "session_ops.h"
#include "stream_parser.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace open_scan_detail {

constexpr std::size_t kNameBytes = sizeof(mpeg_in_private::file_name);

enum class Verdict { Done, Again, Failed };

const open_services& services() {
  return installed_open_services();
}

bool optionBit(const mpeg_in_info* r, std::uint32_t bit) {
  return (r->priv->options >> bit & 1u) != 0;
}

void clearCounts(mpeg_in_info* r) {
  r->frame_count = 0;
  r->audio_samples = 0;
  r->audio_samples_low = 0;
}

void dropVideo(mpeg_in_info* r) {
  r->video_available = 0;
  r->subpictures_available = 0;
}

// Step of the video: counts the frames and, when enough were found, positions the stream at
// its first picture and makes the picture buffers. 1 when a full index build failed.
int scanVideo(mpeg_in_info* r, bool& shortOfFrames) {
  mpeg_in_private* p = r->priv;
  shortOfFrames = false;
  if (!r->video_available && !p->kinds.ifo) {
    close_info_bufstream(r, &p->video);
    close_info_bufstream(r, &p->subpicture);
    return 0;
  }
  Reset_Parser(r, &p->video, 0);
  if (p->index_mode) {
    if (services().build_video_index) services().build_video_index(r);
    if (p->video.error) return 1;
  } else if (services().count_video_quick) {
    services().count_video_quick(r, r->system_stream_type != 0);
  }
  const bool usable = r->usable_without_counts != 0;
  if (!usable && static_cast<std::uint32_t>(std::max(r->frame_count, 0)) < p->expected_frames) {
    shortOfFrames = true;
    return 0;
  }
  if (p->video.error || p->stop || (r->frame_count <= 0 && !usable)) return 0;
  Reset_Parser(r, &p->video, 0);
  if (Get_Next_Header(r, HeaderMode::Picture) != 0 ||
      alloc_frame_buffers(r, p->split_mode != 0) != 0)
    r->frame_count = 0;
  if (r->subpictures_available && start_subpicture(r) != 0) r->subpictures_available = 0;
  return 0;
}

// The way the samples of the chosen audio stream are counted, or nothing to drop it.
bool audioCountFor(const mpeg_in_info* r, audio_count& how) {
  const bool index = r->priv->index_mode != 0;
  const bool system = r->system_stream_type != 0;
  switch (r->audio_format) {
    case 1:
    case 2:
    case 5:
    case 6:
    case 7:
      // MPEG-2 low-sampling-frequency audio only in split mode.
      if (r->audio_format <= 2 && r->audio_id == 0 && r->audio_layer_bits != 0 &&
          !r->priv->split_mode)
        return false;
      how = index    ? audio_count::full_index
            : system ? audio_count::time_stamps
                     : audio_count::frames;
      return true;
    case 4:
      how = index ? audio_count::pcm_index : audio_count::pcm_time_search;
      return true;
    case 10:
    case 11:
    case 12:
      how = index ? audio_count::aes3_index : audio_count::aes3_count;
      return true;
    default:  // Layer III and formats without a reader
      return false;
  }
}

int scanAudio(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if (r->audio_available) {
    Reset_Parser(r, &p->audio, 0);
    if (!services().parse_audio_header || services().parse_audio_header(r) != 0)
      r->audio_available = 0;
  }
  if (r->audio_available) {
    p->audio_time = -1.0;
    audio_count how{};
    if (!audioCountFor(r, how)) {
      r->audio_available = 0;
    } else {
      if (services().count_audio) services().count_audio(r, how);
      const bool full = how == audio_count::full_index || how == audio_count::pcm_index ||
                        how == audio_count::aes3_index;
      if (full && p->audio.error) return 1;
      r->audio_samples_low = static_cast<std::uint32_t>(r->audio_samples);
      const std::uint32_t f = r->audio_format;
      if (r->audio_samples > 0 && optionBit(r, 2) && f != 4 && f != 10 && f != 11 &&
          alloc_audio_frame_buffer(r) != 0)
        r->audio_available = 0;
    }
  }
  if (!r->audio_available) close_info_bufstream(r, &p->audio);
  return 0;
}

// Whether the counts are enough; otherwise what the prompt policy makes of them.
Verdict judge(mpeg_in_info* r, bool shortOfFrames) {
  mpeg_in_private* p = r->priv;
  if (r->usable_without_counts) return Verdict::Done;
  const bool videoOk =
      !r->video_available || (!shortOfFrames && r->frame_count > 0 &&
                              static_cast<std::uint32_t>(r->frame_count) >= p->expected_frames);
  const bool audioOk = !r->audio_available || r->audio_samples > 0;
  if (videoOk && audioOk) return Verdict::Done;
  if (p->index_mode || p->kinds.ifo) {
    report_error(r, "Unable to find any audio or video data in input file");
    return Verdict::Failed;
  }
  if (r->index_mode_policy == 1) {
    r->full_scan_refused = 1;
    return Verdict::Failed;
  }
  if (r->index_mode_policy >= 2 && p->resources.prompt_index_mode() == 0) {
    r->full_scan_refused = 1;
    return Verdict::Failed;
  }
  p->index_mode = 1;
  return Verdict::Again;
}

// Creates the decoders of what is left; 0, or 1 when nothing can be decoded.
int createDecoders(mpeg_in_info* r) {
  if (r->video_available && r->fourcc != 0) {
    r->whole_frame_rate = static_cast<std::int64_t>(std::ceil(r->frame_rate));
    if (read_sequence_header(r) != 0 ||
        (services().create_video_decoder && services().create_video_decoder(r) != 0))
      dropVideo(r);
  }
  if (r->audio_available && optionBit(r, 2) && services().create_audio_decoder &&
      services().create_audio_decoder(r) != 0)
    r->audio_available = 0;
  if (!r->video_available && !r->audio_available) {
    report_error(r, "Unable to decode any audio or video data in input file");
    return 1;
  }
  return 0;
}

// What identifies the file and the choices of an open, for the reuse test.
bool identityOf(const mpeg_in_info* r, const char* name, reuse_identity& out) {
  struct stat st {};
  if (::stat(name, &st) != 0) return false;
  out.valid = 1;
  out.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  out.size = static_cast<std::uint64_t>(st.st_size);
  const std::uint32_t options[6] = {r->chosen_video_stream, r->chosen_audio_stream,
                                    r->identity_option,     r->chosen_subpicture_stream,
                                    r->probe_stop_mode,     r->probe_size_mib};
  std::memcpy(out.options, options, sizeof options);
  return true;
}

bool sameIdentity(const reuse_identity& a, const reuse_identity& b) {
  return a.valid && b.valid && a.mtime_ns == b.mtime_ns && a.size == b.size &&
         std::memcmp(a.options, b.options, sizeof a.options) == 0;
}

// Reopens the file of the last successful open without counting again; 0, or 1 with the
// session closed.
int reopenUnchanged(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  clear_stream_lists(r);
  p->external_frame_buffer = r->external_frame_buffer ? 1 : 0;
  p->split_mode = 0;
  if (open_input(r) != 0) {
    close_session(r);
    return 1;
  }
  if (r->video_available) {
    Reset_Parser(r, &p->video, 0);
    if (Get_Next_Header(r, HeaderMode::Picture) != 0 || alloc_frame_buffers(r, false) != 0 ||
        read_sequence_header(r) != 0 ||
        (services().create_video_decoder && services().create_video_decoder(r) != 0)) {
      close_session(r);
      return 1;
    }
    if (r->subpictures_available) {
      Reset_Parser(r, &p->subpicture, 0);
      if (p->subpicture.error) r->subpictures_available = 0;
    }
  }
  if (r->audio_available && optionBit(r, 2)) {
    if (alloc_audio_frame_buffer(r) != 0) {
      r->audio_available = 0;
    } else if (services().create_audio_decoder && services().create_audio_decoder(r) != 0) {
      close_session(r);
      return 1;
    }
  }
  if (!r->video_available && !r->audio_available) {
    report_error(r, "Unable to decode any audio or video data in input file");
    close_session(r);
    return 1;
  }
  return 0;
}

bool mayReuse(const mpeg_in_info* r, const char* name) {
  const mpeg_in_private* p = r->priv;
  if (p->file_name[0] == '\0' || p->kinds.mzl || !r->quick_scan || !p->identity.valid) return false;
  // Wishes a fresh open refuses are refused there, with its message.
  if (r->use_all_frames && r->external_frame_buffer) return false;
  if (name && std::strcmp(name, p->file_name) != 0) return false;
  reuse_identity now{};
  return identityOf(r, p->file_name, now) && sameIdentity(now, p->identity);
}

void freeSeparatePrivate(mpeg_in_info* r) {
  mpeg_in_private* p = r->priv;
  if (!p || p->inside_block) return;
  const mpeg_free_fn release = p->resources.free_fn;
  r->priv = nullptr;
  if (release)
    release(p);
  else
    session_free(nullptr, p);
}

}  // namespace open_scan_detail

using namespace open_scan_detail;

int start_subpicture(mpeg_in_info* r) {
  stream_parser* s = &r->priv->subpicture;
  // The seek already takes in the first chunk.
  Reset_Parser(r, s, 0);
  while (!s->error) {
    if (s->time_stamps[4] >= 0) {
      r->subpicture_time = static_cast<std::uint64_t>(s->time_stamps[4]);
      return 0;
    }
    if (s->end_flag) break;
    Load_Next_Chunk(r, s);
  }
  return 1;
}

int check_file_name(const mpeg_in_info* r) {
  const char* text = nullptr;
  if (!r->file_name || r->file_name[0] == '\0')
    text = "No filename specified";
  else if (std::strlen(r->file_name) >= kNameBytes)
    text = "Unable to handle filename length";
  if (!text) return 0;
  mpeg_printf_fn printer = nullptr;
  if (r->get_rc) printer = reinterpret_cast<mpeg_printf_fn>(r->get_rc("err_printf"));
  if (!printer) printer = r->err_printf;
  if (printer) printer("%s", text);
  return 1;
}

int open_and_scan(mpeg_in_info* r, open_mode mode) {
  if (r->open) {
    report_error(r, "An MPEG file is already open");
    return 1;
  }
  mpeg_in_private* p = r->priv;
  p->split_mode = mode == open_mode::split ? 1 : 0;
  if (prepare_session(r, false) != 0) return 1;
  if (open_input(r) != 0) return 1;
  for (;;) {
    // A repeated pass makes its buffers again.
    free_frame_buffers(r);
    clearCounts(r);
    bool shortOfFrames = false;
    if (scanVideo(r, shortOfFrames) != 0) return 1;
    if (!shortOfFrames && scanAudio(r) != 0) return 1;
    const Verdict verdict = judge(r, shortOfFrames);
    if (verdict == Verdict::Failed) return 1;
    if (verdict == Verdict::Done) break;
  }
  classify_stream(r);
  return createDecoders(r);
}

}  // namespace quillion::brindle

using namespace quillion::brindle;

extern "C" {

int32_t mpegInOpen(mpeg_in_info* record, const char* name) {
  if (!record || !record->priv) return 1;
  // A second open would take over what the open file still holds.
  if (record->open) {
    report_error(record, "An MPEG file is already open");
    return 1;
  }
  mpeg_in_private* p = record->priv;
  reset_session_state(record);
  if (!name && p->file_name[0] == '\0') {
    report_error(record, "No input file specified");
    return 1;
  }
  if (mayReuse(record, name) && reopenUnchanged(record) == 0) return 0;
  if (!name) name = p->file_name;
  if (name[0] == '\0') {
    report_error(record, "No filename specified");
    return 1;
  }
  if (std::strlen(name) >= kNameBytes) {
    report_error(record, "Unable to handle filename length");
    return 1;
  }
  if (name != p->file_name) std::memmove(p->file_name, name, std::strlen(name) + 1);
  p->identity = reuse_identity{};
  const int result = open_and_scan(record, open_mode::normal);
  if (result != 0) {
    p->file_name[0] = '\0';
    close_session(record);
    record->open = 0;
    return result;
  }
  reuse_identity identity{};
  if (identityOf(record, p->file_name, identity)) p->identity = identity;
  return 0;
}

int32_t mpegInOpenMPEG(mpeg_in_info* record) {
  if (!record || check_file_name(record) != 0) return 1;
  if (record->open) {
    report_error(record, "An MPEG file is already open");
    return 1;
  }
  if (alloc_private(record, record->get_rc) != 0) return 1;
  attach_resources(record, record->get_rc);
  mpeg_in_private* p = record->priv;
  std::memcpy(p->file_name, record->file_name, std::strlen(record->file_name) + 1);
  const int result = open_and_scan(record, open_mode::normal);
  if (result != 0) {
    close_session(record);
    record->open = 0;
    freeSeparatePrivate(record);
  }
  return result;
}

int32_t mpegInOpenPrimary(mpeg_get_rc get_rc, mpeg_in_info* record) {
  if (!record) return 1;
  record->get_rc = get_rc;
  return mpegInOpenMPEG(record);
}

void mpegInCloseMPEG(mpeg_in_info* record) {
  if (!record || !record->priv) return;
  close_session(record);
  freeSeparatePrivate(record);
}

int32_t mpegInGetInfo(mpeg_in_info* record) {
  if (!record) return 1;
  if (record->open) {
    report_error(record, "An MPEG file is already open");
    return 1;
  }
  if (check_file_name(record) != 0) return 1;
  if (alloc_private(record, record->get_rc) != 0) return 1;
  attach_resources(record, record->get_rc);
  mpeg_in_private* p = record->priv;
  std::memcpy(p->file_name, record->file_name, std::strlen(record->file_name) + 1);
  p->split_mode = 0;
  int result = prepare_session(record, true);
  if (result == 0) result = open_input(record);
  if (result == 0 && record->video_available) {
    Reset_Parser(record, &p->video, 0);
    if (services().probe_video_info && services().probe_video_info(record) != 0) {
      result = 1;
    } else {
      Get_Next_Header(record, HeaderMode::Picture);
      Get_Next_Header(record, HeaderMode::Sequence);
      Get_Next_Header(record, HeaderMode::Gop);
    }
  }
  if (result == 0 && record->audio_available) {
    Reset_Parser(record, &p->audio, 0);
    if (!services().parse_audio_header || services().parse_audio_header(record) != 0)
      record->audio_available = 0;
  }
  if (result == 0) classify_stream(record);
  close_session(record);
  record->open = 0;
  freeSeparatePrivate(record);
  return result;
}

}  // extern "C"
