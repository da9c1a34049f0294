// The text operations that take positions and counts, with positions and
// counts drawn from the input (the ends of the 32-bit range included), checked
// against plain character walks and against what their results must satisfy.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "text/markers.h"

using fuzz_check::isLead;
using fuzz_check::isSubstring;

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// A position or count: the ends of the range, the text's own ends, or anything.
std::int32_t pickInt(FuzzedDataProvider& in, std::int32_t length) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return in.PickValueInArray({kMin, kMin + 1, -2, -1, 0, 1, 2, kMax - 1, kMax});
    case 1:
      return length + in.ConsumeIntegralInRange(-2, 2);
    case 2:
      return in.ConsumeIntegralInRange(-3, length + 3);
    default:
      return in.ConsumeIntegral<std::int32_t>();
  }
}

Text pickText(FuzzedDataProvider& in) {
  return Text(in.ConsumeRandomLengthString());
}

char fold(char c, bool ignoreCase) {
  return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
}

bool matchesAt(std::string_view t, std::size_t i, std::string_view p, bool ignoreCase) {
  if (t.size() - i < p.size()) return false;
  for (std::size_t k = 0; k < p.size(); ++k) {
    if (fold(t[i + k], ignoreCase) != fold(p[k], ignoreCase)) return false;
  }
  return true;
}

// The search as a plain walk: every character start from the skip on.
std::int32_t walkFind(std::string_view t, std::string_view p, std::int64_t start, bool ignoreCase) {
  const std::int64_t skip = start > 1 ? start - 1 : 0;
  if (skip >= static_cast<std::int64_t>(t.size())) return -1;
  if (p.empty()) return 1;
  for (auto i = static_cast<std::size_t>(skip); i < t.size(); i += isLead(t[i]) ? 2 : 1) {
    if (matchesAt(t, i, p, ignoreCase)) return static_cast<std::int32_t>(i + 1);
  }
  return -1;
}

std::int32_t walkFindLast(std::string_view t, std::string_view p, bool ignoreCase) {
  if (t.empty()) return -1;
  if (p.empty()) return 1;
  std::int32_t last = -1;
  for (std::size_t i = 0; i < t.size(); i += isLead(t[i]) ? 2 : 1) {
    if (matchesAt(t, i, p, ignoreCase)) last = static_cast<std::int32_t>(i + 1);
  }
  return last;
}

std::string walkReplace(std::string_view t, std::string_view s, std::string_view r,
                        bool ignoreCase) {
  if (t.empty() || s.empty()) return std::string(t);
  std::string out;
  std::size_t i = 0;
  while (i < t.size()) {
    if (t.size() - i < s.size()) {
      out += t.substr(i);
      break;
    }
    if (matchesAt(t, i, s, ignoreCase)) {
      out += r;
      i += s.size();
    } else if (isLead(t[i])) {
      if (i + 1 == t.size()) break;  // a lone lead byte is dropped
      out += t.substr(i, 2);
      i += 2;
    } else {
      out += t[i++];
    }
  }
  return out;
}

// The passes of nthTextBetween one by one, for a count small enough to walk.
Text walkNthBetween(const Text& from, const Text& to, const Text& text, std::int32_t occurrence,
                    std::int32_t start) {
  Text s;
  const std::int64_t length = textLength(from);
  for (std::int32_t k = 0; k < (occurrence == 0 ? 1 : occurrence); ++k) {
    const std::int64_t b = findText(text, from, start, 1);
    const std::int64_t e = findText(text, to, static_cast<std::int32_t>(b), 1);
    const std::int64_t mid = b + length;
    const std::int64_t count = e - b - length;
    s = textMid(text, mid > kMax ? kMax : static_cast<std::int32_t>(mid),
                count < kMin ? kMin : static_cast<std::int32_t>(count));
    start = static_cast<std::int32_t>(e);
  }
  return trimText(s);
}

void checkSearches(FuzzedDataProvider& in, const Text& text, const Text& pattern) {
  const std::string_view t = text.str();
  const std::string_view p = pattern.str();
  const std::int32_t start = pickInt(in, textLength(text));
  const std::int32_t ignoreCase = in.PickValueInArray({0, 1, 2, -1});
  FUZZ_CHECK(findText(text, pattern, start, ignoreCase) == walkFind(t, p, start, ignoreCase == 1));
  FUZZ_CHECK(findLastText(text, pattern, ignoreCase) == walkFindLast(t, p, ignoreCase == 1));
}

void checkCuts(FuzzedDataProvider& in, const Text& text) {
  const std::string_view t = text.str();
  const auto length = static_cast<std::int64_t>(t.size());
  const std::int32_t n = pickInt(in, textLength(text));
  const std::int64_t kept = n <= 0 ? 0 : (n > length ? length : n);
  FUZZ_CHECK(textLeft(text, n).str() == t.substr(0, static_cast<std::size_t>(kept)));
  FUZZ_CHECK(textRight(text, n).str() == t.substr(static_cast<std::size_t>(length - kept)));

  const std::int32_t start = pickInt(in, textLength(text));
  const std::string mid = textMid(text, start, n).str();
  if (start < 1 || start > length || n <= 0) {
    FUZZ_CHECK(mid.empty());
  } else {
    const std::int64_t rest = length - start + 1;
    FUZZ_CHECK(static_cast<std::int64_t>(mid.size()) == (n < rest ? n : rest));
    FUZZ_CHECK(t.compare(static_cast<std::size_t>(start - 1), mid.size(), mid) == 0);
  }
}

void checkReplaceAndSplit(FuzzedDataProvider& in, const Text& text, const Text& pattern) {
  const std::string_view t = text.str();
  const Text replacement = pickText(in);
  const std::int32_t caseSensitive = in.PickValueInArray({0, 1, 2, -1});
  FUZZ_CHECK(replaceText(text, pattern, replacement, caseSensitive).str() ==
             walkReplace(t, pattern.str(), replacement.str(), caseSensitive == 0));

  const TextArray parts = splitText(text, pattern);
  if (text.empty()) {
    FUZZ_CHECK(parts.empty());
    return;
  }
  if (pattern.empty()) {
    FUZZ_CHECK(parts.size() == 1 && parts[0] == text);
    return;
  }
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    // Each piece starts at a character start, so its own walk sees no delimiter.
    FUZZ_CHECK(findText(parts[i], pattern, 0, 0) == -1);
    if (i > 0) joined += pattern.str();
    joined += parts[i].str();
  }
  // Joined by the delimiter, the pieces give the text back, less a delimiter
  // at its very end.
  FUZZ_CHECK(joined == t || joined + pattern.str() == t);
}

void checkTrimAndNumber(FuzzedDataProvider& in, const Text& text) {
  const Text trimmed = trimText(text);
  const std::string_view r = trimmed.str();
  FUZZ_CHECK(isSubstring(trimmed, text));
  FUZZ_CHECK(r.empty() || (r[0] != ' ' && r.substr(0, 2) != "\xA1\xA1"));

  // A number written out reads back as itself, also in full-width digits and
  // with anything but a digit after it.
  const std::int32_t value = in.ConsumeIntegral<std::int32_t>();
  const Text written = numberToText(value);
  FUZZ_CHECK(textToInt(written) == value);
  std::string wide;
  for (char c : written.str()) {
    wide += '\xA3';
    wide += static_cast<char>(c + 0x80);
  }
  FUZZ_CHECK(textToInt(Text(wide)) == value);
  const std::string_view tail = text.str();
  if (tail.empty() || (!isLead(tail[0]) && !(tail[0] >= '0' && tail[0] <= '9')))
    FUZZ_CHECK(textToInt(concatText(written, text)) == value);
  static_cast<void>(textToInt(text));
}

void checkMarkers(FuzzedDataProvider& in, const Text& text, const Text& from, const Text& to) {
  const std::int32_t start = pickInt(in, textLength(text));
  const std::int32_t caseSensitive = in.PickValueInArray({0, 1, 2, 3, -1, kMin});
  const Text between = textBetween(text, from, to, start, caseSensitive);
  FUZZ_CHECK(isSubstring(between, text));

  const std::int32_t occurrence = pickInt(in, textLength(text));
  const Text nth = nthTextBetween(from, to, text, occurrence, start);
  FUZZ_CHECK(isSubstring(nth, text));
  if (occurrence < 0)
    FUZZ_CHECK(nth.empty());
  else if (occurrence <= 200)
    FUZZ_CHECK(nth == walkNthBetween(from, to, text, occurrence, start));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const Text pattern = pickText(in);
  const Text marker = pickText(in);
  const Text text = pickText(in);
  checkSearches(in, text, pattern);
  checkCuts(in, text);
  checkReplaceAndSplit(in, text, pattern);
  checkTrimAndNumber(in, text);
  checkMarkers(in, text, pattern, marker);
  return 0;
}
