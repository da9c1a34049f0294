// What the fuzz targets share: a check that aborts, so that libFuzzer keeps the
// input as a crash, and the code page 936 character walk that their invariants
// are stated in.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "text/text.h"

#define FUZZ_CHECK(condition)                                           \
  do {                                                                  \
    if (!(condition)) fuzz_check::fail(#condition, __FILE__, __LINE__); \
  } while (0)

namespace fuzz_check {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

inline bool isLead(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

// Calls visit(offset) for every character start of s from offset from on.
template <typename Visit>
void forEachCharStart(std::string_view s, std::size_t from, Visit&& visit) {
  for (std::size_t i = from; i < s.size(); i += isLead(s[i]) ? 2 : 1)
    visit(i);
}

// Whether a character start of s holds the single-byte character c.
inline bool hasSingleByteChar(std::string_view s, char c) {
  bool found = false;
  forEachCharStart(s, 0, [&](std::size_t i) { found = found || s[i] == c; });
  return found;
}

// Whether pattern starts at a character start of s (exact bytes).
inline bool hasAtCharStart(std::string_view s, std::string_view pattern) {
  bool found = false;
  forEachCharStart(s, 0,
                   [&](std::size_t i) { found = found || s.substr(i, pattern.size()) == pattern; });
  return found;
}

inline bool isSubstring(const Text& part, const Text& whole) {
  return whole.str().find(part.str()) != std::string::npos;
}

// The input as the program would hold it as a text: up to the first zero byte.
inline Text textOf(const std::uint8_t* data, std::size_t size) {
  return Text(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace fuzz_check
