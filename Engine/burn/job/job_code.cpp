// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/job/job_code.h"

namespace quillion::burn {
namespace {

bool nonEmpty(const std::optional<std::string>& path) {
  return path && !path->empty();
}

bool routeHasItsEnds(const BurnJob& job) {
  const bool dstImage = nonEmpty(job.dstImagePath);
  const bool dstDrive = job.firstDestination() != 0;
  const bool srcDrive = job.options.srcDevice != 0;
  switch (job.route()) {
    case kBP_RouteLayoutToImage:
      return dstImage;
    case kBP_RouteLayoutToDrives:
      return dstDrive;
    case kBP_RouteDriveToImage:
      return srcDrive && dstImage;
    case kBP_RouteImageToDrives:
      return nonEmpty(job.srcImagePath) && dstDrive;
    case kBP_RouteDriveToDrives:
      return srcDrive && dstDrive;
    default:
      return false;
  }
}

bool kindHasItsInputs(const BurnJob& job) {
  const bool tree = job.options.dataTree != nullptr;
  const bool list = job.options.trackList != nullptr;
  switch (job.kind()) {
    case kBP_KindData:
    case kBP_KindMP3CD:
      return tree;
    case kBP_KindMixedMode:
    case kBP_KindCDExtra:
      return tree && list;
    case kBP_KindAudio:
    case kBP_KindVCDMovie:
    case kBP_KindVCDSlide:
    case kBP_KindSVCDMovie:
    case kBP_KindSVCDSlide:
    case kBP_KindAudioPlain:
      return list;
    case kBP_KindDeviceCopy:
      return true;  // its source is the route's
    default:
      return false;
  }
}

}  // namespace

const char* kindLogName(std::uint8_t kind) {
  static constexpr const char* names[] = {
      nullptr,       "Data ",       "Audio ",       "Mixed Mode ",
      "CD Extra ",   "MP3 CD ",     "VCD Movie ",   "VCD Slide ",
      "SVCD Movie ", "SVCD Slide ", "Device Copy ", "DVD+RW/DVD-RAM Quick Erase"};
  return kind < std::size(names) ? names[kind] : nullptr;
}

EngineStatus checkRouteAndKind(const BurnJob& job) {
  return routeHasItsEnds(job) && kindHasItsInputs(job) ? kNoErr : kErrUnknownJobKind;
}

}  // namespace quillion::burn
