// SPDX-License-Identifier: GPL-2.0-or-later
#include "frameworks.h"

#include <cstring>

#include "framework_loader.h"
#include "session.h"

namespace quillion::brindle {
namespace frameworks_detail {

struct FrameworkEntry {
  const char* name;
  std::uint32_t count;
  const char* functions[kMaxBoundNames];
};

constexpr FrameworkEntry kFrameworks[kFrameworkCount] = {
    {"Ostrell", 1, {"open_AACin_Audio_stream_ex"}},
    {"Kestrin", 1, {"open_AC3in_Audio_stream"}},
    {"Lorrimer",
     3,
     {"open_MPEGin_Audio_stream_ex", "open_MPEGin_Video_stream_ex", "open_MPEGin_Subpic_stream"}},
    {"Quenby", 1, {"open_h264in_Video_stream_ex"}},
    {"Daskin",
     18,
     {"mpegDemuxNew", "mpegDemuxFree", "mpegDemuxOpen", "mpegDemuxOpenW", "mpegDemuxClose",
      "mpegDemuxGetFileInfo", "mpegDemuxGetProgramInfo", "mpegDemuxGetStreamInfo",
      "mpegDemuxNewParser", "mpegDemuxFreeParser", "mpegDemuxAddStream", "mpegDemuxRemoveStream",
      "mpegDemuxSeek", "mpegDemuxPush", "mpegDemuxWakeParser", "mpegDemuxSleepParser",
      "mpegDemuxUpdateFilesize", "mpegDemuxSetFirstSplitRead"}},
    {"Varlow",
     17,
     {"mxfDemuxNew", "mxfDemuxFree", "mxfDemuxOpen", "mxfDemuxOpenW", "mxfDemuxClose",
      "mxfDemuxGetFileInfo", "mxfDemuxGetStreamInfo", "mxfDemuxNewParser", "mxfDemuxFreeParser",
      "mxfDemuxAddStream", "mxfDemuxRemoveStream", "mxfDemuxSeek", "mxfDemuxPush",
      "mxfDemuxWakeParser", "mxfDemuxSleepParser", "mxfDemuxUpdateFilesize",
      "mxfDemuxSetFirstSplitRead"}},
};

const FrameworkEntry& entry(Framework f) {
  return kFrameworks[static_cast<std::uint32_t>(f)];
}

framework_binding& binding(mpeg_in_info* session, Framework f) {
  return session->priv->frameworks[static_cast<std::uint32_t>(f)];
}

template <typename Fn>
Fn typed(void* function) {
  return reinterpret_cast<Fn>(function);
}

// The demultiplexer's functions the library calls, typed, from Daskin's binding.
void bindDaskinTable(mpeg_in_info* session) {
  void* const* f = binding(session, Framework::Daskin).functions;
  daskin_functions& d = session->priv->daskin;
  d.New = typed<decltype(d.New)>(f[0]);
  d.Free = typed<decltype(d.Free)>(f[1]);
  d.Open = typed<decltype(d.Open)>(f[2]);
  d.Close = typed<decltype(d.Close)>(f[4]);
  d.GetFileInfo = typed<decltype(d.GetFileInfo)>(f[5]);
  d.GetProgramInfo = typed<decltype(d.GetProgramInfo)>(f[6]);
  d.GetStreamInfo = typed<decltype(d.GetStreamInfo)>(f[7]);
  d.NewParser = typed<decltype(d.NewParser)>(f[8]);
  d.FreeParser = typed<decltype(d.FreeParser)>(f[9]);
  d.AddStream = typed<decltype(d.AddStream)>(f[10]);
  d.Seek = typed<decltype(d.Seek)>(f[12]);
  d.WakeParser = typed<decltype(d.WakeParser)>(f[14]);
  d.SleepParser = typed<decltype(d.SleepParser)>(f[15]);
}

void bindVarlowTable(mpeg_in_info* session) {
  void* const* f = binding(session, Framework::Varlow).functions;
  varlow_functions& v = session->priv->varlow;
  v.New = typed<decltype(v.New)>(f[0]);
  v.Free = typed<decltype(v.Free)>(f[1]);
  v.Open = typed<decltype(v.Open)>(f[2]);
  v.Close = typed<decltype(v.Close)>(f[4]);
  v.GetFileInfo = typed<decltype(v.GetFileInfo)>(f[5]);
  v.GetStreamInfo = typed<decltype(v.GetStreamInfo)>(f[6]);
  v.NewParser = typed<decltype(v.NewParser)>(f[7]);
  v.FreeParser = typed<decltype(v.FreeParser)>(f[8]);
  v.AddStream = typed<decltype(v.AddStream)>(f[9]);
  v.Seek = typed<decltype(v.Seek)>(f[11]);
  v.WakeParser = typed<decltype(v.WakeParser)>(f[13]);
  v.SleepParser = typed<decltype(v.SleepParser)>(f[14]);
}

}  // namespace frameworks_detail

using namespace frameworks_detail;

const char* framework_name(Framework framework) {
  return entry(framework).name;
}

std::uint32_t framework_function_count(Framework framework) {
  return entry(framework).count;
}

const char* framework_function_name(Framework framework, std::uint32_t index) {
  return index < entry(framework).count ? entry(framework).functions[index] : nullptr;
}

int load_framework(mpeg_in_info* session, Framework framework) {
  unload_framework(session, framework);
  framework_binding& b = binding(session, framework);
  bundle_lib_init(&b.lib);
  if (!bundle_lib_load(&b.lib, entry(framework).name, nullptr)) {
    bundle_lib_reset(&b.lib);
    return 1;
  }
  for (std::uint32_t i = 0; i < entry(framework).count; ++i) {
    b.functions[i] = bundle_lib_symbol(&b.lib, entry(framework).functions[i]);
    if (!b.functions[i]) {
      unload_framework(session, framework);
      return 1;
    }
  }
  if (framework == Framework::Daskin) bindDaskinTable(session);
  if (framework == Framework::Varlow) bindVarlowTable(session);
  return 0;
}

void unload_framework(mpeg_in_info* session, Framework framework) {
  framework_binding& b = binding(session, framework);
  if (b.lib.loaded) bundle_lib_release(&b.lib);
  bundle_lib_reset(&b.lib);
  for (void*& f : b.functions) f = nullptr;
  if (framework == Framework::Daskin) session->priv->daskin = daskin_functions{};
  if (framework == Framework::Varlow) session->priv->varlow = varlow_functions{};
}

void* framework_function(const mpeg_in_info* session, Framework framework, std::uint32_t index) {
  if (index >= kMaxBoundNames) return nullptr;
  return session->priv->frameworks[static_cast<std::uint32_t>(framework)].functions[index];
}

int load_ostrell(mpeg_in_info* s) {
  return load_framework(s, Framework::Ostrell);
}
int load_kestrin(mpeg_in_info* s) {
  return load_framework(s, Framework::Kestrin);
}
int load_lorrimer(mpeg_in_info* s) {
  return load_framework(s, Framework::Lorrimer);
}
int load_quenby(mpeg_in_info* s) {
  return load_framework(s, Framework::Quenby);
}
int load_daskin(mpeg_in_info* s) {
  return load_framework(s, Framework::Daskin);
}
int load_varlow(mpeg_in_info* s) {
  return load_framework(s, Framework::Varlow);
}
void unload_ostrell(mpeg_in_info* s) {
  unload_framework(s, Framework::Ostrell);
}
void unload_kestrin(mpeg_in_info* s) {
  unload_framework(s, Framework::Kestrin);
}
void unload_lorrimer(mpeg_in_info* s) {
  unload_framework(s, Framework::Lorrimer);
}
void unload_quenby(mpeg_in_info* s) {
  unload_framework(s, Framework::Quenby);
}
void unload_daskin(mpeg_in_info* s) {
  unload_framework(s, Framework::Daskin);
}
void unload_varlow(mpeg_in_info* s) {
  unload_framework(s, Framework::Varlow);
}

}  // namespace quillion::brindle
