// The encoding edge: conversions between Text (code page 936) and UTF-8.
//
// Conversions go through GB18030, which equals code page 936 for every character
// that code page has and loses none that it lacks. Invalid input never fails:
// each undecodable sequence becomes a substitute ("?" towards Text, U+FFFD
// towards UTF-8). All functions are safe to call from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/text.h"

[[nodiscard]] Text utf8ToText(std::string_view utf8);
[[nodiscard]] std::string textToUtf8(const Text& text);
// A UTF-8 body turned into code page 936 bytes; zero bytes pass through.
[[nodiscard]] Bytes utf8ToCp936(const Bytes& body);

namespace text_detail {
template <std::size_t N>
struct Utf8Literal {
  consteval Utf8Literal(const char (&s)[N]) {  // NOLINT: implicit by design
    for (std::size_t i = 0; i < N; ++i)
      chars[i] = s[i];
  }
  char chars[N]{};
};
}  // namespace text_detail

// "开始下载"_t: a UTF-8 source literal as a Text, converted once and cached.
template <text_detail::Utf8Literal L>
const Text& operator""_t() {
  static const Text converted = utf8ToText(std::string_view(L.chars, sizeof(L.chars) - 1));
  return converted;
}
