// SPDX-License-Identifier: GPL-2.0-or-later
// The flat CDWriterEx_* functions: each one hands its call to the image or the drive side.
#include <memory>

#include "device/writer_context.h"
#include "quillion/handle_table.h"

using namespace quillion;

namespace {

bool isImageRef(std::uint32_t ref) {
  return ref == kImageWriterHandle || ref == kIsoImageWriterHandle;
}

}  // namespace

myBurnEng_Pack* CDWriterEx_CreateCD(std::uint32_t ref, const char* imagePath,
                                    std::uint16_t imageType, bool simulate, std::uint16_t speedX,
                                    bool trackAtOnce, std::uint8_t sessions, bool closeDisc,
                                    bool underrunProtection, std::uint16_t* speedSet,
                                    std::uint32_t underrunKind) {
  if (ref == kNoHandle) return nullptr;
  if (isImageRef(ref) && imagePath) {
    auto context = writer::createImage(ref, imagePath, imageType, trackAtOnce, closeDisc);
    if (context && speedSet) *speedSet = speedX;
    return context.release();
  }
  // The pseudo-drives without a path go the drive way and fail there, as any unknown drive.
  const writer::DriveRequest request{ref,       simulate,           speedX,   trackAtOnce, sessions,
                                     closeDisc, underrunProtection, speedSet, underrunKind};
  return writer::createDrive(request).release();
}

EngineStatus CDWriterEx_CreateSession(myBurnEng_Pack* c, std::uint8_t format,
                                      std::uint8_t firstTrackMode, std::int32_t startAddress,
                                      const std::uint8_t* cueSheet, std::uint32_t cueSheetLength,
                                      const std::uint8_t* cdText, std::uint32_t cdTextLength) {
  if (!c) return kErrBadArgument;
  if (c->isImage())
    return writer::imageSession(*c, format, firstTrackMode, startAddress, cdText, cdTextLength);
  return writer::driveSession(*c, format, firstTrackMode, startAddress, cueSheet, cueSheetLength);
}

EngineStatus CDWriterEx_CreateTrack(myBurnEng_Pack* c, std::uint8_t trackNumber,
                                    std::uint8_t dataBlockType, std::uint16_t blockSize,
                                    std::uint16_t pauseBlocks, const CDWriterEx_TrackExtra* extra,
                                    std::uint32_t imageStart) {
  if (!c) return kErrBadArgument;
  if (c->isImage()) {
    return writer::imageTrack(*c, trackNumber, dataBlockType, blockSize, pauseBlocks, extra,
                              imageStart);
  }
  return writer::driveTrack(*c, trackNumber, dataBlockType, pauseBlocks);
}

EngineStatus CDWriterEx_WriteCD(myBurnEng_Pack* c, const void* buffer, std::uint16_t blocks,
                                std::uint16_t blockSize, const std::atomic<bool>* stop) {
  if (!c) return kErrBadArgument;
  if (c->isImage()) {
    const EngineStatus status = c->image->WriteData(buffer, blocks);
    if (status == kNoErr) c->nextWriteAddress += blocks;
    return status;
  }
  if (!stop || !buffer) return kErrBadArgument;
  return writer::driveWrite(*c, static_cast<const std::uint8_t*>(buffer), blocks, blockSize, *stop);
}

EngineStatus CDWriterEx_ReserveTrack(myBurnEng_Pack* c, std::uint32_t blocks) {
  if (!c) return kErrBadArgument;
  return c->isImage() ? EngineStatus{kNoErr} : writer::driveReserveTrack(*c, blocks);
}

EngineStatus CDWriterEx_CloseTrack(myBurnEng_Pack* c) {
  if (!c) return kErrBadArgument;
  return c->isImage() ? c->image->CloseTrack() : writer::driveCloseTrack(*c);
}

EngineStatus CDWriterEx_CloseSession(myBurnEng_Pack* c) {
  if (!c) return kErrBadArgument;
  return c->isImage() ? c->image->CloseSession() : writer::driveCloseSession(*c);
}

EngineStatus CDWriterEx_CloseCD(myBurnEng_Pack* context) {
  if (!context || context->ref == kNoHandle) return kErrBadArgument;
  const std::unique_ptr<myBurnEng_Pack> c(context);
  return c->isImage() ? c->image->Close() : writer::driveRestoreDefaults(*c);
}

EngineStatus CDWriterEx_GetCurrentSense(const myBurnEng_Pack* c, MMC_SenseData* sense) {
  if (!c) return kErrBadArgument;
  if (sense) *sense = c->sense;
  return kNoErr;
}

EngineStatus CDWriterEx_StopCD(myBurnEng_Pack* c) {
  return c && c->ref != kNoHandle ? EngineStatus{kNoErr} : EngineStatus{kErrBadArgument};
}

EngineStatus CDWriterEx_WriteCDEmptySectors(myBurnEng_Pack* c) {
  return c && c->ref != kNoHandle ? EngineStatus{kNoErr} : EngineStatus{kErrBadArgument};
}
