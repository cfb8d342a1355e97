// SPDX-License-Identifier: GPL-2.0-or-later
// MPEG-1/2 video header parsing. Streams made by ffmpeg at test time are read through the
// stream parser in awkward chunk sizes, and every header field is compared with ffmpeg's
// trace_headers output (field by field, packet by packet) and with ffprobe's stream facts.
// Hand-built headers cover what the encoder does not make: odd frame-rate codes, escaped
// profiles, field pairs, scalable extensions, the resize mode.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "brindle_harness.h"
#include "stream_parser.h"
#include "tests/support/test_support.h"
#include "video_headers.h"

namespace quillion::brindle {
namespace {

using quillion::test::TempDir;
using test::ChunkSource;
using test::ParserSession;

// One packet's header fields as trace_headers prints them (MPEG-1 streams are read as MPEG-2,
// whose syntax the filter knows and which they share): name -> value (matrix entries
// keep their bitstream index in the name). Slice fields are left out.
using TracedPacket = std::map<std::string, long long>;

std::vector<TracedPacket> traceHeaders(const std::string& path) {
  const auto result = quillion::test::runTool({"ffmpeg", "-v", "info", "-f", "mpegvideo", "-vcodec",
                                               "mpeg2video", "-i", path, "-c", "copy", "-bsf:v",
                                               "trace_headers", "-f", "null", "-"});
  std::vector<TracedPacket> packets;
  std::istringstream lines(result.output);
  std::string line;
  bool inSlice = false;
  while (std::getline(lines, line)) {
    const auto tag = line.find("[trace_headers @ ");
    if (tag == std::string::npos) continue;
    std::string text = line.substr(line.find("] ", tag) + 2);
    if (text.rfind("Packet:", 0) == 0) {
      packets.emplace_back();
      inSlice = false;
      continue;
    }
    const auto eq = text.rfind(" = ");
    if (eq == std::string::npos) {
      inSlice = text.find("Slice") != std::string::npos;
      continue;
    }
    if (packets.empty() || inSlice) continue;
    std::istringstream fields(text);
    std::string position, name;
    fields >> position >> name;
    packets.back()[name] = std::strtoll(text.c_str() + eq + 3, nullptr, 10);
  }
  return packets;
}

std::map<std::string, std::string> probeVideo(const std::string& path) {
  const std::string out =
      quillion::test::toolOutput({"ffprobe", "-v", "error", "-select_streams", "v:0",
                                  "-show_entries", "stream=width,height,r_frame_rate,profile,level",
                                  "-of", "default=noprint_wrappers=1", path});
  std::map<std::string, std::string> facts;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return facts;
}

// The record's value of a traced field; false for fields the comparison passes over.
bool recordValue(const mpeg_in_info* r, const std::string& name, long long* value) {
  static const std::map<std::string, std::uint32_t mpeg_in_info::*> kPlain = {
      {"aspect_ratio_information", &mpeg_in_info::aspect_ratio_information},
      {"frame_rate_code", &mpeg_in_info::frame_rate_code},
      {"constrained_parameters_flag", &mpeg_in_info::constrained_parameters_flag},
      {"load_intra_quantiser_matrix", &mpeg_in_info::load_intra_quantiser_matrix},
      {"load_non_intra_quantiser_matrix", &mpeg_in_info::load_non_intra_quantiser_matrix},
      {"profile_and_level_indication", &mpeg_in_info::profile_and_level_indication},
      {"progressive_sequence", &mpeg_in_info::progressive_sequence},
      {"chroma_format", &mpeg_in_info::chroma_format},
      {"low_delay", &mpeg_in_info::low_delay},
      {"frame_rate_extension_n", &mpeg_in_info::frame_rate_extension_n},
      {"frame_rate_extension_d", &mpeg_in_info::frame_rate_extension_d},
      {"video_format", &mpeg_in_info::video_format},
      {"colour_description", &mpeg_in_info::colour_description},
      {"colour_primaries", &mpeg_in_info::colour_primaries},
      {"transfer_characteristics", &mpeg_in_info::transfer_characteristics},
      {"matrix_coefficients", &mpeg_in_info::matrix_coefficients},
      {"display_horizontal_size", &mpeg_in_info::display_horizontal_size},
      {"display_vertical_size", &mpeg_in_info::display_vertical_size},
      {"closed_gop", &mpeg_in_info::closed_gop},
      {"broken_link", &mpeg_in_info::broken_link},
      {"temporal_reference", &mpeg_in_info::temporal_reference},
      {"picture_coding_type", &mpeg_in_info::picture_coding_type},
      {"vbv_delay", &mpeg_in_info::vbv_delay},
      {"full_pel_forward_vector", &mpeg_in_info::full_pel_forward_vector},
      {"forward_f_code", &mpeg_in_info::forward_f_code},
      {"full_pel_backward_vector", &mpeg_in_info::full_pel_backward_vector},
      {"backward_f_code", &mpeg_in_info::backward_f_code},
      {"intra_dc_precision", &mpeg_in_info::intra_dc_precision},
      {"picture_structure", &mpeg_in_info::picture_structure},
      {"top_field_first", &mpeg_in_info::top_field_first},
      {"frame_pred_frame_dct", &mpeg_in_info::frame_pred_frame_dct},
      {"concealment_motion_vectors", &mpeg_in_info::concealment_motion_vectors},
      {"q_scale_type", &mpeg_in_info::q_scale_type},
      {"intra_vlc_format", &mpeg_in_info::intra_vlc_format},
      {"alternate_scan", &mpeg_in_info::alternate_scan},
      {"repeat_first_field", &mpeg_in_info::repeat_first_field},
      {"chroma_420_type", &mpeg_in_info::chroma_420_type},
      {"progressive_frame", &mpeg_in_info::progressive_frame},
      {"composite_display_flag", &mpeg_in_info::composite_display_flag},
  };
  if (auto it = kPlain.find(name); it != kPlain.end()) {
    *value = r->*(it->second);
    return true;
  }
  if (name == "horizontal_size_value")
    *value = r->width & 0xFFF;
  else if (name == "vertical_size_value")
    *value = r->height & 0xFFF;
  else if (name == "horizontal_size_extension")
    *value = r->width >> 12;
  else if (name == "vertical_size_extension")
    *value = r->height >> 12;
  else if (name == "bit_rate_value")
    *value = r->bit_rate_value & 0x3FFFF;
  else if (name == "bit_rate_extension")
    *value = r->bit_rate_value >> 18;
  else if (name == "vbv_buffer_size_value")
    *value = r->vbv_buffer_size_value & 0x3FF;
  else if (name == "vbv_buffer_size_extension")
    *value = r->vbv_buffer_size_value >> 10;
  else if (name == "f_code[0][0]")
    *value = r->f_code[0][0];
  else if (name == "f_code[0][1]")
    *value = r->f_code[0][1];
  else if (name == "f_code[1][0]")
    *value = r->f_code[1][0];
  else if (name == "f_code[1][1]")
    *value = r->f_code[1][1];
  else if (name == "time_code")
    *value = static_cast<long long>(r->drop_frame_flag) << 24 | r->time_code_hours << 19 |
             r->time_code_minutes << 13 | 1u << 12 | r->time_code_seconds << 6 |
             r->time_code_pictures;
  else if (name.rfind("intra_quantiser_matrix[", 0) == 0)
    *value = r->intra_quantiser_matrix[kZigzag[std::atoi(name.c_str() + 23)]];
  else if (name.rfind("non_intra_quantiser_matrix[", 0) == 0)
    *value = r->non_intra_quantiser_matrix[kZigzag[std::atoi(name.c_str() + 27)]];
  else
    return false;
  return true;
}

struct Recipe {
  const char* name;
  std::vector<std::string> args;  // ffmpeg output options
  std::uint32_t profile;          // the profile code the record holds for ffprobe's profile
};

const char* const kRasterIntra =
    "8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,22,26,27,29,"
    "34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,"
    "35,38,46,56,69,84";
const char* const kRasterInter =
    "16,17,18,19,20,21,22,23,17,18,19,20,21,22,23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,"
    "24,25,26,20,21,22,23,24,25,26,27,21,22,23,24,25,26,27,28,22,23,24,25,26,27,28,29,23,24,"
    "25,26,27,28,29,30";

std::vector<std::uint32_t> parseList(const char* text) {
  std::vector<std::uint32_t> values;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    values.push_back(static_cast<std::uint32_t>(std::stoul(item)));
  return values;
}

std::vector<Recipe> recipes() {
  return {
      {"pal_interlaced",
       {"-s",
        "720x576",
        "-r",
        "25",
        "-c:v",
        "mpeg2video",
        "-b:v",
        "6M",
        "-g",
        "6",
        "-bf",
        "2",
        "-flags",
        "+ilme+ildct",
        "-top",
        "1",
        "-color_primaries",
        "bt470bg",
        "-color_trc",
        "gamma28",
        "-colorspace",
        "bt470bg",
        "-f",
        "mpeg2video"},
       4},
      {"ntsc_matrices",
       {"-s",
        "480x480",
        "-r",
        "30000/1001",
        "-c:v",
        "mpeg2video",
        "-b:v",
        "2M",
        "-qmax",
        "28",
        "-g",
        "4",
        "-bf",
        "1",
        "-intra_matrix",
        kRasterIntra,
        "-inter_matrix",
        kRasterInter,
        "-alternate_scan",
        "1",
        "-intra_vlc",
        "1",
        "-non_linear_quant",
        "1",
        "-f",
        "mpeg2video"},
       4},
      {"film_simple",
       {"-s", "352x240", "-r", "24000/1001", "-c:v", "mpeg2video", "-profile:v", "5", "-bf", "0",
        "-g", "5", "-f", "mpeg2video"},
       5},
      {"mpeg1_vcd",
       {"-s", "352x288", "-r", "25", "-c:v", "mpeg1video", "-b:v", "1150k", "-g", "12", "-bf", "2",
        "-inter_matrix", kRasterInter, "-f", "mpeg1video"},
       0},
  };
}

class BrindleHeadersOracle : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BrindleHeadersOracle, EveryFieldEqualsTheTrace) {
  QUILLION_REQUIRE_TOOL("ffmpeg");
  QUILLION_REQUIRE_TOOL("ffprobe");
  const Recipe recipe = recipes()[GetParam()];
  TempDir dir;
  const std::string path = dir.file(std::string(recipe.name) + ".mpv").string();
  std::vector<std::string> argv = {
      "ffmpeg",    "-v",    "error", "-y",
      "-f",        "lavfi", "-i",    "testsrc=duration=1:size=352x288:rate=25",
      "-frames:v", "9"};
  argv.insert(argv.end(), recipe.args.begin(), recipe.args.end());
  argv.push_back(path);
  ASSERT_EQ(quillion::test::runTool(argv).exitCode, 0);

  const auto packets = traceHeaders(path);
  ASSERT_EQ(packets.size(), 9u);
  const auto facts = probeVideo(path);

  ChunkSource source;
  source.cut(quillion::test::readFile(path), {1, 7, 0, 188, 2, 2048, 3});
  ParserSession session(source);
  mpeg_in_info* r = session.record();
  r->quiet = 0;
  Reset_Parser(r, session.video(), 0);
  ASSERT_EQ(Get_Next_Header(r, HeaderMode::Sequence), 0);
  EXPECT_EQ(r->sequence_header_seen, 1u);
  EXPECT_EQ(std::to_string(r->width), facts.at("width"));
  EXPECT_EQ(std::to_string(r->height), facts.at("height"));
  const std::string rate = facts.at("r_frame_rate");
  const double num = std::stod(rate.substr(0, rate.find('/')));
  const double den = std::stod(rate.substr(rate.find('/') + 1));
  EXPECT_DOUBLE_EQ(r->frame_rate, num / den);
  EXPECT_EQ(r->mpeg2, recipe.profile != 0 ? 1u : 0u);
  if (recipe.profile != 0) {
    EXPECT_EQ(std::to_string(r->level), facts.at("level"));
    EXPECT_EQ(r->profile, recipe.profile);
  }
  EXPECT_DOUBLE_EQ(r->bit_rate, r->bit_rate_value * 400.0);

  Reset_Parser(r, session.video(), 0);
  for (std::size_t i = 0; i < packets.size(); ++i) {
    ASSERT_EQ(Get_Next_Header(r, HeaderMode::Picture), 0) << "picture " << i;
    std::size_t compared = 0;
    for (const auto& [name, traced] : packets[i]) {
      long long ours = 0;
      if (!recordValue(r, name, &ours)) continue;
      EXPECT_EQ(ours, traced) << recipe.name << " picture " << i << " " << name;
      ++compared;
    }
    EXPECT_GE(compared, 4u) << "picture " << i;
    EXPECT_EQ(r->gop_header_seen, packets[i].count("closed_gop") ? 1u : 0u) << i;
  }
  EXPECT_EQ(Get_Next_Header(r, HeaderMode::Picture), 1);
  EXPECT_EQ(session.video()->end_flag, 1u);

  if (std::string(recipe.name) == "ntsc_matrices") {
    const auto intra = parseList(kRasterIntra);
    const auto inter = parseList(kRasterInter);
    for (int i = 0; i < 64; ++i) {
      EXPECT_EQ(r->intra_quantiser_matrix[i], intra[static_cast<std::size_t>(i)]) << i;
      EXPECT_EQ(r->chroma_intra_quantiser_matrix[i], intra[static_cast<std::size_t>(i)]) << i;
      EXPECT_EQ(r->non_intra_quantiser_matrix[i], inter[static_cast<std::size_t>(i)]) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Recipes, BrindleHeadersOracle, ::testing::Range<std::size_t>(0, 4),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                           return std::string(recipes()[param.param].name);
                         });

// Header-level streams written bit by bit.
class Bits {
 public:
  Bits& put(std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  Bits& align() {
    while (used_ % 8) put(0, 1);
    return *this;
  }
  Bits& startCode(std::uint32_t code) { return align().put(code, 32); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

Bits& sequenceHeader(Bits& b, std::uint32_t width, std::uint32_t rateCode) {
  b.startCode(0x1B3).put(width, 12).put(288, 12).put(2, 4).put(rateCode, 4).put(5000, 18).put(1, 1);
  return b.put(112, 10).put(0, 1).put(0, 1).put(0, 1);
}

Bits& sequenceExtension(Bits& b, std::uint32_t pli, std::uint32_t n, std::uint32_t d) {
  b.startCode(0x1B5).put(1, 4).put(pli, 8).put(0, 1).put(1, 2).put(0, 2).put(0, 2);
  return b.put(0, 12).put(1, 1).put(0, 8).put(0, 1).put(n, 2).put(d, 5);
}

Bits& picture(Bits& b, std::uint32_t reference, std::uint32_t type, std::uint32_t structure) {
  b.startCode(0x100).put(reference, 10).put(type, 3).put(0xFFFF, 16);
  if (type == 2 || type == 3) b.put(0, 1).put(7, 3);
  if (type == 3) b.put(0, 1).put(7, 3);
  b.put(0, 1);
  b.startCode(0x1B5).put(8, 4).put(0xFFFF, 16).put(0, 2).put(structure, 2).put(1, 1);
  b.put(0, 8);
  return b.put(0, 1);  // composite_display_flag
}

struct Collected {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};
Collected* gCollected = nullptr;

__attribute__((format(printf, 1, 2))) void collectError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  gCollected->errors.push_back(quillion::test::formatted(format, args));
  va_end(args);
}
__attribute__((format(printf, 1, 2))) void collectWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  gCollected->warnings.push_back(quillion::test::formatted(format, args));
  va_end(args);
}
void* collectingRc(const char* name) {
  if (std::string(name) == "err_printf") return reinterpret_cast<void*>(&collectError);
  if (std::string(name) == "wrn_printf") return reinterpret_cast<void*>(&collectWarning);
  return nullptr;
}

class BrindleHeaders : public ::testing::Test {
 protected:
  void SetUp() override { gCollected = &collected_; }
  void TearDown() override { gCollected = nullptr; }

  // Parses `bits` (cut in chunks of 3) in a session that collects messages.
  int parse(const Bits& bits, HeaderMode mode, bool resize = false, bool quiet = true) {
    source_ = std::make_unique<ChunkSource>();
    source_->cut(bits.bytes(), {3});
    session_ = std::make_unique<ParserSession>(*source_, &collectingRc);
    session_->record()->quiet = quiet ? 1 : 0;
    session_->record()->priv->resize = resize ? 1 : 0;
    Reset_Parser(session_->record(), session_->video(), 0);
    return Get_Next_Header(session_->record(), mode);
  }
  mpeg_in_info* record() { return session_->record(); }

  Collected collected_;
  std::unique_ptr<ChunkSource> source_;
  std::unique_ptr<ParserSession> session_;
};

TEST_F(BrindleHeaders, FrameRateCodes) {
  struct Case {
    std::uint32_t code;
    std::uint32_t stored;
    double rate;
  };
  for (const Case c : {Case{3, 3, 25.0}, Case{12, 4, 30000.0 / 1001.0}, Case{8, 8, 60.0},
                       Case{9, 1, 24000.0 / 1001.0}}) {
    Bits b;
    sequenceHeader(b, 352, c.code);
    ASSERT_EQ(parse(b, HeaderMode::Sequence), 0) << c.code;
    EXPECT_EQ(record()->frame_rate_code, c.stored) << c.code;
    EXPECT_DOUBLE_EQ(record()->frame_rate, c.rate) << c.code;
    EXPECT_DOUBLE_EQ(record()->bit_rate, 2000000.0);
  }
}

TEST_F(BrindleHeaders, FrameRateCodeZeroIsAnInvalidSequenceHeader) {
  Bits b;
  sequenceHeader(b, 352, 0);
  picture(b, 0, 1, 3);
  EXPECT_EQ(parse(b, HeaderMode::Picture), 1);
  EXPECT_EQ(session_->video()->error, 1u);
  EXPECT_EQ(record()->sequence_header_seen, 0u);
  ASSERT_EQ(collected_.errors.size(), 1u);
  EXPECT_NE(collected_.errors[0].find("Invalid sequence header"), std::string::npos);
}

TEST_F(BrindleHeaders, FrameRateExtensionScalesTheTableRate) {
  struct Case {
    std::uint32_t n, d;
    double rate;
  };
  for (const Case c : {Case{1, 0, 50.0}, Case{0, 1, 12.5}, Case{0, 0, 25.0}}) {
    Bits b;
    sequenceHeader(b, 352, 3);
    sequenceExtension(b, 0x48, c.n, c.d);
    ASSERT_EQ(parse(b, HeaderMode::Sequence), 0);
    EXPECT_DOUBLE_EQ(record()->frame_rate, c.rate) << c.n << "/" << c.d;
  }
}

TEST_F(BrindleHeaders, ProfileAndLevel) {
  struct Case {
    std::uint32_t pli, profile, level;
  };
  for (const Case c : {Case{0x48, 4, 8}, Case{0x85, 7, 8}, Case{0x58, 5, 8}, Case{0x8A, 0, 0}}) {
    Bits b;
    sequenceHeader(b, 352, 3);
    sequenceExtension(b, c.pli, 0, 0);
    ASSERT_EQ(parse(b, HeaderMode::Sequence), 0);
    EXPECT_EQ(record()->profile, c.profile) << std::hex << c.pli;
    EXPECT_EQ(record()->level, c.level) << std::hex << c.pli;
    EXPECT_EQ(record()->mpeg2, 1u);
  }
}

TEST_F(BrindleHeaders, DefaultMatricesWhenNoneAreLoaded) {
  Bits b;
  sequenceHeader(b, 352, 3);
  ASSERT_EQ(parse(b, HeaderMode::Sequence), 0);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(record()->intra_quantiser_matrix[i], kDefaultIntraMatrix[i]);
    EXPECT_EQ(record()->chroma_intra_quantiser_matrix[i], kDefaultIntraMatrix[i]);
    EXPECT_EQ(record()->non_intra_quantiser_matrix[i], 16u);
    EXPECT_EQ(record()->chroma_non_intra_quantiser_matrix[i], 16u);
  }
  EXPECT_EQ(record()->intra_quantiser_matrix[63], 83u);
}

TEST_F(BrindleHeaders, FieldPairsCountAsOnePictureOfTheFirstFieldsType) {
  Bits b;
  sequenceHeader(b, 352, 3);
  sequenceExtension(b, 0x48, 0, 0);
  picture(b, 0, 1, 1);  // I top field
  picture(b, 0, 2, 2);  // P bottom field of the same frame
  picture(b, 3, 3, 1);  // a lone B field ...
  picture(b, 4, 3, 2);  // ... whose partner has another reference: both dropped
  picture(b, 5, 2, 3);  // a frame picture
  b.startCode(0x1B7);
  ASSERT_EQ(parse(b, HeaderMode::Picture), 0);
  EXPECT_EQ(record()->picture_coding_type, 1u);
  EXPECT_EQ(record()->picture_coding_type_copy, 2u);
  EXPECT_EQ(record()->temporal_reference, 0u);
  ASSERT_EQ(Get_Next_Header(record(), HeaderMode::Picture), 0);
  EXPECT_EQ(record()->temporal_reference, 5u);
  EXPECT_EQ(record()->picture_coding_type, 2u);
  EXPECT_EQ(Get_Next_Header(record(), HeaderMode::Picture), 1);
}

TEST_F(BrindleHeaders, ALoneFirstFieldAtTheEndCountsAsAPicture) {
  Bits b;
  sequenceHeader(b, 352, 3);
  sequenceExtension(b, 0x48, 0, 0);
  picture(b, 7, 1, 1);
  EXPECT_EQ(parse(b, HeaderMode::Picture), 0);
}

TEST_F(BrindleHeaders, ALoneFirstFieldIsNoSequenceOrGopHeader) {
  for (const HeaderMode mode : {HeaderMode::Sequence, HeaderMode::Gop}) {
    Bits b;
    sequenceExtension(b, 0x48, 0, 0);  // MPEG-2 without a sequence header in reach
    picture(b, 7, 1, 1);
    EXPECT_EQ(parse(b, mode), 1) << static_cast<int>(mode);
    EXPECT_EQ(record()->sequence_header_seen, 0u);
  }
}

TEST_F(BrindleHeaders, ResizeModeStoresWidth704) {
  Bits b;
  sequenceHeader(b, 352, 3);
  ASSERT_EQ(parse(b, HeaderMode::Sequence, /*resize=*/true), 0);
  EXPECT_EQ(record()->width, 704u);
  EXPECT_EQ(record()->height, 288u);
}

TEST_F(BrindleHeaders, ScalableExtensionsStopTheStream) {
  struct Case {
    std::uint32_t id;
    const char* text;
  };
  for (const Case c :
       {Case{5, "sequence scalability not supported"}, Case{9, "spatial scalability not supported"},
        Case{10, "temporal scalability not supported"}}) {
    collected_.errors.clear();
    Bits b;
    sequenceHeader(b, 352, 3);
    b.startCode(0x1B5).put(c.id, 4).put(0, 20);
    picture(b, 0, 1, 3);
    EXPECT_EQ(parse(b, HeaderMode::Picture), 1) << c.id;
    EXPECT_EQ(session_->video()->error, 1u);
    ASSERT_EQ(collected_.errors.size(), 1u) << c.id;
    EXPECT_EQ(collected_.errors[0], c.text);
  }
}

TEST_F(BrindleHeaders, ReservedExtensionsWarnOnlyWhenNotQuiet) {
  for (const bool quiet : {true, false}) {
    collected_.warnings.clear();
    Bits b;
    sequenceHeader(b, 352, 3);
    b.startCode(0x1B5).put(11, 4).put(0, 20);
    picture(b, 0, 1, 3);
    EXPECT_EQ(parse(b, HeaderMode::Picture, false, quiet), 0);
    if (quiet) {
      EXPECT_TRUE(collected_.warnings.empty());
    } else {
      ASSERT_EQ(collected_.warnings.size(), 1u);
      EXPECT_EQ(collected_.warnings[0], "reserved extension start code ID, 0x0000000B");
    }
  }
}

TEST_F(BrindleHeaders, DisplayAndCopyrightExtensions) {
  Bits b;
  sequenceHeader(b, 720, 3);
  sequenceExtension(b, 0x48, 0, 0);
  b.startCode(0x1B5).put(2, 4).put(1, 3).put(1, 1).put(5, 8).put(5, 8).put(6, 8);
  b.put(540, 14).put(1, 1).put(576, 14);
  b.startCode(0x1B8).put(0, 1).put(1, 5).put(2, 6).put(1, 1).put(3, 6).put(4, 6).put(1, 1).put(0,
                                                                                               1);
  picture(b, 0, 1, 3);  // not progressive, frame, rff 0: two offsets
  b.startCode(0x1B5).put(7, 4);
  b.put(static_cast<std::uint16_t>(-32), 16).put(1, 1).put(0, 16).put(1, 1);
  b.put(64, 16).put(1, 1).put(static_cast<std::uint16_t>(-2), 16).put(1, 1);
  b.startCode(0x1B5).put(4, 4).put(1, 1).put(0x2A, 8).put(1, 1).put(0x81, 8);
  b.put(0xABCDE, 20).put(1, 1).put(0x123456, 22).put(1, 1).put(0x3FFFFF, 22);
  b.startCode(0x1B7);
  ASSERT_EQ(parse(b, HeaderMode::Picture), 0);
  mpeg_in_info* r = record();
  EXPECT_EQ(r->video_format, 1u);
  EXPECT_EQ(r->colour_primaries, 5u);
  EXPECT_EQ(r->matrix_coefficients, 6u);
  EXPECT_EQ(r->display_horizontal_size, 540u);
  EXPECT_EQ(r->display_vertical_size, 576u);
  EXPECT_EQ(r->sequence_display_extension_seen, 1u);
  EXPECT_EQ(r->time_code_hours, 1u);
  EXPECT_EQ(r->time_code_minutes, 2u);
  EXPECT_EQ(r->time_code_seconds, 3u);
  EXPECT_EQ(r->time_code_pictures, 4u);
  EXPECT_EQ(r->closed_gop, 1u);
  EXPECT_EQ(r->gop_header_seen, 1u);
  EXPECT_EQ(r->picture_display_extension_seen, 1u);
  EXPECT_EQ(r->frame_centre_horizontal_offset[0], -32);
  EXPECT_EQ(r->frame_centre_vertical_offset[0], 0);
  EXPECT_EQ(r->frame_centre_horizontal_offset[1], 64);
  EXPECT_EQ(r->frame_centre_vertical_offset[1], -2);
  EXPECT_EQ(r->copyright_flag, 1u);
  EXPECT_EQ(r->copyright_identifier, 0x2Au);
  EXPECT_EQ(r->original_or_copy, 1u);
  EXPECT_EQ(r->copyright_number_1, 0xABCDEu);
  EXPECT_EQ(r->copyright_number_2, 0x123456u);
  EXPECT_EQ(r->copyright_number_3, 0x3FFFFFu);
  // Elementary stream: the header group starts at the sequence header.
  EXPECT_EQ(r->priv->header_start_position, 0u);
  EXPECT_EQ(r->priv->header_packet_position, 0u);
}

TEST_F(BrindleHeaders, GopModeStopsAtTheGopHeader) {
  Bits b;
  picture(b, 0, 1, 3);
  const std::size_t gopAt = b.align().bytes().size();
  b.startCode(0x1B8).put(0, 1).put(0, 5).put(0, 6).put(1, 1).put(1, 6).put(0, 6).put(0, 1).put(1,
                                                                                               1);
  picture(b, 0, 1, 3);
  ASSERT_EQ(parse(b, HeaderMode::Gop), 0);
  EXPECT_EQ(record()->broken_link, 1u);
  EXPECT_EQ(record()->time_code_seconds, 1u);
  EXPECT_EQ(record()->priv->header_packet_position, gopAt);
}

}  // namespace
}  // namespace quillion::brindle
