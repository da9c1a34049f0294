#include "text/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kTextSubstitute = "?";
constexpr std::string_view kUtf8Substitute = "\xEF\xBF\xBD";  // U+FFFD

// One conversion descriptor per call: iconv_t keeps state and must not be
// shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  [[nodiscard]] bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends the converted input to out. glibc substitutes nothing itself: an
  // invalid byte becomes one substitute, an incomplete sequence at the end one
  // substitute as well.
  void convert(std::string_view in, std::string_view substitute, std::string& out) {
    char* src = const_cast<char*>(in.data());  // iconv's signature; it only reads
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
      const std::size_t used = out.size();
      const std::size_t room = std::max<std::size_t>(srcLeft * 2, 64);
      out.resize(used + room);
      char* dst = out.data() + used;
      std::size_t dstLeft = room;
      const std::size_t result = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      const int error = errno;
      out.resize(used + room - dstLeft);
      if (result != static_cast<std::size_t>(-1)) break;
      if (error == E2BIG) continue;
      out += substitute;
      if (error == EINVAL) break;  // the rest is one truncated sequence
      ++src;
      --srcLeft;
    }
  }

 private:
  iconv_t cd_;
};

std::string_view upToZero(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

bool isLead(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

// Without a converter (a system lacking the gconv modules) ASCII still passes
// and every other character becomes one substitute.
std::string asciiOnlyFromUtf8(std::string_view in) {
  std::string out;
  for (const char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
      out += c;
    else if (b >= 0xC0)
      out += kTextSubstitute;
  }
  return out;
}

std::string asciiOnlyFromText(std::string_view in) {
  std::string out;
  std::size_t i = 0;
  while (i < in.size()) {
    if (isLead(in[i])) {
      out += kUtf8Substitute;
      i += 2;
    } else {
      out += in[i++];
    }
  }
  return out;
}

std::string utf8ToGb18030(std::string_view utf8) {
  Converter converter("GB18030", "UTF-8");
  if (!converter.ok()) return asciiOnlyFromUtf8(utf8);
  std::string out;
  out.reserve(utf8.size());
  converter.convert(utf8, kTextSubstitute, out);
  return out;
}

}  // namespace

Text utf8ToText(std::string_view utf8) {
  return Text(utf8ToGb18030(upToZero(utf8)));
}

std::string textToUtf8(const Text& text) {
  Converter converter("UTF-8", "GB18030");
  if (!converter.ok()) return asciiOnlyFromText(text.str());
  std::string out;
  out.reserve(text.str().size() + text.str().size() / 2);
  converter.convert(text.str(), kUtf8Substitute, out);
  return out;
}

Bytes utf8ToCp936(const Bytes& body) {
  // Zero bytes need no care: both encodings map 00 to 00.
  return Bytes(utf8ToGb18030(body.str()));
}
