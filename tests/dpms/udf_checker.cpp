// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/dpms/udf_checker.h"

#include <functional>
#include <set>

namespace quillion::test {
namespace {

constexpr std::size_t kSector = 2048;

std::uint32_t u16(const std::uint8_t* p) {
  return p[0] | (p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint64_t u64(const std::uint8_t* p) {
  return u32(p) | (std::uint64_t{u32(p + 4)} << 32);
}

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// OSTA compressed Unicode (UDF 2.1.1) to UTF-8.
std::string decodeName(const std::uint8_t* p, std::size_t length) {
  std::string out;
  if (length == 0) return out;
  if (p[0] == 8) {
    for (std::size_t i = 1; i < length; ++i) appendUtf8(out, p[i]);
  } else if (p[0] == 16) {
    for (std::size_t i = 1; i + 1 < length; i += 2) {
      std::uint32_t c = (p[i] << 8) | p[i + 1];
      if (c >= 0xD800 && c < 0xDC00 && i + 3 < length) {
        const std::uint32_t low = (p[i + 2] << 8) | p[i + 3];
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
      appendUtf8(out, c);
    }
  } else {
    out = "<compression " + std::to_string(p[0]) + ">";
  }
  return out;
}

class Checker {
 public:
  Checker(const std::vector<std::uint8_t>& image, std::uint32_t start, UdfCheckReport& report)
      : image_(image), start_(start), r_(report) {}

  void run() {
    const std::uint32_t last = start_ + static_cast<std::uint32_t>(image_.size() / kSector) - 1;
    const std::uint8_t* anchor = tagged(start_ + 256, 2, start_ + 256, "first anchor");
    tagged(last, 2, last, "last anchor");
    if (anchor == nullptr) return;
    sequence(u32(anchor + 20), u32(anchor + 16), "main");
    sequence(u32(anchor + 28), u32(anchor + 24), "reserve");
    if (r_.partitionLength == 0) return fault("no partition descriptor");
    if (r_.integritySize != r_.partitionLength)
      fault("integrity size " + std::to_string(r_.integritySize) + " != partition length " +
            std::to_string(r_.partitionLength));
    const std::uint8_t* fsd = tagged(r_.partitionStart + fsdBlock_, 256, fsdBlock_, "file set");
    if (fsd == nullptr) return;
    entry(u32(fsd + 404), "", 0);
  }

 private:
  void fault(const std::string& what) { r_.faults.push_back(what); }

  const std::uint8_t* sector(std::uint32_t abs) const {
    if (abs < start_) return nullptr;
    const std::size_t at = std::size_t{abs - start_} * kSector;
    return at + kSector <= image_.size() ? image_.data() + at : nullptr;
  }

  // A descriptor at `at` with identifier `id` and tag location `location`.
  bool checkTag(const std::uint8_t* at, std::size_t room, std::uint32_t id, std::uint32_t location,
                const std::string& what) {
    ++r_.tagsChecked;
    if (u16(at) != id)
      return fault(what + ": identifier " + std::to_string(u16(at)) + ", not " +
                   std::to_string(id)),
             false;
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i)
      if (i != 4) sum += at[i];
    if ((sum & 0xFF) != at[4]) fault(what + ": tag checksum");
    const std::size_t crcLength = u16(at + 10);
    if (16 + crcLength > room)
      fault(what + ": CRC length " + std::to_string(crcLength) + " runs past its space");
    else if (ecmaCrc(at + 16, crcLength) != u16(at + 8))
      fault(what + ": CRC");
    if (u32(at + 12) != location)
      fault(what + ": tag location " + std::to_string(u32(at + 12)) + ", not " +
            std::to_string(location));
    if (u16(at + 2) != 2) fault(what + ": descriptor version");
    return true;
  }

  const std::uint8_t* tagged(std::uint32_t abs, std::uint32_t id, std::uint32_t location,
                             const std::string& what) {
    const std::uint8_t* s = sector(abs);
    if (s == nullptr) return fault(what + ": sector " + std::to_string(abs) + " outside"), nullptr;
    return checkTag(s, kSector, id, location, what) ? s : nullptr;
  }

  void sequence(std::uint32_t abs, std::uint32_t bytes, const std::string& name) {
    for (std::uint32_t i = 0; i < bytes / kSector; ++i) {
      const std::uint8_t* d = sector(abs + i);
      if (d == nullptr) return fault(name + " sequence outside the image");
      const std::uint32_t id = u16(d);
      if (!checkTag(d, kSector, id, abs + i, name + " descriptor " + std::to_string(i))) return;
      if (id == 8) return;
      if (id == 5) {
        r_.partitionStart = u32(d + 188);
        r_.partitionLength = u32(d + 192);
      } else if (id == 6) {
        if (u32(d + 212) != kSector) fault("logical block size");
        fsdBlock_ = u32(d + 252);
        integrity(u32(d + 436));
      }
    }
    fault(name + " sequence has no terminating descriptor");
  }

  void integrity(std::uint32_t abs) {
    const std::uint8_t* d = tagged(abs, 9, abs, "integrity");
    if (d == nullptr) return;
    if (u32(d + 28) != 1) fault("integrity not closed");
    const std::uint32_t partitions = u32(d + 72);
    const std::uint8_t* use = d + 80 + 8 * partitions;
    r_.integritySize = u32(d + 80 + 4 * partitions);
    r_.integrityFiles = u32(use + 32);
    r_.integrityDirs = u32(use + 36);
    r_.revision = static_cast<std::uint16_t>(u16(use + 40));
    tagged(abs + 1, 8, abs + 1, "integrity terminator");
  }

  void extendedAttributes(const std::uint8_t* ea, std::uint32_t length, std::uint32_t block,
                          const std::string& what) {
    if (length < 24 || !checkTag(ea, length, 262, block, what + " attributes")) return;
    for (std::uint32_t at = u32(ea + 16); at + 48 <= u32(ea + 20) && at + 48 <= length;) {
      const std::uint8_t* a = ea + at;
      unsigned sum = 0;
      for (int i = 0; i < 48; ++i) sum += a[i];
      if (u16(a + 48) != (sum & 0xFFFF)) fault(what + ": attribute header checksum");
      if (u32(a + 8) == 0) return fault(what + ": attribute of length 0");
      at += u32(a + 8);
    }
  }

  void entry(std::uint32_t block, const std::string& path, int depth) {
    if (depth > 64 || !seen_.insert(block).second) return fault(path + ": entry loop");
    const std::uint8_t* fe = tagged(r_.partitionStart + block, 261, block, path + " file entry");
    if (fe == nullptr) return;
    UdfCheckedFile f;
    f.entryBlock = block;
    f.folder = fe[27] == 4;
    f.icbFlags = static_cast<std::uint16_t>(u16(fe + 34));
    f.permissions = u32(fe + 44);
    f.links = static_cast<std::uint16_t>(u16(fe + 48));
    f.size = u64(fe + 56);
    const std::uint32_t eaLength = u32(fe + 168), adLength = u32(fe + 172);
    if (176 + eaLength + adLength > kSector) return fault(path + ": entry overflows its block");
    extendedAttributes(fe + 176, eaLength, block, path);
    const std::uint8_t* ads = fe + 176 + eaLength;
    std::string bytes;
    const unsigned kind = f.icbFlags & 7;
    if (kind == 3) {
      bytes.assign(reinterpret_cast<const char*>(ads), adLength);
    } else {
      const unsigned adSize = kind == 0 ? 8 : 16;
      for (std::uint32_t at = 0; at + adSize <= adLength; at += adSize) {
        const std::uint32_t length = u32(ads + at) & 0x3FFFFFFF;
        const std::uint32_t abs = r_.partitionStart + u32(ads + at + 4);
        f.extents.emplace_back(abs, length);
        for (std::uint32_t s = 0; s < (length + kSector - 1) / kSector; ++s) {
          const std::uint8_t* d = sector(abs + s);
          if (d == nullptr) return fault(path + ": extent outside the image");
          bytes.append(reinterpret_cast<const char*>(d),
                       std::min<std::size_t>(kSector, length - s * kSector));
        }
      }
    }
    if (bytes.size() != f.size)
      fault(path + ": extents hold " + std::to_string(bytes.size()) + " bytes, length says " +
            std::to_string(f.size));
    if (f.folder) {
      r_.files[path.empty() ? "/" : path + "/"] = f;
      identifiers(bytes, f, block, path, depth);
    } else {
      f.data = std::move(bytes);
      r_.files[path] = std::move(f);
    }
  }

  void identifiers(const std::string& bytes, const UdfCheckedFile& dir, std::uint32_t block,
                   const std::string& path, int depth) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t at = 0;
    while (at + 38 <= bytes.size()) {
      const std::uint32_t nameLength = p[at + 19];
      const std::size_t size = (38 + u16(p + at + 36) + nameLength + 3) & ~std::size_t{3};
      const std::uint32_t location = (dir.icbFlags & 7) == 3
                                         ? block
                                         : dir.extents.front().first - r_.partitionStart +
                                               static_cast<std::uint32_t>(at / kSector);
      if (!checkTag(p + at, bytes.size() - at, 257, location, path + " identifier")) return;
      const std::uint8_t characteristics = p[at + 18];
      const std::string name = decodeName(p + at + 38 + u16(p + at + 36), nameLength);
      if (!(characteristics & 8)) {
        const std::string child = path.empty() ? name : path + "/" + name;
        entry(u32(p + at + 24), child, depth + 1);
        auto it = r_.files.find((characteristics & 2) ? child + "/" : child);
        if (it != r_.files.end()) it->second.nameCompression = p[at + 38];
      }
      at += size;
    }
  }

  const std::vector<std::uint8_t>& image_;
  std::uint32_t start_;
  UdfCheckReport& r_;
  std::uint32_t fsdBlock_ = 0;
  std::set<std::uint32_t> seen_;
};

}  // namespace

std::uint16_t ecmaCrc(const std::uint8_t* bytes, std::size_t length) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= static_cast<std::uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

UdfCheckReport checkUdfImage(const std::vector<std::uint8_t>& image, std::uint32_t start) {
  UdfCheckReport report;
  Checker(image, start, report).run();
  return report;
}

}  // namespace quillion::test
