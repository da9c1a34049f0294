#include "text/text.h"

#include <string.h>  // memmem
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool isLead(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

char foldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

std::int32_t clampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t positionOf(std::size_t offset) {
  return clampToInt32(static_cast<std::int64_t>(offset) + 1);
}

bool isFullWidthSpace(std::string_view s, std::size_t i) {
  return i + 1 < s.size() && static_cast<unsigned char>(s[i]) == 0xA1 &&
         static_cast<unsigned char>(s[i + 1]) == 0xA1;
}

// Finds the pattern only where the character walk starts a character. The byte
// scan is Knuth-Morris-Pratt, so no input makes it quadratic; the walk that
// decides which offsets start a character only ever moves forward.
class CharSearch {
 public:
  CharSearch(std::string_view text, std::string_view pattern, bool foldAsciiCase)
      : text_(text), fold_(foldAsciiCase) {
    const std::size_t m = pattern.size();
    if (m > kInline) {
      heapPattern_.resize(m);
      heapFail_.resize(m);
    }
    pattern_ = m > kInline ? heapPattern_.data() : inlinePattern_.data();
    fail_ = m > kInline ? heapFail_.data() : inlineFail_.data();
    patternSize_ = m;
    for (std::size_t i = 0; i < m; ++i)
      pattern_[i] = fold_ ? foldCase(pattern[i]) : pattern[i];
    if (m > 0) fail_[0] = 0;
    std::size_t k = 0;
    for (std::size_t i = 1; i < m; ++i) {
      while (k > 0 && pattern_[i] != pattern_[k])
        k = fail_[k - 1];
      if (pattern_[i] == pattern_[k]) ++k;
      fail_[i] = k;
    }
  }
  CharSearch(const CharSearch&) = delete;
  CharSearch& operator=(const CharSearch&) = delete;

  // Continues the scan at pos, which the walk takes as a character start.
  void restartAt(std::size_t pos) {
    scan_ = pos;
    walk_ = pos;
    matched_ = 0;
  }

  // The offset of the next match at a character start, overlapping the previous
  // one if it does; kNone when there is none up to the end.
  std::size_t next() {
    const std::size_t n = text_.size();
    const std::size_t m = patternSize_;
    if (m == 0) return kNone;
    while (scan_ < n) {
      if (matched_ == 0) {
        scan_ = skipToFirstByte(scan_);
        if (scan_ >= n) break;
      }
      const char c = fold_ ? foldCase(text_[scan_]) : text_[scan_];
      while (matched_ > 0 && c != pattern_[matched_])
        matched_ = fail_[matched_ - 1];
      if (c == pattern_[matched_]) ++matched_;
      ++scan_;
      if (matched_ == m) {
        matched_ = fail_[m - 1];
        const std::size_t start = scan_ - m;
        if (isCharStart(start)) return start;
      }
    }
    scan_ = n;
    return kNone;
  }

  // Whether the walk puts a character start at pos; pos never goes backwards
  // between calls.
  bool isCharStart(std::size_t pos) {
    while (walk_ < pos)
      walk_ += isLead(text_[walk_]) ? 2 : 1;
    return walk_ == pos;
  }

 private:
  static constexpr std::size_t kInline = 64;

  std::size_t skipToFirstByte(std::size_t from) const {
    const std::size_t n = text_.size();
    const char first = pattern_[0];
    if (fold_ && first >= 'a' && first <= 'z') {
      const char upper = static_cast<char>(first - 0x20);
      while (from < n && text_[from] != first && text_[from] != upper)
        ++from;
      return from;
    }
    const void* hit = std::memchr(text_.data() + from, first, n - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : n;
  }

  std::string_view text_;
  bool fold_;
  std::size_t scan_ = 0;
  std::size_t walk_ = 0;
  std::size_t matched_ = 0;
  std::size_t patternSize_ = 0;
  char* pattern_ = nullptr;
  std::size_t* fail_ = nullptr;
  std::array<char, kInline> inlinePattern_;  // only the first patternSize_ are read
  std::array<std::size_t, kInline> inlineFail_;
  std::string heapPattern_;
  std::vector<std::size_t> heapFail_;
};

}  // namespace

Text::Text(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find('\0'))) {}

Text::Text(std::string&& bytes) : bytes_(std::move(bytes)) {
  const std::size_t zero = bytes_.find('\0');
  if (zero != std::string::npos) bytes_.resize(zero);
}

std::int32_t textLength(const Text& text) {
  return clampToInt32(static_cast<std::int64_t>(text.str().size()));
}

std::int32_t compareText(const Text& a, const Text& b) {
  const std::string& x = a.str();
  const std::string& y = b.str();
  const std::size_t common = std::min(x.size(), y.size());
  const int c = common == 0 ? 0 : std::memcmp(x.data(), y.data(), common);
  if (c != 0) return c < 0 ? -1 : 1;
  if (x.size() == y.size()) return 0;
  return x.size() < y.size() ? -1 : 1;
}

Text concatText(const Text& a, const Text& b, const Text& c, const Text& d) {
  std::string out;
  out.reserve(a.str().size() + b.str().size() + c.str().size() + d.str().size());
  out += a.str();
  out += b.str();
  out += c.str();
  out += d.str();
  return Text(std::move(out));
}

std::int32_t findText(const Text& text, const Text& pattern, std::int32_t start,
                      std::int32_t ignoreCase) {
  const std::string_view t = text.str();
  const std::int64_t skip = std::max<std::int64_t>(static_cast<std::int64_t>(start) - 1, 0);
  if (skip >= static_cast<std::int64_t>(t.size())) return -1;
  if (pattern.empty()) return 1;
  CharSearch search(t, pattern.str(), ignoreCase == 1);
  search.restartAt(static_cast<std::size_t>(skip));
  const std::size_t hit = search.next();
  return hit == kNone ? -1 : positionOf(hit);
}

std::int32_t findLastText(const Text& text, const Text& pattern, std::int32_t ignoreCase) {
  if (text.empty()) return -1;
  if (pattern.empty()) return 1;
  CharSearch search(text.str(), pattern.str(), ignoreCase == 1);
  search.restartAt(0);
  std::size_t last = kNone;
  for (std::size_t hit = search.next(); hit != kNone; hit = search.next())
    last = hit;
  return last == kNone ? -1 : positionOf(last);
}

Text textLeft(const Text& text, std::int32_t n) {
  if (n <= 0) return Text();
  return Text(std::string_view(text.str()).substr(0, static_cast<std::size_t>(n)));
}

Text textRight(const Text& text, std::int32_t n) {
  if (n <= 0) return Text();
  const std::string_view t = text.str();
  const std::size_t count = std::min(t.size(), static_cast<std::size_t>(n));
  return Text(t.substr(t.size() - count));
}

Text textMid(const Text& text, std::int32_t start, std::int32_t n) {
  const std::string_view t = text.str();
  if (start < 1 || static_cast<std::size_t>(start) > t.size() || n <= 0) return Text();
  return Text(t.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

Text replaceText(const Text& text, const Text& search, const Text& replacement,
                 std::int32_t caseSensitive) {
  if (text.empty() || search.empty()) return text;
  const std::string_view t = text.str();
  const std::size_t p = search.str().size();
  CharSearch scan(t, search.str(), caseSensitive == 0);
  scan.restartAt(0);
  std::string out;
  out.reserve(t.size());
  std::size_t piece = 0;
  for (std::size_t hit = scan.next(); hit != kNone; hit = scan.next()) {
    out.append(t.substr(piece, hit - piece));
    out += replacement.str();
    piece = hit + p;
    scan.restartAt(piece);
  }
  std::size_t end = t.size();
  // With a one-byte search text the walk reaches a lone lead byte at the end
  // and drops it; a longer one stops before it and keeps the rest as it is.
  if (p == 1 && piece < end && isLead(t[end - 1]) && scan.isCharStart(end - 1)) --end;
  out.append(t.substr(piece, end - piece));
  return Text(std::move(out));
}

TextArray splitText(const Text& text, const Text& delimiter) {
  TextArray parts;
  if (text.empty()) return parts;
  if (delimiter.empty()) {
    parts.push_back(text);
    return parts;
  }
  const std::string_view t = text.str();
  const std::size_t d = delimiter.str().size();
  CharSearch scan(t, delimiter.str(), false);
  scan.restartAt(0);
  std::size_t piece = 0;
  for (std::size_t hit = scan.next(); hit != kNone; hit = scan.next()) {
    parts.emplace_back(t.substr(piece, hit - piece));
    piece = hit + d;
    scan.restartAt(piece);
  }
  if (piece < t.size()) parts.emplace_back(t.substr(piece));
  return parts;
}

Text trimText(const Text& text) {
  const std::string_view t = text.str();
  const std::size_t n = t.size();
  std::size_t begin = 0;
  while (begin < n) {
    if (t[begin] == ' ')
      begin += 1;
    else if (isFullWidthSpace(t, begin))
      begin += 2;
    else
      break;
  }
  std::size_t end = n;
  std::size_t runStart = kNone;
  std::size_t i = begin;
  while (i < n) {
    if (t[i] == ' ' || isFullWidthSpace(t, i)) {
      if (runStart == kNone) runStart = i;
      i += t[i] == ' ' ? 1 : 2;
    } else if (isLead(t[i]) && i + 1 == n) {
      // A lone lead byte goes, the spaces before it stay.
      runStart = i;
      i += 1;
    } else {
      runStart = kNone;
      i += isLead(t[i]) ? 2 : 1;
    }
  }
  if (runStart != kNone) end = runStart;
  return Text(t.substr(begin, end - begin));
}

Text removeSpaces(const Text& text) {
  const std::string_view t = text.str();
  std::string out;
  out.reserve(t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    if (t[i] == ' ') {
      i += 1;
    } else if (!isLead(t[i])) {
      out += t[i++];
    } else if (i + 1 == t.size()) {
      break;  // a lone lead byte is dropped
    } else {
      if (!isFullWidthSpace(t, i)) out.append(t.substr(i, 2));
      i += 2;
    }
  }
  return Text(std::move(out));
}

Text toLowerText(const Text& text) {
  std::string out = text.str();
  std::size_t i = 0;
  while (i < out.size()) {
    if (isLead(out[i])) {
      i += 2;
    } else {
      out[i] = foldCase(out[i]);
      i += 1;
    }
  }
  return Text(std::move(out));
}

Text blankText(std::int32_t n) {
  if (n <= 0) return Text();
  return Text(std::string(static_cast<std::size_t>(n), ' '));
}

Text charFromCode(std::uint8_t c) {
  if (c == 0) return Text();
  return Text(std::string(1, static_cast<char>(c)));
}

std::int32_t textToInt(const Text& text) {
  const std::string_view t = text.str();
  enum class Phase { kSpace, kDigits } phase = Phase::kSpace;
  bool negative = false;
  std::uint32_t value = 0;
  std::size_t i = 0;
  while (i < t.size()) {
    char c = t[i];
    if (isLead(c)) {
      if (i + 1 == t.size()) break;  // a lone lead byte is dropped, and nothing follows it
      const auto lead = static_cast<unsigned char>(c);
      const auto trail = static_cast<unsigned char>(t[i + 1]);
      if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
        c = static_cast<char>(trail - 0x80);
      else if (lead == 0xA1 && trail == 0xA1)
        c = ' ';
      else if (lead == 0xA1 && trail == 0xAB)
        c = '~';
      else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF))
        c = '*';
      else
        break;  // any other double-byte character ends the number
      i += 2;
    } else {
      i += 1;
    }
    if (phase == Phase::kSpace) {
      if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
      phase = Phase::kDigits;
      if (c == '+' || c == '-') {
        negative = c == '-';
        continue;
      }
    }
    if (c < '0' || c > '9') break;
    value = value * 10U + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) value = 0U - value;
  return static_cast<std::int32_t>(value);
}

Text numberToText(std::int32_t value) {
  std::array<char, 16> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return Text(
      std::string_view(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())));
}

Text bytesToText(const Bytes& bytes) {
  return Text(std::string_view(bytes.str()));
}

Bytes textToBytes(const Text& text) {
  return Bytes(text.str());
}

double roundNumber(double x, std::int32_t places) {
  if (x == 0) return x;
  const double m = std::fabs(x);
  const double scale = places >= 1 ? std::pow(10.0, places) : 1.0;
  double y = m * scale;
  // A scale past the double range would turn every value into NaN.
  if (!std::isfinite(y)) return x;
  y = y + 1e-12;
  const double i = std::trunc(y);
  const double f = y - i;
  const double r = f >= 0.5 ? i + 1 : i;
  const double result = r / scale;
  return x < 0 ? -result : result;
}

std::int32_t truncToInt(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

std::int32_t bitOr(std::int32_t a, std::int32_t b) {
  return a | b;
}

std::int32_t bytesLength(const Bytes& bytes) {
  return clampToInt32(static_cast<std::int64_t>(bytes.str().size()));
}

Bytes bytesLeft(const Bytes& bytes, std::int32_t n) {
  if (n <= 0) return Bytes();
  return Bytes(std::string_view(bytes.str()).substr(0, static_cast<std::size_t>(n)));
}

Bytes blankBytes(std::int32_t n) {
  if (n <= 0) return Bytes();
  return Bytes(std::string(static_cast<std::size_t>(n), '\0'));
}

std::int32_t findBytes(const Bytes& data, const Bytes& pattern) {
  if (pattern.empty() || pattern.str().size() > data.str().size()) return -1;
  // glibc's memmem is linear in the worst case, unlike string_view::find.
  const void* hit = memmem(data.data(), data.str().size(), pattern.data(), pattern.str().size());
  if (hit == nullptr) return -1;
  return positionOf(static_cast<std::size_t>(static_cast<const char*>(hit) - data.data()));
}

Bytes concatBytes(const Bytes& a, const Bytes& b) {
  std::string out;
  out.reserve(a.str().size() + b.str().size());
  out += a.str();
  out += b.str();
  return Bytes(std::move(out));
}

bool bytesEqual(const Bytes& a, const Bytes& b) {
  return a.str() == b.str();
}
