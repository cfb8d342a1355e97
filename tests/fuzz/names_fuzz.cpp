// SPDX-License-Identifier: GPL-2.0-or-later
// Name conversion into the forms each file system wants, every result written into a heap
// buffer of exactly the size the call is told, so one byte too many is caught. Results stay
// inside their limits and are terminated where the call promises a terminator.
//
// Input: a selector, a buffer size and a number, then the name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "quillion/CS.h"

namespace {

using quillion::fuzz::check;

// A buffer of exactly `size` bytes (at least one allocation, so even size 0 has an address).
struct Exact {
  explicit Exact(std::size_t n) : size(n), bytes(new char[n == 0 ? 1 : n]) {
    std::memset(bytes.get(), 'X', n == 0 ? 1 : n);
  }
  std::size_t size;
  std::unique_ptr<char[]> bytes;
  char* data() const { return size == 0 ? nullptr : bytes.get(); }
  bool terminated() const { return std::memchr(bytes.get(), '\0', size) != nullptr; }
};

void checkText(std::uint16_t length, const Exact& out, const char* what) {
  if (out.size == 0) {
    check(length == 0, what);
    return;
  }
  check(length < out.size && out.terminated() && std::strlen(out.bytes.get()) == length, what);
}

CS_UCRef converter(std::uint32_t which) {
  static const std::uint32_t encodings[] = {kCS_EncodingUTF8, kCS_EncodingMacRoman,
                                            kCS_EncodingUTF16BE, kCS_EncodingUnicodeDefault};
  static CS_UCRef refs[4] = {};
  std::uint32_t encoding = encodings[which % 4];
  if (!refs[which % 4]) refs[which % 4] = CS_UC_Init(&encoding);
  return refs[which % 4];
}

void unicode(std::uint8_t selector, const std::string& name, std::uint32_t size,
             std::uint32_t number) {
  CS_UCRef ref = converter(selector >> 4);
  if (!ref) return;
  CS_UniStr u;
  switch (selector % 4) {
    case 0:
      if (CS_UC_To_UnicodeStr(ref, name.c_str(), &u, (selector & 4) != 0) == kNoErr)
        check(u.length <= kCS_UniStrMaxUnits, "at most 255 units");
      break;
    case 1:
      if (CS_UC_To_UDF_UnicodeStr(ref, name.c_str(), &u) == kNoErr)
        check(u.length <= kCS_UDFMaxUnits, "a UDF name of at most 127 units");
      break;
    case 2:
      if (CS_UC_To_JolietStr(ref, name.c_str(), &u, number, (selector & 4) != 0) == kNoErr)
        check(u.length <= kCS_JolietMaxUnits, "a Joliet name of at most 64 units");
      break;
    default: {
      // UTF-16 from the input back into the converter's encoding.
      u.length = static_cast<std::uint16_t>(std::min<std::size_t>(name.size() / 2, 255));
      std::memcpy(u.unicode, name.data(), std::size_t{u.length} * 2);
      const Exact out(size);
      if (CS_UC_From_UnicodeStr(ref, &u, out.data(), static_cast<std::uint32_t>(size)) == kNoErr &&
          size > 0)
        check(out.terminated(), "a converted name is terminated inside its buffer");
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  const std::uint8_t selector = in.u8();
  const std::uint32_t bufferSize = in.u8() % 80;
  const std::uint32_t number = in.u8() % 2 ? in.u32() : in.u8();
  const std::string_view raw = in.text(in.left());
  // A C string: the name stops at its first NUL.
  const std::string name(raw.substr(0, raw.find('\0')));
  switch (selector % 8) {
    case 0: {
      const Exact out(bufferSize);
      checkText(CS_To_D_Chars_Set(name.c_str(), out.data(), bufferSize), out, "d-characters");
      break;
    }
    case 1: {
      const Exact out(bufferSize);
      checkText(CS_To_A_Chars_Set(name.c_str(), out.data(), bufferSize), out, "a-characters");
      break;
    }
    case 2: {
      const Exact out(kCS_ISO83NameBytes);
      const std::uint16_t n = CS_To_ISO_8_3_Name(name.c_str(), out.data(), number,
                                                 (selector & 8) != 0, (selector & 16) != 0);
      if (n) checkText(n, out, "an 8.3 name fits its 16 bytes");
      break;
    }
    case 3: {
      const Exact out(bufferSize);
      checkText(CS_To_ISO_Romeo(name.c_str(), out.data(), (selector & 8) != 0, bufferSize), out,
                "a long ISO name");
      break;
    }
    case 4: {
      const Exact out(bufferSize + 1);
      if (CS_TruncateFileName(name.c_str(), out.data(), number, bufferSize) == 0)
        check(out.terminated() && std::strlen(out.bytes.get()) <= bufferSize,
              "a cut name fits its length");
      break;
    }
    case 5: {
      const Exact out(bufferSize);
      checkText(CS_ULong_To_Chars(number, out.data(), bufferSize), out, "a number as text");
      break;
    }
    default:
      unicode(static_cast<std::uint8_t>(selector >> 3), name, bufferSize, number);
      break;
  }
  return 0;
}
