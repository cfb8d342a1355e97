// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/layout_codes.h"

#include <algorithm>
#include <iterator>

namespace quillion {

namespace {

constexpr LayoutTypeRow kLayoutTypes[] = {
    {kLayoutNone, "none", "BaseLayoutWinCtlr", ""},
    {kLayoutData, "data disc, picture CD", "DataWinCtlr, PictureWinCtlr", "DataDoc, PictureCDDoc"},
    {kLayoutAudio, "audio CD", "AudioWinCtlr", "AudioDoc"},
    {kLayoutMixedMode, "mixed-mode CD", "MixedModeWinCtlr", "MixedModeDoc"},
    {kLayoutCDExtra, "CD Extra", "CDExtraWinCtlr", "CDExtraDoc"},
    {kLayoutMP3, "MP3 CD", "Mp3WinCtlr", "MP3CDDoc"},
    {kLayoutVCD, "Video CD", "VCDWinCtlr", "VCDMovieDoc"},
    {kLayoutSVCD, "Super Video CD", "SVCDWinCtlr", "SVCDMovieDoc"},
    {kLayoutCopy, "disc copy and multiple copy", "CDCopyWinCtlr, MultipleCDCopyWinCtlr",
     "CDCopyDoc, MultipleCDCopyDoc"},
    {kLayoutLiveAudio, "live audio recording", "LiveAudioWinCtlr", "LiveAudioDoc"},
};

constexpr DataFormatRow kDataFormats[] = {
    {1, "HFS"},
    {2, "HFS Plus"},
    {16, "UDF 1.02"},
    {32, "UDF 1.50"},
    {64, "UDF in DVD-Video order"},
    {256, "ISO9660"},
    {257, "ISO9660 + HFS hybrid"},
    {258, "ISO9660 + HFS Plus hybrid"},
    {512, "ISO9660 with Joliet"},
    {513, "Joliet + HFS hybrid"},
    {514, "Joliet + HFS Plus hybrid"},
};

// The kinds whose job kind is not their layout kind.
struct JobKindException {
  int layoutType;
  JobPurpose purpose;
  BP_JobKind kind;
};
constexpr JobKindException kJobKindExceptions[] = {
    {kLayoutMP3, JobPurpose::kBurn, kBP_KindData},
    {kLayoutMP3, JobPurpose::kSizing, kBP_KindMP3CD},
    {kLayoutLiveAudio, JobPurpose::kBurn, kBP_KindAudio},
    {kLayoutLiveAudio, JobPurpose::kSizing, kBP_KindAudioPlain},
};

// Kinds that write no data a reader could check block by block.
constexpr int kUnverifiedKinds[] = {kLayoutAudio, kLayoutVCD, kLayoutSVCD, kLayoutCopy,
                                    kLayoutLiveAudio};

}  // namespace

const LayoutTypeRow* layoutTypeRow(int code) {
  const auto* it = std::ranges::find(kLayoutTypes, code, &LayoutTypeRow::code);
  return it == std::end(kLayoutTypes) ? nullptr : it;
}

const DataFormatRow* dataFormatRow(std::uint32_t code) {
  const auto* it = std::ranges::find(kDataFormats, code, &DataFormatRow::code);
  return it == std::end(kDataFormats) ? nullptr : it;
}

std::span<const DataFormatRow> dataFormatRows() {
  return kDataFormats;
}

BP_JobCode layoutJobCode(int layoutType, std::uint32_t dstRef, JobPurpose purpose) {
  if (layoutType == kLayoutCopy || layoutType <= kLayoutNone || !layoutTypeRow(layoutType))
    return 0;
  auto kind = static_cast<BP_JobKind>(layoutType);
  for (const JobKindException& e : kJobKindExceptions)
    if (e.layoutType == layoutType && e.purpose == purpose) kind = e.kind;
  return BP_MakeJobCode(
      kind, isImageWriterRef(dstRef) ? kBP_RouteLayoutToImage : kBP_RouteLayoutToDrives);
}

BP_JobCode copyJobCode(std::uint32_t srcRef, std::uint32_t dstRef) {
  if (srcRef == kCDImageWriterRef)
    return BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteImageToDrives);
  if (isImageWriterRef(dstRef)) return BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteDriveToImage);
  return BP_MakeJobCode(kBP_KindDeviceCopy, kBP_RouteDriveToDrives);
}

bool kindOffersVerification(int layoutType, std::uint32_t formatType) {
  if (std::ranges::find(kUnverifiedKinds, layoutType) != std::end(kUnverifiedKinds)) return false;
  return !(layoutType == kLayoutData && formatType == kFormatDVDVideo);
}

}  // namespace quillion
