// SPDX-License-Identifier: GPL-2.0-or-later
// The codes every layout window shares: layout kinds, data-disc formats, the burn job code a
// window asks the engine for, destination references and the close-disc method. Each table
// is the one place that knows its codes; windows look them up.
#pragma once

#include <cstdint>
#include <span>

#include "quillion/BP.h"

namespace quillion {

// currentLayoutType of each kind of layout window.
enum LayoutType : int {
  kLayoutNone = 0,
  kLayoutData = 1,  // data disc, also picture CD
  kLayoutAudio = 2,
  kLayoutMixedMode = 3,
  kLayoutCDExtra = 4,
  kLayoutMP3 = 5,
  kLayoutVCD = 6,
  kLayoutSVCD = 8,
  kLayoutCopy = 10,  // disc copy and multiple copy
  kLayoutLiveAudio = 12,
};

struct LayoutTypeRow {
  int code;
  const char* kind;
  const char* controllers;
  const char* windowFiles;
};
// One row per kind, in code order.
const LayoutTypeRow* layoutTypeRow(int code);  // null for an unknown code

// Data-disc format codes: low nibble HFS (1) or HFS Plus (2), bits 4-7 UDF, bits 8-11
// ISO9660 (1 plain, 2 Joliet).
struct DataFormatRow {
  std::uint32_t code;
  const char* fileSystem;
};
const DataFormatRow* dataFormatRow(std::uint32_t code);  // null for an unknown code
// Every format, in code order.
std::span<const DataFormatRow> dataFormatRows();
inline constexpr std::uint32_t kFormatHFSPlus = 2;
inline constexpr std::uint32_t kFormatDVDVideo = 64;
inline constexpr std::uint32_t kFormatJoliet = 512;

// Destination references besides real drives.
inline constexpr std::uint32_t kNoDestination = 0;
inline constexpr std::uint32_t kCDImageWriterRef = kBP_NativeImageWriter;
inline constexpr std::uint32_t kISOImageWriterRef = kBP_ISOImageWriter;
constexpr bool isImageWriterRef(std::uint32_t ref) {
  return ref == kCDImageWriterRef || ref == kISOImageWriterRef;
}
constexpr bool isRealDriveRef(std::uint32_t ref) {
  return ref != kNoDestination && !isImageWriterRef(ref);
}

// What a job is made for: the burn itself, or the sizing pass before it.
enum class JobPurpose { kBurn, kSizing };

// The job code of a layout window: the kind's job kind with the route to an image file
// (destination -1 or -2) or to drives. 0 for a kind that has no layout job of its own (the
// copy windows, see copyJobCode).
BP_JobCode layoutJobCode(int layoutType, std::uint32_t dstRef, JobPurpose purpose);

// The copy windows: drive to image file, image file to drives, drive to drives.
BP_JobCode copyJobCode(std::uint32_t srcRef, std::uint32_t dstRef);

// Close-disc method: 0 until the first burn from the options sheet, then 1 (close the disc,
// the burn-disc button of tag 1) or 2 (leave it open for a further session).
enum CloseDiscMethod : int { kCloseDiscUnset = 0, kCloseDisc = 1, kLeaveDiscOpen = 2 };
constexpr int closeDiscMethodForTag(int tag) {
  return tag == 1 ? kCloseDisc : kLeaveDiscOpen;
}

// Kinds that never offer verification after writing, whatever the preference says; a data
// layout in DVD-Video order neither.
bool kindOffersVerification(int layoutType, std::uint32_t formatType);

}  // namespace quillion
