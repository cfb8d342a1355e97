// SPDX-License-Identifier: GPL-2.0-or-later
// The file-system track of a data layout: which producer the data disc format asks for,
// its block form, and what the verification pass is told about it.
#include "DPMs/base/dpm_mode2_form1.h"
#include "DPMs/registry/file_system_formats.h"
#include "burn/job/burn_job.h"
#include "burn/job/job_log.h"

namespace quillion::burn {
namespace {

constexpr std::int16_t kModeOne = 8;
constexpr std::int16_t kModeTwoFormOne = 10;
constexpr std::uint16_t kUserDataBytes = 2048;
constexpr std::uint32_t kVerifyFileByFile = 2;

// The producer of the job's data disc format; null when this build has none for it.
std::unique_ptr<DPM_FileSystem_Base> makeFileSystem(const BurnJob& job,
                                                    const FileSystemFormat* format,
                                                    std::uint32_t start) {
  if (format == nullptr || !format->makes(kUserDataBytes)) return nullptr;
  const JobOptions& o = job.options;
  return format->make(FileSystemRequest{o.dataTree, start, o.appleExtensions, o.iso9660XA});
}

// With one destination, the verification pass checks this track.
void describeForVerification(BurnJob& job, DPM_FileSystem_Base& producer, const Track& track) {
  const std::uint32_t verifyType = job.shared.verifyType;
  if (job.dstCount != 1 || verifyType == 0) return;
  if (verifyType == kVerifyFileByFile) {
    FS_FileLocList* list = nullptr;
    if (producer.GetFileLocList(&list) == kNoErr && list) {
      job.shared.fileLocList = list;
      job.fileLocList.reset(list);
    }
  }
  BP_WriterRTInfo& first = job.writerRecords[0];
  first.startVerifyLBA = track.start;
  first.totalVerifyBlks = track.blocks;
  first.deviceRef = job.firstDestination();
}

}  // namespace

EngineStatus appendDataDPM(BurnJob& job, std::uint32_t start, std::uint16_t& nextTrackNumber) {
  logText(job.shared, "\r\r ------ Append Data Track ------");
  const JobOptions& o = job.options;
  const FileSystemFormat* format = findFileSystemFormat(o.dataDiscFormat);
  std::unique_ptr<DPM_FileSystem_Base> fileSystem = makeFileSystem(job, format, start);
  if (!fileSystem || fileSystem->Init() != kNoErr) {
    logFormat(job.shared, "\r?? No file system is made for data disc format %u\r",
              unsigned{o.dataDiscFormat});
    return kErrPrepareFailed;
  }
  const bool xa = o.iso9660XA && format->iso9660Part;
  // Session at once takes Mode 2 Form 1 blocks with their subheaders, but an ISO image
  // holds only the user data of each block.
  const bool subheaders = xa && o.sao && job.firstDestination() != kBP_ISOImageWriter;
  DPM_FileSystem_Base& volume = *fileSystem;
  std::unique_ptr<DPM_Base> producer = std::move(fileSystem);
  if (subheaders) producer = std::make_unique<DPM_Mode2Form1>(std::move(producer));
  std::uint16_t blockSize = subheaders ? DPM_Mode2Form1::kBlockBytes : kUserDataBytes;
  const std::uint32_t blocks = producer->PrepareAll(&blockSize, nullptr, nullptr);
  if (blocks == 0) {
    // A layout the producer refuses fails the preparation: left out, it would make a job
    // that reports success for a disc without the files.
    logFormat(job.shared, "\r?? The data track cannot be made: %s\r",
              volume.LayoutProblem().c_str());
    return kErrPrepareFailed;
  }

  Track track;
  track.number = nextTrackNumber++;
  track.mode = xa ? kModeTwoFormOne : kModeOne;
  track.blockSize = blockSize;
  track.data = true;
  track.start = start;
  track.blocks = blocks;
  track.dataDiscFormat = o.dataDiscFormat;
  describeForVerification(job, volume, track);
  track.producer = std::move(producer);

  Session& session = job.sessions.back();
  session.tracks.push_back(std::move(track));
  session.blocks += blocks;
  session.start = start;
  if (xa) session.format = 0x20;
  logFormat(job.shared, "\r%6u ~ %6u = %6u, %s", start, start + blocks - 1, blocks,
            xa ? "Mode 2 form 1 data" : "Mode 1 data");
  return kNoErr;
}

}  // namespace quillion::burn
