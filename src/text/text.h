// Text and byte values and the operations the rest of the program is written in.
//
// A Text is a byte string in code page 936 (GBK) that never holds a zero byte;
// the empty and the absent text are one value. Bytes carries its own length and
// may hold any byte. Positions are 1-based byte positions, lengths and counts are
// signed 32-bit byte counts, and a search that finds nothing yields -1.
//
// Character-aware operations step through a text by characters: a byte below 0x80
// is a character by itself, a byte of 0x80 or above starts a two-byte character
// whatever follows it, and a lead byte at the very end is a lone lead byte. They
// never match starting on the second byte of a character. textLeft, textRight,
// textMid and findBytes count plain bytes.
//
// Every function here is pure, reentrant and safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Text {
 public:
  Text() = default;
  // Takes the bytes up to, not including, the first zero byte.
  explicit Text(std::string_view bytes);
  explicit Text(std::string&& bytes);
  // A C string; a null pointer is the empty text.
  explicit Text(const char* bytes) : Text(std::string_view(bytes ? bytes : "")) {}

  [[nodiscard]] const std::string& str() const noexcept { return bytes_; }
  [[nodiscard]] const char* c_str() const noexcept { return bytes_.c_str(); }
  [[nodiscard]] bool empty() const noexcept { return bytes_.empty(); }

  friend bool operator==(const Text&, const Text&) = default;

 private:
  std::string bytes_;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view bytes) : bytes_(bytes) {}
  explicit Bytes(std::string&& bytes) noexcept : bytes_(std::move(bytes)) {}
  // A C string up to its terminating zero; a null pointer is the empty string.
  explicit Bytes(const char* bytes) : bytes_(bytes ? bytes : "") {}

  [[nodiscard]] const std::string& str() const noexcept { return bytes_; }
  [[nodiscard]] std::string& str() noexcept { return bytes_; }
  [[nodiscard]] const char* data() const noexcept { return bytes_.data(); }
  [[nodiscard]] bool empty() const noexcept { return bytes_.empty(); }

  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string bytes_;
};

// Arrays are plain vectors; the program's 1-based element i is element i - 1.
using TextArray = std::vector<Text>;

// --- Texts ---------------------------------------------------------------

[[nodiscard]] std::int32_t textLength(const Text& text);
// Unsigned byte comparison: -1, 0 or 1; a proper prefix is the smaller.
[[nodiscard]] std::int32_t compareText(const Text& a, const Text& b);
[[nodiscard]] Text concatText(const Text& a, const Text& b, const Text& c = Text(),
                              const Text& d = Text());

// Character-aware forward search from position max(start - 1, 0) + 1 (so start
// 0, 1 and negative all search from the first byte). ignoreCase == 1 folds the
// ASCII letters A-Z on both sides; any other value compares exactly. An empty
// pattern yields 1 when the searched part is not empty, else -1.
[[nodiscard]] std::int32_t findText(const Text& text, const Text& pattern, std::int32_t start = 0,
                                    std::int32_t ignoreCase = 0);
// Position of the last (possibly overlapping) match of the same walk, -1 if none.
[[nodiscard]] std::int32_t findLastText(const Text& text, const Text& pattern,
                                        std::int32_t ignoreCase = 0);

// Plain byte cuts; counts at most 0 give the empty text, counts past the end the
// whole rest. textMid with start below 1 or past the end gives the empty text.
[[nodiscard]] Text textLeft(const Text& text, std::int32_t n);
[[nodiscard]] Text textRight(const Text& text, std::int32_t n);
[[nodiscard]] Text textMid(const Text& text, std::int32_t start, std::int32_t n);

// Character-aware replacement of every non-overlapping occurrence, left to
// right; the inserted text is never scanned again. caseSensitive == 0 folds
// A-Z; any other value compares exactly (the opposite sense of findText's flag).
// A lone lead byte reached by the walk is dropped.
[[nodiscard]] Text replaceText(const Text& text, const Text& search,
                               const Text& replacement = Text(), std::int32_t caseSensitive = 1);

// Character-aware cutting at every exact occurrence of the delimiter. The empty
// text gives no elements, an empty delimiter one element (the whole text); a
// delimiter at the start gives an empty first element, one at the end no empty
// last element.
[[nodiscard]] TextArray splitText(const Text& text, const Text& delimiter);

// Spaces are 0x20 and the full-width space A1 A1, nothing else.
[[nodiscard]] Text trimText(const Text& text);
[[nodiscard]] Text removeSpaces(const Text& text);
// A-Z to a-z in single-byte characters only.
[[nodiscard]] Text toLowerText(const Text& text);
// n bytes 0x20; the empty text for n at most 0.
[[nodiscard]] Text blankText(std::int32_t n);
// The one-byte text of c; the empty text for 0.
[[nodiscard]] Text charFromCode(std::uint8_t c);

// --- Numbers and conversions ----------------------------------------------

// Full-width forms folded to ASCII, leading white space skipped, an optional
// sign, decimal digits in 32-bit arithmetic that wraps; no digits give 0.
[[nodiscard]] std::int32_t textToInt(const Text& text);
[[nodiscard]] Text numberToText(std::int32_t value);
// The bytes up to the first zero byte.
[[nodiscard]] Text bytesToText(const Bytes& bytes);
[[nodiscard]] Bytes textToBytes(const Text& text);
// Decimal rounding, halves away from zero, with a nudge of 1e-12. places below
// 1 round to whole numbers; a scale beyond the double range returns x.
[[nodiscard]] double roundNumber(double x, std::int32_t places);
// Toward zero. NaN and values outside the 32-bit range give INT32_MIN, as the
// processor's own conversion does.
[[nodiscard]] std::int32_t truncToInt(double x);
[[nodiscard]] std::int32_t bitOr(std::int32_t a, std::int32_t b);

// --- Byte strings ----------------------------------------------------------

[[nodiscard]] std::int32_t bytesLength(const Bytes& bytes);
[[nodiscard]] Bytes bytesLeft(const Bytes& bytes, std::int32_t n);
// n zero bytes; empty for n at most 0.
[[nodiscard]] Bytes blankBytes(std::int32_t n);
// Exact search at any byte offset; an empty pattern yields -1.
[[nodiscard]] std::int32_t findBytes(const Bytes& data, const Bytes& pattern);
[[nodiscard]] Bytes concatBytes(const Bytes& a, const Bytes& b);
[[nodiscard]] bool bytesEqual(const Bytes& a, const Bytes& b);

// --- Arrays ----------------------------------------------------------------

template <typename T>
[[nodiscard]] std::int32_t arraySize(const std::vector<T>& array) {
  return static_cast<std::int32_t>(array.size());
}
