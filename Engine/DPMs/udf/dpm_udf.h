// SPDX-License-Identifier: GPL-2.0-or-later
// The UDF bridge producer: a content tree becomes a UDF volume that also carries an
// ISO9660 volume over the same file data. Plain mode writes UDF 1.02 or 1.50 with 16-bit
// names and an ISO9660 stub holding only README.TXT; DVD-Video order writes UDF 1.02 with
// the DVD-Video files where players expect them, their navigation files patched to the
// real sectors, and a full ISO9660/Joliet volume built by the ISO9660 producer.
//
// Sectors 0-65, the anchor at sector 256 and (DVD-Video) the ISO9660 tables after it are
// built in memory in PrepareAll; the file set descriptor, the file entries and the
// directories are made by NextBlocks as their sectors come due, so the memory they take
// does not grow with the number of files.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DPMs/base/dpm_filesystem_base.h"
#include "DPMs/udf/udf_partition.h"
#include "quillion/CS.h"

class DPM_UDF : public DPM_FileSystem_Base {
 public:
  static constexpr std::uint16_t kModeDVDVideo = 1;
  static constexpr std::uint16_t kModeUDF102 = 0x102;
  static constexpr std::uint16_t kModeUDF150 = 0x150;

  // Limits and seams that tests move to reach the edges with small files.
  struct Options {
    // A file extent holds at most this many bytes (a multiple of 2048 below 2^30).
    std::uint64_t maxExtentBytes = 0x3FFFF800;
    // The encoding node titles are read in.
    std::uint32_t nameEncoding = kCS_EncodingUTF8;
    // Where patched navigation files are kept until Term; empty: the system's temporary
    // folder.
    std::filesystem::path temporaryFolder;
  };

  // `mode`: kModeUDF102, kModeUDF150 or kModeDVDVideo. `start`: the absolute sector of the
  // image's first sector. `partitionStart` is taken as 257 whenever start is not 0.
  DPM_UDF(FS_Tree* tree, std::uint32_t start, std::uint32_t partitionStart, std::uint16_t mode);
  DPM_UDF(FS_Tree* tree, std::uint32_t start, std::uint32_t partitionStart, std::uint16_t mode,
          Options options);
  ~DPM_UDF() override;

  // kErrOutOfMemory when the name converter cannot be made.
  EngineStatus Init() override;
  // Removes the patched navigation files and frees every buffer.
  void Term() override;
  // Blocks of the image (at least 512), 0 when it cannot be made; LayoutProblem says why.
  // Only 2048-byte blocks are made (0 asks for them).
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  EngineStatus GenerateStuffsForHeaders() override;
  // kErrBadArgument for a null argument, kErrOutOfMemory when the list cannot be made.
  EngineStatus GetFileLocList(FS_FileLocList** out) override;

  // Copies the anchor volume descriptor pointer sector (2048 bytes); 1, or 0 before
  // PrepareAll or for a null buffer.
  int GetAVDP(void* out) const;

  // What the last PrepareAll ended with: kNoErr, or why it made no image (LayoutProblem
  // says more): kErrFileAccess for a navigation file or a patched copy that cannot be read
  // or written, kErrProducerFormat for a DVD-Video folder whose navigation cannot be
  // patched, kErrProducerName, kErrProducerTooManyFiles, kErrOutOfMemory (no name
  // converter), kErrBadArgument (block size, DVD-Video after sector 0).
  EngineStatus PrepareStatus() const { return prepareStatus; }
  std::uint16_t Revision() const { return revision; }
  bool DVDVideo() const { return dvdVideo; }
  // Sectors from sector 256 to the first file data sector.
  std::uint32_t PartitionBufferSectors() const { return partitionSectors; }

 private:
  [[nodiscard]] EngineStatus prepare(std::uint16_t* blockSize, DPM_ProgressProc progress,
                                     void* userData);
  [[nodiscard]] EngineStatus nameOf(const std::string& title, quillion::udf::OstaName& out);
  [[nodiscard]] EngineStatus prepareDvdVideo(std::uint16_t* blockSize, DPM_ProgressProc progress,
                                             void* userData);
  [[nodiscard]] EngineStatus patchNavigation();
  [[nodiscard]] EngineStatus checkFiles();
  quillion::udf::UdfFilePlace locate(const FS_Node& node) const;
  void fillFacts();
  void release();  // everything PrepareAll makes
  void produce(std::uint8_t* out, std::uint32_t blocks);
  void producePartitionHeader(std::uint8_t* out, std::uint32_t first, std::uint32_t count);

  std::uint32_t start = 0;
  std::uint32_t partitionStart = 0;  // absolute sector of partition block 0
  std::uint16_t revision = 0x0102;
  bool dvdVideo = false;
  Options options;
  std::tm recordedAt{};
  std::int32_t recordedOffsetMinutes = 0;

  struct ConverterTerm {
    void operator()(CS_UCRecord* ref) const { CS_UC_Term(&ref); }
  };
  std::unique_ptr<CS_UCRecord, ConverterTerm> converter;

  quillion::udf::UdfVolumeFacts facts;
  quillion::udf::UdfPartitionPlan plan;
  std::uint32_t headerSectorsH = 5;     // sector 256 to the partition's start
  std::uint32_t partitionSectors = 0;   // P_len
  std::uint32_t fileBlocks = 0;         // F
  std::vector<std::uint8_t> header;     // sectors 0-65
  std::vector<std::uint8_t> anchor;     // sector 256
  std::vector<std::uint8_t> isoTables;  // DVD-Video: the ISO9660 part's sectors from 257 on
  std::optional<quillion::udf::UdfHeaderBlocks> headerBlocks;  // from sector 256 + H on
  std::uint32_t delivered = 0;
  bool prepared = false;
  EngineStatus prepareStatus = kNoErr;

  struct SubstituteNode {
    std::unique_ptr<FS_Node> node;
    std::filesystem::path file;
  };
  std::deque<SubstituteNode> substitutes;
};
