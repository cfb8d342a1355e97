// SPDX-License-Identifier: GPL-2.0-or-later
// The ISO9660 producer: a content tree becomes the blocks of an ISO9660 volume, with a
// Joliet tree beside it when asked, Apple extensions and CD-ROM XA fields. It is the file
// system of a plain data disc, the ISO9660 half of a hybrid, the ISO9660 bridge inside a
// UDF image and the ISO9660 part of a Video CD's first track.
//
// Only the header blocks (descriptors, path tables, directories) are held in memory; file
// data is read from the files as blocks are asked for.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "DPMs/base/dpm_filesystem_base.h"
#include "DPMs/iso9660/iso_descriptors.h"
#include "DPMs/iso9660/iso_dir_queue.h"
#include "DPMs/iso9660/iso_records.h"
#include "DPMs/iso9660/iso_tables.h"
#include "quillion/CS.h"

class DPM_FS_ISO9660 : public DPM_FileSystem_Base {
 public:
  enum ISOFormat : std::uint16_t {
    kISO9660 = 0,    // ISO9660 names only
    kJoliet = 2,     // ISO9660 and Joliet
    kUDFBridge = 3,  // Joliet, laid out around the UDF structures of a bridge image
  };

  // Limits of the format that a layout may reach; tests shrink them to reach the edges
  // with small files.
  struct Limits {
    // A file of more bytes is written as several records ("multi-extent"), each of at
    // most this many bytes (a multiple of 2048). The default is the largest such size a
    // 32-bit length can hold.
    std::uint64_t maxExtentBytes = 0xFFFFF800;
    // Parents are numbered in 16 bits in the path table.
    std::uint32_t maxDirectories = 0xFFFF;
  };

  // Every LBA written is offset by `sessionStart`. Format 3 becomes Joliet with the bridge
  // layout, without version suffixes or XA.
  DPM_FS_ISO9660(FS_Tree* tree, ISOFormat format, std::uint32_t sessionStart, bool appleExtensions,
                 bool versionSuffix, bool xa);
  DPM_FS_ISO9660(FS_Tree* tree, ISOFormat format, std::uint32_t sessionStart, bool appleExtensions,
                 bool versionSuffix, bool xa, const Limits& limits);
  ~DPM_FS_ISO9660() override;

  EngineStatus Init() override;
  void Term() override;
  // Blocks of the volume (16 + header + file data), 0 when it cannot be prepared: no block
  // size pointer, no tree, a refused layout (LayoutProblem says why), no memory, or a
  // block size other than 0 or 2048 (DPM_Mode2Form1 makes 2336-byte blocks of them).
  std::uint32_t PrepareAll(std::uint16_t* blockSize, DPM_ProgressProc progress,
                           void* userData) override;
  // Blocks from the read position: zeros for session blocks 0-15, then the header blocks,
  // then file data. kErrBadArgument for a null buffer or count.
  EngineStatus NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                          std::uint32_t* gotBlocks) override;
  // kErrProducerNoSource without a tree; kErrProducerName or kErrProducerTooManyFiles for a
  // layout that cannot be written (LayoutProblem says which); kErrOutOfMemory.
  EngineStatus GenerateStuffsForHeaders() override;
  EngineStatus GetFileLocList(FS_FileLocList** out) override;

  virtual std::uint32_t GetISO9660HeaderSize() const;  // header blocks x 2048
  virtual void SetDataAreaOffset(std::uint32_t bytes);
  virtual void SetSessionOffset(std::uint32_t block);
  // The table a hybrid or bridge part points its records at (not owned).
  virtual void SetFileLocTable(FS_FileLocTable* table);
  // First block (relative to the session start) and blocks of a directory's extent in the
  // tree of `format`; 0 for formats that have no tree of their own.
  virtual std::uint32_t GetNodeLBN(FS_Node* node, std::uint32_t* blocks, ISOFormat format) const;

  // Set by the Video CD data track before preparing: plain ISO9660 with version suffixes,
  // no Apple extensions, system identifier "CD-RTOS CD-BRIDGE".
  void SetVideoCDMode(bool on) { videoCD = on; }
  // The header blocks from session block 16 on, GetISO9660HeaderSize() bytes; null before
  // PrepareAll.
  const std::uint8_t* HeaderBuffer() const { return header.get(); }
  std::uint32_t DataAreaOffset() const { return dataAreaOffset; }

 private:
  bool joliet() const { return format == kJoliet; }
  [[nodiscard]] EngineStatus CalculateTablesSize();
  void layOutDirectories(quillion::iso::IsoDirQueue& queue, std::uint32_t firstBlock) const;
  quillion::iso::IsoTreeFields treeFields(const quillion::iso::IsoDirQueue& queue,
                                          std::uint32_t lBlock, std::uint32_t mBlock,
                                          std::uint32_t pathBytes) const;
  quillion::iso::IsoForkPlace locate(const FS_Node& node, bool resource) const;
  void writeTree(const quillion::iso::IsoDirQueue& queue, std::uint32_t lBlock,
                 std::uint32_t mBlock, std::uint32_t pathBytes,
                 std::span<std::uint8_t> buffer) const;
  quillion::iso::IsoRecordOptions recordOptions() const;
  void writeHeaders();
  void produce(std::uint8_t* out, std::uint32_t blocks);

  std::uint32_t sessionStart = 0;
  quillion::iso::IsoVolumeTexts texts;
  quillion::iso::IsoVolumeDates dates;
  bool videoCD = false;
  bool appleExtensions = false;
  bool versionSuffix = false;
  bool xa = false;
  bool bridge = false;
  ISOFormat format = kISO9660;
  Limits limits;

  quillion::iso::IsoDirQueue isoQueue;
  quillion::iso::IsoDirQueue jolietQueue;
  struct ConverterTerm {
    void operator()(CS_UCRecord* ref) const { CS_UC_Term(&ref); }
  };
  std::unique_ptr<CS_UCRecord, ConverterTerm> converter;  // titles to Joliet names

  // Session blocks of the tables, and their sizes.
  std::uint32_t pathTableBytes = 0, pathTableBlocks = 0, lPathTable = 0, mPathTable = 0;
  std::uint32_t firstDirBlock = 0, dirBlocks = 0;
  std::uint32_t jPathTableBytes = 0, jPathTableBlocks = 0, jlPathTable = 0, jmPathTable = 0;
  std::uint32_t jFirstDirBlock = 0;

  std::uint32_t headerBlocks = 0;
  std::unique_ptr<std::uint8_t[]> header;
  std::uint32_t dataAreaOffset = 0;  // blocks from the session start to the first file block
  FS_FileLocTable* tableInUse = nullptr;
  std::uint32_t fileBlocks = 0;
  std::uint32_t readBlock = 0;  // the next block NextBlocks hands out
  bool prepared = false;
};
