// SPDX-License-Identifier: GPL-2.0-or-later
// Sessions and their services: the record's defaults and layout, caller-owned records, the
// caller's allocator and printers (through get_rc or the record's own fields), the answers
// handed to loaded libraries, output picture formats and their buffers.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brindle.h"
#include "frame_buffers.h"
#include "resources.h"
#include "session.h"
#include "tests/support/test_support.h"

namespace quillion::brindle {
namespace {

struct Calls {
  int mallocs = 0;
  int frees = 0;
  bool failMalloc = false;
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  std::vector<std::string> infos;
};
Calls* gCalls = nullptr;

void* countingMalloc(std::size_t n) {
  if (gCalls->failMalloc) return nullptr;
  ++gCalls->mallocs;
  return std::malloc(n);
}
void countingFree(void* p) {
  ++gCalls->frees;
  std::free(p);
}
__attribute__((format(printf, 2, 0))) void keep(std::vector<std::string>& to, const char* format,
                                               va_list args) {
  to.push_back(quillion::test::formatted(format, args));
}
__attribute__((format(printf, 1, 2))) void errorPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  keep(gCalls->errors, format, args);
  va_end(args);
}
__attribute__((format(printf, 1, 2))) void warningPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  keep(gCalls->warnings, format, args);
  va_end(args);
}
__attribute__((format(printf, 1, 2))) void infoPrinter(const char* format, ...) {
  va_list args;
  va_start(args, format);
  keep(gCalls->infos, format, args);
  va_end(args);
}

void* fullRc(const char* name) {
  const std::string n = name;
  if (n == "malloc") return reinterpret_cast<void*>(&countingMalloc);
  if (n == "free") return reinterpret_cast<void*>(&countingFree);
  if (n == "err_printf") return reinterpret_cast<void*>(&errorPrinter);
  if (n == "wrn_printf") return reinterpret_cast<void*>(&warningPrinter);
  if (n == "inf_printf") return reinterpret_cast<void*>(&infoPrinter);
  return nullptr;
}
void* nullRc(const char* /*name*/) {
  return nullptr;
}
void* mallocOnlyRc(const char* name) {
  return std::string(name) == "malloc" ? reinterpret_cast<void*>(&countingMalloc) : nullptr;
}

class BrindleSession : public ::testing::Test {
 protected:
  void SetUp() override { gCalls = &calls_; }
  void TearDown() override { gCalls = nullptr; }
  Calls calls_;
};

TEST_F(BrindleSession, NewSessionDefaults) {
  mpeg_in_info* r = mpegInNew(nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->private_size, mpegInPrivateSize());
  EXPECT_EQ(mpegInPrivateSize(), sizeof(mpeg_in_private));
  EXPECT_EQ(reinterpret_cast<unsigned char*>(r->priv),
            reinterpret_cast<unsigned char*>(r) + sizeof(mpeg_in_info));
  EXPECT_EQ(r->options, 7u);
  EXPECT_EQ(r->options2, 7u);
  EXPECT_EQ(r->fourcc, static_cast<std::uint32_t>(MPEG_IN_FOURCC_BGRA));
  EXPECT_EQ(r->chosen_audio_stream, 1u);
  EXPECT_EQ(r->chosen_video_stream, 1u);
  EXPECT_EQ(r->chosen_subpicture_stream, 0u);
  EXPECT_EQ(r->dvd_program_chain, 1u);
  EXPECT_EQ(r->dvd_angle, 1u);
  EXPECT_EQ(r->dvd_word, 8u);
  EXPECT_EQ(r->dvd_title, 1u);
  EXPECT_EQ(r->quiet, 1u);
  EXPECT_EQ(r->quick_scan, 1u);
  EXPECT_EQ(r->open, 0u);
  EXPECT_EQ(r->priv->inside_block, 1u);
  EXPECT_EQ(r->priv->caller_owned, 0u);
  EXPECT_EQ(r->priv->resources.attached, 1u);
  mpegInClose(r);  // nothing open: nothing happens
  mpegInFree(r);
}

TEST_F(BrindleSession, CallerRecordsNeedTheirPrivateSize) {
  std::vector<unsigned char> block(sizeof(mpeg_in_info) + mpegInPrivateSize(), 0xCC);
  auto* r = reinterpret_cast<mpeg_in_info*>(block.data());
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->private_size = 194656;
  EXPECT_EQ(mpegInNew(nullptr, r), nullptr);
  r->private_size = mpegInPrivateSize();
  r->options = 3;
  ASSERT_EQ(mpegInNew(nullptr, r), r);
  EXPECT_EQ(r->options, 3u);  // a caller's record keeps its own wishes
  EXPECT_EQ(r->fourcc, 0u);
  EXPECT_EQ(r->priv->caller_owned, 1u);
  EXPECT_EQ(r->priv->video.demux_parser, 0);  // the private part starts empty
  mpegInFree(r);                              // the caller's block stays the caller's
  EXPECT_EQ(r->private_size, mpegInPrivateSize());
}

TEST_F(BrindleSession, TheCallersAllocatorMakesAndReleasesTheSession) {
  mpeg_in_info* r = mpegInNew(&fullRc, nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(calls_.mallocs, 1);
  void* block = session_malloc(r, 10);
  session_free(r, block);
  EXPECT_EQ(calls_.mallocs, 2);
  EXPECT_EQ(calls_.frees, 1);
  mpegInFree(r);
  EXPECT_EQ(calls_.frees, 2);
  calls_.failMalloc = true;
  EXPECT_EQ(mpegInNew(&fullRc, nullptr), nullptr);
}

TEST_F(BrindleSession, MissingOrHalfGivenAllocatorsFallBackToTheSystemPair) {
  for (mpeg_get_rc rc : {&nullRc, &mallocOnlyRc}) {
    mpeg_in_info* r = mpegInNew(rc, nullptr);
    ASSERT_NE(r, nullptr);
    void* block = session_malloc(r, 64);
    ASSERT_NE(block, nullptr);
    session_free(r, block);
    mpegInFree(r);
  }
  EXPECT_EQ(calls_.mallocs, 0);  // a malloc without its free is never used
}

TEST_F(BrindleSession, InfoInitSetsDefaultsWithoutAPrivatePart) {
  std::vector<unsigned char> block(sizeof(mpeg_in_info), 0xAB);
  auto* r = reinterpret_cast<mpeg_in_info*>(block.data());
  mpegInInfoInit(r);
  EXPECT_EQ(r->priv, nullptr);
  EXPECT_EQ(r->private_size, 0u);
  EXPECT_EQ(r->fourcc, 0u);
  EXPECT_EQ(r->options, 7u);
  EXPECT_EQ(r->chosen_subpicture_stream, 1u);
  EXPECT_EQ(r->dvd_word, 8u);
  EXPECT_EQ(r->width, 0u);
  mpegInInfoInit(nullptr);
  mpegInClose(r);  // without a private part: nothing happens
}

TEST_F(BrindleSession, MessagesReachTheCallersPrintersAsFinishedLines) {
  mpeg_in_info* r = mpegInNew(&fullRc, nullptr);
  report_error(r, "Unsupported fourcc type: 0x%08X", 0x1234u);
  report_warning(r, "%s", "100%d of %s");
  report_info(r, "Searching for video frames...");
  ASSERT_EQ(calls_.errors.size(), 1u);
  EXPECT_EQ(calls_.errors[0], "Unsupported fourcc type: 0x00001234");
  ASSERT_EQ(calls_.warnings.size(), 1u);
  EXPECT_EQ(calls_.warnings[0], "100%d of %s");
  ASSERT_EQ(calls_.infos.size(), 1u);
  mpegInFree(r);
}

TEST_F(BrindleSession, WithoutGetRcTheRecordsOwnFieldsServe) {
  std::vector<unsigned char> block(sizeof(mpeg_in_info) + mpegInPrivateSize(), 0);
  auto* r = reinterpret_cast<mpeg_in_info*>(block.data());
  r->private_size = mpegInPrivateSize();
  r->err_printf = &errorPrinter;
  r->malloc_fn = &countingMalloc;
  r->free_fn = &countingFree;
  ASSERT_EQ(mpegInNew(nullptr, r), r);
  report_error(r, "pic_buffer[%d] malloc failed", 1);
  report_warning(r, "dropped: no warning printer was given");
  ASSERT_EQ(calls_.errors.size(), 1u);
  EXPECT_EQ(calls_.errors[0], "pic_buffer[1] malloc failed");
  session_free(r, session_malloc(r, 8));
  EXPECT_EQ(calls_.mallocs, 1);
  EXPECT_EQ(calls_.frees, 1);
  EXPECT_EQ(r->priv->resources.get_rc, &get_rc_default);
  EXPECT_NE(r->priv->resources.progress, nullptr);
  EXPECT_NE(r->priv->resources.prompt_index_mode, nullptr);
  EXPECT_EQ(r->priv->resources.prompt_index_mode(), 0);
  mpegInFree(r);
}

TEST_F(BrindleSession, DefaultAnswersAreByExactName) {
  EXPECT_EQ(get_rc_default("malloc"), reinterpret_cast<void*>(&std::malloc));
  EXPECT_EQ(get_rc_default("free"), reinterpret_cast<void*>(&std::free));
  for (const char* name :
       {"err_printf", "prg_printf", "wrn_printf", "inf_printf", "prompt_index_mode"})
    EXPECT_NE(get_rc_default(name), nullptr) << name;
  for (const char* name : {"Malloc", "malloc ", "yield", "progress_callback", ""})
    EXPECT_EQ(get_rc_default(name), nullptr) << name;
}

TEST_F(BrindleSession, LoadedLibrariesReachTheSessionThroughGetRcEx) {
  mpeg_in_info* r = mpegInNew(&fullRc, nullptr);
  auto mallocEx = reinterpret_cast<mpeg_malloc_ex_fn>(get_rc_ex_answer(r, "malloc_ex"));
  auto freeEx = reinterpret_cast<mpeg_free_ex_fn>(get_rc_ex_answer(r, "free_ex"));
  auto errEx = reinterpret_cast<mpeg_printf_ex_fn>(get_rc_ex_answer(r, "err_printf_ex"));
  auto wrnEx = reinterpret_cast<mpeg_printf_ex_fn>(get_rc_ex_answer(r, "wrn_printf_ex"));
  auto infEx = reinterpret_cast<mpeg_printf_ex_fn>(get_rc_ex_answer(r, "inf_printf_ex"));
  ASSERT_TRUE(mallocEx && freeEx && errEx && wrnEx && infEx);
  EXPECT_EQ(get_rc_ex_answer(r, "prg_printf_ex"), nullptr);
  EXPECT_EQ(get_rc_ex_answer(r, "malloc"), nullptr);
  const int before = calls_.mallocs;
  freeEx(r, mallocEx(r, 32));
  EXPECT_EQ(calls_.mallocs, before + 1);
  errEx(r, "Unable to open file %s (%d)", "a.mpg", 2);
  wrnEx(r, "w %u", 5u);
  infEx(r, "i");
  ASSERT_EQ(calls_.errors.size(), 1u);
  EXPECT_EQ(calls_.errors[0], "Unable to open file a.mpg (2)");
  EXPECT_EQ(calls_.warnings.at(0), "w 5");
  EXPECT_EQ(calls_.infos.at(0), "i");
  mpegInFree(r);
}

TEST_F(BrindleSession, PrivatePartsForRecordsBuiltByTheCaller) {
  std::vector<unsigned char> block(sizeof(mpeg_in_info), 0);
  auto* r = reinterpret_cast<mpeg_in_info*>(block.data());
  mpegInInfoInit(r);
  ASSERT_EQ(alloc_private(r, &fullRc), 0);
  ASSERT_NE(r->priv, nullptr);
  EXPECT_EQ(r->priv->inside_block, 0u);
  EXPECT_EQ(calls_.mallocs, 1);
  countingFree(r->priv);

  mpegInInfoInit(r);
  r->err_printf = &errorPrinter;
  calls_.failMalloc = true;
  EXPECT_EQ(alloc_private(r, &fullRc), 1);
  EXPECT_EQ(r->priv, nullptr);
  ASSERT_EQ(calls_.errors.size(), 1u);
  EXPECT_EQ(calls_.errors[0], "Unable to allocate " + std::to_string(sizeof(mpeg_in_private)) +
                                  " bytes for decoder private data");
  // Inside its own block a session needs nothing more.
  calls_.failMalloc = false;
  mpeg_in_info* own = mpegInNew(nullptr, nullptr);
  const int before = calls_.mallocs;
  EXPECT_EQ(alloc_private(own, &fullRc), 0);
  EXPECT_EQ(calls_.mallocs, before);
  mpegInFree(own);
}

TEST_F(BrindleSession, LastErrorTextIsEmptyAndStubsAnswer) {
  ASSERT_NE(mpegInGetLastErrString(), nullptr);
  EXPECT_STREQ(mpegInGetLastErrString(), "");
  mpeg_in_info* r = mpegInNew(nullptr, nullptr);
  EXPECT_EQ(mpegInOpenExisting(r), 0);
  mpegInCloseExisting(r);
  mpegInUpdateFiles(r);
  mpegInFree(r);
}

// The record keeps the field order of its historical layout, whatever the pointer size.
TEST(BrindleRecord, FieldsKeepTheirOrder) {
  const std::size_t offsets[] = {
      offsetof(mpeg_in_info, file_name),
      offsetof(mpeg_in_info, options),
      offsetof(mpeg_in_info, open),
      offsetof(mpeg_in_info, mpeg2),
      offsetof(mpeg_in_info, frame_buffer),
      offsetof(mpeg_in_info, coded_frame),
      offsetof(mpeg_in_info, audio_available),
      offsetof(mpeg_in_info, row_order),
      offsetof(mpeg_in_info, external_frame_buffer),
      offsetof(mpeg_in_info, audio_samples),
      offsetof(mpeg_in_info, use_all_frames),
      offsetof(mpeg_in_info, profile),
      offsetof(mpeg_in_info, aspect_ratio_information),
      offsetof(mpeg_in_info, temporal_reference),
      offsetof(mpeg_in_info, f_code),
      offsetof(mpeg_in_info, frame_centre_vertical_offset),
      offsetof(mpeg_in_info, broken_link),
      offsetof(mpeg_in_info, intra_quantiser_matrix),
      offsetof(mpeg_in_info, picture_display_extension_seen),
      offsetof(mpeg_in_info, audio_channels),
      offsetof(mpeg_in_info, audio_emphasis),
      offsetof(mpeg_in_info, stream_type_code),
      offsetof(mpeg_in_info, fourcc),
      offsetof(mpeg_in_info, file_size),
      offsetof(mpeg_in_info, sequence_header),
      offsetof(mpeg_in_info, audio_format),
      offsetof(mpeg_in_info, whole_frame_rate),
      offsetof(mpeg_in_info, video_pids),
      offsetof(mpeg_in_info, dvd_title_count),
      offsetof(mpeg_in_info, prompt_index_mode),
      offsetof(mpeg_in_info, private_size),
      offsetof(mpeg_in_info, get_rc),
      offsetof(mpeg_in_info, priv),
  };
  for (std::size_t i = 1; i < std::size(offsets); ++i) EXPECT_LT(offsets[i - 1], offsets[i]) << i;
  EXPECT_EQ(offsetof(mpeg_in_info, priv) + sizeof(void*), sizeof(mpeg_in_info));
  // Words between named fields keep their 32-bit spacing where no pointer intervenes.
  EXPECT_EQ(offsetof(mpeg_in_info, intra_quantiser_matrix) - offsetof(mpeg_in_info, profile),
            628u - 344u);
  EXPECT_EQ(offsetof(mpeg_in_info, stream_type_code) - offsetof(mpeg_in_info, audio_channels),
            3304u - 3232u);
}

TEST(BrindleFourcc, DefaultsChosenByOptionBits) {
  EXPECT_EQ(default_fourcc(7), static_cast<std::uint32_t>(MPEG_IN_FOURCC_BGRA));
  EXPECT_EQ(default_fourcc(3), static_cast<std::uint32_t>(MPEG_IN_FOURCC_BGRA));
  EXPECT_EQ(default_fourcc(15), static_cast<std::uint32_t>(MPEG_IN_FOURCC_BGR3));
  EXPECT_EQ(default_fourcc(1), static_cast<std::uint32_t>(MPEG_IN_FOURCC_YV12));
  EXPECT_EQ(default_fourcc(2), 0u);
  EXPECT_EQ(default_fourcc(4), 0u);
  EXPECT_EQ(default_fourcc(8), 0u);
}

TEST(BrindleFourcc, PackedStrides) {
  struct Case {
    std::uint32_t fourcc, width, stride;
  };
  for (const Case c : {Case{MPEG_IN_FOURCC_BGR3, 350, 1052}, Case{MPEG_IN_FOURCC_BGR3, 352, 1056},
                       Case{MPEG_IN_FOURCC_BGRA, 351, 1404}, Case{MPEG_IN_FOURCC_R565, 351, 704},
                       Case{MPEG_IN_FOURCC_R555, 352, 704}, Case{MPEG_IN_FOURCC_YUY2, 351, 702},
                       Case{MPEG_IN_FOURCC_VUYA, 10, 40}}) {
    const auto layout = fourcc_layout(c.fourcc);
    ASSERT_TRUE(layout.has_value()) << std::hex << c.fourcc;
    EXPECT_EQ(packed_stride(*layout, c.width), c.stride) << std::hex << c.fourcc;
  }
  EXPECT_FALSE(fourcc_layout(0x12345678).has_value());
  EXPECT_FALSE(fourcc_layout(0).has_value());
}

TEST_F(BrindleSession, FrameBuffersFollowTheFourcc) {
  mpeg_in_info* r = mpegInNew(&fullRc, nullptr);
  r->width = 352;
  r->height = 288;
  r->fourcc = MPEG_IN_FOURCC_YV12;
  ASSERT_EQ(alloc_frame_buffers(r, false), 0);
  // MPEG-1 video takes the MPEG-2-only fields' MPEG-1 values.
  EXPECT_EQ(r->progressive_sequence, 1u);
  EXPECT_EQ(r->chroma_format, 1u);
  EXPECT_EQ(r->matrix_coefficients, 5u);
  EXPECT_EQ(r->picture_structure, 3u);
  EXPECT_EQ(r->frame_pred_frame_dct, 1u);
  EXPECT_EQ(r->progressive_frame, 1u);
  EXPECT_EQ(r->plane_row_bytes, 352u);
  EXPECT_EQ(r->chroma_rows, 144u);
  const picture_buffer& b = r->priv->pictures[1];
  EXPECT_EQ(b.planes[2] - b.planes[0], 352 * 288);  // YV12: V first
  EXPECT_EQ(b.planes[1] - b.planes[2], 176 * 144);
  free_frame_buffers(r);

  r->fourcc = MPEG_IN_FOURCC_BGR3;
  r->width = 350;
  ASSERT_EQ(alloc_frame_buffers(r, false), 0);
  EXPECT_EQ(r->stride, 1052u);
  std::memset(r->priv->pictures[0].planes[0], 0, 1052u * 288u);  // ASan checks the size
  free_frame_buffers(r);

  r->fourcc = 0x12345678;
  EXPECT_EQ(alloc_frame_buffers(r, false), 1);
  ASSERT_EQ(calls_.errors.size(), 1u);
  EXPECT_EQ(calls_.errors[0], "Unsupported fourcc type: 0x12345678");
  EXPECT_EQ(alloc_frame_buffers(r, true), 0);  // split mode decodes into no buffers
  EXPECT_EQ(r->priv->pictures[0].planes[0], nullptr);

  r->fourcc = MPEG_IN_FOURCC_BGRA;
  calls_.failMalloc = true;
  EXPECT_EQ(alloc_frame_buffers(r, false), 1);
  EXPECT_EQ(calls_.errors.back(), "pic_buffer[0] malloc failed");
  calls_.failMalloc = false;
  mpegInFree(r);
  EXPECT_EQ(calls_.mallocs, calls_.frees);
}

}  // namespace
}  // namespace quillion::brindle
