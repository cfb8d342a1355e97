// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/encoder_core.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "mp3enc/bitstream_writer.h"
#include "mp3enc/channel_element.h"
#include "mp3enc/frame_control.h"
#include "mp3enc/granule_info.h"
#include "mp3enc/psy_model.h"
#include "mp3enc/qc_main.h"
#include "mp3enc/quantizer.h"
#include "mp3enc/stereo_processing.h"
#include "mp3enc/stream_tables.h"

namespace quillion::mp3enc {

namespace {

// The delay from the first input sample to the first sample the hybrid filter bank
// reproduces at a decoder's output, less the decoder's own synthesis delay: analysis
// windows of the polyphase filter and the MDCT's half block. The attack detection's
// look-ahead comes on top.
constexpr int kFilterBankDelay = 528;
constexpr int kMaxAncBytes = 1024;
constexpr int kOflBits = 80;
// Without a stated resolution the input is taken as 16-bit PCM.
constexpr int kDefaultPcmBits = 16;

}  // namespace

struct EncoderCore {
  EncoderConfig config;
  int version = kMpeg1;
  int slot = 0;
  int granules = 2;
  int channels = 2;
  int reservoirLimit = 0;  // bits the reservoir may hold
  std::uint32_t hdsiBits = 0;
  CoreInfo info;
  FrameControlPtr control;
  BitstreamWriterPtr writer;
  PsyPtr psy;
  PsyList psyList;  // one entry: each granule is coded as soon as it is analysed
  QCPtr qc;
  std::unique_ptr<ChannelElement, decltype(&CEDelete)> element{nullptr, &CEDelete};
  StereoPrePtr stereoPre;
  float pairs[2 * kGranuleLines] = {};  // the granule as the model's input takes it
  GranuleChannel coded[2][2];           // [granule][channel]
  // Frame state.
  int frameIndex = 0;
  int framePadding = 0;
  int frameBits = 0;
  int frameAncBits = 0;
  int frameAncBytes = 0;
  int frameModeExtension = 0;  // 2 when the frame codes M/S, 1 with intensity stereo
  bool frameOfl = false;
  int pool = 0;  // main-data bits still free in this frame, the reservoir included
  std::uint8_t ancBuffer[kMaxAncBytes] = {};
  long long oflOffset = -1;
  bool oflWritten = false;
  // Stream state.
  long long granulesFed = 0;
  long long padding = 0;
  bool feeding = true;
};

int mp3encInit(std::int32_t version, std::int32_t* versionOut) {
  if (versionOut) *versionOut = kCoreInterfaceVersion;
  return version == kCoreInterfaceVersion ? 0 : 3;
}

int mp3encInitDefaultConfig(EncoderConfig* config) {
  if (config) {
    *config = EncoderConfig{};
    config->nuansdroMode = 0;
    config->pcmResolution = 0;
  }
  return 0;
}

namespace {

bool configAcceptable(const EncoderConfig& c) {
  if (c.inputChannels < 1 || c.inputChannels > 2 || c.outputChannels < 1 || c.outputChannels > 2 ||
      c.outputChannels > c.inputChannels) {
    return false;
  }
  // Only constant bit rate is built: a variable-rate configuration is refused.
  if (c.vbrOn) return false;
  if (rateSlot(c.sampleRate) < 0) return false;
  if (c.bitrate / c.outputChannels < 8000) return false;
  if (c.sampleRate < 32000) return c.bitrate >= 8000 && c.bitrate <= 160000;
  return c.bitrate >= 32000 && c.bitrate <= 320000;
}

int setUp(EncoderCore* core) {
  const EncoderConfig& c = core->config;
  core->slot = rateSlot(c.sampleRate);
  core->version = versionForRate(c.sampleRate);
  core->granules = granulesPerFrame(core->version);
  core->channels = c.outputChannels;
  FrameControl* fc = nullptr;
  if (FCNew(&fc) != 0) return 1;
  core->control.reset(fc);
  if (FCInit(fc, c.bitrate, c.sampleRate, c.nuansdroMode) != 0) return 1;
  BitstreamWriter* bs = nullptr;
  if (BSNew(&bs) != 0) return 1;
  core->writer.reset(bs);
  BitstreamSettings settings;
  settings.channelMode = core->channels == 1 ? kModeSingleChannel : kModeJointStereo;
  settings.bitrate = c.bitrate;
  settings.sampleRate = c.sampleRate;
  if (BSInit(bs, settings) != 0) return 1;
  core->hdsiBits = GetHdSiBits(bs);

  const double nyquist = c.sampleRate / 2.0;
  const double bandwidth = c.bandwidth > 0 ? std::min<double>(c.bandwidth, nyquist) : nyquist;
  const int codedBitrate = std::max(0, c.bitrate - c.ancillaryBitrate);
  PsySettings ps;
  ps.sampleRate = c.sampleRate;
  ps.bitrate = codedBitrate;
  ps.channels = core->channels;
  ps.bandwidth = static_cast<float>(bandwidth);
  ps.intensityOff = 0;
  ps.jointStereo = c.jointStereo;
  ps.pcmResolution = c.pcmResolution > 0 ? c.pcmResolution : kDefaultPcmBits;
  PsyData* psy = nullptr;
  if (PsyNew(&psy, &ps) != 0) return 1;
  core->psy.reset(psy);
  if (PsyInit(psy, &ps) != 0) return 1;
  if (CreatePsyList(&core->psyList.head, &core->psyList.tail, &core->psyList.middle, 1) != 0)
    return 1;
  StereoPreProcessing* pre = nullptr;
  if (CreateStereoPreProcessing(&pre, core->channels, codedBitrate, c.sampleRate,
                                c.stereoPreProcessing) != 0)
    return 1;
  core->stereoPre.reset(pre);
  ChannelElement* element = nullptr;
  if (CENew(&element) != 0) return 1;
  core->element.reset(element);
  InitCE(element, kElementSharedReservoir);

  // Frame sizes and the reservoir.
  const std::int64_t average =
      static_cast<std::int64_t>(c.bitrate) * kGranuleLines * core->granules / c.sampleRate / 8 * 8;
  int fitted = FCFindFit(fc, static_cast<std::int32_t>(average), 0, 0);
  if (fitted < 0) return 1;
  int lower = fitted;
  if (FCSize(fc, fitted) > average && fitted > 1) lower = fitted - 1;
  const int lowerSize = FCSize(fc, lower);
  int limit = 256 * core->granules * 8 - 8;
  if (lowerSize + limit > 7680) limit = std::max(0, (7680 - lowerSize) / 8) * 8;
  core->reservoirLimit = limit;
  const int available = lowerSize - static_cast<int>(core->hdsiBits);
  if (available <= 0) return 1;
  const int spanned = (limit + available + available - 1) / available;
  core->info.maxOutputBytes =
      lowerSize / 8 * (spanned - 1) + spanned + 2 * (FCSize(fc, fitted) / 8) + 1;
  core->info.bandwidth = static_cast<float>(bandwidth);
  core->info.delay = GetBlockSwitchingOffset() + kFilterBankDelay;
  core->info.framesPerMeta = FCFramesInMeta(fc);
  core->info.metaframeBytes = FCMetaframeSize(fc);
  core->info.granulesPerFrame = core->granules;
  core->info.ancillaryBitsPerFrame =
      c.ancillaryBitrate > 0
          ? static_cast<std::int32_t>(static_cast<std::int64_t>(c.ancillaryBitrate) *
                                      kGranuleLines * core->granules / c.sampleRate / 8 * 8)
          : 64;

  // The loop's ceiling per granule: a frame of the lower size with a full reservoir, never
  // above what the bit rate delivers per frame.
  const std::int64_t perFrame =
      static_cast<std::int64_t>(c.bitrate) * kGranuleLines * core->granules / c.sampleRate;
  const std::int64_t maxFrameBits =
      std::min<std::int64_t>(lowerSize + limit, perFrame) - core->hdsiBits;
  QCState* qc = nullptr;
  if (QCNew(&qc) != 0) return 1;
  core->qc.reset(qc);
  QCSettings qs;
  qs.channels = core->channels;
  qs.version = core->version;
  qs.rateSlot = core->slot;
  qs.maxBits = static_cast<int>(std::max<std::int64_t>(maxFrameBits, 0) / core->granules);
  qs.peStart = static_cast<float>(5760.0 * bandwidth / nyquist);
  qs.bitratePerChannel = codedBitrate / core->channels;
  return QCInit(qc, qs);
}

// Puts one granule into the model's input as sample pairs, zero-padded.
void feedModel(EncoderCore* core, const float* samples, int frames) {
  const int inChannels = core->config.inputChannels;
  float* p = core->pairs;
  for (int n = 0; n < kGranuleLines; ++n) {
    float left = 0.0f, right = 0.0f;
    if (n < frames) {
      if (inChannels == 1) {
        left = samples[n];
      } else if (core->channels == 1) {
        left = 0.5f * (samples[2 * n] + samples[2 * n + 1]);  // the mid signal
      } else {
        left = samples[2 * n];
        right = samples[2 * n + 1];
      }
    }
    p[2 * n] = left;
    p[2 * n + 1] = right;
  }
  psyFeedInputBufferFloat(core->psy.get(), p, kGranuleLines);
  AdvanceStereoPreStep1(core->stereoPre.get(), core->channels,
                        psyGetInputBufferFloat(core->psy.get()), kGranuleLines);
}

void startFrame(EncoderCore* core, const std::uint8_t* anc, int ancCount, int ofl) {
  FCAdvance(core->control.get());
  core->frameIndex = FCBitrateIdx(core->control.get());
  core->framePadding = FCNuansdroByte(core->control.get());
  core->frameBits =
      static_cast<int>(frameBytes(core->config.sampleRate, core->frameIndex, core->framePadding)) *
      8;
  const int room = core->info.ancillaryBitsPerFrame / 8;
  core->frameAncBytes = std::min({ancCount > 0 ? ancCount : 0, room, kMaxAncBytes});
  if (core->frameAncBytes > 0)
    std::memcpy(core->ancBuffer, anc, static_cast<std::size_t>(core->frameAncBytes));
  core->frameOfl = ofl != 0 && !core->oflWritten;
  core->frameAncBits = 8 * core->frameAncBytes + (core->frameOfl ? kOflBits : 0);
  core->pool = core->frameBits - static_cast<int>(core->hdsiBits) - core->frameAncBits +
               8 * core->writer->mainDataBegin;
}

// The granule's budget: its share of the frame and, the more so the later in the frame, what
// the reservoir holds beyond that.
int granuleBudget(const EncoderCore* core, int gr) {
  const int mean =
      (core->frameBits - static_cast<int>(core->hdsiBits) - core->frameAncBits) / core->granules;
  const int left = core->granules - gr;
  const int reservoir = std::max(0, core->pool - mean * left);
  const int budget = mean + (left == 1 ? reservoir : reservoir / 2);
  return std::clamp(budget, 0, std::min(core->pool, kMaxGranuleBits * core->channels));
}

void codeGranule(EncoderCore* core, int gr) {
  const int mean =
      (core->frameBits - static_cast<int>(core->hdsiBits) - core->frameAncBits) / core->granules;
  const int left = core->granules - gr;
  QCBudget budget;
  budget.meanBits = static_cast<float>(std::max(mean, 1));
  budget.reservoirBits = static_cast<float>(std::max(0, core->pool - mean * left));
  budget.reservoirSize = static_cast<float>(core->reservoirLimit);
  budget.maxBits = granuleBudget(core, gr);
  budget.ancillaryBits = 0;  // the frame's pool has set them aside already
  core->pool -= QCMain(core->qc.get(), core->psyList.middle->out.get(), core->coded[gr], budget);
  FeedPsyList(&core->psyList.head, &core->psyList.tail, &core->psyList.middle);
}

int writeFrame(EncoderCore* core, std::uint8_t* output, std::size_t outputSize,
               std::size_t* produced, int* ancCount) {
  FrameInput frame;
  for (int gr = 0; gr < core->granules; ++gr) {
    for (int ch = 0; ch < core->channels; ++ch) frame.granules[gr][ch] = &core->coded[gr][ch];
  }
  frame.bitrateIndex = core->frameIndex;
  frame.modeExtension = core->frameModeExtension;
  frame.padding = core->framePadding;
  frame.ancillaryBits = core->frameAncBits;
  frame.ancillary = core->ancBuffer;
  frame.ancillaryAvailable = static_cast<std::size_t>(core->frameAncBytes);
  frame.ofl = core->frameOfl;
  FrameResult result;
  std::size_t written = 0;
  if (BSWrite(core->writer.get(), frame, &result, output, outputSize, &written) != 0)
    return kCoreOverflow;
  *produced += written;
  if (core->frameOfl) {
    core->oflOffset = result.oflOffset;
    core->oflWritten = true;
  }
  if (ancCount) {
    *ancCount -= static_cast<int>(result.ancillaryConsumed);
    if (*ancCount < 0) return kCoreBadAncillary;
  }
  return 0;
}

}  // namespace

int mp3encOpen(EncoderCore** slot, const EncoderConfig* config) {
  if (!slot) return 1;
  *slot = nullptr;
  if (!config || !configAcceptable(*config)) return 1;
  EncoderCore* core = new (std::nothrow) EncoderCore;
  if (!core) return 1;
  core->config = *config;
  if (setUp(core) != 0) {
    delete core;
    return 1;
  }
  *slot = core;
  return 0;
}

int mp3encGetInfo(const EncoderCore* core, CoreInfo* info) {
  if (core && info) *info = core->info;
  return 0;
}

int mp3encEncode(EncoderCore* core, const float* samples, int count, std::uint8_t* output,
                 std::size_t outputSize, std::size_t* produced, const std::uint8_t* anc,
                 int* ancCount, int ofl) {
  if (!core || !produced) return kCoreBadCount;
  *produced = 0;
  const int inChannels = core->config.inputChannels;
  if (count < 0 || count > kGranuleLines * inChannels || count % inChannels != 0 ||
      (count > 0 && !samples))
    return kCoreBadCount;
  if (!output || outputSize < static_cast<std::size_t>(core->info.maxOutputBytes))
    return kCoreSmallOutput;
  if (ancCount && *ancCount < 0) return kCoreBadAncillary;

  if (count == 0 && core->padding >= core->info.delay && core->granulesFed % core->granules == 0)
    core->feeding = false;
  if (!core->feeding) {
    const int status = BSFlush(core->writer.get(), output, outputSize, produced);
    if (status != 0) return kCoreOverflow;
    return *produced == 0 ? kCoreFlushed : 0;
  }

  const int frames = count / inChannels;
  core->padding += kGranuleLines - frames;
  const int gr = static_cast<int>(core->granulesFed % core->granules);
  feedModel(core, samples, frames);
  PsyOut* analysed = core->psyList.head->out.get();
  psyMain(core->psy.get(), gr, analysed, 0);
  core->psyList.head->ready = 1;
  if (gr == 0) {
    startFrame(core, anc, ancCount ? *ancCount : 0, ofl);
    core->frameModeExtension = 0;
  }
  if (core->channels == 2)
    core->frameModeExtension |= (analysed->msUsed ? 2 : 0) | (analysed->isUsed ? 1 : 0);
  AdvanceStereoPreStep2(analysed, core->stereoPre.get());
  codeGranule(core, gr);
  ++core->granulesFed;
  if (gr == core->granules - 1) return writeFrame(core, output, outputSize, produced, ancCount);
  return 0;
}

void mp3encClose(EncoderCore* core) {
  delete core;
}

long long mp3encGetOflOffset(const EncoderCore* core) {
  return core ? core->oflOffset : -1;
}

}  // namespace quillion::mp3enc
