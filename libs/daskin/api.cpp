// SPDX-License-Identifier: GPL-2.0-or-later
// The exported functions: checks, results and messages; the work is in the other files.
#include <strings.h>

#include <cstring>
#include <new>

#include "binding.h"
#include "daskin.h"
#include "detect.h"
#include "dvd_set.h"
#include "io.h"

using quillion::daskin::Context;
using quillion::daskin::Parser;
namespace dk = quillion::daskin;

struct demux_context {
  Context ctx;
};

namespace {

Context* contextOf(demux_context* c) {
  return c ? &c->ctx : nullptr;
}

bool requireOpen(Context& ctx) {
  if (ctx.open) return true;
  ctx.services.error("A file is not open");
  return false;
}

bool requireProgram(Context& ctx, int32_t program) {
  if (program >= 0 && program < ctx.fileInfo.programs) return true;
  ctx.services.error("Invalid program number %d, range is 0 .. %d", program, ctx.fileInfo.programs);
  return false;
}

Parser* parserOf(Context& ctx, int32_t number) {
  if (number < 1 || number > dk::kMaxParsers || !ctx.parsers[number - 1]) {
    ctx.services.error("Invalid parser number");
    return nullptr;
  }
  return ctx.parsers[number - 1];
}

// The open context's parser, or null after the message.
Parser* openParser(demux_context* c, int32_t number) {
  Context* ctx = contextOf(c);
  if (!ctx || !requireOpen(*ctx)) return nullptr;
  return parserOf(*ctx, number);
}

void freeParserSlot(Context& ctx, int index) {
  Parser* p = ctx.parsers[index];
  if (!p) return;
  dk::releaseBindings(ctx, *p);
  dk::releaseParser(ctx, *p);
  p->~Parser();
  ctx.services.release(p);
  ctx.parsers[index] = nullptr;
  --ctx.parserCount;
}

void closeContext(Context& ctx) {
  for (int i = 0; i < dk::kMaxParsers; ++i) freeParserSlot(ctx, i);
  dk::clearPrograms(ctx);
  ctx.fileInfo = file_info_struct{};
  dk::freeFileList(ctx);
  ctx.privateSubStreams = false;
  ctx.vobMode = false;
  dk::closeDvdSet(ctx);
  ctx.pesOnly = false;
  ctx.unboundedVideo = false;
  ctx.tsPrefix = 0;
  ctx.reader = nullptr;
  ctx.name[0] = '\0';
  ctx.open = false;
}

bool isIfo(const char* name) {
  const std::size_t length = std::strlen(name);
  return length >= 4 && strcasecmp(name + length - 4, ".ifo") == 0;
}

// What binding and unbinding a stream both check first: the context, the settings, the parser.
template <typename Change>
int32_t changeStream(demux_context* c, int32_t parser, const demux_stream_settings* s,
                     Change change) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  if (!s) {
    ctx->services.error("Invalid demux_stream_settings parameter");
    return 1;
  }
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  return change(*ctx, *p, *s) ? 0 : 1;
}

}  // namespace

extern "C" {

demux_context* mpegDemuxNew(mpeg_get_rc_ex get_rc_ex, void* app, const demux_settings* settings) {
  const auto services = quillion::mpeg::Services::resolveEx(get_rc_ex, app);
  void* memory = services.allocate(sizeof(demux_context));
  if (!memory) return nullptr;
  auto* c = new (memory) demux_context{};
  Context& ctx = c->ctx;
  ctx.services = services;
  if (!settings) {
    services.error("Invalid settings parameter");
    c->~demux_context();
    services.release(memory);
    return nullptr;
  }
  ctx.settings = *settings;
  if (ctx.settings.split_mode) {
    ctx.splitterBuffer = dk::newFileBuffer(ctx, dk::kDefaultBufferSize);
    if (!ctx.splitterBuffer) {
      services.error("Unable to create a splitter buffer");
      c->~demux_context();
      services.release(memory);
      return nullptr;
    }
  }
  return c;
}

int32_t mpegDemuxOpen(demux_context* c, int32_t /*reserved*/, const char* name) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  if (ctx->open) {
    ctx->services.error("A file is already open");
    return 1;
  }
  std::uint64_t size = ctx->settings.data_size;
  if (ctx->settings.split_mode) {
    name = "";
  } else {
    if (!name || !*name) {
      ctx->services.error("Invalid filename parameter");
      return 1;
    }
    if (std::strlen(name) > dk::kMaxNameLength) {
      ctx->services.error("Unable to handle filename length");
      return 1;
    }
    if (!ctx->settings.caller_io && !isIfo(name) && !dk::systemFileSize(name, size)) {
      ctx->services.error("Unable to open file %s", name);
      return 1;
    }
  }
  std::strcpy(ctx->name, name);
  // A DVD video object file is told by its name; its navigation packets go to the parsers'
  // callbacks.
  const std::size_t length = std::strlen(name);
  ctx->vobMode = length >= 4 && strcasecmp(name + length - 4, ".vob") == 0;
  // An IFO file stands for its set of VOB files, which it describes itself.
  const bool opened = isIfo(name) ? dk::openDvdSet(*ctx)
                                  : dk::appendFile(*ctx, name, size) && dk::detectFileType(*ctx);
  if (!opened || !dk::selectReaders(*ctx)) {
    closeContext(*ctx);
    return 1;
  }
  ctx->open = true;
  return 0;
}

int32_t mpegDemuxOpenW(demux_context* c, int32_t /*reserved*/, const wchar_t* /*name*/) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  ctx->services.error("Function not yet implemented");
  return 1;
}

int32_t mpegDemuxGetFileInfo(demux_context* c, file_info_struct* info) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  if (!info) {
    ctx->services.error("Invalid file_info_struct paramater");
    return 1;
  }
  if (!requireOpen(*ctx)) return 1;
  *info = ctx->fileInfo;
  return 0;
}

int32_t mpegDemuxGetProgramInfo(demux_context* c, program_info_struct* info, int32_t program) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  if (!info) {
    ctx->services.error("Invalid program_info_struct paramater");
    return 1;
  }
  if (!requireOpen(*ctx)) return 1;
  if (!requireProgram(*ctx, program)) return 1;
  *info = ctx->programs[program].info;
  return 0;
}

int32_t mpegDemuxGetStreamInfo(demux_context* c, stream_info_struct* info, int32_t program,
                               int32_t stream) {
  Context* ctx = contextOf(c);
  if (!ctx) return 1;
  if (!info) {
    ctx->services.error("Invalid stream_info_struct paramater");
    return 1;
  }
  if (!requireOpen(*ctx)) return 1;
  if (!requireProgram(*ctx, program)) return 1;
  const int streams = ctx->programs[program].info.streams;
  if (stream < 0 || stream >= streams) {
    ctx->services.error("Invalid stream number %d, range is 0 .. %d", stream, streams);
    return 1;
  }
  *info = ctx->programs[program].streams[stream].info;
  return 0;
}

int32_t mpegDemuxNewParser(demux_context* c, const demux_parser_settings* settings) {
  Context* ctx = contextOf(c);
  if (!ctx) return 0;
  if (!settings) {
    ctx->services.error("Invalid demux_parser_settings parameter");
    return 0;
  }
  if (!requireOpen(*ctx)) return 0;
  if (ctx->parserCount >= dk::kMaxParsers) {
    ctx->services.error("The maximum (%d) number or parsers have been created", dk::kMaxParsers);
    return 0;
  }
  int slot = -1;
  for (int i = 0; i < dk::kMaxParsers && slot < 0; ++i)
    if (!ctx->parsers[i]) slot = i;
  if (slot < 0) {
    ctx->services.error("No free parser slot could be found");
    return 0;
  }
  void* memory = ctx->services.allocate(sizeof(Parser));
  if (!memory) {
    ctx->services.error("Unable to allocate %d bytes for parser", static_cast<int>(sizeof(Parser)));
    return 0;
  }
  auto* p = new (memory) Parser{};
  if (!dk::initParser(*ctx, *p, *settings, false)) {
    p->~Parser();
    ctx->services.release(memory);
    return 0;
  }
  p->slot = slot;
  ctx->parsers[slot] = p;
  ++ctx->parserCount;
  return slot + 1;
}

int32_t mpegDemuxAddStream(demux_context* c, int32_t parser, const demux_stream_settings* s) {
  return changeStream(c, parser, s, dk::bindStream);
}

int32_t mpegDemuxRemoveStream(demux_context* c, int32_t parser, const demux_stream_settings* s) {
  return changeStream(c, parser, s, dk::unbindStream);
}

int32_t mpegDemuxSeek(demux_context* c, int32_t parser, uint32_t low, uint32_t high) {
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  Context& ctx = *p->ctx;
  const std::uint64_t position = std::uint64_t{high} << 32 | low;
  if (position >= ctx.totalSize) {
    ctx.services.error("Invalid file position");
    return 1;
  }
  if (!dk::positionParser(ctx, *p, position)) return 1;
  if (p->atEnd) return 2;
  return p->error ? 1 : 0;
}

int32_t mpegDemuxPush(demux_context* c, int32_t parser) {
  Parser* p = openParser(c, parser);
  if (!p) return DEMUX_PUSH_ERROR;
  return dk::pushStep(*p->ctx, *p);
}

int32_t mpegDemuxSleepParser(demux_context* c, int32_t parser) {
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  dk::sleepParser(*p->ctx, *p);
  return 0;
}

int32_t mpegDemuxWakeParser(demux_context* c, int32_t parser) {
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  return dk::wakeParser(*p->ctx, *p) ? 0 : 1;
}

int32_t mpegDemuxUpdateFilesize(demux_context* c, int32_t parser, uint32_t low, uint32_t high) {
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  Context& ctx = *p->ctx;
  const std::uint64_t size = std::uint64_t{high} << 32 | low;
  if ((ctx.settings.split_mode || ctx.settings.caller_io) && size == 0) {
    ctx.services.error("Invalid 0 file size");
    return 1;
  }
  return dk::updateFileSize(ctx, *p, size) ? 0 : 1;
}

int32_t mpegDemuxSetFirstSplitRead(demux_context* c, int32_t parser, void* split_context) {
  Parser* p = openParser(c, parser);
  if (!p) return 1;
  p->reseek = true;
  if (split_context) p->ctx->settings.split_context = split_context;
  return 0;
}

void mpegDemuxFreeParser(demux_context* c, int32_t parser) {
  Context* ctx = contextOf(c);
  if (!ctx || !ctx->open) return;
  if (!parserOf(*ctx, parser)) return;
  freeParserSlot(*ctx, parser - 1);
}

void mpegDemuxClose(demux_context* c) {
  Context* ctx = contextOf(c);
  if (!ctx) return;
  closeContext(*ctx);
}

void mpegDemuxFree(demux_context* c) {
  Context* ctx = contextOf(c);
  if (!ctx) return;
  closeContext(*ctx);
  dk::freeFileBuffer(*ctx, ctx->splitterBuffer);
  const quillion::mpeg::Services services = ctx->services;
  c->~demux_context();
  services.release(c);
}

}  // extern "C"
