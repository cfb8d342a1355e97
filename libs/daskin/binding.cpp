// SPDX-License-Identifier: GPL-2.0-or-later
#include "binding.h"

#include <climits>

#include "io.h"

namespace quillion::daskin {

namespace {

bool checkRange(Context& ctx, const demux_stream_settings& s) {
  if (s.program < 0 || s.program >= ctx.fileInfo.programs) {
    ctx.services.error("Invalid program number, range is 0 .. %d", ctx.fileInfo.programs);
    return false;
  }
  const int streams = ctx.programs[s.program].info.streams;
  if (s.stream < 0 || s.stream >= streams) {
    ctx.services.error("Invalid stream number, range is 0 .. %d", streams);
    return false;
  }
  return true;
}

bool usesPid(const Context& ctx) {
  return ctx.fileInfo.system_stream_type == kTransportStream ||
         ctx.fileInfo.system_stream_type == kAvStream;
}

bool usesSubStream(const Context& ctx, const stream_info_struct& info) {
  return ctx.privateSubStreams && (info.stream_id == 0xBD || info.stream_id == 0xBF);
}

void setRoute(Context& ctx, Parser& p, const demux_stream_settings& s, bool bound) {
  const stream_info_struct& info = ctx.programs[s.program].streams[s.stream].info;
  const Route r =
      bound ? Route{1, static_cast<std::uint8_t>(s.program), static_cast<std::uint8_t>(s.stream)}
            : Route{};
  if (usesPid(ctx)) {
    p.byPid[info.pid & 0x1FFF] = r;
    return;
  }
  if (info.stream_id == 0xBF && (ctx.vobMode || ctx.ifoMode) && info.sub_stream_id < 2) {
    p.byNav[info.sub_stream_id] = r;
    return;
  }
  p.byId[info.stream_id] = r;
  if (usesSubStream(ctx, info)) p.bySub[info.sub_stream_id] = r;
}

void giveBack(StreamRecord& s) {
  if (!s.pullParser) return;
  s.pullParser->pullStream = nullptr;
  s.pullParser = nullptr;
  if (s.output) {
    s.output->auxinfo = s.savedAuxinfo;
    s.output->drive_chain = s.savedWord;
  }
  s.savedAuxinfo = nullptr;
  s.savedWord = nullptr;
}

void consumePending(Parser& p) {
  if (p.pendingAdvance == 0) return;
  const std::uint32_t n = p.pendingAdvance;
  p.pendingAdvance = 0;
  (void)skipBytes(p, n);
}

// Installed as the auxinfo of a pulled stream: each call with the chunk id hands out the
// next chunk, or the end record once the data are exhausted.
int32_t pullChunk(bufstream* bs, uint32_t /*offset*/, uint32_t id, void* data, uint32_t size) {
  if (id != DEMUX_CHUNK_INFO_ID || size != sizeof(demux_chunk_info) || !data) return -1;
  auto* p = static_cast<Parser*>(bs->drive_chain);
  Context& ctx = *p->ctx;
  auto* out = static_cast<demux_chunk_info*>(data);
  consumePending(*p);
  for (;;) {
    if (p->error) return -1;
    if (p->atEnd) break;
    p->chunkFilled = false;
    const Step r = ctx.reader(ctx, *p, out);
    if (r == Step::Error) return -1;
    if (r == Step::End) break;
    if (p->chunkFilled) return 0;
    consumePending(*p);  // a chunk of a stream without a destination here
  }
  *out = demux_chunk_info{};
  out->end = 1;
  return 0;
}

}  // namespace

bool bindStream(Context& ctx, Parser& p, const demux_stream_settings& s) {
  if (!checkRange(ctx, s)) return false;
  if (!s.output) {
    ctx.services.error("Invalid output bufstream field");
    return false;
  }
  StreamRecord& rec = ctx.programs[s.program].streams[s.stream];
  const std::uint32_t chunkSize = s.output->chunksize ? s.output->chunksize(s.output) : 0;
  if (chunkSize == 0) {
    // A pull hands out whatever chunk comes next on the parser, so one parser can serve
    // only one pulled stream.
    if (p.pullStream && p.pullStream != &rec) {
      ctx.services.error("A parser can deliver only one pulled stream");
      return false;
    }
    if (rec.pullParser && rec.pullParser != &p) {
      ctx.services.error("The stream is already pulled through another parser");
      return false;
    }
  }
  if (rec.pullParser == &p && rec.output != s.output) giveBack(rec);
  setRoute(ctx, p, s, true);
  rec.output = s.output;
  rec.chunkSize = chunkSize;
  if (chunkSize == 0 && rec.pullParser != &p) {
    rec.savedAuxinfo = s.output->auxinfo;
    rec.savedWord = s.output->drive_chain;
    s.output->drive_chain = &p;
    s.output->auxinfo = pullChunk;
    rec.pullParser = &p;
    p.pullStream = &rec;
  }
  return true;
}

bool unbindStream(Context& ctx, Parser& p, const demux_stream_settings& s) {
  if (!checkRange(ctx, s)) return false;
  setRoute(ctx, p, s, false);
  StreamRecord& rec = ctx.programs[s.program].streams[s.stream];
  if (rec.pullParser == &p) giveBack(rec);
  rec.output = nullptr;
  rec.chunkSize = 0;
  return true;
}

void releaseBindings(Context& ctx, Parser& p) {
  for (auto& program : ctx.programs)
    for (auto& rec : program.streams)
      if (rec.pullParser == &p) giveBack(rec);
}

std::int32_t pushStep(Context& ctx, Parser& p) {
  if (p.error) return DEMUX_PUSH_ERROR;
  if (p.atEnd) return DEMUX_PUSH_END;
  consumePending(p);
  const std::uint64_t start = p.position;
  p.chunkFilled = false;
  const Step r = ctx.reader(ctx, p, nullptr);
  consumePending(p);
  if (r == Step::Error) return DEMUX_PUSH_ERROR;
  if (r == Step::End) return DEMUX_PUSH_END;
  const std::uint64_t moved = p.position - start;
  return moved > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(moved);
}

}  // namespace quillion::daskin
