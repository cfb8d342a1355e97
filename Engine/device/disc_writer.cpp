// SPDX-License-Identifier: GPL-2.0-or-later
// The flat CDWriterEx_* functions: the context is made for an image or a drive destination,
// and every later call goes to that destination as it is.
#include <memory>

#include "common/handle_table.h"
#include "device/writer_context.h"

using namespace quillion;

namespace {

bool namesImageWriter(std::uint32_t ref) {
  return ref == kImageWriterHandle || ref == kIsoImageWriterHandle;
}

}  // namespace

myBurnEng_Pack* CDWriterEx_CreateCD(std::uint32_t ref, const char* imagePath,
                                    std::uint16_t imageType, bool simulate, std::uint16_t speedX,
                                    bool trackAtOnce, std::uint8_t sessions, bool closeDisc,
                                    bool underrunProtection, std::uint16_t* speedSet,
                                    std::uint32_t underrunKind) {
  if (ref == kNoHandle) return nullptr;
  auto c = std::make_unique<myBurnEng_Pack>();
  c->ref = ref;
  if (namesImageWriter(ref) && imagePath) {
    c->destination = writer::openImage(imagePath, imageType, trackAtOnce, closeDisc);
    if (c->destination && speedSet) *speedSet = speedX;
  } else {
    // The pseudo-drives without a path go the drive way and fail there, as any unknown drive.
    const writer::DriveRequest request{
        ref,       simulate,           speedX,   trackAtOnce, sessions,
        closeDisc, underrunProtection, speedSet, underrunKind};
    c->destination = writer::openDrive(request);
  }
  return c->destination ? c.release() : nullptr;
}

EngineStatus CDWriterEx_CreateSession(myBurnEng_Pack* c, std::uint8_t format,
                                      std::uint8_t firstTrackMode, std::int32_t startAddress,
                                      const std::uint8_t* cueSheet, std::uint32_t cueSheetLength,
                                      const std::uint8_t* cdText, std::uint32_t cdTextLength) {
  if (!c) return kErrBadArgument;
  return c->destination->createSession(
      {format, firstTrackMode, startAddress, cueSheet, cueSheetLength, cdText, cdTextLength});
}

EngineStatus CDWriterEx_CreateTrack(myBurnEng_Pack* c, std::uint8_t trackNumber,
                                    std::uint8_t dataBlockType, std::uint16_t blockSize,
                                    std::uint16_t pauseBlocks, const CDWriterEx_TrackExtra* extra,
                                    std::uint32_t imageStart) {
  if (!c) return kErrBadArgument;
  return c->destination->createTrack(
      {trackNumber, dataBlockType, blockSize, pauseBlocks, extra, imageStart});
}

EngineStatus CDWriterEx_WriteCD(myBurnEng_Pack* c, const void* buffer, std::uint16_t blocks,
                                std::uint16_t blockSize, const std::atomic<bool>* stop) {
  if (!c) return kErrBadArgument;
  return c->destination->write(buffer, blocks, blockSize, stop);
}

EngineStatus CDWriterEx_ReserveTrack(myBurnEng_Pack* c, std::uint32_t blocks) {
  if (!c) return kErrBadArgument;
  return c->destination->reserve(blocks);
}

EngineStatus CDWriterEx_CloseTrack(myBurnEng_Pack* c) {
  if (!c) return kErrBadArgument;
  return c->destination->closeTrack();
}

EngineStatus CDWriterEx_CloseSession(myBurnEng_Pack* c) {
  if (!c) return kErrBadArgument;
  return c->destination->closeSession();
}

EngineStatus CDWriterEx_CloseCD(myBurnEng_Pack* context) {
  if (!context || context->ref == kNoHandle) return kErrBadArgument;
  const std::unique_ptr<myBurnEng_Pack> c(context);
  return c->destination->finish();
}

EngineStatus CDWriterEx_GetCurrentSense(const myBurnEng_Pack* c, MMC_SenseData* sense) {
  if (!c) return kErrBadArgument;
  if (sense) *sense = c->destination->sense();
  return kNoErr;
}

EngineStatus CDWriterEx_StopCD(myBurnEng_Pack* c) {
  return c && c->ref != kNoHandle ? EngineStatus{kNoErr} : EngineStatus{kErrBadArgument};
}

EngineStatus CDWriterEx_WriteCDEmptySectors(myBurnEng_Pack* c) {
  return c && c->ref != kNoHandle ? EngineStatus{kNoErr} : EngineStatus{kErrBadArgument};
}
