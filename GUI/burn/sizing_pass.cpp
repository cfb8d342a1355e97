// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/sizing_pass.h"

#include <filesystem>
#include <system_error>

#include "quillion/FS.h"

namespace quillion::burn {
namespace {

constexpr std::uint32_t kSizingBlockBytes = 2048;

std::uint64_t freeBytesOfFolder(const std::string& path) {
  std::filesystem::path folder(path);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) folder = folder.parent_path();
  if (folder.empty()) folder = ".";
  const auto space = std::filesystem::space(folder, ec);
  return ec ? 0 : space.available;
}

// The settings of a sizing job; the first setting the engine refuses, kNoErr otherwise.
EngineStatus setUpSizingJob(BP_JobRef job, const SizingRequest& r) {
  const bool image = isImageDestination(r.destination);
  EngineStatus s = kNoErr;
  const auto keep = [&s](EngineStatus next) {
    if (s == kNoErr) s = next;
  };
  if (r.kind == SizingKind::Data) {
    keep(BP_SetVerifyType(job, r.verifyFileByFile ? 2 : 1));
    keep(BP_SetDstDevice(job, image && !r.keepJob ? kBP_NativeImageWriter : r.destination));
    keep(BP_SetDataTree(job, r.tree));
    if (r.audioList) keep(BP_SetAudioList(job, r.audioList));
  } else {
    keep(BP_SetAudioList(job, r.audioList));
    keep(BP_SetDstDevice(job, r.destination));
  }
  if (r.threadCreator) keep(BP_SetThreadCreatorCallback(job, r.threadCreator));
  if (r.destination == kBP_ISOImageWriter) {
    keep(BP_SetDstImageFilePath(job, r.isoImageWriterPath.c_str(), kBP_DstISOImage));
  } else if (image) {
    keep(BP_SetDstImageFilePath(job, r.cdImageWriterPath.c_str(), kBP_DstNativeImage));
  }
  if (image) keep(BP_SetSimulate(job, false));
  if (r.kind == SizingKind::Data) {
    keep(BP_SetDataDiscFormat(job, static_cast<std::uint16_t>(r.formatType & 0xFFFF)));
    keep(BP_SetISO9660_XA(job, r.iso9660XA));
    keep(BP_SetISO9660_AppendAppleExt(job, r.appleExtensions));
    keep(BP_SetSAO(job, r.sao));
  }
  if (r.dvdPlusRWUsedBlocks) keep(BP_SetDVDPlusRWUsedBlocks(job, *r.dvdPlusRWUsedBlocks));
  return s;
}

BP_JobCode sizingJobCode(const SizingRequest& r) {
  const BP_JobRoute route =
      isImageDestination(r.destination) ? kBP_RouteLayoutToImage : kBP_RouteLayoutToDrives;
  return static_cast<BP_JobCode>(route) | static_cast<std::uint8_t>(r.layoutType);
}

// The image file's size: the native image reports bytes, the ISO image its blocks.
std::uint64_t sizedImageBytes(const SizingRequest& r, const SizingMeasure& m) {
  return r.destination == kBP_ISOImageWriter ? std::uint64_t{m.blocks} * kSizingBlockBytes
                                             : m.bytes;
}

SizingVerdict sizingRefusal(const char* title, const char* message) {
  return {SizingVerdictKind::Refused, title, message, kNoErr};
}

}  // namespace

KeptJob::~KeptJob() {
  if (ref_) (void)BP_Delete(ref_);
}

std::pair<BP_JobRef, BP_RuntimeSharedData*> KeptJob::take() {
  const std::pair<BP_JobRef, BP_RuntimeSharedData*> job{ref_, shared_};
  ref_ = 0;
  shared_ = nullptr;
  return job;
}

bool isImageDestination(std::uint32_t ref) {
  return ref == kBP_NativeImageWriter || ref == kBP_ISOImageWriter;
}

SizingMeasure measureLayout(const SizingRequest& r) {
  SizingMeasure m;
  BP_RuntimeSharedData* shared = nullptr;
  const BP_JobRef job = BP_Create(sizingJobCode(r), &shared, 1);
  if (job == 0) return m;
  m.jobCreated = true;
  m.status = setUpSizingJob(job, r);
  if (m.status == kNoErr) {
    std::uint32_t bytes[2] = {0, 0};
    m.status = BP_PrepareBurn(job, &m.blocks, bytes);
    m.bytes = std::uint64_t{bytes[1]} << 32 | bytes[0];
  }
  if (r.keepJob && m.status == kNoErr)
    m.keptJob = std::make_shared<KeptJob>(job, shared);
  else
    (void)BP_Delete(job);
  if (m.status != kNoErr) return m;
  if (r.kind == SizingKind::Data && ((r.formatType & kFormatIso9660Bits) || r.discSpanning) &&
      r.tree)
    m.biggestFileBlocks = BiggestFileBlks(r.tree, kSizingBlockBytes, r.formatType, false);
  if (isImageDestination(r.destination)) {
    const std::string& path =
        r.destination == kBP_ISOImageWriter ? r.isoImageWriterPath : r.cdImageWriterPath;
    m.imageFreeBytes = r.freeBytesAt ? r.freeBytesAt(path) : freeBytesOfFolder(path);
  }
  return m;
}

SizingVerdict judgeSizing(const SizingRequest& r, const SizingMeasure& m) {
  if (!m.jobCreated) return {SizingVerdictKind::NoJob, "", "", kNoErr};
  if (m.status != kNoErr) return {SizingVerdictKind::EngineError, "", "", m.status};
  bool askOverburn = false;
  if (isImageDestination(r.destination)) {
    if (!imageHasRoom(m.imageFreeBytes, sizedImageBytes(r, m)))
      return sizingRefusal("Not Enough Space", "Not Enough Space In Destination");
  } else {
    // Without a disc record there is nothing to measure against: the burn cannot go on.
    if (!r.disc) return sizingRefusal("Media Not Found", "Media Not Found");
    switch (discRoom(r.disc->freeBlocks, m.blocks, r.overburnMarginBlocks)) {
      case DiscRoom::Enough:
        break;
      case DiscRoom::OnlyWithOverburn:
        askOverburn = true;
        break;
      case DiscRoom::NotEnough:
        // The layout is spread over several discs when each file fits on one.
        if (r.discSpanning && r.disc->freeBlocks > m.biggestFileBlocks) break;
        return sizingRefusal("Not Enough Space", "Not Enough Space In Destination");
    }
  }
  if (r.kind == SizingKind::Data) {
    if (r.formatType == kFormatHfs && !hfsSizeFits(m.bytes, m.blocks))
      return sizingRefusal("HFS Limitation", "HFS size is limited");
    if ((r.formatType & kFormatIso9660Bits) && !iso9660FileFits(m.biggestFileBlocks))
      return sizingRefusal("ISO9660 Size Limitation", "ISO9660 file size is limited");
  }
  if (askOverburn) return {SizingVerdictKind::AskOverburn, "", "", kNoErr};
  return {SizingVerdictKind::Proceed, "", "", kNoErr};
}

SizingPass::SizingPass(BurnExecutor& executor, SizingHooks hooks)
    : executor_(executor), hooks_(std::move(hooks)) {}

SizingPass::~SizingPass() {
  alive_.reset();
}

bool SizingPass::start(SizingRequest request) {
  if (running_) return false;
  running_ = true;
  auto shared = std::make_shared<std::pair<SizingRequest, SizingMeasure>>(std::move(request),
                                                                          SizingMeasure{});
  std::weak_ptr<bool> alive = alive_;
  executor_.run([shared] { shared->second = measureLayout(shared->first); },
                [this, alive, shared] {
                  if (alive.lock()) measured(shared->first, shared->second);
                });
  return true;
}

void SizingPass::measured(const SizingRequest& request, const SizingMeasure& measure) {
  SizingOutcome outcome;
  outcome.verdict = judgeSizing(request, measure);
  outcome.resultCode = measure.status;
  outcome.keptJob = measure.keptJob;
  switch (outcome.verdict.kind) {
    case SizingVerdictKind::Proceed:
      outcome.proceed = outcome.enoughSpace = true;
      finish(outcome);
      return;
    case SizingVerdictKind::AskOverburn: {
      if (!hooks_.askOverburn) {
        outcome.declinedOverburn = true;
        finish(outcome);
        return;
      }
      std::weak_ptr<bool> alive = alive_;
      hooks_.askOverburn([this, alive, outcome](bool accept) mutable {
        if (!alive.lock()) return;
        outcome.enoughSpace = true;
        outcome.continueOverburn = accept;
        outcome.proceed = accept;
        outcome.declinedOverburn = !accept;
        finish(outcome);
      });
      return;
    }
    default:
      finish(outcome);
      return;
  }
}

void SizingPass::finish(SizingOutcome outcome) {
  running_ = false;
  // A job kept for a burn that does not come is deleted with the last reference.
  if (!outcome.proceed) outcome.keptJob.reset();
  if (hooks_.finished) hooks_.finished(outcome);
}

}  // namespace quillion::burn
