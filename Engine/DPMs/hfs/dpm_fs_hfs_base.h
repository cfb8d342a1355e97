// SPDX-License-Identifier: GPL-2.0-or-later
// The common base of the HFS and HFS Plus producers: the operations through which the
// hybrid producer lays an ISO9660 volume over either of them, sharing the file data, and
// what both images have in common: a header area built in memory, the file data read as
// it is streamed, and an alternate volume header 1024 bytes before the image's end.
#pragma once

#include <cstdint>
#include <vector>

#include "DPMs/base/dpm_filesystem_base.h"

class DPM_FS_HFSBase : public DPM_FileSystem_Base {
 public:
  explicit DPM_FS_HFSBase(FS_Tree* contentTree);
  ~DPM_FS_HFSBase() override;

  // How many bytes of ISO9660 header (from image byte 32768 on) the image must make room
  // for; set by the hybrid before GenerateStuffsForHeaders.
  virtual void SetISO9660HeaderSize(std::uint64_t bytes);
  // The image byte at which file data begins.
  virtual std::uint64_t GetDataAreaOffset() const;
  // Copies the ISO9660 header into the image at byte 32768: kErrBadArgument for a null
  // header, kErrOutOfMemory before the header area exists, kErrProducerHeaderSize when
  // `bytes` is not the size set before.
  virtual EngineStatus CombineISO9660Header(const void* header, std::uint64_t bytes);
  // The producer's own table, so that the ISO9660 records point at the same file data.
  virtual FS_FileLocTable* GetFileLocTable();

  // Blocks of 2048 bytes from the stream position. kErrBadArgument for a null buffer or
  // count; nothing before PrepareAll.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  // The forks that came out as zeros, and before them every item left out of the catalog
  // because it could not be read when the layout was made.
  const std::vector<DPM_MissingData>& MissingData() const override;

  // The image as laid out (valid once prepared): everything before the first file byte,
  // the file data's bytes and the whole image's bytes.
  std::uint64_t HeaderAreaBytes() const { return headerArea.size(); }
  std::uint64_t ImageBytes() const { return imageBytes; }

 protected:
  static constexpr std::uint64_t kISO9660HeaderOffset = 32768;
  static constexpr std::uint32_t kSectorBytes = 2048;

  // Accepts a block size request of 0 or 2048 (Mode 2 sectors come from wrapping the
  // producer) and answers 2048; false for any other.
  bool acceptBlockSize(std::uint16_t* requested);
  // Image of `fileDataBytes` after the header area and `tailBytes` after them that end
  // with the alternate header (rounded up to 2048): sets the image size, writes the
  // partition map, rewinds the stream. False when the image would not be numbered in
  // 32-bit blocks.
  bool finishImage(std::uint64_t fileDataBytes, std::uint32_t tailBytes, std::uint16_t deviceId,
                   const std::uint8_t* alternateHeader);
  // Records an item left out of the catalog: a burn-log line and a missing-data record.
  void recordSkipped(FS_Node& node);
  void clearImage();

  std::vector<std::uint8_t> headerArea;  // image bytes 0 .. the data area offset
  std::uint64_t isoHeaderBytes = 0;
  std::uint32_t sessionStart = 0;

 private:
  void produce(std::uint8_t* out, std::size_t bytes);

  std::uint64_t dataBytes = 0;
  std::uint64_t imageBytes = 0;
  std::uint64_t position = 0;
  std::vector<std::uint8_t> alternate;  // 512 bytes at the image's end - 1024
  bool prepared = false;
  std::vector<DPM_MissingData> skipped;
  mutable std::vector<DPM_MissingData> allMissing;
};
