// SPDX-License-Identifier: GPL-2.0-or-later
// XML index writers: the same notifications that feed the binary index, written as an XML
// text per stream (access units with byte position, 90 kHz times and sizes; header records
// in Base64). A refused write to an XML stream fails the call that made it and later done.
//
// The vxml writer follows an encoder's notices: the sequence header (word 1 the frame-rate
// code), each picture header (word 1 the temporal reference) and each coded picture (eight
// words: size; picture type with flags in the high half, bit 0 a sequence header and bit 1
// a group start, either of which starts a new unit; decoding and presentation times at 27 MHz
// in words 4-5 and 6-7, low word first). The xml writer follows a multiplexer's: the index
// headers, and extended records of 64 bytes whose first 12 bytes are the unit's time (u64,
// 27 MHz) and size (u32), both little-endian.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "front_stream.h"

namespace quillion::bufstream_detail {
namespace {

constexpr std::uint32_t kMaxPictures = 128;

std::string base64(const std::uint8_t* p, std::size_t n) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  for (std::size_t i = 0; i < n; i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(p[i]) << 16 |
                            (i + 1 < n ? static_cast<std::uint32_t>(p[i + 1]) << 8 : 0) |
                            (i + 2 < n ? p[i + 2] : 0);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < n ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < n ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::uint32_t wordAt(const void* data, std::uint32_t size, std::uint32_t index) {
  if (!data || size < (index + 1) * 4) return 0;
  std::uint32_t v = 0;
  std::memcpy(&v, static_cast<const std::uint8_t*>(data) + index * 4, 4);
  return v;
}
std::uint64_t longAt(const void* data, std::uint32_t size, std::uint32_t index) {
  return wordAt(data, size, index) | static_cast<std::uint64_t>(wordAt(data, size, index + 1))
                                         << 32;
}
std::uint64_t leU64(const std::uint8_t* p) {
  return leadingPosition(p);
}
std::uint32_t leU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
}

// One XML text with its <Stream> element.
class XmlText {
 public:
  explicit XmlText(bufstream* out) : out_(out) {}
  bufstream* stream() const { return out_; }
  bool failed() const { return failed_; }

  bool write(const std::string& text) {
    if (!out_) return true;
    const auto n = static_cast<std::uint32_t>(text.size());
    const bool ok =
        out_->copybytes(out_, reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data())), n) ==
        n;
    if (!ok) failed_ = true;
    return ok;
  }
  bool open() {
    if (opened_) return true;
    opened_ = true;
    return write("<Stream>\n");
  }
  bool element(const char* indent, const char* name, std::int64_t value) {
    char line[160];
    std::snprintf(line, sizeof line, "%s<%s>%" PRId64 "</%s>\n", indent, name, value, name);
    return write(line);
  }
  bool header(const char* indent, const std::uint8_t* p, std::size_t n) {
    return write(std::string(indent) + "<HeaderData>\n" + indent + "  " + base64(p, n) + "\n" +
                 indent + "</HeaderData>\n");
  }
  bool userData(const void* data, std::uint32_t size) {
    return open() && write("<UserData>") &&
           write(std::string(static_cast<const char*>(data), data ? size : 0)) &&
           write("</UserData>\n");
  }
  bool close(std::int64_t duration, std::int64_t size) {
    if (!out_) return true;
    return open() && element(" ", "StreamDuration", duration) && element(" ", "StreamSize", size) &&
           write("</Stream>\n");
  }
  bool flush() {
    return !out_ || !out_->auxinfo || out_->auxinfo(out_, 0, BUFSTREAM_AUX_FLUSH, nullptr, 0) == 0;
  }

 private:
  bufstream* out_;
  bool opened_ = false;
  bool failed_ = false;
};

std::int32_t combine(bool wrote, std::int32_t mainResult) {
  return wrote ? mainResult : -1;
}

// ---- vxml: units from an encoder's picture notices ----

class VxmlWriter final : public FrontState {
 public:
  VxmlWriter(bufstream* main, bufstream* xml) : FrontState(main), xml_(xml) {}

  std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override {
    bool ok = true;
    switch (id) {
      case BUFSTREAM_AUX_SEQUENCE_HEADER: {
        const std::uint32_t code = wordAt(data, size, 1);
        static const double kRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                         50, 60000.0 / 1001, 60};
        if (code > 0 && code < 9) frameTicks_ = static_cast<std::int64_t>(90000 / kRates[code]);
        break;
      }
      case BUFSTREAM_AUX_PICTURE_HEADER:
        temporalReference_ = wordAt(data, size, 1);
        break;
      case BUFSTREAM_AUX_PICTURE_DONE:
        ok = picture(data, size);
        break;
      case BUFSTREAM_AUX_FLUSH:
        ok = xml_.flush();
        break;
      case BUFSTREAM_AUX_VIDEO_USER_DATA:
        ok = xml_.userData(data, size);
        break;
      default:
        break;
    }
    return combine(ok, passOn(offset, id, data, size));
  }

  int finish(int abort) override {
    if (!abort) {
      writeUnit();
      xml_.close(totalTicks_, totalBytes_);
    }
    return xml_.failed() ? -1 : 0;
  }

 private:
  struct Unit {
    bool open = false;
    bool sequence = false;
    std::int64_t position = 0;
    std::int64_t pts = 0;
    std::int64_t ticks = 0;
    std::int64_t bytes = 0;
    std::map<std::uint32_t, std::int64_t> pictureOffsets;  // by temporal reference
  };

  bool picture(const void* data, std::uint32_t size) {
    const std::uint32_t flags = wordAt(data, size, 1) >> 16;
    // The notice follows the picture's bytes: the picture began its size before the main
    // stream's position.
    const std::uint32_t bytes = wordAt(data, size, 0);
    std::uint64_t here = 0;
    const bool known = byteCountOf(main(), &here);
    const auto start = static_cast<std::int64_t>(known && here >= bytes ? here - bytes : 0);
    bool ok = true;
    if (flags & 3 || !unit_.open) {
      ok = writeUnit();
      unit_ = Unit{};
      unit_.open = true;
      unit_.sequence = (flags & 1) != 0;
      unit_.position = start;
      unit_.pts = static_cast<std::int64_t>(longAt(data, size, 6) / 300);
    }
    if (unit_.pictureOffsets.size() < kMaxPictures)
      unit_.pictureOffsets.emplace(temporalReference_, start - unit_.position);
    unit_.bytes += bytes;
    unit_.ticks += frameTicks_;
    return ok;
  }

  bool writeUnit() {
    if (!unit_.open) return true;
    totalTicks_ += unit_.ticks;
    totalBytes_ += unit_.bytes;
    bool ok = xml_.open() && xml_.write(" <AccessUnit>\n") &&
              xml_.write(unit_.sequence ? "  <UnitType>SEQ</UnitType>\n"
                                        : "  <UnitType>GOP</UnitType>\n") &&
              xml_.element("  ", "Position", unit_.position) &&
              xml_.element("  ", "PTS", unit_.pts) && xml_.element("  ", "Duration", unit_.ticks) &&
              xml_.element("  ", "Size", unit_.bytes);
    for (const auto& [reference, offset] : unit_.pictureOffsets)
      ok = ok && xml_.write("  <PictureData>\n") && xml_.element("   ", "Offset", offset) &&
           xml_.write("  </PictureData>\n");
    ok = ok && xml_.write(" </AccessUnit>\n");
    unit_.open = false;
    return ok;
  }

  XmlText xml_;
  Unit unit_;
  std::uint32_t temporalReference_ = 0;
  std::int64_t frameTicks_ = 0;
  std::int64_t totalTicks_ = 0;
  std::int64_t totalBytes_ = 0;
};

// ---- xml: a multiplexer's index headers and extended records ----

class XmlWriter final : public FrontState {
 public:
  XmlWriter(bufstream* main, bufstream* videoXml, bufstream* audioXml)
      : FrontState(main), video_{XmlText(videoXml)}, audio_{XmlText(audioXml)} {}

  std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override {
    bool ok = true;
    switch (id) {
      case BUFSTREAM_AUX_FLUSH:
        ok = video_.xml.flush() && audio_.xml.flush();
        break;
      case BUFSTREAM_AUX_VIDEO_INDEX_HEADER:
      case BUFSTREAM_AUX_VIDEO_EXT_HEADER:
        ok = header(video_, data, size);
        break;
      case BUFSTREAM_AUX_AUDIO_INDEX_HEADER:
      case BUFSTREAM_AUX_AUDIO_EXT_HEADER:
        ok = header(audio_, data, size);
        break;
      case BUFSTREAM_AUX_VIDEO_EXT_UNIT:
        ok = unit(video_, data, size);
        break;
      case BUFSTREAM_AUX_AUDIO_EXT_UNIT:
        ok = unit(audio_, data, size);
        break;
      case BUFSTREAM_AUX_VIDEO_USER_DATA:
        ok = video_.xml.userData(data, size);
        break;
      case BUFSTREAM_AUX_AUDIO_USER_DATA:
        ok = audio_.xml.userData(data, size);
        break;
      default:
        break;
    }
    return combine(ok, passOn(offset, id, data, size));
  }

  int finish(int abort) override {
    if (!abort)
      for (Track* t : {&video_, &audio_})
        t->xml.close(t->units ? (t->lastPts - t->firstPts) : 0, t->bytes);
    return video_.xml.failed() || audio_.xml.failed() ? -1 : 0;
  }

 private:
  struct Track {
    XmlText xml;
    std::int64_t firstPts = 0;
    std::int64_t lastPts = 0;
    std::int64_t bytes = 0;
    std::uint64_t units = 0;
  };

  static bool header(Track& t, const void* data, std::uint32_t size) {
    if (!t.xml.stream()) return true;
    if (!data && size > 0) return false;
    return t.xml.open() && t.xml.header("", static_cast<const std::uint8_t*>(data), size);
  }

  bool unit(Track& t, const void* data, std::uint32_t size) {
    if (!t.xml.stream()) return true;
    if (!data || size < 12) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const auto pts = static_cast<std::int64_t>(leU64(p) / 300);
    const std::uint32_t bytes = leU32(p + 8);
    std::uint64_t here = 0;
    const bool known = byteCountOf(main(), &here);
    if (t.units == 0) t.firstPts = pts;
    t.lastPts = pts;
    t.bytes += bytes;
    ++t.units;
    return t.xml.open() && t.xml.write(" <AccessUnit>\n") &&
           t.xml.element("  ", "Position", known ? static_cast<std::int64_t>(here) : -1) &&
           t.xml.element("  ", "PTS", pts) && t.xml.element("  ", "Size", bytes) &&
           t.xml.write(" </AccessUnit>\n");
  }

  Track video_;
  Track audio_;
};

int initVxml(bufstream* bs, bufstream* main, bufstream* xml, bufstream_msg_fn msg, bool owned) {
  if (!bs) return -1;
  if (!main) {
    tell(msg, "No main stream buffer .");
    return -1;
  }
  try {
    installFront(bs, std::make_unique<VxmlWriter>(main, xml), owned);
  } catch (const std::bad_alloc&) {
    tell(msg, "Unable to allocate memory for open_bufstream_write_with_index.");
    return -1;
  }
  return 0;
}

int initXml(bufstream* bs, bufstream* main, bufstream* videoXml, bufstream* audioXml,
            bufstream_msg_fn msg, bool owned) {
  if (!bs || !main || (!videoXml && !audioXml)) {
    tell(msg, "Invalid parameter.");
    return -1;
  }
  try {
    installFront(bs, std::make_unique<XmlWriter>(main, videoXml, audioXml), owned);
  } catch (const std::bad_alloc&) {
    tell(msg, "Unable to allocate memory for open_bufstream_write_with_xml_index.");
    return -1;
  }
  return 0;
}

}  // namespace
}  // namespace quillion::bufstream_detail

extern "C" {

bufstream* open_bufstream_write_with_vxml_index(bufstream* main, bufstream* xml,
                                                bufstream_msg_fn msg) {
  using namespace quillion::bufstream_detail;
  if (!main) {
    tell(msg, "No main stream buffer .");
    return nullptr;
  }
  return openFront(msg, "Unable to allocate memory for open_bufstream_write_with_index.",
                   [&](bufstream* bs) { return initVxml(bs, main, xml, msg, true); });
}

int init_bufstream_write_with_vxml_index(bufstream* bs, bufstream* main, bufstream* xml,
                                         bufstream_msg_fn msg) {
  return quillion::bufstream_detail::initVxml(bs, main, xml, msg, false);
}

int close_bufstream_write_with_vxml_index(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

bufstream* open_bufstream_write_with_xml_index(bufstream* main, bufstream* videoXml,
                                               bufstream* audioXml, bufstream_msg_fn msg) {
  using namespace quillion::bufstream_detail;
  if (!main || (!videoXml && !audioXml)) {
    tell(msg, "Invalid parameter.");
    return nullptr;
  }
  return openFront(msg, "Unable to allocate memory for open_bufstream_write_with_xml_index.",
                   [&](bufstream* bs) { return initXml(bs, main, videoXml, audioXml, msg, true); });
}

int init_bufstream_write_with_xml_index(bufstream* bs, bufstream* main, bufstream* videoXml,
                                        bufstream* audioXml, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::initXml(bs, main, videoXml, audioXml, msg, false);
}

int close_bufstream_write_with_xml_index(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

}  // extern "C"
